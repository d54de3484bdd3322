// The sample bay (seed 1) through the whole workflow, compared byte for byte with the outputs stored
// in stored_output.txt: the display unit replays these bytes, so no change may alter them unnoticed.
// With refinement off the workflow gives the detector's and the calibration library's results
// alone, stored in stored_output_literal.txt; those bytes never change.
//
// A deliberate change of output: run with MZ_UPDATE_STORED_OUTPUT=1 to rewrite the stored file,
// and commit it together with the change and the reason.
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "app/core/session.h"
#include "testing/scripted_ui.h"
#include "testing/simulated_bay.h"

namespace mz::core {
namespace {

namespace fs = std::filesystem;

std::string sha256(const void* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char byte[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", digest[i]);
        hex += byte;
    }
    return hex;
}

// The numbers a run's report carries: per camera the detector's result and points, then the
// calibration's result, image and world points and pose. %.9g keeps every float exact.
std::string reportNumbers(Session& session) {
    std::ostringstream out;
    char buffer[64];
    const auto number = [&](double v) {
        std::snprintf(buffer, sizeof buffer, " %.9g", v);
        out << buffer;
    };
    out << "calibration " << session.preview().rig().lastResult() << '\n';
    for (int c = 0; c < kCameraCount; ++c) {
        const CameraParam& cam = session.calibration().cameras[c];
        out << "camera " << c << " detection " << session.detection().result(c) << '\n' << " image";
        for (int i = 0; i < kPatternPointCount; ++i) {
            number(cam.imagePoints[i].x);
            number(cam.imagePoints[i].y);
        }
        out << "\n world";
        for (int i = 0; i < kPatternPointCount; ++i) {
            number(cam.worldPoints[i].x);
            number(cam.worldPoints[i].y);
        }
        out << "\n pose";
        for (float v : {cam.posX, cam.posY, cam.posZ, cam.rotX, cam.rotY, cam.rotZ}) number(v);
        out << '\n';
    }
    return out.str();
}

std::map<std::string, std::string> readStored(const fs::path& path) {
    std::map<std::string, std::string> stored;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find("  ");
        if (space != std::string::npos) stored[line.substr(space + 2)] = line.substr(0, space);
    }
    return stored;
}

struct StoredRun {
    bool refinement;
    bool stitchedPicture;  // false: Apply AVM stitches nothing, as a run without a screen does
    const char* name;
};

class StoredOutput : public ::testing::TestWithParam<StoredRun> {};

TEST_P(StoredOutput, SampleBayGivesTheStoredBytes) {
    const bool refinement = GetParam().refinement;
    const fs::path storedPath = fs::path(MZ_SOURCE_DIR) /
                                (refinement ? "tests/core/stored_output.txt" : "tests/core/stored_output_literal.txt");
    const fs::path bay = test::simulatedBay();
    test::TempDir out;
    test::ScriptedUi ui;
    ui.configAnswers.push_back((bay / "Config.bin").string());
    ui.folderAnswers.push_back(bay.string());
    ui.folderAnswers.push_back(out.path().string());
    SessionOptions options;
    options.programVersion = {1, 0, 0};
    options.saveDate = format::FlashDate{2026, 12, 8};
    options.stitchedPicture = GetParam().stitchedPicture;
    Session session(ui, options);

    session.configLoad();
    session.imageLoad();
    session.detection().wait();
    session.preview().rig().setRefinement(refinement);
    session.applyAvm();
    session.saveLut();
    ASSERT_EQ(ui.messageTexts(), std::vector<std::string>{"Output file saved successfully."});

    std::map<std::string, std::string> actual;
    for (const fs::path& root : {bay, out.path()}) {
        const std::string prefix = root == bay ? "bay/" : "out/";
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) continue;
            // The save's manifest carries its time and id, the one part of the outputs meant to differ.
            if (entry.path() == out.path() / format::manifestName(kCalibrationSet)) continue;
            const std::vector<uint8_t> bytes = test::readBytes(entry.path());
            actual[prefix + fs::relative(entry.path(), root).generic_string()] = sha256(bytes.data(), bytes.size());
        }
    }
    const std::string numbers = reportNumbers(session);
    actual["report numbers"] = sha256(numbers.data(), numbers.size());

    std::ostringstream listing;
    listing << "# SHA-256 of the sample bay (seed 1) and of the workflow's outputs; see stored_output_test.cpp\n";
    for (const auto& [name, hash] : actual) listing << hash << "  " << name << '\n';
    if (std::getenv("MZ_UPDATE_STORED_OUTPUT") && GetParam().stitchedPicture) {
        std::ofstream(storedPath) << listing.str();
        GTEST_SKIP() << "stored outputs rewritten: " << storedPath;
    }
    EXPECT_EQ(readStored(storedPath), actual) << "outputs changed; the numbers now:\n"
                                              << numbers << "\nthe listing now:\n"
                                              << listing.str();
}

INSTANTIATE_TEST_SUITE_P(Workflow, StoredOutput,
                         ::testing::Values(StoredRun{true, true, "Refined"}, StoredRun{false, true, "Literal"},
                                           StoredRun{true, false, "RefinedWithoutPicture"}),
                         [](const ::testing::TestParamInfo<StoredRun>& info) { return info.param.name; });

}  // namespace
}  // namespace mz::core
