// Files are written whole or not at all: a reader never sees half a Config.bin or picture, and a
// set of files (the tables of one save) replaces the previous set only once all of it is on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace mz::format {

// Writes to a temporary name in the target's folder (created, written, flushed, synced to disk,
// closed), then renames it over the target. Throws std::runtime_error naming the path and the
// step when any step fails; the target is then unchanged and the temporary removed.
void writeFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes);
void writeFileAtomically(const std::filesystem::path& path, std::string_view text);

// Files staged under temporary names beside their final names, put in place together by commit().
// Whatever was not committed is removed when the set is abandoned or destroyed. A kill before
// commit() leaves every final name as it was; commit() itself only renames within each folder.
class StagedFiles {
public:
    StagedFiles() = default;
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;
    ~StagedFiles();

    // Throws std::runtime_error naming the path and the step; nothing of this file is left then.
    void stage(const std::filesystem::path& path, std::span<const uint8_t> bytes);
    // Renames every staged file over its final name, in the order staged. Throws
    // std::runtime_error naming the first file that could not be put in place; the files placed
    // before it stay, the others are removed.
    void commit();
    // Removes every temporary; the final names keep what they had.
    void abandon();
    size_t size() const { return files_.size(); }
    // Files the last commit() put in place (all of them when it returned).
    size_t placed() const { return placed_; }

private:
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> files_;  // temporary, final
    size_t placed_ = 0;
};

// The steps of writing one file, in order.
enum class WriteStep { kCreate, kWrite, kFlush, kSync, kClose, kRename };

// Test seam: when set, the writer asks the hook before each step of every file; true makes that
// step fail as if the system had refused it (a full disk, a removed stick). An empty hook removes
// it. Tests only: the hook is process-wide.
using WriteFaultHook = std::function<bool(WriteStep step, const std::filesystem::path& target)>;
void setWriteFaultHook(WriteFaultHook hook);

}  // namespace mz::format
