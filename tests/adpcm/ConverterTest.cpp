#include <gtest/gtest.h>

#include "support/AudioFixtures.h"
#include "support/ChainFixtures.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "media/codecs/MMADCvt.h"
#include "media/MMErrors.h"
#include "media/codecs/MMPCMSup.h"

namespace {

using testing_support::ErrorText;
using testing_support::MsAdpcmFormat;
using testing_support::PcmFormat;
using testing_support::RandomMsAdpcmBlocks;
using testing_support::TestSink;
using testing_support::TestSource;

std::vector<uint8_t> DirectDecode(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(MSADPCMDecodedSize(source, dest, uint32_t(data.size())));
    out.resize(DecodeMSADPCM(source, dest, data.data(), uint32_t(data.size()), out.data(), uint32_t(out.size())));
    return out;
}

class ConverterTest : public ::testing::Test {
protected:
    // source -> converter -> sink, opened and started as a device would.
    void Build(const WAVEFORMATEX* format, std::vector<uint8_t> data) {
        source = &wc::MakeComponent<TestSource>(root, format, std::move(data));
        converter = &wc::MakeComponent<TMMADPCMConverter>(root);
        sink = &wc::MakeComponent<TestSink>(root);
        converter->SetInput(source);
        sink->SetInput(converter);
    }
    void Run() {
        for (TMMDSPComponent* c : {static_cast<TMMDSPComponent*>(source), static_cast<TMMDSPComponent*>(converter)})
            c->Opened();
        for (TMMDSPComponent* c : {static_cast<TMMDSPComponent*>(source), static_cast<TMMDSPComponent*>(converter)})
            c->Started();
    }
    wc::TComponent root{nullptr};
    TestSource* source = nullptr;
    TMMADPCMConverter* converter = nullptr;
    TestSink* sink = nullptr;
};

TEST_F(ConverterTest, MsAdpcmThroughTheChainEqualsADirectDecode) {
    // 1536-byte blocks do not divide the 4096-byte chunk; blocks above it
    // are bigger than a chunk: both once lost or garbled whole blocks.
    for (uint16_t align : {uint16_t(256), uint16_t(2048), uint16_t(1536), uint16_t(8192)}) {
        SCOPED_TRACE(align);
        const auto format = MsAdpcmFormat(2, align);
        const auto data = RandomMsAdpcmBlocks(format, 9, align);
        Build(&format.wfx, data);
        ASSERT_NE(converter->PWaveFormat(), nullptr);
        const WAVEFORMATEX pcm = *converter->PWaveFormat();
        EXPECT_EQ(pcm.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(pcm.wBitsPerSample, 16);
        EXPECT_EQ(pcm.nChannels, 2);
        EXPECT_EQ(sink->PWaveFormat()->nSamplesPerSec, 22050u);
        Run();
        const auto expected = DirectDecode(&format.wfx, &pcm, data);
        ASSERT_EQ(expected.size(), size_t(9) * format.samplesPerBlock * 4);
        const auto got = sink->PullAll(6144);
        EXPECT_EQ(got, expected);
        EXPECT_LE(source->LargestRequest(), std::max<uint32_t>(4096, align));
        EXPECT_EQ(source->LargestRequest() % align, 0u);
    }
}

TEST_F(ConverterTest, EightBitOutputFollowsTheBitLength) {
    const auto format = MsAdpcmFormat(1, 512);
    const auto data = RandomMsAdpcmBlocks(format, 3, 7);
    Build(&format.wfx, data);
    converter->SetBitLength(b8Bit);
    ASSERT_EQ(sink->PWaveFormat()->wBitsPerSample, 8);
    Run();
    const auto expected = DirectDecode(&format.wfx, sink->PWaveFormat(), data);
    EXPECT_EQ(sink->PullAll(1000), expected);
}

TEST_F(ConverterTest, NibbleFormatsDecodeAsOneStreamAcrossChunks) {
    std::mt19937 random(3);
    std::vector<uint8_t> data(4096 * 2 + 1000);
    for (auto& b : data) b = uint8_t(random());
    struct Case {
        WORD tag;
        uint16_t channels;
        uint32_t (*decode)(NibbleCodecState&, uint32_t, const void*, void*);
    };
    for (const Case c : {Case{3, 1, DecodeTag3Mono}, Case{3, 2, DecodeTag3Stereo}, Case{0x33, 2, DecodeAntexStereo},
                         Case{0x206, 1, DecodeAntexMono}}) {
        SCOPED_TRACE(c.tag);
        WAVEFORMATEX format = PcmFormat(c.channels, 4, 8000);
        format.wFormatTag = c.tag;
        Build(&format, data);
        Run();
        NibbleCodecState state{};
        std::vector<uint8_t> expected(data.size() * 4);
        expected.resize(c.decode(state, uint32_t(data.size()), data.data(), expected.data()));
        EXPECT_EQ(sink->PullAll(3000), expected);
    }
}

TEST_F(ConverterTest, EightBitNibbleOutputIsTheSixteenBitOutputConverted) {
    std::vector<uint8_t> data(5000);
    std::mt19937 random(11);
    for (auto& b : data) b = uint8_t(random());
    WAVEFORMATEX format = PcmFormat(1, 4, 8000);
    format.wFormatTag = 3;
    Build(&format, data);
    converter->SetBitLength(b8Bit);
    EXPECT_EQ(sink->PWaveFormat()->wBitsPerSample, 8);
    EXPECT_EQ(sink->PWaveFormat()->nBlockAlign, 1);
    Run();
    NibbleCodecState state{};
    std::vector<uint8_t> wide(data.size() * 4);
    DecodeTag3Mono(state, uint32_t(data.size()), data.data(), wide.data());
    std::vector<uint8_t> expected(data.size() * 2);
    PCMConvertBits(8, expected.data(), 16, wide.data(), uint32_t(wide.size()));
    EXPECT_EQ(sink->PullAll(777), expected);
}

TEST_F(ConverterTest, PcmAndDisabledConversionPassDataThrough) {
    const WAVEFORMATEX pcm = PcmFormat(2, 16);
    std::vector<uint8_t> data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    Build(&pcm, data);
    EXPECT_FALSE(converter->NeedsConversion());
    EXPECT_TRUE(converter->CanPlayInput());
    Run();
    EXPECT_EQ(sink->PullAll(4096), data);

    const auto adpcm = MsAdpcmFormat(1, 256);
    const auto blocks = RandomMsAdpcmBlocks(adpcm, 4, 1);
    Build(&adpcm.wfx, blocks);
    converter->SetEnabled(false);
    EXPECT_EQ(sink->PWaveFormat()->wFormatTag, 2);  // the input's format, unchanged
    Run();
    EXPECT_EQ(sink->PullAll(300), blocks);
}

TEST_F(ConverterTest, ACompressedFormatWithoutDecoderFailsToOpen) {
    WAVEFORMATEX ima = PcmFormat(1, 4, 22050);
    ima.wFormatTag = 0x11;
    Build(&ima, std::vector<uint8_t>(100));
    EXPECT_TRUE(converter->NeedsConversion());
    EXPECT_FALSE(converter->CanPlayInput());
    EXPECT_EQ(sink->PWaveFormat()->wFormatTag, 0x11);
    EXPECT_EQ(ErrorText<EMMADPCMError>([&] { converter->Opened(); }), "Unable to convert to destination format")
        << "opened a format it cannot decode";
    converter->SetEnabled(false);
    EXPECT_TRUE(converter->CanPlayInput());
    EXPECT_NO_THROW(converter->Opened());
}

TEST_F(ConverterTest, NibbleFormatsWithMoreThanTwoChannelsCannotConvert) {
    // Such a stream once announced PCM and then decoded nothing.
    WAVEFORMATEX format = PcmFormat(4, 4, 8000);
    format.wFormatTag = 0x33;
    Build(&format, std::vector<uint8_t>(100));
    EXPECT_FALSE(converter->CanPlayInput());
    EXPECT_THROW(converter->Opened(), EMMADPCMError);
}

TEST_F(ConverterTest, ACorruptBlockPlaysAsSilenceAndTheNextBlocksDecode) {
    // A bad predictor index cleared can-convert, and the rest of the file
    // went to the output device as PCM: full-scale noise.
    const auto format = MsAdpcmFormat(1, 1024);  // four blocks per chunk
    auto data = RandomMsAdpcmBlocks(format, 16, 5);
    const auto clean = data;
    data[9 * 1024] = 9;  // predictor index out of range, in the third chunk
    Build(&format.wfx, data);
    Run();
    const auto expectedAll = DirectDecode(&format.wfx, converter->PWaveFormat(), clean);
    const size_t blockPcm = size_t(format.samplesPerBlock) * 2;
    ASSERT_EQ(expectedAll.size(), 16 * blockPcm);
    const auto got = sink->PullAll(4096);
    EXPECT_TRUE(converter->CanConvert());
    ASSERT_EQ(got.size(), expectedAll.size());
    // Every block but the damaged one as a clean decode gives it; that one silent.
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 9 * blockPcm, expectedAll.begin()));
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + 9 * blockPcm, got.begin() + 10 * blockPcm),
              std::vector<uint8_t>(blockPcm, 0));
    EXPECT_TRUE(std::equal(got.begin() + 10 * blockPcm, got.end(), expectedAll.begin() + 10 * blockPcm));
}

TEST_F(ConverterTest, LoopFieldsTravelUpstreamAndAWrapEndsTheBuffer) {
    std::vector<uint8_t> data(1000, 0x11);
    WAVEFORMATEX format = PcmFormat(1, 4, 8000);
    format.wFormatTag = 3;
    Build(&format, data);
    Run();
    WaveHdrEx loop{};
    loop.LoopFlag = LongBoolTrue;
    loop.LoopTotal = 1;
    loop.LoopsLeft = 1;
    std::vector<uint8_t> out;
    bool more = false;
    // One pull asks for more than the data decodes to: the source wraps,
    // counts its loop down, marks the wrap, and the buffer ends there.
    EXPECT_EQ(sink->PullOnce(8000, out, more, &loop), 4000u);
    EXPECT_TRUE(more);
    EXPECT_EQ(loop.LoopsLeft, 0);
    EXPECT_NE(loop.LoopMark, 0);
    loop.LoopMark = 0;
    EXPECT_EQ(sink->PullOnce(8000, out, more, &loop), 4000u);
    EXPECT_FALSE(more);
    EXPECT_EQ(loop.LoopsLeft, -1);
}

TEST_F(ConverterTest, AStoppedConverterPassesRequestsUpstreamAndClosingFreesIt) {
    const auto format = MsAdpcmFormat(1, 2048);
    const auto data = RandomMsAdpcmBlocks(format, 4, 9);
    Build(&format.wfx, data);
    Run();
    std::vector<uint8_t> out;
    bool more = false;
    sink->PullOnce(100, out, more);
    EXPECT_TRUE(more);
    converter->Stopped();
    out.clear();
    sink->PullOnce(100, out, more);
    EXPECT_EQ(out, std::vector<uint8_t>(data.begin() + 4096, data.begin() + 4196));
    converter->Closed();
    EXPECT_FALSE(converter->IsOpened());
    // Opened again, it sizes its buffers anew and decodes from a fresh state.
    converter->Opened();
    converter->Started();
    EXPECT_TRUE(converter->IsStarted());
}

}  // namespace
