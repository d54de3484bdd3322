// A station profile: the design pose of every camera and how far the solved pose may stray from
// it before the camera is deemed mounted wrong. Text: JSON, documented in the user's guide.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "station/history_record.h"

namespace mz::station {

// The pose's fields in the profile's words (the report's posX, posY, posZ, rotX, rotZ, rotY).
enum PoseField { kPosX, kPosY, kHeight, kTilt, kRoll, kHeading };
inline constexpr int kPoseFields = 6;
inline constexpr const char* kPoseFieldKeys[kPoseFields] = {"x", "y", "height", "tilt", "roll", "heading"};

// The cameras as the operator's messages name them.
inline constexpr const char* kStationCameraWords[kStationCameras] = {"FRONT", "REAR", "LEFT", "RIGHT"};

struct DesignValue {
    double design = 0;
    double tolerance = 0;  // either side of the design
};

struct CameraDesign {
    std::array<DesignValue, kPoseFields> fields{};
    std::string check;  // what to look at when the camera is outside, "the mirror mount"
};

struct StationProfile {
    std::string name;
    std::array<CameraDesign, kStationCameras> cameras{};
};

// Throws std::runtime_error starting with source and naming the field: missing, unknown, not a
// number, or absurd (a tolerance not above zero, a height below the floor, a position or angle
// beyond any vehicle).
StationProfile parseProfile(const std::string& text, const std::string& source);

// A solved pose in the profile's fields: mm and degrees.
using PoseValues = std::array<double, kPoseFields>;

struct ToleranceCheck {
    bool within = true;
    std::array<bool, kPoseFields> fieldOutside{};  // by PoseField
    // Per field outside, in the operator's words: "LEFT camera tilt 52.1 deg, design 45 +- 3
    // deg: check the mirror mount".
    std::vector<std::string> outside;
};

std::array<ToleranceCheck, kStationCameras> checkTolerances(const StationProfile& profile,
                                                            const std::array<PoseValues, kStationCameras>& poses);

}  // namespace mz::station
