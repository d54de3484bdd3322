// The history in one SQLite file: WAL, so readers never wait for a writer and a killed writer
// leaves the last committed state; a busy timeout, so writers of several processes queue.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "station/history.h"
#include "station/sqlite_db.h"

namespace mz::station {

inline constexpr int kHistoryBusyMs = 10000;

class SqliteHistory : public History {
public:
    // migrations: the schema's steps (tests give their own to follow a schema's growth).
    SqliteHistory(const std::filesystem::path& path, bool create, const std::vector<std::string>& migrations);

    int64_t append(const HistoryRecord& record) override;
    std::vector<HistoryRecord> list(const HistoryFilter& filter) override;
    std::optional<HistoryRecord> find(int64_t id) override;
    void setCertificate(int64_t id, const std::string& path) override;
    std::string location() const override { return path_.string(); }

private:
    void migrate(const std::vector<std::string>& migrations);
    // Runs f, turning a database failure into a HistoryError that names the file.
    template <typename F>
    auto guarded(const char* doing, F&& f) -> decltype(f());

    std::filesystem::path path_;
    std::unique_ptr<Database> db_;
};

}  // namespace mz::station
