// A set of output files that replaces the previous set of the same name whole, or not at all.
//
// The display unit's flashing tool reads plain files under their final names, so the set cannot
// live in a folder of its own that is swapped in one rename. Instead every step leaves enough on
// disk for the next writer to finish or undo it:
//   1. each new file is written beside its final name as NAME.mz-new; all are synced before step 2;
//   2. a journal (SET.set.journal in the root) lists the set's files, then is synced with its folder;
//   3. file by file, the old NAME moves to NAME.mz-old and NAME.mz-new to NAME; the manifest
//      (SET.set.json: the set's identity and every file's size and CRC-32) is the last file;
//   4. the folders are synced, the NAME.mz-old removed, then the journal.
// A journal found later means the renames may have begun: they are finished (or, when one cannot
// be, every file goes back to its .mz-old). Without a journal, .mz-new and .mz-old files are left
// over from a writer that stopped before step 2 or after step 4 and are removed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "format/atomic_file.h"

namespace mz::format {

// CRC-32 (IEEE 802.3, reflected, as zlib and PNG compute it).
uint32_t crc32(std::span<const uint8_t> bytes);

// The steps of a save, in order, as the fault hook sees them: kStage for each file, kJournal once,
// kBackup and kPlace for each file, then kSyncFolders, kRemoveBackups and kFinish once.
enum class SetStep { kStage, kJournal, kBackup, kPlace, kSyncFolders, kRemoveBackups, kFinish };

// Test seam: asked before each step with the file it concerns (the root for the steps of the whole
// set); true makes the step fail as if the system had refused it. The hook may also end the process
// there. An empty hook removes it. Tests only: the hook is process-wide.
using SetFaultHook = std::function<bool(SetStep step, const std::filesystem::path& target)>;
void setSetFaultHook(SetFaultHook hook);

std::string manifestName(const std::string& set);
std::string journalName(const std::string& set);

// Thrown when a save could neither be finished nor undone (the disk went away): the journal stays,
// and the next writer into the folder, or a repair, resolves it.
class UnresolvedSave : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OutputSet {
public:
    // Takes the root's lock (another writer into the same folder is waited for), then finishes or
    // undoes every save that was interrupted there and removes stale temporaries. `set` names the
    // set (plain letters, digits and '-'); `tool` goes into the manifest. Throws
    // std::runtime_error when the root cannot be locked or an interrupted save cannot be resolved.
    OutputSet(std::filesystem::path root, std::string set, std::string tool);
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;
    // Removes whatever was staged and not committed.
    ~OutputSet();

    // `relative` is below the root. Throws std::runtime_error naming the file and the cause;
    // nothing of this file is left then.
    void stage(const std::filesystem::path& relative, std::span<const uint8_t> bytes);
    // Puts every staged file and the manifest in place. Throws std::runtime_error naming the file
    // that could not be placed; every final name then holds what it had before.
    void commit();
    void abandon();
    size_t size() const { return files_.size(); }
    const std::filesystem::path& root() const { return root_; }

private:
    struct Staged {
        std::filesystem::path relative;
        uint64_t bytes;
        uint32_t crc;
        std::optional<UnsyncedFile> unsynced;  // until the batch it belongs to is synced
    };
    std::filesystem::path root_;
    std::string set_;
    std::string tool_;
    void syncStaged();

    int lock_ = -1;
    std::vector<Staged> files_;
    size_t unsynced_ = 0;
};

// Finishes or undoes the interrupted saves in `root` and removes stale temporaries; returns what
// was done, one line each (nothing when the folder was in order).
std::vector<std::string> repairOutputSets(const std::filesystem::path& root);

// What a folder's manifests say of the files in it.
struct SetCheck {
    std::string set;                    // empty when the folder has no manifest
    std::string id, written, tool;      // the manifest's identity
    size_t files = 0;                   // files the manifest lists
    bool interrupted = false;           // a journal is there: the save did not end
    std::vector<std::string> problems;  // each file missing, changed or not of the set, by name
};
// One entry per manifest (one with an empty set when there is none and no journal either).
std::vector<SetCheck> checkOutputSets(const std::filesystem::path& root);

}  // namespace mz::format
