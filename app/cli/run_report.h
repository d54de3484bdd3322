// What calibration-cli run did, as the run records it and as its JSON report (--report) says it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "app/core/output_writer.h"
#include "app/core/session.h"
#include "refine/refinement.h"
#include "station/identity.h"
#include "station/profile.h"

namespace mz::cli {

inline constexpr const char* kHalfKeys[2] = {"left", "right"};

struct Timings {
    double load = 0, detect = 0, calibrate = 0, build = 0, save = 0, snapshot = 0;
};

// Everything the report and the summary say; filled as the run goes, written whatever the outcome.
struct RunRecord {
    std::string model;
    int32_t modelCode = -1;
    bool configured = false;
    bool applied = false;
    std::optional<int32_t> calibrationResult;
    std::optional<std::string> calibrationMessage;
    std::optional<refine::RefinementReport> refinement;
    std::array<int32_t, core::kCameraCount> detection{1, 1, 1, 1};
    std::array<bool, core::kCameraCount> corrected{};
    std::array<std::array<bool, 2>, core::kCameraCount> lost{};  // halves the detector did not fill
    core::SaveReport saved;
    Timings timings;
    std::string outputFolder;
    std::optional<std::string> error;
    bool survey = false;
    std::array<size_t, core::kCameraCount> surveyPairs{};
    std::optional<std::string> overlay;  // the picture the OSD masks were drawn from
    bool savedAll = false;               // the save ended done
    station::StationIdentity identity;
    // The station profile's verdict per camera, once the solved poses were checked against it.
    std::string profileName;
    std::optional<std::array<station::ToleranceCheck, core::kCameraCount>> tolerance;
    bool refused = false;  // a camera outside the profile and no override: nothing saved
};

nlohmann::json reportJson(const RunRecord& record, core::Session& session);

}  // namespace mz::cli
