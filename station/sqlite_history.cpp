#include "station/sqlite_history.h"

#include <cstdlib>
#include <set>

#include <sqlite3.h>

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

struct SchemaState {
    bool ours = false;               // the meta table is there
    std::string application;         // its application row
    int64_t version = 0;             // its schema version row
    std::vector<std::string> other;  // tables beside ours when the meta table is missing
};

SchemaState readSchemaState(Database& db) {
    SchemaState s;
    Statement tables(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    while (tables.step()) {
        const std::string name = tables.text(0);
        if (name == "history_meta") {
            s.ours = true;
        } else if (name.rfind("sqlite_", 0) != 0) {
            s.other.push_back(name);
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

// Why this file cannot hold our history, or empty when it can (at a version we know or older).
std::string refusal(const SchemaState& s, size_t newest) {
    if (!s.ours && !s.other.empty()) {
        std::string names;
        for (size_t i = 0; i < s.other.size() && i < 5; ++i) names += (i ? ", " : "") + s.other[i];
        return "another program's database (tables " + names + (s.other.size() > 5 ? ", ..." : "") +
               "), not a calibration history";
    }
    if (s.ours && s.application != kHistoryApplication) {
        return "another program's database (its application is \"" + s.application + "\"), not a calibration history";
    }
    if (s.version > static_cast<int64_t>(newest)) {
        return "its schema version " + std::to_string(s.version) + " is newer than this program's " +
               std::to_string(newest) + "; record with a newer calibration-cli, or choose another --history";
    }
    return {};
}

constexpr const char* kRunColumns =
    "id, recorded_at, station, operator, vehicle, software_version, model, model_code, config_path, "
    "config_sha256, mode, calibration_result, verdict, pixel_sigma, worst_seam_mm, profile, profile_overridden, "
    "output_folder, output_set, outcome, message";

HistoryRecord readRun(const Statement& s) {
    HistoryRecord r;
    r.id = s.integer(0);
    r.recordedAt = s.text(1);
    r.station = s.text(2);
    r.operatorName = s.text(3);
    r.vehicle = s.text(4);
    r.softwareVersion = s.text(5);
    r.model = s.text(6);
    r.modelCode = s.integer(7);
    r.configPath = s.text(8);
    r.configSha256 = s.text(9);
    r.mode = s.text(10);
    r.calibrationResult = s.optionalInteger(11);
    r.verdict = s.text(12);
    r.pixelSigma = s.optionalReal(13);
    r.worstSeamMm = s.optionalReal(14);
    r.profile = s.text(15);
    r.profileOverridden = s.integer(16) != 0;
    r.outputFolder = s.text(17);
    r.outputSet = s.text(18);
    r.outcome = parseOutcome(s.text(19)).value_or(Outcome::kFailed);
    r.message = s.text(20);
    return r;
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
    std::string why = refusal(state, migrations.size());
    if (!why.empty()) throw HistoryError("history " + path_.string() + ": " + why);
    if (state.ours && state.version == static_cast<int64_t>(migrations.size())) return;
    // Another process may be migrating the same file: look again under the write lock.
    Transaction transaction(*db_);
    state = readSchemaState(*db_);
    why = refusal(state, migrations.size());
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
                          "?16, ?17, ?18, ?19, ?20, ?21)");
        run.bind(1, r.recordedAt).bind(2, r.station).bind(3, r.operatorName).bind(4, r.vehicle);
        run.bind(5, r.softwareVersion).bind(6, r.model).bind(7, r.modelCode).bind(8, r.configPath);
        run.bind(9, r.configSha256).bind(10, r.mode).bind(11, r.calibrationResult).bind(12, r.verdict);
        run.bind(13, r.pixelSigma).bind(14, r.worstSeamMm).bind(15, r.profile);
        run.bind(16, int64_t{r.profileOverridden}).bind(17, r.outputFolder).bind(18, r.outputSet);
        run.bind(19, std::string(outcomeName(r.outcome))).bind(20, r.message).bind(21, r.details);
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
        Statement file(*db_,
                       "INSERT INTO run_files (run_id, kind, path, identifier, bytes, sha256) VALUES (?1, ?2, ?3, ?4, "
                       "?5, ?6)");
        for (const auto& [kind, entries] : {std::pair{"picture", &r.pictures}, std::pair{"output", &r.files}}) {
            for (const FileEntry& f : *entries) {
                file.bind(1, id).bind(2, std::string(kind)).bind(3, f.path).bind(4, f.identifier);
                file.bind(5, f.bytes).bind(6, f.sha256);
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
        std::string sql = std::string("SELECT ") + kRunColumns + " FROM runs";
        std::vector<std::string> values;
        const char* join = " WHERE ";
        for (const auto& [column, value] :
             {std::pair{"vehicle = ?", &filter.vehicle}, std::pair{"recorded_at >= ?", &filter.since},
              std::pair{"verdict = ?", &filter.verdict}}) {
            if (value->empty()) continue;
            sql += join + std::string(column) + std::to_string(values.size() + 1);
            values.push_back(*value);
            join = " AND ";
        }
        Statement s(*db_, sql + " ORDER BY id");
        for (size_t i = 0; i < values.size(); ++i) s.bind(static_cast<int>(i + 1), values[i]);
        std::vector<HistoryRecord> out;
        while (s.step()) out.push_back(readRun(s));
        return out;
    });
}

std::optional<HistoryRecord> SqliteHistory::find(int64_t id) {
    return guarded("cannot read the run", [&]() -> std::optional<HistoryRecord> {
        Statement run(*db_, std::string("SELECT ") + kRunColumns + ", details FROM runs WHERE id = ?1");
        run.bind(1, id);
        if (!run.step()) return std::nullopt;
        HistoryRecord r = readRun(run);
        r.details = run.text(21);
        Statement cameras(*db_,
                          "SELECT camera, detection, corrected, posed, pos_x, pos_y, pos_z, rot_x, rot_y, rot_z, "
                          "rms_px, tolerance, tolerance_note FROM run_cameras WHERE run_id = ?1");
        cameras.bind(1, id);
        while (cameras.step()) {
            const std::string key = cameras.text(0);
            for (int c = 0; c < kStationCameras; ++c) {
                if (key != kStationCameraKeys[c]) continue;
                CameraEntry& k = r.cameras[c];
                k.detection = cameras.optionalInteger(1);
                k.corrected = cameras.integer(2) != 0;
                k.posed = cameras.integer(3) != 0;
                k.posX = cameras.real(4);
                k.posY = cameras.real(5);
                k.posZ = cameras.real(6);
                k.rotX = cameras.real(7);
                k.rotY = cameras.real(8);
                k.rotZ = cameras.real(9);
                k.rmsPx = cameras.optionalReal(10);
                k.tolerance = cameras.text(11);
                k.toleranceNote = cameras.text(12);
            }
        }
        // rowid keeps the order the run listed its files in.
        Statement files(*db_,
                        "SELECT kind, path, identifier, bytes, sha256 FROM run_files WHERE run_id = ?1 ORDER BY rowid");
        files.bind(1, id);
        while (files.step()) {
            FileEntry f{files.text(1), files.optionalInteger(2), files.integer(3), files.text(4)};
            (files.text(0) == "picture" ? r.pictures : r.files).push_back(f);
        }
        return r;
    });
}

std::unique_ptr<History> openHistory(const std::string& location, bool create) {
    if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0) {
        throw HistoryError("history " + location +
                           ": a PostgreSQL history is not supported by this build yet; give a file path");
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
