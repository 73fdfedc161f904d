// ADPCM files whose last block is cut short, as recorders leave them: the
// wave layer delivers every byte, and the converter decodes them to what the
// real converter decodes the same file to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ChainFixtures.h"
#include "support/TestSupport.h"
#include "framework/Components.h"
#include "media/codecs/MMADCvt.h"
#include "media/wave/MMWave.h"
#include "media/wave/MMWaveIO.h"

namespace {

using namespace testing_support;

struct ShortBlockCase {
    const char* name;
    const char* codec;       // the converter's encoder
    uint16_t channels;
    uint32_t keep;           // bytes the last block keeps
    bool decodedInTheChain;  // false: IMA ADPCM, which the system's codec decodes
};

class ShortLastBlock : public ::testing::TestWithParam<ShortBlockCase> {};

std::vector<uint8_t> ReadAllBytes(const std::string& path) {
    PWaveIOHandle opened = nullptr;
    EXPECT_EQ(WaveIOOpen(opened, path.c_str()), 0);
    const WaveIOHandlePtr handle(opened);
    std::vector<uint8_t> out, buffer(1000);
    if (!handle || WaveIOBeginAccess(handle.get()) != 0) return out;
    for (int32_t got; (got = WaveIORead(handle.get(), buffer.data(), int32_t(buffer.size()))) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    WaveIOEndAccess(handle.get());
    return out;
}

TEST_P(ShortLastBlock, EveryByteIsReadAndDecodesAsTheConverterDecodesIt) {
    // The reader rounded the data down to whole blocks: the short last block was lost.
    const ShortBlockCase& c = GetParam();
    TempDir dir("short");
    WriteFileBytes(dir / "in.wav", MakePcmWave(c.channels, 22050, 16, MakeTestSamples16(c.channels, 5000, 7)));
    ASSERT_TRUE(RunFfmpeg(std::string("-i in.wav -c:a ") + c.codec + " full.wav", dir.path()));
    const auto full = ReadFileBytes(dir / "full.wav");
    const auto fmt = ChunkOf(full, "fmt ");
    auto data = ChunkOf(full, "data");
    ASSERT_GE(fmt.size(), 20u);
    const size_t align = fmt[12] | fmt[13] << 8;
    ASSERT_EQ(data.size() % align, 0u) << "the encoder writes whole blocks";
    data.resize(data.size() - align + c.keep);
    WriteFileBytes(dir / "short.wav", MakeWaveOf(fmt, data));
    ASSERT_TRUE(RunFfmpeg("-i short.wav -c:a pcm_s16le back.wav", dir.path()));
    const auto expected = ChunkOf(ReadFileBytes(dir / "back.wav"), "data");

    EXPECT_EQ(ReadAllBytes(dir / "short.wav"), data);
    if (!c.decodedInTheChain) return;
    wc::TComponent root(nullptr);
    auto& file = wc::MakeComponent<TMMWaveFile>(root);
    auto& converter = wc::MakeComponent<TMMADPCMConverter>(root);
    auto& sink = wc::MakeComponent<TestSink>(root);
    file.SetFileName(dir / "short.wav");
    converter.SetInput(&file);
    sink.SetInput(&converter);
    file.Opened();
    converter.Opened();
    file.Started();
    converter.Started();
    const auto got = sink.PullAll(4096);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

const ShortBlockCase kCases[] = {
    {"ms_mono", "adpcm_ms", 1, 7 + 50, true},
    {"ms_stereo_header_and_one_byte", "adpcm_ms", 2, 14 + 1, true},
    {"ima_mono", "adpcm_ima_wav", 1, 4 + 40, false},
    {"ima_stereo_part_of_a_group", "adpcm_ima_wav", 2, 8 + 8 + 5, false},
};

INSTANTIATE_TEST_SUITE_P(Files, ShortLastBlock, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
