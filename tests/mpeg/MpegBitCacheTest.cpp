// The layer III bit cache (mpegdec/MpegBits.h): the bits the bytes hold,
// from any start, on either side of its whole-word refill, and zeros past
// the end.
#include <gtest/gtest.h>

#include <vector>

#include "mpegdec/MpegBits.h"

namespace mpeg_tests {
namespace {

struct BitCacheCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint64_t start;                 // bit position the cache starts from
    std::vector<int> widths;        // each read preceded by a refill
    std::vector<uint32_t> values;   // worked by hand from the bytes
    uint64_t end;                   // position after the reads
};

const BitCacheCase kCases[] = {
    // 1010 0101 | 0011 1100 | 0000 1111: from bit 3, 00101, 0011110, then
    // 0 00001111 and three bits past the end.
    {"short_data_past_the_end", {0xA5, 0x3C, 0x0F}, 3, {5, 7, 12}, {5, 30, 120}, 27},
    // Nibbles 0 1 2 ... F F E ... 8: from bit 4, whole words while eight
    // bytes remain, then byte by byte into the zeros past the end.
    {"words_then_bytes", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98},
     4, {32, 32, 32}, {0x12345678, 0x9ABCDEFF, 0xEDCBA980}, 100},
    {"odd_widths_across_words", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98},
     0, {1, 7, 13, 19, 0, 3}, {0, 0x01, 0x0468, 0x56789, 0, 5}, 43},
    {"start_past_the_end", {0xFF, 0xFF}, 20, {8}, {0}, 28},
};

void PrintTo(const BitCacheCase& c, std::ostream* os) { *os << c.name; }

class MpegBitCache : public ::testing::TestWithParam<BitCacheCase> {};

TEST_P(MpegBitCache, ReadsTheBitsTheBytesHoldAndZerosPastTheEnd) {
    const BitCacheCase& c = GetParam();
    mpegaudio::BitReader reader(c.bytes.data(), c.bytes.size());
    reader.SeekTo(c.start);
    mpegaudio::BitCache bits(reader);
    for (size_t i = 0; i < c.widths.size(); ++i) {
        bits.Refill();
        EXPECT_EQ(bits.Read(c.widths[i]), c.values[i]) << "read " << i;
    }
    EXPECT_EQ(bits.position(), c.end);
}

INSTANTIATE_TEST_SUITE_P(Cases, MpegBitCache, ::testing::ValuesIn(kCases), [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mpeg_tests
