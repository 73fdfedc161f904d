#include <gtest/gtest.h>

#include "support/AudioFixtures.h"

#include <cstring>
#include <random>
#include <vector>

#include "media/codecs/MMPCMSup.h"

namespace {

using testing_support::PcmFormat;

using testing_support::Words;

int WordAt(const std::vector<uint8_t>& bytes, size_t i) { return int16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)); }

// ---- PCMConvertBits ----

TEST(PcmConvertBits, SixteenToEightTruncatesTowardZeroAroundTheZeroLine) {
    const auto in = Words({-1, -255, -256, -257, 0, 255, 256, 32767, -32768});
    std::vector<uint8_t> out(9, 0xEE);
    EXPECT_EQ(PCMConvertBits(8, out.data(), 16, in.data(), uint32_t(in.size())), 9u);
    EXPECT_EQ(out, (std::vector<uint8_t>{128, 128, 127, 127, 128, 128, 129, 255, 0}));
}

TEST(PcmConvertBits, EightToSixteenScalesByTheByteRange) {
    const std::vector<uint8_t> in = {0, 127, 128, 129, 255};
    std::vector<uint8_t> out(10);
    EXPECT_EQ(PCMConvertBits(16, out.data(), 8, in.data(), 5), 10u);
    EXPECT_EQ(out, Words({-32768, -256, 0, 256, 32512}));
}

TEST(PcmConvertBits, EqualWidthsCopyTheSource) {
    const std::vector<uint8_t> in = {1, 2, 3, 4, 5};
    std::vector<uint8_t> out(5);
    EXPECT_EQ(PCMConvertBits(16, out.data(), 16, in.data(), 5), 5u);
    EXPECT_EQ(out, in);
}

TEST(PcmConvertBits, WorksInPlaceInBothDirections) {
    std::vector<uint8_t> buffer = Words({-32768, -256, 0, 256, 32767});
    const uint32_t narrowed = PCMConvertBits(8, buffer.data(), 16, buffer.data(), 10);
    ASSERT_EQ(narrowed, 5u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 5), (std::vector<uint8_t>{0, 127, 128, 129, 255}));
    EXPECT_EQ(PCMConvertBits(16, buffer.data(), 8, buffer.data(), narrowed), 10u);
    EXPECT_EQ(buffer, Words({-32768, -256, 0, 256, 32512}));
}

TEST(PcmConvertBits, AnOddByteOfSixteenBitDataIsNotAHalfSample) {
    const std::vector<uint8_t> in = {0x00, 0x80, 0x7F};
    std::vector<uint8_t> out(2, 0xEE);
    EXPECT_EQ(PCMConvertBits(8, out.data(), 16, in.data(), 3), 1u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0xEE);
}

TEST(PcmConvertBits, OtherWidthsConvertNothing) {
    const std::vector<uint8_t> in(12, 7);
    std::vector<uint8_t> out(24, 0);
    EXPECT_EQ(PCMConvertBits(24, out.data(), 16, in.data(), 12), 0u);
    EXPECT_EQ(PCMConvertBits(8, out.data(), 4, in.data(), 12), 0u);
    EXPECT_EQ(out, std::vector<uint8_t>(24, 0));
}

// ---- PCMScaleVolume ----

TEST(PcmScaleVolume, UnityGainsTouchNothing) {
    const auto f = PcmFormat(2, 16);
    auto buffer = Words({20000, -20000, 5, 7});
    const auto before = buffer;
    EXPECT_FALSE(PCMScaleVolume(&f, buffer.data(), uint32_t(buffer.size()), 16384, 16384));
    EXPECT_EQ(buffer, before);
}

TEST(PcmScaleVolume, DoubleGainClipsSixteenBitSamplesBothWays) {
    const auto f = PcmFormat(1, 16);
    auto buffer = Words({20000, -20000, 1000});
    EXPECT_TRUE(PCMScaleVolume(&f, buffer.data(), uint32_t(buffer.size()), 32768, 16384));
    EXPECT_EQ(WordAt(buffer, 0), 32767);
    EXPECT_EQ(WordAt(buffer, 1), -32768);
    EXPECT_EQ(WordAt(buffer, 2), 2000);
}

TEST(PcmScaleVolume, HalfGainOnEightBitsRoundsTowardMinusInfinityWithoutClipping) {
    const auto f = PcmFormat(1, 8);
    std::vector<uint8_t> buffer = {0, 255, 128, 127};
    EXPECT_FALSE(PCMScaleVolume(&f, buffer.data(), 4, 8192, 16384));
    // (-128 / 2) = -64 -> 64; 127 / 2 -> 63 -> 191; -1 / 2 shifts to -1 -> 127.
    EXPECT_EQ(buffer, (std::vector<uint8_t>{64, 191, 128, 127}));
}

TEST(PcmScaleVolume, EightBitClippingIsReported) {
    const auto f = PcmFormat(1, 8);
    std::vector<uint8_t> buffer = {10, 250};
    EXPECT_TRUE(PCMScaleVolume(&f, buffer.data(), 2, 32768, 16384));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0, 255}));
}

TEST(PcmScaleVolume, StereoGainsApplyPerChannel) {
    const auto f = PcmFormat(2, 8);
    std::vector<uint8_t> buffer = {0, 0, 200, 200, 255, 10};
    EXPECT_FALSE(PCMScaleVolume(&f, buffer.data(), 6, 0, 16384));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{128, 0, 128, 200, 128, 10}));

    const auto w = PcmFormat(2, 16);
    auto words = Words({1000, 1000, -3000, -3000});
    EXPECT_FALSE(PCMScaleVolume(&w, words.data(), 8, 16384, 4096));
    EXPECT_EQ(words, Words({1000, 250, -3000, -750}));
}

TEST(PcmScaleVolume, MonoIgnoresTheRightGain) {
    const auto f = PcmFormat(1, 16);
    auto buffer = Words({1000, 2000});
    const auto before = buffer;
    EXPECT_FALSE(PCMScaleVolume(&f, buffer.data(), 4, 16384, 0));
    EXPECT_EQ(buffer, before);
}

TEST(PcmScaleVolume, OnlyWholeFramesAreScaled) {
    const auto f = PcmFormat(2, 16);
    auto buffer = Words({1000, 1000, 1000});  // one frame and half of another
    buffer.push_back(0x55);
    EXPECT_FALSE(PCMScaleVolume(&f, buffer.data(), uint32_t(buffer.size()), 8192, 8192));
    EXPECT_EQ(WordAt(buffer, 0), 500);
    EXPECT_EQ(WordAt(buffer, 1), 500);
    EXPECT_EQ(WordAt(buffer, 2), 1000);
    EXPECT_EQ(buffer[6], 0x55);
}

TEST(PcmScaleVolume, LargeGainsClipRatherThanOverflow) {
    const auto f = PcmFormat(1, 16);
    auto buffer = Words({32767, -32768, 1});
    EXPECT_TRUE(PCMScaleVolume(&f, buffer.data(), 6, 1 << 20, 16384));
    EXPECT_EQ(WordAt(buffer, 0), 32767);
    EXPECT_EQ(WordAt(buffer, 1), -32768);
    EXPECT_EQ(WordAt(buffer, 2), 64);
}

TEST(PcmScaleVolume, RefusesAMissingOrCompressedFormat) {
    auto buffer = Words({1000, 2000});
    const auto before = buffer;
    EXPECT_FALSE(PCMScaleVolume(nullptr, buffer.data(), 4, 32768, 32768));
    auto f = PcmFormat(1, 16);
    f.wFormatTag = 2;
    EXPECT_FALSE(PCMScaleVolume(&f, buffer.data(), 4, 32768, 32768));
    EXPECT_EQ(buffer, before);
}

// ---- PCMFindPeaks ----

struct Peaks {
    int16_t l1, l2, r1, r2;
    bool operator==(const Peaks&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Peaks& p) {
    return os << "(" << p.l1 << ", " << p.l2 << " | " << p.r1 << ", " << p.r2 << ")";
}

constexpr PCMPeakScan kScans[] = {PCMPeakScan::scalar, PCMPeakScan::sse2, PCMPeakScan::avx2, PCMPeakScan::avx512};
const char* NameOf(PCMPeakScan scan) {
    return scan == PCMPeakScan::scalar ? "scalar"
           : scan == PCMPeakScan::sse2 ? "SSE2"
           : scan == PCMPeakScan::avx2 ? "AVX2"
                                       : "AVX-512";
}

// PCMFindPeaks's result; every scan this processor runs must give the same.
Peaks Find(const WAVEFORMATEX& f, const uint8_t* data, size_t bytes) {
    Peaks p{11, 11, 11, 11};
    PCMFindPeaks(&f, data, uint32_t(bytes), p.l1, p.l2, p.r1, p.r2);
    for (PCMPeakScan scan : kScans) {
        if (!PCMPeakScanAvailable(scan)) continue;
        Peaks by{11, 11, 11, 11};
        PCMFindPeaksUsing(scan, &f, data, uint32_t(bytes), by.l1, by.l2, by.r1, by.r2);
        EXPECT_EQ(by, p) << "the " << NameOf(scan) << " scan, " << bytes << " bytes";
    }
    return p;
}
Peaks Find(const WAVEFORMATEX& f, const std::vector<uint8_t>& data) { return Find(f, data.data(), data.size()); }

TEST(PcmFindPeaks, EveryScanOfThisProcessorIsHeldAgainstTheOthers) {
    // Find compares the scans the processor runs; one it lacks is reported, not passed over.
    EXPECT_TRUE(PCMPeakScanAvailable(PCMPeakScan::scalar));
    for (PCMPeakScan scan : kScans)
        if (!PCMPeakScanAvailable(scan)) GTEST_SKIP() << "this processor lacks the " << NameOf(scan) << " scan";
}

TEST(PcmFindPeaks, ThePairFollowsTheOrderInTime) {
    const auto f = PcmFormat(1, 16);
    EXPECT_EQ(Find(f, Words({5, 100, -100})), (Peaks{100, -100, 100, -100}));
    EXPECT_EQ(Find(f, Words({-100, 100})), (Peaks{-100, 100, -100, 100}));
}

TEST(PcmFindPeaks, TheEarliestFrameWinsATie) {
    // The highest (9) first appears before the lowest; a later 9 must not move it.
    const auto f = PcmFormat(1, 16);
    EXPECT_EQ(Find(f, Words({9, -7, 9, 0})), (Peaks{9, -7, 9, -7}));
    EXPECT_EQ(Find(f, Words({-7, 9, -7, 0})), (Peaks{-7, 9, -7, 9}));
}

TEST(PcmFindPeaks, TheHighestStartsAboveTheMostNegativeSample) {
    const auto f = PcmFormat(1, 16);
    EXPECT_EQ(Find(f, Words({-32768, -32768})), (Peaks{-32768, -32767, -32768, -32767}));
}

TEST(PcmFindPeaks, StereoChannelsAreSeparate) {
    const auto f = PcmFormat(2, 16);
    EXPECT_EQ(Find(f, Words({10, -3, -20, 7, 30, 4})), (Peaks{-20, 30, -3, 7}));
}

TEST(PcmFindPeaks, EightBitResultsAreOnTheByteScale) {
    const auto mono = PcmFormat(1, 8);
    EXPECT_EQ(Find(mono, std::vector<uint8_t>{128, 200, 20}), (Peaks{200, 20, 200, 20}));
    const auto stereo = PcmFormat(2, 8);
    EXPECT_EQ(Find(stereo, std::vector<uint8_t>{0, 255, 255, 0, 77}), (Peaks{0, 255, 255, 0}));
    // Only the byte 0 (-128 below the zero line): the highest stays at its start, 1.
    EXPECT_EQ(Find(mono, std::vector<uint8_t>{0, 0}), (Peaks{0, 1, 0, 1}));
}

TEST(PcmFindPeaks, ABlockTooShortForOneFrameReportsTheZeroLine) {
    const std::vector<uint8_t> three = {1, 2, 3};
    EXPECT_EQ(Find(PcmFormat(2, 16), three), (Peaks{0, 0, 0, 0}));
    EXPECT_EQ(Find(PcmFormat(1, 16), three.data(), 1), (Peaks{0, 0, 0, 0}));
    EXPECT_EQ(Find(PcmFormat(2, 8), three.data(), 1), (Peaks{128, 128, 128, 128}));
    EXPECT_EQ(Find(PcmFormat(1, 8), three.data(), 0), (Peaks{128, 128, 128, 128}));
}

// The definition, one frame at a time, for comparison on many blocks.
Peaks Reference(const WAVEFORMATEX& f, const uint8_t* data, size_t bytes) {
    const bool wide = f.wBitsPerSample != 8;
    const int channels = f.nChannels == 1 ? 1 : 2;
    const size_t frameBytes = (wide ? 2 : 1) * channels;
    const size_t frames = bytes / frameBytes;
    int16_t out[2][2];
    for (int c = 0; c < channels; ++c) {
        int low = wide ? 32767 : 127, high = wide ? -32767 : -127;
        size_t lowAt = 0, highAt = 0;
        for (size_t i = 0; i < frames; ++i) {
            const uint8_t* p = data + i * frameBytes + c * (wide ? 2 : 1);
            const int v = wide ? int16_t(p[0] | (p[1] << 8)) : p[0] - 128;
            if (v < low) low = v, lowAt = i;
            if (v > high) high = v, highAt = i;
        }
        const int offset = wide ? 0 : 128;
        if (frames == 0) low = high = 0;
        const bool highFirst = highAt < lowAt;
        out[c][0] = int16_t((highFirst ? high : low) + offset);
        out[c][1] = int16_t((highFirst ? low : high) + offset);
    }
    if (channels == 1) out[1][0] = out[0][0], out[1][1] = out[0][1];
    return Peaks{out[0][0], out[0][1], out[1][0], out[1][1]};
}

TEST(PcmFindPeaks, AgreesWithTheFrameByFrameDefinitionOnManyBlocks) {
    std::mt19937 random(7);
    std::vector<uint8_t> storage(4096 + 64);
    for (const auto& f : {PcmFormat(1, 16), PcmFormat(2, 16), PcmFormat(1, 8), PcmFormat(2, 8)}) {
        for (int round = 0; round < 400; ++round) {
            // Few distinct values make ties and repeated extremes common.
            const int spread = (round % 3 == 0) ? 3 : (round % 3 == 1) ? 300 : 65536;
            for (auto& b : storage) b = uint8_t(random() % 256);
            if (spread < 65536) {
                for (size_t i = 0; i + 1 < storage.size(); i += 2) {
                    const int v = int(random() % spread) - spread / 2;
                    storage[i] = uint8_t(v), storage[i + 1] = uint8_t(uint16_t(v) >> 8);
                    if (f.wBitsPerSample == 8) storage[i] = uint8_t(128 + v % 128), storage[i + 1] = uint8_t(128 - v % 128);
                }
            }
            const size_t offset = random() % 16;  // any alignment
            const size_t bytes = round < 100 ? size_t(round) : (round % 2 ? 4096 : random() % 4096);
            const uint8_t* data = storage.data() + offset;
            ASSERT_EQ(Find(f, data, bytes), Reference(f, data, bytes))
                << "channels " << f.nChannels << " bits " << f.wBitsPerSample << " bytes " << bytes << " round "
                << round;
        }
    }
}

TEST(PcmFindPeaks, ExtremesAtEitherEndOfABlockAreFound) {
    const auto f = PcmFormat(2, 16);
    std::vector<int> samples(2 * 1024 + 2, 0);  // an odd tail of one frame beyond the vectors
    samples.front() = 500;
    samples.back() = -900;
    samples[samples.size() - 4] = -32768;
    EXPECT_EQ(Find(f, Words(samples)), (Peaks{500, -32768, 0, -900}));
}

// ---- PCMFindPeaks on large blocks, as the wave preview scans them ----

// 16-bit samples, all `fill`, with the given (sample index, value) pairs set.
std::vector<uint8_t> Planted(size_t samples, int fill, const std::vector<std::pair<size_t, int>>& values) {
    std::vector<int> words(samples, fill);
    for (const auto& [at, value] : values) words[at] = value;
    return Words(words);
}

TEST(PcmFindPeaksLargeBlocks, AnEarlierEqualLowestDecidesTheOrder) {
    const auto mono = PcmFormat(1, 16);
    // -700 first at sample 10000, again at 30000; 700 at 20000 only.
    EXPECT_EQ(Find(mono, Planted(32768, 0, {{10000, -700}, {20000, 700}, {30000, -700}})),
              (Peaks{-700, 700, -700, 700}));
    // 700 first at 20000 and again at 31000; -700 at 25000 and 30000.
    EXPECT_EQ(Find(mono, Planted(32768, 0, {{25000, -700}, {20000, 700}, {30000, -700}, {31000, 700}})),
              (Peaks{700, -700, 700, -700}));
}

TEST(PcmFindPeaksLargeBlocks, NeighbouringSamplesAreOrderedExactly) {
    // Both extremes close together, also astride multiples of 8, 16, ... 512 samples (32: one
    // 64-byte vector, 64: the pair the AVX-512 pass takes in one step; the 16-byte pass takes
    // 32 samples in a step, folded 8 + 8 and 8 + 8 (24 lies in its second pair), the 32-byte
    // pass 64, folded 16 + 16 and 16 + 16 (48)).
    const auto mono = PcmFormat(1, 16);
    for (size_t edge : {8u, 16u, 24u, 32u, 48u, 64u, 96u, 128u, 256u, 512u, 4096u, 20000u}) {
        SCOPED_TRACE(edge);  // also for the scans' cross-check inside Find
        EXPECT_EQ(Find(mono, Planted(65536, 3, {{edge - 1, 50}, {edge, -50}})), (Peaks{50, -50, 50, -50}));
        EXPECT_EQ(Find(mono, Planted(65536, 3, {{edge - 1, -50}, {edge, 50}})), (Peaks{-50, 50, -50, 50}));
    }
}

TEST(PcmFindPeaksLargeBlocks, StereoChannelsKeepTheirOwnOrder) {
    const auto stereo = PcmFormat(2, 16);
    // Left: high at frame 100, low at frame 9000. Right: low at frame 5, high at frame 9001.
    auto data = Planted(2 * 16384, 0,
                        {{2 * 100, 1200}, {2 * 9000, -1300}, {2 * 5 + 1, -40}, {2 * 9001 + 1, 45}, {2 * 9500 + 1, 30}});
    EXPECT_EQ(Find(stereo, data), (Peaks{1200, -1300, -40, 45}));
}

TEST(PcmFindPeaksLargeBlocks, ExtremesInTheFirstAndLastFramesAreFound) {
    const auto stereo = PcmFormat(2, 16);
    const size_t frames = 40000;
    EXPECT_EQ(Find(stereo, Planted(2 * frames, 0, {{0, 9}, {1, -9}, {2 * frames - 2, -8}, {2 * frames - 1, 8}})),
              (Peaks{9, -8, -9, 8}));
    const auto mono = PcmFormat(1, 16);
    // The highest (0) is first seen at frame 0, the lowest in the last frame.
    EXPECT_EQ(Find(mono, Planted(frames, 0, {{frames - 1, -32768}})), (Peaks{0, -32768, 0, -32768}));
    EXPECT_EQ(Find(mono, Planted(frames, 0, {{frames - 2, 32767}, {frames - 1, -32768}})),
              (Peaks{32767, -32768, 32767, -32768}));
}

TEST(PcmFindPeaksLargeBlocks, ExtremesBehindTheLastWholeVectorsCount) {
    // 10003 mono samples: the last few lie behind every whole run of 16 or 32 samples.
    const auto mono = PcmFormat(1, 16);
    EXPECT_EQ(Find(mono, Planted(10003, 1, {{10002, -77}, {10001, 78}})), (Peaks{78, -77, 78, -77}));
    // 10047 = 156 * 64 + 63: the 32- and 64-byte passes leave 63 samples behind (from 9984 on),
    // the 16-byte pass 31 (from 10016 on); the highest lies behind the first only.
    EXPECT_EQ(Find(mono, Planted(10047, 1, {{9990, 78}, {9983, 60}, {10046, -77}})), (Peaks{78, -77, 78, -77}));
    EXPECT_EQ(Find(mono, Planted(10047, 1, {{9990, -77}, {9983, -60}, {10046, 78}})), (Peaks{-77, 78, -77, 78}));
    // Every length of what the passes leave behind (0 to 63 samples): the last two samples,
    // behind the vectors or in the last of them, decide the pair's order.
    for (size_t samples = 10048; samples <= 10048 + 64; ++samples) {
        SCOPED_TRACE(samples);
        EXPECT_EQ(Find(mono, Planted(samples, 1, {{samples - 2, 78}, {samples - 1, -77}})), (Peaks{78, -77, 78, -77}));
        EXPECT_EQ(Find(mono, Planted(samples, 1, {{samples - 2, -77}, {samples - 1, 78}})), (Peaks{-77, 78, -77, 78}));
    }
    // A half frame at the end is not a sample of the block.
    auto data = Planted(2 * 5001, 1, {});
    data.push_back(0x00);
    data.push_back(0x80);  // -32768 in the left half of a frame cut short
    EXPECT_EQ(Find(PcmFormat(2, 16), data), (Peaks{1, 1, 1, 1}));
}

TEST(PcmFindPeaksLargeBlocks, OnlyTheMostNegativeSampleKeepsTheHighestAtItsStart) {
    const auto mono = PcmFormat(1, 16);
    // The highest never leaves -32767, so it counts as seen at frame 0, before any lowest.
    EXPECT_EQ(Find(mono, Planted(50000, -32768, {})), (Peaks{-32768, -32767, -32768, -32767}));
    EXPECT_EQ(Find(mono, Planted(50000, -32767, {{30000, -32768}})), (Peaks{-32767, -32768, -32767, -32768}));
    // The lowest never leaves 32767: the highest, at frame 0 as well, is reported second.
    EXPECT_EQ(Find(mono, Planted(50000, 32767, {})), (Peaks{32767, 32767, 32767, 32767}));
}

TEST(PcmFindPeaksLargeBlocks, EightBitBlocksFollowTheSameRules) {
    const auto mono = PcmFormat(1, 8);
    std::vector<uint8_t> bytes(70001, 128);
    bytes[40000] = 3;
    bytes[20000] = 250;
    bytes[60000] = 3;
    EXPECT_EQ(Find(mono, bytes), (Peaks{250, 3, 250, 3}));
    const auto stereo = PcmFormat(2, 8);
    bytes.assign(70001, 128);  // 35000 frames and a half
    bytes[2 * 100] = 0;
    bytes[2 * 30000] = 255;
    bytes[2 * 50 + 1] = 255;
    bytes[2 * 60 + 1] = 0;
    bytes[70000] = 1;  // the half frame
    EXPECT_EQ(Find(stereo, bytes), (Peaks{0, 255, 255, 0}));
}

TEST(PcmFindPeaksLargeBlocks, AgreesWithTheFrameByFrameDefinition) {
    std::mt19937 random(11);
    std::vector<uint8_t> storage((300u << 10) + 64);
    for (const auto& f : {PcmFormat(1, 16), PcmFormat(2, 16), PcmFormat(1, 8), PcmFormat(2, 8)}) {
        for (int round = 0; round < 60; ++round) {
            const size_t bytes = round % 4 == 0 ? (256u << 10) : 4097 + random() % (296u << 10);
            const size_t offset = random() % 8;
            uint8_t* data = storage.data() + offset;
            // Mostly quiet data; a few values beyond it, some repeated, land anywhere,
            // often right at a multiple of 16 to 1024 bytes or just before one.
            for (size_t i = 0; i < bytes; ++i) data[i] = uint8_t(random() % 16 + 120);
            for (int k = 0; k < 12; ++k) {
                const size_t span = size_t(16) << (random() % 7);
                size_t at = random() % bytes;
                if (k % 2) at = std::min(bytes - 1, at / span * span - (random() % 3) * (f.wBitsPerSample / 8u));
                const uint8_t loud[] = {0x00, 0x80, 0x01, 0xFF, 0x7F, 0x02, 0xFE};
                data[at] = loud[random() % sizeof loud];
                if (k % 3 == 0 && at + 4096 < bytes) data[at + 4096] = data[at];  // a later tie
            }
            ASSERT_EQ(Find(f, data, bytes), Reference(f, data, bytes))
                << "channels " << f.nChannels << " bits " << f.wBitsPerSample << " bytes " << bytes << " offset "
                << offset << " round " << round;
        }
    }
}

TEST(PcmFindPeaksLargeBlocks, ABlockOfMoreThanThirtyTwoMebibytesIsScannedWhole) {
    // Far beyond what a short run of chunk numbers can count.
    const auto mono = PcmFormat(1, 16);
    const size_t samples = (40u << 20) / 2 + 5, middle = samples / 2;
    std::vector<int> words(samples, 0);
    words[17] = 600;             // the highest, early
    words[samples - 3] = -600;   // the lowest, late
    words[middle] = -599;        // nearly as low, in the middle
    words[middle + 1] = 600;     // a later tie of the highest
    EXPECT_EQ(Find(mono, Words(words)), (Peaks{600, -600, 600, -600}));
    // The highest now first stands in the middle, the lowest first right behind it.
    words[17] = 0;
    words[middle + 2] = -600;
    EXPECT_EQ(Find(mono, Words(words)), (Peaks{600, -600, 600, -600}));
    // The lowest now first stands one sample before the highest.
    words[middle] = -600;
    EXPECT_EQ(Find(mono, Words(words)), (Peaks{-600, 600, -600, 600}));
}

// ---- PCMIsValidFormat ----

TEST(PcmFormatCheck, AcceptsMonoAndStereoOfEightAndSixteenBitsOnly) {
    const WAVEFORMATEX good[] = {PcmFormat(1, 8), PcmFormat(2, 16), PcmFormat(1, 16, 8000)};
    for (const auto& f : good) EXPECT_TRUE(PCMIsValidFormat(&f));
    const WAVEFORMATEX bad[] = {PcmFormat(3, 16), PcmFormat(0, 16), PcmFormat(2, 24), PcmFormat(1, 16, 0)};
    for (const auto& f : bad) EXPECT_FALSE(PCMIsValidFormat(&f));
    auto compressed = PcmFormat(2, 16);
    compressed.wFormatTag = 2;
    EXPECT_FALSE(PCMIsValidFormat(&compressed));
    EXPECT_FALSE(PCMIsValidFormat(nullptr));
}

}  // namespace
