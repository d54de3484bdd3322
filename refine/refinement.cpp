#include "refine/refinement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mz::refine {

void refineCorners(CameraParam* cameras, const std::array<std::span<const uint8_t>, kRigCameras>& pictures,
                   RefinementReport& report) {
    for (int k = 0; k < kRigCameras; ++k) {
        CameraParam& cam = cameras[k];
        auto& corners = report.corners[k];
        for (int i = 0; i < 6; ++i)
            corners[i] = {cam.imagePoints[i], cam.imagePoints[i], 0, 0, CornerVerdict::kNoPicture, {}};
        if (cam.pointCount < 6 || pictures[k].empty()) continue;
        const GreyFloatImage grey = greyFromBgr(pictures[k], cam.width, cam.height);
        for (int half = 0; half < 2; ++half) {
            const std::array<Point2F, 3> given = {cam.imagePoints[3 * half], cam.imagePoints[3 * half + 1],
                                                  cam.imagePoints[3 * half + 2]};
            const auto refined = refineTriangle(grey, cam, given);
            for (int v = 0; v < 3; ++v) {
                corners[3 * half + v] = refined[v];
                cam.imagePoints[3 * half + v] = refined[v].refined;
            }
        }
    }
}

CornerCovariances cornerCovariances(const RefinementReport& report) {
    constexpr double detector = kDetectorSigmaPx;
    CornerCovariances out{};
    for (int k = 0; k < kRigCameras; ++k) {
        for (int i = 0; i < 6; ++i) {
            const CornerRefinement& c = report.corners[k][i];
            if (c.verdict == CornerVerdict::kRefined) {
                out[k][i] = {c.covariance[0], c.covariance[1], c.covariance[2]};
            } else {
                out[k][i] = {detector * detector, 0, detector * detector};
            }
        }
    }
    return out;
}

void allowForPictureQuality(RefinementReport& report) {
    double sum = 0;
    int fitted = 0;
    for (const auto& camera : report.corners) {
        for (const CornerRefinement& c : camera) {
            if (c.verdict != CornerVerdict::kRefined) continue;
            sum += c.sideRms;
            ++fitted;
        }
    }
    report.pictureFactor = fitted > 0 ? std::pow(std::max(1.0, sum / fitted / kCleanSideRmsPx), kPictureExponent) : 1.0;
    for (SeamFigures& s : report.rig.after.seams) {
        if (s.predictedP95Mm >= 0) s.predictedP95Mm *= report.pictureFactor;
    }
}

void judge(RefinementReport& report) {
    report.good = true;
    report.warnings.clear();
    report.notes.clear();
    char line[400];
    const RigFigures& f = report.rig.after;
    for (const ContradictedCorner& d : report.rig.dropped) {
        report.good = false;
        std::snprintf(line, sizeof line,
                      "%s camera, corner %d: %.1f px from where the other corners put it, left out of the rig; "
                      "re-take the %s picture, and if it stays, clean or replace that marker",
                      kRefineCameraNames[d.camera], d.corner + 1, d.leftOutPx, kRefineCameraNames[d.camera]);
        report.warnings.push_back(line);
    }
    for (int k = 0; k < kRigCameras; ++k) {
        const CameraFigures& c = f.cameras[k];
        if (c.rmsPx > kPoorRmsPx || c.worstPx > kPoorCornerPx) {
            report.good = false;
            std::snprintf(line, sizeof line,
                          "%s camera, corner %d: %.1f px from where the rig puts it (RMS %.2f px); check that "
                          "point is on its triangle's corner",
                          kRefineCameraNames[k], c.worstCorner + 1, c.worstPx, c.rmsPx);
            report.warnings.push_back(line);
        }
    }
    if (!f.predicted) {
        report.good = false;
        report.warnings.push_back(
            "the seams' misalignment could not be predicted from these corners; check every "
            "point is on its triangle's corner and re-take the pictures");
    }
    for (int t = 0; f.predicted && t < kRigTriangles; ++t) {
        const SeamFigures& s = f.seams[t];
        if (s.predictedP95Mm <= kGoodSeamMm) continue;
        report.good = false;
        const int k = s.weakerCamera;
        const CameraFigures& c = f.cameras[k];
        int corner = k == s.cameraA ? 0 : 3;  // the camera's worst corner on this triangle
        for (int i = corner + 1, end = corner + 3; i < end; ++i) {
            if (c.residualPx[i] > c.residualPx[corner]) corner = i;
        }
        // Corners that scatter a lot are found on a soft or badly lit picture; a pose that is
        // uncertain with tidy corners asks for sharper ones all the same.
        const char* cause = c.rmsPx > kPoorRmsPx / 2
                                ? "its corners do not agree: check focus and light (no glare or shadow on the "
                                  "markers), clean the markers, then re-take the picture"
                                : "its corners leave the pose too uncertain: check focus and light, then re-take "
                                  "the picture";
        std::snprintf(line, sizeof line,
                      "seam %s/%s (T%d): predicted misalignment %.0f mm (95th percentile; good is up to %.0f mm); "
                      "%s camera, corner %d (%.1f px from where the rig puts it): %s",
                      kRefineCameraNames[s.cameraA], kRefineCameraNames[s.cameraB], t + 1, s.predictedP95Mm,
                      kGoodSeamMm, kRefineCameraNames[k], corner + 1, c.residualPx[corner], cause);
        report.warnings.push_back(line);
    }
    if (report.enabled) {
        for (int k = 0; k < kRigCameras; ++k) {
            for (int i = 0; i < 6; ++i) {
                const CornerRefinement& r = report.corners[k][i];
                if (r.verdict == CornerVerdict::kRefined) continue;
                std::snprintf(line, sizeof line, "%s camera, corner %d: kept the given point (%s)",
                              kRefineCameraNames[k], i + 1, verdictName(r.verdict));
                report.notes.push_back(line);
            }
        }
        if (!report.rig.refined && !report.rig.note.empty()) {
            report.notes.push_back("rig not refined: " + report.rig.note);
        }
    }
}

}  // namespace mz::refine
