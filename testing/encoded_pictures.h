// PNG and JPEG files made in memory for the tests of the picture readers.
#pragma once

#include <cstdint>
#include <vector>

namespace mztest {

// samples: rows of width x channels bytes, top row first, no padding. channels 1 is grey,
// 3 is blue, green, red, 4 adds alpha (PNG only).
std::vector<uint8_t> encodePng(int width, int height, int channels, const std::vector<uint8_t>& samples);
std::vector<uint8_t> encodeJpeg(int width, int height, int channels, const std::vector<uint8_t>& samples, int quality);

}  // namespace mztest
