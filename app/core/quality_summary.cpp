#include "app/core/quality_summary.h"

#include <cmath>
#include <cstdio>

namespace mz::core {

namespace {

std::string format(const char* pattern, double v) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, v);
    return text;
}

// An uncertainty the covariance could not give shows as "-", as in the terminal's table.
std::string sigma(double v, const char* pattern) { return v >= 0 ? "+-" + format(pattern, v) : "-"; }

}  // namespace

QualitySummary summarizeQuality(const refine::RefinementReport& r) {
    QualitySummary q;
    q.available = r.ran;
    if (!r.ran) return q;
    q.good = r.good;
    q.verdict = std::string("Quality: ") + (r.good ? "good" : "poor") +
                format(" (every seam within %.0f mm is good)", refine::kGoodSeamMm);
    const refine::RigFigures& f = r.rig.after;
    for (int c = 0; c < kCameraCount; ++c) {
        const refine::CameraFigures& k = f.cameras[c];
        q.cameras[c].label = refine::kRefineCameraNames[c];
        q.cameras[c].cells = {format("%.2f", k.rmsPx),
                              format("%.2f", k.worstPx) + " (corner " + std::to_string(k.worstCorner + 1) + ")",
                              sigma(k.heightSigmaMm, "%.1f"),
                              sigma(k.tiltSigmaDeg, "%.3f"),
                              sigma(k.rollSigmaDeg, "%.3f"),
                              sigma(k.headingSigmaDeg, "%.3f")};
    }
    for (int t = 0; t < refine::kRigTriangles; ++t) {
        const refine::SeamFigures& s = f.seams[t];
        q.seams[t].label = "T" + std::to_string(t + 1) + " " + refine::kRefineCameraNames[s.cameraA] + "/" +
                           refine::kRefineCameraNames[s.cameraB];
        q.seams[t].cells = {s.predictedP95Mm >= 0 ? std::to_string(std::lround(s.predictedP95Mm)) : "-",
                            format("%.1f", s.maxGapMm)};
    }
    q.warnings = r.warnings;
    for (const refine::ContradictedCorner& d : r.rig.dropped) {
        q.dropped.push_back(std::string(refine::kRefineCameraNames[d.camera]) + " camera, corner " +
                            std::to_string(d.corner + 1) + format(": %.1f px off, left out of the rig", d.leftOutPx));
    }
    q.notes = r.notes;
    if (!r.rig.note.empty()) q.notes.push_back("rig kept as calibrated: " + r.rig.note);
    return q;
}

std::string adjustmentText(const CalibAdjust& a) {
    if (a.shiftX == 0 && a.shiftY == 0 && a.rotation == 0 && a.sideHeightOffset == 0) return "none";
    return format("shift %.0f", a.shiftX) + format(" / %.0f mm", a.shiftY) + format(", turn %.1f deg", a.rotation) +
           format(", side height %+.0f mm", a.sideHeightOffset);
}

}  // namespace mz::core
