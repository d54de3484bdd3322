#include "station/history_schema.h"

namespace mz::station {

namespace {

// {id} stands for the dialect's self-numbering key.
constexpr const char* kSteps[] = {
    R"sql(
CREATE TABLE history_meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE runs (
    id {id},
    recorded_at TEXT NOT NULL,
    station TEXT NOT NULL,
    operator TEXT NOT NULL,
    vehicle TEXT NOT NULL,
    software_version TEXT NOT NULL,
    model TEXT NOT NULL,
    model_code BIGINT NOT NULL,
    config_path TEXT NOT NULL,
    config_sha256 TEXT NOT NULL,
    mode TEXT NOT NULL,
    calibration_result BIGINT,
    verdict TEXT NOT NULL,
    pixel_sigma DOUBLE PRECISION,
    worst_seam_mm DOUBLE PRECISION,
    profile TEXT NOT NULL,
    profile_overridden BIGINT NOT NULL,
    output_folder TEXT NOT NULL,
    output_set TEXT NOT NULL,
    outcome TEXT NOT NULL CHECK (outcome IN ('saved', 'refused', 'failed')),
    message TEXT NOT NULL,
    details TEXT NOT NULL
);
CREATE INDEX runs_vehicle ON runs (vehicle);
CREATE INDEX runs_recorded_at ON runs (recorded_at);
CREATE TABLE run_cameras (
    run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
    camera TEXT NOT NULL,
    detection BIGINT,
    corrected BIGINT NOT NULL,
    posed BIGINT NOT NULL,
    pos_x DOUBLE PRECISION NOT NULL,
    pos_y DOUBLE PRECISION NOT NULL,
    pos_z DOUBLE PRECISION NOT NULL,
    rot_x DOUBLE PRECISION NOT NULL,
    rot_y DOUBLE PRECISION NOT NULL,
    rot_z DOUBLE PRECISION NOT NULL,
    rms_px DOUBLE PRECISION,
    tolerance TEXT NOT NULL,
    tolerance_note TEXT NOT NULL,
    PRIMARY KEY (run_id, camera)
);
CREATE TABLE run_files (
    run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
    kind TEXT NOT NULL CHECK (kind IN ('picture', 'output')),
    path TEXT NOT NULL,
    identifier BIGINT,
    bytes BIGINT NOT NULL,
    sha256 TEXT NOT NULL,
    PRIMARY KEY (run_id, kind, path)
);
)sql",
    // The order the run listed its files in: a server's tables keep no insertion order.
    R"sql(
ALTER TABLE run_files ADD COLUMN position BIGINT;
)sql",
    // The calibration certificate written for the run, by its absolute path; empty when none was.
    R"sql(
ALTER TABLE runs ADD COLUMN certificate TEXT NOT NULL DEFAULT '';
)sql",
};

}  // namespace

std::vector<std::string> historyMigrations(const SqlDialect& dialect) {
    std::vector<std::string> out;
    for (const char* step : kSteps) {
        std::string sql = step;
        for (size_t at = sql.find("{id}"); at != std::string::npos; at = sql.find("{id}", at)) {
            sql.replace(at, 4, dialect.idColumn);
        }
        out.push_back(sql);
    }
    return out;
}

std::string schemaRefusal(const SchemaState& s, size_t newest) {
    if (!s.ours && !s.others.empty()) {
        std::string names;
        for (size_t i = 0; i < s.others.size() && i < 5; ++i) names += (i ? ", " : "") + s.others[i];
        return "another program's database (tables " + names + (s.others.size() > 5 ? ", ..." : "") +
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

}  // namespace mz::station
