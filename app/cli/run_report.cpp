#include "app/cli/run_report.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "app/cli/camera_keys.h"

namespace mz::cli {

using nlohmann::json;

namespace {

json pointsJson(const Point2F* p, int n) {
    json a = json::array();
    for (int i = 0; i < n; ++i) a.push_back({p[i].x, p[i].y});
    return a;
}

// The record's pose fields under their own names.
void putPose(json& k, const CameraParam& cam) {
    k["posX"] = cam.posX;
    k["posY"] = cam.posY;
    k["posZ"] = cam.posZ;
    k["rotX"] = cam.rotX;
    k["rotY"] = cam.rotY;
    k["rotZ"] = cam.rotZ;
}

json optionalNumber(double v) { return v >= 0 && std::isfinite(v) ? json(v) : json(nullptr); }

// The refinement stages' work beside the library's results, and the quality figures of the rig.
json refinementJson(const refine::RefinementReport& r) {
    json j;
    j["enabled"] = r.enabled;
    j["quality"] = r.good ? "good" : "poor";
    j["warnings"] = r.warnings;
    j["notes"] = r.notes;
    j["rigRefined"] = r.rig.refined;
    j["note"] = r.rig.note.empty() ? json(nullptr) : json(r.rig.note);
    j["iterations"] = r.rig.iterations;
    j["pixelSigma"] = r.rig.after.pixelSigma;
    j["pictureFactor"] = r.pictureFactor;
    j["timings_ms"] = {{"corners", r.cornerMs}, {"rig", r.rigMs}};
    json cameras = json::object();
    for (int c = 0; c < core::kCameraCount; ++c) {
        const refine::CameraFigures& after = r.rig.after.cameras[c];
        const refine::CameraFigures& before = r.rig.before.cameras[c];
        json k;
        if (r.enabled) {
            json corners = json::array();
            for (const refine::CornerRefinement& p : r.corners[c]) {
                corners.push_back({{"detected", {p.given.x, p.given.y}},
                                   {"refined", {p.refined.x, p.refined.y}},
                                   {"moved", p.moved},
                                   {"sideRmsPx", p.sideRms},
                                   {"verdict", refine::verdictName(p.verdict)}});
            }
            k["corners"] = corners;
        }
        k["rmsPx"] = after.rmsPx;
        k["worstPx"] = after.worstPx;
        k["worstCorner"] = after.worstCorner + 1;
        k["residualsPx"] = after.residualPx;
        k["heightSigmaMm"] = optionalNumber(after.heightSigmaMm);
        k["tiltSigmaDeg"] = optionalNumber(after.tiltSigmaDeg);
        k["rollSigmaDeg"] = optionalNumber(after.rollSigmaDeg);
        k["headingSigmaDeg"] = optionalNumber(after.headingSigmaDeg);
        k["before"] = {{"rmsPx", before.rmsPx}, {"worstPx", before.worstPx}};
        cameras[kCameraKeys[c]] = k;
    }
    j["cameras"] = cameras;
    json seams = json::array();
    for (int t = 0; t < refine::kRigTriangles; ++t) {
        const refine::SeamFigures& s = r.rig.after.seams[t];
        seams.push_back({{"triangle", "T" + std::to_string(t + 1)},
                         {"cameras", {kCameraKeys[s.cameraA], kCameraKeys[s.cameraB]}},
                         {"gapMm", s.gapMm},
                         {"maxGapMm", s.maxGapMm},
                         {"beforeMaxGapMm", r.rig.before.seams[t].maxGapMm},
                         {"predictedP95Mm", optionalNumber(s.predictedP95Mm)},
                         {"weakerCamera", kCameraKeys[s.weakerCamera]}});
    }
    j["seams"] = seams;
    json dropped = json::array();
    for (const refine::ContradictedCorner& d : r.rig.dropped) {
        dropped.push_back({{"camera", kCameraKeys[d.camera]},
                           {"corner", d.corner + 1},
                           {"leftOutPx", d.leftOutPx},
                           {"score", d.score}});
    }
    j["droppedCorners"] = dropped;
    return j;
}

}  // namespace

json reportJson(const RunRecord& r, core::Session& session) {
    json j;
    j["config"] = {{"model", r.model}, {"modelCode", r.modelCode}};
    j["mode"] = r.survey ? "survey" : "pattern";
    j["overlay"] = r.overlay ? json(*r.overlay) : json(nullptr);
    j["calibration"] = {{"result", r.calibrationResult ? json(*r.calibrationResult) : json(nullptr)},
                        {"message", r.calibrationMessage ? json(*r.calibrationMessage) : json(nullptr)}};
    json cameras = json::object();
    core::CalibrationState& s = session.calibration();
    for (int c = 0; c < core::kCameraCount; ++c) {
        const CameraParam& cam = s.cameras[c];
        json k;
        if (r.survey) {
            // The surveyed pairs stand in the pattern's place: picture points, world points as
            // the calibration stores them (x, -y), and how well the pose reproduces them.
            const int n = static_cast<int>(r.surveyPairs[c]);
            k["surveyPairs"] = n;
            k["imagePoints"] = pointsJson(s.surveyImagePoints[c].data(), n);
            if (r.applied) {
                const core::SurveyPose& pose = session.surveyPoses()[c];
                k["worldPoints"] = pointsJson(s.surveyWorldPoints[c].data(), n);
                k["reprojectionRmsPx"] = pose.rmsPx;
                k["reprojectionWorstPx"] = pose.worstPx;
                putPose(k, cam);
            }
            cameras[kCameraKeys[c]] = k;
            continue;
        }
        k["detection"] = r.detection[c];
        k["corrected"] = r.corrected[c];
        json lost = json::array();
        for (int half = 0; half < 2; ++half) {
            if (r.lost[c][half]) lost.push_back(kHalfKeys[half]);
        }
        k["notFound"] = lost;
        const auto image = session.markers().patternPoints(c);
        k["imagePoints"] = pointsJson(image.data(), core::kPatternPointCount);
        if (r.applied) {
            k["worldPoints"] = pointsJson(s.worldPoints[c].data(), core::kPatternPointCount);
            putPose(k, cam);
        }
        cameras[kCameraKeys[c]] = k;
    }
    j["cameras"] = cameras;
    if (r.refinement) j["refinement"] = refinementJson(*r.refinement);
    json files = json::array();
    for (const core::WrittenFile& f : r.saved.written) {
        files.push_back({{"path", f.path.generic_string()}, {"id", f.identifier}, {"payloadBytes", f.payloadBytes}});
    }
    j["files"] = files;
    j["outputFolder"] = r.outputFolder;
    const Timings& t = r.timings;
    j["timings_ms"] = {{"load", t.load},   {"detect", t.detect}, {"calibrate", t.calibrate},
                       {"build", t.build}, {"save", t.save},     {"snapshot", t.snapshot}};
    const station::StationIdentity& who = r.identity;
    if (!who.vehicle.empty() || !who.operatorName.empty() || !who.station.empty()) {
        j["station"] = {{"vehicle", who.vehicle}, {"operator", who.operatorName}, {"station", who.station}};
    }
    if (r.tolerance) {
        json checks = json::object();
        for (int c = 0; c < core::kCameraCount; ++c) {
            const station::ToleranceCheck& t = (*r.tolerance)[c];
            checks[kCameraKeys[c]] = {{"within", t.within}, {"outside", t.outside}};
        }
        j["tolerance"] = {{"profile", r.profileName}, {"refused", r.refused}, {"cameras", checks}};
    }
    j["ok"] = !r.error.has_value();
    j["error"] = r.error ? json(*r.error) : json(nullptr);
    return j;
}

}  // namespace mz::cli
