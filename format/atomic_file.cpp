#include "format/atomic_file.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace mz::format {

namespace {

std::mutex& hookMutex() {
    static std::mutex m;
    return m;
}

WriteFaultHook& hookSlot() {
    static WriteFaultHook hook;
    return hook;
}

bool injected(WriteStep step, const std::filesystem::path& target) {
    std::lock_guard lock(hookMutex());
    const WriteFaultHook& hook = hookSlot();
    return hook && hook(step, target);
}

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what) {
    throw std::runtime_error("cannot write " + path.string() + ": " + what);
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// What the system said, as the end of a sentence ("no space left on device"), or `step` alone
// when it said nothing (an injected fault).
std::string cause(const char* step, int error) {
    if (error == 0) return step;
    std::string text = std::generic_category().message(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return error == ENOSPC ? text : std::string(step) + " (" + text + ")";
}

void failAndRemove(const std::filesystem::path& file, const std::filesystem::path& path, const std::string& problem) {
    removeQuietly(file);
    fail(path, problem);
}

// Whatever closing says is only reported when nothing went wrong before it.
void close(std::FILE* out, const std::filesystem::path& file, const std::filesystem::path& path, std::string problem) {
    errno = 0;
    const bool closed = std::fclose(out) == 0 && !injected(WriteStep::kClose, path);
    if (problem.empty() && !closed) problem = cause("cannot close the file", errno);
    if (!problem.empty()) failAndRemove(file, path, problem);
}

void writeSynced(const std::filesystem::path& file, std::span<const uint8_t> bytes, const std::filesystem::path& path) {
    UnsyncedFile(file, bytes, path).sync();
}

}  // namespace

UnsyncedFile::UnsyncedFile(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                           const std::filesystem::path& shownAs)
    : file_(file), shownAs_(shownAs) {
    errno = 0;
    std::FILE* out = injected(WriteStep::kCreate, shownAs) ? nullptr : std::fopen(file.c_str(), "wb");
    if (!out) fail(shownAs, cause("cannot create the file", errno));
    errno = 0;
    if (injected(WriteStep::kWrite, shownAs) ||
        (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()))
        close(out, file, shownAs, cause("short write", errno));
    else if (injected(WriteStep::kFlush, shownAs) || std::fflush(out) != 0)
        close(out, file, shownAs, cause("cannot flush the file", errno));
    // The disk starts on the bytes now; the sync later waits for what is left. Only a hint: its
    // failure shows at the sync.
    ::sync_file_range(::fileno(out), 0, 0, SYNC_FILE_RANGE_WRITE);
    out_ = out;
}

UnsyncedFile::UnsyncedFile(UnsyncedFile&& other) noexcept
    : file_(std::move(other.file_)), shownAs_(std::move(other.shownAs_)), out_(std::exchange(other.out_, nullptr)) {}

UnsyncedFile& UnsyncedFile::operator=(UnsyncedFile&& other) noexcept {
    if (this != &other) {
        if (out_) std::fclose(out_);
        file_ = std::move(other.file_);
        shownAs_ = std::move(other.shownAs_);
        out_ = std::exchange(other.out_, nullptr);
    }
    return *this;
}

UnsyncedFile::~UnsyncedFile() {
    if (out_) std::fclose(out_);
}

void UnsyncedFile::sync() {
    std::FILE* out = std::exchange(out_, nullptr);
    if (!out) return;
    errno = 0;
    std::string problem;
    if (injected(WriteStep::kSync, shownAs_) || ::fsync(::fileno(out)) != 0)
        problem = cause("cannot sync the file to the disk", errno);
    close(out, file_, shownAs_, problem);
}

namespace {

// Writes the bytes under a temporary name beside `path` and returns that name.
std::filesystem::path writeTemporary(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    // The pid keeps two processes writing into the same folder from sharing a temporary, the
    // count two writes of the same name.
    static std::atomic<unsigned> count{0};
    std::filesystem::path temp = path;
    temp += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(count++);
    writeSynced(temp, bytes, path);
    return temp;
}

void putInPlace(const std::filesystem::path& temp, const std::filesystem::path& path) {
    std::error_code ec;
    if (injected(WriteStep::kRename, path)) ec = std::make_error_code(std::errc::io_error);
    else std::filesystem::rename(temp, path, ec);
    if (ec) {
        removeQuietly(temp);
        fail(path, ec.message());
    }
}

}  // namespace

void setWriteFaultHook(WriteFaultHook hook) {
    std::lock_guard lock(hookMutex());
    hookSlot() = std::move(hook);
}

void writeFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    putInPlace(writeTemporary(path, bytes), path);
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view text) {
    writeFileAtomically(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void writeFileSynced(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                     const std::filesystem::path& shownAs) {
    writeSynced(file, bytes, shownAs);
}

}  // namespace mz::format
