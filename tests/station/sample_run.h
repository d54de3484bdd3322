// What the tests of every history backend share: a run as a station records it, with every kind
// of field filled (text that needs quoting, missing numbers, many files in an order no sort gives
// back), and two stations writing at once.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "station/history.h"
#include "station/history_record.h"

namespace mz::station {

inline constexpr int kFilesPerRun = 40;

inline HistoryRecord sampleRun(const std::string& vehicle, int index) {
    HistoryRecord r;
    r.recordedAt = "2026-12-0" + std::to_string(1 + index % 9) + "T08:00:00Z";
    r.station = "EOL-3";
    r.operatorName = "J\xc3\xbcrgen, \"night\" shift";
    r.vehicle = vehicle;
    r.softwareVersion = "0.1.0";
    r.model = "AVM 1.65";
    r.modelCode = 165;
    r.configPath = "/bay/Config.bin";
    r.configSha256 = std::string(64, 'c');
    r.mode = "pattern";
    r.calibrationResult = 0;
    r.verdict = index % 2 ? "poor" : "good";
    r.pixelSigma = 0.05 + index;
    r.profile = "sim";
    r.profileOverridden = index % 3 == 0;
    for (int c = 0; c < kStationCameras; ++c) {
        CameraEntry& k = r.cameras[c];
        k.detection = c == 2 ? std::optional<int64_t>() : std::optional<int64_t>(1);
        k.posed = true;
        k.posX = 10.5 * c;
        k.posY = -2328.25;
        k.posZ = 857;
        k.rotX = 38.8;
        k.rotY = -178.67;
        k.rotZ = 0.13;
        k.rmsPx = c == 1 ? std::optional<double>() : std::optional<double>(0.02 * c);
        k.tolerance = c == 2 ? "outside" : "within";
        k.toleranceNote = c == 2 ? "LEFT camera tilt 52.1 deg, design 45 +- 3 deg" : "";
    }
    r.pictures.push_back({"/bay/image/front.bmp", std::nullopt, 1036854, std::string(64, 'f')});
    for (int i = 0; i < kFilesPerRun; ++i) {
        r.files.push_back({"Lut/T" + std::to_string(i) + ".bin", i + 1, 1382400, std::string(64, 'a' + i % 6)});
    }
    r.outputFolder = "/bay/out";
    r.outputSet = outputSetIdentity(r.files);
    r.outcome = index % 2 ? Outcome::kRefused : Outcome::kSaved;
    r.message = std::to_string(index);
    r.details = R"({"seams": [1, 2]})";
    if (index % 2 == 0) r.certificatePath = "/bay/out/certificate " + std::to_string(index) + ".html";
    return r;
}

// Two processes appending runs records each to the history at location at once, vehicles VIN-A
// and VIN-B, runs numbered in their messages; then checks that every one of them is there, in
// order. create: the writers make the history themselves (both at once).
inline void writeAtOnceAndLoseNothing(const std::string& location, int runs, bool create) {
    std::vector<pid_t> children;
    for (const char* vehicle : {"VIN-A", "VIN-B"}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                const std::unique_ptr<History> history = openHistory(location, create);
                for (int i = 0; i < runs; ++i) history->append(sampleRun(vehicle, i));
                _exit(0);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s: %s\n", vehicle, e.what());
                _exit(1);
            }
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::unique_ptr<History> history = openHistory(location, false);
    for (const char* vehicle : {"VIN-A", "VIN-B"}) {
        const std::vector<HistoryRecord> written = history->list({vehicle, "", ""});
        ASSERT_EQ(written.size(), size_t(runs)) << vehicle;
        for (int i = 0; i < runs; ++i) EXPECT_EQ(written[i].message, std::to_string(i)) << vehicle;
    }
}

}  // namespace mz::station
