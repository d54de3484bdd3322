#include "app/cli/picture_file.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "format/atomic_file.h"
#include "mz/mzview.h"

namespace mz::cli {

void writeBitmapFile(const std::string& path, int width, int height, std::span<const uint8_t> pixels,
                     const std::string& what) {
    const int stride = MZ_ROW_STRIDE24(width);
    if (width <= 0 || height <= 0 || pixels.size() < static_cast<size_t>(stride) * height) {
        throw std::runtime_error(what + " has no picture to save");
    }
    std::vector<uint8_t*> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[y] = const_cast<uint8_t*>(pixels.data()) + static_cast<size_t>(stride) * y;
    ImageBuffer image{};
    image.headerSize = 32;
    image.channels = 3;
    image.width = width;
    image.height = height;
    image.stride = stride;
    image.imageSize = stride * height;
    image.rows = rows.data();
    int size = 0;
    std::unique_ptr<uint8_t, decltype(&std::free)> bmp(mzImageToBmp(&image, &size), &std::free);
    if (!bmp || size <= 0) throw std::runtime_error(what + " cannot be encoded as a bitmap");
    format::writeFileAtomically(path, std::span<const uint8_t>(bmp.get(), static_cast<size_t>(size)));
}

}  // namespace mz::cli
