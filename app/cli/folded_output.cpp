#include "app/cli/folded_output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace mz::cli {

namespace {

constexpr int kQuietMs = 50;

std::FILE* gData = nullptr;

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

std::FILE* dataStream() { return gData != nullptr ? gData : stdout; }

FoldedStdout::FoldedStdout(bool chatterToStderr) {
    std::fflush(stdout);
    int ends[2];
    if (::pipe(ends) != 0) return;
    original_ = ::dup(STDOUT_FILENO);
    if (original_ < 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) {
        if (original_ >= 0) ::close(original_);
        original_ = -1;
        ::close(ends[0]);
        ::close(ends[1]);
        return;
    }
    ::close(ends[1]);
    chatter_ = chatterToStderr ? STDERR_FILENO : original_;
    const int dataFd = ::dup(original_);
    gData = dataFd >= 0 ? ::fdopen(dataFd, "w") : nullptr;
    if (gData == nullptr && dataFd >= 0) ::close(dataFd);
    try {
        reader_ = std::thread(&FoldedStdout::pump, this, ends[0]);
    } catch (...) {
        ::dup2(original_, STDOUT_FILENO);
        ::close(original_);
        ::close(ends[0]);
        original_ = -1;
        if (gData != nullptr) std::fclose(gData);
        gData = nullptr;
    }
}

FoldedStdout::~FoldedStdout() {
    if (original_ < 0) return;
    std::fflush(stdout);
    if (gData != nullptr) std::fclose(gData);
    gData = nullptr;
    // Putting the terminal back closes the pipe's last write end: the reader sees its end.
    ::dup2(original_, STDOUT_FILENO);
    if (reader_.joinable()) reader_.join();
    ::close(original_);
}

void FoldedStdout::pump(int readEnd) {
    LineFolder folder;
    const int out = chatter_;
    auto emit = [out](const std::string& text) { writeAll(out, text); };
    std::string pending;
    char buffer[4096];
    for (;;) {
        pollfd p{readEnd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kQuietMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            // Quiet for a while: show what is held, a partial line included.
            folder.flush(emit);
            if (!pending.empty()) emit(pending);
            pending.clear();
            continue;
        }
        const ssize_t n = ready > 0 ? ::read(readEnd, buffer, sizeof buffer) : -1;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n', start)) {
            folder.line(pending.substr(start, nl + 1 - start), emit);
            start = nl + 1;
        }
        pending.erase(0, start);
    }
    folder.flush(emit);
    if (!pending.empty()) emit(pending);
    ::close(readEnd);
}

}  // namespace mz::cli
