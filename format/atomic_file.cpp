#include "format/atomic_file.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <system_error>

#include <unistd.h>

namespace mz::format {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const char* what) {
    throw std::runtime_error("cannot write " + path.string() + ": " + what);
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    // The pid keeps two processes writing into the same folder from sharing a temporary.
    std::filesystem::path temp = path;
    temp += ".tmp" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) fail(path, "cannot create the file");
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        fail(path, "short write");
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        fail(path, ec.message().c_str());
    }
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view text) {
    writeFileAtomically(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace mz::format
