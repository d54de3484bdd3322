// A station's runs on a simulated bay: the vehicle's records with their files' checksums, the
// profile's refusal and its override, and a failing history that costs no calibration.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "station/checksum.h"
#include "tests/e2e/e2e_util.h"

namespace mz::e2e {
namespace {

namespace fs = std::filesystem;

class Station : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = freshFolder("station");
        const CliResult r = runCli({"simulate", "--out", dir_.string(), "--seed", "1"});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static void TearDownTestSuite() { removeFolder(dir_); }

    static std::vector<std::string> runArgs(const fs::path& out, const std::vector<std::string>& more) {
        std::vector<std::string> args = {"run",        "--config",    (dir_ / "Config.bin").string(),
                                         "--data",     dir_.string(), "--out",
                                         out.string(), "--report",    (out / "report.json").string(),
                                         "--vehicle",  "VIN-E2E",     "--operator",
                                         "Op",         "--station",   "S1"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    static inline fs::path dir_;
};

TEST_F(Station, RefusedOverriddenAndAcceptedRunsAreRecordedWithTheirFiles) {
    const fs::path work = freshFolder("station_runs");
    const std::string history = (work / "history.sqlite").string();
    const std::string example = std::string(MZ_SOURCE_DIR) + "/docs/simulated_station_profile.json";
    nlohmann::json tight = readJson(example);
    tight["name"] = "tight";
    tight["cameras"]["left"]["tilt"]["tolerance"] = 0.001;
    const std::string tightFile = (work / "tight.json").string();
    std::ofstream(tightFile) << tight.dump();

    const CliResult refused = runCli(runArgs(work / "refused", {"--profile", tightFile, "--history", history}));
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("LEFT camera tilt"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("check the left mirror mount"), std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(work / "refused" / "Lut")) << "a refused calibration must not be saved";
    const nlohmann::json refusedReport = readJson(work / "refused" / "report.json");
    EXPECT_TRUE(refusedReport["tolerance"]["refused"].get<bool>());
    EXPECT_EQ(refusedReport["station"]["vehicle"], "VIN-E2E");

    const CliResult overridden =
        runCli(runArgs(work / "overridden", {"--profile", tightFile, "--override-profile", "--history", history}));
    ASSERT_EQ(overridden.status, 0) << overridden.output;
    const CliResult accepted = runCli(runArgs(work / "accepted", {"--profile", example, "--history", history}));
    ASSERT_EQ(accepted.status, 0) << accepted.output;
    EXPECT_NE(accepted.output.find("every camera within its tolerances"), std::string::npos) << accepted.output;

    const CliResult listed = runCli({"history", "list", "--history", history, "--vehicle", "VIN-E2E", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    const nlohmann::json runs = nlohmann::json::parse(listed.output);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0]["outcome"], "refused");
    EXPECT_EQ(runs[1]["outcome"], "saved");
    EXPECT_TRUE(runs[1]["profileOverridden"].get<bool>());
    EXPECT_FALSE(runs[2]["profileOverridden"].get<bool>());

    // The overridden run names every file it wrote with the checksum of what is on disk.
    const CliResult shown = runCli({"history", "show", runs[1]["id"].dump(), "--history", history, "--json"});
    ASSERT_EQ(shown.status, 0) << shown.output;
    const nlohmann::json run = nlohmann::json::parse(shown.output);
    EXPECT_EQ(run["operator"], "Op");
    EXPECT_EQ(run["station"], "S1");
    EXPECT_EQ(run["cameras"]["left"]["tolerance"]["verdict"], "outside");
    EXPECT_EQ(run["cameras"]["front"]["tolerance"]["verdict"], "within");
    const nlohmann::json report = readJson(work / "overridden" / "report.json");
    ASSERT_EQ(run["files"].size(), report["files"].size());
    for (const nlohmann::json& f : run["files"]) {
        const auto digest = station::fileDigest(work / "overridden" / f["path"].get<std::string>());
        ASSERT_TRUE(digest) << f["path"];
        EXPECT_EQ(f["sha256"], digest->sha256) << f["path"];
        EXPECT_EQ(f["bytes"], digest->bytes) << f["path"];
    }
    ASSERT_EQ(run["pictures"].size(), 4u);
    EXPECT_EQ(run["pictures"][2]["sha256"], station::fileDigest(dir_ / "image" / "left.bmp")->sha256);
    EXPECT_EQ(run["config"]["sha256"], station::fileDigest(dir_ / "Config.bin")->sha256);

    const std::string csv = (work / "runs.csv").string();
    ASSERT_EQ(runCli({"history", "export", "--history", history, "--csv", csv}).status, 0);
    std::ifstream in(csv);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
    removeFolder(work);
}

TEST_F(Station, AHistoryThatCannotRecordCostsNoOutputFiles) {
    const fs::path work = freshFolder("station_broken");
    const fs::path history = work / "history.sqlite";
    std::ofstream(history) << "not a database at all";
    const CliResult r = runCli(runArgs(work, {"--history", history.string()}));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(history.string() + ": cannot open: not an SQLite database"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("the output files were saved all the same"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::exists(work / "Lut" / "AVM2D_FULLFront.bin"));
    EXPECT_TRUE(readJson(work / "report.json")["ok"].get<bool>());
    removeFolder(work);
}

TEST_F(Station, ABatchCalibratesEachBayAsRunDoesAndFailsWhenOneBayFails) {
    const fs::path work = freshFolder("station_batch");
    for (const char* bay : {"bayA", "bayB", "broken"}) {
        fs::create_directories(work / "bays" / bay / "image");
        fs::copy_file(dir_ / "Config.bin", work / "bays" / bay / "Config.bin");
        for (const char* picture : {"front.bmp", "rear.bmp", "left.bmp", "right.bmp"}) {
            if (std::string(bay) == "broken" && std::string(picture) == "left.bmp") continue;
            fs::copy_file(dir_ / "image" / picture, work / "bays" / bay / "image" / picture);
        }
    }
    const std::string history = (work / "history.sqlite").string();
    const CliResult batch = runCli(
        {"batch", (work / "bays").string(), "--out-root", (work / "out").string(), "--history", history, "--station",
         "S2", "--summary", (work / "summary.csv").string(), "-j", "2", "--certificates", "--snapshot", "top.bmp"});
    EXPECT_EQ(batch.status, 1) << batch.output;
    EXPECT_NE(batch.output.find("2 of 3 bays saved with the verdict good"), std::string::npos) << batch.output;
    for (const char* line : {"bayA                 saved   good  worst seam", "broken               failed  -"})
        EXPECT_NE(batch.output.find(line), std::string::npos) << line << "\n" << batch.output;

    // The same files as a single run of that bay writes.
    const CliResult single = runCli(runArgs(work / "single", {"--no-history"}));
    ASSERT_EQ(single.status, 0) << single.output;
    const nlohmann::json report = readJson(work / "single" / "report.json");
    ASSERT_GT(report["files"].size(), 20u);
    for (const nlohmann::json& f : report["files"]) {
        const std::string path = f["path"].get<std::string>();
        for (const char* bay : {"bayA", "bayB"})
            EXPECT_EQ(readBytes(work / "out" / bay / path), readBytes(work / "single" / path)) << bay << " " << path;
    }
    EXPECT_FALSE(fs::exists(work / "out" / "broken" / "Lut"));
    // Every bay gets its certificate, the failed one saying so.
    for (const char* bay : {"bayA", "bayB", "broken"}) EXPECT_TRUE(fs::exists(work / "out" / bay / "certificate.html"));
    for (const char* bay : {"bayA", "bayB"}) EXPECT_TRUE(fs::exists(work / "out" / bay / "top.bmp")) << bay;
    EXPECT_TRUE(fs::exists(work / "out" / "broken" / "calibration.log"));

    std::ifstream in(work / "summary.csv");
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_NE(rows[1].find(",bayA,yes,saved,good,"), std::string::npos) << rows[1];
    EXPECT_NE(rows[3].find(",broken,no,failed,,"), std::string::npos) << rows[3];

    const CliResult listed = runCli({"history", "list", "--history", history, "--json"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    std::multiset<std::string> recorded;
    for (const nlohmann::json& r : nlohmann::json::parse(listed.output)) {
        EXPECT_EQ(r["station"], "S2");
        // Each record names its bay's certificate where it was written.
        EXPECT_EQ(r["certificate"], fs::absolute(work / "out" / r["vehicle"].get<std::string>() / "certificate.html")
                                        .lexically_normal()
                                        .string());
        recorded.insert(r["vehicle"].get<std::string>() + " " + r["outcome"].get<std::string>());
    }
    EXPECT_EQ(recorded, (std::multiset<std::string>{"bayA saved", "bayB saved", "broken failed"}));
    removeFolder(work);
}

}  // namespace
}  // namespace mz::e2e
