// The calibration handle and the six exported functions.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstring>
#include <new>

#include "calib/calib_state.h"
#include "calib/camera_solver.h"
#include "calib/lens_table.h"
#include "calib/rig_assembly.h"
#include "geometry/camera_pose.h"
#include "mz/mzcalib.h"

namespace mz::calib {
namespace {

constexpr int32_t kBadHandle = -1;
constexpr int32_t kBadPoints = -5;
constexpr int32_t kNotSupported = -9;
constexpr int kSideHeightOffset = 2;
constexpr int kRotation = 4;

// Picture positions the cameras hold until the first apply.
constexpr Point2F kInitialPoints[kPointCount] = {{150, 290}, {200, 190}, {100, 190},
                                                 {570, 290}, {620, 190}, {520, 190}};

CalibState* createState() { return new (std::nothrow) CalibState{}; }

int32_t initState(CalibHandle* handle, int32_t shape, int32_t size, int32_t reserved) {
    if (handle == nullptr || handle->state == nullptr) return kBadHandle;
    CalibState& state = *handle->state;
    resetRegistry(state);
    state.mode = 0;
    std::fill(std::begin(state.adjust), std::end(state.adjust), 0.0f);
    state.reserved = reserved;
    for (int k = 0; k < kCameraCount; ++k) {
        CalibCamera& camera = state.cameras[k];
        camera = CalibCamera{};
        std::copy(std::begin(kInitialPoints), std::end(kInitialPoints), camera.imagePoints);
        const LensTable* found = lookupLens(state, kBuiltInLensName);
        if (found != nullptr) {
            copyLens(*found, state.cameraTables[k], state.cameraRows[k]);
            camera.lens = &state.cameraTables[k];
        }
        camera.cx = 360.0f;
        camera.cy = 240.0f;
        camera.scaleX = 1.0f;
        camera.scaleY = 1.0f;
        setKnownDistances(camera.knownDistance, shape & 0xFF, static_cast<float>(size));
    }
    return 0;
}

// A record must never receive NaN or infinity: the view engines build their tables from it.
float finiteOrZero(float v) { return std::isfinite(v) ? v : 0.0f; }

int32_t applyState(CalibHandle* handle, CameraParam* records, const CalibAdjust* adjust) {
    if (handle == nullptr || handle->state == nullptr) return kBadHandle;
    if (records == nullptr) return kBadPoints;
    for (int k = 0; k < kCameraCount; ++k) {
        const CameraParam& record = records[k];
        if (record.pointCount != kPointCount || record.imagePoints == nullptr || record.worldPoints == nullptr) {
            return kBadPoints;
        }
    }
    CalibState& state = *handle->state;
    CalibCamera(&cameras)[kCameraCount] = state.cameras;
    for (int k = 0; k < kCameraCount; ++k) {
        std::copy(records[k].imagePoints, records[k].imagePoints + kPointCount, cameras[k].imagePoints);
    }
    for (int k = 0; k < kCameraCount; ++k) {
        CalibCamera& camera = cameras[k];
        camera.cx = records[k].cx;
        camera.cy = records[k].cy;
        camera.scaleX = 1.0f;
        camera.scaleY = 1.0f;
        if (camera.lens != nullptr) lensFromCamera(*camera.lens, records[k]);
    }

    float rotation = 0.0f;
    if (adjust != nullptr) {
        const float values[6] = {adjust->shiftX,  adjust->shiftY,   adjust->sideHeightOffset,
                                 adjust->unused3, adjust->rotation, adjust->unused5};
        std::copy(values, values + 6, state.adjust);
        rotation = state.adjust[kRotation];
    }

    int worst = 0;
    float worstResidual = 0.0f;
    for (int k = 0; k < kCameraCount; ++k) {
        const float residual = solveCamera(cameras[k], k);
        if (k == 0 || residual > worstResidual) {
            worst = k;
            worstResidual = residual;
        }
    }
    // The side height offset persists: an apply without adjustment still uses the last one.
    cameras[MZ_CAMERA_LEFT].height += state.adjust[kSideHeightOffset];
    cameras[MZ_CAMERA_RIGHT].height += state.adjust[kSideHeightOffset];

    const float residual = assemble(cameras);
    const int32_t result = residual > kMaxAssemblyResidual ? -1 - worst : 0;

    turnAndCentre(cameras, rotation);
    if (adjust != nullptr) {
        for (CalibCamera& camera : cameras) {
            camera.posX += adjust->shiftX;
            camera.posY += adjust->shiftY;
        }
    }

    for (int k = 0; k < kCameraCount; ++k) {
        const CalibCamera& camera = cameras[k];
        CameraParam& record = records[k];
        for (int j = 0; j < kPointCount; ++j) {
            const Point2F p = groundPoint(camera, camera.rays[j]);
            record.worldPoints[j] = {finiteOrZero(p.x), finiteOrZero(-p.y)};
        }
        PoseValues<float> pose = poseValues<float>(camera);
        for (float& v : pose) v = finiteOrZero(v);
        setPoseValues(record, pose);
    }
    return result;
}

int32_t getMarker(CalibHandle* handle) {
    if (handle == nullptr || handle->state == nullptr) return kBadHandle;
    return kNotSupported;
}

int32_t imageToWorld(CalibHandle* handle, const Point2F* pixel, Point2F* ground, int32_t camera) {
    if (handle == nullptr || handle->state == nullptr) return kBadHandle;
    if (camera < 0 || camera >= kCameraCount) return kBadHandle;
    if (pixel == nullptr || ground == nullptr) return kBadPoints;
    const CalibCamera& block = handle->state->cameras[camera];
    if (block.lens == nullptr) return kBadHandle;
    *ground = groundPoint(block, rayOfPoint(block, *pixel));
    return 0;
}

int32_t releaseState(CalibHandle* handle) {
    delete handle->state;
    handle->state = nullptr;
    delete handle;
    return 0;
}

constexpr CalibOps kDefaultOps = {createState, initState, applyState, getMarker, imageToWorld, releaseState};

// One kind so far; the table is indexed by the kind given to create.
constexpr const CalibOps* kKinds[] = {&kDefaultOps};

const CalibOps* opsOf(const CalibHandle* handle) { return handle == nullptr ? nullptr : handle->ops; }

}  // namespace
}  // namespace mz::calib

using mz::calib::opsOf;

extern "C" {

MZ_API CalibHandle* mzMultiCalibCreate(int32_t kind) {
    if (kind < 0 || kind >= static_cast<int32_t>(std::size(mz::calib::kKinds))) return nullptr;
    const CalibOps* ops = mz::calib::kKinds[kind];
    auto* handle = new (std::nothrow) CalibHandle{ops, nullptr};
    if (handle == nullptr) return nullptr;
    handle->state = ops->create();
    if (handle->state == nullptr) {
        delete handle;
        return nullptr;
    }
    return handle;
}

MZ_API int32_t mzMultiCalibInit(CalibHandle* handle, int32_t shape, int32_t size, int32_t reserved) {
    const CalibOps* ops = opsOf(handle);
    if (ops == nullptr || ops->init == nullptr) return -1;
    return ops->init(handle, shape, size, reserved);
}

MZ_API int32_t mzMultiCalibApply(CalibHandle* handle, CameraParam* cameras, const CalibAdjust* adjust) {
    const CalibOps* ops = opsOf(handle);
    if (ops == nullptr || ops->apply == nullptr) return -1;
    return ops->apply(handle, cameras, adjust);
}

MZ_API int32_t mzMultiCalibGetMarker(CalibHandle* handle) {
    const CalibOps* ops = opsOf(handle);
    if (ops == nullptr || ops->getMarker == nullptr) return -1;
    return ops->getMarker(handle);
}

MZ_API int32_t mzMultiCalibGetImage2World(CalibHandle* handle, const Point2F* pixel, Point2F* ground, int32_t camera) {
    const CalibOps* ops = opsOf(handle);
    if (ops == nullptr || ops->imageToWorld == nullptr) return -1;
    return ops->imageToWorld(handle, pixel, ground, camera);
}

MZ_API int32_t mzMultiCalibRelease(CalibHandle** handle) {
    if (handle == nullptr || *handle == nullptr) return 0;
    const CalibOps* ops = (*handle)->ops;
    if (ops == nullptr || ops->release == nullptr) return -1;
    const int32_t result = ops->release(*handle);
    *handle = nullptr;
    return result;
}

}  // extern "C"
