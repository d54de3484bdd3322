#include "format/flash_data.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace mz::format {

FlashDate localDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) return {};
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

uint16_t toBcd(int64_t value, int digits) {
    uint64_t v = static_cast<uint64_t>(value < 0 ? -value : value);
    uint16_t out = 0;
    for (int i = 0; i < digits; ++i) {
        out = static_cast<uint16_t>(out | ((v % 10) << (4 * i)));
        v /= 10;
    }
    return out;
}

std::vector<uint8_t> encodeFlashData(std::span<const uint8_t> payload, int32_t identifier, const FlashDate& date,
                                     int32_t major, int32_t minor) {
    std::vector<uint8_t> out;
    encodeFlashData(payload, identifier, date, major, minor, out);
    return out;
}

void encodeFlashData(std::span<const uint8_t> payload, int32_t identifier, const FlashDate& date, int32_t major,
                     int32_t minor, std::vector<uint8_t>& out) {
    const uint32_t length = static_cast<uint32_t>(payload.size());
    uint16_t words[16] = {};
    words[0] = static_cast<uint16_t>(identifier);
    words[1] = kFlashHeaderSize;
    words[2] = toBcd(date.year, 4);
    words[3] = static_cast<uint16_t>(toBcd(date.month, 2) << 8 | toBcd(date.day, 2));
    words[4] = static_cast<uint16_t>(length >> 16);
    words[5] = static_cast<uint16_t>(length);
    words[6] = static_cast<uint16_t>(toBcd(major, 2) << 8 | toBcd(minor, 2));
    uint32_t sum = 0;
    for (int i = 0; i < 7; ++i) sum += words[i];
    words[15] = static_cast<uint16_t>(sum);

    out.resize(flashFileSize(length));
    uint8_t* d = out.data();
    for (uint16_t w : words) {
        *d++ = static_cast<uint8_t>(w);
        *d++ = static_cast<uint8_t>(w >> 8);
    }
    // The payload in blocks, each followed by the byte sum of its bytes (the last block may be short).
    for (size_t start = 0; start < payload.size(); start += kFlashBlockSize) {
        const size_t n = std::min<size_t>(kFlashBlockSize, payload.size() - start);
        const uint8_t* p = payload.data() + start;
        std::memcpy(d, p, n);
        d += n;
        uint32_t blockSum = 0;
        for (size_t i = 0; i < n; ++i) blockSum += p[i];
        *d++ = static_cast<uint8_t>(blockSum);
    }
}

}  // namespace mz::format
