#include "station/history.h"

#include <cstdlib>

#include "station/history_rows.h"
#include "station/history_schema.h"
#include "station/postgres_history.h"
#include "station/sqlite_history.h"

namespace mz::station {

std::string filterClause(const HistoryFilter& filter, const char* prefix, std::vector<std::string>& values) {
    std::string sql;
    const char* join = " WHERE ";
    for (const auto& [column, value] :
         {std::pair{"vehicle = ", &filter.vehicle}, std::pair{"recorded_at >= ", &filter.since},
          std::pair{"verdict = ", &filter.verdict}}) {
        if (value->empty()) continue;
        values.push_back(*value);
        sql += join + std::string(column) + prefix + std::to_string(values.size());
        join = " AND ";
    }
    return sql;
}

bool isServerAddress(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::unique_ptr<History> openHistory(const std::string& location, bool create) {
    if (isServerAddress(location)) {
        return std::make_unique<PostgresHistory>(location, create, historyMigrations(kPostgresDialect));
    }
    return std::make_unique<SqliteHistory>(location, create, historyMigrations(kSqliteDialect));
}

std::filesystem::path defaultHistoryPath() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (xdg && std::filesystem::path(xdg).is_absolute()) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".local" / "share";
    } else {
        throw HistoryError("no place for the history: neither XDG_DATA_HOME nor HOME is set; give --history FILE");
    }
    return base / "avm-calibration" / "history.sqlite";
}

}  // namespace mz::station
