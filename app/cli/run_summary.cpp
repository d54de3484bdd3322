#include "app/cli/run_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/cli/camera_keys.h"

namespace mz::cli {

namespace {

std::string sigmaText(double v, const char* format) {
    if (!(v >= 0)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return std::string("+-") + text;
}

void printRefinement(const RunRecord& record) {
    if (!record.refinement) return;
    const refine::RefinementReport& r = *record.refinement;
    std::printf("Refinement %s: corners %.1f ms, rig %.1f ms%s%s\n", r.enabled ? "on" : "off (--literal)", r.cornerMs,
                r.rigMs, r.rig.note.empty() ? "" : "; rig kept: ", r.rig.note.c_str());
    std::printf("%-6s %8s %8s %8s %8s %9s %8s %8s %8s %8s\n", "camera", "rms px", "worst px", "corner", "before",
                "height mm", "tilt deg", "roll deg", "head deg", "moved px");
    for (int c = 0; c < core::kCameraCount; ++c) {
        const refine::CameraFigures& f = r.rig.after.cameras[c];
        double moved = 0;
        for (const refine::CornerRefinement& p : r.corners[c]) moved = std::max(moved, double(p.moved));
        std::printf("%-6s %8.2f %8.2f %8d %8.2f %9s %8s %8s %8s %8.2f\n", kCameraKeys[c], f.rmsPx, f.worstPx,
                    f.worstCorner + 1, r.rig.before.cameras[c].rmsPx, sigmaText(f.heightSigmaMm, "%.1f").c_str(),
                    sigmaText(f.tiltSigmaDeg, "%.3f").c_str(), sigmaText(f.rollSigmaDeg, "%.3f").c_str(),
                    sigmaText(f.headingSigmaDeg, "%.3f").c_str(), moved);
    }
    std::printf("Seam gaps (mm, worst corner):");
    for (int t = 0; t < refine::kRigTriangles; ++t) {
        const refine::SeamFigures& s = r.rig.after.seams[t];
        std::printf(" T%d %s/%s %.1f (before %.1f)%s", t + 1, kCameraKeys[s.cameraA], kCameraKeys[s.cameraB],
                    s.maxGapMm, r.rig.before.seams[t].maxGapMm, t + 1 < refine::kRigTriangles ? "," : "\n");
    }
    std::printf("Seams predicted (mm, 95th percentile; good up to %.0f):", refine::kGoodSeamMm);
    for (int t = 0; t < refine::kRigTriangles; ++t) {
        const refine::SeamFigures& s = r.rig.after.seams[t];
        std::printf(" T%d %s/%s %s%s", t + 1, kCameraKeys[s.cameraA], kCameraKeys[s.cameraB],
                    s.predictedP95Mm >= 0 ? std::to_string(std::lround(s.predictedP95Mm)).c_str() : "-",
                    t + 1 < refine::kRigTriangles ? "," : "\n");
    }
    for (const std::string& n : r.notes) std::printf("  note: %s\n", n.c_str());
    std::printf("Quality: %s\n", r.good ? "good" : "poor");
}

}  // namespace

void printRunSummary(const RunRecord& record, const RunOptions& o, core::Session& session) {
    core::CalibrationState& s = session.calibration();
    std::printf("\nModel %s (code %d)\n", record.model.c_str(), record.modelCode);
    std::printf("%s\n", record.survey ? "Mode: surveyed points (no detection, no pattern calibration)"
                                      : "Mode: triangle pattern");
    std::printf("%-6s %-9s %9s %9s %8s %7s %7s %8s%s\n", "camera", record.survey ? "pairs" : "detection", "posX mm",
                "posY mm", "height", "tilt", "roll", "heading", record.survey ? "   rms px  worst px" : "");
    for (int c = 0; c < core::kCameraCount; ++c) {
        const CameraParam& cam = s.cameras[c];
        if (record.survey) {
            const core::SurveyPose& pose = session.surveyPoses()[c];
            std::printf("%-6s %-9zu %9.1f %9.1f %8.1f %7.2f %7.2f %8.2f %8.3f %9.3f\n", kCameraKeys[c],
                        record.surveyPairs[c], cam.posX, cam.posY, cam.posZ, cam.rotX, cam.rotZ, cam.rotY, pose.rmsPx,
                        pose.worstPx);
            continue;
        }
        const char* how = record.corrected[c] ? "corrected" : record.detection[c] >= 0 ? "found" : "missing";
        std::printf("%-6s %-9s %9.1f %9.1f %8.1f %7.2f %7.2f %8.2f\n", kCameraKeys[c], how, cam.posX, cam.posY,
                    cam.posZ, cam.rotX, cam.rotZ, cam.rotY);
    }
    if (!record.survey) std::printf("Calibration result %d\n", record.calibrationResult.value_or(0));
    printRefinement(record);
    int64_t total = 0;
    for (const core::WrittenFile& f : record.saved.written) total += f.payloadBytes;
    std::printf("%zu files written below %s (%.1f MB of tables and masks):\n", record.saved.written.size(),
                record.outputFolder.c_str(), static_cast<double>(total) / 1e6);
    for (const core::WrittenFile& f : record.saved.written) {
        std::printf("  %-28s id %4d  %9lld bytes\n", f.path.generic_string().c_str(), f.identifier,
                    static_cast<long long>(f.payloadBytes));
    }
    const bool emptyMask = std::any_of(record.saved.written.begin(), record.saved.written.end(), [](const auto& f) {
        return f.payloadBytes == 0 && f.path.parent_path() == "Osd";
    });
    if (emptyMask && o.overlay.empty()) {
        std::printf("note: the OSD masks are empty: give the single views their overlay picture with --overlay\n");
    }
    const Timings& t = record.timings;
    std::printf("Timings (ms): load %.0f, detect %.0f, calibrate %.1f, build %.0f, save %.0f\n", t.load, t.detect,
                t.calibrate, t.build, t.save);
    if (!o.report.empty()) std::printf("Report: %s\n", o.report.c_str());
    if (!o.snapshot.empty()) std::printf("Top view: %s\n", o.snapshot.c_str());
    std::fflush(stdout);
}

void warnAboutQuality(const RunRecord& record) {
    if (!record.refinement || record.refinement->good) return;
    const refine::RefinementReport& r = *record.refinement;
    for (const std::string& w : r.warnings) std::fprintf(stderr, "calibration-cli run: warning: %s\n", w.c_str());
    std::fprintf(stderr, "calibration-cli run: warning: the calibration quality is poor\n");
}

}  // namespace mz::cli
