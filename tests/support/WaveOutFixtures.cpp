#include "WaveOutFixtures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/Components.h"
#include "framework/Forms.h"

namespace waveout_tests {

std::string CapturePath() {
    const char* path = std::getenv("WC_WAVEOUT_CAPTURE");
    if (!path || !*path) return {};
    std::string windows = std::string("Z:") + path;
    for (char& c : windows)
        if (c == '/') c = '\\';
    return windows;
}

std::vector<uint8_t> ReadCapture() {
    std::vector<uint8_t> bytes;
    const std::string path = CapturePath();
    if (path.empty()) return bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    return bytes;
}

bool ContainsRun(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
    return CountRuns(haystack, needle) > 0;
}

int CountRuns(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
    if (needle.empty()) return 0;
    int count = 0;
    auto at = haystack.begin();
    while (true) {
        at = std::search(at, haystack.end(), needle.begin(), needle.end());
        if (at == haystack.end()) return count;
        ++count;
        at += static_cast<std::ptrdiff_t>(needle.size());
    }
}

std::vector<uint8_t> DistinctPcm(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> data(bytes);
    uint32_t state = seed;
    uint8_t previous = 0;
    for (auto& byte : data) {
        state = state * 1664525u + 1013904223u;
        uint8_t value = static_cast<uint8_t>(state >> 24);
        if (value == previous) value ^= 0x5A;
        byte = previous = value;
    }
    return data;
}

void WaveOutTest::SetUp() {
    if (std::getenv("WC_WAVEOUT_NODEVICE")) GTEST_SKIP() << "no wave output device in this run";
    ASSERT_FALSE(CapturePath().empty()) << "the ALSA default device is not redirected to a file";
    ASSERT_GT(TMMWaveOut::NumDevs(), 0) << "Wine found no wave output device";
    format_ = testing_support::PcmFormat(2, 16, 44100);
}

void WaveOutTest::TearDown() {
    // The wave output goes first: it closes the device while its source still exists.
    if (out_) {
        out_->Close();
        EXPECT_EQ(out_->Outstanding(), 0);
        EXPECT_EQ(out_->State(), wosClosed);
        EXPECT_EQ(TMMDSPThread::LiveCount(), 0u) << "the worker thread outlived the close";
    }
}

void WaveOutTest::Build(std::vector<uint8_t> data, const WAVEFORMATEX* format) {
    data_ = data;
    if (format) format_ = *format;
    source_ = &wc::MakeComponent<testing_support::TestSource>(root_, &format_, std::move(data));
    out_ = &wc::MakeComponent<TMMWaveOut>(root_);
    out_->SetCallBackMode(GetParam());
    out_->SetNumBuffers(4);
    out_->SetBufferSize(4096);
    out_->SetInput(source_);
    out_->OnStart = [this](wc::TComponent*) { ++starts_; };
    out_->OnStop = [this](wc::TComponent*) {
        ++stops_;
        stopThread_ = ::GetCurrentThreadId();
    };
    out_->OnLooping = [this](wc::TComponent*) { ++loops_; };
    out_->OnError = [this](wc::TComponent*) { ++errors_; };
}

void WaveOutTest::PlayToEnd() {
    out_->Start();
    ASSERT_TRUE(PumpUntil([this] { return stops_ > 0; })) << "playback never ended";
}

void FailingSource::BufferLoad(WaveHdrEx* header, bool& more) {
    header->wh.dwBytesRecorded = loads++ < 2 ? header->wh.dwBufferLength : 0;
    std::memset(WaveHdrData(header), 0x11, header->wh.dwBytesRecorded);
    more = true;
}

}  // namespace waveout_tests
