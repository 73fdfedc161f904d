#include <gtest/gtest.h>

#include "support/AudioFixtures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "media/codecs/MMADPCM.h"

namespace {

// The published IMA step and index tables, kept apart from the codec's own.
const int kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

using Decoder = uint32_t (*)(NibbleCodecState&, uint32_t, const void*, void*) noexcept;

std::vector<int> DecodeAll(Decoder decode, NibbleCodecState& state, const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(in.size() * 4 + 16, 0xCD);
    const uint32_t written = decode(state, uint32_t(in.size()), in.data(), out.data());
    for (size_t i = written; i < out.size(); ++i) EXPECT_EQ(out[i], 0xCD) << "written past the output at " << i;
    std::vector<int> samples;
    for (uint32_t i = 0; i + 1 < written; i += 2) samples.push_back(int16_t(out[i] | (out[i + 1] << 8)));
    return samples;
}

using testing_support::Words;

// One channel of family B decoded from the rule, for the layout tests.
struct ReferenceB {
    int index = 0, predictor = 0;
    int Step(int code) {
        int d = std::min(kImaSteps[index] * (2 * (code & 7) + 1) / 8, 32767);
        if (code & 8) d = -d;
        predictor = std::clamp(predictor + d, -32768, 32767);
        index = std::clamp(index + kIndexAdjust[code & 7], 0, 88);
        return predictor;
    }
};

std::vector<uint8_t> Pseudorandom(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}

// ---- tables ----

TEST(NibbleTables, FamilyBIsTheImaDifferenceTruncatedAndCappedAt32767) {
    for (int i = 0; i < 89; ++i)
        for (int c = 0; c < 8; ++c)
            ASSERT_EQ(DiffTableB[i][c], std::min(kImaSteps[i] * (2 * c + 1) / 8, 32767)) << i << "," << c;
    EXPECT_EQ(DiffTableB[88][7], 32767);
}

TEST(NibbleTables, FamilyAKeepsItsGivenRowsAndStaysWithinOneElsewhere) {
    const std::pair<int, std::array<uint16_t, 8>> rows[] = {
        {0, {0, 2, 4, 6, 8, 10, 12, 13}},
        {1, {1, 3, 5, 7, 9, 11, 13, 15}},
        {2, {1, 3, 5, 7, 10, 12, 14, 16}},
        {20, {6, 18, 31, 43, 56, 69, 81, 94}},
        {60, {284, 852, 1420, 1988, 2556, 3124, 3693, 4261}},
        {88, {4096, 12288, 20479, 28671, 36863, 45055, 53246, 61438}}};
    for (const auto& [i, row] : rows) EXPECT_EQ(DiffTableA[i], row) << "row " << i;
    for (int i = 0; i < 89; ++i) {
        for (int c = 0; c < 8; ++c) {
            const double exact = kImaSteps[i] * (2.0 * c + 1) / 8;
            ASSERT_LE(std::fabs(DiffTableA[i][c] - exact), 1.0) << i << "," << c;
        }
    }
}

// ---- the common step ----

TEST(NibbleStep, FamilyAWrapsAroundSixteenBits) {
    NibbleCodecState state{};
    state.channel[0] = {0, 88, 32000};
    const auto out = DecodeAll(DecodeTag3Mono, state, {0x0F});  // code 0 adds 4096
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], -29440);
    // The large entries act as negative numbers: +53246 is -12290.
    NibbleCodecState low{};
    low.channel[0] = {0, 88, 100};
    EXPECT_EQ(DecodeAll(DecodeTag3Mono, low, {0x60})[0], 100 - 12290);
}

TEST(NibbleStep, FamilyBSaturatesAtSixteenBits) {
    NibbleCodecState state{};
    state.channel[0] = {0, 88, 32000};
    const auto out = DecodeAll(DecodeAntexMono, state, {0x0F});
    EXPECT_EQ(out[0], 32767);
    NibbleCodecState down{};
    down.channel[0] = {0, 88, -32000};
    EXPECT_EQ(DecodeAll(DecodeAntexMono, down, {0x80})[0], -32768);
}

TEST(NibbleStep, TheIndexMovesByTheCodeAndStaysWithinTheTable) {
    NibbleCodecState state{};
    // Code 7 from index 0 adds 13 (row 0, column 7) and moves the index by 8;
    // code 4 then adds row 8's column 4, 16 * 9 / 8 = 18, and moves it to 10.
    EXPECT_EQ(DecodeAll(DecodeAntexMono, state, {0x74}), (std::vector<int>{13, 31}));
    EXPECT_EQ(state.channel[0].index, 10);
    EXPECT_EQ(state.channel[0].predictor, 31);
    EXPECT_EQ(state.channel[0].code, 4);
    NibbleCodecState top{};
    top.channel[0] = {0, 87, 0};
    DecodeAll(DecodeAntexMono, top, {0x77});
    EXPECT_EQ(top.channel[0].index, 88);
    NibbleCodecState bottom{};
    bottom.channel[0] = {0, 1, 0};
    DecodeAll(DecodeAntexMono, bottom, {0x33});
    EXPECT_EQ(bottom.channel[0].index, 0);
}

TEST(NibbleStep, ADamagedStateIndexIsKeptWithinTheTable) {
    NibbleCodecState damaged{};
    damaged.channel[0] = {0, 500, 0};
    NibbleCodecState top{};
    top.channel[0] = {0, 88, 0};
    const auto bytes = Pseudorandom(64, 3);
    EXPECT_EQ(DecodeAll(DecodeAntexMono, damaged, bytes), DecodeAll(DecodeAntexMono, top, bytes));
    NibbleCodecState negative{};
    negative.channel[0] = {0, -40, 0};
    NibbleCodecState zero{};
    EXPECT_EQ(DecodeAll(DecodeTag3Mono, negative, bytes), DecodeAll(DecodeTag3Mono, zero, bytes));
}

// ---- byte layouts ----

TEST(NibbleLayout, MonoTakesTheHighNibbleFirst) {
    NibbleCodecState state{};
    ReferenceB ref;
    const std::vector<int> expected = {ref.Step(0x5), ref.Step(0xA), ref.Step(0x3), ref.Step(0xC)};
    EXPECT_EQ(DecodeAll(DecodeAntexMono, state, {0x5A, 0x3C}), expected);
}

TEST(NibbleLayout, AntexStereoTakesBytesInSwappedPairsHighNibbleLeft) {
    NibbleCodecState state{};
    ReferenceB left, right;
    // 0x12, 0x34: the byte 0x34 comes first (left 3, right 4), then 0x12.
    std::vector<int> expected;
    for (int byte : {0x34, 0x12}) {
        expected.push_back(left.Step(byte >> 4));
        expected.push_back(right.Step(byte & 15));
    }
    EXPECT_EQ(DecodeAll(DecodeAntexStereo, state, {0x12, 0x34}), expected);
    EXPECT_EQ(state.channel[0].predictor, left.predictor);
    EXPECT_EQ(state.channel[1].predictor, right.predictor);
    EXPECT_EQ(state.channel[1].index, right.index);
}

TEST(NibbleLayout, AntexStereoLeavesALoneLastByteUndecoded) {
    NibbleCodecState a{}, b{};
    EXPECT_EQ(DecodeAll(DecodeAntexStereo, a, {0x12, 0x34, 0x77}), DecodeAll(DecodeAntexStereo, b, {0x12, 0x34}));
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(NibbleLayout, Tag3StereoTakesTheLowNibbleLeft) {
    // Each channel decodes like a mono stream of its own nibbles.
    const auto bytes = Pseudorandom(40, 9);
    std::vector<uint8_t> leftStream, rightStream;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        leftStream.push_back(uint8_t((bytes[i] & 15) << 4 | (bytes[i + 1] & 15)));
        rightStream.push_back(uint8_t((bytes[i] >> 4) << 4 | (bytes[i + 1] >> 4)));
    }
    NibbleCodecState s{}, l{}, r{};
    const auto both = DecodeAll(DecodeTag3Stereo, s, bytes);
    const auto left = DecodeAll(DecodeTag3Mono, l, leftStream);
    const auto right = DecodeAll(DecodeTag3Mono, r, rightStream);
    ASSERT_EQ(both.size(), 80u);
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(both[2 * i], left[i]) << i;
        EXPECT_EQ(both[2 * i + 1], right[i]) << i;
    }
    EXPECT_EQ(s.channel[0].predictor, l.channel[0].predictor);
    EXPECT_EQ(s.channel[1].predictor, r.channel[0].predictor);
}

// ---- state across calls ----

TEST(NibbleState, TwoHalvesDecodeLikeTheWholeStream) {
    const auto bytes = Pseudorandom(1000, 21);
    for (Decoder decode : {DecodeTag3Mono, DecodeTag3Stereo, DecodeAntexMono, DecodeAntexStereo}) {
        NibbleCodecState once{}, twice{};
        const auto whole = DecodeAll(decode, once, bytes);
        ASSERT_EQ(whole.size(), 2000u);
        auto first = DecodeAll(decode, twice, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 378));
        const auto second = DecodeAll(decode, twice, std::vector<uint8_t>(bytes.begin() + 378, bytes.end()));
        first.insert(first.end(), second.begin(), second.end());
        EXPECT_EQ(first, whole);
        EXPECT_EQ(std::memcmp(&once, &twice, sizeof once), 0);
    }
}

TEST(NibbleState, EachDecoderWritesFourBytesPerInputByte) {
    const auto bytes = Pseudorandom(33, 5);
    std::vector<uint8_t> out(200);
    for (Decoder decode : {DecodeTag3Mono, DecodeTag3Stereo, DecodeAntexMono}) {
        NibbleCodecState s{};
        EXPECT_EQ(decode(s, 33, bytes.data(), out.data()), 132u);
        EXPECT_EQ(decode(s, 0, bytes.data(), out.data()), 0u);
    }
}

// ---- encoders ----

std::vector<int> Tone(size_t n, int channels, double amplitude) {
    std::vector<int> s;
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            s.push_back(int(amplitude * std::sin(0.031 * double(i) * (c + 1) + c) + 0.3 * amplitude * std::sin(0.0021 * double(i))));
    return s;
}

using testing_support::SnrDb;

struct CodecPair {
    const char* name;
    Decoder encode, decode;
    int channels;
};
const CodecPair kPairs[] = {{"tag 3 mono", EncodeTag3Mono, DecodeTag3Mono, 1},
                            {"tag 3 stereo", EncodeTag3Stereo, DecodeTag3Stereo, 2},
                            {"Antex mono", EncodeAntexMono, DecodeAntexMono, 1},
                            {"Antex stereo", EncodeAntexStereo, DecodeAntexStereo, 2}};

std::vector<uint8_t> Encode(Decoder encode, NibbleCodecState& state, const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> out(pcm.size() / 4 + 8, 0xCD);
    const uint32_t written = encode(state, uint32_t(pcm.size()), pcm.data(), out.data());
    for (size_t i = written; i < out.size(); ++i) EXPECT_EQ(out[i], 0xCD) << "written past the output at " << i;
    out.resize(written);
    return out;
}

TEST(NibbleEncode, EveryEncoderRoundTripsThroughItsDecoder) {
    for (const auto& pair : kPairs) {
        const auto signal = Tone(8000, pair.channels, 12000);
        NibbleCodecState encoder{}, decoder{};
        const auto codes = Encode(pair.encode, encoder, Words(signal));
        ASSERT_EQ(codes.size(), signal.size() / 2) << pair.name;
        const auto decoded = DecodeAll(pair.decode, decoder, codes);
        ASSERT_EQ(decoded.size(), signal.size()) << pair.name;
        EXPECT_GT(SnrDb(signal, decoded), 20.0) << pair.name;
    }
}

TEST(NibbleEncode, TheFirstSampleGoesIntoTheHighNibble) {
    NibbleCodecState state{};
    // From a fresh state +100 takes every step (7, 3, 1): code 7. The
    // decoder then stands at 13, so -100 is a negative code 7: 15.
    const auto codes = Encode(EncodeAntexMono, state, Words({100, -100}));
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0], 0x7F);
}

TEST(NibbleEncode, TwoHalvesEncodeLikeOneCall) {
    for (const auto& pair : kPairs) {
        const auto pcm = Words(Tone(4000, pair.channels, 9000));
        NibbleCodecState once{}, twice{};
        const auto whole = Encode(pair.encode, once, pcm);
        auto first = Encode(pair.encode, twice, std::vector<uint8_t>(pcm.begin(), pcm.begin() + 1600));
        const auto second = Encode(pair.encode, twice, std::vector<uint8_t>(pcm.begin() + 1600, pcm.end()));
        first.insert(first.end(), second.begin(), second.end());
        EXPECT_EQ(first, whole) << pair.name;
    }
}

TEST(NibbleEncode, AntexStereoEncodesAnEvenNumberOfFrames) {
    NibbleCodecState state{};
    const auto pcm = Words(Tone(7, 2, 5000));  // seven frames: six are encoded
    EXPECT_EQ(Encode(EncodeAntexStereo, state, pcm).size(), 6u);
}

TEST(NibbleEncode, StereoChannelsStayApart) {
    // Left loud, right silent: the decoded right channel stays near zero.
    for (const auto& pair : kPairs) {
        if (pair.channels != 2) continue;
        std::vector<int> signal = Tone(2000, 2, 15000);
        for (size_t i = 1; i < signal.size(); i += 2) signal[i] = 0;
        NibbleCodecState encoder{}, decoder{};
        const auto decoded = DecodeAll(pair.decode, decoder, Encode(pair.encode, encoder, Words(signal)));
        int rightPeak = 0;
        for (size_t i = 1; i < decoded.size(); i += 2) rightPeak = std::max(rightPeak, std::abs(decoded[i]));
        EXPECT_LT(rightPeak, 16) << pair.name;
        std::vector<int> leftIn, leftOut;
        for (size_t i = 0; i < signal.size(); i += 2) leftIn.push_back(signal[i]), leftOut.push_back(decoded[i]);
        EXPECT_GT(SnrDb(leftIn, leftOut), 20.0) << pair.name;
    }
}

}  // namespace
