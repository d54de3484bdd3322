// Calibration from surveyed floor points instead of the triangle pattern: per camera, picture
// points and the floor positions measured for them. The view engines build each camera's floor
// mapping from its point pairs, so the pairs take the place of the pattern points and the
// triangle calibration does not run.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "mz/mztypes.h"

namespace mz::core {

inline constexpr int kSurveyMinPairs = 4;
inline constexpr int kSurveyMaxPairs = kMaxSurveyPairs;

struct SurveyPair {
    Point2F image;  // picture pixel
    Point2F floor;  // millimetres in the vehicle frame: x to the right, y to the front
};
using Survey = std::array<std::vector<SurveyPair>, kCameraCount>;

// {"front": [{"image": [x, y], "floor": [x, y]}, ...], "rear": ..., "left": ..., "right": ...}.
// Throws std::runtime_error naming the camera and pair of what is malformed.
Survey parseSurvey(const std::string& text);

// What makes the pairs unusable with the cameras' records, one sentence each naming camera and
// pair (empty when they are fine): fewer than 4 or more than 50 pairs, a point outside the
// picture or beyond 89 degrees off the lens axis, two pairs at the same picture or floor point,
// floor points on one line (or three of four on one line).
std::vector<std::string> checkSurvey(const Survey& survey, const std::array<CameraParam, kCameraCount>& cameras);

// The pose a camera's pairs give, in the conventions of mzcalib.h (position and height in mm,
// tilt, heading and roll in degrees), from the floor-to-ray homography of the pairs.
struct SurveyPose {
    double posX = 0, posY = 0, posZ = 0, rotX = 0, rotY = 0, rotZ = 0;
    double rmsPx = 0;  // how far the pairs' floor points land from their picture points, pixels
    double worstPx = 0;
};
SurveyPose surveyPose(const CameraParam& camera, const std::vector<SurveyPair>& pairs);

// Puts checked pairs into the camera records (pointCount, image points, world points (x, -y)
// as the calibration writes them) and the pose of each. The records point at the survey arrays
// of the state until usePatternPoints.
void applySurveyToCameras(CalibrationState& state, const Survey& survey, std::array<SurveyPose, kCameraCount>& poses);
void usePatternPoints(CalibrationState& state);

}  // namespace mz::core
