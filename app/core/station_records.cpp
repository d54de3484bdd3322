#include "app/core/station_records.h"

#include <algorithm>
#include <filesystem>

#include "app/core/camera_pictures.h"
#include "format/picture.h"
#include "station/checksum.h"
#include "station/history.h"
#include "station/history_text.h"

namespace mz::core {

namespace {

station::Outcome outcomeOf(const SaveResult& save) {
    if (save.status == CommandStatus::kRefused) return station::Outcome::kRefused;
    return save.done() && save.files.failed.empty() ? station::Outcome::kSaved : station::Outcome::kFailed;
}

std::string messageOf(const SaveResult& save) {
    std::string text;
    if (const ShownMessage* reason = save.reason()) text = reason->text;
    if (!save.detail.empty()) text += (text.empty() ? "" : " (") + save.detail + (text.empty() ? "" : ")");
    for (const std::string& f : save.files.failed) text += (text.empty() ? "not written: " : "; not written: ") + f;
    return text;
}

}  // namespace

std::string recordedPath(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec);
    return (ec ? path : whole.lexically_normal()).string();
}

std::vector<std::filesystem::path> pictureFiles(const std::filesystem::path& source, bool quad) {
    if (source.empty()) return {};
    if (quad) return {source};
    std::vector<std::filesystem::path> out;
    for (const char* name : kDefaultImageNames) {
        const std::filesystem::path bitmap = source / name;
        if (const auto found = format::findPicture(bitmap.parent_path(), bitmap.stem().string())) out.push_back(*found);
    }
    return out;
}

void recordFiles(station::HistoryRecord& h, const Session& session, const std::filesystem::path& config,
                 const std::vector<WrittenFile>& written, const std::filesystem::path& outputFolder) {
    const std::vector<ReadChecksum> read = session.inputChecksums();
    const auto takenOnReading = [&read](const std::filesystem::path& file) -> std::optional<station::FileDigest> {
        const std::string where = recordedPath(file);
        for (const ReadChecksum& r : read) {
            if (recordedPath(r.file) == where) return r.digest;
        }
        return std::nullopt;
    };
    station::FileEntry configEntry{h.configPath, std::nullopt, 0, ""};
    struct Wanted {
        station::FileEntry* entry;
        std::filesystem::path file;
        std::optional<station::FileDigest> digest;
    };
    std::vector<Wanted> wanted{{&configEntry, config, takenOnReading(config)}};
    for (station::FileEntry& f : h.pictures) wanted.push_back({&f, f.path, takenOnReading(f.path)});
    const size_t firstWritten = h.files.size();
    for (const WrittenFile& w : written) h.files.push_back({w.path.generic_string(), w.identifier, 0, ""});
    for (size_t i = 0; i < written.size(); ++i) {
        station::FileEntry& f = h.files[firstWritten + i];
        wanted.push_back({&f, outputFolder / f.path, written[i].checksum});
    }
    std::vector<std::filesystem::path> unread;
    for (const Wanted& w : wanted) {
        if (!w.digest) unread.push_back(w.file);
    }
    const std::vector<std::optional<station::FileDigest>> readBack = station::fileDigests(unread);
    size_t next = 0;
    for (const Wanted& w : wanted) {
        const std::optional<station::FileDigest>& digest = w.digest ? w.digest : readBack[next++];
        if (!digest) continue;
        w.entry->bytes = digest->bytes;
        w.entry->sha256 = digest->sha256;
    }
    h.configSha256 = configEntry.sha256;
    h.outputSet = station::outputSetIdentity(h.files);
}

void recordPose(station::CameraEntry& k, const CameraParam& cam) {
    k.posX = cam.posX;
    k.posY = cam.posY;
    k.posZ = cam.posZ;
    k.rotX = cam.rotX;
    k.rotY = cam.rotY;
    k.rotZ = cam.rotZ;
}

VerdictFigures verdictFigures(const refine::RefinementReport& report) {
    VerdictFigures v;
    v.verdict = report.good ? "good" : "poor";
    v.pixelSigma = report.rig.after.pixelSigma;
    for (const refine::SeamFigures& seam : report.rig.after.seams) {
        if (seam.predictedP95Mm >= 0) v.worstSeamMm = std::max(v.worstSeamMm.value_or(0.0), seam.predictedP95Mm);
    }
    return v;
}

void recordRefinement(station::HistoryRecord& h, const refine::RefinementReport& report) {
    const VerdictFigures v = verdictFigures(report);
    h.verdict = v.verdict;
    h.pixelSigma = v.pixelSigma;
    h.worstSeamMm = v.worstSeamMm;
}

station::HistoryRecord saveRecord(Session& session, const SaveResult& save, const station::StationIdentity& identity) {
    const CalibrationState& s = session.calibration();
    station::HistoryRecord h;
    h.recordedAt = station::utcNow();
    h.vehicle = identity.vehicle;
    h.operatorName = identity.operatorName;
    h.station = identity.station;
    const auto& v = session.options().programVersion;
    h.softwareVersion = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
    h.model = s.modelName;
    h.modelCode = s.modelCode;
    h.configPath = session.configPath().empty() ? std::string() : recordedPath(session.configPath());
    h.mode = session.surveyApplied() ? "survey" : "pattern";
    const RigCalibration& rig = session.preview().rig();
    const bool applied = session.viewApplied();
    if (applied && !session.surveyApplied()) h.calibrationResult = rig.lastResult();
    const refine::RefinementReport& report = rig.report();
    if (applied && report.ran) recordRefinement(h, report);
    for (int c = 0; c < kCameraCount; ++c) {
        station::CameraEntry& k = h.cameras[c];
        if (!session.surveyApplied() && session.imagesLoaded()) k.detection = session.detection().result(c);
        const ImageViewState view = session.markers().imageView(c);
        k.corrected = view.placedByHand[0] != 0 || view.placedByHand[1] != 0;
        k.posed = applied;
        recordPose(k, s.cameras[c]);
        if (applied && session.surveyApplied()) k.rmsPx = session.surveyPoses()[c].rmsPx;
        if (applied && report.ran) k.rmsPx = report.rig.after.cameras[c].rmsPx;
    }
    h.outcome = outcomeOf(save);
    if (h.outcome != station::Outcome::kRefused) h.outputFolder = recordedPath(session.dataFolder());
    for (const std::filesystem::path& p : pictureFiles(session.picturesSource(), s.modelCode > 200))
        h.pictures.push_back({recordedPath(p), std::nullopt, 0, ""});
    recordFiles(h, session, session.configPath(), save.files.written, h.outputFolder);
    if (h.outcome != station::Outcome::kSaved) h.message = messageOf(save);
    return h;
}

std::string StationRecords::location() const {
    if (place_.off) return {};
    return place_.location.empty() ? station::defaultHistoryPath().string() : place_.location;
}

std::array<station::ToleranceCheck, kCameraCount> checkAgainstProfile(const station::StationProfile& profile,
                                                                      const CalibrationState& state) {
    std::array<station::PoseValues, station::kStationCameras> poses{};
    for (int c = 0; c < kCameraCount; ++c) {
        const CameraParam& cam = state.cameras[c];
        poses[c] = {cam.posX, cam.posY, cam.posZ, cam.rotX, cam.rotZ, cam.rotY};
    }
    return station::checkTolerances(profile, poses);
}

ProfileVerdict profileVerdict(const station::StationProfile& profile, bool overrideOutside, Session& session) {
    ProfileVerdict v;
    const std::string name = "Profile \"" + profile.name + "\"";
    if (!session.applyCurrent()) {
        v.heading = name + ": judged after \"Apply AVM\"";
        return v;
    }
    v.judged = true;
    const std::array<station::ToleranceCheck, kCameraCount> checks =
        checkAgainstProfile(profile, session.calibration());
    for (int c = 0; c < kCameraCount; ++c) {
        if (checks[c].within) v.lines.push_back(std::string(station::kStationCameraWords[c]) + " camera within");
        v.lines.insert(v.lines.end(), checks[c].outside.begin(), checks[c].outside.end());
        v.within = v.within && checks[c].within;
    }
    v.heading = v.within          ? name + ": every camera within its tolerances"
                : overrideOutside ? name +
                                        ": outside; \"Save LUT\" saves all the same (--override-profile), "
                                        "and the history says so"
                                  : name + ": outside; \"Save LUT\" will refuse these poses";
    return v;
}

void recordTolerance(station::HistoryRecord& record, const std::string& profileName,
                     const std::array<station::ToleranceCheck, kCameraCount>& checks, bool refused) {
    record.profile = profileName;
    record.profileOverridden =
        !refused && std::any_of(checks.begin(), checks.end(), [](const auto& t) { return !t.within; });
    for (int c = 0; c < kCameraCount; ++c) {
        station::CameraEntry& k = record.cameras[c];
        k.tolerance = checks[c].within ? "within" : "outside";
        k.toleranceNote.clear();
        for (const std::string& line : checks[c].outside)
            k.toleranceNote += (k.toleranceNote.empty() ? "" : "; ") + line;
    }
}

StationSave StationRecords::saveLut(const station::StationIdentity& identity) {
    StationSave out;
    const std::pair<const std::string*, IdentityField> fields[] = {{&identity.vehicle, IdentityField::kVehicle},
                                                                   {&identity.operatorName, IdentityField::kOperator},
                                                                   {&identity.station, IdentityField::kStation}};
    for (const auto& [text, field] : fields) {
        const char* name = kIdentityFieldNames[static_cast<size_t>(field)];
        if (const std::optional<std::string> why = station::checkIdentityText(*text, name)) {
            session_.ui().showMessage(*why, kAppTitle, MessageIcon::kWarning);
            out.save.status = CommandStatus::kRefused;
            out.save.messages.push_back({*why, kAppTitle, MessageIcon::kWarning});
            out.save.detail = *why;
            return out;
        }
    }
    // The profile judges the poses of a current Apply only; without one the save refuses by itself.
    std::optional<std::array<station::ToleranceCheck, kCameraCount>> tolerance;
    bool refusedByProfile = false;
    if (profile_ && session_.applyCurrent()) {
        tolerance = checkAgainstProfile(*profile_, session_.calibration());
        std::string outside;
        for (const station::ToleranceCheck& t : *tolerance) {
            for (const std::string& line : t.outside) outside += (outside.empty() ? "" : "\n") + line;
        }
        if (!outside.empty() && !overrideOutside_) {
            const std::string why = "The station profile \"" + profile_->name +
                                    "\" refuses the poses: nothing was saved. (Start the program with "
                                    "--override-profile to save all the same.)";
            session_.ui().showDetailedMessage(why, kAppTitle, MessageIcon::kWarning, outside);
            out.save.status = CommandStatus::kRefused;
            out.save.messages.push_back({why, kAppTitle, MessageIcon::kWarning});
            out.save.detail = outside;
            refusedByProfile = true;
        }
    }
    if (!refusedByProfile) out.save = session_.saveLut();
    if (place_.off || out.save.status == CommandStatus::kCancelled) return out;
    try {
        const std::string where = location();
        station::HistoryRecord record = saveRecord(session_, out.save, identity);
        if (tolerance) recordTolerance(record, profile_->name, *tolerance, refusedByProfile);
        out.recordId = station::openHistory(where, true)->append(record);
    } catch (const std::exception& e) {
        out.historyError = e.what();
        const bool saved = outcomeOf(out.save) == station::Outcome::kSaved;
        session_.ui().showDetailedMessage(std::string("The save was not recorded in the station history") +
                                              (saved ? "; the output files were saved all the same." : "."),
                                          kAppTitle, MessageIcon::kWarning, out.historyError);
    }
    return out;
}

std::string StationRecords::recordCertificate(int64_t id, const std::filesystem::path& certificate) {
    if (place_.off) return {};
    try {
        station::openHistory(location(), false)->setCertificate(id, recordedPath(certificate));
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

std::vector<HistoryRow> HistoryBrowser::list(const std::string& vehicle, std::string& error) const {
    std::vector<HistoryRow> rows;
    error.clear();
    try {
        station::HistoryFilter filter;
        filter.vehicle = vehicle;
        std::vector<station::HistoryRecord> records = station::openHistory(location_, false)->list(filter);
        std::reverse(records.begin(), records.end());
        for (const station::HistoryRecord& r : records) {
            rows.push_back({r.id,
                            {r.recordedAt, r.vehicle, r.operatorName, r.station, r.model,
                             r.verdict.empty() ? "-" : r.verdict, station::outcomeName(r.outcome)},
                            r.certificatePath});
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    return rows;
}

std::string HistoryBrowser::details(int64_t id, std::string& error) const {
    error.clear();
    try {
        const std::optional<station::HistoryRecord> r = station::openHistory(location_, false)->find(id);
        if (r) return station::recordText(*r);
        error = location_ + ": no record " + std::to_string(id);
    } catch (const std::exception& e) {
        error = e.what();
    }
    return {};
}

std::string HistoryBrowser::certificateProblem(const std::string& certificate) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(certificate, ec);
    if (!std::filesystem::exists(status)) {
        return "The certificate " + certificate + " is gone (moved or deleted since it was written).";
    }
    if (!std::filesystem::is_regular_file(status)) return "The certificate " + certificate + " is no file.";
    return {};
}

}  // namespace mz::core
