// What the preview's quality panel shows after "Apply AVM": the refinement's verdict, each
// camera's fit and pose uncertainty, each seam's predicted misalignment, the corners left out, and
// the operator's own adjustment on top. The same figures the command line prints and reports.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "mz/mztypes.h"
#include "refine/refinement.h"

namespace mz::core {

inline constexpr std::array<const char*, 6> kQualityCameraColumns = {"RMS px",   "worst px", "height mm",
                                                                     "tilt deg", "roll deg", "heading deg"};
inline constexpr std::array<const char*, 2> kQualitySeamColumns = {"predicted mm (95%)", "worst gap mm"};

struct QualityRow {
    std::string label;
    std::vector<std::string> cells;
};

struct QualitySummary {
    bool available = false;  // a calibration ran and left figures
    bool good = false;
    std::string verdict;  // "Quality: good" or "Quality: poor", with the limit
    std::array<QualityRow, kCameraCount> cameras;
    std::array<QualityRow, refine::kRigTriangles> seams;
    std::vector<std::string> warnings;  // "poor": the camera, the corner, what to do
    std::vector<std::string> dropped;   // corners left out of the rig
    std::vector<std::string> notes;
};

QualitySummary summarizeQuality(const refine::RefinementReport& report);

// "shift 20 / 0 mm, turn -1.0 deg, side height +5 mm": what the adjustment buttons have added to
// the calibrated rig; "none" when nothing.
std::string adjustmentText(const CalibAdjust& adjust);

}  // namespace mz::core
