// A thin owner of SQLite's C handles: every handle closed on every path, every failure an
// exception carrying SQLite's own words and result code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace mz::station {

class SqliteError : public std::runtime_error {
public:
    SqliteError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
    // The primary result code (SQLITE_BUSY, SQLITE_NOTADB, SQLITE_CORRUPT, ...).
    int code() const { return code_; }

private:
    int code_;
};

class Database;

class Statement {
public:
    Statement(Database& db, const std::string& sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Parameters count from 1, as in SQL's ?1.
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, const std::string& value);
    Statement& bindNull(int index);
    template <typename T>
    Statement& bind(int index, const std::optional<T>& value) {
        return value ? bind(index, *value) : bindNull(index);
    }
    // True while a row is there to read; false once the statement is done.
    bool step();
    // Back to the first row, parameters kept.
    void reset();

    bool isNull(int column) const;
    int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    std::optional<int64_t> optionalInteger(int column) const;
    std::optional<double> optionalReal(int column) const;

private:
    Database& db_;
    sqlite3_stmt* statement_ = nullptr;
};

class Database {
public:
    // create: a missing file is made; otherwise opening one fails. Waits up to busyMs for a
    // lock another connection holds before giving up with SQLITE_BUSY.
    Database(const std::filesystem::path& path, bool create, int busyMs);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    void execute(const std::string& sql);
    int64_t lastInsertId() const;
    // Rows the last statement inserted, changed or deleted.
    int64_t changes() const;
    sqlite3* handle() const { return db_; }
    // Throws SqliteError with `what` and the connection's last message, for result code `code`.
    [[noreturn]] void fail(int code, const std::string& what) const;

private:
    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE: the write lock is taken at the start, so two writers queue on the busy
// timeout instead of one failing half-way. Rolled back unless committed.
class Transaction {
public:
    explicit Transaction(Database& db);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void commit();

private:
    Database& db_;
    bool open_ = true;
};

}  // namespace mz::station
