// The certificate of a calibration-cli run: what the session shows, with the station's names,
// the profile's verdict and the checksums the history computed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/cli/run_options.h"
#include "app/cli/run_report.h"
#include "app/core/certificate.h"
#include "station/history_record.h"
#include "station/profile.h"

namespace mz::cli {

// Where the run was recorded, when it was: the record carries the checksums of the files (none
// are computed again here; without a record only the manifest's CRC-32 names them).
struct RecordedRun {
    const station::HistoryRecord* entry = nullptr;
    std::optional<int64_t> id;
    std::string location;
};

core::Certificate runCertificate(const RunRecord& record, const RunOptions& options, core::Session& session,
                                 const station::StationProfile* profile, const RecordedRun& recorded);

}  // namespace mz::cli
