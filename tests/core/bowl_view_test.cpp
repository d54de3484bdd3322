// The bowl view of a calibrated bay as the command line asks for it: every preset looks at the
// vehicle from the side it is named after, and the top view is not mirrored.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "app/core/bowl_view.h"
#include "testing/view_rig.h"

namespace mz::core {
namespace {

// Each camera's picture one flat colour, so the view says which camera shows each pixel.
constexpr uint8_t kColour[kCameraCount][3] = {{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {200, 200, 40}};

std::array<int, 3> pixel(const BowlRendering& view, int x, int y) {
    const uint8_t* p = &view.picture[static_cast<size_t>(y) * MZ_ROW_STRIDE24(view.width) + 3 * x];
    return {p[0], p[1], p[2]};
}

std::array<int, 3> colour(int camera) { return {kColour[camera][0], kColour[camera][1], kColour[camera][2]}; }

TEST(BowlView, PresetsLookFromWhereTheirNamesSay) {
    auto rig = mztest::makeViewRig(200, 300, 30.0f, MZ_MV_BILINEAR, 0);
    CalibrationState state;
    std::array<std::vector<uint8_t>, kCameraCount> pictures;
    std::array<const uint8_t*, kCameraCount> pixels{};
    for (int c = 0; c < kCameraCount; ++c) {
        state.cameras[c] = rig->cameras[c];
        state.imagePoints[c] = rig->image[c];
        state.worldPoints[c] = rig->world[c];
        pictures[c].resize(static_cast<size_t>(MZ_ROW_STRIDE24(720)) * 480);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 720; ++x)
                for (int k = 0; k < 3; ++k) pictures[c][y * MZ_ROW_STRIDE24(720) + 3 * x + k] = kColour[c][k];
        pixels[c] = pictures[c].data();
    }
    state.multiviews[0] = rig->param;
    BowlRequest request;
    request.width = 320;
    request.height = 180;
    request.shape = defaultBowlShape(bayExtent(state));

    // From each side, the floor nearest the eye (the bottom of the picture) is that side's camera.
    const std::pair<const char*, int> sides[] = {
        {"front", kFront}, {"rear", kRear}, {"left", kLeft}, {"right", kRight}};
    for (const auto& [name, camera] : sides) {
        SCOPED_TRACE(name);
        request.eye = presetEye(*findBowlPreset(name), request.shape);
        const BowlRendering view = renderBowl(state, request, pixels);
        EXPECT_EQ(colour(camera), pixel(view, 160, 172));
    }
    // From above: front up, the vehicle's left on the picture's left.
    request.eye = presetEye(*findBowlPreset("top"), request.shape);
    for (const int kind : {1, 2}) {
        request.kind = kind;
        const BowlRendering top = renderBowl(state, request, pixels);
        EXPECT_EQ(colour(kFront), pixel(top, 160, 20));
        EXPECT_EQ(colour(kRear), pixel(top, 160, 160));
        EXPECT_EQ(colour(kLeft), pixel(top, 110, 90));
        EXPECT_EQ(colour(kRight), pixel(top, 210, 90));
        EXPECT_EQ(320u * 180u * 4u, top.luts[kRear].size());
        // Without the tables the picture is the same.
        request.tables = false;
        const BowlRendering bare = renderBowl(state, request, pixels);
        request.tables = true;
        EXPECT_EQ(bare.picture, top.picture);
        EXPECT_TRUE(bare.luts[kRear].empty() && bare.mask.empty());
    }
    // A view the engine cannot build is refused by name.
    request.eye.eye = request.eye.target;
    EXPECT_THROW(renderBowl(state, request, pixels), std::runtime_error);
}

}  // namespace
}  // namespace mz::core
