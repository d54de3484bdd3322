// "Save LUT": the flash data files of every configured view, below the folder the operator picks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/command_result.h"
#include "app/core/preview_context.h"
#include "app/core/ui.h"
#include "format/bitmap.h"
#include "format/flash_data.h"
#include "format/output_set.h"
#include "station/checksum.h"

namespace mz::core {

inline constexpr int kStitchedMaskFormat = 2;  // 16-bit luma/chroma words
inline constexpr int kOsdReferenceWidth = 800;
inline constexpr int kParamBufferSize = 1000;

// "Save LUT" after an "Apply AVM" that failed: what happened and what to do instead.
inline constexpr const char* kFailedApplySave =
    "The last \"Apply AVM\" failed: nothing was saved.\n\nCorrect the markers of the camera the calibration "
    "error names, then click \"Apply AVM\" again.";

struct SaveInputs {
    CalibrationState& state;
    Preview& preview;
    bool viewApplied;
    std::string& dataFolder;                     // offered to the chooser, then remembered
    std::optional<format::FlashDate> date = {};  // the local date when empty
    std::string tool = "Calibration Tool";       // named in the set's manifest
    // Why the last "Apply AVM" failed, when it did: its tables are refused before the chooser.
    std::string applyFailure = {};
    bool checksums = false;  // each file's checksum taken as it is written (WrittenFile::checksum)
};

// A data version the files can carry: each number is written as two decimal digits (a larger or
// negative one would wrap), and 0.0 marks no version.
inline bool writableDataVersion(int major, int minor) {
    return major >= 0 && minor >= 0 && major <= 99 && minor <= 99 && !(major == 0 && minor == 0);
}

// The name of the workflow's set of files in an output folder (its manifest is calibration.set.json).
inline constexpr const char* kCalibrationSet = "calibration";

// One file of a save: where it went (relative to the folder) and what it holds.
struct WrittenFile {
    std::filesystem::path path;
    int32_t identifier = 0;
    int64_t payloadBytes = 0;
    // The size and SHA-256 of the bytes staged, when the save was asked for them: a record of the
    // save need not read 20 MB back from the disk.
    std::optional<station::FileDigest> checksum;
};

struct SaveReport {
    std::vector<WrittenFile> written;
    std::vector<std::string> failed;  // directories and files that could not be written
};

struct SaveResult : CommandResult {
    SaveReport files;
    Milliseconds write{};  // from the progress window's opening to its closing
};

// Stages payloads in the flash data container into a set of output files and notes each file in
// the report; a file that cannot be staged is noted as failed (with its cause) and the save goes
// on. Nothing reaches its final name before the set is committed.
//
// A payload handed over with post() is encoded and staged on the sink's own thread while the
// caller makes the next one. Every call waits for the file posted before it, so the files are
// staged, and noted, in the order they are given, as if one thread did it all. With `checksums`,
// each file's checksum is taken there too, so it overlaps with the caller's work.
class FileSink {
public:
    FileSink(format::OutputSet& set, const format::FlashDate& date, int32_t major, int32_t minor, SaveReport& report,
             bool checksums = false)
        : set_(set), date_(date), major_(major), minor_(minor), report_(report), checksums_(checksums) {}
    ~FileSink();
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    void makeDirectory(const char* name);
    // A name that could leave its directory is not written. Staged before it returns.
    void write(const char* directory, const std::string& name, std::span<const uint8_t> payload, int32_t identifier);
    // The same, staged on the sink's thread; the payload's storage comes back through payload().
    void post(const char* directory, std::string name, std::vector<uint8_t> payload, int32_t identifier);
    // `length` zero bytes for the next post(), in the storage of a file already staged when one is.
    std::vector<uint8_t> payload(int length);
    // Waits until the report notes every file given.
    void finish();

private:
    struct Posted {
        const char* directory;
        std::string name;
        std::vector<uint8_t> payload;
        int32_t identifier;
    };
    void writeNow(const char* directory, const std::string& name, std::span<const uint8_t> payload, int32_t identifier);
    bool startWriter();
    void writerLoop();

    format::OutputSet& set_;
    format::FlashDate date_;
    int32_t major_;
    int32_t minor_;
    SaveReport& report_;  // the writer's alone while a file is posted
    bool checksums_;
    std::vector<uint8_t> file_;  // the encoded file, storage shared by the files of the sink

    std::mutex mutex_;
    std::condition_variable posted_, staged_;
    std::optional<Posted> next_;  // set from post() until the writer has staged it
    std::vector<uint8_t> spare_;
    std::exception_ptr failure_;  // escaped the writer's thread; thrown on by the next call that waits
    bool stop_ = false;
    bool noThread_ = false;
    std::thread writer_;
};

// The whole command with its guards, chooser, progress and messages. Returns how it ended and
// what was written; the caller collects the messages. The files of one save are one output set: a
// save that fails part-way leaves the folder with the files it had, and one killed part-way is
// finished or undone by the next save into that folder, never left a mix of two calibrations.
SaveResult saveOutput(SaveInputs& inputs, Ui& ui);

// Gives a 24-bit overlay picture (for example parking guide lines drawn on the floor) to every single
// view that writes an OSD mask, as "Parking Line Assistance" gives one to the shown view; without it
// their masks are empty. Returns how many views took it.
int setOverlayPicture(CalibrationState& state, const format::Bitmap& picture);

// The files themselves, staged into `set`; used by saveOutput once the guards passed.
void writeViewFiles(format::OutputSet& set, CalibrationState& state, int maskFormat, const format::FlashDate& date,
                    int32_t major, int32_t minor, Ui& ui, SaveReport& report, bool checksums);
void writeParamFile(format::OutputSet& set, CalibrationState& state, const format::FlashDate& date, int32_t major,
                    int32_t minor, Ui& ui, SaveReport& report, bool checksums);

}  // namespace mz::core
