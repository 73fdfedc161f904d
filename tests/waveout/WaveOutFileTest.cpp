#include "support/WaveOutFixtures.h"

#include <cstring>

#include "media/codecs/MMADCvt.h"
#include "media/codecs/MMADPCM.h"
#include "media/wave/MMWave.h"
#include "support/TestSupport.h"

namespace waveout_tests {
namespace {

using testing_support::ByteWriter;
using testing_support::TempDir;

// Real wave files played through the preview's chain: file -> converter -> device.
class WaveOutFileTest : public WaveOutTest {
protected:
    void BuildFromFile(const std::string& path) {
        file_ = &wc::MakeComponent<TMMWaveFile>(root_);
        file_->SetFileName(path);
        converter_ = &wc::MakeComponent<TMMADPCMConverter>(root_);
        converter_->SetInput(file_);
        out_ = &wc::MakeComponent<TMMWaveOut>(root_);
        out_->SetCallBackMode(GetParam());
        out_->SetNumBuffers(10);
        out_->SetBufferSize(6144);
        out_->SetInput(converter_);
        out_->OnStop = [this](wc::TComponent*) { ++stops_; };
    }
    TempDir dir_{"wcwaveoutfile"};
    TMMWaveFile* file_ = nullptr;
    TMMADPCMConverter* converter_ = nullptr;
};

TEST_P(WaveOutFileTest, APcmFilePlaysCompletelyThroughTheChain) {
    const auto pcm = DistinctPcm(44100 * 4 / 2);  // half a second of 16-bit stereo
    const std::string path = dir_ / "pcm.wav";
    testing_support::WriteFileBytes(path, testing_support::MakePcmWave(2, 44100, 16, pcm));
    BuildFromFile(path);
    ASSERT_NE(out_->PWaveFormat(), nullptr);
    EXPECT_EQ(out_->PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    PlayToEnd();
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(out_->BytesPlayed(), static_cast<int64_t>(pcm.size()));
    out_->Close();
    EXPECT_TRUE(ContainsRun(ReadCapture(), pcm));
}

TEST_P(WaveOutFileTest, AnMsAdpcmFilePlaysAsOurDecoderDecodesIt) {
    constexpr size_t kBlocks = 20;
    const MSADPCMWaveFormat adpcm = testing_support::MsAdpcmFormat(1, 512);
    const std::vector<uint8_t> data = testing_support::RandomMsAdpcmBlocks(adpcm, kBlocks, 5);
    ByteWriter w;
    w.tag("RIFF").u32(0).tag("WAVE").tag("fmt ").u32(sizeof adpcm);
    std::vector<uint8_t> fmt(sizeof adpcm);
    std::memcpy(fmt.data(), &adpcm, sizeof adpcm);
    w.bytes(fmt).tag("fact").u32(4).u32(uint32_t(kBlocks * adpcm.samplesPerBlock));
    w.tag("data").u32(uint32_t(data.size())).bytes(data);
    std::vector<uint8_t> file = w.data();
    const uint32_t riffSize = uint32_t(file.size() - 8);
    std::memcpy(file.data() + 4, &riffSize, 4);
    const std::string path = dir_ / "adpcm.wav";
    testing_support::WriteFileBytes(path, file);

    BuildFromFile(path);
    ASSERT_TRUE(converter_->CanConvert());
    ASSERT_NE(out_->PWaveFormat(), nullptr);
    const WAVEFORMATEX pcm = *out_->PWaveFormat();
    ASSERT_EQ(pcm.wFormatTag, WAVE_FORMAT_PCM);
    std::vector<uint8_t> expected(MSADPCMDecodedSize(&adpcm.wfx, &pcm, uint32_t(data.size())));
    expected.resize(DecodeMSADPCM(&adpcm.wfx, &pcm, data.data(), uint32_t(data.size()), expected.data(),
                                  uint32_t(expected.size())));
    ASSERT_EQ(expected.size(), kBlocks * adpcm.samplesPerBlock * 2);
    PlayToEnd();
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(out_->BytesPlayed(), static_cast<int64_t>(expected.size()));
    out_->Close();
    EXPECT_TRUE(ContainsRun(ReadCapture(), expected));
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutFileTest, ::testing::Values(cmWindow, cmThread),
                         [](const auto& info) { return info.param == cmWindow ? "Window" : "Thread"; });

}  // namespace
}  // namespace waveout_tests
