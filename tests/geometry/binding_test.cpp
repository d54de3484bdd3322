// A program linked against both mzview and mzpattern: each library's own geometry calls must reach
// its own copy of the exported names. The two copies differ in the incidence-angle limit of the
// inverse lens mapping, and mzImageToWorld reaches that mapping through an internal call.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cmath>
#include <string>

#include "mz/mzgeometry.h"

namespace {

using ImageToWorldFn = Point3F (*)(Point2F, const CameraParam*, const Matrix*);

ImageToWorldFn imageToWorldOf(const char* soname) {
    void* lib = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
    if (!lib) return nullptr;
    auto fn = reinterpret_cast<ImageToWorldFn>(dlsym(lib, "mzImageToWorld"));
    dlclose(lib);
    return fn;
}

struct Fixture {
    CameraParam cam{};
    float v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    float* rows[3] = {v[0], v[1], v[2]};
    Matrix identity{rows, 3, 3};
    Point2F pixel{};

    Fixture() {
        cam.f = 100.0f;
        cam.fx = cam.fy = 200.0f;
        cam.cx = 360.0f;
        cam.cy = 240.0f;
        cam.c0 = 4870.1416f;  // above the limit, at every radius
        pixel = {cam.cx + cam.fx, cam.cy};
    }
};

TEST(LibraryBinding, EachLibraryCallsItsOwnLensMapping) {
    ImageToWorldFn viewFn = imageToWorldOf(MZ_VIEW_SONAME);
    ImageToWorldFn patternFn = imageToWorldOf(MZ_PATTERN_SONAME);
    ASSERT_NE(viewFn, nullptr);
    ASSERT_NE(patternFn, nullptr);
    ASSERT_NE(viewFn, patternFn);

    Fixture fx;
    const float limited = std::tan(4870.141f) * fx.cam.f;
    const float unlimited = std::tan(4870.1416f) * fx.cam.f;
    ASSERT_NE(limited, unlimited);
    EXPECT_EQ(viewFn(fx.pixel, &fx.cam, &fx.identity).x, limited);
    EXPECT_EQ(patternFn(fx.pixel, &fx.cam, &fx.identity).x, unlimited);

    // The program's own unqualified call resolves to the library it linked first.
    const float direct = mzImageToWorld(fx.pixel, &fx.cam, &fx.identity).x;
    EXPECT_EQ(direct, std::string(MZ_FIRST_LIBRARY) == "view_first" ? limited : unlimited);
}

}  // namespace
