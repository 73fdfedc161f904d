// Layer I and II requantisation without a division (mpegdec/MpegRequantise.h):
// the values of codes worked by hand, and every code of every width against
// the single-precision division the decoder made before.
#include <gtest/gtest.h>

#include "mpegdec/MpegRequantise.h"

namespace mpeg_tests {
namespace {

using mpegaudio::GroupedValues;

// An n-bit code v stands for (2v - 2^n + 2) / (2^n - 1).
TEST(MpegRequantise, LevelCodesStandForTheirWorkedQuotients) {
    const struct {
        uint32_t code;
        int bits;
        float value;
    } rows[] = {
        {0, 2, -2.0f / 3},               // 0 - 4 + 2 = -2
        {3, 2, 4.0f / 3},                // all ones, never sent: 6 - 4 + 2
        {5, 3, 4.0f / 7},                // 10 - 8 + 2
        {1000, 10, 978.0f / 1023},       // 2000 - 1024 + 2
        {12345, 15, -8076.0f / 32767},   // 24690 - 32768 + 2
        {32768, 16, 2.0f / 65535},       // 65536 - 65536 + 2
        {65534, 16, 65534.0f / 65535},   // 131068 - 65536 + 2
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "code " << row.code << " of " << row.bits << " bits");
        EXPECT_EQ(mpegaudio::LevelValue(row.code, row.bits), row.value);
    }
}

// The multiplication by the reciprocal rounds as the division does, for
// every code of every width the layers send (2 to 16 bits).
TEST(MpegRequantise, EveryLevelCodeGivesTheDivisionsFloat) {
    for (int bits = 2; bits <= 16; ++bits) {
        const int32_t levels = (int32_t(1) << bits) - 1;
        int differing = 0;
        uint32_t first = 0;
        for (uint32_t code = 0; code <= uint32_t(levels); ++code) {
            const float divided = float(2 * int32_t(code) - levels + 1) / float(levels);
            if (mpegaudio::LevelValue(code, bits) != divided && differing++ == 0) first = code;
        }
        EXPECT_EQ(differing, 0) << bits << " bits, first at code " << first;
    }
}

// A grouped code is v0 + levels * v1 + levels^2 * v2, the first sample lowest.
TEST(MpegRequantise, GroupedCodesGiveTheirDigitsValues) {
    const struct {
        const char* name;
        const GroupedValues* table;
        uint32_t code;
        float values[3];
    } rows[] = {
        // 5 = 2 + 1 * 3: digits 2, 1, 0.
        {"3 levels, 5", mpegaudio::kGroups3.codes, 5, {2.0f / 3, 0.0f, -2.0f / 3}},
        // 26 = 2 + 2 * 3 + 2 * 9, the last group.
        {"3 levels, 26", mpegaudio::kGroups3.codes, 26, {2.0f / 3, 2.0f / 3, 2.0f / 3}},
        // Never sent: 31 = 1 + 10 * 3, 10 = 1 + 3 * 3, 3 mod 3 = 0.
        {"3 levels, 31", mpegaudio::kGroups3.codes, 31, {0.0f, 0.0f, -2.0f / 3}},
        // 7 = 2 + 1 * 5: (4 - 4) / 5, (2 - 4) / 5, (0 - 4) / 5.
        {"5 levels, 7", mpegaudio::kGroups5.codes, 7, {0.0f, -2.0f / 5, -4.0f / 5}},
        {"5 levels, 124", mpegaudio::kGroups5.codes, 124, {4.0f / 5, 4.0f / 5, 4.0f / 5}},
        // 100 = 1 + 11 * 9, 11 = 2 + 1 * 9: (2 - 8) / 9, (4 - 8) / 9, (2 - 8) / 9.
        {"9 levels, 100", mpegaudio::kGroups9.codes, 100, {-6.0f / 9, -4.0f / 9, -6.0f / 9}},
        {"9 levels, 728", mpegaudio::kGroups9.codes, 728, {8.0f / 9, 8.0f / 9, 8.0f / 9}},
        // Never sent: 1023 = 6 + 113 * 9, 113 = 5 + 12 * 9, 12 mod 9 = 3.
        {"9 levels, 1023", mpegaudio::kGroups9.codes, 1023, {4.0f / 9, 2.0f / 9, -2.0f / 9}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(row.table[row.code].values[i], row.values[i]) << "sample " << i;
    }
}

}  // namespace
}  // namespace mpeg_tests
