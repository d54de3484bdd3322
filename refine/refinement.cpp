#include "refine/refinement.h"

#include <cstdio>

namespace mz::refine {

void refineCorners(CameraParam* cameras, const std::array<std::span<const uint8_t>, kRigCameras>& pictures,
                   RefinementReport& report) {
    for (int k = 0; k < kRigCameras; ++k) {
        CameraParam& cam = cameras[k];
        auto& corners = report.corners[k];
        for (int i = 0; i < 6; ++i) corners[i] = {cam.imagePoints[i], cam.imagePoints[i], 0, 0, CornerVerdict::kNoPicture};
        if (cam.pointCount < 6 || pictures[k].empty()) continue;
        const GreyImage grey = greyFromBgr(pictures[k], cam.width, cam.height);
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

void judge(RefinementReport& report) {
    report.good = true;
    report.warnings.clear();
    report.notes.clear();
    char line[256];
    const RigFigures& f = report.rig.after;
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
