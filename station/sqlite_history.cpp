#include "station/sqlite_history.h"

#include <cstdlib>

#include <sqlite3.h>

#include "station/history_rows.h"
#include "station/history_schema.h"

namespace mz::station {

namespace {

// The file's words for what went wrong, as an operator can act on them.
std::string describe(const SqliteError& e) {
    switch (e.code()) {
    case SQLITE_NOTADB: return "not an SQLite database (a damaged file, or another kind of file)";
    case SQLITE_CORRUPT: return std::string("the database is damaged (") + e.what() + ")";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "locked by another program for more than " + std::to_string(kHistoryBusyMs / 1000) + " s";
    case SQLITE_CANTOPEN: return std::string("cannot be opened (") + e.what() + ")";
    case SQLITE_READONLY: return std::string("cannot be written (") + e.what() + ")";
    case SQLITE_FULL: return "the disk is full";
    default: return e.what();
    }
}

SchemaState readSchemaState(Database& db) {
    SchemaState s;
    Statement tables(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    while (tables.step()) {
        const std::string name = tables.text(0);
        if (name == "history_meta") {
            s.ours = true;
        } else if (name.rfind("sqlite_", 0) != 0) {
            s.others.push_back(name);
        }
    }
    if (!s.ours) return s;
    Statement meta(db, "SELECT name, value FROM history_meta");
    while (meta.step()) {
        if (meta.text(0) == "application") s.application = meta.text(1);
        if (meta.text(0) == "schema_version") s.version = std::atoll(meta.text(1).c_str());
    }
    return s;
}

}  // namespace

template <typename F>
auto SqliteHistory::guarded(const char* doing, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const SqliteError& e) {
        throw HistoryError("history " + path_.string() + ": " + doing + ": " + describe(e));
    }
}

SqliteHistory::SqliteHistory(const std::filesystem::path& path, bool create, const std::vector<std::string>& migrations)
    : path_(path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        if (!create) throw HistoryError("history " + path.string() + ": no such file (nothing recorded there yet)");
        if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) throw HistoryError("history " + path.string() + ": cannot create its folder: " + ec.message());
    } else if (std::filesystem::is_directory(path, ec)) {
        throw HistoryError("history " + path.string() + ": is a folder; --history names the database file");
    }
    guarded("cannot open", [&] {
        db_ = std::make_unique<Database>(path, create, kHistoryBusyMs);
        // WAL is a property of the file, so a reader's open costs nothing here once it is set.
        {
            Statement wal(*db_, "PRAGMA journal_mode = WAL");
            while (wal.step()) {
            }
        }
        // A commit reaches the log without waiting for the disk: a killed process loses nothing
        // committed, a power cut at most the last runs, never the file's consistency. The last
        // connection's close folds the log into the file, so the file alone holds the history.
        db_->execute("PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON");
        migrate(migrations);
    });
}

void SqliteHistory::migrate(const std::vector<std::string>& migrations) {
    SchemaState state = readSchemaState(*db_);
    std::string why = schemaRefusal(state, migrations.size());
    if (!why.empty()) throw HistoryError("history " + path_.string() + ": " + why);
    if (state.ours && state.version == static_cast<int64_t>(migrations.size())) return;
    // Another process may be migrating the same file: look again under the write lock.
    Transaction transaction(*db_);
    state = readSchemaState(*db_);
    why = schemaRefusal(state, migrations.size());
    if (!why.empty()) throw HistoryError("history " + path_.string() + ": " + why);
    for (size_t step = static_cast<size_t>(state.version); step < migrations.size(); ++step) {
        db_->execute(migrations[step]);
    }
    Statement meta(*db_, "INSERT OR REPLACE INTO history_meta (name, value) VALUES (?1, ?2)");
    meta.bind(1, std::string("application")).bind(2, std::string(kHistoryApplication)).step();
    meta.reset();
    meta.bind(1, std::string("schema_version")).bind(2, std::to_string(migrations.size())).step();
    transaction.commit();
}

int64_t SqliteHistory::append(const HistoryRecord& r) {
    return guarded("cannot record the run", [&] {
        Transaction transaction(*db_);
        Statement run(*db_,
                      std::string("INSERT INTO runs (") + kRunColumns +
                          ", details) VALUES (NULL, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, "
                          "?16, ?17, ?18, ?19, ?20, ?21, ?22)");
        run.bind(1, r.recordedAt).bind(2, r.station).bind(3, r.operatorName).bind(4, r.vehicle);
        run.bind(5, r.softwareVersion).bind(6, r.model).bind(7, r.modelCode).bind(8, r.configPath);
        run.bind(9, r.configSha256).bind(10, r.mode).bind(11, r.calibrationResult).bind(12, r.verdict);
        run.bind(13, r.pixelSigma).bind(14, r.worstSeamMm).bind(15, r.profile);
        run.bind(16, int64_t{r.profileOverridden}).bind(17, r.outputFolder).bind(18, r.outputSet);
        run.bind(19, std::string(outcomeName(r.outcome))).bind(20, r.message).bind(21, r.certificatePath);
        run.bind(22, r.details);
        run.step();
        const int64_t id = db_->lastInsertId();

        Statement camera(*db_,
                         "INSERT INTO run_cameras (run_id, camera, detection, corrected, posed, pos_x, pos_y, pos_z, "
                         "rot_x, rot_y, rot_z, rms_px, tolerance, tolerance_note) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                         "?8, ?9, ?10, ?11, ?12, ?13, ?14)");
        for (int c = 0; c < kStationCameras; ++c) {
            const CameraEntry& k = r.cameras[c];
            camera.bind(1, id).bind(2, std::string(kStationCameraKeys[c])).bind(3, k.detection);
            camera.bind(4, int64_t{k.corrected}).bind(5, int64_t{k.posed});
            camera.bind(6, k.posX).bind(7, k.posY).bind(8, k.posZ).bind(9, k.rotX).bind(10, k.rotY).bind(11, k.rotZ);
            camera.bind(12, k.rmsPx).bind(13, k.tolerance).bind(14, k.toleranceNote);
            camera.step();
            camera.reset();
        }
        Statement file(
            *db_,
            "INSERT INTO run_files (run_id, kind, path, identifier, bytes, sha256, position) VALUES (?1, ?2, "
            "?3, ?4, ?5, ?6, ?7)");
        int64_t position = 0;
        for (const auto& [kind, entries] : {std::pair{"picture", &r.pictures}, std::pair{"output", &r.files}}) {
            for (const FileEntry& f : *entries) {
                file.bind(1, id).bind(2, std::string(kind)).bind(3, f.path).bind(4, f.identifier);
                file.bind(5, f.bytes).bind(6, f.sha256).bind(7, position++);
                file.step();
                file.reset();
            }
        }
        transaction.commit();
        return id;
    });
}

std::vector<HistoryRecord> SqliteHistory::list(const HistoryFilter& filter) {
    return guarded("cannot read the runs", [&] {
        std::vector<std::string> values;
        const std::string sql = std::string("SELECT ") + kRunColumns + " FROM runs" + filterClause(filter, "?", values);
        Statement s(*db_, sql + " ORDER BY id");
        for (size_t i = 0; i < values.size(); ++i) s.bind(static_cast<int>(i + 1), values[i]);
        std::vector<HistoryRecord> out;
        while (s.step()) out.push_back(readRun(s));
        return out;
    });
}

void SqliteHistory::setCertificate(int64_t id, const std::string& path) {
    const bool named = guarded("cannot record the certificate", [&] {
        Statement s(*db_, "UPDATE runs SET certificate = ?1 WHERE id = ?2");
        s.bind(1, path).bind(2, id).step();
        return db_->changes() > 0;
    });
    if (!named) {
        throw HistoryError("history " + path_.string() + ": cannot record the certificate: no run " +
                           std::to_string(id));
    }
}

std::optional<HistoryRecord> SqliteHistory::find(int64_t id) {
    return guarded("cannot read the run", [&]() -> std::optional<HistoryRecord> {
        Statement run(*db_, std::string("SELECT ") + kRunColumns + ", details FROM runs WHERE id = ?1");
        run.bind(1, id);
        if (!run.step()) return std::nullopt;
        HistoryRecord r = readRun(run);
        r.details = run.text(kRunDetailsColumn);
        Statement cameras(*db_, std::string("SELECT ") + kCameraColumns + " FROM run_cameras WHERE run_id = ?1");
        cameras.bind(1, id);
        while (cameras.step()) readCamera(cameras, r);
        // Rows of the first schema have no position; rowid keeps their order.
        Statement files(*db_, std::string("SELECT ") + kFileColumns +
                                  " FROM run_files WHERE run_id = ?1 ORDER BY position, rowid");
        files.bind(1, id);
        while (files.step()) readFile(files, r);
        return r;
    });
}

}  // namespace mz::station
