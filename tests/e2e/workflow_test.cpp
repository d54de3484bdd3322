// calibration-cli as an operator meets it: a lost triangle, the corrections that replace it, the
// data version, inspect on the files a run wrote, the detectors and the parking guide.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <tuple>

#include "format/bitmap.h"
#include "sim/rig.h"

#include "tests/e2e/e2e_util.h"

namespace mz::e2e {
namespace {

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Paints the lower three quarters of a picture's left half with the floor's grey: the left
// triangle is gone.
void hideLeftTriangle(const std::filesystem::path& bmp) {
    std::vector<uint8_t> file = readBytes(bmp);
    const uint32_t offset = file[10] | file[11] << 8 | file[12] << 16 | uint32_t(file[13]) << 24;
    const int32_t w = int32_t(file[18] | file[19] << 8 | file[20] << 16 | uint32_t(file[21]) << 24);
    const int32_t h = int32_t(file[22] | file[23] << 8 | file[24] << 16 | uint32_t(file[25]) << 24);
    ASSERT_GT(h, 0) << "expects a bottom-up bitmap";
    const size_t stride = MZ_ROW_STRIDE24(size_t(w));
    for (int y = h / 4; y < h; ++y) {
        uint8_t* row = file.data() + offset + size_t(h - 1 - y) * stride;
        for (int x = 0; x < w / 2; ++x) {
            row[3 * x] = 200;
            row[3 * x + 1] = 195;
            row[3 * x + 2] = 190;
        }
    }
    writeBytes(bmp, file);
}

class Workflow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = freshFolder("workflow");
        const CliResult r = runCli({"simulate", "--out", dir_.string(), "--seed", "3"});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static void TearDownTestSuite() { removeFolder(dir_); }

    static std::vector<std::string> runArgs(const std::filesystem::path& out) {
        return {"run",        "--config", (dir_ / "Config.bin").string(), "--data", dir_.string(), "--out",
                out.string(), "--report", (out / "report.json").string()};
    }

    static inline std::filesystem::path dir_;
};

TEST_F(Workflow, LostTriangleStopsUntilItsPointsAreGiven) {
    const std::filesystem::path hidden = freshFolder("hidden");
    std::filesystem::copy(dir_, hidden, std::filesystem::copy_options::recursive);
    hideLeftTriangle(hidden / "image" / "front.bmp");
    const std::vector<std::string> base = {"run",           "--config", (hidden / "Config.bin").string(), "--data",
                                           hidden.string(), "--report", (hidden / "report.json").string()};

    const CliResult stopped = runCli(base);
    EXPECT_NE(stopped.status, 0);
    EXPECT_NE(stopped.output.find("Detection found no left triangle in the FRONT camera picture"), std::string::npos)
        << stopped.output;
    EXPECT_FALSE(std::filesystem::exists(hidden / "Lut")) << "nothing may be saved after a lost triangle";
    const nlohmann::json failed = readJson(hidden / "report.json");
    EXPECT_FALSE(failed["ok"].get<bool>());
    EXPECT_TRUE(failed["calibration"]["result"].is_null()) << "the calibration must not have run";

    // The operator's points for the lost half, straight from the truth.
    const nlohmann::json truth = readJson(hidden / "truth.json");
    const nlohmann::json given = {
        {"front",
         {{"left",
           {truth["cameras"]["front"]["imagePoints"][0], truth["cameras"]["front"]["imagePoints"][1],
            truth["cameras"]["front"]["imagePoints"][2]}}}}};
    { std::ofstream(hidden / "points.json") << given.dump(); }
    std::vector<std::string> corrected = base;
    corrected.insert(corrected.end(), {"--points", (hidden / "points.json").string()});
    const CliResult run = runCli(corrected);
    ASSERT_EQ(run.status, 0) << run.output;
    const nlohmann::json report = readJson(hidden / "report.json");
    EXPECT_EQ(report["calibration"]["result"], 0);
    EXPECT_TRUE(report["cameras"]["front"]["corrected"].get<bool>());
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(report["cameras"]["front"]["imagePoints"][i][0].get<double>(),
                    truth["cameras"]["front"]["imagePoints"][i][0].get<double>(), 1e-3);
        EXPECT_NEAR(report["cameras"]["front"]["imagePoints"][i][1].get<double>(),
                    truth["cameras"]["front"]["imagePoints"][i][1].get<double>(), 1e-3);
    }
    EXPECT_TRUE(std::filesystem::exists(hidden / "Lut" / "AVM2D_FULLFront.bin"));
    removeFolder(hidden);
}

TEST_F(Workflow, BrokenCorrectionsAndVersionsFailBeforeAnythingIsWritten) {
    const std::filesystem::path out = freshFolder("broken");
    { std::ofstream(out / "points.json") << R"({"front": [[1, 2], [3, 4]]})"; }
    std::vector<std::string> args = runArgs(out);
    args.insert(args.end(), {"--points", (out / "points.json").string()});
    CliResult r = runCli(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("front must hold 6 points"), std::string::npos) << r.output;

    { std::ofstream(out / "points.json") << R"({"rear": {"right": [[100, 200], [110, 210], [5000, 10]]}})"; }
    r = runCli(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("--points: rear.right: point 3 (5000, 10) lies outside the 720x480 picture"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(out / "Lut"));

    args = runArgs(out);
    args.insert(args.end(), {"--lut-version", "1.x"});
    r = runCli(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("--lut-version"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out / "Lut"));

    // Version 0.0 is the workflow's own refusal, with its own message.
    args = runArgs(out);
    args.insert(args.end(), {"--lut-version", "0.0"});
    r = runCli(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("FlashData Version is incorrect. Please check this"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out / "Lut"));

    // A version the files' two digits cannot hold is refused, not wrapped.
    args = runArgs(out);
    args.insert(args.end(), {"--lut-version", "100.0"});
    r = runCli(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("0..99"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out / "Lut"));

    // An output folder that cannot be made still gets the report that was asked for.
    { std::ofstream(out / "blocker") << "a file where a folder should go"; }
    r = runCli({"run", "--config", (dir_ / "Config.bin").string(), "--data", dir_.string(), "--out",
                (out / "blocker" / "out").string(), "--report", (out / "report.json").string()});
    EXPECT_EQ(r.status, 1);
    const nlohmann::json report = readJson(out / "report.json");
    EXPECT_FALSE(report["ok"].get<bool>());
    EXPECT_NE(report["error"].get<std::string>().find("cannot create the output folder"), std::string::npos);
    removeFolder(out);
}

TEST_F(Workflow, ConfigShowThenBuildGivesTheSameBytesAndABadFieldWritesNothing) {
    const std::filesystem::path out = freshFolder("config");
    CliResult r =
        runCli({"config", "show", (dir_ / "Config.bin").string(), "--json", "--out", (out / "vehicle.json").string()});
    ASSERT_EQ(r.status, 0) << r.output;
    r = runCli({"config", "build", (out / "vehicle.json").string(), "--out", (out / "Config.bin").string()});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readBytes(out / "Config.bin"), readBytes(dir_ / "Config.bin"));

    nlohmann::json j = readJson(out / "vehicle.json");
    j["multiviews"][1].erase("mmPerPixel");
    std::ofstream(out / "broken.json") << j.dump();
    r = runCli({"config", "build", (out / "broken.json").string(), "--out", (out / "Broken.bin").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("/multiviews/1/mmPerPixel: missing"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out / "Broken.bin"));
    removeFolder(out);
}

TEST_F(Workflow, InspectAcceptsEveryWrittenFileAndFindsAFlippedByte) {
    const std::filesystem::path out = freshFolder("inspect");
    std::vector<std::string> args = runArgs(out);
    args.insert(args.end(), {"--lut-version", "12.34", "--snapshot", (out / "top.bmp").string()});
    const CliResult run = runCli(args);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[information] Ovantis Calibration Tool: Output file saved successfully."),
              std::string::npos);
    EXPECT_GT(std::filesystem::file_size(out / "top.bmp"), 720u * 480u * 3u);

    const nlohmann::json report = readJson(out / "report.json");
    std::vector<std::string> inspect = {"inspect", "--json"};
    for (const nlohmann::json& f : report["files"]) inspect.push_back((out / f["path"].get<std::string>()).string());
    ASSERT_GT(inspect.size(), 20u);
    const CliResult sound = runCli(inspect);
    ASSERT_EQ(sound.status, 0) << sound.output;
    const nlohmann::json decoded = nlohmann::json::parse(sound.output);
    for (size_t i = 0; i < decoded.size(); ++i) {
        EXPECT_EQ(decoded[i]["version"], "12.34");
        EXPECT_EQ(decoded[i]["id"], report["files"][i]["id"]);
        EXPECT_EQ(decoded[i]["payloadBytes"], report["files"][i]["payloadBytes"]);
    }

    CliResult folder = runCli({"inspect", out.string()});
    EXPECT_EQ(folder.status, 0) << folder.output;
    EXPECT_NE(folder.output.find("set calibration"), std::string::npos) << folder.output;
    EXPECT_NE(folder.output.find("23 files: one set"), std::string::npos) << folder.output;

    const std::filesystem::path mask = out / "Lut" / "AVM2D_FULLCmask.bin";
    const std::vector<uint8_t> original = readBytes(mask);
    std::vector<uint8_t> bytes = original;
    bytes[32 + 3 * 1025 + 17] ^= 0x10;  // a payload byte in block 3
    writeBytes(mask, bytes);
    CliResult flipped = runCli({"inspect", mask.string()});
    EXPECT_NE(flipped.status, 0);
    EXPECT_NE(flipped.output.find("first at block 3"), std::string::npos) << flipped.output;
    // The folder is no longer the set its manifest names: that file is named, as a table of another
    // calibration would be, and a stray table beside them.
    writeBytes(out / "Lut" / "Stray.bin", original);
    folder = runCli({"inspect", out.string()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.output.find("NOT ONE SET"), std::string::npos) << folder.output;
    EXPECT_NE(folder.output.find("Lut/AVM2D_FULLCmask.bin: not of this set"), std::string::npos) << folder.output;
    EXPECT_NE(folder.output.find("Lut/Stray.bin: not of this set"), std::string::npos) << folder.output;
    std::filesystem::remove(out / "Lut" / "Stray.bin");

    bytes[32 + 3 * 1025 + 17] ^= 0x10;
    bytes[6] ^= 0x01;  // the date in the header
    writeBytes(mask, bytes);
    flipped = runCli({"inspect", mask.string()});
    EXPECT_NE(flipped.status, 0);
    EXPECT_NE(flipped.output.find("header checksum"), std::string::npos) << flipped.output;

    // A temporary a killed save left is cleared by a repair; the set is whole again.
    writeBytes(mask, original);
    writeBytes(out / "Lut" / "AVM2D_FULLFront.bin.mz-new", original);
    folder = runCli({"inspect", "--repair", out.string()});
    EXPECT_EQ(folder.status, 0) << folder.output;
    EXPECT_FALSE(std::filesystem::exists(out / "Lut" / "AVM2D_FULLFront.bin.mz-new"));
    removeFolder(out);
}

// The rear view asks for an OSD mask: empty without an overlay picture; with the parking guide's
// overlay picture, its lines lie where the guide draws them into the rear view (the mask is at the
// OSD's width, 720/800 of the view's). A file that is not a bitmap stops the run at once.
TEST_F(Workflow, GuideOverlayInTheOsdMaskLiesOnTheDrawnLines) {
    const std::filesystem::path out = freshFolder("overlay");
    CliResult r = runCli(runArgs(out));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("note: the OSD masks are empty"), std::string::npos) << r.output;
    EXPECT_TRUE(flashPayload(readBytes(out / "Osd" / "RearvwOSD.bin")).empty());
    r = runCli({"parking-guide", "--config", (dir_ / "Config.bin").string(), "--report", (out / "report.json").string(),
                "--data", dir_.string(), "--steer", "20", "--draw", "20", "--overlay", "20"});
    ASSERT_EQ(r.status, 0) << r.output;

    std::vector<std::string> args = runArgs(out / "with");
    args.insert(args.end(), {"--overlay", (out / "parking_guide_overlay_20.bmp").string()});
    r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("the OSD masks are empty"), std::string::npos) << r.output;
    EXPECT_EQ(readJson(out / "with" / "report.json")["overlay"], args.back());
    const std::vector<uint8_t> units = flashPayload(readBytes(out / "with" / "Osd" / "RearvwOSD.bin"));
    std::vector<uint8_t> mask;
    for (size_t i = 0; i + 1 < units.size(); i += 2) mask.insert(mask.end(), 1 + size_t(units[i + 1]), units[i]);
    constexpr int kMaskWidth = 648, kHeight = 480;
    ASSERT_EQ(mask.size(), size_t(kMaskWidth) * kHeight);
    const uint8_t background = mask[0];
    const size_t lit = mask.size() - size_t(std::count(mask.begin(), mask.end(), background));
    EXPECT_LT(lit, mask.size() / 10) << "the lines, not the space between them";

    const std::optional<format::Bitmap> drawn = format::readBitmap(out / "parking_guide_20.bmp");
    ASSERT_TRUE(drawn && drawn->width == 720 && drawn->height == kHeight);
    size_t linePixels = 0, onTheMask = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < drawn->width; ++x) {
            const uint8_t* p = drawn->row(y) + 3 * x;
            const bool line = (p[0] == 0 && p[1] == 0 && p[2] == 255) || (p[0] == 0 && p[1] == 255);
            if (!line) continue;
            ++linePixels;
            const int mx = x * kMaskWidth / 720;
            bool near = false;
            for (int dy = -2; dy <= 2 && !near; ++dy)
                for (int dx = -2; dx <= 2 && !near; ++dx) {
                    const int u = mx + dx, v = y + dy;
                    near = u >= 0 && u < kMaskWidth && v >= 0 && v < kHeight &&
                           mask[size_t(v) * kMaskWidth + u] != background;
                }
            onTheMask += near;
        }
    }
    EXPECT_GT(linePixels, 500u);
    EXPECT_GE(onTheMask, linePixels * 95 / 100) << linePixels;

    args = runArgs(out / "refused");
    args.insert(args.end(), {"--overlay", (dir_ / "Config.bin").string()});
    r = runCli(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("--overlay needs a 24-bit uncompressed bitmap"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out / "refused" / "Lut"));
    removeFolder(out);
}

// A folder or a device where a file should be is named at once, with the camera and what is
// needed; inspect goes on to the other files.
// An output that names an input (the same path, a symbolic link to it, a hard link of it) is refused
// before anything is read or written, by every command that writes files, and the input stays.
TEST_F(Workflow, NoOutputMayReplaceAnInput) {
    const std::filesystem::path bay = freshFolder("inputs");
    std::filesystem::copy(dir_, bay, std::filesystem::copy_options::recursive);
    // Reports that are read only after the check.
    std::filesystem::copy_file(bay / "truth.json", bay / "report.json");
    std::filesystem::copy_file(bay / "truth.json", bay / "parking_guide.json");
    const std::filesystem::path config = bay / "Config.bin", front = bay / "image" / "front.bmp";
    const std::vector<uint8_t> configBytes = readBytes(config), frontBytes = readBytes(front);
    enum class Link { kSamePath, kSymbolic, kHard };
    for (const Link link : {Link::kSamePath, Link::kSymbolic, Link::kHard}) {
        SCOPED_TRACE(static_cast<int>(link));
        // `name` in the bay, made to be `input`.
        auto named = [&](const std::filesystem::path& input, const std::string& name) {
            const std::filesystem::path path = bay / "links" / name;
            std::filesystem::create_directories(path.parent_path());
            std::filesystem::remove(path);
            if (link == Link::kSamePath) return input;
            if (link == Link::kSymbolic) std::filesystem::create_symlink(input, path);
            else std::filesystem::create_hard_link(input, path);
            return path;
        };
        const std::vector<std::vector<std::string>> commands = {
            {"run", "--config", config.string(), "--data", bay.string(), "--out", (bay / "out").string(), "--report",
             named(config, "r.json").string()},
            {"bowl", "--config", config.string(), "--data", bay.string(), "--report", (bay / "report.json").string(),
             "--out", (bay / "out").string(), "--picture", named(front, "bowl.bmp").string()},
            // The guide's points file in its --out folder is the report the guide reads.
            {"parking-guide", "--config", config.string(), "--report", (bay / "parking_guide.json").string(), "--out",
             named(bay / "parking_guide.json", "parking_guide.json").parent_path().string()},
        };
        for (const std::vector<std::string>& args : commands) {
            const CliResult r = runCli(args);
            EXPECT_EQ(r.status, 1) << args[0];
            EXPECT_NE(r.output.find("an output may not replace an input"), std::string::npos) << r.output;
        }
        EXPECT_EQ(readBytes(config), configBytes);
        EXPECT_EQ(readBytes(front), frontBytes);
        EXPECT_FALSE(std::filesystem::exists(bay / "out")) << "nothing is written";
        EXPECT_FALSE(std::filesystem::exists(bay / "parking-guide.set.json"));
        EXPECT_FALSE(std::filesystem::exists(bay / "links" / "parking-guide.set.json"));
    }
    removeFolder(bay);
}

TEST_F(Workflow, FoldersAndDevicesWhereFilesShouldBeAreNamedAtOnce) {
    const std::filesystem::path bay = freshFolder("folders");
    std::filesystem::copy(dir_, bay, std::filesystem::copy_options::recursive);
    std::filesystem::remove(bay / "image" / "left.bmp");
    std::filesystem::create_directory(bay / "image" / "left.bmp");
    CliResult r = runCli({"run", "--config", (bay / "Config.bin").string(), "--data", bay.string(), "--report",
                          (bay / "report.json").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Wrong Image Format !"), std::string::npos) << r.output;
    const std::string error = readJson(bay / "report.json")["error"];
    EXPECT_NE(error.find("LEFT camera"), std::string::npos) << error;
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
    EXPECT_NE(error.find("720x480"), std::string::npos) << error;

    r = runCli({"run", "--config", "/dev/zero", "--data", dir_.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Config File error!"), std::string::npos) << r.output;

    r = runCli({"inspect", "/dev/zero", bay.string(), (bay / "Config.bin").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("is not a regular file"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("no manifest (written by an older tool)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Config.bin"), std::string::npos) << "the third file is still inspected";
    removeFolder(bay);
}

// The guide lines a calibrated rear camera places must lie where the true rear camera sees those
// floor points; the straight lines must run at half the vehicle width either side.
TEST_F(Workflow, ParkingGuideLinesLieWhereTheTrueRearCameraSeesThem) {
    const std::filesystem::path out = freshFolder("guide");
    const CliResult run = runCli(runArgs(out));
    ASSERT_EQ(run.status, 0) << run.output;
    const CliResult guide =
        runCli({"parking-guide", "--config", (dir_ / "Config.bin").string(), "--report", (out / "report.json").string(),
                "--data", dir_.string(), "--steer", "-30:30:30", "--draw", "-30", "--out", (out / "guide").string()});
    ASSERT_EQ(guide.status, 0) << guide.output;
    const nlohmann::json j = readJson(out / "guide" / "parking_guide.json");
    ASSERT_EQ(j["angles"].size(), 3u);
    EXPECT_EQ(j["drawn"]["view"], "VIEW_REAR");
    EXPECT_GT(std::filesystem::file_size(out / "guide" / "parking_guide_-30.bmp"), 100000u);

    // The calibration's floor frame (y towards the rear) is its own: it is laid onto the true floor
    // through the rear camera's six corners before the true camera looks at the guide points.
    sim::RigOptions options;
    options.seed = 3;
    const sim::Rig rig = sim::drawRig(options);
    const sim::CameraPoints corners = sim::cameraPoints(rig, sim::kRear);
    const nlohmann::json report = readJson(out / "report.json");
    std::array<sim::Vec2, 6> calibrated;
    sim::Vec2 mc{0, 0}, mt{0, 0};
    for (int i = 0; i < 6; ++i) {
        const nlohmann::json& w = report["cameras"]["rear"]["worldPoints"][i];
        calibrated[i] = {w[0].get<double>(), -w[1].get<double>()};
        mc = {mc.x + calibrated[i].x / 6, mc.y + calibrated[i].y / 6};
        mt = {mt.x + corners.floor[i].x / 6, mt.y + corners.floor[i].y / 6};
    }
    double sin = 0, cos = 0;
    for (int i = 0; i < 6; ++i) {
        const sim::Vec2 p = {calibrated[i].x - mc.x, calibrated[i].y - mc.y};
        const sim::Vec2 q = {corners.floor[i].x - mt.x, corners.floor[i].y - mt.y};
        sin += p.x * q.y - p.y * q.x;
        cos += p.x * q.x + p.y * q.y;
    }
    const double turn = std::atan2(sin, cos);
    auto onTrueFloor = [&](double x, double y) {
        const double dx = x - mc.x, dy = y - mc.y;
        return sim::Vec3{mt.x + std::cos(turn) * dx - std::sin(turn) * dy,
                         mt.y + std::sin(turn) * dx + std::cos(turn) * dy, 0};
    };
    const sim::Camera& rear = rig.cameras[sim::kRear];
    double worst = 0;
    size_t compared = 0;
    for (const nlohmann::json& angle : j["angles"]) {
        const nlohmann::json& floor = angle["floor"];
        const nlohmann::json& picture = angle["picture"];
        ASSERT_EQ(floor.size(), 62u);
        for (size_t i = 0; i < floor.size(); ++i) {
            const double x = floor[i][0], y = floor[i][1];
            if (x == -1 && y == -1) continue;
            if (angle["steerAngle"] == 0) {
                EXPECT_NEAR(std::fabs(x), 925.0, 1e-3);
                EXPECT_LE(y, -2300.0 + 1e-3) << "straight lines start at the rear bumper";
            }
            sim::Vec2 truth;
            if (!sim::projectToPixel(rear, onTrueFloor(x, y), truth)) continue;
            worst = std::max(worst,
                             std::hypot(picture[i][0].get<double>() - truth.x, picture[i][1].get<double>() - truth.y));
            ++compared;
        }
    }
    std::printf("FIGURES parking guide: %zu points, worst %.2f px from the true rear camera\n", compared, worst);
    EXPECT_GT(compared, 150u);
    EXPECT_LT(worst, 1.0);

    const CliResult refused = runCli({"parking-guide", "--config", (dir_ / "Config.bin").string(), "--report",
                                      (out / "report.json").string(), "--steer", "-90:90:10"});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("within -89..89"), std::string::npos) << refused.output;
    removeFolder(out);
}

// Each detector through the command line on a plant's fixed bay: the layout codes reach the
// right cameras, and the marker detector's points and world triangles come back in the JSON.
TEST(FixedBay, DetectFindsEveryMarkerNearItsTrueCorners) {
    const std::filesystem::path dir = freshFolder("fixed");
    const CliResult simulated = runCli({"simulate", "--out", dir.string(), "--layout", "fixed"});
    ASSERT_EQ(simulated.status, 0) << simulated.output;
    const std::vector<std::string> base = {"detect", "--config", (dir / "Config.bin").string(), "--data", dir.string()};
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--method", "marker", "--json", (dir / "marker.json").string()});
    const CliResult marker = runCli(args);
    ASSERT_EQ(marker.status, 0) << marker.output;
    const nlohmann::json found = readJson(dir / "marker.json");
    const nlohmann::json truth = readJson(dir / "truth.json");
    for (const char* camera : {"front", "rear", "left", "right"}) {
        SCOPED_TRACE(camera);
        const nlohmann::json& k = found["cameras"][camera];
        EXPECT_TRUE(k["found"]["left"].get<bool>() && k["found"]["right"].get<bool>());
        for (int i = 0; i < 6; ++i) {
            // The nearest true corner of the same target.
            double best = 1e9;
            const int side = i / 3;
            for (int t = 3 * side; t < 3 * side + 3; ++t) {
                const nlohmann::json& p = truth["cameras"][camera]["imagePoints"][t];
                best = std::min(best, std::hypot(k["imagePoints"][i][0].get<double>() - p[0].get<double>(),
                                                 k["imagePoints"][i][1].get<double>() - p[1].get<double>()));
            }
            EXPECT_LT(best, 12.0) << "point " << i;
            const nlohmann::json& w = k["worldPoints"];
            const int next = 3 * side + (i + 1) % 3;
            EXPECT_NEAR(std::hypot(w[i][0].get<double>() - w[next][0].get<double>(),
                                   w[i][1].get<double>() - w[next][1].get<double>()),
                        800.0, 0.1);
        }
    }

    args = base;
    args.insert(args.end(), {"--method", "corner", "--layout-codes", "0,1,2,7"});
    const CliResult refused = runCli(args);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("--layout-codes"), std::string::npos) << refused.output;
    removeFolder(dir);
}

// config build refuses what Config Load refuses, naming the JSON pointer, and the JSON that
// config show prints through a pipe is JSON (no folded lines, no chatter).
TEST_F(Workflow, ConfigBuildRefusesWhatConfigLoadRefusesAtItsPointer) {
    const std::filesystem::path out = freshFolder("config_check");
    ASSERT_EQ(
        runCli({"config", "show", (dir_ / "Config.bin").string(), "--json", "--out", (out / "v.json").string()}).status,
        0);
    const nlohmann::json good = readJson(out / "v.json");
    using Edit = std::function<void(nlohmann::json&)>;
    const std::pair<Edit, std::string> cases[] = {
        {[](nlohmann::json& j) { j["cameras"][2]["fx"] = 0; }, "/cameras/2/fx: camera record 12 (LEFT): fx is 0"},
        {[](nlohmann::json& j) { j["multiviews"][1]["lutIds"][0] = j["multiviews"][0]["lutIds"][0]; },
         "/multiviews/1/lutIds/0: stitched view record 21 (AVM2D_FRONT): identifier 1 is given to both"},
        {[](nlohmann::json& j) { j["multiviews"][0]["lutIds"][2] = 65536; },
         "/multiviews/0/lutIds/2: stitched view record 20 (AVM2D_FULL): the identifier of Lut/AVM2D_FULLLeft.bin is "
         "65536"},
        {[](nlohmann::json& j) { j["singleviews"][0]["fileName"] = "../x.bin"; },
         "/singleviews/0/fileName: single view record 1 (../x.bin): fileName \"../x.bin\" is not a plain file name"},
        {[](nlohmann::json& j) { j["singleviews"][0]["fileName"] = "/tmp/x.bin"; }, "/singleviews/0/fileName"},
        {[](nlohmann::json& j) { j["multiviews"][0]["markerLength"] = 0; }, "/multiviews/0/markerLength: must be 1"},
        {[](nlohmann::json& j) { j["cameras"][1]["width"] = 640; },
         "/cameras/1/width: camera record 11 (REAR): width is 640, the FRONT camera's 720"},
    };
    for (const auto& [edit, expected] : cases) {
        SCOPED_TRACE(expected);
        nlohmann::json j = good;
        edit(j);
        std::ofstream(out / "bad.json") << j.dump(1);
        const CliResult r = runCli({"config", "build", (out / "bad.json").string(), "--out", (out / "B.bin").string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find(expected), std::string::npos) << r.output;
        EXPECT_FALSE(std::filesystem::exists(out / "B.bin"));
    }
    // Text the JSON library would take with the last value winning, or not at all.
    std::string text = good.dump(1);
    const size_t fx = text.find("\"fx\"");
    std::string twice = text;
    twice.insert(fx, "\"fx\": 1, ");
    std::string notANumber = text;
    notANumber.replace(text.find(':', fx) + 1, text.find(',', fx) - text.find(':', fx) - 1, " NaN");
    for (const auto& [bad, expected] :
         {std::pair{twice, "/cameras/0/fx: is given twice"}, std::pair{notANumber, "\"NaN\" on line"}}) {
        std::ofstream(out / "bad.json") << bad;
        const CliResult r = runCli({"config", "build", (out / "bad.json").string(), "--out", (out / "B.bin").string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find(expected), std::string::npos) << r.output;
    }

    const std::string show = std::string("'") + MZ_CLI_PATH + "' config show --json '" +
                             (dir_ / "Config.bin").string() + "' > '" + (out / "piped.json").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(show.c_str()), 0);
    nlohmann::json piped = readJson(out / "piped.json");
    for (nlohmann::json& car : piped["carImages"]) {
        EXPECT_TRUE(car["file"].is_null());
        car["file"] = good["carImages"][car["slot"].get<int>()]["file"];
    }
    EXPECT_EQ(piped, good);
    removeFolder(out);
}

// Every file a command reads goes through one bounded reader: a pipe nobody writes or a device
// is refused at once, and the report asked for is written all the same.
TEST_F(Workflow, EveryReaderRefusesPipesAndDevicesAtOnce) {
    const std::filesystem::path out = freshFolder("readers");
    const CliResult calibrated = runCli(runArgs(out));
    ASSERT_EQ(calibrated.status, 0) << calibrated.output;
    const std::string fifo = (out / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string config = (dir_ / "Config.bin").string(), report = (out / "report.json").string();
    for (const std::string& bad : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(bad);
        const std::vector<std::vector<std::string>> commands = {
            {"config", "build", bad, "--out", (out / "C.bin").string()},
            {"lens", "import", "--opencv-fisheye", bad},
            {"bowl", "--config", config, "--data", dir_.string(), "--report", bad, "--out", (out / "b").string()},
            {"parking-guide", "--config", config, "--report", bad, "--out", (out / "g").string()},
            {"run", "--config", config, "--data", dir_.string(), "--out", (out / "r").string(), "--points", bad,
             "--report", (out / "r.json").string()},
            {"run", "--config", config, "--data", dir_.string(), "--out", (out / "r").string(), "--survey", bad,
             "--report", (out / "r.json").string()},
        };
        for (const std::vector<std::string>& args : commands) {
            SCOPED_TRACE(args[0] + " " + args[1]);
            std::filesystem::remove(out / "r.json");
            const CliResult r = runCli(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.output.find(bad + ": is not a regular file (a device or a pipe)"), std::string::npos)
                << r.output;
            if (args[0] == "run") {
                EXPECT_NE(readJson(out / "r.json")["error"].get<std::string>().find(bad), std::string::npos);
            }
        }
    }
    EXPECT_FALSE(std::filesystem::exists(out / "C.bin"));
    EXPECT_FALSE(std::filesystem::exists(out / "r" / "Lut"));

    // The same configuration fault is named alike by every command that takes a configuration.
    std::vector<uint8_t> bytes = readBytes(dir_ / "Config.bin");
    ASSERT_EQ(bytes[24], 10) << "the front camera's record comes first";
    const float zero = 0;
    std::memcpy(bytes.data() + 24 + 8 + 4, &zero, 4);  // its fx
    writeBytes(out / "fx0.bin", bytes);
    const std::string fx0 = (out / "fx0.bin").string();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"run", "--config", fx0, "--data", dir_.string(), "--out", (out / "r").string()},
             {"detect", "--config", fx0, "--data", dir_.string()},
             {"bowl", "--config", fx0, "--data", dir_.string(), "--report", report, "--out", (out / "b").string()},
             {"parking-guide", "--config", fx0, "--report", report, "--out", (out / "g").string()}}) {
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.output.find("camera record 10 (FRONT): fx is 0"), std::string::npos) << r.output;
    }

    // Reports whose points no calibration gives: coincident, outside the picture.
    for (const auto& [key, value, expected] :
         {std::tuple{"imagePoints", nlohmann::json{{1, 1}, {1, 1}, {3, 3}, {4, 4}, {5, 5}, {6, 6}},
                     "cameras.rear.imagePoints: points 1 and 2 coincide"},
          std::tuple{
              "imagePoints", nlohmann::json{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 1e9}},
              "cameras.rear.imagePoints: point 6 (6.000000, 1000000000.000000) lies outside the 720x480 picture"},
          std::tuple{"worldPoints", nlohmann::json{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, -1e9}},
                     "cameras.rear.worldPoints: point 6"}}) {
        nlohmann::json bad = readJson(report);
        bad["cameras"]["rear"][key] = value;
        std::ofstream(out / "bad.json") << bad.dump();
        for (const char* command : {"bowl", "parking-guide"}) {
            std::vector<std::string> args = {
                command, "--config", config, "--report", (out / "bad.json").string(), "--out", (out / "x").string()};
            if (args[0] == "bowl") args.insert(args.end(), {"--data", dir_.string()});
            const CliResult r = runCli(args);
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_NE(r.output.find(expected), std::string::npos) << r.output;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(out / "x" / "Lut"));
    removeFolder(out);
}

TEST_F(Workflow, BowlViewOfTheCalibratedBay) {
    const std::filesystem::path out = freshFolder("bowl");
    ASSERT_EQ(runCli(runArgs(out)).status, 0);
    const std::vector<std::string> bowl = {"bowl",
                                           "--config",
                                           (dir_ / "Config.bin").string(),
                                           "--data",
                                           dir_.string(),
                                           "--report",
                                           (out / "report.json").string(),
                                           "--out",
                                           (out / "bowl").string()};
    std::vector<std::string> args = bowl;
    args.insert(args.end(), {"--preset", "front-left", "--size", "640x360", "--kind", "1"});
    const CliResult r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Bowl view: " + (out / "bowl" / "bowl-front-left.bmp").string()), std::string::npos)
        << r.output;
    EXPECT_EQ(std::filesystem::file_size(out / "bowl" / "bowl-front-left.bmp"), 54u + 640u * 3u * 360u);
    std::vector<std::string> inspect = {"inspect", "--json"};
    for (const char* f : {"Front", "Rear", "Left", "Right", "Cmask"})
        inspect.push_back((out / "bowl" / "Lut" / (std::string("AVM3D_BOWL") + f + ".bin")).string());
    const CliResult sound = runCli(inspect);
    ASSERT_EQ(sound.status, 0) << sound.output;
    const nlohmann::json decoded = nlohmann::json::parse(sound.output);
    ASSERT_EQ(decoded.size(), 5u);
    EXPECT_EQ(decoded[0]["id"], 201);
    EXPECT_EQ(decoded[0]["payloadBytes"], 640 * 360 * 4);
    EXPECT_EQ(decoded[4]["id"], 205);
    EXPECT_EQ(decoded[4]["payloadBytes"], 640 * 360 * 2);

    // Wrong values are named before anything is written.
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{"--preset", "sideways"},
                                               {"--eye", "1,2"},
                                               {"--bowl", "1,0,1,1"},
                                               {"--eye", "0,0,0", "--look-at", "0,0,0"}}) {
        args = bowl;
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {"--picture", (out / "never.bmp").string()});
        const CliResult bad = runCli(args);
        EXPECT_NE(bad.status, 0) << extra[0];
        EXPECT_NE(bad.output.find(extra[0] == "--look-at" || extra[1] == "0,0,0" ? "same point" : extra[0]),
                  std::string::npos)
            << bad.output;
        EXPECT_FALSE(std::filesystem::exists(out / "never.bmp"));
    }
    removeFolder(out);
}

}  // namespace
}  // namespace mz::e2e
