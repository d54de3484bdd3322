// Connected-component labelling of dark regions by contour tracing: one scan, every contour
// traced once when the scan first meets it, so a region's label is known before the scan reaches
// its interior. No recursion, no equivalence table.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "mz/mzview.h"

namespace mz {
namespace {

constexpr uint8_t kBackground = 255;

// Direction codes, clockwise on screen starting to the right: (row step, column step).
constexpr int kRowStep[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kColStep[8] = {1, 1, 0, -1, -1, -1, 0, 1};

struct Labeller {
    uint8_t* const* image;  // working copy with a background frame
    int** labels;
    int** contour;  // may be null

    bool foreground(int r, int c) const { return image[r][c] != kBackground; }

    void mark(int r, int c, int label) const {
        if (contour != nullptr) contour[r][c] = label;
    }

    // Moves (r, c) to the first foreground neighbour clockwise from d, leaving d pointing at it;
    // background neighbours examined on the way are marked -1 so that the scan never starts an
    // inner trace from them again. An isolated pixel stays where it is.
    void step(int& r, int& c, int& d) const {
        for (int n = 0; n < 7; ++n) {
            const int nr = r + kRowStep[d], nc = c + kColStep[d];
            if (foreground(nr, nc)) {
                r = nr;
                c = nc;
                return;
            }
            labels[nr][nc] = -1;
            d = (d + 1) % 8;
        }
    }

    void trace(int sr, int sc, int d, int label) const {
        int r = sr, c = sc;
        step(r, c, d);
        const int tr = r, tc = c;
        mark(tr, tc, label);
        if (tr == sr && tc == sc) return;
        bool passedStart = false;
        for (;;) {
            d = (d + 6) % 8;
            labels[r][c] = label;
            step(r, c, d);
            mark(r, c, label);
            if (r == sr && c == sc) {
                passedStart = true;
            } else if (passedStart && r == tr && c == tc) {
                return;
            } else {
                passedStart = false;
            }
        }
    }
};

struct RowsDeleter {
    int n;
    void operator()(uint8_t** rows) const {
        for (int i = 0; i < n; ++i) delete[] rows[i];
        delete[] rows;
    }
};

// Working copy of the image, frame set to background; null when memory runs out.
std::unique_ptr<uint8_t* [], RowsDeleter> framedCopy(int width, int height, const uint8_t* const* rows) {
    std::unique_ptr<uint8_t*[], RowsDeleter> copy(
        new (std::nothrow) uint8_t* [height](), RowsDeleter { height });
    if (!copy) return nullptr;
    for (int i = 0; i < height; ++i) {
        copy[i] = new (std::nothrow) uint8_t[width];
        if (copy[i] == nullptr) return nullptr;
        if (i == 0 || i == height - 1) {
            std::memset(copy[i], kBackground, static_cast<std::size_t>(width));
        } else {
            std::memcpy(copy[i], rows[i], static_cast<std::size_t>(width));
            copy[i][0] = kBackground;
            copy[i][width - 1] = kBackground;
        }
    }
    return copy;
}

}  // namespace
}  // namespace mz

extern "C" {

MZ_API int mzCCL(int width, int height, const uint8_t** rows, int** labels, int** contour, int* count) {
    if (count != nullptr) *count = 0;
    if (width < 1 || height < 1 || rows == nullptr || labels == nullptr) return 0;
    const std::size_t labelBytes = sizeof(int) * static_cast<std::size_t>(width);
    for (int i = 0; i < height; ++i) {
        std::memset(labels[i], 0, labelBytes);
        if (contour != nullptr) std::memset(contour[i], 0, labelBytes);
    }
    if (width < 3 || height < 3) return 0;

    auto copy = mz::framedCopy(width, height, rows);
    if (!copy) return 0;
    const mz::Labeller labeller{copy.get(), labels, contour};

    int n = 0;
    for (int i = 1; i < height - 1; ++i) {
        int run = 0;
        for (int j = 1; j < width - 1; ++j) {
            if (labeller.foreground(i, j)) {
                if (run != 0) {
                    labels[i][j] = run;
                    continue;
                }
                run = labels[i][j];
                if (run == 0) {
                    run = ++n;
                    labeller.trace(i, j, 0, run);
                    labels[i][j] = run;
                }
            } else {
                // A run ends here; an untouched background pixel means a hole whose inner
                // contour has not been traced yet.
                if (run != 0 && labels[i][j] == 0) labeller.trace(i, j - 1, 1, run);
                run = 0;
            }
        }
    }
    if (count != nullptr) *count = n;
    return n;
}

}  // extern "C"
