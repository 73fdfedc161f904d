#include <gtest/gtest.h>

#include <cstring>

#include "WaveFixtures.h"

using namespace testing_support;
using namespace wavefix;

namespace {

constexpr FOURCC kInam = mmioFOURCC('I', 'N', 'A', 'M');
constexpr FOURCC kIcmt = mmioFOURCC('I', 'C', 'M', 'T');

std::vector<uint8_t> ReadAll(WaveIOHandle* h, int32_t chunk) {
    std::vector<uint8_t> out, buffer(static_cast<size_t>(chunk));
    for (;;) {
        const int32_t got = WaveIORead(h, buffer.data(), chunk);
        if (got <= 0) break;
        EXPECT_LE(got, chunk);
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    return out;
}

TEST(WaveAccess, SeekClampsToTheLastSampleAndRefusesNegatives) {
    TempDir dir("wio");
    const auto samples = MakeTestSamples16(2, 500);
    WriteFileBytes(dir / "s.wav", MakePcmWave(2, 8000, 16, samples));
    Opened o(dir / "s.wav");
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(WaveIOSeek(o.handle, 100), 0);  // without a file only the position moves
    EXPECT_EQ(o->position, 100u);
    ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
    EXPECT_EQ(o->bytesLeft, 400u * 4);
    EXPECT_EQ(WaveIOSeek(o.handle, -1), WaveIOErrFile);
    ASSERT_EQ(WaveIOSeek(o.handle, 100000), 0);
    EXPECT_EQ(o->position, 499u);
    EXPECT_EQ(o->bytesLeft, 4u);
    uint8_t buffer[64];
    EXPECT_EQ(WaveIORead(o.handle, buffer, 64), 4);
    EXPECT_EQ(0, std::memcmp(buffer, samples.data() + 499 * 4, 4));
    EXPECT_EQ(o->position, 500u);
    EXPECT_EQ(WaveIORead(o.handle, buffer, 64), -1);
    EXPECT_EQ(WaveIOEndAccess(o.handle), 0);
    EXPECT_EQ(o->bytesLeft, 0u);
    EXPECT_EQ(o->position, 0u);
    EXPECT_FALSE(o->file.valid());
}

TEST(WaveAccess, ReadsTheWholeDataInAnyPieceSizeWithoutTouchingTheFile) {
    TempDir dir("wio");
    const auto samples = MakeTestSamples16(1, 3001);
    const auto bytes = MakePcmWave(1, 11025, 16, samples);
    WriteFileBytes(dir / "r.wav", bytes);
    Opened o(dir / "r.wav");
    ASSERT_EQ(o.code, 0);
    for (int32_t piece : {1, 7, 4096, 100000}) {
        ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
        ASSERT_EQ(WaveIOSetBuffer(o.handle, 32768), 0);
        EXPECT_EQ(ReadAll(o.handle, piece), samples) << piece;
        EXPECT_EQ(o->position, 3001u);
        WaveIOEndAccess(o.handle);
    }
    EXPECT_EQ(ReadFileBytes(dir / "r.wav"), bytes);
}

TEST(WaveAccess, ChangingTheBufferKeepsThePosition) {
    TempDir dir("wio");
    const auto samples = MakeTestSamples16(1, 200000);
    WriteFileBytes(dir / "b.wav", MakePcmWave(1, 8000, 16, samples));
    Opened o(dir / "b.wav");
    ASSERT_EQ(o.code, 0);
    ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
    ASSERT_EQ(WaveIOSetBuffer(o.handle, 32768), 0);
    EXPECT_EQ(ReadAll(o.handle, 32768), samples);
    EXPECT_EQ(WaveIOSetBuffer(o.handle, -1), WaveIOErrGeneral);
    WaveIOEndAccess(o.handle);
}

TEST(WaveRoundTrip, CreateWriteFinishReopenKeepsFormatDataInfoAndDisplay) {
    TempDir dir("wio");
    const std::string path = dir / "new.wav";
    WAVEFORMATEX pcm{1, 2, 22050, 88200, 4, 16, 0};
    PWaveIOHandle h = nullptr;
    ASSERT_EQ(WaveIOCreateHandle(h, &pcm), 0);
    ASSERT_EQ(WaveIOCreateFile(h, path.c_str()), 0);
    h->infoList->SetText(kInam, "My title");
    h->infoList->SetText(kIcmt, "A comment");
    h->displayList->Add(kDisplayText, {'S', 'h', 'o', 'w', 0});
    std::vector<uint8_t> bitmap(40 + 16, 0x5A);
    h->displayList->Add(kDisplayBitmap, bitmap);
    const auto samples = MakeTestSamples16(2, 2000);
    ASSERT_EQ(WaveIOWrite(h, samples.data(), 3000), 3000);
    ASSERT_EQ(WaveIOWrite(h, samples.data() + 3000, int32_t(samples.size() - 3000)), int32_t(samples.size() - 3000));
    EXPECT_EQ(h->totalSamples, 2000u);
    ASSERT_EQ(WaveIOEndAccess(h), 0);
    EXPECT_EQ(h->fileSize, ReadFileBytes(path).size());
    WaveIOFree(h);

    Opened o(path);
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(0, std::memcmp(&o->format, &pcm, sizeof pcm));
    EXPECT_EQ(o->totalSamples, 2000u);
    EXPECT_EQ(o->infoList->Text(kInam), "My title");
    EXPECT_EQ(o->infoList->Text(kIcmt), "A comment");
    ASSERT_EQ(o->displayList->Entries().size(), 2u);
    EXPECT_EQ(o->displayList->Entries()[0].data, (std::vector<uint8_t>{'S', 'h', 'o', 'w', 0}));
    EXPECT_EQ(o->displayList->First(kDisplayBitmap)->data, bitmap);
    ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
    EXPECT_EQ(ReadAll(o.handle, 1000), samples);
    WaveIOEndAccess(o.handle);
}

TEST(WaveRoundTrip, CreatedFileWithoutSamplesIsAValidEmptyWave) {
    TempDir dir("wio");
    WAVEFORMATEX pcm{1, 1, 8000, 8000, 1, 8, 0};
    PWaveIOHandle h = nullptr;
    ASSERT_EQ(WaveIOCreateHandle(h, &pcm), 0);
    ASSERT_EQ(WaveIOCreateFile(h, (dir / "e.wav").c_str()), 0);
    ASSERT_EQ(WaveIOEndAccess(h), 0);
    WaveIOFree(h);
    Opened o(dir / "e.wav");
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o->dataBytes, 0u);
}

TEST(WaveRoundTrip, AppendingToAnExistingFileKeepsBothParts) {
    TempDir dir("wio");
    const std::string path = dir / "a.wav";
    const auto first = MakeTestSamples16(1, 1500, 3);
    const auto second = MakeTestSamples16(1, 700, 9);
    // An existing file with a long trailing chunk that the append overwrites.
    ByteWriter w = StartWaveForm();
    w.chunk("fmt ", FormatFields(1, 1, 8000, 16000, 2, 16));
    w.tag("data").u32(uint32_t(first.size())).bytes(first);
    w.tag("junk").u32(5000).bytes(std::vector<uint8_t>(5000, 0xEE));
    w.tag("LIST").u32(4 + 8 + 4).tag("INFO").tag("INAM").u32(4).bytes({'O', 'l', 'd', 0});
    WriteFileBytes(path, EndWaveForm(w));

    {
        Opened o(path);
        ASSERT_EQ(o.code, 0);
        ASSERT_EQ(o->totalSamples, 1500u);
        ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
        ASSERT_EQ(ReadAll(o.handle, 4096), first);
        ASSERT_EQ(WaveIOWrite(o.handle, second.data(), int32_t(second.size())), int32_t(second.size()));
        EXPECT_EQ(o->totalSamples, 2200u);
        ASSERT_EQ(WaveIOEndAccess(o.handle), 0);
    }
    Opened o(path);
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o->totalSamples, 2200u);
    EXPECT_EQ(o->infoList->Text(kInam), "Old");
    EXPECT_EQ(o->fileSize, ReadFileBytes(path).size());
    ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
    std::vector<uint8_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(ReadAll(o.handle, 4096), both);
    WaveIOEndAccess(o.handle);
}

TEST(WaveRoundTrip, AppendingToACompressedFileKeepsOneCountAndTheTrailingTexts) {
    // A "fact" written behind the data ended the next scan before the INFO list.
    TempDir dir("wio");
    const std::string path = dir / "c.wav";
    ByteWriter w = StartWaveForm();
    w.tag("fmt ").u32(20).u16(0x11).u16(1).u32(22050).u32(11100).u16(512).u16(4).u16(2).u16(1017);
    w.tag("fact").u32(4).u32(1017);
    w.tag("data").u32(512).bytes(std::vector<uint8_t>(512, 3));
    w.tag("LIST").u32(4 + 8 + 4).tag("INFO").tag("INAM").u32(4).bytes({'A', 'd', 'p', 0});
    WriteFileBytes(path, EndWaveForm(w));
    {
        Opened o(path);
        ASSERT_EQ(o.code, 0);
        ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
        ReadAll(o.handle, 512);
        const std::vector<uint8_t> more(512, 4);
        ASSERT_EQ(WaveIOWrite(o.handle, more.data(), 512), 512);
        ASSERT_EQ(WaveIOEndAccess(o.handle), 0);
    }
    Opened o(path);
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o->dataBytes, 1024u);
    EXPECT_EQ(o->infoList->Text(kInam), "Adp");
    const auto bytes = ReadFileBytes(path);
    uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 12 + 8 + 20 + 8, 4);
    EXPECT_EQ(count, o->totalSamples);
}

TEST(WaveFiles, ExistParseAndDelete) {
    TempDir dir("wio");
    const std::string path = dir / "x.wav";
    EXPECT_FALSE(WaveIOFileExists(path.c_str()));
    WriteFileBytes(path, MakePcmWave(1, 8000, 8, {1, 2}));
    EXPECT_TRUE(WaveIOFileExists(path.c_str()));
    EXPECT_TRUE(IsWaveFile(path.c_str()));
    EXPECT_TRUE(WaveIOParseName(path.c_str()));
    EXPECT_TRUE(WaveIODeleteFile(path.c_str()));
    EXPECT_FALSE(WaveIOFileExists(path.c_str()));
}

TEST(WaveFiles, FailedCreationLeavesNoFile) {
    TempDir dir("wio");
    WAVEFORMATEX pcm{1, 1, 8000, 8000, 1, 8, 0};
    PWaveIOHandle h = nullptr;
    ASSERT_EQ(WaveIOCreateHandle(h, &pcm), 0);
    EXPECT_EQ(WaveIOCreateFile(h, (dir / "no\\such\\dir\\f.wav").c_str()), WaveIOErrFile);
    EXPECT_FALSE(h->file.valid());
    WaveIOFree(h);
}

}  // namespace
