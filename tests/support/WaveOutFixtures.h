// Playing through the real wave output: a source, the wave output, counters
// of its events, and the bytes the redirected ALSA device received.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "media/playback/MMWavOut.h"
#include "AudioFixtures.h"
#include "ChainFixtures.h"
#include "TestSupport.h"

namespace waveout_tests {

// The file the ALSA default device writes to; empty when not redirected.
std::string CapturePath();
std::vector<uint8_t> ReadCapture();
// Whether `needle` occurs in `haystack` as one contiguous run.
bool ContainsRun(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle);
// How often `needle` occurs in `haystack`, runs not overlapping.
int CountRuns(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle);
// Samples no run of silence can be taken for: no two equal bytes in a row.
std::vector<uint8_t> DistinctPcm(size_t bytes, uint32_t seed = 7);
// Dispatches this thread's messages until `done` holds or the time is up.
using testing_support::PumpUntil;
// The text of the wave output error that `action` raises.
inline std::string FailureOf(const std::function<void()>& action) {
    return testing_support::ErrorText<EMMWaveOutError>(action);
}

// A source that announces more data and then has none: two full buffers
// (of 0x11), then empty ones.
class FailingSource : public TMMDSPComponent {
public:
    FailingSource(wc::TComponent* owner, const WAVEFORMATEX* format) : TMMDSPComponent(owner) {
        SetPWaveFormat(format);
    }
    bool PublishesOutput() const override { return true; }
    void BufferLoad(WaveHdrEx* header, bool& more) override;
    std::atomic<int> loads{0};
};

class WaveOutTest : public ::testing::TestWithParam<TMMCBMode> {
protected:
    void SetUp() override;
    void TearDown() override;
    // Builds source -> wave output with that data (44.1 kHz, 16-bit stereo by default).
    void Build(std::vector<uint8_t> data, const WAVEFORMATEX* format = nullptr);
    // Starts and waits for OnStop.
    void PlayToEnd();

    wc::TComponent root_{nullptr};
    WAVEFORMATEX format_{};
    testing_support::TestSource* source_ = nullptr;
    TMMWaveOut* out_ = nullptr;
    std::vector<uint8_t> data_;
    int starts_ = 0;
    int stops_ = 0;
    int loops_ = 0;
    int errors_ = 0;
    DWORD stopThread_ = 0;
};

}  // namespace waveout_tests
