#include "view/dump_files.h"

#include <cstdio>
#include <cstdlib>

#include "mz/mzview.h"

namespace mz {

void saveMapText(const char* path, int width, int height, const float* const* rows) {
    constexpr float kMissingText = 36245.0f;
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) return;
    for (int row = 0; row < height; ++row) {
        const float* m = rows[row];
        for (int col = 0; col < width; ++col, m += 2)
            std::fprintf(file, "%d %d %.6f %.6f\n", col, row, static_cast<double>(m[0] < 0 ? kMissingText : m[0]),
                         static_cast<double>(m[1] < 0 ? kMissingText : m[1]));
    }
    std::fclose(file);
}

void saveBitmap(const char* path, const ImageBuffer* image) {
    int size = 0;
    uint8_t* bmp = mzImageToBmp(image, &size);
    if (bmp == nullptr) return;
    if (FILE* file = std::fopen(path, "wb")) {
        std::fwrite(bmp, 1, static_cast<std::size_t>(size), file);
        std::fclose(file);
    }
    std::free(bmp);
}

}  // namespace mz
