// The history's records as the terminal, JSON and spreadsheets read them.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "station/history_record.h"

namespace mz::station {

// The run's fields; with whole, its cameras, pictures and files too.
nlohmann::json recordJson(const HistoryRecord& record, bool whole);

// One line a run, the columns named in the first line (RFC 4180 quoting). Each camera's pose
// and tolerance appear only when the records carry their cameras (find, not list).
std::string recordsCsv(const std::vector<HistoryRecord>& records);

// text as one CSV field (RFC 4180): quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

// The whole record as an operator reads it.
std::string recordText(const HistoryRecord& record);

// The current time as records store it: UTC, 2026-12-09T14:39:30Z.
std::string utcNow();

}  // namespace mz::station
