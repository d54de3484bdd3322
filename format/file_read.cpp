#include "format/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace mz::format {

namespace {

std::string tooBig(uint64_t size, uint64_t maxBytes) {
    return "is " + std::to_string(size) + " bytes, more than such a file can be (" + std::to_string(maxBytes) + ")";
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string readWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found) return "does not exist";
    if (status.type() == std::filesystem::file_type::directory) return "is a folder";
    if (status.type() != std::filesystem::file_type::regular) return "is not a regular file (a device or a pipe)";
    // Opened without waiting, and asked again what it is: the name may have been given to a pipe
    // in between, whose open would otherwise block until a writer came.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return std::string("cannot be opened: ") + std::strerror(errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return std::string("cannot be read: ") + std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return "is not a regular file (a device or a pipe)";
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > maxBytes) return tooBig(size, maxBytes);
    // A file that grows while it is read is taken as far as the ceiling allows, and no further.
    // Room beyond the size for the read that finds the end (or growth): the bytes read are not
    // moved to make it.
    bytes.reserve(static_cast<size_t>(std::min<uint64_t>(maxBytes + 1, size + 65536)));
    bytes.resize(static_cast<size_t>(size));
    size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() >= maxBytes + 1) break;
            bytes.resize(static_cast<size_t>(std::min<uint64_t>(maxBytes + 1, bytes.size() + 65536)));
        }
        const ssize_t n = ::read(file.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            bytes.clear();
            return std::string("cannot be read: ") + std::strerror(error);
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > maxBytes) {
        bytes.clear();
        return tooBig(got, maxBytes);
    }
    bytes.resize(got);
    return {};
}

std::string readTextFile(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    const std::string problem = readWholeFile(path, kMaxTextFileBytes, bytes);
    if (!problem.empty()) throw std::runtime_error(path.string() + ": " + problem);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace mz::format
