#include "support/WaveOutFixtures.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "framework/Forms.h"
#include "media/codecs/MMADCvt.h"
#include "media/codecs/MMADPCM.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"

namespace waveout_tests {
namespace {

const std::string WhileOpen = "Change to property while device was open";
const std::string NoDevice = "No wave audio playing device found";

// Properties and single operations, on one device, in window mode.
class WaveOutDeviceTest : public WaveOutTest {};

TEST_P(WaveOutDeviceTest, NumBuffersIgnoresOneAndLessAndStoresAtMost500) {
    TMMWaveOut out(nullptr);
    EXPECT_EQ(out.NumBuffers(), 10);
    out.SetNumBuffers(1);
    EXPECT_EQ(out.NumBuffers(), 10);
    out.SetNumBuffers(0);
    EXPECT_EQ(out.NumBuffers(), 10);
    out.SetNumBuffers(-3);
    EXPECT_EQ(out.NumBuffers(), 10);
    out.SetNumBuffers(501);
    EXPECT_EQ(out.NumBuffers(), 500);
    out.SetNumBuffers(2);
    EXPECT_EQ(out.NumBuffers(), 2);
}

TEST_P(WaveOutDeviceTest, BufferSizeBelow32IsStoredAs32) {
    TMMWaveOut out(nullptr);
    EXPECT_EQ(out.BufferSize(), 2048);
    out.SetBufferSize(10);
    EXPECT_EQ(out.BufferSize(), 32);
    out.SetBufferSize(32768);
    EXPECT_EQ(out.BufferSize(), 32768);
}

TEST_P(WaveOutDeviceTest, DeviceIdMinusOneIsTheMapperAndAnIdOutOfRangeIsRefusedAtOpen) {
    Build(DistinctPcm(3000));
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(out_->DeviceID(), 0);
    EXPECT_EQ(out_->ProductName(), caps.szPname);

    out_->SetDeviceID(MapperId);
    EXPECT_EQ(out_->DeviceID(), MapperId);
    EXPECT_NE(out_->ProductName(), NoDevice);
    PlayToEnd();
    EXPECT_EQ(stops_, 1);
    out_->Close();

    out_->SetDeviceID(TMMWaveOut::NumDevs());
    EXPECT_EQ(out_->DeviceID(), InvalidId);
    EXPECT_EQ(out_->ProductName(), NoDevice);
    EXPECT_EQ(FailureOf([this] { out_->Start(); }), "Invalid DeviceID");
    EXPECT_EQ(out_->State(), wosClosed);
    out_->SetDeviceID(-7);
    EXPECT_EQ(out_->DeviceID(), InvalidId);
}

TEST_P(WaveOutDeviceTest, ChangingADevicePropertyWhileOpenIsRefusedWithTheMessage) {
    Build(DistinctPcm(3000));
    out_->Open();
    ASSERT_TRUE(out_->State() & wosOpen);
    EXPECT_EQ(FailureOf([this] { out_->SetBufferSize(8192); }), WhileOpen);
    EXPECT_EQ(FailureOf([this] { out_->SetNumBuffers(7); }), WhileOpen);
    EXPECT_EQ(FailureOf([this] { out_->SetDeviceID(0); }), WhileOpen) << "refused even when unchanged";
    EXPECT_EQ(FailureOf([this] { out_->SetCallBackMode(GetParam()); }), WhileOpen);
    EXPECT_EQ(out_->NumBuffers(), 4);
    EXPECT_EQ(out_->CallBackMode(), GetParam());
    // Unchanged or ignored values pass silently.
    EXPECT_EQ(FailureOf([this] { out_->SetBufferSize(4096); }), "(nothing raised)");
    EXPECT_EQ(FailureOf([this] { out_->SetNumBuffers(4); }), "(nothing raised)");
    EXPECT_EQ(FailureOf([this] { out_->SetNumBuffers(1); }), "(nothing raised)");
    out_->Close();
    out_->SetNumBuffers(7);
    EXPECT_EQ(out_->NumBuffers(), 7);
    out_->SetBufferSize(8192);
    EXPECT_EQ(out_->BufferSize(), 8192);
}

TEST_P(WaveOutDeviceTest, OpeningWithoutAFormatFails) {
    TMMWaveOut out(nullptr);
    EXPECT_EQ(FailureOf([&] { out.Open(); }), "WaveOutOpen:\n\rInvalid wave format");
    EXPECT_EQ(out.State(), wosClosed);
    EXPECT_EQ(out.GetPosition(), 0);
}

TEST_P(WaveOutDeviceTest, QueryFormatAsksTheDeviceWithoutOpeningIt) {
    const WAVEFORMATEX pcm = testing_support::PcmFormat(2, 16, 44100);
    EXPECT_TRUE(TMMWaveOut::QueryFormat(0, &pcm));
    EXPECT_TRUE(TMMWaveOut::QueryFormat(MapperId, &pcm));
    EXPECT_FALSE(TMMWaveOut::QueryFormat(TMMWaveOut::NumDevs(), &pcm));
    EXPECT_FALSE(TMMWaveOut::QueryFormat(InvalidId, &pcm));
    EXPECT_FALSE(TMMWaveOut::QueryFormat(0, nullptr));
}

TEST_P(WaveOutDeviceTest, CallbackModeOutsideWindows95ShowsTheMessageAndKeepsTheMode) {
    TMMWaveOut out(nullptr);
    out.SetCallBackMode(GetParam());
    std::wstring text;
    testing_support::RunDriven([&] { out.SetCallBackMode(cmCallback); return true; }, [&](HWND box) {
        text = testing_support::MessageBoxText(box);
        testing_support::PressOk(box);
    });
    EXPECT_EQ(out.CallBackMode(), GetParam());
    EXPECT_NE(text.find(L"\"CallBacks\" are called at interrupt time !"), std::wstring::npos);
    EXPECT_NE(text.find(L"This is currently only supported under Windows 95"), std::wstring::npos);
}

TEST_P(WaveOutDeviceTest, DestroyingAPlayingComponentClosesItWithoutOnStop) {
    auto source = std::make_unique<testing_support::TestSource>(nullptr, &format_, DistinctPcm(4096 * 80));
    auto out = std::make_unique<TMMWaveOut>(nullptr);
    out->SetCallBackMode(GetParam());
    out->SetInput(source.get());
    int stops = 0, closes = 0;
    out->OnStop = [&](wc::TComponent*) { ++stops; };
    out->OnClose = [&](wc::TComponent*) { ++closes; };
    out->Start();
    PumpUntil([&] { return out->BytesPlayed() > 0; });
    ASSERT_TRUE(out->IsPlaying());
    out.reset();
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(TMMDSPThread::LiveCount(), 0u);
    EXPECT_EQ(source->Output(), nullptr);
}

TEST_P(WaveOutDeviceTest, ARefillWithoutTheAnnouncedDataClosesTheDeviceAndReportsTheFailure) {
    auto& source = wc::MakeComponent<FailingSource>(root_, &format_);
    out_ = &wc::MakeComponent<TMMWaveOut>(root_);
    out_->SetCallBackMode(GetParam());
    out_->SetNumBuffers(2);
    out_->SetInput(&source);
    std::atomic<int> errors{0};
    out_->OnError = [&](wc::TComponent*) { ++errors; };
    std::mutex lock;
    std::string reported;
    wc::Application().OnException = [&](const std::exception& error) {
        std::lock_guard<std::mutex> hold(lock);
        reported = error.what();
    };
    out_->Start();
    // The failure is closed and reported on this thread in every mode, once
    // the message the worker posted is dispatched: the handler stays until
    // the report is in, or the default handler would show a message box.
    const bool closed = PumpUntil([&] {
        std::lock_guard<std::mutex> hold(lock);
        return out_->State() == wosClosed && !reported.empty();
    });
    wc::Application().OnException = nullptr;
    ASSERT_TRUE(closed);
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(reported, "Error filling wave buffer");
    // A failed worker has ended; the next close lets go of it.
    EXPECT_TRUE(PumpUntil([this] {
        out_->Close();
        return TMMDSPThread::LiveCount() == 0;
    }));
    EXPECT_GE(errors.load(), 1);
    EXPECT_FALSE(out_->IsPlaying());
}

TEST_P(WaveOutDeviceTest, AdpcmThroughTheConverterPlaysAsItsDirectDecode) {
    const MSADPCMWaveFormat adpcm = testing_support::MsAdpcmFormat(2, 1024);
    const std::vector<uint8_t> data = testing_support::RandomMsAdpcmBlocks(adpcm, 12, 11);

    auto& source = wc::MakeComponent<testing_support::TestSource>(root_, &adpcm.wfx, data);
    auto& converter = wc::MakeComponent<TMMADPCMConverter>(root_);
    converter.SetInput(&source);
    out_ = &wc::MakeComponent<TMMWaveOut>(root_);
    out_->SetCallBackMode(GetParam());
    out_->SetInput(&converter);
    out_->OnStop = [this](wc::TComponent*) { ++stops_; };
    ASSERT_NE(out_->PWaveFormat(), nullptr);
    const WAVEFORMATEX pcm = *out_->PWaveFormat();
    ASSERT_EQ(pcm.wFormatTag, WAVE_FORMAT_PCM);
    std::vector<uint8_t> expected(MSADPCMDecodedSize(&adpcm.wfx, &pcm, static_cast<uint32_t>(data.size())));
    expected.resize(DecodeMSADPCM(&adpcm.wfx, &pcm, data.data(), static_cast<uint32_t>(data.size()), expected.data(),
                                  static_cast<uint32_t>(expected.size())));
    ASSERT_FALSE(expected.empty());
    PlayToEnd();
    EXPECT_EQ(out_->BytesPlayed(), static_cast<int64_t>(expected.size()));
    out_->Close();
    EXPECT_TRUE(ContainsRun(ReadCapture(), expected));
}

TEST_P(WaveOutDeviceTest, ThreadPrioritiesMapToTheSystemLevels) {
    const int expected[] = {-15, -2, -1, 0, 1, 2, 15};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(SystemThreadPriority(static_cast<TMMThreadPriority>(i)), expected[i]);
}

TEST_P(WaveOutDeviceTest, ErrorFiresOnErrorBeforeRaising) {
    TMMWaveOut out(nullptr);
    int errors = 0;
    out.OnError = [&](wc::TComponent*) { ++errors; };
    EXPECT_EQ(FailureOf([&] { out.Error("boom"); }), "boom");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(WaveOutErrorText(0xFFFF), "Specified error number is out of range (unknown error)");
    EXPECT_NE(WaveOutErrorText(MMSYSERR_NOMEM), WaveOutErrorText(0xFFFF));
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutDeviceTest, ::testing::Values(cmWindow, cmThread),
                         [](const auto& info) { return info.param == cmWindow ? "Window" : "Thread"; });

// ---- a system without a wave output device (its own run) ----

class WaveOutNoDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("WC_WAVEOUT_NODEVICE")) GTEST_SKIP() << "this run has a wave output device";
    }
};

TEST_F(WaveOutNoDeviceTest, StartingReportsThatThereIsNoDevice) {
    ASSERT_EQ(TMMWaveOut::NumDevs(), 0);
    wc::TComponent root(nullptr);
    const WAVEFORMATEX pcm = testing_support::PcmFormat(2, 16, 44100);
    auto& source = wc::MakeComponent<testing_support::TestSource>(root, &pcm, DistinctPcm(3000));
    auto& out = wc::MakeComponent<TMMWaveOut>(root);
    out.SetInput(&source);
    EXPECT_EQ(out.ProductName(), NoDevice);
    EXPECT_EQ(FailureOf([&] { out.Start(); }), NoDevice);
    EXPECT_EQ(FailureOf([&] { out.Pause(); }), NoDevice);
    EXPECT_EQ(out.State(), wosClosed);
    EXPECT_FALSE(TMMWaveOut::QueryFormat(MapperId, &pcm));
    out.SetDeviceID(0);
    EXPECT_EQ(out.DeviceID(), InvalidId) << "0 is not below a device count of 0";
    EXPECT_EQ(out.ProductName(), NoDevice);
    out.SetDeviceID(MapperId);
    EXPECT_EQ(FailureOf([&] { out.Start(); }), NoDevice);
}

}  // namespace
}  // namespace waveout_tests

namespace waveout_tests {
namespace {

TEST(WaveOutWrapTracker, ACounterThatWrapsKeepsThePositionIncreasing) {
    WaveOutWrapTracker tracker;
    int64_t previous = -1;
    // A counter that runs to 0x2FFFFF and starts again from 0, twice.
    for (uint32_t step = 0; step < 60; ++step) {
        const uint32_t reading = (step % 20) * 0x26666;
        tracker.Update(reading);
        const int64_t position = tracker.Unwrapped(reading);
        EXPECT_GT(position, previous) << "at step " << step;
        previous = position;
    }
    EXPECT_EQ(tracker.wrapCount, 2u);
    EXPECT_EQ(tracker.wrapSpan, (19u * 0x26666) | 0xFFFFFu);
}

TEST(WaveOutWrapTracker, ASmallStepBackIsNoWrap) {
    WaveOutWrapTracker tracker;
    tracker.Update(100000);
    tracker.Update(100000 - 0xFFFE);
    EXPECT_EQ(tracker.wrapCount, 0u);
    tracker.Update(100000);
    tracker.Update(100000 - 0xFFFF);
    EXPECT_EQ(tracker.wrapCount, 1u);
}

}  // namespace
}  // namespace waveout_tests
