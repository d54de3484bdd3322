#include "station/sqlite_db.h"

#include <sqlite3.h>

namespace mz::station {

Database::Database(const std::filesystem::path& path, bool create, int busyMs) {
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(why, rc & 0xff);
    }
    sqlite3_extended_result_codes(db_, 0);
    sqlite3_busy_timeout(db_, busyMs);
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::fail(int code, const std::string& what) const {
    throw SqliteError(what.empty() ? sqlite3_errmsg(db_) : what + ": " + sqlite3_errmsg(db_), code & 0xff);
}

void Database::execute(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string why = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw SqliteError(why, rc & 0xff);
    }
}

int64_t Database::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int64_t Database::changes() const { return sqlite3_changes64(db_); }

Statement::Statement(Database& db, const std::string& sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db.handle(), sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr);
    if (rc != SQLITE_OK) db.fail(rc, "");
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::bind(int index, int64_t value) {
    const int rc = sqlite3_bind_int64(statement_, index, value);
    if (rc != SQLITE_OK) db_.fail(rc, "");
    return *this;
}

Statement& Statement::bind(int index, double value) {
    const int rc = sqlite3_bind_double(statement_, index, value);
    if (rc != SQLITE_OK) db_.fail(rc, "");
    return *this;
}

Statement& Statement::bind(int index, const std::string& value) {
    const int rc = sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) db_.fail(rc, "");
    return *this;
}

Statement& Statement::bindNull(int index) {
    const int rc = sqlite3_bind_null(statement_, index);
    if (rc != SQLITE_OK) db_.fail(rc, "");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_.fail(rc, "");
}

void Statement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

bool Statement::isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

int64_t Statement::integer(int column) const { return sqlite3_column_int64(statement_, column); }

double Statement::real(int column) const { return sqlite3_column_double(statement_, column); }

std::string Statement::text(int column) const {
    const unsigned char* t = sqlite3_column_text(statement_, column);
    return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(statement_, column)) : std::string();
}

std::optional<int64_t> Statement::optionalInteger(int column) const {
    return isNull(column) ? std::nullopt : std::optional<int64_t>(integer(column));
}

std::optional<double> Statement::optionalReal(int column) const {
    return isNull(column) ? std::nullopt : std::optional<double>(real(column));
}

Transaction::Transaction(Database& db) : db_(db) { db_.execute("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (!open_) return;
    try {
        db_.execute("ROLLBACK");
    } catch (const SqliteError&) {
        // A failed statement may have rolled back already; nothing more to undo.
    }
}

void Transaction::commit() {
    db_.execute("COMMIT");
    open_ = false;
}

}  // namespace mz::station
