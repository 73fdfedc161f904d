#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/MMErrors.h"
#include "media/wave/MMWave.h"
#include "support/TestSupport.h"

namespace {

using namespace testing_support;

// The text of the wave error `call` raises.
std::string Raised(const std::function<void()>& call) { return ErrorText<EMMWaveError>(call); }

// Reads the open wave block by block; the blocks' sizes go to `sizes`.
std::vector<uint8_t> ReadAll(TMMWave& wave, int32_t block, std::vector<int32_t>* sizes = nullptr) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(block);
    for (int i = 0; i < 100000; ++i) {
        const int32_t n = wave.ReadData(buffer.data(), block);
        if (sizes) sizes->push_back(n);
        if (n < 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

class WaveObjectTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir / name;
        WriteFileBytes(path, bytes);
        return path;
    }
    TempDir dir{"wave"};
    TMMWave wave;
};

TEST_F(WaveObjectTest, StartsEmptyWithItsDefaults) {
    EXPECT_TRUE(wave.IsEmpty());
    EXPECT_EQ(wave.Handle(), nullptr);
    EXPECT_TRUE(wave.FileMustExist());
    EXPECT_EQ(wave.TimeFormat(), tfSample);
    EXPECT_EQ(wave.IOBufferSize(), 32768);
    EXPECT_EQ(wave.SampleRate(), 11025);
    EXPECT_EQ(wave.FormatString(), "Unknown");
    EXPECT_EQ(wave.GetPosition(), -1);
    uint8_t buffer[8];
    EXPECT_EQ(wave.ReadData(buffer, 8), -1);
}

TEST_F(WaveObjectTest, DataSizeIsInTheTimeFormatsUnit) {
    const auto path = Write("s.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 4410)));
    wave.SetFileName(path);
    EXPECT_EQ(wave.FileName(), path);
    EXPECT_EQ(wave.DataSize(), 4410);
    wave.SetTimeFormat(tfByte);
    EXPECT_EQ(wave.DataSize(), 4410 * 4);
    wave.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(wave.DataSize(), 100);
    EXPECT_EQ(wave.FormatTag(), WAVE_FORMAT_PCM);
    EXPECT_EQ(wave.BitLength(), 16);
    EXPECT_EQ(wave.Mode(), mStereo);
    EXPECT_EQ(wave.SampleRate(), 44100);
    EXPECT_EQ(wave.FileSize(), 44 + 4410 * 4);
    EXPECT_EQ(wave.FormatString(), "PCM");
}

TEST_F(WaveObjectTest, ANameThatIsNoWaveRaisesAndKeepsThePreviousFile) {
    const auto good = Write("good.wav", MakePcmWave(1, 8000, 8, Counting(800)));
    const auto text = Write("notes.txt", {'h', 'e', 'l', 'l', 'o', '\r', '\n'});
    wave.SetFileName(good);
    EXPECT_EQ(Raised([&] { wave.SetFileName(text); }), "Invalid wave file...");
    EXPECT_EQ(wave.FileName(), good);
    EXPECT_EQ(wave.DataSize(), 800);

    EXPECT_EQ(Raised([&] { wave.SetFileName(dir / "missing.wav"); }), "Error reading wave file");
    EXPECT_EQ(wave.FileName(), good);
    EXPECT_EQ(wave.DataSize(), 800);
}

TEST_F(WaveObjectTest, AMissingFileIsTakenWhenItNeedNotExist) {
    wave.SetFileMustExist(false);
    const auto missing = dir / "later.wav";
    wave.SetFileName(missing);
    EXPECT_EQ(wave.FileName(), missing);
    EXPECT_EQ(wave.PWaveFormat(), nullptr);
    EXPECT_EQ(wave.SampleRate(), 11025);
    EXPECT_EQ(wave.FormatString(), "Unknown");
    EXPECT_TRUE(wave.IsEmpty());
    // A text file still is no wave, whatever FileMustExist says.
    const auto text = Write("t.txt", {'x', 'y', 'z'});
    EXPECT_EQ(Raised([&] { wave.SetFileName(text); }), "Invalid wave file...");
    EXPECT_EQ(wave.FileName(), missing);
}

TEST_F(WaveObjectTest, TheSameNameAgainReparsesOnlyWhenTheSizeChanged) {
    const auto path = Write("a.wav", MakePcmWave(1, 8000, 8, Counting(100)));
    TMMObserver observer;
    int changes = 0;
    observer.OnNotify = [&](TMMObserver*, void*) { ++changes; };
    wave.AddObserver(&observer);
    wave.SetFileName(path);
    wave.SetFileName(path);
    EXPECT_EQ(changes, 1);
    Write("a.wav", MakePcmWave(1, 8000, 8, Counting(300)));
    wave.SetFileName(path);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(wave.DataSize(), 300);
    wave.SetFileName("");
    EXPECT_EQ(changes, 3);
    EXPECT_TRUE(wave.FileName().empty());
    EXPECT_EQ(wave.Handle(), nullptr);
    wave.RemoveObserver(&observer);
}

TEST_F(WaveObjectTest, ReadingBlockByBlockEndsWithAZeroBlockThenMinusOne) {
    const auto data = MakeTestSamples16(2, 3000);  // 12000 bytes: blocks of 5000 leave 2000
    wave.SetFileName(Write("r.wav", MakePcmWave(2, 22050, 16, data)));
    uint8_t probe[16];
    EXPECT_EQ(wave.ReadData(probe, 16), -1) << "not open yet";
    wave.OpenFile();
    EXPECT_TRUE(wave.IsOpened());
    std::vector<int32_t> sizes;
    std::vector<uint8_t> buffer(5000, 0xEE);
    std::vector<uint8_t> got;
    for (int i = 0; i < 10; ++i) {
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        const int32_t n = wave.ReadData(buffer.data(), 5000);
        sizes.push_back(n);
        if (n < 0) break;
        if (n == 4 && got.size() == data.size()) {
            EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4), std::vector<uint8_t>(4, 0));
            continue;
        }
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(sizes, (std::vector<int32_t>{5000, 5000, 2000, 4, -1}));
    EXPECT_EQ(got, data);
    EXPECT_EQ(wave.GetPosition(), 3000);
    wave.CloseFile();
    EXPECT_FALSE(wave.IsOpened());
    EXPECT_EQ(wave.ReadData(probe, 16), -1);
}

TEST_F(WaveObjectTest, PositionsInEachTimeFormatAndPastTheEnd) {
    const auto data = Counting(1000);
    wave.SetFileName(Write("p.wav", MakePcmWave(1, 1000, 8, data)));
    wave.OpenFile();
    wave.SetPosition(600);
    EXPECT_EQ(wave.GetPosition(), 600);
    EXPECT_EQ(wave.BytesLeft(), 400);
    std::vector<int32_t> sizes;
    std::vector<uint8_t> tail(data.begin() + 600, data.end());
    tail.insert(tail.end(), 4, 0);
    EXPECT_EQ(ReadAll(wave, 300, &sizes), tail);
    EXPECT_EQ(sizes, (std::vector<int32_t>{300, 100, 4, -1}));
    wave.SetTimeFormat(tfMillisecond);
    wave.SetPosition(250);  // 1000 samples per second
    EXPECT_EQ(wave.GetPosition(), 250);
    uint8_t byte = 0;
    ASSERT_EQ(wave.ReadData(&byte, 1), 1);
    EXPECT_EQ(byte, data[250]);

    wave.SetTimeFormat(tfSample);
    wave.SetPosition(5000);
    EXPECT_EQ(wave.GetPosition(), 1000);
    uint8_t end[8];
    std::memset(end, 0xEE, sizeof end);
    EXPECT_EQ(wave.ReadData(end, 8), 4);
    EXPECT_EQ(std::vector<uint8_t>(end, end + 4), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(end[4], 0xEE);
    EXPECT_EQ(wave.ReadData(end, 8), -1);
    // Positioning again reads again.
    wave.SetPosition(999);
    ASSERT_EQ(wave.ReadData(end, 8), 1);
    EXPECT_EQ(end[0], data[999]);
}

TEST_F(WaveObjectTest, AnEndBlockNeverRunsPastASmallBuffer) {
    // A 2-byte buffer once took the whole 4-byte end block.
    wave.SetFileName(Write("e.wav", MakePcmWave(1, 8000, 8, Counting(10))));
    wave.OpenFile();
    wave.SetPosition(10);
    uint8_t guard[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(wave.ReadData(guard, 2), 2);
    EXPECT_EQ(guard[0], 0);
    EXPECT_EQ(guard[2], 0xEE);
}

TEST_F(WaveObjectTest, ACutListLeavesItsRangesOut) {
    const auto data = Counting(1000);
    wave.SetFileName(Write("c.wav", MakePcmWave(1, 8000, 8, data)));
    TMMCutList cuts;
    cuts.Add(500, 100);
    cuts.Add(100, 100);
    cuts.Add(150, 100);  // overlaps the one before: 100..250 goes
    cuts.Add(950, 500);  // runs past the end
    wave.SetCutList(&cuts);
    ASSERT_EQ(wave.PlayList().Count(), 3u);
    EXPECT_EQ(wave.PlayList()[1].StartSample, 250);
    EXPECT_EQ(wave.PlayList()[1].Samples, 250);
    EXPECT_EQ(wave.PlayListSamples(), 1000 - 150 - 100 - 50);
    std::vector<uint8_t> expected(data.begin(), data.begin() + 100);
    expected.insert(expected.end(), data.begin() + 250, data.begin() + 500);
    expected.insert(expected.end(), data.begin() + 600, data.begin() + 950);
    wave.OpenFile();
    std::vector<uint8_t> got = ReadAll(wave, 64);
    ASSERT_EQ(got.size(), expected.size() + 4);
    got.resize(expected.size());
    EXPECT_EQ(got, expected);

    // Play-list position 150 is file sample 300.
    wave.SetPosition(150);
    uint8_t byte = 0;
    ASSERT_EQ(wave.ReadData(&byte, 1), 1);
    EXPECT_EQ(byte, data[300]);

    TMMCutList everything;
    everything.Add(0, 5000);
    wave.SetCutList(&everything);
    ASSERT_EQ(wave.PlayList().Count(), 1u);
    EXPECT_EQ(wave.PlayListSamples(), 0);
    EXPECT_EQ(wave.ReadData(&byte, 1), 1) << "the end block, cut to the buffer";
    EXPECT_EQ(wave.ReadData(&byte, 1), -1);
    wave.SetCutList(nullptr);
    EXPECT_EQ(wave.PlayListSamples(), 1000);
}

TEST_F(WaveObjectTest, IOBufferSizeHasAFloor) {
    wave.SetIOBufferSize(1000);
    EXPECT_EQ(wave.IOBufferSize(), 8192);
    wave.SetIOBufferSize(65536);
    EXPECT_EQ(wave.IOBufferSize(), 65536);
    wave.SetFileName(Write("b.wav", MakePcmWave(1, 8000, 8, Counting(100))));
    wave.OpenFile();
    wave.SetIOBufferSize(-5);
    EXPECT_EQ(wave.IOBufferSize(), 8192);
    EXPECT_EQ(ReadAll(wave, 1000).size(), 104u);
}

TEST_F(WaveObjectTest, CorruptFormatsGiveZeroesInsteadOfFaults) {
    struct Case {
        uint16_t tag;
        uint32_t rate, byteRate;
        uint16_t align;
    };
    // PCM fields are recomputed from channels, bits and rate: only a rate of
    // 0 stays corrupt there.
    for (const Case c : {Case{1, 0, 8000, 1}, Case{0x31, 0, 0, 0}, Case{0x31, 8000, 0, 1}, Case{0x31, 0, 8000, 1},
                         Case{0x31, 8000, 8000, 0}}) {
        SCOPED_TRACE(testing::Message() << c.tag << ": " << c.rate << " " << c.byteRate << " " << c.align);
        TMMWave corrupt;
        corrupt.SetFileName(Write("z.wav", MakeWaveOf(FormatFields(c.tag, 1, c.rate, c.byteRate, c.align, 8), Counting(400))));
        for (TMMTimeFormats format : {tfMillisecond, tfByte, tfSample}) {
            corrupt.SetTimeFormat(format);
            EXPECT_EQ(corrupt.DataSize(), 0);
            EXPECT_GE(corrupt.SamplesToTime(1000), 0);
            EXPECT_GE(corrupt.TimeToSamples(1000), 0);
            EXPECT_EQ(corrupt.PlayListTime(), 0);
        }
        EXPECT_TRUE(corrupt.IsEmpty());
        EXPECT_GE(corrupt.SamplesToBytes(100), 0);
        EXPECT_GE(corrupt.BytesToSamples(100), 0);
        corrupt.OpenFile();
        corrupt.SetPosition(100);
        uint8_t buffer[64];
        const int32_t first = corrupt.ReadData(buffer, 64);
        EXPECT_TRUE(first == 4 || first == -1) << first;
        int32_t last = first;
        for (int i = 0; i < 20 && last >= 0; ++i) last = corrupt.ReadData(buffer, 64);
        EXPECT_EQ(last, -1);
        corrupt.CloseFile();
        TMMCutList cuts;
        cuts.Add(10, 10);
        corrupt.SetCutList(&cuts);
        EXPECT_EQ(corrupt.PlayListBytes(), 0);
        corrupt.SetCutList(nullptr);
    }
}

TEST_F(WaveObjectTest, AssignCopiesTheFileAndSettingsOrClears) {
    const auto path = Write("x.wav", MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 500)));
    TMMWave source;
    source.SetFileName(path);
    source.SetTimeFormat(tfByte);
    source.SetIOBufferSize(16384);
    TMMObserver observer;
    int changes = 0;
    observer.OnNotify = [&](TMMObserver*, void*) { ++changes; };
    wave.AddObserver(&observer);
    wave.Assign(&source);
    EXPECT_EQ(changes, 1) << "one change for the whole assignment";
    EXPECT_EQ(wave.FileName(), path);
    EXPECT_EQ(wave.TimeFormat(), tfByte);
    EXPECT_EQ(wave.DataSize(), 1000);
    EXPECT_EQ(wave.IOBufferSize(), 16384);
    wave.Assign(nullptr);
    EXPECT_TRUE(wave.FileName().empty());
    EXPECT_EQ(wave.Handle(), nullptr);
    EXPECT_EQ(changes, 2);
    TMMObject other;
    EXPECT_THROW(wave.Assign(&other), wc::Exception);
    wave.RemoveObserver(&observer);
}

TEST_F(WaveObjectTest, AFailedAssignKeepsThePreviousFile) {
    const auto mine = Write("mine.wav", MakePcmWave(1, 8000, 8, Counting(100)));
    const auto theirs = Write("theirs.wav", MakePcmWave(1, 8000, 8, Counting(200)));
    wave.SetFileName(mine);
    TMMWave source;
    source.SetFileName(theirs);
    ASSERT_TRUE(DeleteFileA(theirs.c_str()));
    EXPECT_EQ(Raised([&] { wave.Assign(&source); }), "Error reading wave file");
    EXPECT_EQ(wave.FileName(), mine);
    EXPECT_EQ(wave.DataSize(), 100);
    // A source whose file need not exist hands on just its name.
    source.SetFileMustExist(false);
    wave.Assign(&source);
    EXPECT_EQ(wave.FileName(), theirs);
    EXPECT_FALSE(wave.FileMustExist());
    EXPECT_EQ(wave.Handle(), nullptr);
}

TEST_F(WaveObjectTest, CreatedFilesHoldWhatWasWritten) {
    const WAVEFORMATEX format = WavePCMFormat(2, 16, 11025);
    const auto samples = MakeTestSamples16(2, 2000);
    const auto path = dir / "new.wav";
    Write("new.wav", {'o', 'l', 'd'});
    wave.CreateFile(path, &format);
    EXPECT_EQ(wave.FileName(), path);
    EXPECT_EQ(wave.WriteData(samples.data(), int32_t(samples.size())), int32_t(samples.size()));
    wave.CloseFile();
    TMMWave back;
    back.SetFileName(path);
    EXPECT_EQ(back.DataSize(), 2000);
    back.OpenFile();
    auto got = ReadAll(back, 4096);
    got.resize(samples.size());
    EXPECT_EQ(got, samples);
}

TEST_F(WaveObjectTest, AFailedCreateKeepsThePreviousWaveAndLeavesNoFile) {
    const auto path = Write("keep.wav", MakePcmWave(1, 8000, 8, Counting(100)));
    wave.SetFileName(path);
    const WAVEFORMATEX format = WavePCMFormat(1, 8, 8000);
    const auto bad = dir / "no such folder\\x.wav";
    EXPECT_EQ(Raised([&] { wave.CreateFile(bad, &format); }), "Unable to create wave file");
    EXPECT_EQ(wave.FileName(), path);
    EXPECT_EQ(wave.DataSize(), 100);
    EXPECT_EQ(GetFileAttributesA(bad.c_str()), INVALID_FILE_ATTRIBUTES);
    // Nothing given: nothing done.
    wave.CreateFile("", &format);
    wave.CreateFile(dir / "y.wav", nullptr);
    EXPECT_EQ(wave.FileName(), path);
}

TEST_F(WaveObjectTest, AttachingAFormatMakesAFilelessWave) {
    const WAVEFORMATEX format = WavePCMFormat(1, 16, 22050);
    wave.CreateFromFormat(&format);
    ASSERT_NE(wave.PWaveFormat(), nullptr);
    EXPECT_EQ(wave.SampleRate(), 22050);
    EXPECT_TRUE(wave.FileName().empty());
    EXPECT_TRUE(wave.IsEmpty());
    WaveIOHandle* held = wave.Handle();
    PWaveIOHandle raw = held;
    wave.AttachHandle(WaveIOHandlePtr(raw));  // the handle already held: nothing
    EXPECT_EQ(wave.Handle(), held);
    wave.ClearWave();
    EXPECT_EQ(wave.Handle(), nullptr);
}

}  // namespace

namespace {

TEST_F(WaveObjectTest, DeliversTheDeclaredSamplesAndNothingBehindThem) {
    // A last data chunk was read to the end of the file: pad bytes, appended
    // tags and bytes behind a smaller size were delivered as samples.
    for (const TrailedWave& trailed : WavesWithTrailers()) {
        SCOPED_TRACE(trailed.name);
        wave.SetTimeFormat(tfByte);
        wave.SetFileName(Write(std::string(trailed.name) + ".wav", trailed.file));
        EXPECT_EQ(wave.DataSize(), int64_t(trailed.samples.size()));
        wave.OpenFile();
        std::vector<uint8_t> expected = trailed.samples;
        expected.insert(expected.end(), 4, 0);  // the end block
        EXPECT_EQ(ReadAll(wave, 512), expected);
        wave.CloseFile();
    }
}

}  // namespace
