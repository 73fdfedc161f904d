// Waves past 2 and 4 GiB: RF64 and BW64 forms with their "ds64" sizes, and
// sparse files (a header, a seek, a few bytes at the far end) read at their
// far end through the wave layer and the wave object.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WaveFixtures.h"
#include "media/wave/MMWave.h"

using namespace testing_support;
using namespace wavefix;

namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;

std::vector<uint8_t> ReadAll(WaveIOHandle* h) {
    std::vector<uint8_t> out, buffer(4096);
    for (int32_t got; (got = WaveIORead(h, buffer.data(), int32_t(buffer.size()))) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    return out;
}

TEST(Rf64Wave, DataSizeComesFromDs64AndChunksBehindTheDataAreNoSamples) {
    TempDir dir("large");
    const auto samples = MakeTestSamples16(2, 900, 6);
    // A LIST chunk behind the data, its size in its header or (0xFFFFFFFF
    // there) in the ds64 table.
    const auto list = [](uint32_t sizeField) {
        ByteWriter w;
        w.tag("LIST").u32(sizeField).tag("INFO").tag("INAM").u32(4).bytes({'a', 'b', 'c', 0});
        return w.data();
    };
    struct Case {
        const char* name;
        ByteWriter head;
        uint32_t listField;
    };
    // RIFF sizes, worked out: form type 4, ds64 chunk 36 (48 with a table
    // entry), fmt 24, data header 8, samples 3600, LIST 24.
    Case cases[] = {
        {"RF64", Rf64Form("RF64", 4 + 36 + 24 + 8 + 3600 + 24, 3600), 16},
        {"BW64", Rf64Form("BW64", 4 + 36 + 24 + 8 + 3600 + 24, 3600), 16},
        {"RF64, LIST size in the table", Rf64Form("RF64", 4 + 48 + 24 + 8 + 3600 + 24, 3600, 16), 0xFFFFFFFF},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.head.chunk("fmt ", FormatFields(1, 2, 44100, 176400, 4, 16));
        c.head.tag("data").u32(0xFFFFFFFF).bytes(samples).bytes(list(c.listField));
        WriteFileBytes(dir / "rf.wav", c.head.data());
        Opened o(dir / "rf.wav");
        ASSERT_EQ(o.code, 0);
        EXPECT_EQ(o->dataBytes, 3600u);
        EXPECT_EQ(o->totalSamples, 900u);
        EXPECT_EQ(o->infoList->Text(mmioFOURCC('I', 'N', 'A', 'M')), "abc");
        ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
        EXPECT_EQ(ReadAll(o.handle), samples);
        WaveIOEndAccess(o.handle);
    }
}

TEST(Rf64Wave, TheConvertersRf64OutputReadsAsItsSource) {
    TempDir dir("large");
    const auto samples = MakeTestSamples16(2, 5000, 9);
    WriteFileBytes(dir / "in.wav", MakePcmWave(2, 48000, 16, samples));
    ASSERT_TRUE(RunFfmpeg("-i in.wav -c:a pcm_s16le -rf64 always out.wav", dir.path()));
    const auto written = ReadFileBytes(dir / "out.wav");
    ASSERT_GT(written.size(), 4u);
    ASSERT_EQ(std::string(written.begin(), written.begin() + 4), "RF64") << "the converter wrote no RF64 form";
    Opened o(dir / "out.wav");
    ASSERT_EQ(o.code, 0);
    ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
    EXPECT_EQ(ReadAll(o.handle), samples);
    WaveIOEndAccess(o.handle);
}

TEST(SparseWave, SizesAndPositionsPast4GiBAndReadingAtTheFarEnd) {
    // File offsets stopped at 2 GiB: such files did not open, RF64 ones not at all.
    TempDir dir("large");
    const std::vector<uint8_t> tail = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct Case {
        const char* name;
        uint32_t riffField, dataField;  // 0: an RF64 form with the sizes in ds64
        uint64_t dataBytes;             // declared (RF64) and, as the tail ends it, on disk
    };
    // The data starts at 80 in the RF64 form (12 + 36 + 24 + 8) and at 44 in
    // the RIFF form; the tail's 12 bytes end the data.
    const Case cases[] = {
        {"RF64, data 5 GiB", 0, 0, 5 * kGiB},
        {"RIFF, placeholder sizes", 0xFFFFFFFF, 0xFFFFFFFF, 5 * kGiB + 4},
        // 0xFFFFFFF8 bytes fit in this file, yet are a placeholder.
        {"RIFF, data placeholder 0xFFFFFFF8", 0xFFFFFFFF, 0xFFFFFFF8, 4 * kGiB + 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool rf64 = c.riffField == 0;
        ByteWriter head = rf64 ? Rf64Form("RF64", 4 + 36 + 24 + 8 + c.dataBytes, c.dataBytes) : StartWaveForm();
        if (!rf64) head.patch_u32(4, c.riffField);
        head.chunk("fmt ", FormatFields(1, 2, 48000, 192000, 4, 16));
        head.tag("data").u32(rf64 ? 0xFFFFFFFF : c.dataField);
        const uint64_t dataOffset = rf64 ? 80 : 44;
        const std::string path = dir / "sparse.wav";
        WriteSparseFile(path, head.data(), dataOffset + c.dataBytes - tail.size(), tail);

        Opened o(path);
        ASSERT_EQ(o.code, 0);
        EXPECT_EQ(o->fileSize, dataOffset + c.dataBytes);
        EXPECT_EQ(o->dataOffset, dataOffset);
        EXPECT_EQ(o->dataBytes, c.dataBytes);
        EXPECT_EQ(o->totalSamples, c.dataBytes / 4);
        ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
        // The last three frames are the tail.
        ASSERT_EQ(WaveIOSeek(o.handle, int64_t(c.dataBytes / 4 - 3)), 0);
        EXPECT_EQ(o->position, c.dataBytes / 4 - 3);
        EXPECT_EQ(o->bytesLeft, 12u);
        EXPECT_EQ(ReadAll(o.handle), tail);
        WaveIOEndAccess(o.handle);

        // The wave object counts in 64 bits too, in bytes as the chooser does.
        TMMWave wave;
        wave.SetTimeFormat(tfByte);
        wave.SetFileName(path);
        EXPECT_EQ(wave.DataSize(), int64_t(c.dataBytes));
        EXPECT_EQ(wave.FileSize(), int64_t(dataOffset + c.dataBytes));
        wave.OpenFile();
        wave.SetPosition(int64_t(c.dataBytes) - 8);
        EXPECT_EQ(wave.GetPosition(), int64_t(c.dataBytes) - 8);
        std::vector<uint8_t> got(100);
        ASSERT_EQ(wave.ReadData(got.data(), 100), 8);
        EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 8), std::vector<uint8_t>(tail.begin() + 4, tail.end()));
        wave.CloseFile();
    }
}

}  // namespace
