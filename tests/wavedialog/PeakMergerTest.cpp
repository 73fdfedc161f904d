// The waveform scan reads a column's block in pieces and merges the pieces'
// peaks: the merged values must be those of one scan over the whole block.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "dialogs/WavePeakScan.h"
#include "media/codecs/MMPCMSup.h"

namespace {

WAVEFORMATEX Pcm(uint16_t channels, uint16_t bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = bits;
    f.nBlockAlign = uint16_t(channels * bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * 44100u;
    return f;
}

std::vector<uint8_t> Words(const std::vector<int16_t>& values) {
    std::vector<uint8_t> bytes;
    for (int16_t v : values) {
        bytes.push_back(uint8_t(uint16_t(v)));
        bytes.push_back(uint8_t(uint16_t(v) >> 8));
    }
    return bytes;
}

WavePeak Scan(const WAVEFORMATEX& f, const uint8_t* data, size_t bytes) {
    WavePeak p;
    PCMFindPeaks(&f, data, uint32_t(bytes), p.leftFirst, p.leftSecond, p.rightFirst, p.rightSecond);
    return p;
}

// The block cut into pieces of `piece` bytes, each scanned and merged.
WavePeak Merged(const WAVEFORMATEX& f, const std::vector<uint8_t>& block, size_t piece) {
    WavePeakMerger merger(f.wBitsPerSample == 8);
    for (size_t at = 0; at < block.size(); at += piece)
        merger.Add(Scan(f, block.data() + at, std::min(piece, block.size() - at)));
    return merger.Result();
}

void ExpectPeak(const WavePeak& got, int a, int b, int c, int d, const char* what) {
    EXPECT_EQ(got.leftFirst, a) << what;
    EXPECT_EQ(got.leftSecond, b) << what;
    EXPECT_EQ(got.rightFirst, c) << what;
    EXPECT_EQ(got.rightSecond, d) << what;
}

TEST(WavePeakMerger, ExtremesInSeparatePiecesKeepTheirOrderInTime) {
    const WAVEFORMATEX mono = Pcm(1, 16);
    // 5, 100 | -100, 7: the highest comes first.
    ExpectPeak(Merged(mono, Words({5, 100, -100, 7}), 4), 100, -100, 100, -100, "high first");
    // -100, 3 | 100, 2: the lowest comes first.
    ExpectPeak(Merged(mono, Words({-100, 3, 100, 2}), 4), -100, 100, -100, 100, "low first");
}

TEST(WavePeakMerger, BothExtremesInOnePieceTakeThatPiecesOrder) {
    const WAVEFORMATEX mono = Pcm(1, 16);
    ExpectPeak(Merged(mono, Words({1, 2, 900, -900, 3, 4}), 4), 900, -900, 900, -900, "middle piece");
}

TEST(WavePeakMerger, ATieGoesToTheEarlierPiece) {
    const WAVEFORMATEX mono = Pcm(1, 16);
    // The low -50 stands in pieces one and three, the high 60 in piece two only:
    // the first -50 comes before the 60.
    ExpectPeak(Merged(mono, Words({-50, 0, 60, 0, -50, 0}), 4), -50, 60, -50, 60, "tie");
}

TEST(WavePeakMerger, OnlyMinus32768ReportsItAndTheUnbeatenHighest) {
    const WAVEFORMATEX mono = Pcm(1, 16);
    ExpectPeak(Merged(mono, Words({-32768, -32768, -32768, -32768}), 2), -32768, -32767, -32768, -32767,
               "the highest starts at -32767 and is never beaten");
}

TEST(WavePeakMerger, StereoChannelsMergeApart) {
    const WAVEFORMATEX stereo = Pcm(2, 16);
    // Frames (left, right): (1, -7) (300, 2) | (-300, 9) (0, -400)
    ExpectPeak(Merged(stereo, Words({1, -7, 300, 2, -300, 9, 0, -400}), 8), 300, -300, 9, -400, "stereo");
}

TEST(WavePeakMerger, EightBitValuesStayOnTheByteScale) {
    const WAVEFORMATEX mono8 = Pcm(1, 8);
    const std::vector<uint8_t> block{128, 200, 130, 10, 128, 129};
    ExpectPeak(Merged(mono8, block, 2), 200, 10, 200, 10, "8-bit");
}

TEST(WavePeakMerger, AnyCutOfRandomBlocksGivesTheWholeBlocksPeaks) {
    uint32_t seed = 77;
    const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (const WAVEFORMATEX& f : {Pcm(1, 16), Pcm(2, 16), Pcm(1, 8), Pcm(2, 8)}) {
        for (int round = 0; round < 200; ++round) {
            // Narrow value ranges make ties and repeated extremes common.
            std::vector<uint8_t> block(4 * (1 + next() % 64));
            const uint32_t spread = 1 + next() % 7;
            for (uint8_t& b : block) b = uint8_t(120 + next() % spread);
            const size_t piece = f.nBlockAlign * (1 + next() % 9);
            const WavePeak whole = Scan(f, block.data(), block.size());
            const WavePeak merged = Merged(f, block, piece);
            ASSERT_EQ(merged.leftFirst, whole.leftFirst) << round;
            ASSERT_EQ(merged.leftSecond, whole.leftSecond) << round;
            ASSERT_EQ(merged.rightFirst, whole.rightFirst) << round;
            ASSERT_EQ(merged.rightSecond, whole.rightSecond) << round;
        }
    }
}

}  // namespace
