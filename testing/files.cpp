#include "testing/files.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace mztest {

namespace {

void put16(std::vector<uint8_t>& b, size_t off, uint32_t v) {
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> makeBmp(int width, int height, int bits, bool topDown,
                             const std::function<uint32_t(int, int)>& pixel) {
    const int colours = bits <= 8 ? 1 << bits : 0;
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    const size_t dataOffset = 54 + static_cast<size_t>(colours) * 4;
    std::vector<uint8_t> b(dataOffset + stride * height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, static_cast<uint32_t>(dataOffset));
    put32(b, 14, 40);
    put32(b, 18, static_cast<uint32_t>(width));
    put32(b, 22, static_cast<uint32_t>(topDown ? -height : height));
    put16(b, 26, 1);
    put16(b, 28, static_cast<uint32_t>(bits));
    put32(b, 34, static_cast<uint32_t>(stride * height));
    for (int i = 0; i < colours; ++i) {
        const uint8_t g = static_cast<uint8_t>(i * 255 / (colours - 1));
        b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = g;
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = b.data() + dataOffset + stride * (topDown ? y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const uint32_t v = pixel(x, y);
            if (bits == 24) {
                row[3 * x] = static_cast<uint8_t>(v);
                row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
                row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
            } else if (bits <= 8) {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                row[x / perByte] = static_cast<uint8_t>(row[x / perByte] | ((v & ((1u << bits) - 1)) << shift));
            }
        }
    }
    return b;
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("mztest-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace mztest
