// Damaged and unfinished wave files as users bring them: streamed files
// with placeholder sizes, recordings interrupted before their sizes were
// written, files cut short, and handles positioned while being written.
#include <gtest/gtest.h>

#include <cstring>

#include "WaveFixtures.h"

using namespace testing_support;
using namespace wavefix;

namespace {

std::vector<uint8_t> ReadEverything(WaveIOHandle* h) {
    std::vector<uint8_t> out, buffer(1000);
    for (int guard = 0; guard < 100000; ++guard) {
        const int32_t got = WaveIORead(h, buffer.data(), int32_t(buffer.size()));
        if (got <= 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    return out;
}

// Opens, begins access and reads every sample byte; empty with a failure
// recorded when any step fails.
std::vector<uint8_t> OpenAndRead(const std::string& path) {
    Opened o(path);
    EXPECT_EQ(o.code, 0) << path;
    if (o.code != 0) return {};
    EXPECT_EQ(WaveIOBeginAccess(o.handle), 0) << path;
    if (!o->file) return {};
    std::vector<uint8_t> got = ReadEverything(o.handle);
    EXPECT_EQ(WaveIOEndAccess(o.handle), 0);
    return got;
}

// A 16-bit mono PCM file laid out as a recorder writes it, with the RIFF
// and data sizes given.
std::vector<uint8_t> RecorderFile(uint32_t riffSize, uint32_t dataSize, const std::vector<uint8_t>& samples) {
    ByteWriter w;
    w.tag("RIFF").u32(riffSize).tag("WAVE");
    w.chunk("fmt ", FormatFields(1, 1, 8000, 16000, 2, 16));
    w.tag("data").u32(dataSize).bytes(samples);
    return w.data();
}

// Samples that open with digital silence, as most recordings do.
std::vector<uint8_t> SilenceThenSound(uint32_t silentFrames, uint32_t frames) {
    std::vector<uint8_t> samples(size_t(silentFrames) * 2, 0);
    const auto sound = MakeTestSamples16(1, frames, 5);
    samples.insert(samples.end(), sound.begin(), sound.end());
    return samples;
}

TEST(StreamedWave, PlaceholderRiffAndDataSizesReadEverySample) {
    // The RIFF record read again at access was used uncut as the parent of a
    // descend whose 32-bit end wrapped: the data chunk was not found.
    TempDir dir("dmg");
    const auto samples = MakeTestSamples16(1, 3000, 2);
    for (uint32_t riffSize : {0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFFCu, 0x80000000u}) {
        for (uint32_t dataSize : {0xFFFFFFFFu, uint32_t(samples.size())}) {
            const std::string path = dir / "streamed.wav";
            WriteFileBytes(path, RecorderFile(riffSize, dataSize, samples));
            EXPECT_EQ(OpenAndRead(path), samples) << std::hex << riffSize << " " << dataSize;
        }
    }
}

TEST(DeclaredDataSize, BytesBehindTheDeclaredSamplesAreNoSamples) {
    // A last data chunk was read to the end of the file: its pad byte, tags
    // appended to the file and bytes behind a smaller size became samples.
    TempDir dir("dmg");
    for (const TrailedWave& wave : WavesWithTrailers()) {
        SCOPED_TRACE(wave.name);
        WriteFileBytes(dir / "t.wav", wave.file);
        EXPECT_EQ(OpenAndRead(dir / "t.wav"), wave.samples);
    }
}

TEST(StreamedWave, AFailedBeginAccessLeavesNoFileOpen) {
    // A seek failure inside the access left the reopened file in the handle.
    TempDir dir("dmg");
    const std::string path = dir / "moved.wav";
    WriteFileBytes(path, MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 100)));
    Opened o(path);
    ASSERT_EQ(o.code, 0);
    // The file changes after parsing: where the data chunk was stands another.
    ByteWriter w = StartWaveForm();
    w.chunk("fmt ", FormatFields(1, 1, 8000, 16000, 2, 16));
    w.tag("junk").u32(200).bytes(std::vector<uint8_t>(200, 1));
    WriteFileBytes(path, EndWaveForm(w));
    EXPECT_EQ(WaveIOBeginAccess(o.handle), WaveIOErrFile);
    EXPECT_FALSE(o->file.valid());
    // Not held open: the file can be replaced at once.
    EXPECT_TRUE(::DeleteFileA(path.c_str()));
}

TEST(InterruptedRecording, EverySampleOnDiskIsRead) {
    // A RIFF size of 0 was refused (101); a data size of 0 followed by
    // silence read as an empty chunk of id 0 and gave no data.
    TempDir dir("dmg");
    const auto silentStart = SilenceThenSound(64, 2000);
    const auto loudStart = MakeTestSamples16(1, 2000, 8);
    struct Case {
        const char* name;
        uint32_t riff;  // ~0u: the right size
        uint32_t data;
        const std::vector<uint8_t>* samples;
    };
    const Case cases[] = {
        {"riff 0", 0, ~0u, &loudStart},          {"data 0", ~0u, 0, &loudStart},
        {"both 0", 0, 0, &loudStart},            {"riff 0, silence", 0, ~0u, &silentStart},
        {"data 0, silence", ~0u, 0, &silentStart}, {"both 0, silence", 0, 0, &silentStart},
        {"header-only sizes", 36, 0, &silentStart},
        // Placeholders a streaming writer leaves count as no size, as 0 does.
        {"riff placeholder", 0xFFFFFFF8, ~0u, &loudStart}, {"data placeholder, silence", ~0u, 0xFFFFFFFC, &silentStart},
        {"both placeholders, silence", 0xFFFFFFFE, 0xFFFFFFF8, &silentStart},
    };
    for (const Case& c : cases) {
        const uint32_t dataSize = uint32_t(c.samples->size());
        std::vector<uint8_t> file =
            RecorderFile(c.riff == ~0u ? 36 + dataSize : c.riff, c.data == ~0u ? dataSize : c.data, *c.samples);
        // Interrupted at several points: whole frames, then a frame cut in half.
        for (size_t cut : {size_t(0), size_t(1000), size_t(1), size_t(2)}) {
            std::vector<uint8_t> onDisk(file.begin(), file.end() - std::ptrdiff_t(cut));
            const size_t held = c.samples->size() - cut;
            const std::vector<uint8_t> expected(c.samples->begin(), c.samples->begin() + std::ptrdiff_t(held & ~size_t(1)));
            const std::string path = dir / "rec.wav";
            WriteFileBytes(path, onDisk);
            EXPECT_EQ(OpenAndRead(path), expected) << c.name << ", cut " << cut;
        }
    }
}

TEST(InterruptedRecording, AnEmptyDataChunkBeforeARealChunkStaysEmpty) {
    TempDir dir("dmg");
    ByteWriter w = StartWaveForm();
    w.chunk("fmt ", FormatFields(1, 1, 8000, 16000, 2, 16));
    w.tag("data").u32(0);
    w.tag("LIST").u32(4 + 8 + 4).tag("INFO").tag("INAM").u32(4).bytes({'a', 'b', 'c', 0});
    WriteFileBytes(dir / "e.wav", EndWaveForm(w));
    Opened o(dir / "e.wav");
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o->dataBytes, 0u);
    EXPECT_EQ(o->infoList->Text(mmioFOURCC('I', 'N', 'A', 'M')), "abc");
}

TEST(InterruptedRecording, AFileCutInsideItsFormatIsNoWave) {
    // Accepted before, with the missing fields read as zeros ("0 Bit").
    TempDir dir("dmg");
    const auto whole = MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 100));
    const std::string path = dir / "cut.wav";
    for (size_t keep : {size_t(12 + 8), size_t(12 + 8 + 4), size_t(12 + 8 + 15)}) {
        WriteFileBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + std::ptrdiff_t(keep)));
        EXPECT_FALSE(IsWaveFile(path.c_str())) << keep;
        PWaveIOHandle h = nullptr;
        EXPECT_EQ(WaveIOOpen(h, path.c_str()), WaveIOErrFile) << keep;
        EXPECT_EQ(h, nullptr);
    }
    // Cut just behind the format, the file is a wave without samples.
    WriteFileBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + 12 + 8 + 16));
    EXPECT_TRUE(IsWaveFile(path.c_str()));
}

TEST(CreatedWave, SeekingWhileWritingRepositionsTheWrites) {
    // The seek descended with the RIFF record, still of size 0, as parent and failed.
    TempDir dir("dmg");
    const std::string path = dir / "w.wav";
    WAVEFORMATEX pcm{1, 1, 8000, 16000, 2, 16, 0};
    PWaveIOHandle h = nullptr;
    ASSERT_EQ(WaveIOCreateHandle(h, &pcm), 0);
    WaveIOHandlePtr owner(h);
    ASSERT_EQ(WaveIOCreateFile(h, path.c_str()), 0);
    const auto first = MakeTestSamples16(1, 100, 1);
    const auto patch = MakeTestSamples16(1, 10, 7);
    ASSERT_EQ(WaveIOWrite(h, first.data(), int32_t(first.size())), int32_t(first.size()));
    ASSERT_EQ(WaveIOSeek(h, 40), 0);
    EXPECT_EQ(h->position, 40u);
    ASSERT_EQ(WaveIOWrite(h, patch.data(), int32_t(patch.size())), int32_t(patch.size()));
    ASSERT_EQ(WaveIOEndAccess(h), 0);

    std::vector<uint8_t> expected = first;
    std::memcpy(expected.data() + 80, patch.data(), patch.size());
    EXPECT_EQ(OpenAndRead(path), expected);
}

TEST(CreatedWave, AppendingPositionsBehindTheLastSample) {
    TempDir dir("dmg");
    const std::string path = dir / "a.wav";
    const auto first = MakeTestSamples16(1, 300, 3);
    const auto second = MakeTestSamples16(1, 200, 4);
    WriteFileBytes(path, MakePcmWave(1, 8000, 16, first));
    Opened o(path);
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(WaveIOSeekToEnd(o.handle), WaveIOErrFile) << "needs an open file";
    ASSERT_EQ(WaveIOBeginAccess(o.handle), 0);
    ASSERT_EQ(WaveIOSeekToEnd(o.handle), 0);
    EXPECT_EQ(o->position, 300u);
    EXPECT_EQ(o->bytesLeft, 0u);
    ASSERT_EQ(WaveIOWrite(o.handle, second.data(), int32_t(second.size())), int32_t(second.size()));
    ASSERT_EQ(WaveIOEndAccess(o.handle), 0);
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(OpenAndRead(path), expected);
}

// ---- a file written by the real converter to a pipe ----

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

TEST(StreamedWave, FfmpegPipeOutputOpensAndReadsEverySample) {
    TempDir dir("dmg");
    const auto samples = MakeTestSamples16(2, 6000, 11);
    WriteFileBytes(dir / "in.wav", MakePcmWave(2, 22050, 16, samples));
    const std::string piped = dir / "piped.wav";
    std::string arguments = "-i \"";
    arguments += dir / "in.wav";
    arguments += "\" -c:a pcm_s16le -f wav pipe:1";
    ASSERT_TRUE(RunFfmpeg(arguments, dir.path(), std::chrono::seconds(120), piped));
    const auto bytes = ReadFileBytes(piped);
    ASSERT_GT(bytes.size(), 44u);
    // What makes this file hard: the converter could not go back to write sizes.
    ASSERT_EQ(U32At(bytes, 4), 0xFFFFFFFFu) << "ffmpeg wrote a RIFF size: no placeholder to test";
    EXPECT_TRUE(IsWaveFile(piped.c_str()));
    EXPECT_EQ(OpenAndRead(piped), samples);
}

}  // namespace
