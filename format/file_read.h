// Whole-file reads with a ceiling: a path that names a folder, a device or a pipe, or a file far
// larger than its format can need, is refused at once instead of read without end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mz::format {

// What a file of each kind can need at most: a configuration with three car images of the largest
// view, a picture of the largest size the readers take, a flash data file of the largest table,
// and a text (JSON of a configuration, a report, points or a survey; a lens calibration in YAML
// or XML), which holds a few hundred numbers where a thousand times as many would still be sane.
inline constexpr uint64_t kMaxConfigFileBytes = uint64_t{256} << 20;
inline constexpr uint64_t kMaxPictureFileBytes = uint64_t{1} << 30;
inline constexpr uint64_t kMaxFlashFileBytes = uint64_t{256} << 20;
inline constexpr uint64_t kMaxTextFileBytes = uint64_t{16} << 20;

// Reads the regular file at `path` into `bytes`. Returns an empty string on success, otherwise
// what is wrong in a few words ("is a folder", "is not a regular file (a device or a pipe)",
// "does not exist", "is 300000000 bytes, more than such a file can be (268435456)", "cannot be
// read: Permission denied"); `bytes` is then empty. Never waits for a writer: a pipe is refused
// without being opened for reading in earnest.
std::string readWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes);

// The same for a text of at most kMaxTextFileBytes; throws std::runtime_error
// "<path>: <what is wrong>" so that every caller names the file alike.
std::string readTextFile(const std::filesystem::path& path);

}  // namespace mz::format
