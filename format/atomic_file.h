// Files are written whole or not at all: a reader never sees half a Config.bin or picture. A set of
// files that must replace another set whole is written through OutputSet (format/output_set.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>

namespace mz::format {

// Writes to a temporary name in the target's folder (created, written, flushed, synced to disk,
// closed), then renames it over the target. Throws std::runtime_error naming the path and the
// step when any step fails; the target is then unchanged and the temporary removed.
void writeFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);
void writeFileAtomically(const std::filesystem::path& path, std::string_view text);

// Writes the bytes to `file` itself (created or truncated, written, flushed, synced, closed);
// messages name `shownAs`, the file the caller means. Throws std::runtime_error naming the step
// and its cause ("no space left on device"); the file is removed then.
void writeFileSynced(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                     const std::filesystem::path& shownAs);

// A file written, flushed and handed to the disk, whose sync is still to come. A sync per file makes
// the file system commit once per file; files synced together after their writes all started share
// the commits and the waits. The constructor and sync() throw as writeFileSynced does and remove the
// file then; a file destroyed before sync() is closed unsynced and stays.
class UnsyncedFile {
public:
    UnsyncedFile(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                 const std::filesystem::path& shownAs);
    UnsyncedFile(UnsyncedFile&& other) noexcept;
    UnsyncedFile& operator=(UnsyncedFile&& other) noexcept;
    UnsyncedFile(const UnsyncedFile&) = delete;
    UnsyncedFile& operator=(const UnsyncedFile&) = delete;
    ~UnsyncedFile();

    void sync();

private:
    std::filesystem::path file_, shownAs_;
    std::FILE* out_ = nullptr;
};

// The steps of writing one file, in order.
enum class WriteStep { kCreate, kWrite, kFlush, kSync, kClose, kRename };

// Test seam: when set, the writer asks the hook before each step of every file; true makes that
// step fail as if the system had refused it (a full disk, a removed stick). An empty hook removes
// it. Tests only: the hook is process-wide.
using WriteFaultHook = std::function<bool(WriteStep step, const std::filesystem::path& target)>;
void setWriteFaultHook(WriteFaultHook hook);

}  // namespace mz::format
