#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Files.h"
#include "framework/Threads.h"
#include "media/codecs/MMADCvt.h"
#include "media/codecs/MMADPCM.h"
#include "media/wave/MMWave.h"
#include "support/ChainFixtures.h"
#include "support/TestSupport.h"

namespace {

using namespace testing_support;

// A chain buffer as a device allocates it: header, then the data.
struct Buffer {
    explicit Buffer(uint32_t size) : block(WaveHdrExSize + size, 0) {
        header()->wh.lpData = reinterpret_cast<LPSTR>(block.data() + WaveHdrExSize);
        header()->wh.dwBufferLength = size;
    }
    WaveHdrEx* header() { return reinterpret_cast<WaveHdrEx*>(block.data()); }
    std::vector<uint8_t> block;
};

class WaveFileChainTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteFileBytes(dir / name, bytes);
        return dir / name;
    }
    // A file source pulled by the test sink, opened and started.
    void PlayFrom(const std::string& path) {
        file.SetFileName(path);
        sink.SetInput(&file);
        file.Opened();
        file.Started();
    }
    TempDir dir{"wavefile"};
    wc::TComponent root{nullptr};
    TMMWaveFile& file = wc::MakeComponent<TMMWaveFile>(root);
    TestSink& sink = wc::MakeComponent<TestSink>(root);
};

TEST_F(WaveFileChainTest, ASourceDeliversTheWholeFileAndItsFormat) {
    const auto data = MakeTestSamples16(2, 5000);
    PlayFrom(Write("s.wav", MakePcmWave(2, 22050, 16, data)));
    ASSERT_NE(sink.PWaveFormat(), nullptr);
    EXPECT_EQ(sink.PWaveFormat()->nSamplesPerSec, 22050u);
    EXPECT_EQ(sink.PWaveFormat()->nChannels, 2);
    EXPECT_TRUE(file.IsFileOpen());
    EXPECT_EQ(sink.PullAll(3000), data);
    file.Closed();
    EXPECT_FALSE(file.IsFileOpen());
    EXPECT_FALSE(file.Wave().IsOpened());
}

TEST_F(WaveFileChainTest, LoopsAreCountedDownAndMarked) {
    const auto data = Counting(1000);
    PlayFrom(Write("l.wav", MakePcmWave(1, 8000, 8, data)));
    int loops = 0;
    file.OnLooping = [&](wc::TComponent* sender) {
        EXPECT_EQ(sender, &file);
        ++loops;
    };
    WaveHdrEx fields{};
    fields.LoopFlag = LongBoolTrue;
    fields.LoopTotal = 2;
    fields.LoopsLeft = 2;
    std::vector<uint8_t> got;
    bool more = true;
    int marks = 0;
    for (int i = 0; i < 100 && more; ++i) {
        fields.LoopMark = 0;
        sink.PullOnce(400, got, more, &fields);
        if (fields.LoopMark) ++marks;
    }
    EXPECT_FALSE(more);
    EXPECT_EQ(loops, 2);
    EXPECT_EQ(marks, 2);
    EXPECT_EQ(fields.LoopsLeft, -1);
    std::vector<uint8_t> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(got, expected);
}

TEST_F(WaveFileChainTest, EndlessLoopingRewindsWithoutCounting) {
    PlayFrom(Write("e.wav", MakePcmWave(1, 8000, 8, Counting(100))));
    WaveHdrEx fields{};
    fields.LoopFlag = LongBoolTrue;
    std::vector<uint8_t> got;
    bool more = false;
    for (int i = 0; i < 7; ++i) sink.PullOnce(50, got, more, &fields);
    EXPECT_TRUE(more);
    EXPECT_EQ(fields.LoopsLeft, 0);
    ASSERT_EQ(got.size(), 350u);
    EXPECT_EQ(got[300], 0);
    EXPECT_EQ(got[349], 49);
}

TEST_F(WaveFileChainTest, StoppedOrDisabledSourcesDeliverSilence) {
    file.SetFileName(Write("q.wav", MakePcmWave(1, 8000, 8, Counting(100))));
    sink.SetInput(&file);
    EXPECT_EQ(file.SilenceByte(), 128);
    file.Opened();
    std::vector<uint8_t> got;
    bool more = false;
    EXPECT_EQ(sink.PullOnce(64, got, more), 64u) << "opened, not started";
    EXPECT_TRUE(more);
    EXPECT_EQ(got, std::vector<uint8_t>(64, 128));
    file.Started();
    file.SetEnabled(false);
    got.clear();
    sink.PullOnce(16, got, more);
    EXPECT_EQ(got, std::vector<uint8_t>(16, 128));
    file.SetEnabled(true);
    got.clear();
    sink.PullOnce(16, got, more);
    EXPECT_EQ(got, std::vector<uint8_t>(Counting(16)));
}

TEST_F(WaveFileChainTest, AnEmptyWaveDeliversNothing) {
    WAVEFORMATEX format = WavePCMFormat(1, 16, 8000);
    file.SetFileName(Write("empty.wav", MakePcmWave(1, 8000, 16, {})));
    sink.SetInput(&file);
    file.Opened();
    EXPECT_FALSE(file.IsFileOpen());
    file.Started();
    EXPECT_TRUE(sink.PullAll(100).empty());
    EXPECT_EQ(sink.PWaveFormat()->nSamplesPerSec, format.nSamplesPerSec);
}

TEST_F(WaveFileChainTest, ASinkWritesWhatItsInputDelivers) {
    const WAVEFORMATEX format = WavePCMFormat(2, 16, 11025);
    const auto data = MakeTestSamples16(2, 3333);
    auto& source = wc::MakeComponent<TestSource>(root, &format, data);
    const auto path = dir / "out.wav";
    Write("out.wav", MakePcmWave(1, 8000, 8, Counting(50000)));  // replaced: OverwriteExisting
    file.Wave().SetFileMustExist(false);
    file.SetFileName(path);
    file.SetInput(&source);
    ASSERT_NE(file.PWaveFormat(), nullptr);
    int opens = 0, closes = 0;
    file.OnOpen = [&](wc::TComponent*) { ++opens; };
    file.OnClose = [&](wc::TComponent*) { ++closes; };
    source.Opened();
    file.Opened();
    source.Started();
    file.Started();
    EXPECT_EQ(opens, 1);
    bool more = true;
    for (int i = 0; i < 100 && more; ++i) {
        Buffer buffer(1000);
        more = false;
        file.BufferLoad(buffer.header(), more);
    }
    file.Closed();
    EXPECT_EQ(closes, 1);

    TMMWave back;
    back.SetFileName(path);
    ASSERT_NE(back.PWaveFormat(), nullptr);
    EXPECT_EQ(back.PWaveFormat()->nSamplesPerSec, 11025u);
    EXPECT_EQ(back.DataSize(), 3333);
    back.OpenFile();
    std::vector<uint8_t> got(data.size() + 100);
    ASSERT_EQ(back.ReadData(got.data(), int32_t(got.size())), int32_t(data.size()));
    got.resize(data.size());
    EXPECT_EQ(got, data);
}

TEST_F(WaveFileChainTest, WithoutOverwriteASinkAppendsBehindTheExistingSamples) {
    // The append started at position 0 and overwrote the existing samples.
    const WAVEFORMATEX format = WavePCMFormat(1, 16, 8000);
    const auto existing = MakeTestSamples16(1, 700, 2);
    const auto added = MakeTestSamples16(1, 450, 6);
    const auto path = Write("append.wav", MakePcmWave(1, 8000, 16, existing));
    auto& source = wc::MakeComponent<TestSource>(root, &format, added);
    file.SetOverwriteExisting(false);
    file.SetFileName(path);
    file.SetInput(&source);
    source.Opened();
    file.Opened();
    source.Started();
    file.Started();
    bool more = true;
    for (int i = 0; i < 100 && more; ++i) {
        Buffer buffer(256);
        more = false;
        file.BufferLoad(buffer.header(), more);
    }
    file.Closed();

    TMMWave back;
    back.SetFileName(path);
    EXPECT_EQ(back.DataSize(), 1150);
    back.OpenFile();
    std::vector<uint8_t> expected = existing;
    expected.insert(expected.end(), added.begin(), added.end());
    std::vector<uint8_t> got(expected.size() + 100);
    ASSERT_EQ(back.ReadData(got.data(), int32_t(got.size())), int32_t(expected.size()));
    got.resize(expected.size());
    EXPECT_EQ(got, expected);
}

TEST_F(WaveFileChainTest, PlayedBuffersAreAppendedToo) {
    const WAVEFORMATEX format = WavePCMFormat(1, 8, 8000);
    auto& source = wc::MakeComponent<TestSource>(root, &format, std::vector<uint8_t>{});
    file.Wave().SetFileMustExist(false);
    file.SetFileName(dir / "played.wav");
    file.SetInput(&source);
    file.Opened();
    file.Started();
    const auto data = Counting(300);
    for (size_t at = 0; at < data.size(); at += 100) {
        Buffer buffer(100);
        std::memcpy(buffer.header()->wh.lpData, data.data() + at, 100);
        buffer.header()->wh.dwBytesRecorded = 100;
        file.BufferReady(buffer.header());
    }
    file.Closed();
    TMMWave back;
    back.SetFileName(dir / "played.wav");
    EXPECT_EQ(back.DataSize(), 300);
}

TEST_F(WaveFileChainTest, AnUnfedSinkStillLeavesAPlayableFile) {
    const WAVEFORMATEX format = WavePCMFormat(1, 16, 8000);
    auto& source = wc::MakeComponent<TestSource>(root, &format, std::vector<uint8_t>{});
    file.Wave().SetFileMustExist(false);
    file.SetFileName(dir / "silent.wav");
    file.SetInput(&source);
    file.Opened();
    file.Closed();
    TMMWave back;
    back.SetFileName(dir / "silent.wav");
    EXPECT_EQ(back.DataSize(), 2) << "4 zero bytes: two 16-bit samples";
}

// Runs a component's Closed on a library worker thread.
class CloseOnWorker : public TMMDSPThread {
public:
    using TMMDSPThread::TMMDSPThread;
    ~CloseOnWorker() override { WaitFor(); }

protected:
    void Run() override { Component()->Closed(); }
};

TEST_F(WaveFileChainTest, OnCloseRunsOnTheMainThreadWhenAWorkerCloses) {
    PlayFrom(Write("w.wav", MakePcmWave(1, 8000, 8, Counting(100))));
    DWORD closedOn = 0;
    bool onDsp = true;
    file.OnClose = [&](wc::TComponent*) {
        closedOn = GetCurrentThreadId();
        onDsp = TMMDSPThread::IsCurrentThreadDSP();
    };
    CloseOnWorker worker(&file);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(PumpUntil([&] { return worker.Finished(); }));
    EXPECT_EQ(closedOn, GetCurrentThreadId());
    EXPECT_FALSE(onDsp);
    EXPECT_FALSE(file.IsFileOpen());
}

TEST(SynchronizeTest, ACallFromAnotherThreadRunsOnTheMainThread) {
    ASSERT_TRUE(wc::IsMainThread());
    EXPECT_EQ(wc::MainThreadId(), GetCurrentThreadId());
    std::atomic<DWORD> ranOn{0};
    std::atomic<bool> done{false};
    std::atomic<bool> workerSawMain{true};
    std::thread worker([&] {
        workerSawMain = wc::IsMainThread();
        wc::Synchronize([&] { ranOn = GetCurrentThreadId(); });
        done = true;
    });
    const bool finished = PumpUntil([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_FALSE(workerSawMain);
    EXPECT_EQ(ranOn.load(), GetCurrentThreadId());
}

TEST(SynchronizeTest, ExceptionsReachTheCallerAndMainThreadCallsRunDirectly) {
    std::atomic<bool> done{false};
    std::string caught;
    std::thread worker([&] {
        try {
            wc::Synchronize([] { throw wc::Exception("from the main thread"); });
        } catch (const wc::Exception& e) {
            caught = e.what();
        }
        done = true;
    });
    const bool finished = PumpUntil([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(caught, "from the main thread");
    int calls = 0;
    wc::Synchronize([&] { ++calls; });  // no message loop needed
    EXPECT_EQ(calls, 1);
}

// ---- a real Microsoft ADPCM file ----

TEST_F(WaveFileChainTest, AnFfmpegAdpcmFileDecodesThroughTheChainAsDirectly) {
    ASSERT_TRUE(wc::FileExists(FfmpegPath())) << FfmpegPath();
    Write("in.wav", MakePcmWave(2, 22050, 16, MakeTestSamples16(2, 30000, 5)));
    ASSERT_TRUE(RunFfmpeg("-i in.wav -c:a adpcm_ms ms.wav", dir.path()));
    const auto encoded = ReadFileBytes(dir / "ms.wav");
    const auto fmt = ChunkOf(encoded, "fmt ");
    const auto data = ChunkOf(encoded, "data");
    ASSERT_GE(fmt.size(), 18u);
    const auto* source = reinterpret_cast<const WAVEFORMATEX*>(fmt.data());
    ASSERT_EQ(source->wFormatTag, 2);

    auto& converter = wc::MakeComponent<TMMADPCMConverter>(root);
    file.SetFileName(dir / "ms.wav");
    converter.SetInput(&file);
    sink.SetInput(&converter);
    ASSERT_NE(sink.PWaveFormat(), nullptr);
    const WAVEFORMATEX pcm = *sink.PWaveFormat();
    ASSERT_EQ(pcm.wFormatTag, WAVE_FORMAT_PCM);
    file.Opened();
    converter.Opened();
    file.Started();
    converter.Started();
    const auto got = sink.PullAll(4096);

    std::vector<uint8_t> expected(MSADPCMDecodedSize(source, &pcm, uint32_t(data.size())));
    expected.resize(DecodeMSADPCM(source, &pcm, data.data(), uint32_t(data.size()), expected.data(),
                                  uint32_t(expected.size())));
    ASSERT_GT(expected.size(), 30000u * 4 - 4096);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

}  // namespace
