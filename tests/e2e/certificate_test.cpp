// The calibration certificate of runs on a simulated bay: a page that names exactly the files on
// disk, shows its pictures, escapes what the operator typed, and never claims a refused save.
#include <gtest/gtest.h>

#include <fstream>

#include "format/output_set.h"
#include "format/picture.h"
#include "station/checksum.h"
#include "tests/e2e/e2e_util.h"

namespace mz::e2e {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> fromBase64(const std::string& text) {
    static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (const char ch : text) {
        if (ch == '=') break;
        bits = bits << 6 | static_cast<uint32_t>(kDigits.find(ch));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<uint8_t>(bits >> count & 0xFF));
        }
    }
    return out;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Every element that holds others is closed as often as it is opened.
void expectBalanced(const std::string& html) {
    for (const char* tag : {"html", "head", "body", "main", "section", "div", "table", "tr", "figure", "ul"}) {
        const std::string open = std::string("<") + tag;
        const size_t opened = occurrences(html, open + ">") + occurrences(html, open + " ");
        EXPECT_EQ(opened, occurrences(html, std::string("</") + tag + ">")) << tag;
    }
}

char hexDigit(unsigned v) { return "0123456789abcdef"[v & 15]; }
std::string hex8(uint32_t v) {
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4) s[i] = hexDigit(v);
    return s;
}

class Certificate : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = freshFolder("certificate_bay");
        const CliResult r = runCli({"simulate", "--out", dir_.string(), "--seed", "1"});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static void TearDownTestSuite() { removeFolder(dir_); }

    static std::vector<std::string> runArgs(const fs::path& out, const std::vector<std::string>& more) {
        std::vector<std::string> args = {"run",   "--config",  (dir_ / "Config.bin").string(), "--data", dir_.string(),
                                         "--out", out.string()};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    static inline fs::path dir_;
};

TEST_F(Certificate, NamesEverySavedFileShowsItsPicturesAndEscapesTheVehicle) {
    const fs::path work = freshFolder("certificate_saved");
    const fs::path page = work / "certificate.html";
    const std::string history = (work / "history.sqlite").string();
    const std::string profile = std::string(MZ_SOURCE_DIR) + "/docs/simulated_station_profile.json";
    const CliResult r = runCli(
        runArgs(work / "out", {"--report", (work / "report.json").string(), "--vehicle", "VIN<b>&\"7\"", "--operator",
                               "Op", "--certificate", page.string(), "--history", history, "--profile", profile}));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string html = readText(page);
    EXPECT_LE(html.size(), 1500u * 1024) << "pictures are meant to be scaled down";
    expectBalanced(html);
    EXPECT_NE(html.find("VIN&lt;b&gt;&amp;&quot;7&quot;"), std::string::npos);
    EXPECT_EQ(html.find("VIN<b>"), std::string::npos) << "the vehicle id must not become markup";
    EXPECT_NE(html.find("Calibration saved"), std::string::npos);
    EXPECT_NE(html.find("Every camera lies within the tolerances"), std::string::npos);

    // Every saved file with the checksums of what is on disk, as the history and the manifest have them.
    const nlohmann::json report = readJson(work / "report.json");
    ASSERT_EQ(report["files"].size(), 23u);
    for (const nlohmann::json& f : report["files"]) {
        const fs::path file = work / "out" / f["path"].get<std::string>();
        const std::optional<station::FileDigest> digest = station::fileDigest(file);
        ASSERT_TRUE(digest) << file;
        EXPECT_EQ(occurrences(html, digest->sha256), 1u) << file;
        EXPECT_EQ(occurrences(html, hex8(format::crc32(readBytes(file)))), 1u) << file;
    }

    // Four camera pictures, the top view and the bowl view, each a picture that decodes.
    const std::string prefix = "data:image/jpeg;base64,";
    size_t pictures = 0;
    for (size_t at = html.find(prefix); at != std::string::npos; at = html.find(prefix, at + 1)) {
        const size_t start = at + prefix.size(), end = html.find('"', start);
        ASSERT_NE(end, std::string::npos);
        const format::PictureRead read = format::decodeJpeg(fromBase64(html.substr(start, end - start)));
        ASSERT_TRUE(read.picture) << read.problem;
        EXPECT_GT(read.picture->width, 100);
        ++pictures;
    }
    EXPECT_EQ(pictures, 6u);
    removeFolder(work);
}

TEST_F(Certificate, ARefusedRunSaysSoAndClaimsNoFilesAndNoInputIsReplaced) {
    const fs::path work = freshFolder("certificate_refused");
    nlohmann::json tight = readJson(std::string(MZ_SOURCE_DIR) + "/docs/simulated_station_profile.json");
    tight["cameras"]["rear"]["height"]["tolerance"] = 0.001;
    const std::string tightFile = (work / "tight.json").string();
    std::ofstream(tightFile) << tight.dump();
    const fs::path page = work / "refused.html";
    const CliResult r =
        runCli(runArgs(work / "out", {"--no-history", "--profile", tightFile, "--certificate", page.string()}));
    EXPECT_NE(r.status, 0);
    const std::string html = readText(page);
    expectBalanced(html);
    EXPECT_NE(html.find("Calibration refused: no output files were saved"), std::string::npos);
    EXPECT_NE(html.find("REAR camera height"), std::string::npos);
    EXPECT_NE(html.find("No output files were saved by this run."), std::string::npos);
    EXPECT_EQ(html.find("AVM2D_"), std::string::npos) << "a refused run names no output file";

    // A run that stops before anything is read still gets its page, saying why.
    const CliResult early = runCli(runArgs(
        work / "out", {"--no-history", "--snapshot", (dir_ / "Config.bin").string(), "--certificate", page.string()}));
    EXPECT_NE(early.status, 0);
    const std::string stopped = readText(page);
    expectBalanced(stopped);
    EXPECT_NE(stopped.find("Calibration failed: no output files were saved"), std::string::npos);
    EXPECT_NE(stopped.find("--snapshot ("), std::string::npos);

    const std::vector<uint8_t> config = readBytes(dir_ / "Config.bin");
    const CliResult onInput =
        runCli(runArgs(work / "out", {"--no-history", "--certificate", (dir_ / "Config.bin").string()}));
    EXPECT_NE(onInput.status, 0);
    EXPECT_NE(onInput.output.find("--certificate"), std::string::npos) << onInput.output;
    EXPECT_EQ(readBytes(dir_ / "Config.bin"), config);
    removeFolder(work);
}

}  // namespace
}  // namespace mz::e2e
