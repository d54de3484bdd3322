// Checksums of the inputs and outputs a record names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mz::station {

// Lower-case hexadecimal SHA-256.
std::string sha256Hex(std::span<const uint8_t> bytes);

struct FileDigest {
    int64_t bytes = 0;
    std::string sha256;
};
// None when the file cannot be read whole, or is no regular file.
std::optional<FileDigest> fileDigest(const std::filesystem::path& path);
// The same for many files, on the machine's cores: for the files a record names that the run
// holds no bytes of (a run takes the others' checksums as it reads and writes them).
std::vector<std::optional<FileDigest>> fileDigests(const std::vector<std::filesystem::path>& paths);

}  // namespace mz::station
