#include "format/file_read.h"

#include <cstdio>
#include <memory>
#include <system_error>

namespace mz::format {

std::string readWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found) return "does not exist";
    if (status.type() == std::filesystem::file_type::directory) return "is a folder";
    if (status.type() != std::filesystem::file_type::regular) return "is not a regular file (a device or a pipe)";
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return "cannot be read";
    if (size > maxBytes) {
        return "is " + std::to_string(size) + " bytes, more than such a file can be (" + std::to_string(maxBytes) + ")";
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return "cannot be opened";
    bytes.resize(static_cast<size_t>(size));
    const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file.get());
    // A file that grew or shrank while it was read is taken as it was read, within the ceiling.
    if (got != bytes.size() || std::ferror(file.get())) {
        bytes.clear();
        return "cannot be read";
    }
    return {};
}

}  // namespace mz::format
