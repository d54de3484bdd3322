// The station history: where runs are recorded and read back. One interface, whatever keeps the
// records; each backend runs the same schema steps (history_schema.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "station/history_record.h"

namespace mz::station {

// Every failure of a history names its location first.
class HistoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class History {
public:
    virtual ~History() = default;
    // Records one run whole, or nothing of it (one transaction); returns its id.
    virtual int64_t append(const HistoryRecord& record) = 0;
    // The runs' own fields, no cameras, pictures, files or details; oldest first.
    virtual std::vector<HistoryRecord> list(const HistoryFilter& filter) = 0;
    // The whole record; none when no run has that id.
    virtual std::optional<HistoryRecord> find(int64_t id) = 0;
    // Names the certificate written for run id (an absolute path). Throws HistoryError when no
    // run has that id.
    virtual void setCertificate(int64_t id, const std::string& path) = 0;
    virtual std::string location() const = 0;
};

// Opens the history at location (a file path, or a PostgreSQL server's postgresql:// address),
// bringing its schema up to date. create: a missing file (and its folder), or the tables in an
// empty server database, are made; otherwise a missing history is an error. Throws HistoryError
// naming the location (a server's without its password) and what is wrong: not a database,
// another program's database, a schema newer than this program's, damaged, a server that
// cannot be reached or refuses the login.
std::unique_ptr<History> openHistory(const std::string& location, bool create);

// Whether location is a server's address (postgresql:// or postgres://) rather than a file.
bool isServerAddress(const std::string& location);

// $XDG_DATA_HOME/avm-calibration/history.sqlite, or ~/.local/share/... when XDG_DATA_HOME is
// unset or not absolute. Throws HistoryError when neither variable gives a folder.
std::filesystem::path defaultHistoryPath();

}  // namespace mz::station
