// Peaks of 24- and 32-bit integer and float PCM on the 16-bit scale, for
// drawing waveforms that were drawn as if their bytes were 16-bit samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "media/codecs/MMPCMSup.h"

namespace {

struct Peaks {
    int16_t lf = 99, ls = 99, rf = 99, rs = 99;
    bool ok = false;
};

Peaks Find(const std::vector<uint8_t>& format, const std::vector<uint8_t>& data) {
    Peaks p;
    p.ok = PCMFindWidePeaks(reinterpret_cast<const WAVEFORMATEX*>(format.data()), data.data(), uint32_t(data.size()),
                            p.lf, p.ls, p.rf, p.rs);
    return p;
}

std::vector<uint8_t> Format(uint16_t tag, uint16_t channels, uint16_t bits) {
    WAVEFORMATEX f{tag, channels, 48000, 48000u * channels * (bits / 8u), uint16_t(channels * (bits / 8)), bits, 0};
    std::vector<uint8_t> bytes(sizeof f);
    std::memcpy(bytes.data(), &f, sizeof f);
    return bytes;
}

// WAVEFORMATEXTENSIBLE with the sub-format of a wave format tag.
std::vector<uint8_t> Extensible(uint16_t subTag, uint16_t channels, uint16_t bits, uint16_t validBits) {
    std::vector<uint8_t> bytes = Format(0xFFFE, channels, bits);
    bytes[16] = 22;  // cbSize
    const uint8_t tail[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    const uint8_t extra[8] = {uint8_t(validBits), uint8_t(validBits >> 8), 3, 0, 0, 0, uint8_t(subTag),
                              uint8_t(subTag >> 8)};
    bytes.resize(sizeof(WAVEFORMATEX) + 22);
    std::memcpy(bytes.data() + sizeof(WAVEFORMATEX), extra, sizeof extra);
    std::memcpy(bytes.data() + sizeof(WAVEFORMATEX) + sizeof extra, tail, sizeof tail);
    return bytes;
}

void Put24(std::vector<uint8_t>& out, int32_t v) {
    for (int i = 0; i < 3; ++i) out.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void PutFloat(std::vector<uint8_t>& out, float f) {
    uint32_t word;
    std::memcpy(&word, &f, 4);
    Put32(out, word);
}

TEST(WidePeaks, TwentyFourBitSamplesAreTheirTopSixteenBits) {
    std::vector<uint8_t> data;
    for (int32_t v : {0x000100, 0x123456, -0x000001, -0x400000, 0x7FFFFF}) Put24(data, v);
    const Peaks p = Find(Format(1, 1, 24), data);
    ASSERT_TRUE(p.ok);
    // -0x400000 >> 8 is -0x4000; 0x7FFFFF >> 8 is 0x7FFF; later than the low.
    EXPECT_EQ(p.lf, -0x4000);
    EXPECT_EQ(p.ls, 0x7FFF);
    EXPECT_EQ(p.rf, -0x4000);
    EXPECT_EQ(p.rs, 0x7FFF);
}

TEST(WidePeaks, ATwentyFourBitWaveGivesThePeaksOfItsSixteenBitReduction) {
    // The reduction is made here by keeping the two upper bytes of every sample.
    std::vector<uint8_t> wide, narrow;
    uint32_t noise = 7;
    for (int i = 0; i < 3000; ++i) {
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const int32_t v = int32_t(noise >> 8) - 0x800000;
            Put24(wide, v);
            narrow.push_back(wide[wide.size() - 2]);
            narrow.push_back(wide[wide.size() - 1]);
        }
    }
    const auto pcm16 = Format(1, 2, 16);
    for (size_t block : {size_t(6), size_t(600), size_t(6000), wide.size()}) {
        const size_t frames = block / 6;
        Peaks expect;
        PCMFindPeaks(reinterpret_cast<const WAVEFORMATEX*>(pcm16.data()), narrow.data(), uint32_t(frames * 4),
                     expect.lf, expect.ls, expect.rf, expect.rs);
        const Peaks got = Find(Format(1, 2, 24), std::vector<uint8_t>(wide.begin(), wide.begin() + std::ptrdiff_t(block)));
        ASSERT_TRUE(got.ok);
        EXPECT_EQ(got.lf, expect.lf) << block;
        EXPECT_EQ(got.ls, expect.ls) << block;
        EXPECT_EQ(got.rf, expect.rf) << block;
        EXPECT_EQ(got.rs, expect.rs) << block;
    }
}

TEST(WidePeaks, ThirtyTwoBitIntegersPlainAndExtensible) {
    std::vector<uint8_t> data;
    for (uint32_t v : {0x00010000u, 0x80000000u, 0x7FFFFFFFu, 0x12345678u}) Put32(data, v);
    for (const auto& format : {Format(1, 2, 32), Extensible(1, 2, 32, 32), Extensible(1, 2, 32, 24)}) {
        const Peaks p = Find(format, data);
        ASSERT_TRUE(p.ok);
        // Left: 1 then 0x7FFF; right: -32768 then 0x1234.
        EXPECT_EQ(p.lf, 1);
        EXPECT_EQ(p.ls, 0x7FFF);
        EXPECT_EQ(p.rf, -32768);
        EXPECT_EQ(p.rs, 0x1234);
    }
}

TEST(WidePeaks, FloatsAreScaledAndHeldToTheSixteenBitRange) {
    std::vector<uint8_t> data;
    for (float f : {0.5f, -0.25f, 2.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), 0.0f}) PutFloat(data, f);
    for (const auto& format : {Format(3, 1, 32), Extensible(3, 1, 32, 32)}) {
        const Peaks p = Find(format, data);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.lf, 32767);  // 2.0 is held at the top, and comes before -1.0
        EXPECT_EQ(p.ls, -32768);
    }
    std::vector<uint8_t> small;
    for (float f : {0.5f, -0.25f, -0.00001f}) PutFloat(small, f);
    const Peaks q = Find(Format(3, 1, 32), small);
    EXPECT_EQ(q.lf, 16384);
    EXPECT_EQ(q.ls, -8192);
}

TEST(WidePeaks, SixtyFourBitFloatsAndStereo) {
    std::vector<uint8_t> data;
    for (double d : {-0.5, 0.125, 0.75, -0.0625}) {
        uint64_t word;
        std::memcpy(&word, &d, 8);
        for (int i = 0; i < 8; ++i) data.push_back(uint8_t(word >> (8 * i)));
    }
    const Peaks p = Find(Format(3, 2, 64), data);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.lf, -16384);
    EXPECT_EQ(p.ls, 24576);
    EXPECT_EQ(p.rf, 4096);
    EXPECT_EQ(p.rs, -2048);
}

TEST(WidePeaks, OtherFormatsAreRefusedAndShortBlocksReportZero) {
    const std::vector<uint8_t> data(64, 0x40);
    for (const auto& format : {Format(1, 1, 16), Format(1, 2, 8), Format(3, 1, 4), Format(2, 1, 4),
                               Format(1, 0, 24), Extensible(2, 1, 32, 32)}) {
        const Peaks p = Find(format, data);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.lf, 0);
        EXPECT_EQ(p.rs, 0);
    }
    auto shortExtra = Extensible(1, 1, 24, 24);
    shortExtra[16] = 21;  // cbSize too small to hold the sub-format
    EXPECT_FALSE(Find(shortExtra, data).ok);
    EXPECT_TRUE(PCMIsWideFormat(reinterpret_cast<const WAVEFORMATEX*>(Format(1, 6, 24).data())));
    const Peaks tiny = Find(Format(1, 2, 24), std::vector<uint8_t>(5, 0x7F));
    EXPECT_TRUE(tiny.ok);
    EXPECT_EQ(tiny.lf, 0);
    EXPECT_EQ(tiny.ls, 0);
}

TEST(WidePeaks, SixChannelsReportTheFirstTwo) {
    std::vector<uint8_t> data;
    for (int frame = 0; frame < 2; ++frame)
        for (int c = 0; c < 6; ++c) Put24(data, (c < 2 ? (frame ? 0x100 : -0x200) * (c + 1) : 0x7FFF00));
    const Peaks p = Find(Format(1, 6, 24), data);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.lf, -2);
    EXPECT_EQ(p.ls, 1);
    EXPECT_EQ(p.rf, -4);
    EXPECT_EQ(p.rs, 2);
}

}  // namespace
