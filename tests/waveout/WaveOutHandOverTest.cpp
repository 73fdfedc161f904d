// How a playback's end, Stop, Start and Reset hand over to one another.
#include "support/WaveOutFixtures.h"

#include <atomic>

#include "framework/Forms.h"

namespace waveout_tests {
namespace {

class WaveOutHandOverTest : public WaveOutTest {};

// The end message of the first playback, still queued when a handler ran
// Stop and Start, stopped the second playback as soon as it was dispatched.
TEST_P(WaveOutHandOverTest, AnEarlierPlaybacksEndMessageDoesNotStopTheNextOne) {
    Build(DistinctPcm(1024));  // less than one buffer
    out_->Start();
    HWND window = out_->CallbackWindow();
    ASSERT_NE(window, nullptr);
    // Dispatch only the device's done messages until the end message waits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    MSG message;
    while (!::PeekMessageA(&message, window, WomEndPlay, WomEndPlay, PM_NOREMOVE)) {
        while (::PeekMessageA(&message, window, MM_WOM_DONE, MM_WOM_DONE, PM_REMOVE)) ::DispatchMessageA(&message);
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the playback never posted its end";
        ::Sleep(2);
    }
    // As one handler would: stop, then start again, endless this time.
    out_->Stop();
    EXPECT_EQ(stops_, 1);
    out_->SetLooping(true);
    out_->Start();
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(out_->IsPlaying()) << "the earlier end message stopped the new playback";
    EXPECT_EQ(stops_, 1);
    out_->Stop();
    EXPECT_TRUE(PumpUntil([this] { return stops_ == 2; }));
}

// A reset while the worker refills: the refill in progress ends before the
// ring starts again, and the data then plays from its start to its end.
TEST_P(WaveOutHandOverTest, ResetDuringARefillWaitsForItAndPlaysTheDataToItsEnd) {
    Build(DistinctPcm(4096 * 12));
    std::atomic<int> inLoad{0};
    out_->OnBufferLoad = [&](wc::TComponent*, WaveHdrEx*, bool&) {
        ++inLoad;
        ::Sleep(3);  // a slow source
        --inLoad;
    };
    out_->Start();
    for (int i = 0; i < 5 && out_->IsPlaying(); ++i) {
        PumpUntil([this] { return out_->BytesPlayed() > 0; });
        out_->Reset();
    }
    ASSERT_TRUE(PumpUntil([this] { return stops_ > 0; })) << "playback never ended after the resets";
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(source_->Position(), data_.size());
    EXPECT_EQ(errors_, 0);
}

// A buffer the device handed back while Reset was still queueing the new ring
// was dropped: it was never refilled and the playback never ended.
TEST_P(WaveOutHandOverTest, ABufferBackWhileResetStillQueuesIsRunAndThePlaybackEnds) {
    Build(DistinctPcm(4096 * 12));
    std::atomic<bool> slowLoads{false};
    out_->OnBufferLoad = [&](wc::TComponent*, WaveHdrEx*, bool&) {
        // Long enough for the buffer queued before to come back from the device.
        if (slowLoads.load()) ::Sleep(60);
    };
    out_->Start();
    ASSERT_TRUE(PumpUntil([this] { return out_->BytesPlayed() > 0; }));
    slowLoads = true;
    out_->Reset();
    slowLoads = false;
    ASSERT_TRUE(PumpUntil([this] { return stops_ > 0; }, std::chrono::seconds(5)))
        << "the playback never ended after the reset (outstanding " << out_->Outstanding() << ")";
    EXPECT_EQ(stops_, 1);
    EXPECT_EQ(source_->Position(), data_.size());
    EXPECT_EQ(errors_, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutHandOverTest, ::testing::Values(cmWindow, cmThread),
                         [](const testing::TestParamInfo<TMMCBMode>& info) {
                             return std::string(info.param == cmWindow ? "Window" : "Thread");
                         });

}  // namespace
}  // namespace waveout_tests
