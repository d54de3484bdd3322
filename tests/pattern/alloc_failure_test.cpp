// Running out of memory in any working buffer: the entry point reports -1 and leaves the record
// as it was. The global allocation functions are replaced to fail the n-th request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "mz/mzpattern.h"
#include "testing/frame_picture.h"

namespace {
// Counts down while armed; the request that finds it at zero fails.
thread_local long tFailAfter = -1;
thread_local bool tFailed = false;
}  // namespace

// The replacements pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    if (tFailAfter == 0) {
        tFailed = true;
        throw std::bad_alloc();
    }
    if (tFailAfter > 0) {
        --tFailAfter;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace mztest {
namespace {

TEST(GetPatternIP, EveryAllocationFailureLeavesTheRecordUntouched) {
    const CameraParam cam = makeEquidistant(720, 480);
    FramePicture pic(cam);
    pic.drawFrame({Pixel{190.5, 410.25}, Pixel{120.25, 290.75}, Pixel{265.5, 300.5}});
    pic.drawFrame({Pixel{505.5, 400.5}, Pixel{470.25, 270.75}, Pixel{610.75, 330.25}});
    const auto rects = programRectangles(720, 480);
    int failures = 0;
    for (long n = 0;; ++n) {
        Record rec(cam);
        tFailed = false;
        tFailAfter = n;
        const int32_t result = mzGetPatternIP(pic.data(), &rec.camera, rects.data());
        const bool failed = tFailed;
        tFailAfter = -1;
        if (!failed) {
            EXPECT_EQ(result, 0);
            break;
        }
        ++failures;
        ASSERT_EQ(result, -1) << "allocation " << n;
        ASSERT_EQ(rec.camera.pointCount, 0);
        for (const Point2F& p : rec.image) ASSERT_EQ(p.x, -7.0f);
    }
    EXPECT_GT(failures, 10);
}

}  // namespace
}  // namespace mztest
