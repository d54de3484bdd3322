// Plumbing shared by the view engine kinds: the operations tables behind ViewHandle, and the
// adapters that turn an engine's member functions into table slots.
#ifndef MZ_VIEW_VIEW_ENGINE_H
#define MZ_VIEW_VIEW_ENGINE_H

#include <cstdlib>
#include <exception>
#include <new>

#include "mz/mztypes.h"

namespace mz {

// Operations tables of the kinds built so far (static data of the library).
extern const ViewOps kSingleviewOps;
extern const ViewOps kTopviewOps;
extern const ViewOps kBowlview1Ops;
extern const ViewOps kBowlview2Ops;

// A slot holds an untyped function pointer; each exported wrapper casts it back to the slot's own
// type (void (*)(void) converts to and from every function pointer type).
template <class Fn>
MzViewOpFn toSlot(Fn fn) {
    return reinterpret_cast<MzViewOpFn>(fn);
}

template <class Fn>
Fn fromSlot(MzViewOpFn fn) {
    return reinterpret_cast<Fn>(fn);
}

// Create slot of kind E: the handle record comes from malloc, the engine from new. An engine that
// cannot be allocated leaves a handle with a null engine, on which every operation reports -1.
template <class E>
ViewHandle createView(const ViewOps* ops) {
    auto* handle = static_cast<ViewHandleRec*>(std::malloc(sizeof(ViewHandleRec)));
    if (handle == nullptr) return nullptr;
    handle->ops = ops;
    handle->engine = new (std::nothrow) E();
    return handle;
}

template <class E>
int releaseView(ViewHandle handle) {
    delete static_cast<E*>(handle->engine);
    std::free(handle);
    return 0;
}

// Tables are addressed with int lengths (4 bytes per pixel): larger views are refused.
inline bool viewSizeFits(int width, int height) {
    return width > 0 && height > 0 && static_cast<long long>(width) * height <= 0x7FFFFFFF / 4;
}

// Slot adapter for a member operation: -1 without an engine, else 0 whatever the operation did.
// Running out of memory (or a size the library cannot hold) inside an operation is reported as -1
// too: nothing may unwind into C.
template <class E, auto Member, class... Args>
int viewOp(ViewHandle handle, Args... args) {
    auto* engine = static_cast<E*>(handle->engine);
    if (engine == nullptr) return -1;
    try {
        (engine->*Member)(args...);
    } catch (const std::exception&) {
        return -1;
    }
    return 0;
}

}  // namespace mz

#endif
