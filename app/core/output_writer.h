// "Save LUT": the flash data files of every configured view, below the folder the operator picks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/command_result.h"
#include "app/core/preview_context.h"
#include "app/core/ui.h"
#include "format/atomic_file.h"
#include "format/bitmap.h"
#include "format/flash_data.h"

namespace mz::core {

inline constexpr int kStitchedMaskFormat = 2;  // 16-bit luma/chroma words
inline constexpr int kOsdReferenceWidth = 800;
inline constexpr int kParamBufferSize = 1000;

struct SaveInputs {
    CalibrationState& state;
    Preview& preview;
    bool viewApplied;
    std::string& dataFolder;                     // offered to the chooser, then remembered
    std::optional<format::FlashDate> date = {};  // the local date when empty
};

// One file of a save: where it went (relative to the folder) and what it holds.
struct WrittenFile {
    std::filesystem::path path;
    int32_t identifier = 0;
    int64_t payloadBytes = 0;
};

struct SaveReport {
    std::vector<WrittenFile> written;
    std::vector<std::string> failed;  // directories and files that could not be written
};

struct SaveResult : CommandResult {
    SaveReport files;
    Milliseconds write{};  // from the progress window's opening to its closing
};

// Writes payloads in the flash data container below a folder and notes each file in the report;
// a file that cannot be written is noted as failed and the save goes on. With a staging set the
// files only go under temporary names until the set is committed.
class FileSink {
public:
    FileSink(const std::filesystem::path& folder, const format::FlashDate& date, int32_t major, int32_t minor,
             SaveReport& report, format::StagedFiles* staging = nullptr)
        : folder_(folder), date_(date), major_(major), minor_(minor), report_(report), staging_(staging) {}

    void makeDirectory(const char* name);
    // A name that could leave its directory is not written.
    void write(const char* directory, const std::string& name, const std::vector<uint8_t>& payload, int32_t identifier);

private:
    std::filesystem::path folder_;
    format::FlashDate date_;
    int32_t major_;
    int32_t minor_;
    SaveReport& report_;
    format::StagedFiles* staging_;
    std::vector<uint8_t> file_;  // the encoded file, storage shared by the files of the sink
};

// The whole command with its guards, chooser, progress and messages. Returns how it ended and
// what was written; the caller collects the messages. The files of one save go in place together
// once every one of them is on disk: a save that fails (or is killed) part-way leaves the folder
// with the files it had, never a mix of two calibrations' tables.
SaveResult saveOutput(SaveInputs& inputs, Ui& ui);

// Gives a 24-bit overlay picture (for example parking guide lines drawn on the floor) to every single
// view that writes an OSD mask, as "Parking Line Assistance" gives one to the shown view; without it
// their masks are empty. Returns how many views took it.
int setOverlayPicture(CalibrationState& state, const format::Bitmap& picture);

// The files themselves, below `folder`; used by saveOutput once the guards passed.
bool writeViewFiles(const std::filesystem::path& folder, CalibrationState& state, int maskFormat,
                    const format::FlashDate& date, int32_t major, int32_t minor, Ui& ui, SaveReport& report,
                    format::StagedFiles* staging = nullptr);
void writeParamFile(const std::filesystem::path& folder, CalibrationState& state, const format::FlashDate& date,
                    int32_t major, int32_t minor, Ui& ui, SaveReport& report, format::StagedFiles* staging = nullptr);

}  // namespace mz::core
