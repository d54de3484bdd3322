// calibration-cli as an operator meets it: a lost triangle, the corrections that replace it, the
// data version, and inspect on the files a run wrote.
#include <gtest/gtest.h>

#include <fstream>

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
        const CommandResult r = runCli({"simulate", "--out", dir_.string(), "--seed", "3"});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static void TearDownTestSuite() { removeFolder(dir_); }

    static std::vector<std::string> runArgs(const std::filesystem::path& out) {
        return {"run", "--config", (dir_ / "Config.bin").string(), "--data", dir_.string(), "--out", out.string(),
                "--report", (out / "report.json").string()};
    }

    static inline std::filesystem::path dir_;
};

TEST_F(Workflow, LostTriangleStopsUntilItsPointsAreGiven) {
    const std::filesystem::path hidden = freshFolder("hidden");
    std::filesystem::copy(dir_, hidden, std::filesystem::copy_options::recursive);
    hideLeftTriangle(hidden / "image" / "front.bmp");
    const std::vector<std::string> base = {"run", "--config", (hidden / "Config.bin").string(),
                                           "--data", hidden.string(), "--report", (hidden / "report.json").string()};

    const CommandResult stopped = runCli(base);
    EXPECT_NE(stopped.status, 0);
    EXPECT_NE(stopped.output.find("Detection found no left triangle in the FRONT camera picture"), std::string::npos)
        << stopped.output;
    EXPECT_FALSE(std::filesystem::exists(hidden / "Lut")) << "nothing may be saved after a lost triangle";
    const nlohmann::json failed = readJson(hidden / "report.json");
    EXPECT_FALSE(failed["ok"].get<bool>());
    EXPECT_TRUE(failed["calibration"]["result"].is_null()) << "the calibration must not have run";

    // The operator's points for the lost half, straight from the truth.
    const nlohmann::json truth = readJson(hidden / "truth.json");
    const nlohmann::json given = {{"front", {{"left", {truth["cameras"]["front"]["imagePoints"][0],
                                                       truth["cameras"]["front"]["imagePoints"][1],
                                                       truth["cameras"]["front"]["imagePoints"][2]}}}}};
    {
        std::ofstream(hidden / "points.json") << given.dump();
    }
    std::vector<std::string> corrected = base;
    corrected.insert(corrected.end(), {"--points", (hidden / "points.json").string()});
    const CommandResult run = runCli(corrected);
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
    {
        std::ofstream(out / "points.json") << R"({"front": [[1, 2], [3, 4]]})";
    }
    std::vector<std::string> args = runArgs(out);
    args.insert(args.end(), {"--points", (out / "points.json").string()});
    CommandResult r = runCli(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("front must hold 6 points"), std::string::npos) << r.output;

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
    removeFolder(out);
}

TEST_F(Workflow, InspectAcceptsEveryWrittenFileAndFindsAFlippedByte) {
    const std::filesystem::path out = freshFolder("inspect");
    std::vector<std::string> args = runArgs(out);
    args.insert(args.end(), {"--lut-version", "12.34", "--snapshot", (out / "top.bmp").string()});
    const CommandResult run = runCli(args);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[information] Ovantis Calibration Tool: Output file saved successfully."),
              std::string::npos);
    EXPECT_GT(std::filesystem::file_size(out / "top.bmp"), 720u * 480u * 3u);

    const nlohmann::json report = readJson(out / "report.json");
    std::vector<std::string> inspect = {"inspect", "--json"};
    for (const nlohmann::json& f : report["files"]) inspect.push_back((out / f["path"].get<std::string>()).string());
    ASSERT_GT(inspect.size(), 20u);
    const CommandResult sound = runCli(inspect);
    ASSERT_EQ(sound.status, 0) << sound.output;
    const nlohmann::json decoded = nlohmann::json::parse(sound.output);
    for (size_t i = 0; i < decoded.size(); ++i) {
        EXPECT_EQ(decoded[i]["version"], "12.34");
        EXPECT_EQ(decoded[i]["id"], report["files"][i]["id"]);
        EXPECT_EQ(decoded[i]["payloadBytes"], report["files"][i]["payloadBytes"]);
    }

    const std::filesystem::path mask = out / "Lut" / "AVM2D_FULLCmask.bin";
    std::vector<uint8_t> bytes = readBytes(mask);
    bytes[32 + 3 * 1025 + 17] ^= 0x10;   // a payload byte in block 3
    writeBytes(mask, bytes);
    CommandResult flipped = runCli({"inspect", mask.string()});
    EXPECT_NE(flipped.status, 0);
    EXPECT_NE(flipped.output.find("first at block 3"), std::string::npos) << flipped.output;

    bytes[32 + 3 * 1025 + 17] ^= 0x10;
    bytes[6] ^= 0x01;   // the date in the header
    writeBytes(mask, bytes);
    flipped = runCli({"inspect", mask.string()});
    EXPECT_NE(flipped.status, 0);
    EXPECT_NE(flipped.output.find("header checksum"), std::string::npos) << flipped.output;
    removeFolder(out);
}

}  // namespace
}  // namespace mz::e2e
