// Start, Stop, Reset and Close from the user-interface thread racing the
// refill of the callback mode, while two other threads burn the processor.
#include "support/WaveOutFixtures.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "framework/Forms.h"
#include "media/playback/MMDSPObj.h"

namespace waveout_tests {
namespace {

// Rounds per callback mode: on the shared two-core test machine a round
// takes 60 to 250 ms (a Stop from another thread and a Reset played to the
// end the longest), so both modes take two to four minutes.
constexpr int StressRounds = 1000;
// A round that has not ended by then is taken as hung.
constexpr auto RoundLimit = std::chrono::seconds(10);

// A thread of its own that calls Stop when asked, so the call is marshalled
// to the thread that pumps; one for all rounds rather than one per round.
class OtherThreadStopper {
public:
    explicit OtherThreadStopper(TMMWaveOut* out) : out_(out), thread_([this] { Serve(); }) {}
    ~OtherThreadStopper() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            quit_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void Ask() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            asked_ = true;
            done_ = false;
        }
        wake_.notify_one();
    }
    bool Done() const { return done_.load(); }

private:
    void Serve() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [this] { return asked_ || quit_; });
            if (quit_) return;
            asked_ = false;
            hold.unlock();
            try {
                out_->Stop();
            } catch (...) {
                // A failed Stop has fired OnError, which the rounds count.
            }
            done_ = true;
            hold.lock();
        }
    }
    TMMWaveOut* out_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool asked_ = false;
    bool quit_ = false;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Keeps both processors busy while it lives, so the threads of the wave
// output are pre-empted at arbitrary points.
class CpuBurners {
public:
    CpuBurners() {
        for (auto& thread : threads_)
            thread = std::thread([this] {
                uint32_t spin = 1;
                while (!quit_.load(std::memory_order_relaxed)) spin = spin * 1103515245u + 12345u;
                sink_.fetch_add(spin, std::memory_order_relaxed);
            });
    }
    ~CpuBurners() {
        quit_ = true;
        for (auto& thread : threads_) thread.join();
    }

private:
    std::atomic<bool> quit_{false};
    std::atomic<uint32_t> sink_{0};
    std::thread threads_[2];
};

class WaveOutStressTest : public WaveOutTest {
protected:
    // Every header queued this round, to look at once the playback is over.
    void TrackHeaders() {
        out_->OnBufferFilled = [this](wc::TComponent*, WaveHdrEx* header) {
            std::lock_guard<std::mutex> hold(lock_);
            headers_.insert(header);
        };
    }
    // After a stop, no header may still be prepared or on the device.
    void ExpectHeadersLetGo(int round) {
        std::lock_guard<std::mutex> hold(lock_);
        for (WaveHdrEx* header : headers_) {
            EXPECT_EQ(header->wh.dwFlags & (WHDR_PREPARED | WHDR_INQUEUE), 0u)
                << "round " << round << ": a header is still prepared after the stop";
        }
        headers_.clear();
    }

    std::mutex lock_;
    std::set<WaveHdrEx*> headers_;
};

TEST_P(WaveOutStressTest, StartStopResetAndCloseRacingTheRefillEndEveryPlaybackOnce) {
    // 16 buffers of 512 bytes: under 50 ms of sound, yet a dozen refills when
    // a round plays it to the end.
    Build(DistinctPcm(512 * 16));
    out_->SetBufferSize(512);
    TrackHeaders();
    // A refill that takes a moment widens the window a stop can fall into.
    out_->OnBufferLoad = [](wc::TComponent*, WaveHdrEx*, bool&) { ::Sleep(0); };
    OtherThreadStopper stopper(out_);
    CpuBurners burners;
    int expectedStops = 0;
    for (int round = 0; round < StressRounds; ++round) {
        const int kind = round % 5;
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_NO_THROW(out_->Start()) << "round " << round;
        ++expectedStops;
        // Let a few buffers come back so that refills are under way.
        PumpUntil([this] { return out_->BytesPlayed() > 0 || !out_->IsPlaying(); }, RoundLimit);
        switch (kind) {
            case 0: out_->Stop(); break;
            case 1:
                out_->Reset();
                out_->Stop();
                break;
            case 2: out_->Close(); break;
            case 3:
                // Marshalled to this thread while it pumps.
                stopper.Ask();
                PumpUntil([&] { return stopper.Done(); }, RoundLimit);
                break;
            case 4:
                // Back to the start, then played to its end.
                out_->Reset();
                break;
        }
        ASSERT_TRUE(PumpUntil([&] { return stops_ >= expectedStops && !out_->IsPlaying(); }, RoundLimit))
            << "round " << round << " (kind " << kind << "): OnStop never fired, the stop was lost (state "
            << out_->State() << ", outstanding " << out_->Outstanding() << ", source at " << source_->Position()
            << " of " << data_.size() << ", stops " << stops_ << " of " << expectedStops << ")";
        ASSERT_EQ(stops_, expectedStops) << "round " << round << ": OnStop fired more than once";
        EXPECT_EQ(out_->Outstanding(), 0) << "round " << round;
        ExpectHeadersLetGo(round);
        ASSERT_LT(std::chrono::steady_clock::now() - begin, RoundLimit) << "round " << round << " hung";
        // Now and then the blocks are given back and taken anew.
        if (round % 25 == 24) {
            out_->Close();
            out_->SetBufferSize(out_->BufferSize() == 512 ? 768 : 512);
        }
    }
    // No late end message stops anything twice.
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(stops_, expectedStops);
    EXPECT_EQ(errors_, 0);
}

// cmCallback is not among them: it refills inside the device's callback,
// calling wave functions there, which only Windows 95 allows. NT-family
// systems, Wine included, deadlock on it (a copy of this program that Wine
// reported as Windows 95 hung in the rounds); WaveOutCallbackMode in
// the waveout tests checks which systems take the mode.
INSTANTIATE_TEST_SUITE_P(Modes, WaveOutStressTest, ::testing::Values(cmWindow, cmThread),
                         [](const testing::TestParamInfo<TMMCBMode>& info) {
                             return std::string(info.param == cmWindow ? "Window" : "Thread");
                         });

// The worker reported its failure through the application's handler while
// the destructor was joining it: a handler that needs this thread hung both.
TEST(WaveOutWorkerFailure, DestructionWhileTheWorkerFailsEndsAndTheFailureIsReportedOnTheWindowThread) {
    if (std::getenv("WC_WAVEOUT_NODEVICE")) GTEST_SKIP() << "no wave output device in this run";
    WAVEFORMATEX format = testing_support::PcmFormat(2, 16, 44100);
    // A window of this thread that the handler must reach, as a message box
    // owned by the main window would.
    wc::WindowHandle window(::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                              ::GetModuleHandleA(nullptr), nullptr));
    ASSERT_TRUE(window);
    const DWORD uiThread = ::GetCurrentThreadId();
    std::atomic<DWORD> reportedOn{0};
    std::atomic<bool> reachedWindow{true};
    wc::Application().OnException = [&](const std::exception&) {
        reportedOn = ::GetCurrentThreadId();
        DWORD_PTR ignored = 0;
        if (!::SendMessageTimeoutA(window.get(), WM_NULL, 0, 0, SMTO_NORMAL, 3000, &ignored)) reachedWindow = false;
    };
    for (int round = 0; round < 20; ++round) {
        auto source = std::make_unique<FailingSource>(nullptr, &format);
        auto out = std::make_unique<TMMWaveOut>(nullptr);
        out->SetCallBackMode(cmThread);
        out->SetNumBuffers(2);
        out->SetBufferSize(1024);
        out->SetInput(source.get());
        out->Start();
        // The worker's failing refill is the third load.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (source->loads.load() < 3 && std::chrono::steady_clock::now() < end) ::Sleep(0);
        ASSERT_GE(source->loads.load(), 3) << "the worker never refilled";
        out.reset();
        EXPECT_EQ(TMMDSPThread::LiveCount(), 0u);
    }
    wc::Application().OnException = nullptr;
    EXPECT_TRUE(reachedWindow.load()) << "the failure was reported while this thread could not answer";
    if (reportedOn.load() != 0) {
        EXPECT_EQ(reportedOn.load(), uiThread) << "reported on the worker";
    }
}

}  // namespace
}  // namespace waveout_tests
