// The exported view API: kind tables, creation, forwarding to the operations table of a handle,
// and release.
#include "mz/mzview.h"
#include "view/view_engine.h"

namespace mz {
namespace {

const ViewOps* const kSingleviewKinds[1] = {&kSingleviewOps};
const ViewOps* const kMultiviewKinds[3] = {&kTopviewOps, &kBowlview1Ops, &kBowlview2Ops};

using CreateFn = ViewHandle (*)();

ViewHandle createKind(const ViewOps* ops) {
    if (ops == nullptr || ops->slot[MZ_OP_CREATE] == nullptr) return nullptr;
    return fromSlot<CreateFn>(ops->slot[MZ_OP_CREATE])();
}

// The slot of a live handle, or null when the handle, its table or the slot is missing.
template <class Fn>
Fn slotOf(ViewHandle handle, int index) {
    if (handle == nullptr || handle->ops == nullptr || handle->ops->slot[index] == nullptr) return nullptr;
    return fromSlot<Fn>(handle->ops->slot[index]);
}

template <class... Args>
int forward(ViewHandle handle, int index, Args... args) {
    auto fn = slotOf<int (*)(ViewHandle, Args...)>(handle, index);
    return fn == nullptr ? -1 : fn(handle, args...);
}

int release(ViewHandle* handle) {
    if (handle == nullptr || *handle == nullptr) return 0;
    auto fn = slotOf<int (*)(ViewHandle)>(*handle, MZ_OP_RELEASE);
    if (fn == nullptr) return -1;
    fn(*handle);
    *handle = nullptr;
    return 0;
}

}  // namespace
}  // namespace mz

using mz::forward;

extern "C" {

MZ_API ViewHandle mzSingleviewCreate(int index) {
    if (index != 0) return nullptr;
    return mz::createKind(mz::kSingleviewKinds[index]);
}

MZ_API int mzSingleviewInit(ViewHandle handle, SingleviewParam* param) { return forward(handle, MZ_OP_INIT, param); }

MZ_API int mzSingleviewApply(ViewHandle handle, const uint8_t* source, uint8_t* output) {
    return forward(handle, MZ_OP_APPLY, source, output);
}

MZ_API int mzSingleviewGetLUTLen(ViewHandle handle, int* length) { return forward(handle, MZ_OP_GET_LUT_LEN, length); }

MZ_API int mzSingleviewGetLUT(ViewHandle handle, void* buffer, int length) {
    return forward(handle, MZ_OP_GET_LUT, buffer, length);
}

MZ_API int mzSingleviewSaveLUT(ViewHandle handle, const char* path) { return forward(handle, MZ_OP_SAVE_LUT, path); }

MZ_API int mzSingleviewGetFOV(ViewHandle handle, float* horizontal, float* vertical) {
    auto fn = mz::slotOf<int (*)(ViewHandle, float*, float*)>(handle, MZ_SV_OP_GET_FOV);
    return fn == nullptr ? 0 : fn(handle, horizontal, vertical);
}

MZ_API int mzSingleviewGetMaskLen(ViewHandle handle, int* length, int referenceWidth) {
    return forward(handle, MZ_SV_OP_GET_MASK_LEN, length, referenceWidth);
}

MZ_API int mzSingleviewGetMask(ViewHandle handle, void* buffer, int length) {
    return forward(handle, MZ_SV_OP_GET_MASK, buffer, length);
}

MZ_API int mzSingleviewSetImage(ViewHandle handle, int width, int height, const uint8_t* image, int clear) {
    return forward(handle, MZ_SV_OP_SET_IMAGE, width, height, image, clear);
}

MZ_API int mzSingleviewSaveImage(ViewHandle handle, const char* path) {
    return forward(handle, MZ_SV_OP_SAVE_IMAGE, path);
}

MZ_API int mzSingleviewRelease(ViewHandle* handle) { return mz::release(handle); }

MZ_API ViewHandle mzMultiviewCreate(unsigned index) {
    if (index > 2) return nullptr;
    return mz::createKind(mz::kMultiviewKinds[index]);
}

MZ_API int mzMultiviewInit(ViewHandle handle, MultiviewParam* param) { return forward(handle, MZ_OP_INIT, param); }

MZ_API int mzMultiviewApply(ViewHandle handle, const uint8_t* front, const uint8_t* left, const uint8_t* right,
                            const uint8_t* rear, uint8_t* output) {
    return forward(handle, MZ_OP_APPLY, front, left, right, rear, output);
}

MZ_API int mzMultiviewGetLUTLen(ViewHandle handle, int* length, int camera) {
    return forward(handle, MZ_OP_GET_LUT_LEN, length, camera);
}

MZ_API int mzMultiviewGetLUT(ViewHandle handle, void* buffer, int length, int camera) {
    return forward(handle, MZ_OP_GET_LUT, buffer, length, camera);
}

MZ_API int mzMultiviewSaveLUT(ViewHandle handle, const char* path, int camera) {
    return forward(handle, MZ_OP_SAVE_LUT, path, camera);
}

MZ_API int mzMultiviewGetMaskLen(ViewHandle handle, int* length, int pixelFormat) {
    return forward(handle, MZ_MV_OP_GET_MASK_LEN, length, pixelFormat);
}

MZ_API int mzMultiviewGetMask(ViewHandle handle, void* buffer, int length, int pixelFormat) {
    return forward(handle, MZ_MV_OP_GET_MASK, buffer, length, pixelFormat);
}

MZ_API int mzMultiviewSetImage(ViewHandle handle, int width, int height, const uint8_t* image, unsigned mode, int x,
                               int y, int w, int h) {
    return forward(handle, MZ_MV_OP_SET_IMAGE, width, height, image, mode, x, y, w, h);
}

MZ_API int mzMultiviewSaveImage(ViewHandle handle, const char* path) {
    return forward(handle, MZ_MV_OP_SAVE_IMAGE, path);
}

MZ_API int mzMultiviewAdjustCameraPose(ViewHandle handle, MultiviewParam* param, const float* delta, int camera) {
    return forward(handle, MZ_MV_OP_ADJUST_CAMERA_POSE, param, delta, camera);
}

MZ_API int mzMultiviewRelease(ViewHandle* handle) { return mz::release(handle); }

MZ_API int mzCheckLUTSourceSize(int width, int height) {
    return width > 0 && height > 0 && width <= MZ_LUT_MAX_SOURCE_WIDTH && height <= MZ_LUT_MAX_SOURCE_HEIGHT ? 0 : -1;
}

}  // extern "C"
