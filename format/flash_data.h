// The flash data container of every output file: a 32-byte header with date, length, version and
// checksum, then the payload with a checksum byte after every 1024 bytes and after the last block.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mz::format {

inline constexpr int kFlashHeaderSize = 32;
inline constexpr int kFlashBlockSize = 1024;

struct FlashDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Today by the local clock; all zero when the clock cannot be read.
FlashDate localDate();

// The last `digits` decimal digits of value, one per nibble (2026 -> 0x2026).
uint16_t toBcd(int64_t value, int digits);

// Header words 0 to 6; the checksum word 15 is their sum modulo 65536.
std::vector<uint8_t> encodeFlashData(std::span<const uint8_t> payload, int32_t identifier, const FlashDate& date,
                                     int32_t major, int32_t minor);
// The same into `file`, whose storage is reused (a writer of many files allocates once).
void encodeFlashData(std::span<const uint8_t> payload, int32_t identifier, const FlashDate& date, int32_t major,
                     int32_t minor, std::vector<uint8_t>& file);

// Bytes a payload of `length` bytes takes in the file, header included.
inline uint64_t flashFileSize(uint64_t length) {
    return kFlashHeaderSize + length + (length + kFlashBlockSize - 1) / kFlashBlockSize;
}

}  // namespace mz::format
