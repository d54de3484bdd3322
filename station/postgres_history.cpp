#include "station/postgres_history.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include <libpq-fe.h>

#include "station/history_rows.h"
#include "station/history_schema.h"

namespace mz::station {

namespace {

// The key every station takes, for the length of a transaction, before it changes the schema.
constexpr const char* kSchemaLock = "7170523051";

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// libpq's messages end in a line break and indent their hints; one line reads better after ours.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\t') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    for (size_t at = text.find("  "); at != std::string::npos; at = text.find("  ", at)) text.erase(at, 1);
    return text;
}

std::string percentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int value = 0;
        if (text[i] == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Where the password of address lies: [begin, end) of its text; begin == end when it has none.
std::vector<std::pair<size_t, size_t>> passwordSpans(const std::string& address) {
    std::vector<std::pair<size_t, size_t>> spans;
    const size_t scheme = address.find("://");
    if (scheme == std::string::npos) return spans;
    const size_t start = scheme + 3;
    const size_t authorityEnd = std::min(address.find('/', start), address.find('?', start));
    const size_t at = address.rfind('@', authorityEnd == std::string::npos ? address.size() : authorityEnd);
    if (at != std::string::npos && at >= start) {
        const size_t colon = address.find(':', start);
        if (colon < at) spans.emplace_back(colon + 1, at);
    }
    for (size_t p = address.find("password=", start); p != std::string::npos; p = address.find("password=", p + 1)) {
        if (address[p - 1] != '?' && address[p - 1] != '&') continue;
        const size_t begin = p + std::strlen("password=");
        spans.emplace_back(begin, std::min(address.find('&', begin), address.size()));
    }
    return spans;
}

// One row of a result, as the shared row readers read it. Numbers come as the server's text,
// read without the locale (a desktop program's locale may write a decimal comma).
class Row {
public:
    Row(const PGresult* result, int row) : result_(result), row_(row) {}
    bool isNull(int column) const { return PQgetisnull(result_, row_, column) != 0; }
    std::string text(int column) const {
        return std::string(PQgetvalue(result_, row_, column), static_cast<size_t>(PQgetlength(result_, row_, column)));
    }
    int64_t integer(int column) const { return number<int64_t>(column); }
    double real(int column) const {
        const std::string t = text(column);
        if (t == "Infinity" || t == "-Infinity" || t == "NaN") return std::strtod(t.c_str(), nullptr);
        return number<double>(column);
    }
    std::optional<int64_t> optionalInteger(int column) const {
        return isNull(column) ? std::nullopt : std::optional<int64_t>(integer(column));
    }
    std::optional<double> optionalReal(int column) const {
        return isNull(column) ? std::nullopt : std::optional<double>(real(column));
    }

private:
    template <typename T>
    T number(int column) const {
        const char* t = PQgetvalue(result_, row_, column);
        T value{};
        std::from_chars(t, t + PQgetlength(result_, row_, column), value);
        return value;
    }
    const PGresult* result_;
    int row_;
};

// A statement's parameters as the text the server reads; none is SQL's NULL.
class Params {
public:
    Params& add(const std::string& value) {
        values_.emplace_back(value);
        return *this;
    }
    Params& add(int64_t value) { return add(std::to_string(value)); }
    Params& add(bool value) { return add(int64_t{value}); }
    Params& add(double value) {
        // The shortest text that reads back as the same double.
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, value).ptr;
        return add(std::string(text, end));
    }
    template <typename T>
    Params& add(const std::optional<T>& value) {
        if (value) return add(*value);
        values_.emplace_back(std::nullopt);
        return *this;
    }
    int size() const { return static_cast<int>(values_.size()); }
    std::vector<const char*> pointers() const {
        std::vector<const char*> out;
        for (const auto& v : values_) out.push_back(v ? v->c_str() : nullptr);
        return out;
    }

private:
    std::vector<std::optional<std::string>> values_;
};

// "($1, $2), ($3, $4)" for rows of columns, numbered from first.
std::string valueRows(size_t rows, int columns) {
    std::string out;
    int n = 1;
    for (size_t r = 0; r < rows; ++r) {
        out += r ? ", (" : "(";
        for (int c = 0; c < columns; ++c) out += (c ? ", $" : "$") + std::to_string(n++);
        out += ")";
    }
    return out;
}

}  // namespace

std::string addressWithoutPassword(const std::string& address) {
    std::string shown = address;
    std::vector<std::pair<size_t, size_t>> spans = passwordSpans(address);
    // From the last, so the earlier spans stay where they are.
    std::sort(spans.rbegin(), spans.rend());
    for (const auto& [begin, end] : spans) shown.replace(begin, end - begin, "***");
    return shown;
}

// The connection and how it is named in every message.
class PostgresHistory::Server {
public:
    Server(const std::string& address) : shown_(addressWithoutPassword(address)) {
        for (const auto& [begin, end] : passwordSpans(address)) {
            if (end > begin) {
                secrets_.push_back(address.substr(begin, end - begin));
                secrets_.push_back(percentDecoded(secrets_.back()));
            }
        }
        // connect_timeout before the address, so the address's own setting wins.
        const std::string timeout = std::to_string(kServerConnectSeconds);
        const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
        const char* values[] = {timeout.c_str(), "calibration-cli", address.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            const std::string why = conn_ ? PQerrorMessage(conn_) : "out of memory";
            PQfinish(conn_);
            conn_ = nullptr;
            throw HistoryError("history " + shown_ + ": cannot connect to the server: " + clean(why));
        }
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server() { PQfinish(conn_); }

    const std::string& shown() const { return shown_; }

    // Statements without parameters, several at once (a schema step).
    Result execute(const std::string& sql, const char* doing) {
        return checked(Result(PQexec(conn_, sql.c_str())), doing);
    }
    Result execute(const std::string& sql, const Params& params, const char* doing) {
        const std::vector<const char*> values = params.pointers();
        return checked(
            Result(PQexecParams(conn_, sql.c_str(), params.size(), nullptr, values.data(), nullptr, nullptr, 0)),
            doing);
    }
    [[noreturn]] void fail(const char* doing, const std::string& why) const {
        throw HistoryError("history " + shown_ + ": " + doing + ": " + why);
    }

private:
    Result checked(Result result, const char* doing) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
        const std::string why = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn_);
        if (PQstatus(conn_) == CONNECTION_BAD) fail(doing, "the connection to the server was lost: " + clean(why));
        fail(doing, clean(why));
    }
    // A message of libpq's on one line, without a password it might quote.
    std::string clean(const std::string& text) const {
        std::string out = oneLine(text);
        for (const std::string& secret : secrets_) {
            for (size_t at = out.find(secret); !secret.empty() && at != std::string::npos; at = out.find(secret, at))
                out.replace(at, secret.size(), "***");
        }
        return out;
    }

    std::string shown_;
    std::vector<std::string> secrets_;
    PGconn* conn_ = nullptr;
};

namespace {

// Rolled back unless committed; a lost connection has rolled it back already.
class Transaction {
public:
    explicit Transaction(PostgresHistory::Server& server, const char* doing) : server_(server) {
        server_.execute("BEGIN", doing);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() {
        if (!open_) return;
        try {
            server_.execute("ROLLBACK", "");
        } catch (const HistoryError&) {
        }
    }
    void commit(const char* doing) {
        server_.execute("COMMIT", doing);
        open_ = false;
    }

private:
    PostgresHistory::Server& server_;
    bool open_ = true;
};

SchemaState readSchemaState(PostgresHistory::Server& server) {
    constexpr const char* kDoing = "cannot read its tables";
    SchemaState s;
    const Result tables = server.execute(
        "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema() ORDER BY table_name",
        kDoing);
    for (int i = 0; i < PQntuples(tables.get()); ++i) {
        const std::string name = Row(tables.get(), i).text(0);
        s.ours = s.ours || name == "history_meta";
        s.others.push_back(name);
    }
    if (!s.ours) return s;
    s.others.clear();
    const Result meta = server.execute("SELECT name, value FROM history_meta", kDoing);
    for (int i = 0; i < PQntuples(meta.get()); ++i) {
        const Row row(meta.get(), i);
        if (row.text(0) == "application") s.application = row.text(1);
        if (row.text(0) == "schema_version") s.version = std::atoll(row.text(1).c_str());
    }
    return s;
}

}  // namespace

PostgresHistory::PostgresHistory(const std::string& address, bool create, const std::vector<std::string>& migrations)
    : server_(std::make_unique<Server>(address)) {
    migrate(create, migrations);
}

PostgresHistory::~PostgresHistory() = default;

std::string PostgresHistory::location() const { return server_->shown(); }

void PostgresHistory::migrate(bool create, const std::vector<std::string>& migrations) {
    Server& server = *server_;
    SchemaState state = readSchemaState(server);
    std::string why = schemaRefusal(state, migrations.size());
    if (!why.empty()) throw HistoryError("history " + server.shown() + ": " + why);
    if (state.ours && state.version == static_cast<int64_t>(migrations.size())) return;
    if (!state.ours && !create) {
        throw HistoryError("history " + server.shown() +
                           ": no calibration history in this database (nothing recorded "
                           "there yet)");
    }
    constexpr const char* kDoing = "cannot bring its schema up to date";
    // Another station may be doing the same: the second waits for the lock, then looks again.
    Transaction transaction(server, kDoing);
    server.execute(std::string("SELECT pg_advisory_xact_lock(") + kSchemaLock + ")", kDoing);
    state = readSchemaState(server);
    why = schemaRefusal(state, migrations.size());
    if (!why.empty()) throw HistoryError("history " + server.shown() + ": " + why);
    for (size_t step = static_cast<size_t>(state.version); step < migrations.size(); ++step) {
        server.execute(migrations[step], kDoing);
    }
    const std::string upsert =
        "INSERT INTO history_meta (name, value) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET value = "
        "EXCLUDED.value";
    server.execute(upsert, Params().add(std::string("application")).add(std::string(kHistoryApplication)), kDoing);
    server.execute(upsert, Params().add(std::string("schema_version")).add(std::to_string(migrations.size())), kDoing);
    transaction.commit(kDoing);
}

int64_t PostgresHistory::append(const HistoryRecord& r) {
    constexpr const char* kDoing = "cannot record the run";
    Server& server = *server_;
    Transaction transaction(server, kDoing);
    Params run;
    run.add(r.recordedAt).add(r.station).add(r.operatorName).add(r.vehicle).add(r.softwareVersion).add(r.model);
    run.add(r.modelCode).add(r.configPath).add(r.configSha256).add(r.mode).add(r.calibrationResult).add(r.verdict);
    run.add(r.pixelSigma).add(r.worstSeamMm).add(r.profile).add(r.profileOverridden).add(r.outputFolder);
    run.add(r.outputSet).add(std::string(outcomeName(r.outcome))).add(r.message).add(r.certificatePath);
    run.add(r.details);
    // The columns past the id, which the server numbers.
    const std::string columns = std::string(kRunColumns + std::strlen("id, ")) + ", details";
    const Result inserted = server.execute(
        "INSERT INTO runs (" + columns + ") VALUES " + valueRows(1, run.size()) + " RETURNING id", run, kDoing);
    const int64_t id = Row(inserted.get(), 0).integer(0);

    Params cameras;
    for (int c = 0; c < kStationCameras; ++c) {
        const CameraEntry& k = r.cameras[c];
        cameras.add(id).add(std::string(kStationCameraKeys[c])).add(k.detection).add(k.corrected).add(k.posed);
        cameras.add(k.posX).add(k.posY).add(k.posZ).add(k.rotX).add(k.rotY).add(k.rotZ).add(k.rmsPx);
        cameras.add(k.tolerance).add(k.toleranceNote);
    }
    server.execute(std::string("INSERT INTO run_cameras (run_id, ") + kCameraColumns + ") VALUES " +
                       valueRows(kStationCameras, 14),
                   cameras, kDoing);

    Params files;
    int64_t position = 0;
    for (const auto& [kind, entries] : {std::pair{"picture", &r.pictures}, std::pair{"output", &r.files}}) {
        for (const FileEntry& f : *entries) {
            files.add(id).add(std::string(kind)).add(f.path).add(f.identifier).add(f.bytes).add(f.sha256);
            files.add(position++);
        }
    }
    if (position > 0) {
        server.execute(std::string("INSERT INTO run_files (run_id, ") + kFileColumns + ", position) VALUES " +
                           valueRows(static_cast<size_t>(position), 7),
                       files, kDoing);
    }
    transaction.commit(kDoing);
    return id;
}

std::vector<HistoryRecord> PostgresHistory::list(const HistoryFilter& filter) {
    std::vector<std::string> values;
    const std::string where = filterClause(filter, "$", values);
    Params params;
    for (const std::string& v : values) params.add(v);
    const Result runs = server_->execute(std::string("SELECT ") + kRunColumns + " FROM runs" + where + " ORDER BY id",
                                         params, "cannot read the runs");
    std::vector<HistoryRecord> out;
    for (int i = 0; i < PQntuples(runs.get()); ++i) out.push_back(readRun(Row(runs.get(), i)));
    return out;
}

void PostgresHistory::setCertificate(int64_t id, const std::string& path) {
    const Result updated = server_->execute("UPDATE runs SET certificate = $1 WHERE id = $2",
                                            Params().add(path).add(id), "cannot record the certificate");
    if (std::atoll(PQcmdTuples(updated.get())) == 0)
        server_->fail("cannot record the certificate", "no run " + std::to_string(id));
}

std::optional<HistoryRecord> PostgresHistory::find(int64_t id) {
    constexpr const char* kDoing = "cannot read the run";
    Server& server = *server_;
    const Params key = Params().add(id);
    const Result run =
        server.execute(std::string("SELECT ") + kRunColumns + ", details FROM runs WHERE id = $1", key, kDoing);
    if (PQntuples(run.get()) == 0) return std::nullopt;
    HistoryRecord r = readRun(Row(run.get(), 0));
    r.details = Row(run.get(), 0).text(kRunDetailsColumn);
    const Result cameras =
        server.execute(std::string("SELECT ") + kCameraColumns + " FROM run_cameras WHERE run_id = $1", key, kDoing);
    for (int i = 0; i < PQntuples(cameras.get()); ++i) readCamera(Row(cameras.get(), i), r);
    const Result files = server.execute(
        std::string("SELECT ") + kFileColumns + " FROM run_files WHERE run_id = $1 ORDER BY position", key, kDoing);
    for (int i = 0; i < PQntuples(files.get()); ++i) readFile(Row(files.get(), i), r);
    return r;
}

}  // namespace mz::station
