// A new vehicle's starting configuration: the simulated vehicle's values give back the sample's
// views, another vehicle gets views scaled to it, and absurd values are refused by name.
#include "app/core/new_vehicle.h"

#include <gtest/gtest.h>

#include "format/config_writer.h"
#include "sim/rig.h"
#include "sim/scene.h"

namespace mz::core {
namespace {

NewVehicle sampleVehicle() {
    NewVehicle v;
    for (int i = 0; i < 4; ++i) {
        v.lenses[i].width = 720;
        v.lenses[i].height = 480;
        v.lensFiles[i] = "lens" + std::to_string(i) + ".yaml";
    }
    v.pictureWidth = 720;
    v.pictureHeight = 480;
    v.vehicleWidth = 1850;
    v.vehicleLength = 4600;
    v.markerLength = 800;
    return v;
}

TEST(NewVehicle, SimulatedVehicleGetsTheSampleViews) {
    const format::ConfigFile made = newVehicleConfig(sampleVehicle());
    format::ConfigFile sample = sim::buildConfig(sim::drawRig({}));
    // Everything but the lenses and the car images, byte for byte.
    sample.cameras = made.cameras;
    sample.carImages.clear();
    EXPECT_EQ(format::encodeConfig(made), format::encodeConfig(sample));
}

TEST(NewVehicle, ViewsScaleWithTheVehicleAndKeepItInside) {
    NewVehicle bus = sampleVehicle();
    bus.vehicleWidth = 2550;
    bus.vehicleLength = 12000;
    bus.markerLength = 1000;
    const format::ConfigFile c = newVehicleConfig(bus);
    ASSERT_EQ(c.multiviews.size(), 3u);
    for (const format::ConfigMultiview& mv : c.multiviews) {
        const bool turned = (mv.flags & 0x8000u) != 0;
        const double across = (turned ? mv.height : mv.width) * mv.mmPerPixel;
        const double along = (turned ? mv.width : mv.height) * mv.mmPerPixel;
        const double centreAlong = (turned ? mv.centreX : mv.centreY) * mv.mmPerPixel;
        EXPECT_GT(across, bus.vehicleWidth + 2 * bus.markerLength) << mv.name;
        // The vehicle's ends with at least a triangle's side of floor beyond them.
        EXPECT_GT(centreAlong - bus.vehicleLength / 2.0, bus.markerLength) << mv.name;
        EXPECT_GT(along - centreAlong - bus.vehicleLength / 2.0, bus.markerLength) << mv.name;
    }
    // More floor ahead in the front view, behind in the rear view.
    EXPECT_GT(c.multiviews[1].centreY, 240);
    EXPECT_EQ(c.multiviews[1].centreY + c.multiviews[2].centreY, 480);
}

TEST(NewVehicle, AbsurdValuesAreRefusedByName) {
    auto problem = [](auto change) {
        NewVehicle v = sampleVehicle();
        change(v);
        return newVehicleProblem(v);
    };
    EXPECT_EQ(problem([](NewVehicle&) {}), "");
    EXPECT_NE(problem([](NewVehicle& v) { v.markerLength = 5000; }).find("not shorter than the vehicle"),
              std::string::npos);
    EXPECT_NE(problem([](NewVehicle& v) { v.vehicleWidth = 4600, v.vehicleLength = 1850; }).find("swapped"),
              std::string::npos);
    EXPECT_NE(problem([](NewVehicle& v) { v.vehicleLength = 460000; }).find("vehicle length"), std::string::npos);
    EXPECT_NE(problem([](NewVehicle& v) { v.pictureWidth = 10; }).find("picture size"), std::string::npos);
    const std::string wrongSize = problem([](NewVehicle& v) { v.lenses[2].width = 1280; });
    EXPECT_NE(wrongSize.find("left lens (lens2.yaml)"), std::string::npos) << wrongSize;
    EXPECT_NE(problem([](NewVehicle& v) { v.lenses[0].maxError = 3; }).find("front lens"), std::string::npos);
    NewVehicle bad = sampleVehicle();
    bad.markerLength = 50;
    EXPECT_THROW(newVehicleConfig(bad), std::invalid_argument);
}

}  // namespace
}  // namespace mz::core
