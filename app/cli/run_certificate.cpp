#include "app/cli/run_certificate.h"

#include <map>

#include "station/history_text.h"

namespace mz::cli {

core::Certificate runCertificate(const RunRecord& r, const RunOptions& o, core::Session& session,
                                 const station::StationProfile* profile, const RecordedRun& recorded) {
    core::Certificate c = core::certificateOfSession(session);
    const station::HistoryRecord* entry = recorded.entry;
    c.vehicle = r.identity.vehicle;
    c.operatorName = r.identity.operatorName;
    c.station = r.identity.station;
    c.time = entry ? entry->recordedAt : station::utcNow();
    c.softwareVersion = MZ_SOFTWARE_VERSION;
    if (!r.model.empty()) c.model = r.model + " (code " + std::to_string(r.modelCode) + ")";
    c.configPath = entry ? entry->configPath : o.config;
    if (entry) c.configSha256 = entry->configSha256;
    c.outcome = r.savedAll  ? core::CertificateOutcome::kSaved
                : r.refused ? core::CertificateOutcome::kRefused
                            : core::CertificateOutcome::kFailed;
    if (!r.savedAll && r.error) c.message = *r.error;
    c.recordId = recorded.id;
    c.history = recorded.location;
    c.profile = r.profileName;
    for (int k = 0; k < core::kCameraCount; ++k) {
        core::CertificateCamera& cam = c.cameras[k];
        cam.posed = cam.posed && r.applied;
        if (profile) {
            for (int f = 0; f < core::kCertificateFields; ++f) {
                cam.fields[f].design = profile->cameras[k].fields[f].design;
                cam.fields[f].tolerance = profile->cameras[k].fields[f].tolerance;
            }
        }
        if (!r.tolerance) continue;
        const station::ToleranceCheck& t = (*r.tolerance)[k];
        cam.tolerance = t.within ? "within" : "outside";
        cam.outside = t.outside;
        for (int f = 0; f < core::kCertificateFields; ++f) cam.fields[f].outside = t.fieldOutside[f];
        if (!t.within && !r.refused) c.profileOverridden = true;
    }
    // Only files the save put in place are named: a refused or failed run claims none.
    if (!r.savedAll) return c;
    core::addSavedFiles(c, r.saved, r.outputFolder);
    c.outputFolder = entry ? entry->outputFolder : r.outputFolder;
    if (!entry) return c;
    c.outputSet = entry->outputSet;
    std::map<std::string, std::string> sha;
    for (const station::FileEntry& f : entry->files) sha[f.path] = f.sha256;
    for (core::CertificateFile& f : c.files) {
        if (const auto found = sha.find(f.path); found != sha.end()) f.sha256 = found->second;
    }
    return c;
}

}  // namespace mz::cli
