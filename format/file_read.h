// Whole-file reads with a ceiling: a path that names a folder, a device or a pipe, or a file far
// larger than its format can need, is refused at once instead of read without end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mz::format {

// What a file of each kind can need at most: a configuration with three car images of the largest
// view, a picture of the largest size the readers take, a flash data file of the largest table.
inline constexpr uint64_t kMaxConfigFileBytes = uint64_t{256} << 20;
inline constexpr uint64_t kMaxPictureFileBytes = uint64_t{1} << 30;
inline constexpr uint64_t kMaxFlashFileBytes = uint64_t{256} << 20;

// Reads the regular file at `path` into `bytes`. Returns an empty string on success, otherwise
// what is wrong in a few words ("is a folder", "is not a regular file (a device or a pipe)",
// "does not exist", "is 300000000 bytes, more than such a file can be (268435456)", "cannot be
// read"); `bytes` is then empty.
std::string readWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes);

}  // namespace mz::format
