// The station history file: whole records whatever happens to the writer, several writers at
// once, and a clear refusal of every file that is not a history this program can keep.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include "station/history.h"
#include "station/history_schema.h"
#include "station/history_text.h"
#include "station/sqlite_history.h"
#include "tests/station/sample_run.h"

namespace mz::station {
namespace {

namespace fs = std::filesystem;

fs::path testFolder() { return fs::path(::testing::TempDir()) / ("mz_history_" + std::to_string(getpid())); }

class RemoveTestFolder : public ::testing::Environment {
    void TearDown() override { fs::remove_all(testFolder()); }
};
[[maybe_unused]] ::testing::Environment* const kRemoveTestFolder =
    ::testing::AddGlobalTestEnvironment(new RemoveTestFolder);

fs::path freshFile(const std::string& name) {
    const fs::path dir = testFolder();
    fs::create_directories(dir);
    const fs::path path = dir / name;
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path.string() + suffix);
    return path;
}

int64_t count(const fs::path& path, const std::string& table) {
    Database db(path, false, kHistoryBusyMs);
    Statement s(db, "SELECT count(*) FROM " + table);
    s.step();
    return s.integer(0);
}

std::string openingError(const fs::path& path, bool create = false) {
    try {
        openHistory(path.string(), create)->list({});
    } catch (const HistoryError& e) {
        return e.what();
    }
    return "";
}

TEST(HistoryFile, RecordsComeBackAsWrittenAndFilterByVehicleDateAndVerdict) {
    const fs::path path = freshFile("roundtrip.sqlite");
    const std::unique_ptr<History> history = openHistory(path.string(), true);
    std::vector<HistoryRecord> written;
    for (int i = 0; i < 6; ++i) {
        written.push_back(sampleRun(i < 4 ? "VIN-A" : "VIN-B", i));
        written.back().id = history->append(written.back());
    }
    for (const HistoryRecord& w : written) {
        const std::optional<HistoryRecord> found = history->find(w.id);
        ASSERT_TRUE(found);
        EXPECT_EQ(recordJson(*found, true), recordJson(w, true));
    }
    EXPECT_FALSE(history->find(999));

    const auto ids = [&](const HistoryFilter& f) {
        std::vector<int64_t> out;
        for (const HistoryRecord& r : history->list(f)) out.push_back(r.id);
        return out;
    };
    EXPECT_EQ(ids({"VIN-A", "", ""}).size(), 4u);
    EXPECT_EQ(ids({"VIN-A", "2026-12-03", "good"}), (std::vector<int64_t>{written[2].id}));
    EXPECT_EQ(ids({"", "2026-12-05T08:00", ""}), (std::vector<int64_t>{written[4].id, written[5].id}));
    EXPECT_FALSE(checkSince("2026-12-05T08:00").has_value());
    EXPECT_TRUE(checkSince("05.12.2026").has_value());

    // A comma, quotes and a line break stay inside their field.
    written[0].message = "a, \"b\"\nc";
    const std::string csv = recordsCsv({written[0]});
    EXPECT_NE(csv.find(",\"a, \"\"b\"\"\nc\","), std::string::npos) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\r'), 2);
}

TEST(HistoryFile, AKilledWriterLeavesEveryRunWhole) {
    const fs::path path = freshFile("killed.sqlite");
    openHistory(path.string(), true);
    for (int round = 0; round < 8; ++round) {
        const int64_t before = count(path, "runs");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                const std::unique_ptr<History> history = openHistory(path.string(), false);
                for (int i = 0;; ++i) history->append(sampleRun("VIN-K", i));
            } catch (...) {
            }
            _exit(1);
        }
        // Killed at a different point of a record each round: after a few records, plus a
        // varying pause into the next one.
        int status = 0;
        while (count(path, "runs") < before + 2 + round && waitpid(child, &status, WNOHANG) == 0) {
        }
        usleep(static_cast<useconds_t>(137 * round));
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own";
    }
    Database db(path, false, kHistoryBusyMs);
    Statement check(db, "PRAGMA integrity_check");
    ASSERT_TRUE(check.step());
    EXPECT_EQ(check.text(0), "ok");
    const int64_t runs = count(path, "runs");
    EXPECT_GE(runs, 8 * 2);
    EXPECT_EQ(count(path, "run_cameras"), runs * kStationCameras);
    EXPECT_EQ(count(path, "run_files"), runs * (kFilesPerRun + 1));
    // And the history goes on from there.
    EXPECT_GT(openHistory(path.string(), false)->append(sampleRun("VIN-K", 0)), runs);
}

TEST(HistoryFile, TwoProcessesWritingAtOnceLoseNothing) {
    const fs::path path = freshFile("shared.sqlite");
    openHistory(path.string(), true);
    constexpr int kRuns = 150;
    writeAtOnceAndLoseNothing(path.string(), kRuns, false);
    EXPECT_EQ(count(path, "run_files"), 2 * kRuns * (kFilesPerRun + 1));
}

TEST(HistoryFile, AnOlderSchemaIsMigratedForwardAndANewerOneRefused) {
    const fs::path path = freshFile("migrated.sqlite");
    std::vector<std::string> steps = historyMigrations(kSqliteDialect);
    const int64_t id = SqliteHistory(path, true, steps).append(sampleRun("VIN-M", 0));
    // Taken back to the first schema, whose files have no position and whose runs name no
    // certificate: brought forward, its runs keep their files in the order they were listed and
    // gain the certificate's column, empty until a certificate is named.
    Database(path, false, kHistoryBusyMs)
        .execute(
            "ALTER TABLE run_files DROP COLUMN position; ALTER TABLE runs DROP COLUMN certificate; UPDATE "
            "history_meta SET value = '1' WHERE name = 'schema_version'");
    HistoryRecord first = sampleRun("VIN-M", 0);
    first.id = id;
    first.certificatePath.clear();
    EXPECT_EQ(recordJson(*openHistory(path.string(), false)->find(id), true), recordJson(first, true));
    first.certificatePath = "/bay/out/certificate.html";
    openHistory(path.string(), false)->setCertificate(id, first.certificatePath);
    EXPECT_EQ(recordJson(*openHistory(path.string(), false)->find(id), true), recordJson(first, true));
    try {
        openHistory(path.string(), false)->setCertificate(id + 1, "/elsewhere.html");
        ADD_FAILURE() << "a certificate was named for a run that is not there";
    } catch (const HistoryError& e) {
        EXPECT_NE(std::string(e.what()).find("no run " + std::to_string(id + 1)), std::string::npos) << e.what();
    }

    steps.push_back("ALTER TABLE runs ADD COLUMN bay TEXT NOT NULL DEFAULT 'one';");
    {
        SqliteHistory later(path, false, steps);
        EXPECT_EQ(later.find(id)->vehicle, "VIN-M");
        Database db(path, false, kHistoryBusyMs);
        Statement s(db, "SELECT bay FROM runs WHERE id = ?1");
        s.bind(1, id);
        ASSERT_TRUE(s.step());
        EXPECT_EQ(s.text(0), "one");
    }
    const std::string newer = openingError(path);
    EXPECT_NE(newer.find(path.string()), std::string::npos) << newer;
    const size_t released = historyMigrations(kSqliteDialect).size();
    EXPECT_NE(newer.find("schema version " + std::to_string(released + 1) + " is newer than this program's " +
                         std::to_string(released)),
              std::string::npos)
        << newer;
}

TEST(HistoryFile, AForeignDamagedOrMissingFileIsRefusedByName) {
    const fs::path text = freshFile("notes.sqlite");
    std::ofstream(text) << "station notes, not a database\n" << std::string(5000, 'x');
    EXPECT_NE(openingError(text, true).find(text.string() + ": cannot open: not an SQLite database"), std::string::npos)
        << openingError(text, true);

    const fs::path foreign = freshFile("foreign.sqlite");
    Database(foreign, true, 0).execute("CREATE TABLE orders (id INTEGER); CREATE TABLE parts (id INTEGER);");
    EXPECT_NE(openingError(foreign, true).find("another program's database (tables orders, parts)"), std::string::npos)
        << openingError(foreign, true);

    const fs::path damaged = freshFile("damaged.sqlite");
    {
        const std::unique_ptr<History> history = openHistory(damaged.string(), true);
        for (int i = 0; i < 40; ++i) history->append(sampleRun("VIN-D", i));
    }
    {
        // Everything after the first page (the table list) overwritten.
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);
        const std::string junk(static_cast<size_t>(fs::file_size(damaged)) - 4096, '\x5a');
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    const std::string why = openingError(damaged);
    EXPECT_NE(why.find(damaged.string()), std::string::npos) << why;
    EXPECT_NE(why.find("damaged"), std::string::npos) << why;

    const fs::path missing = freshFile("missing.sqlite");
    EXPECT_NE(openingError(missing).find("no such file"), std::string::npos);
    EXPECT_FALSE(fs::exists(missing)) << "reading a history must not create one";
}

}  // namespace
}  // namespace mz::station
