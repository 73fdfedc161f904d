// Microsoft ADPCM files made by a real encoder, ffmpeg, decoded here and
// compared with ffmpeg's own decoding of the same file and with the signal
// that went in.
#include <gtest/gtest.h>

#include "support/AudioFixtures.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "framework/Files.h"
#include "media/codecs/MMADPCM.h"

namespace {

using namespace testing_support;

std::vector<int> Samples(const std::vector<uint8_t>& bytes, size_t count) {
    std::vector<int> out(count / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = int16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

// Tones of a few hundred to a few thousand hertz with a slow swell and a
// little noise: what speech and music give an ADPCM encoder to do.
std::vector<uint8_t> MakeSignal(uint16_t channels, uint32_t rate, uint32_t frames) {
    std::vector<uint8_t> out;
    uint32_t noise = 99;
    const double pi = 3.14159265358979;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (uint16_t c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double swell = 0.6 + 0.4 * std::sin(2 * pi * 0.7 * t + c);
            const double v = swell * (9000 * std::sin(2 * pi * (220 + 110 * c) * t) +
                                      4000 * std::sin(2 * pi * 1250 * t + c) + 1500 * std::sin(2 * pi * 3100 * t)) +
                             double(int(noise >> 25) - 64);
            const auto sample = int16_t(std::lround(v));
            out.push_back(uint8_t(sample));
            out.push_back(uint8_t(uint16_t(sample) >> 8));
        }
    }
    return out;
}

struct Encoded {
    std::vector<uint8_t> format;  // the "fmt " chunk, at least a full wave format record
    std::vector<uint8_t> data;
    std::vector<int> ffmpegDecoded;
};

// Encodes `pcm` with ffmpeg and has it decode its own result.
void EncodeWithFfmpeg(uint16_t channels, uint32_t rate, const std::vector<uint8_t>& pcm, Encoded& out) {
    ASSERT_TRUE(wc::FileExists(FfmpegPath())) << FfmpegPath();
    TempDir dir("adpcm");
    WriteFileBytes(dir / "in.wav", MakePcmWave(channels, rate, 16, pcm));
    ASSERT_TRUE(RunFfmpeg("-i in.wav -c:a adpcm_ms ms.wav", dir.path()));
    ASSERT_TRUE(RunFfmpeg("-i ms.wav -c:a pcm_s16le -f wav back.wav", dir.path()));
    const auto encoded = ReadFileBytes(dir / "ms.wav");
    out.format = ChunkOf(encoded, "fmt ");
    out.data = ChunkOf(encoded, "data");
    ASSERT_GE(out.format.size(), 18u);
    const auto back = ChunkOf(ReadFileBytes(dir / "back.wav"), "data");
    out.ffmpegDecoded = Samples(back, back.size());
}

// Decodes as a chain would: chunks of whole blocks, output sized by the codec.
std::vector<int> DecodeInChunks(const WAVEFORMATEX* format, const std::vector<uint8_t>& data) {
    WAVEFORMATEX pcm{};
    EXPECT_TRUE(ADPCMSuggestFormat(format, &pcm, sizeof pcm, 16, 0, 0));
    const uint32_t chunk = std::max<uint32_t>(1, 4096 / format->nBlockAlign) * format->nBlockAlign;
    std::vector<uint8_t> out(MSADPCMDecodedSize(format, &pcm, chunk));
    std::vector<int> samples;
    for (size_t at = 0; at < data.size(); at += chunk) {
        const auto bytes = uint32_t(std::min<size_t>(chunk, data.size() - at));
        const uint32_t written = DecodeMSADPCM(format, &pcm, data.data() + at, bytes, out.data(), uint32_t(out.size()));
        EXPECT_GT(written, 0u);
        const auto part = Samples(out, written);
        samples.insert(samples.end(), part.begin(), part.end());
    }
    return samples;
}

using testing_support::SnrDb;

void CheckAgainstFfmpeg(uint16_t channels, uint32_t rate, uint32_t frames) {
    const auto pcm = MakeSignal(channels, rate, frames);
    const auto original = Samples(pcm, pcm.size());
    Encoded encoded;
    EncodeWithFfmpeg(channels, rate, pcm, encoded);
    if (::testing::Test::HasFatalFailure()) return;
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(encoded.format.data());
    ASSERT_TRUE(IsMSADPCMFormat(format));
    ASSERT_EQ(format->nChannels, channels);

    const auto ours = DecodeInChunks(format, encoded.data);
    ASSERT_EQ(ours.size(), encoded.ffmpegDecoded.size());
    ASSERT_GE(ours.size(), original.size());

    // Where a prediction is negative and not a whole multiple of 256, a
    // shift rounds it down and a division toward zero: a decoder doing the
    // one or the other parts from ffmpeg there, by one step that the
    // predictor then carries to the end of the block. This ffmpeg rounds
    // by shifting too, so every sample agrees; the header frames of each
    // block agree whatever the rounding.
    const uint16_t perBlock = uint16_t(encoded.format[18] | (encoded.format[19] << 8));
    for (size_t i = 0; i < ours.size(); ++i) {
        if ((i / channels) % perBlock < 2) {
            ASSERT_EQ(ours[i], encoded.ffmpegDecoded[i]) << "header frame, sample " << i;
        }
    }
    size_t firstDifference = 0;
    while (firstDifference < ours.size() && ours[firstDifference] == encoded.ffmpegDecoded[firstDifference])
        ++firstDifference;
    EXPECT_EQ(firstDifference, ours.size()) << "first difference at sample " << firstDifference;

    const std::vector<int> head(ours.begin(), ours.begin() + ptrdiff_t(original.size()));
    EXPECT_GT(SnrDb(original, head), 28.0);
}

TEST(MsAdpcmAgainstFfmpeg, StereoAt44100HzDecodesLikeFfmpegAndCloseToTheSignal) {
    CheckAgainstFfmpeg(2, 44100, 3 * 44100 + 123);
}

TEST(MsAdpcmAgainstFfmpeg, MonoAt22050HzDecodesLikeFfmpegAndCloseToTheSignal) {
    CheckAgainstFfmpeg(1, 22050, 2 * 22050 + 7);
}

}  // namespace
