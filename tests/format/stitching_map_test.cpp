// The predefined stitching maps: zone codes, corner shares and the vehicle drawing, in both
// orientations, and the style a configuration may ask for.
#include "format/stitching_map.h"

#include <array>
#include <cmath>

#include <gtest/gtest.h>

namespace mz::format {
namespace {

std::array<int, 3> codeAt(const Bitmap& m, int x, int y) {
    const uint8_t* p = m.row(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

TEST(StitchingMap, CarriesZoneCodesSharesAndTheVehicle) {
    StitchingLayout v{400, 480, 200, 280, 20, false, 1850, 4600};
    const VehicleRect r = vehicleRect(v);
    // 1850/20 = 92.5 -> 93 -> 96 wide; 4600/20 = 230 -> 232 long; left 200-48 = 152; top 280-116.
    EXPECT_EQ(r.x0, 152);
    EXPECT_EQ(r.x1, 248);
    EXPECT_EQ(r.y0, 164);
    EXPECT_EQ(r.y1, 396);
    const Bitmap m = drawStitchingMap(v);
    ASSERT_EQ(m.pixels.size(), static_cast<size_t>(paddedImageSize(400, 480)));
    auto code = [&](int x, int y) {
        const uint8_t* p = m.row(y) + 3 * x;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(code(200, 10), (std::array<int, 3>{0, 0, 0}));       // front band
    EXPECT_EQ(code(200, 470), (std::array<int, 3>{255, 255, 0}));  // rear band
    EXPECT_EQ(code(10, 280), (std::array<int, 3>{255, 0, 0}));     // left side
    EXPECT_EQ(code(390, 280), (std::array<int, 3>{0, 255, 0}));    // right side
    // Front-left corner: mostly the front camera straight ahead of the vehicle's corner, the left
    // camera straight beside it.
    EXPECT_EQ(code(150, 10)[2], 1);
    EXPECT_EQ(code(10, 162)[2], 254);
    EXPECT_EQ(code(0, 0)[1], 0);
    EXPECT_EQ(code(399, 479)[0], 255);
    EXPECT_EQ(code(399, 479)[1], 255);
    // Inside the vehicle no pixel reads as a camera code.
    for (int y = r.y0; y < r.y1; ++y) {
        for (int x = r.x0; x < r.x1; ++x) {
            const auto c = code(x, y);
            const bool cameraCode = (c[0] == 0 || c[0] == 255) && (c[1] == 0 || c[1] == 255);
            ASSERT_FALSE(cameraCode) << x << "," << y;
        }
    }
}

TEST(StitchingMap, FullTopViewIsStoredWithTheFrontFacingLeft) {
    StitchingLayout v{720, 480, 360, 240, 14, true, 1850, 4600};
    const Bitmap m = drawStitchingMap(v);
    EXPECT_EQ(m.width, 720);
    EXPECT_EQ(m.height, 480);
    auto at = [&](int x, int y) { return m.row(y) + 3 * x; };
    EXPECT_EQ(at(5, 240)[0], 0);  // left of the car: the front band
    EXPECT_EQ(at(5, 240)[1], 0);
    EXPECT_EQ(at(715, 240)[0], 255);  // right of the car: the rear band
    EXPECT_EQ(at(715, 240)[1], 255);
    EXPECT_EQ(at(360, 5)[0], 0);  // above the car: the vehicle's right side
    EXPECT_EQ(at(360, 5)[1], 255);
    EXPECT_EQ(at(360, 475)[0], 255);  // below: its left side
    EXPECT_EQ(at(360, 475)[1], 0);
}

TEST(StitchingMap, StyleMovesTheSeamAndPaintsTheVehicle) {
    const StitchingLayout v{400, 480, 200, 280, 20, false, 1850, 4600};
    const VehicleRect r = vehicleRect(v);
    StitchingStyle hard;
    hard.seamAngle = 30;
    hard.blendWidth = 0;
    hard.vehicleColour = {200, 10, 20};
    const Bitmap m = drawStitchingMap(v, hard);
    // From the front-left corner of the vehicle: 25 and 35 degrees off the driving axis fall on
    // either side of a hard seam at 30.
    const int along = 100;
    auto atAngle = [&](double deg) {
        const int across = static_cast<int>(std::lround(along * std::tan(deg * 3.14159265358979 / 180)));
        return codeAt(m, r.x0 - across, r.y0 - along);
    };
    EXPECT_EQ(atAngle(25), (std::array<int, 3>{0, 0, 1}));
    EXPECT_EQ(atAngle(35), (std::array<int, 3>{0, 0, 254}));
    // The default wedge (35..55 degrees) shares the same pixel half and half near the diagonal.
    const Bitmap soft = drawStitchingMap(v);
    const int share = codeAt(soft, r.x0 - along, r.y0 - along)[2];
    EXPECT_NEAR(share, 127, 13);
    // Body in the chosen colour (B, G, R in the picture), roof a little lighter.
    const int cx = (r.x0 + r.x1) / 2;
    const int midY = r.y0 + (r.y1 - r.y0) * 55 / 100;
    EXPECT_EQ(codeAt(m, cx, midY), (std::array<int, 3>{40, 24, 210}));
    EXPECT_EQ(codeAt(m, r.x0 + (r.x1 - r.x0) / 10, midY), (std::array<int, 3>{20, 10, 200}));
}

TEST(StitchingMap, RefusesStylesThatWouldReadAsCameraCodes) {
    StitchingStyle s;
    EXPECT_EQ(stitchingStyleProblem(s), "");
    s.vehicleColour = {0, 60, 136};
    EXPECT_NE(stitchingStyleProblem(s).find("vehicleColour"), std::string::npos);
    s = {};
    s.seamAngle = 85;  // the wedge would reach 85 + 10 degrees
    EXPECT_NE(stitchingStyleProblem(s).find("0 to 90"), std::string::npos);
    s = {};
    s.blendWidth = -1;
    EXPECT_NE(stitchingStyleProblem(s).find("blendWidth"), std::string::npos);
    EXPECT_THROW(drawStitchingMap({400, 480, 200, 280, 20, false, 1850, 4600}, s), std::invalid_argument);
}

}  // namespace
}  // namespace mz::format
