#include "format/flash_data.h"

#include <gtest/gtest.h>

namespace mz::format {
namespace {

uint16_t word(const std::vector<uint8_t>& f, int i) { return static_cast<uint16_t>(f[2 * i] | f[2 * i + 1] << 8); }

TEST(FlashDataTest, ChecksumByteAfterEveryBlockAndAfterTheLast) {
    const FlashDate date{2026, 12, 6};
    for (size_t length : {size_t{0}, size_t{1}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{3000}}) {
        std::vector<uint8_t> payload(length);
        for (size_t i = 0; i < length; ++i) payload[i] = static_cast<uint8_t>(i * 31 + 7);
        const std::vector<uint8_t> f = encodeFlashData(payload, 1, date, 1, 0);
        ASSERT_EQ(f.size(), flashFileSize(length)) << length;
        size_t pos = 32;
        for (size_t start = 0; start < length; start += 1024) {
            const size_t block = std::min<size_t>(1024, length - start);
            uint8_t sum = 0;
            for (size_t i = 0; i < block; ++i) {
                ASSERT_EQ(f[pos + i], payload[start + i]);
                sum = static_cast<uint8_t>(sum + payload[start + i]);
            }
            EXPECT_EQ(f[pos + block], sum) << length << " block at " << start;
            pos += block + 1;
        }
        EXPECT_EQ(pos, f.size());
    }
    EXPECT_EQ(flashFileSize(1024), 32u + 1025u);
    EXPECT_EQ(flashFileSize(1025), 32u + 1027u);
    EXPECT_EQ(flashFileSize(0), 32u);
}

TEST(FlashDataTest, HeaderWordsAndChecksum) {
    const std::vector<uint8_t> payload(1025, 0);
    const std::vector<uint8_t> f = encodeFlashData(payload, 1, FlashDate{2026, 12, 6}, 1, 0);
    EXPECT_EQ(word(f, 0), 1);
    EXPECT_EQ(word(f, 1), 32);
    EXPECT_EQ(word(f, 2), 0x2026);
    EXPECT_EQ(word(f, 3), 0x1206);
    EXPECT_EQ(word(f, 4), 0);
    EXPECT_EQ(word(f, 5), 1025);
    EXPECT_EQ(word(f, 6), 0x0100);
    for (int i = 7; i < 15; ++i) EXPECT_EQ(word(f, i), 0);
    EXPECT_EQ(word(f, 15), (1 + 32 + 0x2026 + 0x1206 + 0 + 1025 + 0x0100) % 65536);

    // Identifiers are written as their low 16 bits; long payloads split over words 4 and 5.
    const std::vector<uint8_t> big(70000, 1);
    const std::vector<uint8_t> g = encodeFlashData(big, 0x12345, FlashDate{2027, 1, 1}, 12, 34);
    EXPECT_EQ(word(g, 0), 0x2345);
    EXPECT_EQ(word(g, 2), 0x2027);
    EXPECT_EQ(word(g, 3), 0x0101);
    EXPECT_EQ(word(g, 4), 1);
    EXPECT_EQ(word(g, 5), 70000 - 65536);
    EXPECT_EQ(word(g, 6), 0x1234);
    EXPECT_EQ(word(encodeFlashData({}, 1, FlashDate{}, 0, 5), 6), 0x0005);
    EXPECT_EQ(word(encodeFlashData({}, 1, FlashDate{}, 0, 5), 2), 0);
}

TEST(FlashDataTest, BcdKeepsTheLastDigits) {
    EXPECT_EQ(toBcd(2026, 4), 0x2026);
    EXPECT_EQ(toBcd(7, 2), 0x07);
    EXPECT_EQ(toBcd(1000, 2), 0x00);
    EXPECT_EQ(toBcd(123, 2), 0x23);
}

}  // namespace
}  // namespace mz::format
