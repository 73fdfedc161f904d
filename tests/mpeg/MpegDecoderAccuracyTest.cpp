// Our decoder (mpegdec/MpegDecoder.h) against the converter's 16-bit decoding
// of the same files, sample for sample.
//
// Layer III files from the LAME encoder start with an Info frame that holds
// no audio, and the converter trims them gaplessly: it drops the encoder
// delay plus 529 samples (the decoder's own delay, as LAME's tag counts it)
// at the start and the padding less 529 at the end. The plain decoder does
// no trimming, so this harness skips the Info frame and shifts by the
// delay + 529, both read from the tag: LAME writes the delay and the padding
// as two 12-bit numbers 141 bytes after the "Info" (or "Xing") mark. Layer II
// files carry no tag and are compared as they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "MpegFixtures.h"
#include "MpegStreamWriter.h"
#include "mpegdec/MpegDecoder.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using mpegaudio::DecodeResult;

struct Decoded {
    std::vector<int16_t> pcm;
    int channels = 0;
    int delay = 0, padding = 0;  // from the LAME tag; 0 without one
    int failures = 0;
    size_t skipped = 0;  // bytes passed over where no frame stood
    mpegaudio::DecoderCoverage coverage;
};

Decoded DecodeFile(const std::vector<uint8_t>& file, mpegaudio::SynthesisPath path = mpegaudio::FastestSynthesisPath()) {
    Decoded out;
    size_t pos = 0;
    if (file.size() > 10 && std::memcmp(file.data(), "ID3", 3) == 0)
        pos = 10 + (size_t(file[6] & 127) << 21 | size_t(file[7] & 127) << 14 | size_t(file[8] & 127) << 7 | size_t(file[9] & 127));
    mpegaudio::MpegDecoder decoder;
    decoder.SetSynthesisPath(path);
    std::vector<int16_t> pcm(mpegaudio::kMaxFrameSamples * 2);
    bool first = true;
    while (pos + 4 <= file.size()) {
        mpegaudio::FrameHeader h;
        const mpegaudio::HeaderResult parsed = mpegaudio::ParseHeader(&file[pos], file.size() - pos, h);
        if (parsed != mpegaudio::HeaderResult::ok && parsed != mpegaudio::HeaderResult::freeFormat) {
            ++pos;
            ++out.skipped;
            continue;
        }
        if (first) {
            first = false;
            const std::string head(reinterpret_cast<const char*>(&file[pos]), std::min<size_t>(size_t(h.frameBytes), file.size() - pos));
            size_t mark = head.find("Info");
            if (mark == std::string::npos) mark = head.find("Xing");
            if (mark != std::string::npos && mark + 144 <= head.size()) {
                const uint8_t* b = &file[pos + mark + 141];
                out.delay = b[0] << 4 | b[1] >> 4;
                out.padding = (b[1] & 15) << 8 | b[2];
                pos += size_t(h.frameBytes);
                continue;
            }
        }
        int samples = 0;
        const DecodeResult result = decoder.DecodeFrame(&file[pos], file.size() - pos, pcm.data(), samples);
        if (result == DecodeResult::truncated) break;
        if (result != DecodeResult::ok) ++out.failures;
        if (result == DecodeResult::badHeader) {  // free format whose length was not found
            ++pos;
            ++out.skipped;
            continue;
        }
        out.channels = h.channels;
        out.pcm.insert(out.pcm.end(), pcm.begin(), pcm.begin() + samples * h.channels);
        pos += size_t(decoder.LastHeader().frameBytes);
    }
    out.coverage = decoder.Coverage();
    return out;
}

struct AccuracyCase {
    const char* fixture;
    int channels;
    const char* covers;  // what the file brings to the set
};

// The recipes are in MpegFixtures.cpp. Together the layer III files reach
// every Huffman table (1-3, 5-13, 15-31) and both count1 tables, all four
// block types (long, start, short, stop), plain stereo, joint stereo with
// and without mid/side, and mono; the checks below say so.
const AccuracyCase kCases[] = {
    {"cbr44s.mp3", 2, "MPEG-1 44.1 kHz CBR, joint stereo"},
    {"vbr44s.mp3", 2, "MPEG-1 44.1 kHz VBR, joint stereo"},
    {"vbr48m.mp3", 1, "MPEG-1 48 kHz VBR mono"},
    {"cbr32s.mp3", 2, "MPEG-1 32 kHz"},
    {"ls44.mp3", 2, "MPEG-1 plain stereo at 160 kbit/s"},
    {"lsf22s.mp3", 2, "MPEG-2 22.05 kHz, mid/side"},
    {"s24.mp3", 2, "MPEG-2 24 kHz"},
    {"m16.mp3", 1, "MPEG-2 16 kHz mono"},
    {"s12.mp3", 2, "MPEG-2.5 12 kHz"},
    {"s11.mp3", 2, "MPEG-2.5 11.025 kHz"},
    {"m8.mp3", 1, "MPEG-2.5 8 kHz mono"},
    {"s48.mp2", 2, "layer II 48 kHz, 27-subband table"},
    {"s44.mp2", 2, "layer II 44.1 kHz at 96 kbit/s per channel, 30-subband table"},
    {"s32.mp2", 2, "layer II 32 kHz, 27-subband table"},
    {"m44.mp2", 1, "layer II mono 96 kbit/s, 27-subband table"},
    {"s48low.mp2", 2, "layer II 48 kHz at 32 kbit/s per channel, 8-subband table"},
    {"s22.mp2", 2, "layer II MPEG-2, its own table"},
};

// Sample for sample: every sample within 2, the RMS difference at most 1.
void ExpectClose(const Decoded& ours, const std::vector<int16_t>& reference, int channels, const char* name) {
    const size_t shift = ours.delay ? size_t(ours.delay + 529) * size_t(channels) : 0;
    const size_t trimmed = ours.delay ? size_t(ours.delay + ours.padding) * size_t(channels) : 0;
    ASSERT_EQ(ours.channels, channels);
    EXPECT_EQ(ours.failures, 0);
    ASSERT_GT(reference.size(), 0u);
    ASSERT_EQ(ours.pcm.size(), reference.size() + trimmed);
    int worst = 0;
    size_t worstAt = 0;
    double squares = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        const int d = std::abs(int(ours.pcm[shift + i]) - int(reference[i]));
        squares += double(d) * d;
        if (d > worst) worst = d, worstAt = i;
    }
    const double rms = std::sqrt(squares / double(reference.size()));
    std::printf("%-12s max %d rms %.3f\n", name, worst, rms);
    EXPECT_LE(worst, 2) << "at sample " << worstAt / size_t(channels);
    EXPECT_LE(rms, 1.0);
}

class MpegDecoderAccuracy : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(MpegDecoderAccuracy, MatchesTheConverterSampleForSample) {
    const AccuracyCase& c = GetParam();
    SCOPED_TRACE(c.covers);
    const std::string path = Fixture(c.fixture);
    ExpectClose(DecodeFile(testing_support::ReadFileBytes(path)), FfmpegDecode(path), c.channels, c.fixture);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MpegDecoderAccuracy, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.fixture;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
});

TEST(MpegDecoderCoverage, TheLayer3FixturesReachEveryTableBlockTypeAndStereoMode) {
    mpegaudio::DecoderCoverage all;
    for (const AccuracyCase& c : kCases) {
        if (std::string(c.fixture).find(".mp3") == std::string::npos) continue;
        const Decoded ours = DecodeFile(testing_support::ReadFileBytes(Fixture(c.fixture)));
        all.huffmanTables |= ours.coverage.huffmanTables;
        all.count1Tables |= ours.coverage.count1Tables;
        all.blockTypes |= ours.coverage.blockTypes;
        all.stereo |= ours.coverage.stereo;
    }
    EXPECT_EQ(all.huffmanTables, 0xFFFFBFEEu);  // all but 0 (no code book), 4 and 14 (not used)
    EXPECT_EQ(all.count1Tables, 3u);            // A and B
    EXPECT_EQ(all.blockTypes & 15u, 15u);       // long, start, short, stop
    EXPECT_EQ(all.stereo & 0x2Bu, 0x2Bu);       // stereo, joint stereo, mono, mid/side
}

struct StreamCase {
    const char* name;
    StreamRecipe recipe;
    int channels;
};

// Streams no encoder of the converter makes (MpegStreamWriter.h): layer I,
// and layer III spectra with random scalefactors in every block type, mixed
// too, at all nine sample rates (so that every scalefactor band edge
// matters), plain stereo, mid/side and intensity stereo. Recipe fields: layer, version, rate
// index, mode, mode extension, random extension, seed, frames.
// A regression, once mixed blocks were written: a short block after a mixed
// one kept the tail of the mixed block's long transform (the converter drops
// it), and 8 kHz mixed blocks ended their long bands at line 36, not 72.
const StreamCase kStreams[] = {
    {"l1_joint48.mp1", {1, 1, 1, 1, 0, true, 1, 40}, 2},
    {"l1_mono24.mp1", {1, 2, 1, 3, 0, false, 2, 40}, 1},
    {"l1_stereo8.mp1", {1, 25, 2, 0, 0, false, 3, 40}, 2},
    {"l3_mono44.mp3", {3, 1, 0, 3, 0, false, 4, 40}, 1},
    {"l3_mono48.mp3", {3, 1, 1, 3, 0, false, 5, 40}, 1},
    {"l3_mono32.mp3", {3, 1, 2, 3, 0, false, 6, 40}, 1},
    // A regression: the 24 kHz long band edge between bands 17 and 18 was
    // 332 instead of 330, unseen by the encoder-made 24 kHz file.
    {"l3_mono24.mp3", {3, 2, 1, 3, 0, false, 7, 40}, 1},
    {"l3_mono22.mp3", {3, 2, 0, 3, 0, false, 8, 40}, 1},
    {"l3_mono16.mp3", {3, 2, 2, 3, 0, false, 9, 40}, 1},
    {"l3_mono11.mp3", {3, 25, 0, 3, 0, false, 10, 40}, 1},
    {"l3_mono12.mp3", {3, 25, 1, 3, 0, false, 11, 40}, 1},
    {"l3_mono8.mp3", {3, 25, 2, 3, 0, false, 12, 40}, 1},
    {"l3_stereo48.mp3", {3, 1, 1, 0, 0, false, 13, 40}, 2},
    {"l3_midside48.mp3", {3, 1, 1, 1, 2, false, 14, 40}, 2},
    {"l3_midside24.mp3", {3, 2, 1, 1, 2, false, 15, 40}, 2},
    // A regression: intensity positions above 7 (a 4-bit scalefactor) read
    // past the ratio table instead of counting as no position.
    {"l3_intensity48.mp3", {3, 1, 1, 1, 1, false, 16, 40}, 2},
    {"l3_joint48.mp3", {3, 1, 1, 1, 0, true, 17, 40}, 2},
    // A regression: MPEG-2 and 2.5 intensity took the largest value of a
    // scalefactor's width as no position and 16..31 as positions, and the
    // top band's position as 0 instead of the band below's.
    {"l3_intensity22.mp3", {3, 2, 0, 1, 1, false, 18, 40}, 2},
    {"l3_intensity24.mp3", {3, 2, 1, 1, 3, false, 19, 40}, 2},
    {"l3_intensity16.mp3", {3, 2, 2, 1, 1, false, 20, 40}, 2},
    {"l3_intensity11.mp3", {3, 25, 0, 1, 3, false, 21, 40}, 2},
    {"l3_intensity12.mp3", {3, 25, 1, 1, 1, false, 22, 40}, 2},
    {"l3_intensity8.mp3", {3, 25, 2, 1, 1, false, 23, 40}, 2},
    {"l3_joint22.mp3", {3, 2, 0, 1, 0, true, 24, 40}, 2},
    // Free format (the last field: its rate, in kbit/s), padded but at 48
    // and 8 kHz; the converter decodes no free format, so it decodes the same
    // frames at the highest indexed rate instead (WriteIndexedTwin).
    {"l1_free44.mp1", {1, 1, 0, 1, 0, true, 25, 40, 400}, 2},
    {"l1_free24.mp1", {1, 2, 1, 3, 0, false, 26, 40, 144}, 1},
    {"l3_free44.mp3", {3, 1, 0, 1, 2, false, 27, 40, 256}, 2},
    {"l3_free48.mp3", {3, 1, 1, 3, 0, false, 28, 40, 200}, 1},
    {"l3_free22.mp3", {3, 2, 0, 3, 0, false, 29, 40, 100}, 1},
    {"l3_free8.mp3", {3, 25, 2, 1, 1, false, 30, 40, 100}, 2},
};

class MpegDecoderStreams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(MpegDecoderStreams, MatchesTheConverterSampleForSample) {
    const StreamCase& c = GetParam();
    const std::string path = ScratchPath(c.name), raw = path + ".ffmpeg.raw";
    const std::vector<uint8_t> stream = WriteStream(c.recipe);
    testing_support::WriteFileBytes(path, c.recipe.freeKbps ? WriteIndexedTwin(c.recipe) : stream);
    ASSERT_TRUE(RunFfmpeg("-f mp3 -i \"" + path + "\" -f s16le -c:a pcm_s16le \"" + raw + "\""));
    const Decoded ours = DecodeFile(stream);
    ExpectClose(ours, ToSamples(testing_support::ReadFileBytes(raw)), c.channels, c.name);
    EXPECT_EQ(ours.skipped, 0u) << "every frame ends where the next begins";
    if (c.recipe.layer == 3) {
        EXPECT_EQ(ours.coverage.blockTypes, 31u);  // long, start, short, stop and mixed
    }
}

INSTANTIATE_TEST_SUITE_P(Written, MpegDecoderStreams, ::testing::ValuesIn(kStreams), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
});

// A written stream and the converter's decoding of it.
std::vector<int16_t> ConverterDecodes(const StreamCase& c, const std::vector<uint8_t>& stream) {
    const std::string path = ScratchPath(c.name), raw = path + ".ffmpeg.raw";
    testing_support::WriteFileBytes(path, stream);
    EXPECT_TRUE(RunFfmpeg("-f mp3 -i \"" + path + "\" -f s16le -c:a pcm_s16le \"" + raw + "\""));
    return ToSamples(testing_support::ReadFileBytes(raw));
}

// Each vector path of the filter banks (the synthesis and layer III's
// inverse transform), not only the fastest one this processor has: an
// encoder-made file and a written stream with every block type.
const mpegaudio::SynthesisPath kPaths[] = {mpegaudio::SynthesisPath::plain, mpegaudio::SynthesisPath::sse2, mpegaudio::SynthesisPath::avx2};
const char* const kPathNames[] = {"plain", "sse2", "avx2"};

class MpegDecoderPaths : public ::testing::TestWithParam<mpegaudio::SynthesisPath> {};

TEST_P(MpegDecoderPaths, EveryVectorPathMatchesTheConverter) {
    if (!mpegaudio::SynthesisPathAvailable(GetParam())) GTEST_SKIP() << "this processor lacks the path";
    const std::string path = Fixture("cbr44s.mp3");
    ExpectClose(DecodeFile(testing_support::ReadFileBytes(path), GetParam()), FfmpegDecode(path), 2, "cbr44s.mp3");
    const StreamCase& written = *std::find_if(std::begin(kStreams), std::end(kStreams),
                                              [](const StreamCase& c) { return std::string(c.name) == "l3_joint48.mp3"; });
    const std::vector<uint8_t> stream = WriteStream(written.recipe);
    ExpectClose(DecodeFile(stream, GetParam()), ConverterDecodes(written, stream), written.channels, written.name);
}

// Every path gives the plain path's samples to the last bit: on an
// encoder-made file (the AVX2 path's fused multiply-adds rounded some
// samples the other way), and on frames far past full scale, whose sums of
// 2^31 and more the vector paths converted to 0x80000000 and packed to
// -32768 where the plain path clips to +32767; and on a layer II file.
TEST_P(MpegDecoderPaths, EveryPathGivesThePlainPathsSamples) {
    if (!mpegaudio::SynthesisPathAvailable(GetParam())) GTEST_SKIP() << "this processor lacks the path";
    const std::vector<uint8_t> loud = WriteClippingFrames(3);
    const std::vector<int16_t> clipped = DecodeFile(loud, mpegaudio::SynthesisPath::plain).pcm;
    ASSERT_NE(std::count(clipped.begin(), clipped.end(), int16_t(32767)), 0);
    ASSERT_NE(std::count(clipped.begin(), clipped.end(), int16_t(-32768)), 0);
    EXPECT_EQ(DecodeFile(loud, GetParam()).pcm, clipped);
    for (const char* name : {"cbr44s.mp3", "s48.mp2"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file = testing_support::ReadFileBytes(Fixture(name));
        EXPECT_EQ(DecodeFile(file, GetParam()).pcm, DecodeFile(file, mpegaudio::SynthesisPath::plain).pcm);
    }
}

// The vector paths take four or eight slots at a time and two at a time
// within those: runs of 1 to 9 slots and a layer II frame's 36, one after
// another through one history, both channels (one written interleaved),
// give the plain path's samples, some of them clipped.
TEST_P(MpegDecoderPaths, EveryPathGivesThePlainPathsSamplesForAnyRunOfSlots) {
    if (!mpegaudio::SynthesisPathAvailable(GetParam())) GTEST_SKIP() << "this processor lacks the path";
    std::vector<float> subbands(32 * 36);
    uint32_t seed = 12345;
    size_t clipped = 0;
    mpegaudio::Synthesis plain, vector;
    plain.SetPath(mpegaudio::SynthesisPath::plain);
    vector.SetPath(GetParam());
    for (int slots : {1, 2, 3, 4, 5, 6, 7, 8, 9, 36, 3}) {
        for (int channel = 0; channel < 2; ++channel) {
            SCOPED_TRACE(testing::Message() << slots << " slots, channel " << channel);
            // Within 1/8 of full scale each, which some sums exceed.
            for (float& x : subbands) x = float(int32_t((seed = seed * 1664525u + 1013904223u) >> 8) - (1 << 23)) / float(1 << 26);
            const int stride = channel + 1;
            std::vector<int16_t> expected(size_t(32 * slots * stride)), actual(expected.size());
            plain.Run(channel, subbands.data(), 36, slots, expected.data(), stride);
            vector.Run(channel, subbands.data(), 36, slots, actual.data(), stride);
            EXPECT_EQ(actual, expected);
            clipped += size_t(std::count_if(expected.begin(), expected.end(), [](int16_t x) { return x == 32767 || x == -32768; }));
        }
    }
    EXPECT_GT(clipped, 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, MpegDecoderPaths, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(kPathNames[int(info.param)]); });

}  // namespace
}  // namespace mpeg_tests
