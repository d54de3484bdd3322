#include "app/cli/run_command.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/camera_keys.h"
#include "app/cli/option_checks.h"
#include "app/cli/output_paths.h"
#include "app/cli/history_command.h"
#include "app/cli/picture_file.h"
#include "app/cli/run_certificate.h"
#include "app/cli/run_report.h"
#include "app/cli/run_station.h"
#include "app/cli/run_summary.h"
#include "app/cli/terminal_ui.h"
#include "app/core/output_writer.h"
#include "app/core/session.h"
#include "app/core/station_records.h"
#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "format/file_read.h"
#include "mz/mzview.h"
#include "station/history.h"

namespace mz::cli {

namespace {

constexpr const char* kCameraNames[core::kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};

// The stitched view as the preview shows it, as a 24-bit bitmap file.
void writeSnapshot(const std::string& path, core::Session& session) {
    int width = 0, height = 0;
    const std::span<const uint8_t> pixels = session.preview().views().output(width, height);
    writeBitmapFile(path, width, height, pixels, "the stitched view");
}

class Run {
public:
    Run(const RunOptions& o, TerminalUi& ui) : o_(o), ui_(ui), session_(ui, sessionOptions(o)) {
        session_.keepChecksums(!o.noHistory);
    }

    // earlyError: why the run cannot start (an output folder that cannot be made); the report
    // asked for is written all the same, saying so.
    int execute(const std::optional<std::string>& earlyError, RunOutcome* outcome) {
        record_.identity = {o_.vehicle, o_.operatorName, o_.station};
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
        const nlohmann::json report = reportJson(record_, session_);
        if (!o_.report.empty()) {
            try {
                format::writeFileAtomically(o_.report, report.dump(2) + "\n");
            } catch (const std::exception& e) {
                std::fprintf(stderr, "calibration-cli run: cannot write the report %s: %s\n", o_.report.c_str(),
                             e.what());
                status = 1;
            }
        }
        if (status == 0) printRunSummary(record_, o_, session_);
        warnAboutQuality(record_);
        const bool recorded = recordInHistory(report);
        if (!recorded) status = 1;
        if (!o_.certificate.empty() && !writeCertificateFile()) status = 1;
        if (outcome) {
            *outcome = runOutcome(record_);
            if (!recorded) outcome->message += (outcome->message.empty() ? "" : "; ") + historyError_;
            if (!certificateError_.empty())
                outcome->message += (outcome->message.empty() ? "" : "; ") + certificateError_;
        }
        return status;
    }

private:
    static core::SessionOptions sessionOptions(const RunOptions& o) {
        core::SessionOptions options;
        options.detectOnLoad = o.survey.empty();
        options.stitchedPicture = !o.snapshot.empty() || !o.certificate.empty();
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
        if (!picture)
            return fail(o_.overlay +
                        ": not a bitmap file that can be read; --overlay needs a 24-bit uncompressed bitmap");
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

    // The run into the station history, whatever its outcome. A history that cannot take it
    // never costs the files already saved; the run says so and fails.
    bool recordInHistory(const nlohmann::json& report) {
        if (o_.noHistory) return true;
        try {
            recorded_.location = historyLocation(o_.history);
            entry_ = historyRecord(record_, o_, session_, report);
            recorded_.entry = &*entry_;
            history_ = station::openHistory(recorded_.location, true);
            recorded_.id = history_->append(*entry_);
            std::printf("History: run %lld (%s) recorded in %s\n", static_cast<long long>(*recorded_.id),
                        station::outcomeName(entry_->outcome), recorded_.location.c_str());
            std::fflush(stdout);
            return true;
        } catch (const std::exception& e) {
            historyError_ = std::string("the run was not recorded: ") + e.what();
            std::fprintf(stderr, "calibration-cli run: the run was not recorded: %s%s\n", e.what(),
                         record_.savedAll ? " (the output files were saved all the same)" : "");
            return false;
        }
    }

    // After the history, so the certificate names the record and reuses its checksums.
    bool writeCertificateFile() {
        try {
            core::writeCertificate(o_.certificate,
                                   runCertificate(record_, o_, session_, profile_ ? &*profile_ : nullptr, recorded_));
            std::printf("Certificate: %s\n", o_.certificate.c_str());
            std::fflush(stdout);
        } catch (const std::exception& e) {
            certificateError_ = "cannot write the certificate " + o_.certificate + ": " + e.what();
            std::fprintf(stderr, "calibration-cli run: %s\n", certificateError_.c_str());
            return false;
        }
        // The record names the page only once it is on disk.
        if (!history_ || !recorded_.id) return true;
        try {
            history_->setCertificate(*recorded_.id, core::recordedPath(o_.certificate));
            return true;
        } catch (const std::exception& e) {
            certificateError_ = std::string("the certificate was written but its record does not name it: ") + e.what();
            std::fprintf(stderr, "calibration-cli run: %s\n", certificateError_.c_str());
            return false;
        }
    }

    // The solved poses against the station profile: a camera outside refuses the save unless
    // the operator overrides it.
    bool withinProfile() {
        record_.tolerance = core::checkAgainstProfile(*profile_, session_.calibration());
        std::string outside;
        for (const station::ToleranceCheck& t : *record_.tolerance) {
            for (const std::string& line : t.outside) {
                std::printf("Profile \"%s\": %s\n", profile_->name.c_str(), line.c_str());
                outside += (outside.empty() ? "" : "; ") + line;
            }
        }
        if (outside.empty()) {
            std::printf("Profile \"%s\": every camera within its tolerances\n", profile_->name.c_str());
            return true;
        }
        if (o_.overrideProfile) {
            std::printf("note: saved although outside the profile (--override-profile); the history says so\n");
            return true;
        }
        record_.refused = true;
        return fail("the station profile \"" + profile_->name + "\" refuses the poses: " + outside +
                    ". Nothing was saved (--override-profile saves all the same).");
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
        // The profile is read before anything heavy runs, so a broken file fails fast.
        if (!o_.profile.empty()) {
            try {
                profile_ = station::parseProfile(format::readTextFile(o_.profile), o_.profile);
            } catch (const std::runtime_error& e) {
                return fail(e.what());
            }
            record_.profileName = profile_->name;
        }

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
            try {
                parseDataVersion("--lut-version", o_.lutVersion, major, minor);
            } catch (const std::invalid_argument& e) {
                // 0.0 is refused now, not after the calibration, in the words the save would use.
                if (parseLutVersion(o_.lutVersion, major, minor) && major == 0 && minor == 0)
                    ui_.showMessage("FlashData Version is incorrect. Please check this", core::kAppTitle,
                                    core::MessageIcon::kInformation);
                return fail(e.what());
            }
            preview.settings().setDataVersion(major, minor);
        }
        if (!o_.overlay.empty() && !setOverlay()) return false;
        if (!o_.survey.empty()) {
            if (!o_.points.empty()) return fail("--points corrects detected triangles; a --survey run has none");
            core::Survey survey;
            const std::string text = format::readTextFile(o_.survey);
            try {
                survey = core::parseSurvey(text);
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
        if (!o_.points.empty()) corrections = parsePointCorrections(format::readTextFile(o_.points));

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
        // The operator sees the view of a refused calibration too; only its files are held back.
        if (profile_ && !withinProfile()) return false;
        const core::SaveResult saved = session_.saveLut();
        record_.saved = saved.files;
        record_.timings.save = saved.write.count();
        if (!saved.done()) return failed(saved, "the output files were not saved");
        record_.savedAll = true;
        return true;
    }

    bool applyCorrections(const PointCorrections& corrections) {
        const CameraParam& front = session_.calibration().cameras[core::kFront];
        const core::DetectionResult detected = session_.detection().wait();
        std::string missing;
        for (int c = 0; c < core::kCameraCount; ++c) {
            auto points = session_.markers().patternPoints(c);
            const auto found = corrections.find(c);
            for (int half = 0; half < 2; ++half) {
                // What the detection pass says, as the desktop program's status does: the points
                // alone cannot tell a lost half from one found where the markers already were.
                record_.lost[c][half] = !detected.halves[c][half];
                if (found != corrections.end() && found->second.halves[half]) {
                    const auto& given = *found->second.halves[half];
                    for (int i = 0; i < 3; ++i) {
                        const Point2F p = given[i];
                        if (!(p.x >= 0 && p.y >= 0 && p.x <= front.width && p.y <= front.height)) {
                            char where[96];
                            std::snprintf(where, sizeof where, "point %d (%g, %g) lies outside the %dx%d picture",
                                          i + 1, p.x, p.y, front.width, front.height);
                            return fail("--points: " + std::string(kCameraKeys[c]) + "." + kHalfKeys[half] + ": " +
                                        where);
                        }
                        points[3 * half + i] = given[i];
                    }
                    record_.corrected[c] = true;
                    continue;
                }
                if (!record_.lost[c][half]) continue;
                const auto& reason = detected.lost[c][half];
                const std::string line = reason ? core::lostHalfMessage(c, half, *reason)
                                                : "Detection found no " + std::string(kHalfKeys[half]) +
                                                      " triangle in the " + kCameraNames[c] + " camera picture.";
                ui_.showMessage(line + " Supply its three points with --points.", core::kAppTitle,
                                core::MessageIcon::kError);
                missing += (missing.empty() ? "" : " ") + line;
            }
            if (record_.corrected[c]) session_.markers().setMarkers(c, points);
        }
        if (!missing.empty()) return fail(missing + " Nothing was calibrated.");
        return true;
    }

    const RunOptions& o_;
    TerminalUi& ui_;
    core::Session session_;
    RunRecord record_;
    std::optional<station::StationProfile> profile_;
    std::string historyError_;  // why the history did not take the run
    std::string certificateError_;
    std::optional<station::HistoryRecord> entry_;
    std::unique_ptr<station::History> history_;  // open from the record to the certificate's name
    RecordedRun recorded_;
};

}  // namespace

namespace {

// The files the run reads and those it writes by name (the tables take their names from the
// configuration, below the output folder's Lut, Osd and Param).
std::optional<std::string> outputNamingAnInput(const RunOptions& o, std::string& clash) {
    std::vector<NamedPath> inputs = dataPictures(o.data);
    inputs.insert(inputs.end(), {{"--config", o.config},
                                 {"--points", o.points},
                                 {"--survey", o.survey},
                                 {"--overlay", o.overlay},
                                 {"--quad", o.quad}});
    const std::filesystem::path out = o.out.empty() ? o.data : o.out;
    return cli::outputNamingAnInput(
        inputs,
        {{"--report", o.report},
         {"--certificate", o.certificate},
         {"--snapshot", o.snapshot},
         {"the manifest of the output folder", out / format::manifestName(core::kCalibrationSet)}},
        &clash);
}

}  // namespace

int runRun(const RunOptions& options, RunOutcome* outcome) {
    const auto refuse = [&](const std::string& why) {
        std::fprintf(stderr, "calibration-cli run: %s\n", why.c_str());
        if (outcome) outcome->message = why;
        return 1;
    };
    // A report or certificate that would replace an input is not written, not even to say why.
    std::string clash;
    const std::optional<std::string> replacing = outputNamingAnInput(options, clash);
    if (replacing && (clash == "--report" || clash == "--certificate")) return refuse(*replacing);
    // A name that cannot be recorded stops the run before anything is calibrated or written.
    for (const auto& [text, what] :
         {std::pair{&options.vehicle, "--vehicle"}, std::pair{&options.operatorName, "--operator"},
          std::pair{&options.station, "--station"}}) {
        if (const std::optional<std::string> why = station::checkIdentityText(*text, what)) return refuse(*why);
    }
    TerminalAnswers answers;
    answers.configuration = options.config;
    answers.imageFolder = options.data;
    answers.saveFolder = options.out.empty() ? options.data : options.out;
    if (!options.quad.empty()) answers.quadPicture = options.quad;
    std::optional<std::string> earlyError = replacing;
    if (!earlyError && !options.out.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.out, ec);
        if (ec) earlyError = "cannot create the output folder " + options.out + ": " + ec.message();
    }
    TerminalUi ui(answers, stdout, stderr);
    Run run(options, ui);
    return run.execute(earlyError, outcome);
}

}  // namespace mz::cli
