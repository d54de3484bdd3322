#include "format/bitmap.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "format/file_read.h"

namespace mz::format {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kMinInfoHeaderSize = 40;
// Far beyond any camera; keeps a forged header from asking for gigabytes.
constexpr int64_t kMaxSide = 16384;

uint16_t u16At(std::span<const uint8_t> b, size_t off) { return static_cast<uint16_t>(b[off] | (b[off + 1] << 8)); }

uint32_t u32At(std::span<const uint8_t> b, size_t off) {
    uint32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}

int32_t i32At(std::span<const uint8_t> b, size_t off) {
    int32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}

}  // namespace

bool hasBitmapExtension(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext == ".BMP";
}

namespace {

// What the header of a bitmap file says, once it has been found usable.
struct BitmapLayout {
    uint32_t dataOffset = 0;
    int64_t width = 0, height = 0;
    bool topDown = false;
    int bits = 0;
    size_t fileStride = 0;
    std::vector<uint8_t> palette;  // B, G, R per entry
};

// Why the bytes are no bitmap this program reads, in a few words; empty when `layout` holds them.
std::string readLayout(std::span<const uint8_t> b, BitmapLayout& layout) {
    if (b.size() < 2 || b[0] != 'B' || b[1] != 'M') return "is not a BMP file (it does not start with \"BM\")";
    if (b.size() < kFileHeaderSize + kMinInfoHeaderSize) return "is truncated (its header is incomplete)";
    const uint32_t dataOffset = u32At(b, 10);
    const uint32_t infoSize = u32At(b, 14);
    if (infoSize < kMinInfoHeaderSize || kFileHeaderSize + infoSize > b.size())
        return "has a damaged header (info header of " + std::to_string(infoSize) + " bytes)";
    const int64_t width = i32At(b, 18);
    const int64_t rawHeight = i32At(b, 22);
    const int bits = u16At(b, 28);
    const uint32_t compression = u32At(b, 30);
    uint32_t colours = u32At(b, 46);
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -rawHeight : rawHeight;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return "declares a size of " + std::to_string(width) + "x" + std::to_string(height) + " (1.." +
               std::to_string(kMaxSide) + " pixels a side)";
    if (compression != 0)
        return "is compressed (compression " + std::to_string(compression) + "); only uncompressed bitmaps are read";
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return "has " + std::to_string(bits) + " bits a pixel; 1-, 4-, 8- and 24-bit bitmaps are read";

    std::vector<uint8_t> palette;
    if (bits <= 8) {
        const uint32_t maxColours = 1u << bits;
        if (colours == 0 || colours > maxColours) colours = maxColours;
        const size_t paletteOffset = kFileHeaderSize + infoSize;
        if (paletteOffset + size_t{colours} * 4 > b.size()) return "is truncated (its palette is incomplete)";
        palette.resize(size_t{maxColours} * 3, 0);
        for (uint32_t i = 0; i < colours; ++i) {
            for (int c = 0; c < 3; ++c) palette[i * 3 + c] = b[paletteOffset + i * 4 + c];
        }
    }

    const size_t fileStride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    if (dataOffset > b.size() || fileStride * height > b.size() - dataOffset)
        return "is truncated (" + std::to_string(b.size()) + " bytes, its pixels need " +
               std::to_string(uint64_t{dataOffset} + fileStride * height) + ")";
    layout = {dataOffset, width, height, topDown, bits, fileStride, std::move(palette)};
    return {};
}

}  // namespace

std::string bitmapFault(std::span<const uint8_t> file) {
    BitmapLayout layout;
    return readLayout(file, layout);
}

std::string unreadableBitmap(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    const std::string problem = readWholeFile(path, kMaxPictureFileBytes, bytes);
    if (!problem.empty()) return problem;
    return bitmapFault(bytes);
}

std::optional<Bitmap> decodeBitmap(std::span<const uint8_t> b) {
    BitmapLayout layout;
    if (!readLayout(b, layout).empty()) return {};
    const auto& [dataOffset, width, height, topDown, bits, fileStride, palette] = layout;

    Bitmap bmp;
    bmp.width = static_cast<int>(width);
    bmp.height = static_cast<int>(height);
    bmp.bitsPerPixel = bits;
    bmp.pixels.assign(static_cast<size_t>(bmp.stride()) * bmp.height, 0);
    for (int y = 0; y < bmp.height; ++y) {
        const int fileRow = topDown ? y : bmp.height - 1 - y;
        const uint8_t* src = b.data() + dataOffset + fileStride * fileRow;
        uint8_t* dst = bmp.pixels.data() + static_cast<size_t>(bmp.stride()) * y;
        if (bits == 24) {
            std::memcpy(dst, src, static_cast<size_t>(bmp.width) * 3);
            continue;
        }
        const int perByte = 8 / bits;
        const int mask = (1 << bits) - 1;
        for (int x = 0; x < bmp.width; ++x) {
            const int shift = 8 - bits * (x % perByte + 1);
            const int index = (src[x / perByte] >> shift) & mask;
            std::memcpy(dst + 3 * x, palette.data() + 3 * index, 3);
        }
    }
    return bmp;
}

std::optional<Bitmap> readBitmap(const std::filesystem::path& path, std::vector<uint8_t>* file) {
    if (!hasBitmapExtension(path)) return {};
    return readBitmapFile(path, file);
}

std::optional<Bitmap> readBitmapFile(const std::filesystem::path& path, std::vector<uint8_t>* file) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, kMaxPictureFileBytes, bytes).empty()) return {};
    std::optional<Bitmap> bitmap = decodeBitmap(bytes);
    if (file) *file = std::move(bytes);
    return bitmap;
}

std::vector<uint8_t> encodeBitmap(const Bitmap& bitmap) {
    const size_t stride = static_cast<size_t>(bitmap.stride());
    const size_t imageSize = stride * bitmap.height;
    const size_t offset = kFileHeaderSize + kMinInfoHeaderSize;
    std::vector<uint8_t> out(offset + imageSize, 0);
    const auto put32 = [&out](size_t at, uint32_t v) { std::memcpy(out.data() + at, &v, 4); };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, static_cast<uint32_t>(offset));
    put32(14, kMinInfoHeaderSize);
    put32(18, static_cast<uint32_t>(bitmap.width));
    put32(22, static_cast<uint32_t>(bitmap.height));
    out[26] = 1;   // planes
    out[28] = 24;  // bits a pixel
    put32(34, static_cast<uint32_t>(imageSize));
    for (int y = 0; y < bitmap.height; ++y) {
        std::memcpy(out.data() + offset + stride * (bitmap.height - 1 - y), bitmap.row(y), stride);
    }
    return out;
}

std::vector<uint8_t> unpaddedPixels(const Bitmap& bitmap) {
    const size_t rowBytes = static_cast<size_t>(bitmap.width) * 3;
    std::vector<uint8_t> out(rowBytes * bitmap.height);
    for (int y = 0; y < bitmap.height; ++y) {
        std::memcpy(out.data() + rowBytes * y, bitmap.row(y), rowBytes);
    }
    return out;
}

}  // namespace mz::format
