// The command-line program's own parts: argument parsing, the flash data decoder, the terminal Ui.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <tuple>

#include <unistd.h>

#include "app/cli/batch_command.h"
#include "app/cli/command_line.h"
#include "app/cli/detect_command.h"
#include "app/cli/folded_output.h"
#include "app/cli/inspect_command.h"
#include "app/cli/option_checks.h"
#include "app/cli/parking_guide_command.h"
#include "app/cli/run_command.h"
#include "app/cli/terminal_ui.h"
#include "format/flash_data.h"

namespace mz::cli {
namespace {

TEST(LutVersion, TwoDecimalNumbersOnly) {
    int major = -1, minor = -1;
    EXPECT_TRUE(parseLutVersion("12.34", major, minor));
    EXPECT_EQ(major, 12);
    EXPECT_EQ(minor, 34);
    EXPECT_TRUE(parseLutVersion("0.5", major, minor));
    EXPECT_EQ(minor, 5);
    for (const char* bad : {"", "1", "1.", ".1", "1.2.3", "-1.0", "1.x", "12345.0", " 1.0"}) {
        EXPECT_FALSE(parseLutVersion(bad, major, minor)) << bad;
    }
}

TEST(PointCorrections, WholeCamerasAndSingleHalves) {
    const PointCorrections p = parsePointCorrections(
        R"({"front": [[1,2],[3,4],[5,6],[7,8],[9,10],[11,12]], "right": {"right": [[1.5,2],[3,4],[5,6]]}})");
    ASSERT_EQ(p.size(), 2u);
    const PointCorrection& front = p.at(0);
    ASSERT_TRUE(front.halves[0] && front.halves[1]);
    EXPECT_FLOAT_EQ((*front.halves[1])[2].y, 12);
    const PointCorrection& right = p.at(3);
    EXPECT_FALSE(right.halves[0]);
    ASSERT_TRUE(right.halves[1]);
    EXPECT_FLOAT_EQ((*right.halves[1])[0].x, 1.5f);
}

TEST(PointCorrections, MalformedTextNamesTheProblem) {
    const std::pair<const char*, const char*> cases[] = {
        {"not json", "not a JSON object"},
        {"[1, 2]", "not a JSON object"},
        {R"({"roof": []})", "unknown camera \"roof\""},
        {R"({"rear": [[1,2]]})", "rear must hold 6 points"},
        {R"({"rear": {"middle": []}})", "unknown half \"middle\""},
        {R"({"left": {"left": [[1,2],[3,4],[5]]}})", "point 3 is not [x, y]"},
        {R"({"left": {"left": [[1,2],[3,4],["a",6]]}})", "point 3 is not [x, y]"},
        {R"({"left": {"left": [[1,2],[3,4],[1e300,6]]}})", "is not finite"},
        {R"({"left": 5})", "must be 6 points"},
    };
    for (const auto& [text, expected] : cases) {
        try {
            parsePointCorrections(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << text << " -> " << e.what();
        }
    }
}

std::vector<uint8_t> payloadOf(size_t n) {
    std::vector<uint8_t> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i * 7 + 3);
    return p;
}

TEST(DetectAndGuideArguments, RangesAndCodesOrRefusals) {
    EXPECT_EQ(parseLayoutCodes("3,2,1,0"), (std::array<int, 4>{3, 2, 1, 0}));
    for (const char* bad : {"", "0,1,2", "0,1,2,3,", "0,1,2,3,0", "0,1,2,4", "0,1,-1,3", "0,,2,3", "00,1,2,3"}) {
        EXPECT_THROW(parseLayoutCodes(bad), std::invalid_argument) << bad;
    }
    EXPECT_EQ(parseSteerRange("-35:35:5").size(), 15u);
    EXPECT_EQ(parseSteerRange("-35:35:5").back(), 35);
    EXPECT_EQ(parseSteerRange("0"), std::vector<int>{0});
    EXPECT_EQ(parseSteerRange("-89:89:178"), (std::vector<int>{-89, 89}));
    EXPECT_EQ(parseSteerRange("-10:10:25"), std::vector<int>{-10});
    for (const char* bad : {"", "90", "-90:0:5", "0:90:5", "5:-5:1", "0:10:0", "0:10:-1", "0:10", "0:10:5:1", "a:b:c",
                            "1.5", "0:10:", "99999999999"}) {
        EXPECT_THROW(parseSteerRange(bad), std::invalid_argument) << bad;
    }
}

// Every numeric option of every subcommand: NaN, infinities and values outside the range are
// refused while the command line is read, naming the option and the range.
TEST(NumericOptions, RefusedWithTheOptionAndItsRangeNamed) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "mz_cli_options";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "file").string(), folder = dir.string();
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        std::fclose(f);
    }
    const std::vector<std::string> bowl = {"bowl", "--config", file, "--data", folder, "--report", file};
    const std::vector<std::string> guide = {"parking-guide", "--config", file, "--report", file};
    const std::vector<std::string> simulate = {"simulate", "--out", folder};
    const std::tuple<std::vector<std::string>, std::string, std::string, std::string> cases[] = {
        {bowl, "--fov", "nan", "--fov: must be a number within 1..170"},
        {bowl, "--fov", "inf", "--fov: must be a number within 1..170"},
        {bowl, "--fov", "171", "--fov: must be a number within 1..170"},
        {bowl, "--first-id", "65535", "--first-id: must be a whole number within 1..65531"},
        {bowl, "--first-id", "0", "--first-id: must be a whole number within 1..65531"},
        {guide, "--wheel-base", "nan", "--wheel-base: must be a number within 1..100000"},
        {guide, "--line-spacing", "-inf", "--line-spacing: must be a number within 0..100000"},
        {guide, "--points", "13", "--points: must be a whole number within 14..100000"},
        {guide, "--draw", "90", "--draw: must be a whole number within -89..89"},
        {guide, "--start-offset", "1e9", "--start-offset: must be a whole number within -100000..100000"},
        {simulate, "--marker-length", "nan", "--marker-length: must be a number within 100..5000"},
        {simulate, "--light", "NaN", "--light: must be a number within 0..0.9"},
        {simulate, "--jpeg", "50.5", "--jpeg: must be a whole number within 0..100"},
    };
    for (const auto& [command, option, value, expected] : cases) {
        SCOPED_TRACE(option + " " + value);
        CLI::App app;
        CommandLine line;
        line.addTo(app);
        std::vector<std::string> args = command;
        args.insert(args.end(), {option, value});
        std::reverse(args.begin(), args.end());  // CLI11 takes the arguments last first
        try {
            app.parse(args);
            ADD_FAILURE() << "accepted";
        } catch (const CLI::ValidationError& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    }
    std::filesystem::remove_all(dir);

    // Checked when the command runs, before any file is read.
    int major = 0, minor = 0;
    for (const char* bad : {"100.5", "0.0", "1.100", "1.x"})
        EXPECT_THROW(parseDataVersion("--lut-version", bad, major, minor), std::invalid_argument) << bad;
    parseDataVersion("--lut-version", "99.0", major, minor);
    EXPECT_EQ(major, 99);
    EXPECT_NO_THROW(checkGuideWork(179, 1000));
    try {
        checkGuideWork(179, 100000);
        ADD_FAILURE() << "17900000 guide points accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("--steer gives 179 angles of --points 100000"), std::string::npos);
    }
}

TEST(LineFolder, ARunOfOneLineBecomesOneLineWithItsCount) {
    std::string out;
    auto emit = [&out](const std::string& t) { out += t; };
    LineFolder f;
    for (int i = 0; i < 72; ++i) f.line("Singular Matrix!\n", emit);
    f.line("[information] saved\n", emit);
    f.line("a\n", emit);
    f.line("a\n", emit);
    f.flush(emit);
    f.line("a\n", emit);  // after a pause it is shown again, on its own
    f.flush(emit);
    EXPECT_EQ(out, "Singular Matrix! (72 times)\n[information] saved\na (2 times)\na\n");
}

TEST(FlashDecoder, ReadsBackWhatTheWriterWrote) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{70000}}) {
        const auto file = format::encodeFlashData(payloadOf(n), 0x10023, {2026, 12, 6}, 12, 34);
        const FlashFileInfo f = decodeFlashFile(file);
        EXPECT_TRUE(f.problems.empty()) << n << ": " << (f.problems.empty() ? "" : f.problems[0]);
        EXPECT_EQ(f.identifier, 0x0023);  // the low 16 bits
        EXPECT_EQ(f.payloadLength, n);
        EXPECT_EQ(f.blocks, (n + 1023) / 1024);
        EXPECT_EQ(f.year, 2026);
        EXPECT_EQ(f.month, 12);
        EXPECT_EQ(f.day, 6);
        EXPECT_EQ(f.major, 12);
        EXPECT_EQ(f.minor, 34);
    }
}

TEST(FlashDecoder, FindsEveryKindOfDamage) {
    const auto sound = format::encodeFlashData(payloadOf(3000), 1, {2026, 1, 1}, 1, 0);

    auto flipped = sound;
    flipped[32 + 1025 + 10] ^= 0x01;  // payload byte of block 1
    FlashFileInfo f = decodeFlashFile(flipped);
    ASSERT_EQ(f.badBlocks, std::vector<uint64_t>{1});
    EXPECT_FALSE(f.problems.empty());

    flipped = sound;
    flipped.back() ^= 0x80;  // checksum byte of the last, short block
    EXPECT_EQ(decodeFlashFile(flipped).badBlocks, std::vector<uint64_t>{2});

    flipped = sound;
    flipped[12] ^= 0x01;  // version word, header checksum no longer matches
    f = decodeFlashFile(flipped);
    EXPECT_NE(f.headerChecksum, f.expectedHeaderChecksum);
    EXPECT_FALSE(f.problems.empty());

    auto truncated = sound;
    truncated.resize(truncated.size() - 5);
    f = decodeFlashFile(truncated);
    EXPECT_FALSE(f.problems.empty());
    EXPECT_EQ(f.blocks, 2u) << "complete blocks are still checked";

    EXPECT_FALSE(decodeFlashFile(std::vector<uint8_t>(31, 0)).problems.empty());

    // A header that claims more payload than the file holds (length words are in the checksum).
    auto longer = sound;
    longer[8] = 0x01;
    longer[30] = static_cast<uint8_t>(longer[30] + 1);
    f = decodeFlashFile(longer);
    EXPECT_FALSE(f.problems.empty());
}

TEST(FlashDecoder, BcdDigits) {
    EXPECT_EQ(fromBcd(0x2026), 2026);
    EXPECT_EQ(fromBcd(0x0101), 101);
    EXPECT_EQ(fromBcd(0x20A6), -1);
}

// Why batch refuses these options; empty when it takes them.
std::string batchRefusal(const BatchOptions& o) {
    try {
        batchBays(o);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return {};
}

TEST(BatchBays, FromAListAFolderOrOneByOneAndEachRefusalNamed) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(::testing::TempDir()) / ("mz_batch_" + std::to_string(getpid()));
    fs::remove_all(root);
    for (const char* bay : {"plant/b2", "plant/b1", "other/b1", "noconfig"}) {
        fs::create_directories(root / bay / "image");
        if (std::string(bay) != "noconfig") std::ofstream(root / bay / "Config.bin") << "c";
    }
    fs::create_directories(root / "plant" / "notes");
    const auto bays = [](BatchOptions o) {
        std::vector<std::string> out;
        for (const Bay& b : batchBays(o))
            out.push_back(fs::path(b.folder).lexically_relative(o.outRoot).string() + "=" + b.vehicle);
        return out;
    };

    BatchOptions o;
    o.outRoot = root.string();  // only to name the folders relative to it here
    o.list = (root / "plant" / "bays.csv").string();
    std::ofstream(o.list) << "# bay, vehicle\n b2 ,\tWVW-2\n\n" << (root / "plant" / "b1").string() << "\n";
    EXPECT_EQ(bays(o), (std::vector<std::string>{"plant/b2=WVW-2", "plant/b1=b1"}));

    // A folder of bays: its bay folders in name order, the rest left alone.
    o.list.clear();
    o.bays = {(root / "plant").string()};
    EXPECT_EQ(bays(o), (std::vector<std::string>{"plant/b1=b1", "plant/b2=b2"}));

    o.bays = {(root / "plant" / "b1").string(), (root / "other" / "b1").string()};
    EXPECT_NE(batchRefusal(o).find("two bays would write into this output folder"), std::string::npos)
        << batchRefusal(o);
    o.outRoot.clear();
    EXPECT_EQ(batchBays(o).size(), 2u) << "each bay into its own folder";

    o.bays = {(root / "noconfig").string()};
    EXPECT_NE(batchRefusal(o).find("noconfig: no Config.bin in it; give --config"), std::string::npos)
        << batchRefusal(o);
    o.run.config = (root / "plant" / "b1" / "Config.bin").string();
    EXPECT_EQ(batchBays(o).size(), 1u);
    o.bays = {(root / "plant" / "notes").string(), (root / "plant" / "b1").string()};
    EXPECT_NE(batchRefusal(o).find("notes: not a bay folder"), std::string::npos) << batchRefusal(o);
    o.bays = {(root / "other").string(), (root / "plant").string()};
    EXPECT_NE(batchRefusal(o).find("other: not a bay folder"), std::string::npos) << "a folder of bays comes alone";
    o.list = (root / "plant" / "bays.csv").string();
    EXPECT_NE(batchRefusal(o).find("not both"), std::string::npos) << batchRefusal(o);
    fs::remove_all(root);
}

TEST(BatchBays, EachBayReadsItsOwnFilesAndWritesItsOwnSnapshot) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(::testing::TempDir()) / ("mz_batch_files_" + std::to_string(getpid()));
    fs::remove_all(root);
    for (const char* bay : {"b1", "b2"}) {
        fs::create_directories(root / bay / "image");
        std::ofstream(root / bay / "Config.bin") << "c";
    }
    std::ofstream(root / "b1" / "fix.json") << "{}";
    BatchOptions o;
    o.bays = {(root / "b1").string(), (root / "b2").string()};
    o.run.points = "fix.json";
    EXPECT_NE(batchRefusal(o).find("b2: no fix.json in it (--points names a file in each bay folder)"),
              std::string::npos)
        << batchRefusal(o);
    std::ofstream(root / "b2" / "fix.json") << "{}";
    o.run.overlay = (root / "lines.bmp").string();
    std::ofstream(o.run.overlay) << "b";
    o.run.snapshot = "top.bmp";
    const std::vector<Bay> bays = batchBays(o);
    ASSERT_EQ(bays.size(), 2u);
    const RunOptions run = bayRun(o, bays[1], root / "out" / "b2");
    EXPECT_EQ(run.points, (root / "b2" / "fix.json").string());
    EXPECT_EQ(run.overlay, o.run.overlay) << "one overlay picture serves every bay";
    EXPECT_EQ(run.snapshot, (root / "out" / "b2" / "top.bmp").string());
    EXPECT_EQ(run.vehicle, "b2");

    // One vehicle's points, survey or picture cannot serve every bay, nor one snapshot take them all.
    o.run.survey = (root / "b1" / "fix.json").string();
    EXPECT_NE(batchRefusal(o).find("--survey " + o.run.survey + ": one vehicle's file cannot serve every bay"),
              std::string::npos)
        << batchRefusal(o);
    o.run.survey.clear();
    o.run.snapshot = (root / "top.bmp").string();
    EXPECT_NE(batchRefusal(o).find("every bay would write this one file"), std::string::npos) << batchRefusal(o);
    o.run.snapshot.clear();
    o.ownOptions = {{"--report", "r.json"}};
    EXPECT_NE(batchRefusal(o).find("--report is not a batch option: each bay's report is calibration-report.json"),
              std::string::npos)
        << batchRefusal(o);

    // With --quad a bay is a folder holding its four-quadrant picture, image/ or not.
    fs::create_directories(root / "quads" / "q1");
    fs::create_directories(root / "quads" / "q2");
    std::ofstream(root / "quads" / "q1" / "quad.bmp") << "q";
    o = {};
    o.run.config = (root / "b1" / "Config.bin").string();
    o.run.quad = "quad.bmp";
    o.bays = {(root / "quads").string()};
    ASSERT_EQ(batchBays(o).size(), 1u);
    EXPECT_EQ(bayRun(o, batchBays(o)[0], root / "q1").quad, (root / "quads" / "q1" / "quad.bmp").string());
    o.bays = {(root / "quads" / "q2").string()};
    EXPECT_NE(batchRefusal(o).find("q2: neither a bay (no quad.bmp in it (--quad))"), std::string::npos)
        << batchRefusal(o);
    fs::remove_all(root);
}

TEST(TerminalUi, AnswersChoosersFromTheCommandLineAndKeepsMessages) {
    TerminalAnswers answers;
    answers.configuration = "cfg.bin";
    answers.imageFolder = "data";
    answers.saveFolder = "out";
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    TerminalUi ui(answers, out, out);
    EXPECT_EQ(ui.chooseConfiguration(""), "cfg.bin");
    EXPECT_EQ(ui.chooseFolder(core::kImageLoadChooser, ""), "data");
    EXPECT_EQ(ui.chooseFolder(core::kDataSaveChooser, "data"), "out");
    EXPECT_FALSE(ui.chooseFile({}).has_value());

    ui.showMessage("Output file saved successfully.", core::kAppTitle, core::MessageIcon::kInformation);
    // The progress bar stays off a file that is not a terminal.
    ui.showProgress();
    ui.setProgressPosition(50);
    ui.hideProgress();
    ui.showMessage("Thread creation failed.\n\nWait", core::kAppTitle, core::MessageIcon::kError);
    ASSERT_EQ(ui.messages().size(), 2u);
    EXPECT_EQ(ui.messages()[1].icon, core::MessageIcon::kError);
    EXPECT_EQ(ui.messages()[1].text, "Thread creation failed.\n\nWait");
    EXPECT_TRUE(ui.shown("Output file saved successfully."));

    std::rewind(out);
    char buffer[512] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, n),
              "[information] Ovantis Calibration Tool: Output file saved successfully.\n"
              "[error] Ovantis Calibration Tool: Thread creation failed.\n    \n    Wait\n");
}

}  // namespace
}  // namespace mz::cli
