// Files for the tests: bitmap files written from the file format alone, whole files read and
// written, and a temporary folder of their own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace mztest {

// A bitmap file. For 24 bits pixel(x, y) gives 0xRRGGBB; for 1, 4 and 8 bits it gives the
// palette index, and palette entry i is grey level (i * 255) / (colours - 1).
std::vector<uint8_t> makeBmp(int width, int height, int bits, bool topDown,
                             const std::function<uint32_t(int x, int y)>& pixel);

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::filesystem::path& path);

// A fresh, empty folder below the system's temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace mztest
