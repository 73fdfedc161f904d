// Chain components for tests: a source that plays a byte vector (with the
// looping rules of a file source) and a sink that pulls a whole stream.
#pragma once

#include <cstdint>
#include <vector>

#include "media/playback/MMDSPObj.h"

namespace testing_support {

class TestSource : public TMMDSPComponent {
public:
    TestSource(wc::TComponent* owner, const WAVEFORMATEX* format, std::vector<uint8_t> data);
    static const char* ClassName() { return "TestSource"; }
    bool PublishesOutput() const override { return true; }

    // Fills the request from the current position; at the end, wraps to the
    // start while the request's loop fields allow, marking the wrap.
    void BufferLoad(WaveHdrEx* header, bool& moreBuffers) override;
    void Started() override;

    size_t Position() const noexcept { return position_; }
    int Pulls() const noexcept { return pulls_; }
    // Largest request seen, in bytes.
    uint32_t LargestRequest() const noexcept { return largestRequest_; }

private:
    std::vector<uint8_t> data_;
    size_t position_ = 0;
    int pulls_ = 0;
    uint32_t largestRequest_ = 0;
};

class TestSink : public TMMDSPComponent {
public:
    using TMMDSPComponent::TMMDSPComponent;
    static const char* ClassName() { return "TestSink"; }
    bool PublishesInput() const override { return true; }

    // Pulls buffers of `bufferSize` bytes from the input until it announces
    // no more data or yields nothing; `maxPulls` bounds a faulty stream.
    std::vector<uint8_t> PullAll(uint32_t bufferSize, int maxPulls = 1 << 20);
    // One pull into a fresh header carrying the given loop fields.
    uint32_t PullOnce(uint32_t bufferSize, std::vector<uint8_t>& out, bool& more, WaveHdrEx* loopFields = nullptr);
};

}  // namespace testing_support
