#include <gtest/gtest.h>

#include "support/AudioFixtures.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/codecs/MMADPCM.h"
#include "media/codecs/MMPCMSup.h"

namespace {

using testing_support::PcmFormat;

// A Microsoft ADPCM format with the standard pairs and the given block shape.
MSADPCMWaveFormat MsFormat(uint16_t channels, uint16_t blockAlign, uint16_t samplesPerBlock) {
    MSADPCMWaveFormat f{};
    f.wfx.wFormatTag = 2;
    f.wfx.nChannels = channels;
    f.wfx.nSamplesPerSec = 22050;
    f.wfx.nAvgBytesPerSec = 11100;
    f.wfx.nBlockAlign = blockAlign;
    f.wfx.wBitsPerSample = 4;
    f.wfx.cbSize = 32;
    f.samplesPerBlock = samplesPerBlock;
    f.numCoef = 7;
    std::memcpy(f.coef, MSADPCMCoefficients, sizeof f.coef);
    return f;
}

// The block that a block shape's encoder would write: per channel the
// predictor index, delta, sample 1 and sample 2, then the codes two per byte.
struct ChannelHeader {
    uint8_t predictor;
    int16_t delta, sample1, sample2;
};
std::vector<uint8_t> Block(const std::vector<ChannelHeader>& channels, const std::vector<uint8_t>& codeBytes) {
    std::vector<uint8_t> b;
    auto word = [&](int16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(uint16_t(v) >> 8));
    };
    for (const auto& c : channels) b.push_back(c.predictor);
    for (const auto& c : channels) word(c.delta);
    for (const auto& c : channels) word(c.sample1);
    for (const auto& c : channels) word(c.sample2);
    b.insert(b.end(), codeBytes.begin(), codeBytes.end());
    return b;
}

std::vector<int> Samples16(const std::vector<uint8_t>& bytes, size_t count) {
    std::vector<int> out;
    for (size_t i = 0; i < count / 2; ++i) out.push_back(int16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return out;
}

// Decodes into a buffer with a guard zone after `room` bytes; fails the
// test when the decoder wrote into the guard.
std::vector<int> Decode(const MSADPCMWaveFormat& f, const std::vector<uint8_t>& data, uint32_t room = 1 << 16,
                        uint16_t bits = 16) {
    const auto dest = PcmFormat(f.wfx.nChannels, bits);
    constexpr size_t kGuard = 64;
    std::vector<uint8_t> out(room + kGuard, 0xCD);
    const uint32_t written = DecodeMSADPCM(&f.wfx, &dest, data.data(), uint32_t(data.size()), out.data(), room);
    EXPECT_LE(written, room);
    for (size_t i = room; i < out.size(); ++i) EXPECT_EQ(out[i], 0xCD) << "written past the output at " << i;
    if (bits == 8) return std::vector<int>(out.begin(), out.begin() + written);
    return Samples16(out, written);
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- format check and suggestion ----

TEST(MsAdpcmFormat, TheStandardFormatIsRecognised) {
    const auto f = MsFormat(2, 2048, 2036);
    EXPECT_TRUE(IsMSADPCMFormat(&f.wfx));
}

TEST(MsAdpcmFormat, AnyDepartureFromTheStandardIsRefused) {
    auto bits = MsFormat(1, 256, 500);
    bits.wfx.wBitsPerSample = 3;
    auto none = MsFormat(1, 256, 500);
    none.wfx.nChannels = 0;
    auto five = MsFormat(5, 256, 500);
    auto tag = MsFormat(1, 256, 500);
    tag.wfx.wFormatTag = 0x11;
    auto six = MsFormat(1, 256, 500);
    six.numCoef = 6;
    auto pair = MsFormat(1, 256, 500);
    pair.coef[6][1] = -231;
    auto shortExtra = MsFormat(1, 256, 500);
    shortExtra.wfx.cbSize = 28;
    for (const auto* f : {&bits, &none, &five, &tag, &six, &pair, &shortExtra}) EXPECT_FALSE(IsMSADPCMFormat(&f->wfx));
    EXPECT_FALSE(IsMSADPCMFormat(nullptr));
    const auto four = MsFormat(4, 1024, 500);
    EXPECT_TRUE(IsMSADPCMFormat(&four.wfx));
}

TEST(MsAdpcmSuggest, StereoAt44100HzGives2048ByteBlocksOf2036Samples) {
    const auto source = PcmFormat(2, 16, 44100);
    MSADPCMWaveFormat dest{};
    ASSERT_TRUE(ADPCMSuggestFormat(&source, &dest.wfx, sizeof dest, 0, 0, 0));
    EXPECT_EQ(dest.wfx.wFormatTag, 2);
    EXPECT_EQ(dest.wfx.nChannels, 2);
    EXPECT_EQ(dest.wfx.nSamplesPerSec, 44100u);
    EXPECT_EQ(dest.wfx.nBlockAlign, 2048);
    EXPECT_EQ(dest.samplesPerBlock, 2036);
    // 44100 code bytes a second plus 14 header bytes for each of 22 blocks.
    EXPECT_EQ(dest.wfx.nAvgBytesPerSec, 44408u);
    EXPECT_EQ(dest.wfx.wBitsPerSample, 4);
    EXPECT_EQ(dest.wfx.cbSize, 32);
    EXPECT_TRUE(IsMSADPCMFormat(&dest.wfx));
}

TEST(MsAdpcmSuggest, BlockSizeGrowsWithTheRateAboveEleven025Hz) {
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint16_t blockAlign, samplesPerBlock;
    } cases[] = {{1, 8000, 256, 500}, {1, 11025, 256, 500}, {1, 22050, 512, 1012}, {2, 22050, 1024, 1012},
                 {1, 44100, 1024, 2036}, {4, 48000, 4096, 2036}};
    for (const auto& c : cases) {
        const auto source = PcmFormat(c.channels <= 2 ? c.channels : 2, 16, c.rate);
        MSADPCMWaveFormat dest{};
        ASSERT_TRUE(ADPCMSuggestFormat(&source, &dest.wfx, sizeof dest, 16, c.channels, 0)) << c.rate;
        EXPECT_EQ(dest.wfx.nBlockAlign, c.blockAlign) << c.channels << " x " << c.rate;
        EXPECT_EQ(dest.samplesPerBlock, c.samplesPerBlock) << c.channels << " x " << c.rate;
        EXPECT_EQ(dest.wfx.nChannels, c.channels);
    }
}

TEST(MsAdpcmSuggest, ToPcmTakesTheRequestedWidthOrSixteenBits) {
    const auto source = MsFormat(2, 1024, 1012);
    WAVEFORMATEX dest{};
    ASSERT_TRUE(ADPCMSuggestFormat(&source.wfx, &dest, sizeof dest, 0, 0, 0));
    EXPECT_EQ(dest.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(dest.wBitsPerSample, 16);
    EXPECT_EQ(dest.nChannels, 2);
    EXPECT_EQ(dest.nSamplesPerSec, 22050u);
    EXPECT_EQ(dest.nBlockAlign, 4);
    EXPECT_EQ(dest.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(dest.cbSize, 0);
    ASSERT_TRUE(ADPCMSuggestFormat(&source.wfx, &dest, sizeof dest, 8, 1, 8000));
    EXPECT_EQ(dest.wBitsPerSample, 8);
    EXPECT_EQ(dest.nChannels, 1);
    EXPECT_EQ(dest.nSamplesPerSec, 8000u);
    EXPECT_EQ(dest.nAvgBytesPerSec, 8000u);
}

TEST(MsAdpcmSuggest, RefusesWhatItCannotDescribeAndLeavesTheDestinationAlone) {
    MSADPCMWaveFormat dest{};
    std::memset(&dest, 0x5A, sizeof dest);
    const MSADPCMWaveFormat untouched = dest;
    const auto pcm = PcmFormat(2, 16, 44100);
    const auto ms = MsFormat(1, 256, 500);
    auto other = PcmFormat(1, 16);
    other.wFormatTag = 0x11;
    EXPECT_FALSE(ADPCMSuggestFormat(&other, &dest.wfx, sizeof dest, 16, 0, 0));
    EXPECT_FALSE(ADPCMSuggestFormat(&pcm, &dest.wfx, sizeof dest - 1, 16, 0, 0));  // no room for the pairs
    EXPECT_FALSE(ADPCMSuggestFormat(&pcm, &dest.wfx, sizeof dest, 16, 5, 0));      // five channels
    EXPECT_FALSE(ADPCMSuggestFormat(&pcm, &dest.wfx, sizeof dest, 16, 0, 40000000));  // blocks beyond 16 bits
    EXPECT_FALSE(ADPCMSuggestFormat(&ms.wfx, &dest.wfx, sizeof dest, 24, 0, 0));
    EXPECT_FALSE(ADPCMSuggestFormat(&ms.wfx, &dest.wfx, 17, 16, 0, 0));
    EXPECT_FALSE(ADPCMSuggestFormat(nullptr, &dest.wfx, sizeof dest, 16, 0, 0));
    EXPECT_EQ(std::memcmp(&dest, &untouched, sizeof dest), 0);
}

// ---- decoding ----

TEST(MsAdpcmDecode, ATwoSampleBlockIsExactlyItsTwoHeaderFrames) {
    const auto f = MsFormat(2, 14, 2);
    const auto block = Block({{0, 16, 100, 50}, {1, 20, -7, 3000}}, {});
    EXPECT_EQ(Decode(f, block), (std::vector<int>{50, 3000, 100, -7}));
    // Two blocks: the frames of each follow one another.
    const auto second = Block({{2, 16, 1, 2}, {6, 16, 3, 4}}, {});
    EXPECT_EQ(Decode(f, Concat(block, second)), (std::vector<int>{50, 3000, 100, -7, 2, 4, 1, 3}));
}

TEST(MsAdpcmDecode, CodesFollowThePredictionAndTheAdaptedDelta) {
    // Pair 0 (256, 0) predicts sample 1. Code 7: 100 + 7*16 = 212, delta
    // 614*16/256 = 38; code 8 (-8): 212 - 8*38 = -92, delta 768*38/256 = 114;
    // code 0: -92, delta 230*114/256 = 102; code 15 (-1): -92 - 102 = -194.
    const auto f = MsFormat(1, 9, 6);
    EXPECT_EQ(Decode(f, Block({{0, 16, 100, 50}}, {0x78, 0x0F})), (std::vector<int>{50, 100, 212, -92, -92, -194}));
}

TEST(MsAdpcmDecode, ThePredictionIsShiftedNotDivided) {
    // Pair 3 (192, 64) on sample 1 = -1, sample 2 = 0: -192 >> 8 is -1 (a
    // division would give 0). Pair 5 (460, -208): (-460*3 - 208*0)>>8 = -6.
    const auto f3 = MsFormat(1, 8, 4);
    EXPECT_EQ(Decode(f3, Block({{3, 16, -1, 0}}, {0x00})), (std::vector<int>{0, -1, -1, -1}));
    const auto f5 = MsFormat(1, 8, 3);
    EXPECT_EQ(Decode(f5, Block({{5, 16, -3, 0}}, {0x00})), (std::vector<int>{0, -3, -6}));
}

TEST(MsAdpcmDecode, TheDeltaNeverFallsBelowSixteen) {
    // Delta 16, code 0 repeatedly: 230*16/256 = 14 is raised to 16, so code 1
    // afterwards still adds 16.
    const auto f = MsFormat(1, 9, 6);
    EXPECT_EQ(Decode(f, Block({{2, 16, 0, 0}}, {0x00, 0x01})), (std::vector<int>{0, 0, 0, 0, 0, 16}));
}

TEST(MsAdpcmDecode, SamplesAreClampedToSixteenBits) {
    const auto f = MsFormat(1, 8, 4);
    EXPECT_EQ(Decode(f, Block({{0, 2000, 32000, 0}}, {0x78})), (std::vector<int>{0, 32000, 32767, 32767 - 8 * 4796}));
}

TEST(MsAdpcmDecode, StereoChannelsClipEachOnTheirOwnAndRecoverInBothWidths) {
    // Left 32000 + 7*2000 clips high while right -32000 - 7*2000 clips low;
    // both deltas become 614*2000/256 = 4796, and the next codes bring them
    // back: 32767 - 8*4796 = -5601 and -32768 + 7*4796 = 804.
    const auto f = MsFormat(2, 16, 4);
    const auto block = Block({{0, 2000, 32000, 0}, {0, 2000, -32000, 0}}, {0x79, 0x87});
    EXPECT_EQ(Decode(f, block), (std::vector<int>{0, 0, 32000, -32000, 32767, -32768, -5601, 804}));
    // The same through 8 bits: each sample / 256 toward zero, plus 128.
    EXPECT_EQ(Decode(f, block, 1 << 16, 8), (std::vector<int>{128, 128, 253, 3, 255, 0, 107, 131}));
}

TEST(MsAdpcmDecode, AnEverGrowingDeltaIsCappedAndKeepsTheSignOfItsCodes) {
    // Code 8 raises the delta threefold each time: without a cap its product
    // leaves 32 bits within a few dozen codes and the samples turn around.
    constexpr uint16_t kCodes = 4000;
    auto f = MsFormat(1, uint16_t(7 + kCodes / 2), kCodes + 2);
    const auto down = Decode(f, Block({{2, 16, 0, 0}}, std::vector<uint8_t>(kCodes / 2, 0x88)));
    ASSERT_EQ(down.size(), kCodes + 2u);
    for (size_t i = 10; i < down.size(); ++i) ASSERT_EQ(down[i], -32768) << i;
    const auto up = Decode(f, Block({{2, 16, 0, 0}}, std::vector<uint8_t>(kCodes / 2, 0x77)));
    for (size_t i = 12; i < up.size(); ++i) ASSERT_EQ(up[i], 32767) << i;
}

TEST(MsAdpcmDecode, StereoCodesAlternateHighLeftLowRight) {
    const auto f = MsFormat(2, 15, 3);
    // Left: pair 0, code 1 adds 16; right: pair 2 (silence), code 15 gives -20.
    EXPECT_EQ(Decode(f, Block({{0, 16, 10, 0}, {2, 20, 5, 5}}, {0x1F})), (std::vector<int>{0, 5, 10, 5, 26, -20}));
}

TEST(MsAdpcmDecode, FourChannelsTakeTheirCodesInTurn) {
    const auto f = MsFormat(4, 28 + 2, 3);
    const auto block = Block({{2, 16, 0, 0}, {2, 16, 0, 0}, {2, 16, 0, 0}, {2, 16, 0, 0}}, {0x12, 0x34});
    EXPECT_EQ(Decode(f, block), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 16, 32, 48, 64}));
}

TEST(MsAdpcmDecode, EightBitOutputTruncatesTowardZero) {
    const auto f = MsFormat(1, 7, 2);
    EXPECT_EQ(Decode(f, Block({{0, 16, -256, -1}}, {}), 1 << 16, 8), (std::vector<int>{128, 127}));
    // The same block through the 16-bit path and the PCM conversion agrees.
    const auto block = Block({{1, 300, 1234, -999}}, {0x7A, 0x31, 0xF0, 0x88, 0x5C});
    const auto g = MsFormat(1, uint16_t(block.size()), 12);
    const auto wide = Decode(g, block);
    const auto narrow = Decode(g, block, 1 << 16, 8);
    ASSERT_EQ(wide.size(), 12u);
    ASSERT_EQ(narrow.size(), 12u);
    for (size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(narrow[i], wide[i] / 256 + 128) << i;
}

TEST(MsAdpcmDecode, ADamagedBlockDecodesAsSilenceOfItsLength) {
    // A bad predictor index made the whole call return 0: the converter then
    // sent the compressed bytes on as PCM, full-scale noise.
    const auto f = MsFormat(1, 8, 4);
    const auto good = Block({{0, 16, 1, 2}}, {0x11});
    const auto bad = Block({{7, 16, 1, 2}}, {0x11});
    const auto other = Block({{1, 20, 300, -300}}, {0x7F});
    ASSERT_EQ(Decode(f, good).size(), 4u);
    const auto goodAlone = Decode(f, good);
    const auto otherAlone = Decode(f, other);
    std::vector<int> expected = goodAlone;
    expected.insert(expected.end(), {0, 0, 0, 0});
    expected.insert(expected.end(), otherAlone.begin(), otherAlone.end());
    EXPECT_EQ(Decode(f, Concat(Concat(good, bad), other)), expected);
    EXPECT_EQ(Decode(f, bad), (std::vector<int>{0, 0, 0, 0}));
    auto three = MsFormat(1, 8, 4);
    three.numCoef = 3;  // a custom set of three pairs: index 3 is out of range
    EXPECT_EQ(Decode(three, Block({{3, 16, 1, 2}}, {0x11})), (std::vector<int>{0, 0, 0, 0}));
    const auto inRange = Decode(three, Block({{2, 16, 1, 2}}, {0x11}));
    ASSERT_EQ(inRange.size(), 4u);
    EXPECT_EQ(inRange[0], 2);  // sample 2, then sample 1, as the header holds them
    EXPECT_EQ(inRange[1], 1);
}

TEST(MsAdpcmDecode, ADamagedStereoBlockSilencesBothChannelsAndEightBitIsTheZeroLine) {
    const auto f = MsFormat(2, 16, 6);
    // Only the right channel's predictor is out of range: the block is lost whole.
    const auto bad = Block({{0, 16, 1, 2}, {200, 16, 1, 2}}, {0x11, 0x22});
    // 16 bytes hold the two header frames and two code frames: 4 frames of 2 samples.
    EXPECT_EQ(Decode(f, bad), std::vector<int>(8, 0));
    auto pcm8 = PcmFormat(2, 8, 22050);
    std::vector<uint8_t> out(64, 0xEE);
    ASSERT_EQ(DecodeMSADPCM(&f.wfx, &pcm8, bad.data(), uint32_t(bad.size()), out.data(), uint32_t(out.size())), 8u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), std::vector<uint8_t>(8, 128));
    EXPECT_EQ(out[8], 0xEE);
}

TEST(MsAdpcmDecode, ABlockCutShortYieldsTheFramesItsBytesHold) {
    const auto f = MsFormat(1, 12, 12);
    const auto whole = Block({{0, 16, 5, 6}}, {0x11, 0x22, 0x33, 0x44, 0x55});
    const auto full = Decode(f, Concat(whole, whole));
    ASSERT_EQ(full.size(), 24u);
    auto cut = Concat(whole, whole);
    cut.resize(12 + 9);  // the second block's header and two code bytes
    const auto partial = Decode(f, cut);
    ASSERT_EQ(partial.size(), 12u + 6u);
    EXPECT_EQ(std::vector<int>(partial.begin(), partial.end()), std::vector<int>(full.begin(), full.begin() + 18));
    cut.resize(12 + 6);  // not even a header
    EXPECT_EQ(Decode(f, cut).size(), 12u);
}

TEST(MsAdpcmDecode, SamplesPerBlockBeyondTheBlockStopAtItsEnd) {
    // The header claims 500 samples in 9-byte blocks: each block gives the
    // six frames it holds, and the next block starts at its own header.
    // Pair 2 predicts silence, so each code 1 gives one delta, 16.
    const auto f = MsFormat(1, 9, 500);
    const auto a = Block({{2, 16, 1, 2}}, {0x11, 0x11});
    const auto b = Block({{2, 16, 7, 8}}, {0x00, 0x00});
    EXPECT_EQ(Decode(f, Concat(a, b)), (std::vector<int>{2, 1, 16, 16, 16, 16, 8, 7, 0, 0, 0, 0}));
}

TEST(MsAdpcmDecode, AnOddCodeCountUsesOnlyTheHighNibbleOfTheLastByte) {
    const auto f = MsFormat(1, 9, 5);  // three codes in two bytes
    const auto block = Block({{2, 16, 0, 0}}, {0x12, 0x3F});
    EXPECT_EQ(Decode(f, Concat(block, block)), (std::vector<int>{0, 0, 16, 32, 48, 0, 0, 16, 32, 48}));
}

TEST(MsAdpcmDecode, ImpossibleHeadersDecodeNothing) {
    const auto block = Block({{0, 16, 1, 2}}, {0x11, 0x11});
    auto zeroAlign = MsFormat(1, 0, 6);
    auto tinyAlign = MsFormat(2, 13, 2);  // less than the header of two channels
    auto noChannels = MsFormat(1, 9, 6);
    noChannels.wfx.nChannels = 0;
    auto fiveChannels = MsFormat(5, 40, 2);
    auto noPairs = MsFormat(1, 9, 6);
    noPairs.numCoef = 0;
    auto pairsBeyondExtra = MsFormat(1, 9, 6);
    pairsBeyondExtra.numCoef = 8;  // 8 pairs need 36 extra bytes, 32 are there
    auto notMs = MsFormat(1, 9, 6);
    notMs.wfx.wFormatTag = 0x11;
    for (const auto* f : {&zeroAlign, &tinyAlign, &noChannels, &fiveChannels, &noPairs, &pairsBeyondExtra, &notMs}) {
        const auto dest = PcmFormat(f->wfx.nChannels ? f->wfx.nChannels : 1, 16);
        std::vector<uint8_t> out(256, 0xCD);
        EXPECT_EQ(DecodeMSADPCM(&f->wfx, &dest, block.data(), uint32_t(block.size()), out.data(), 256), 0u);
        EXPECT_EQ(out, std::vector<uint8_t>(256, 0xCD));
        EXPECT_EQ(MSADPCMDecodedSize(&f->wfx, &dest, 4096), 0u);
    }
    const auto f = MsFormat(1, 9, 6);
    const auto stereo = PcmFormat(2, 16);
    const auto wide = PcmFormat(1, 24);
    std::vector<uint8_t> out(256);
    EXPECT_EQ(DecodeMSADPCM(&f.wfx, &stereo, block.data(), uint32_t(block.size()), out.data(), 256), 0u);
    EXPECT_EQ(DecodeMSADPCM(&f.wfx, &wide, block.data(), uint32_t(block.size()), out.data(), 256), 0u);
}

TEST(MsAdpcmDecode, NeverWritesPastTheOutputAndKeepsToWholeFrames) {
    const auto f = MsFormat(2, 16, 4);
    const auto block = Block({{0, 16, 1, 2}, {0, 16, 3, 4}}, {0x11, 0x22});
    const auto whole = Decode(f, Concat(block, block));
    ASSERT_EQ(whole.size(), 16u);
    for (uint32_t room = 0; room < 64; ++room) {
        const auto part = Decode(f, Concat(block, block), room);
        ASSERT_EQ(part.size(), std::min<size_t>(16, room / 4 * 2)) << room;
        EXPECT_EQ(part, std::vector<int>(whole.begin(), whole.begin() + part.size()));
    }
}

TEST(MsAdpcmDecode, DecodedSizeIsWhatTheDecoderWrites) {
    for (uint16_t channels : {1, 2, 3}) {
        const uint16_t align = uint16_t(7 * channels + 40);
        const uint16_t perBlock = uint16_t(2 + 80 / channels);
        const auto f = MsFormat(channels, align, perBlock);
        std::vector<ChannelHeader> headers(channels, ChannelHeader{1, 100, 10, 20});
        const auto block = Block(headers, std::vector<uint8_t>(40, 0x3C));
        std::vector<uint8_t> data;
        for (int i = 0; i < 5; ++i) data = Concat(data, block);
        for (uint32_t bytes : {0u, 7u * channels, uint32_t(align), uint32_t(align) * 3 + 9, uint32_t(data.size())}) {
            for (uint16_t bits : {8, 16}) {
                const auto dest = PcmFormat(channels, bits);
                const uint32_t expected = MSADPCMDecodedSize(&f.wfx, &dest, bytes);
                std::vector<uint8_t> out(expected + 16);
                EXPECT_EQ(DecodeMSADPCM(&f.wfx, &dest, data.data(), bytes, out.data(), uint32_t(out.size())), expected)
                    << channels << " channels, " << bytes << " bytes, " << bits << " bits";
            }
        }
    }
}

TEST(MsAdpcmDecode, WholeBlockChunksDecodeLikeOneCall) {
    const auto f = MsFormat(2, 32, 20);
    std::vector<uint8_t> data;
    uint8_t code = 0x13;
    for (int b = 0; b < 12; ++b) {
        std::vector<uint8_t> codes(18);
        for (auto& c : codes) c = code = uint8_t(code * 37 + 11);
        data = Concat(data, Block({{uint8_t(b % 7), int16_t(16 + b), int16_t(b * 100), 0}, {uint8_t((b + 3) % 7), 40, -5, 9}}, codes));
    }
    const auto whole = Decode(f, data);
    ASSERT_EQ(whole.size(), 12u * 20 * 2);
    std::vector<int> pieces;
    for (size_t at = 0; at < data.size(); at += 96) {
        const std::vector<uint8_t> chunk(data.begin() + at, data.begin() + std::min(data.size(), at + 96));
        const auto part = Decode(f, chunk);
        pieces.insert(pieces.end(), part.begin(), part.end());
    }
    EXPECT_EQ(pieces, whole);
}

}  // namespace
