// The matrix toolkit prints "Singular Matrix!" once per failed inversion, some seventy times while
// the views are set up from a configuration that has no calibration yet. The terminal program
// folds such runs of one repeated line on its standard output into a single line with a count;
// the libraries keep printing what they print. A command's data (a configuration as JSON or text,
// a lens record) is never folded: it goes to the real standard output through dataStream(), and
// while such a command runs the libraries' lines go, folded, to standard error instead, so that
// `config show --json > c.json` holds nothing but JSON.
#pragma once

#include <cstdio>
#include <string>
#include <thread>

namespace mz::cli {

// Folds "text" repeated n times in a row into "text (n times)". Feed whole lines (with their
// newline) and call flush() when no more are coming for now; the folded text goes to `emit`.
class LineFolder {
public:
    template <class Emit>
    void line(const std::string& text, Emit&& emit) {
        if (count_ > 0 && text == last_) {
            ++count_;
            return;
        }
        flush(emit);
        last_ = text;
        count_ = 1;
    }
    template <class Emit>
    void flush(Emit&& emit) {
        if (count_ == 0) return;
        if (count_ == 1 || last_.empty() || last_.back() != '\n') {
            emit(last_);
        } else {
            emit(last_.substr(0, last_.size() - 1) + " (" + std::to_string(count_) + " times)\n");
        }
        count_ = 0;
        last_.clear();
    }

private:
    std::string last_;
    int count_ = 0;
};

// While alive, the process's standard output runs through a LineFolder. A line that is not
// followed by anything within a twentieth of a second is shown as it stands, so progress is never
// held back. Does nothing when the pipe cannot be made. With chatterToStderr the folded lines go
// to standard error.
class FoldedStdout {
public:
    explicit FoldedStdout(bool chatterToStderr = false);
    ~FoldedStdout();
    FoldedStdout(const FoldedStdout&) = delete;
    FoldedStdout& operator=(const FoldedStdout&) = delete;

private:
    void pump(int readEnd);

    int original_ = -1;
    int chatter_ = -1;
    std::thread reader_;
};

// The process's real standard output, past any folding; stdout when nothing folds.
std::FILE* dataStream();

}  // namespace mz::cli
