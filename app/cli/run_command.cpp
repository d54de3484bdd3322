#include "app/cli/run_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/cli/camera_keys.h"
#include "app/cli/picture_file.h"
#include "app/cli/terminal_ui.h"
#include "app/core/output_writer.h"
#include "app/core/session.h"
#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "mz/mzview.h"

namespace mz::cli {

namespace {

using nlohmann::json;

constexpr const char* kCameraNames[core::kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};
constexpr const char* kHalfKeys[2] = {"left", "right"};
json pointsJson(const Point2F* p, int n) {
    json a = json::array();
    for (int i = 0; i < n; ++i) a.push_back({p[i].x, p[i].y});
    return a;
}

std::array<Point2F, 3> parseHalf(const json& j, const std::string& where) {
    if (!j.is_array() || j.size() != 3) throw std::runtime_error(where + " must hold 3 points [x, y]");
    std::array<Point2F, 3> out{};
    for (size_t i = 0; i < 3; ++i) {
        const json& p = j[i];
        if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number()) {
            throw std::runtime_error(where + ": point " + std::to_string(i + 1) + " is not [x, y]");
        }
        const double x = p[0].get<double>(), y = p[1].get<double>();
        // Far beyond any picture, and beyond what a float holds without overflow.
        if (!(std::abs(x) < 1e6 && std::abs(y) < 1e6)) {
            throw std::runtime_error(where + ": point " + std::to_string(i + 1) + " is not finite or far outside the picture");
        }
        out[i] = {static_cast<float>(x), static_cast<float>(y)};
    }
    return out;
}

// A half the detector did not fill still holds the default points of the configuration load.
bool holdsDefaults(const std::array<Point2F, core::kPatternPointCount>& points,
                   const std::array<Point2F, core::kPatternPointCount>& defaults, int half) {
    for (int i = 3 * half; i < 3 * half + 3; ++i) {
        if (points[i].x != defaults[i].x || points[i].y != defaults[i].y) return false;
    }
    return true;
}

struct Timings {
    double load = 0, detect = 0, calibrate = 0, build = 0, save = 0, snapshot = 0;
};

// Everything the report says; filled as the run goes, written whatever the outcome.
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
    std::array<std::array<bool, 2>, core::kCameraCount> lost{};   // halves the detector did not fill
    core::SaveReport saved;
    Timings timings;
    std::string outputFolder;
    std::optional<std::string> error;
    bool survey = false;
    std::array<size_t, core::kCameraCount> surveyPairs{};
    std::optional<std::string> overlay;   // the picture the OSD masks were drawn from
};

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
                         {"beforeMaxGapMm", r.rig.before.seams[t].maxGapMm}});
    }
    j["seams"] = seams;
    return j;
}

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
    j["timings_ms"] = {{"load", t.load},           {"detect", t.detect}, {"calibrate", t.calibrate},
                       {"build", t.build},         {"save", t.save},     {"snapshot", t.snapshot}};
    j["ok"] = !r.error.has_value();
    j["error"] = r.error ? json(*r.error) : json(nullptr);
    return j;
}

// The stitched view as the preview shows it, as a 24-bit bitmap file.
void writeSnapshot(const std::string& path, core::Session& session) {
    int width = 0, height = 0;
    const std::span<const uint8_t> pixels = session.preview().views().output(width, height);
    writeBitmapFile(path, width, height, pixels, "the stitched view");
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Run {
public:
    Run(const RunOptions& o, TerminalUi& ui) : o_(o), ui_(ui), session_(ui, sessionOptions(o)) {}

    // earlyError: why the run cannot start (an output folder that cannot be made); the report
    // asked for is written all the same, saying so.
    int execute(const std::optional<std::string>& earlyError = std::nullopt) {
        int status = 1;
        if (earlyError) {
            fail(*earlyError);
        } else {
            try {
                status = steps() ? 0 : 1;
            } catch (const std::exception& e) {
                fail(e.what());
            }
        }
        if (record_.error) std::fprintf(stderr, "calibration-cli run: %s\n", record_.error->c_str());
        if (!o_.report.empty()) {
            try {
                format::writeFileAtomically(o_.report, reportJson(record_, session_).dump(2) + "\n");
            } catch (const std::exception& e) {
                std::fprintf(stderr, "calibration-cli run: cannot write the report %s: %s\n", o_.report.c_str(), e.what());
                status = 1;
            }
        }
        if (status == 0) printSummary();
        warnAboutQuality();
        return status;
    }

private:
    static core::SessionOptions sessionOptions(const RunOptions& o) {
        core::SessionOptions options;
        options.detectOnLoad = o.survey.empty();
        return options;
    }

    // The surveyed run: the pictures, then the pairs in the pattern's place.
    bool surveySteps(const core::Survey& survey) {
        record_.survey = true;
        for (int c = 0; c < core::kCameraCount; ++c) record_.surveyPairs[c] = survey[c].size();
        const core::ImageLoadResult images = session_.imageLoad();
        if (!images.done()) return failed(images, "the pictures could not be loaded");
        record_.timings.detect = images.read.count();
        const core::ApplyAvmResult applied = session_.applySurvey(survey);
        record_.timings.calibrate = applied.calibrate.count();
        record_.timings.build = applied.build.count();
        if (!applied.done()) return failed(applied, "the stitched view could not be built");
        record_.applied = true;
        return true;
    }

    // The --overlay picture, read and handed to the single views before anything heavy runs.
    bool setOverlay() {
        const std::optional<format::Bitmap> picture = format::readBitmapFile(o_.overlay);
        if (!picture) return fail(o_.overlay + ": not a bitmap file that can be read; --overlay needs a 24-bit uncompressed bitmap");
        if (picture->bitsPerPixel != 24) {
            return fail(o_.overlay + ": This image format is not supported. (" + std::to_string(picture->bitsPerPixel) +
                        "-bit; --overlay needs a 24-bit uncompressed bitmap)");
        }
        if (core::setOverlayPicture(session_.calibration(), *picture) == 0) {
            std::printf("note: --overlay is not used: no single view of the configuration writes an OSD mask\n");
        } else {
            record_.overlay = o_.overlay;
        }
        return true;
    }

    bool fail(const std::string& why) {
        if (!record_.error) record_.error = why;
        return false;
    }

    // Why a command did not end as it should: what it showed the operator, or `fallback`.
    bool failed(const core::CommandResult& result, const std::string& fallback) {
        const core::ShownMessage* reason = result.reason();
        const std::string why = reason ? reason->text : fallback;
        return fail(result.detail.empty() ? why : why + " (" + result.detail + ")");
    }

    bool steps() {
        core::CalibrationState& s = session_.calibration();
        core::Preview& preview = session_.preview();

        const core::ConfigLoadResult loaded = session_.configLoad();
        record_.model = s.modelName;
        record_.modelCode = s.modelCode;
        record_.timings.load = (loaded.read + loaded.viewSetup).count();
        if (loaded.status == core::CommandStatus::kRefused) {
            return fail("the model \"" + s.modelName + "\" is not supported by Calibration Tool");
        }
        if (!loaded.done()) return failed(loaded, "the configuration could not be loaded");
        if (!preview.views().hasEngine()) return fail("the configuration has no stitched view that could be built");
        record_.configured = true;
        if (!o_.quad.empty() && s.modelCode <= 200) {
            std::printf("note: --quad is not used: model code %d reads the four pictures of the data folder\n",
                        s.modelCode);
        }
        if (!o_.lutVersion.empty()) {
            int major = 0, minor = 0;
            if (!parseLutVersion(o_.lutVersion, major, minor)) {
                return fail("--lut-version must be MAJOR.MINOR, e.g. 1.0, not \"" + o_.lutVersion + "\"");
            }
            if (major > 99 || minor > 99) {
                return fail("--lut-version " + o_.lutVersion +
                            ": each number must lie in 0..99, the two decimal digits a file's version holds");
            }
            preview.settings().setDataVersion(major, minor);
        }
        if (!o_.overlay.empty() && !setOverlay()) return false;
        if (!o_.survey.empty()) {
            if (!o_.points.empty()) return fail("--points corrects detected triangles; a --survey run has none");
            core::Survey survey;
            try {
                survey = core::parseSurvey(readText(o_.survey));
            } catch (const std::runtime_error& e) {
                return fail(o_.survey + ": " + e.what());
            }
            // Checked before the pictures are read, so a bad file fails fast and names every fault.
            const std::vector<std::string> problems = core::checkSurvey(survey, s.cameras);
            if (!problems.empty()) {
                std::string text = o_.survey + ": the surveyed points cannot be used:";
                for (const std::string& p : problems) text += "\n  " + p;
                return fail(text);
            }
            if (!surveySteps(survey)) return false;
            return snapshotAndSave();
        }

        // Corrections are read before anything heavy runs, so a broken file fails fast.
        PointCorrections corrections;
        if (!o_.points.empty()) corrections = parsePointCorrections(readText(o_.points));

        const core::ImageLoadResult images = session_.imageLoad();
        if (!images.done()) return failed(images, "the pictures could not be loaded");
        const core::DetectionResult detection = session_.detection().wait();
        record_.timings.detect = (images.read + detection.time).count();
        record_.detection = detection.cameras;
        if (!applyCorrections(corrections)) return false;

        preview.rig().setRefinement(!o_.literal);
        const core::ApplyAvmResult applied = session_.applyAvm();
        record_.timings.calibrate = applied.calibrate.count();
        record_.timings.build = applied.build.count();
        record_.applied = true;
        record_.calibrationResult = applied.calibration;
        record_.refinement = applied.refinement;
        if (const core::ShownMessage* reason = applied.reason()) record_.calibrationMessage = reason->text;
        if (applied.calibration.value_or(0) < 0) {
            // The view is rebuilt all the same (the operator would judge it), but tables of a rig
            // that did not fit are not written.
            return fail(record_.calibrationMessage ? *record_.calibrationMessage : "the calibration failed");
        }
        if (!applied.done()) return failed(applied, "the stitched view could not be built");
        return snapshotAndSave();
    }

    bool snapshotAndSave() {
        if (!o_.snapshot.empty()) {
            const core::Stopwatch snapshot;
            writeSnapshot(o_.snapshot, session_);
            record_.timings.snapshot = snapshot.elapsed().count();
        }

        record_.outputFolder = o_.out.empty() ? o_.data : o_.out;
        const core::SaveResult saved = session_.saveLut();
        record_.saved = saved.files;
        record_.timings.save = saved.write.count();
        if (!saved.done()) return failed(saved, "the output files were not saved");
        return true;
    }

    bool applyCorrections(const PointCorrections& corrections) {
        const CameraParam& front = session_.calibration().cameras[core::kFront];
        std::string missing;
        for (int c = 0; c < core::kCameraCount; ++c) {
            auto points = session_.markers().patternPoints(c);
            const auto defaults = core::defaultPatternPoints(c, front.width, front.height);
            const auto found = corrections.find(c);
            for (int half = 0; half < 2; ++half) {
                record_.lost[c][half] = record_.detection[c] < 0 || holdsDefaults(points, defaults, half);
                if (found != corrections.end() && found->second.halves[half]) {
                    const auto& given = *found->second.halves[half];
                    for (int i = 0; i < 3; ++i) points[3 * half + i] = given[i];
                    record_.corrected[c] = true;
                    continue;
                }
                if (!record_.lost[c][half]) continue;
                const std::string line = "Detection found no " + std::string(kHalfKeys[half]) + " triangle in the " +
                                         kCameraNames[c] + " camera picture.";
                ui_.showMessage(line + " Supply its three points with --points.", core::kAppTitle,
                                core::MessageIcon::kError);
                missing += (missing.empty() ? "" : " ") + line;
            }
            if (record_.corrected[c]) session_.markers().setMarkers(c, points);
        }
        if (!missing.empty()) return fail(missing + " Nothing was calibrated.");
        return true;
    }

    void printSummary() {
        core::CalibrationState& s = session_.calibration();
        std::printf("\nModel %s (code %d)\n", record_.model.c_str(), record_.modelCode);
        std::printf("%s\n", record_.survey ? "Mode: surveyed points (no detection, no pattern calibration)"
                                             : "Mode: triangle pattern");
        std::printf("%-6s %-9s %9s %9s %8s %7s %7s %8s%s\n", "camera", record_.survey ? "pairs" : "detection",
                    "posX mm", "posY mm", "height", "tilt", "roll", "heading", record_.survey ? "   rms px  worst px" : "");
        for (int c = 0; c < core::kCameraCount; ++c) {
            const CameraParam& cam = s.cameras[c];
            if (record_.survey) {
                const core::SurveyPose& pose = session_.surveyPoses()[c];
                std::printf("%-6s %-9zu %9.1f %9.1f %8.1f %7.2f %7.2f %8.2f %8.3f %9.3f\n", kCameraKeys[c],
                            record_.surveyPairs[c], cam.posX, cam.posY, cam.posZ, cam.rotX, cam.rotZ, cam.rotY,
                            pose.rmsPx, pose.worstPx);
                continue;
            }
            const char* how = record_.corrected[c] ? "corrected" : record_.detection[c] >= 0 ? "found" : "missing";
            std::printf("%-6s %-9s %9.1f %9.1f %8.1f %7.2f %7.2f %8.2f\n", kCameraKeys[c], how, cam.posX, cam.posY,
                        cam.posZ, cam.rotX, cam.rotZ, cam.rotY);
        }
        if (!record_.survey) std::printf("Calibration result %d\n", record_.calibrationResult.value_or(0));
        printRefinement();
        int64_t total = 0;
        for (const core::WrittenFile& f : record_.saved.written) total += f.payloadBytes;
        std::printf("%zu files written below %s (%.1f MB of tables and masks):\n", record_.saved.written.size(),
                    record_.outputFolder.c_str(), static_cast<double>(total) / 1e6);
        for (const core::WrittenFile& f : record_.saved.written) {
            std::printf("  %-28s id %4d  %9lld bytes\n", f.path.generic_string().c_str(), f.identifier,
                        static_cast<long long>(f.payloadBytes));
        }
        const bool emptyMask = std::any_of(record_.saved.written.begin(), record_.saved.written.end(), [](const auto& f) {
            return f.payloadBytes == 0 && f.path.parent_path() == "Osd";
        });
        if (emptyMask && o_.overlay.empty()) {
            std::printf("note: the OSD masks are empty: give the single views their overlay picture with --overlay\n");
        }
        const Timings& t = record_.timings;
        std::printf("Timings (ms): load %.0f, detect %.0f, calibrate %.1f, build %.0f, save %.0f\n", t.load, t.detect,
                    t.calibrate, t.build, t.save);
        if (!o_.report.empty()) std::printf("Report: %s\n", o_.report.c_str());
        if (!o_.snapshot.empty()) std::printf("Top view: %s\n", o_.snapshot.c_str());
        std::fflush(stdout);
    }

    void printRefinement() {
        if (!record_.refinement) return;
        const refine::RefinementReport& r = *record_.refinement;
        std::printf("Refinement %s: corners %.1f ms, rig %.1f ms%s%s\n", r.enabled ? "on" : "off (--literal)",
                    r.cornerMs, r.rigMs, r.rig.note.empty() ? "" : "; rig kept: ", r.rig.note.c_str());
        std::printf("%-6s %8s %8s %8s %8s %9s %8s %8s\n", "camera", "rms px", "worst px", "corner", "before",
                    "height mm", "tilt deg", "moved px");
        for (int c = 0; c < core::kCameraCount; ++c) {
            const refine::CameraFigures& f = r.rig.after.cameras[c];
            double moved = 0;
            for (const refine::CornerRefinement& p : r.corners[c]) moved = std::max(moved, double(p.moved));
            std::printf("%-6s %8.2f %8.2f %8d %8.2f %9s %8s %8.2f\n", kCameraKeys[c], f.rmsPx, f.worstPx,
                        f.worstCorner + 1, r.rig.before.cameras[c].rmsPx, sigmaText(f.heightSigmaMm, "%.1f").c_str(),
                        sigmaText(f.tiltSigmaDeg, "%.3f").c_str(), moved);
        }
        std::printf("Seam gaps (mm, worst corner):");
        for (int t = 0; t < refine::kRigTriangles; ++t) {
            const refine::SeamFigures& s = r.rig.after.seams[t];
            std::printf(" T%d %s/%s %.1f (before %.1f)%s", t + 1, kCameraKeys[s.cameraA], kCameraKeys[s.cameraB],
                        s.maxGapMm, r.rig.before.seams[t].maxGapMm, t + 1 < refine::kRigTriangles ? "," : "\n");
        }
        for (const std::string& n : r.notes) std::printf("  note: %s\n", n.c_str());
        std::printf("Quality: %s\n", r.good ? "good" : "poor");
    }

    static std::string sigmaText(double v, const char* format) {
        if (!(v >= 0)) return "-";
        char text[32];
        std::snprintf(text, sizeof text, format, v);
        return std::string("+-") + text;
    }

    // Poor figures do not stop the files being written; they end the run with a warning.
    void warnAboutQuality() {
        if (!record_.refinement || record_.refinement->good) return;
        const refine::RefinementReport& r = *record_.refinement;
        for (const std::string& w : r.warnings) std::fprintf(stderr, "calibration-cli run: warning: %s\n", w.c_str());
        std::fprintf(stderr, "calibration-cli run: warning: the calibration quality is poor\n");
    }

    const RunOptions& o_;
    TerminalUi& ui_;
    core::Session session_;
    RunRecord record_;
};

}  // namespace

bool parseLutVersion(const std::string& text, int& major, int& minor) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size()) return false;
    const std::string a = text.substr(0, dot), b = text.substr(dot + 1);
    for (const std::string* part : {&a, &b}) {
        if (part->size() > 4 || part->find_first_not_of("0123456789") != std::string::npos) return false;
    }
    major = std::stoi(a);
    minor = std::stoi(b);
    return true;
}

PointCorrections parsePointCorrections(const std::string& text) {
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw std::runtime_error("--points: the file is not a JSON object");
    PointCorrections out;
    for (const auto& [key, value] : j.items()) {
        int camera = -1;
        for (int c = 0; c < core::kCameraCount; ++c) {
            if (key == kCameraKeys[c]) camera = c;
        }
        if (camera < 0) throw std::runtime_error("--points: unknown camera \"" + key + "\" (front, rear, left, right)");
        PointCorrection& p = out[camera];
        if (value.is_array()) {
            if (value.size() != 6) throw std::runtime_error("--points: " + key + " must hold 6 points or halves");
            for (int half = 0; half < 2; ++half) {
                const json part = json(std::vector<json>(value.begin() + 3 * half, value.begin() + 3 * half + 3));
                p.halves[half] = parseHalf(part, "--points: " + key);
            }
        } else if (value.is_object()) {
            for (const auto& [halfKey, half] : value.items()) {
                const int h = halfKey == "left" ? 0 : halfKey == "right" ? 1 : -1;
                if (h < 0) throw std::runtime_error("--points: " + key + ": unknown half \"" + halfKey + "\" (left, right)");
                p.halves[h] = parseHalf(half, "--points: " + key + "." + halfKey);
            }
        } else {
            throw std::runtime_error("--points: " + key + " must be 6 points or {\"left\": ..., \"right\": ...}");
        }
    }
    return out;
}

void addRunCommand(CLI::App& app, RunOptions& o) {
    CLI::App* cmd = app.add_subcommand("run", "Calibrate one data folder and save the output files");
    cmd->add_option("--config", o.config, "Config.bin of the vehicle")->required()->check(CLI::ExistingFile);
    cmd->add_option("--data", o.data, "Data folder with image/front.bmp, rear, left, right (or .png, .jpg when no .bmp is there)")
        ->required()
        ->check(CLI::ExistingDirectory);
    cmd->add_option("--out", o.out, "Folder for Lut/, Osd/ and Param/ (default: the data folder)");
    cmd->add_option("--lut-version", o.lutVersion, "Data version of the output files, MAJOR.MINOR (default 1.0)");
    cmd->add_option("--points", o.points, "JSON file of corrected pattern points")->check(CLI::ExistingFile);
    cmd->add_option("--report", o.report, "Write a JSON report of the run");
    cmd->add_option("--snapshot", o.snapshot, "Write the stitched top view as a bitmap");
    cmd->add_option("--quad", o.quad, "Four-quadrant picture (models above 200)")->check(CLI::ExistingFile);
    cmd->add_option("--survey", o.survey,
                    "JSON of surveyed floor points per camera, {\"front\": [{\"image\": [x, y], \"floor\": [x_mm, "
                    "y_mm]}, ...], ...} (4 to 50 pairs each; x right, y front): no detection, no triangle calibration")
        ->check(CLI::ExistingFile);
    cmd->add_option("--overlay", o.overlay,
                    "Overlay picture (24-bit bitmap, e.g. parking guide lines on the floor) of the single views that "
                    "write an OSD mask; without it their masks are empty")
        ->check(CLI::ExistingFile);
    cmd->add_flag("--literal", o.literal,
                  "The detector's corners and the calibration library's rig as they come: no refinement");
}

int runRun(const RunOptions& options) {
    TerminalAnswers answers;
    answers.configuration = options.config;
    answers.imageFolder = options.data;
    answers.saveFolder = options.out.empty() ? options.data : options.out;
    if (!options.quad.empty()) answers.quadPicture = options.quad;
    std::optional<std::string> earlyError;
    if (!options.out.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.out, ec);
        if (ec) earlyError = "cannot create the output folder " + options.out + ": " + ec.message();
    }
    TerminalUi ui(answers, stdout, stderr);
    Run run(options, ui);
    return run.execute(earlyError);
}

}  // namespace mz::cli
