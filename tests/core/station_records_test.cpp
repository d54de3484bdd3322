// The desktop program's saves in the station history: every save that got past the identity is
// recorded with what it wrote, a name the history cannot take stops the save first, and a history
// that fails never costs the files.
#include <gtest/gtest.h>

#include "app/core/station_records.h"
#include "format/config_writer.h"
#include "format/file_read.h"
#include "station/checksum.h"
#include "station/history.h"
#include "station/profile.h"
#include "testing/files.h"
#include "testing/scripted_ui.h"
#include "testing/simulated_bay.h"

namespace mz::core {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempDir;

struct Desk {
    TempDir dir;
    ScriptedUi ui;
    Session session{ui};
    fs::path history = dir.path() / "history.sqlite";
    StationRecords records{session, {history.string(), false}};

    // ownPictures: a copy of the pictures the test may change.
    explicit Desk(bool ownPictures = false) {
        format::writeConfigFile(dir.path() / "Config.bin", test::simulatedConfig());
        ui.configAnswers.push_back((dir.path() / "Config.bin").string());
        fs::path bay = test::simulatedBay();
        if (ownPictures) {
            bay = dir.path() / "bay";
            fs::create_directories(bay);
            fs::copy(test::simulatedBay() / "image", bay / "image");
        }
        ui.folderAnswers.push_back(bay.string());
        session.configLoad();
        session.imageLoad();
    }
    station::HistoryRecord find(int64_t id) { return *station::openHistory(history.string(), false)->find(id); }
};

TEST(StationRecords, EverySaveIsRecordedWithWhatItWrote) {
    Desk desk;
    const station::StationIdentity who{"WVWZZZ1JZXW000001", "Ann", "Bay 3"};
    // Before Apply AVM: refused, and the history says why.
    const StationSave early = desk.records.saveLut(who);
    ASSERT_EQ(early.save.status, CommandStatus::kRefused);
    ASSERT_TRUE(early.recordId);
    const station::HistoryRecord refused = desk.find(*early.recordId);
    EXPECT_EQ(refused.outcome, station::Outcome::kRefused);
    EXPECT_EQ(refused.message, early.save.reason()->text);
    EXPECT_TRUE(refused.files.empty());

    desk.session.applyAvm();
    const fs::path out = desk.dir.path() / "out";
    desk.ui.folderAnswers.push_back(out.string());
    const StationSave saved = desk.records.saveLut(who);
    ASSERT_TRUE(saved.save.done());
    ASSERT_TRUE(saved.recordId);
    const station::HistoryRecord r = desk.find(*saved.recordId);
    EXPECT_EQ(r.outcome, station::Outcome::kSaved);
    EXPECT_EQ(r.vehicle, who.vehicle);
    EXPECT_EQ(r.operatorName, who.operatorName);
    EXPECT_EQ(r.station, who.station);
    EXPECT_EQ(r.model, desk.session.calibration().modelName);
    EXPECT_EQ(r.verdict, desk.session.preview().rig().report().good ? "good" : "poor");
    EXPECT_EQ(r.configSha256, station::fileDigest(desk.dir.path() / "Config.bin")->sha256);
    ASSERT_EQ(r.pictures.size(), 4u);
    EXPECT_EQ(r.pictures[0].sha256, station::fileDigest(test::simulatedBay() / "image/front.bmp")->sha256);
    ASSERT_EQ(r.files.size(), saved.save.files.written.size());
    ASSERT_FALSE(r.files.empty());
    for (const station::FileEntry& f : r.files) {
        EXPECT_EQ(f.sha256, station::fileDigest(out / f.path)->sha256) << f.path;
    }
    EXPECT_EQ(fs::path(r.outputFolder), fs::absolute(out).lexically_normal());
    EXPECT_EQ(r.cameras[kLeft].posX, desk.session.calibration().cameras[kLeft].posX);

    // A cancelled chooser changed nothing: no record.
    const StationSave cancelled = desk.records.saveLut(who);
    EXPECT_EQ(cancelled.save.status, CommandStatus::kCancelled);
    EXPECT_FALSE(cancelled.recordId);

    // The history window's reading: one vehicle's records, newest first, and one record whole.
    const HistoryBrowser browser(desk.history.string());
    std::string error;
    desk.ui.folderAnswers.push_back(out.string());
    ASSERT_TRUE(desk.records.saveLut({"OTHER-CAR", "", ""}).recordId);
    const std::vector<HistoryRow> rows = browser.list(who.vehicle, error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, *saved.recordId);
    EXPECT_EQ(rows[0].cells[6], "saved");
    EXPECT_EQ(rows[1].cells[6], "refused");
    EXPECT_EQ(browser.list("", error).size(), 3u);
    const std::string text = browser.details(*saved.recordId, error);
    EXPECT_NE(text.find(who.vehicle), std::string::npos);
    EXPECT_NE(text.find(r.files[0].sha256), std::string::npos);
    EXPECT_TRUE(browser.details(999, error).empty());
    EXPECT_NE(error.find("999"), std::string::npos);
}

TEST(StationRecords, AnIdentityTheHistoryCannotTakeStopsTheSaveFirst) {
    Desk desk;
    desk.session.applyAvm();
    const size_t choosers = desk.ui.folderRequests().size();
    const std::string bell = std::string("VIN") + '\a';
    const StationSave s = desk.records.saveLut({"VIN1", bell, ""});
    EXPECT_EQ(s.save.status, CommandStatus::kRefused);
    EXPECT_EQ(desk.ui.messageTexts().back(), *station::checkIdentityText(bell, "Operator"));
    EXPECT_EQ(desk.ui.folderRequests().size(), choosers);
    EXPECT_FALSE(s.recordId);
    EXPECT_FALSE(fs::exists(desk.history));
    EXPECT_TRUE(desk.records.saveLut({std::string(65, 'V'), "", ""}).save.status == CommandStatus::kRefused);
}

TEST(StationRecords, ACameraOutsideTheProfileRefusesTheSaveUnlessOverridden) {
    Desk desk;
    desk.session.applyAvm();
    const std::string example = std::string(MZ_SOURCE_DIR) + "/docs/simulated_station_profile.json";
    station::StationProfile profile = station::parseProfile(format::readTextFile(example), example);
    station::DesignValue& tilt = profile.cameras[kLeft].fields[station::kTilt];
    tilt.design += 10 * tilt.tolerance;  // the left camera now sits far from its design
    desk.records.setProfile(profile, false);
    const size_t choosers = desk.ui.folderRequests().size();
    const StationSave refused = desk.records.saveLut({"VIN1", "", ""});
    EXPECT_EQ(refused.save.status, CommandStatus::kRefused);
    EXPECT_EQ(desk.ui.folderRequests().size(), choosers);  // nothing asked, nothing written
    EXPECT_NE(desk.ui.messages().back().detail.find("LEFT camera tilt"), std::string::npos);
    ASSERT_TRUE(refused.recordId);
    const station::HistoryRecord r = desk.find(*refused.recordId);
    EXPECT_EQ(r.outcome, station::Outcome::kRefused);
    EXPECT_EQ(r.profile, profile.name);
    EXPECT_FALSE(r.profileOverridden);
    EXPECT_EQ(r.cameras[kLeft].tolerance, "outside");
    EXPECT_EQ(r.cameras[kFront].tolerance, "within");

    // Overridden: saved, and the record says so.
    desk.records.setProfile(profile, true);
    desk.ui.folderAnswers.push_back((desk.dir.path() / "out").string());
    const StationSave saved = desk.records.saveLut({"VIN1", "", ""});
    ASSERT_TRUE(saved.save.done());
    EXPECT_TRUE(desk.find(*saved.recordId).profileOverridden);
}

// The checksums come from the bytes as the session read and wrote them, not from the disk
// afterwards: each must be what reading the file back gives (what a record always held), and a
// file changed after the save must not change it.
TEST(StationRecords, ChecksumsAreThoseOfTheBytesReadAndWritten) {
    Desk desk(true);
    desk.session.applyAvm();
    const fs::path out = desk.dir.path() / "out";
    desk.ui.folderAnswers.push_back(out.string());
    const SaveResult save = desk.session.saveLut();
    ASSERT_TRUE(save.done());
    const station::HistoryRecord r = saveRecord(desk.session, save, {"VIN1", "", ""});
    const auto readBack = [](const fs::path& file) {
        const std::optional<station::FileDigest> d = station::fileDigest(file);
        return d ? std::pair{d->bytes, d->sha256} : std::pair{int64_t{-1}, std::string()};
    };
    EXPECT_EQ(r.configSha256, readBack(desk.dir.path() / "Config.bin").second);
    ASSERT_EQ(r.pictures.size(), 4u);
    for (const station::FileEntry& f : r.pictures) EXPECT_EQ(std::pair(f.bytes, f.sha256), readBack(f.path)) << f.path;
    ASSERT_EQ(r.files.size(), save.files.written.size());
    std::vector<station::FileEntry> onDisk;
    for (const station::FileEntry& f : r.files) {
        EXPECT_EQ(std::pair(f.bytes, f.sha256), readBack(out / f.path)) << f.path;
        onDisk.push_back({f.path, f.identifier, readBack(out / f.path).first, readBack(out / f.path).second});
    }
    EXPECT_EQ(r.outputSet, station::outputSetIdentity(onDisk));

    test::writeBytes(desk.dir.path() / "Config.bin", std::vector<uint8_t>(100, 0));
    test::writeBytes(fs::path(r.pictures[kLeft].path), std::vector<uint8_t>(100, 1));
    test::writeBytes(out / r.files[0].path, std::vector<uint8_t>(100, 2));
    const station::HistoryRecord again = saveRecord(desk.session, save, {"VIN1", "", ""});
    EXPECT_EQ(again.configSha256, r.configSha256);
    EXPECT_EQ(again.pictures[kLeft].sha256, r.pictures[kLeft].sha256);
    EXPECT_EQ(again.files[0].sha256, r.files[0].sha256);
    EXPECT_EQ(again.outputSet, r.outputSet);
}

TEST(StationRecords, AHistoryThatFailsNeverCostsTheFiles) {
    Desk desk;
    desk.session.applyAvm();
    test::writeBytes(desk.history, std::vector<uint8_t>(4096, 0x5a));  // not a database
    const fs::path out = desk.dir.path() / "out";
    desk.ui.folderAnswers.push_back(out.string());
    const StationSave s = desk.records.saveLut({"VIN1", "", ""});
    EXPECT_TRUE(s.save.done());
    EXPECT_FALSE(s.recordId);
    EXPECT_NE(s.historyError.find(desk.history.string()), std::string::npos) << s.historyError;
    EXPECT_TRUE(fs::exists(out / s.save.files.written.front().path));
    EXPECT_EQ(desk.ui.messages().back().detail, s.historyError);
    std::string error;
    EXPECT_TRUE(HistoryBrowser((desk.dir.path() / "none.sqlite").string()).list("", error).empty());
    EXPECT_NE(error.find("none.sqlite"), std::string::npos);
}

}  // namespace
}  // namespace mz::core
