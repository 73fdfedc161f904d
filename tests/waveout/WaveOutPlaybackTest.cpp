#include "support/WaveOutFixtures.h"

#include <atomic>
#include <thread>

namespace waveout_tests {
namespace {

// A source that goes back to its start when the chain is rewound.
class RewindingSource : public testing_support::TestSource {
public:
    using TestSource::TestSource;
    void Rewound() override {
        ++rewinds;
        TestSource::Started();
    }
    int rewinds = 0;
};

const std::string StartFailure = "WaveOutStart:\n\rUnable to start device";

TEST_P(WaveOutTest, APcmSourcePlaysCompletelyAndEveryByteReachesTheDevice) {
    Build(DistinctPcm(4096 * 5 + 1000));
    PlayToEnd();
    EXPECT_EQ(starts_, 1);
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(stopThread_, ::GetCurrentThreadId()) << "OnStop must fire on the user-interface thread";
    EXPECT_FALSE(out_->IsPlaying());
    EXPECT_TRUE(out_->State() & wosOpen);
    EXPECT_EQ(out_->BytesPlayed(), static_cast<int64_t>(data_.size()));
    out_->Close();
    EXPECT_EQ(out_->State(), wosClosed);
    EXPECT_TRUE(ContainsRun(ReadCapture(), data_));
}

TEST_P(WaveOutTest, ASourceShorterThanOneBufferPlaysAndStopsOnce) {
    Build(DistinctPcm(1000));
    PlayToEnd();
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));  // a second stop would show up here
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(source_->Pulls(), 1);
    out_->Close();
    EXPECT_TRUE(ContainsRun(ReadCapture(), data_));
}

TEST_P(WaveOutTest, ASourceWithNoDataFailsToStartAndLeavesTheDeviceClosed) {
    Build({});
    EXPECT_EQ(FailureOf([this] { out_->Start(); }), StartFailure);
    EXPECT_EQ(out_->State(), wosClosed);
    EXPECT_EQ(out_->Handle(), nullptr);
    EXPECT_GE(errors_, 1);
    // The device is usable again afterwards.
    source_ = &wc::MakeComponent<testing_support::TestSource>(root_, &format_, DistinctPcm(3000));
    out_->SetInput(source_);
    stops_ = 0;
    PlayToEnd();
    EXPECT_EQ(stops_, 1);
}

TEST_P(WaveOutTest, PauseBeforeStartQueuesButStaysSilentUntilRestart) {
    Build(DistinctPcm(4096 * 3));
    out_->Pause();
    EXPECT_TRUE(out_->State() & wosOpen);
    out_->Start();
    EXPECT_TRUE(out_->IsPlaying());
    EXPECT_EQ(out_->Outstanding(), 3);
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(stops_, 0);
    EXPECT_EQ(out_->GetPosition(), 0) << "the device played while paused";
    out_->Restart();
    ASSERT_TRUE(PumpUntil([this] { return stops_ > 0; }));
    out_->Close();
    EXPECT_TRUE(ContainsRun(ReadCapture(), data_));
}

TEST_P(WaveOutTest, LoopingWithLoopCountTwoPlaysTheDataThreeTimes) {
    Build(DistinctPcm(6000));
    out_->SetLooping(true);
    out_->SetLoopCount(2);
    PlayToEnd();
    EXPECT_EQ(loops_, 2);
    EXPECT_EQ(out_->BytesPlayed(), 3 * 6000);
    out_->Close();
    std::vector<uint8_t> threeTimes;
    for (int i = 0; i < 3; ++i) threeTimes.insert(threeTimes.end(), data_.begin(), data_.end());
    const auto captured = ReadCapture();
    EXPECT_TRUE(ContainsRun(captured, threeTimes));
    EXPECT_EQ(CountRuns(captured, data_), 3);
}

TEST_P(WaveOutTest, StopAskedForDuringARefillCompletesAfterItAndFiresOnStopOnce) {
    Build(DistinctPcm(4096 * 40));
    int loads = 0;
    out_->OnBufferLoad = [&](wc::TComponent*, WaveHdrEx*, bool&) {
        if (out_->IsPlaying() && ++loads == 3) out_->Stop();
    };
    out_->Start();
    ASSERT_TRUE(PumpUntil([this] { return stops_ > 0; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(stopThread_, ::GetCurrentThreadId());
    EXPECT_FALSE(out_->IsPlaying());
    EXPECT_EQ(out_->Outstanding(), 0);
    EXPECT_LT(source_->Position(), data_.size()) << "the stop did not end the playback";
    // The next playback starts from the beginning and runs to the end.
    out_->OnBufferLoad = nullptr;
    stops_ = 0;
    PlayToEnd();
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(source_->Position(), data_.size());
}

TEST_P(WaveOutTest, CloseAskedForDuringARefillClosesOnceTheRefillIsDone) {
    Build(DistinctPcm(4096 * 40));
    int loads = 0, closes = 0;
    int64_t positionWhilePending = -1;
    out_->OnClose = [&](wc::TComponent*) { ++closes; };
    out_->OnBufferLoad = [&](wc::TComponent*, WaveHdrEx*, bool&) {
        if (!out_->IsPlaying() || ++loads != 3) return;
        out_->Close();
        positionWhilePending = out_->GetPosition();
    };
    out_->Start();
    ASSERT_TRUE(PumpUntil([this] { return out_->State() == wosClosed; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(positionWhilePending, 0) << "a close waiting for the refill reports no position";
    EXPECT_EQ(out_->Handle(), nullptr);
    EXPECT_EQ(TMMDSPThread::LiveCount(), 0u);
}

TEST_P(WaveOutTest, StopFromAnotherThreadEndsOnTheUserInterfaceThread) {
    Build(DistinctPcm(4096 * 60));
    out_->Start();
    PumpUntil([this] { return out_->BytesPlayed() > 0; });
    std::atomic<bool> stopped{false};
    std::thread other([&] {
        out_->Stop();
        stopped = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return stopped.load() && stops_ > 0; }));
    other.join();
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(stopThread_, ::GetCurrentThreadId());
    EXPECT_FALSE(out_->IsPlaying());
    std::thread closer([&] { out_->Close(); });
    PumpUntil([&] { return out_->State() == wosClosed; });
    closer.join();
    EXPECT_EQ(out_->State(), wosClosed);
}

TEST_P(WaveOutTest, GetPositionNeverDecreasesAndEndsAtTheDataLength) {
    Build(DistinctPcm(4096 * 8));
    out_->SetTimeFormat(tfByte);
    std::vector<int64_t> readings;
    out_->OnBufferReady = [&](wc::TComponent*, WaveHdrEx*) { readings.push_back(out_->GetPosition()); };
    out_->Start();
    ASSERT_TRUE(PumpUntil([&] {
        if (out_->IsPlaying()) readings.push_back(out_->GetPosition());
        return stops_ > 0;
    }));
    ASSERT_FALSE(readings.empty());
    for (size_t i = 1; i < readings.size(); ++i) ASSERT_GE(readings[i], readings[i - 1]) << "at reading " << i;
    EXPECT_EQ(readings.back(), static_cast<int64_t>(data_.size()));
}

TEST_P(WaveOutTest, ResetPlaysTheDataAgainFromTheStart) {
    Build(DistinctPcm(4096 * 6));
    auto& rewinding = wc::MakeComponent<RewindingSource>(root_, &format_, data_);
    out_->SetInput(&rewinding);
    out_->Pause();
    out_->Start();
    out_->Reset();
    EXPECT_TRUE(out_->IsPlaying());
    EXPECT_EQ(out_->Outstanding(), 4);
    EXPECT_EQ(rewinding.rewinds, 1);
    EXPECT_EQ(rewinding.Position(), 4096u * 4) << "the refill did not start from the beginning";
    out_->Restart();
    ASSERT_TRUE(PumpUntil([this] { return stops_ > 0; }));
    EXPECT_EQ(stops_, 1);
    out_->Close();
    EXPECT_TRUE(ContainsRun(ReadCapture(), data_));
}

TEST_P(WaveOutTest, PauseDuringPlaybackHoldsThePositionUntilRestart) {
    Build(DistinctPcm(4096 * 30));
    int pauses = 0, restarts = 0;
    out_->OnPause = [&](wc::TComponent*) { ++pauses; };
    out_->OnRestart = [&](wc::TComponent*) { ++restarts; };
    out_->Start();
    ASSERT_TRUE(PumpUntil([this] { return out_->BytesPlayed() >= 4096; }));
    out_->Pause();
    EXPECT_EQ(pauses, 1);
    EXPECT_TRUE(out_->State() & wosPaused);
    // What the driver had already taken still drains; then the count holds.
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    out_->SetTimeFormat(tfSample);
    const int64_t samples = out_->GetPosition();
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(out_->GetPosition(), samples) << "the device went on playing while paused";
    EXPECT_GT(samples, 0);
    out_->SetTimeFormat(tfByte);
    EXPECT_EQ(out_->GetPosition(), samples * format_.nBlockAlign);
    out_->SetTimeFormat(tfMillisecond);
    EXPECT_EQ(out_->GetPosition(), WaveSamplesToMs64(&format_, samples));
    EXPECT_EQ(stops_, 0);
    out_->Restart();
    EXPECT_EQ(restarts, 1);
    EXPECT_FALSE(out_->State() & wosPaused);
    ASSERT_TRUE(PumpUntil([this] { return stops_ > 0; }));
    EXPECT_EQ(stops_, 1);
    out_->Close();
    EXPECT_TRUE(ContainsRun(ReadCapture(), data_));
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutTest, ::testing::Values(cmWindow, cmThread),
                         [](const auto& info) { return info.param == cmWindow ? "Window" : "Thread"; });

}  // namespace
}  // namespace waveout_tests
