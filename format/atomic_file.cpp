#include "format/atomic_file.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>

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

// Writes the bytes under a temporary name beside `path` and returns that name.
std::filesystem::path writeTemporary(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    // The pid keeps two processes writing into the same folder from sharing a temporary, the
    // count two staged files of the same name.
    static std::atomic<unsigned> count{0};
    std::filesystem::path temp = path;
    temp += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(count++);
    std::FILE* file = injected(WriteStep::kCreate, path) ? nullptr : std::fopen(temp.c_str(), "wb");
    if (!file) fail(path, "cannot create the file");
    const char* problem = nullptr;
    if (injected(WriteStep::kWrite, path) ||
        (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()))
        problem = "short write";
    else if (injected(WriteStep::kFlush, path) || std::fflush(file) != 0) problem = "cannot flush the file";
    else if (injected(WriteStep::kSync, path) || ::fsync(::fileno(file)) != 0)
        problem = "cannot sync the file to the disk";
    const bool closed = std::fclose(file) == 0 && !injected(WriteStep::kClose, path);
    if (!problem && !closed) problem = "cannot close the file";
    if (problem) {
        removeQuietly(temp);
        fail(path, problem);
    }
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

StagedFiles::~StagedFiles() { abandon(); }

void StagedFiles::stage(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    files_.emplace_back(writeTemporary(path, bytes), path);
}

void StagedFiles::commit() {
    placed_ = 0;
    for (size_t i = 0; i < files_.size(); ++i) {
        try {
            putInPlace(files_[i].first, files_[i].second);
            ++placed_;
        } catch (const std::exception&) {
            files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            abandon();
            throw;
        }
    }
    files_.clear();
}

void StagedFiles::abandon() {
    for (const auto& [temp, target] : files_) removeQuietly(temp);
    files_.clear();
}

}  // namespace mz::format
