// Everything a configuration file puts into the program: the records handed to the libraries and
// the view engines made for them. The engines keep pointers into these records, so the state
// never moves or copies.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/config_model.h"
#include "mz/mztypes.h"

namespace mz::core {

inline constexpr int kCameraCount = MZ_CAMERA_COUNT;  // front, rear, left, right
inline constexpr int kMultiviewSlots = 3;
inline constexpr int kSingleviewSlots = 10;
inline constexpr int kPatternPointCount = 6;
// Surveyed point pairs a camera may have instead of the pattern's six (the homography takes 50).
inline constexpr int kMaxSurveyPairs = 50;

enum CameraSlot { kFront = MZ_CAMERA_FRONT, kRear = MZ_CAMERA_REAR, kLeft = MZ_CAMERA_LEFT, kRight = MZ_CAMERA_RIGHT };

struct CalibrationState {
    CalibrationState();
    ~CalibrationState();
    CalibrationState(const CalibrationState&) = delete;
    CalibrationState& operator=(const CalibrationState&) = delete;

    void releaseMultiviews();
    void releaseSingleviews();

    int multiviewCount() const { return header[21]; }
    int parkingGuideLevel() const { return header[23]; }
    // The single-view count of a configuration that loaded (0 to 10).
    int singleviewCount() const;

    std::array<uint8_t, format::kConfigHeaderSize> header{};
    std::string modelName;
    int32_t modelCode = -1;

    std::array<CameraParam, kCameraCount> cameras{};
    std::array<std::array<Point2F, kPatternPointCount>, kCameraCount> imagePoints{};
    std::array<std::array<Point2F, kPatternPointCount>, kCameraCount> worldPoints{};
    std::array<std::array<Point2F, kMaxSurveyPairs>, kCameraCount> surveyImagePoints{};
    std::array<std::array<Point2F, kMaxSurveyPairs>, kCameraCount> surveyWorldPoints{};

    std::array<ViewHandle, kMultiviewSlots> multiviewHandles{};
    std::array<MultiviewParam, kMultiviewSlots> multiviews{};
    std::array<std::vector<uint8_t>, kMultiviewSlots> carImages;
    std::array<bool, kMultiviewSlots> hasCarImage{};

    std::array<int32_t, 4> singleviewHeader{};
    std::array<ViewHandle, kSingleviewSlots> singleviewHandles{};
    std::array<SingleviewParam, kSingleviewSlots> singleviews{};
    std::array<std::array<uint8_t, format::kSingleviewPayloadSize>, kSingleviewSlots> singleviewRaw{};
};

// The camera a single view of record type 40 to 49 shows.
int cameraOfSingleviewType(int type);
// The view index stored at the start of a single view's raw record.
int32_t singleviewIndex(const std::array<uint8_t, format::kSingleviewPayloadSize>& raw);
// The look-up-table file name of a single view's raw record (offset 4, at most 19 characters).
std::string singleviewFileName(const std::array<uint8_t, format::kSingleviewPayloadSize>& raw);

// Names of the view indices 0 to 9 and the look-up-table files that belong to them.
inline constexpr const char* kSingleviewNames[kSingleviewSlots] = {
    "VIEW_FRONT",      "VIEW_FRONT_FULL", "VIEW_REAR",  "VIEW_REAR_FULL",   "VIEW_LEFT",
    "VIEW_LEFT_FRONT", "VIEW_LEFT_REAR",  "VIEW_RIGHT", "VIEW_RIGHT_FRONT", "VIEW_RIGHT_REAR"};
inline constexpr const char* kSingleviewFileNames[kSingleviewSlots] = {
    "Frontvw.bin",     "Frontfv.bin",    "Rearvw.bin",  "Rearfv.bin",       "Leftvw.bin",
    "LeftFrontvw.bin", "LeftRearvw.bin", "Rightvw.bin", "RightFrontvw.bin", "RightRearvw.bin"};

// The camera whose picture the single view of a view index shows; -1 outside 0 to 9.
int cameraOfViewIndex(int32_t viewIndex);

}  // namespace mz::core
