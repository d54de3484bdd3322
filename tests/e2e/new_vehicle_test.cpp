// A vehicle configured from nothing but its lens files and sizes: config new, config build, and a
// run on a simulated bay of that vehicle. The drawn stitching maps must be the sample's maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "format/config_reader.h"
#include "tests/e2e/e2e_util.h"

namespace mz::e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCameras[4] = {"front", "rear", "left", "right"};

// The camera's lens as cv::fisheye::calibrate would store it: this system's forward polynomial
// with k1 taken into the focal lengths.
void writeOpencvLens(const fs::path& path, const format::ConfigCamera& cam) {
    const double k1 = cam.k[0];
    char text[1024];
    std::snprintf(text, sizeof text,
                  "%%YAML:1.0\n---\ncamera_matrix: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n"
                  "   data: [ %.17g, 0., %.17g, 0., %.17g, %.17g, 0., 0., 1. ]\n"
                  "dist_coeffs: !!opencv-matrix\n   rows: 4\n   cols: 1\n   dt: d\n"
                  "   data: [ %.17g, %.17g, %.17g, %.17g ]\n"
                  "resolution: !!opencv-matrix\n   rows: 2\n   cols: 1\n   dt: i\n   data: [ %d, %d ]\n",
                  cam.fx * k1, static_cast<double>(cam.cx), cam.fy * k1, static_cast<double>(cam.cy), cam.k[1] / k1,
                  cam.k[2] / k1, cam.k[3] / k1, cam.k[4] / k1, cam.width, cam.height);
    std::ofstream(path) << text;
}

format::ConfigFile readConfig(const fs::path& path) { return format::decodeConfig(readBytes(path)); }

TEST(NewVehicle, TwoCommandsGiveAConfigurationThatCalibratesTheBay) {
    const fs::path dir = freshFolder("new_vehicle");
    const fs::path bay = dir / "bay";
    ASSERT_EQ(runCli({"simulate", "--out", bay.string(), "--seed", "1"}).status, 0);
    const format::ConfigFile sample = readConfig(bay / "Config.bin");
    std::vector<std::string> args = {"config", "new"};
    for (int c = 0; c < 4; ++c) {
        const fs::path lens = dir / (std::string(kCameras[c]) + ".yaml");
        writeOpencvLens(lens, sample.cameras[c]);
        args.insert(args.end(), {std::string("--") + kCameras[c], lens.string()});
    }
    const fs::path json = dir / "cfg" / "vehicle.json";
    args.insert(args.end(), {"--picture-size", "720x480", "--vehicle-width", "1850", "--vehicle-length", "4600",
                             "--marker-length", "800", "--out", json.string()});
    const CliResult made = runCli(args);
    ASSERT_EQ(made.status, 0) << made.output;
    const CliResult again = runCli(args);
    EXPECT_NE(again.status, 0);
    EXPECT_NE(again.output.find("exists"), std::string::npos) << again.output;

    const fs::path bin = dir / "cfg" / "Config.bin";
    const CliResult built = runCli({"config", "build", json.string(), "--out", bin.string()});
    ASSERT_EQ(built.status, 0) << built.output;

    // The drawn maps against the sample's: same views, so every zone code, every corner share and
    // the vehicle drawing agree exactly (tolerance 0).
    const format::ConfigFile mine = readConfig(bin);
    ASSERT_EQ(mine.carImages.size(), sample.carImages.size());
    for (size_t i = 0; i < mine.carImages.size(); ++i) {
        EXPECT_EQ(mine.multiviews[i].mmPerPixel, sample.multiviews[i].mmPerPixel) << i;
        EXPECT_EQ(mine.multiviews[i].centreY, sample.multiviews[i].centreY) << i;
        EXPECT_TRUE(mine.carImages[i].pixels == sample.carImages[i].pixels) << "car image " << i;
    }

    const fs::path out = dir / "out";
    const CliResult run = runCli({"run", "--config", bin.string(), "--data", bay.string(), "--out", out.string(),
                                  "--report", (out / "report.json").string()});
    ASSERT_EQ(run.status, 0) << run.output;
    const nlohmann::json report = readJson(out / "report.json");
    EXPECT_EQ(report["refinement"]["quality"], "good") << report["refinement"].dump();
    removeFolder(dir);
}

TEST(NewVehicle, BadInputIsRefusedAndNothingWritten) {
    const fs::path dir = freshFolder("new_vehicle_bad");
    format::ConfigCamera cam;
    cam.fx = 225, cam.fy = 205, cam.cx = 360, cam.cy = 240, cam.width = 720, cam.height = 480;
    cam.k = {1, 0.1f, 0, 0, 0};
    const fs::path lens = dir / "lens.yaml";
    writeOpencvLens(lens, cam);
    const fs::path json = dir / "vehicle.json";
    auto refusal = [&](std::vector<std::string> change) {
        std::vector<std::string> args = {
            "config",          "new",         "--front",          lens.string(), "--rear",          lens.string(),
            "--left",          lens.string(), "--right",          lens.string(), "--picture-size",  "720x480",
            "--vehicle-width", "1850",        "--vehicle-length", "4600",        "--marker-length", "800",
            "--out",           json.string()};
        for (size_t i = 0; i + 1 < change.size(); i += 2) {
            const auto it = std::find(args.begin(), args.end(), change[i]);
            *(it + 1) = change[i + 1];
        }
        const CliResult r = runCli(args);
        EXPECT_NE(r.status, 0) << r.output;
        EXPECT_FALSE(fs::exists(json));
        return r.output;
    };
    EXPECT_NE(refusal({"--left", (dir / "missing.yaml").string()}).find("missing.yaml"), std::string::npos);
    EXPECT_NE(refusal({"--marker-length", "5000"}).find("not shorter than the vehicle"), std::string::npos);
    EXPECT_NE(refusal({"--picture-size", "1280x720"}).find("front lens"), std::string::npos);
    EXPECT_NE(refusal({"--vehicle-length", "460000"}).find("vehicle length"), std::string::npos);
    EXPECT_NE(refusal({"--picture-size", "big"}).find("--picture-size"), std::string::npos);
    removeFolder(dir);
}

}  // namespace
}  // namespace mz::e2e
