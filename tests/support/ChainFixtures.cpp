#include "support/ChainFixtures.h"

#include <algorithm>
#include <cstring>

namespace testing_support {

TestSource::TestSource(wc::TComponent* owner, const WAVEFORMATEX* format, std::vector<uint8_t> data)
    : TMMDSPComponent(owner), data_(std::move(data)) {
    SetPWaveFormat(format);
}

void TestSource::Started() {
    TMMDSPComponent::Started();
    position_ = 0;
}

void TestSource::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    ++pulls_;
    largestRequest_ = std::max<uint32_t>(largestRequest_, header->wh.dwBufferLength);
    const size_t count = std::min<size_t>(header->wh.dwBufferLength, data_.size() - position_);
    std::memcpy(WaveHdrData(header), data_.data() + position_, count);
    position_ += count;
    header->wh.dwBytesRecorded = static_cast<DWORD>(count);
    if (position_ < data_.size()) {
        moreBuffers = true;
        return;
    }
    if (header->LoopFlag == 0) return;
    if (header->LoopTotal > 0) --header->LoopsLeft;
    if (header->LoopTotal > 0 && header->LoopsLeft < 0) return;
    position_ = 0;
    header->LoopMark = LongBoolTrue;
    moreBuffers = true;
}

uint32_t TestSink::PullOnce(uint32_t bufferSize, std::vector<uint8_t>& out, bool& more, WaveHdrEx* loopFields) {
    std::vector<uint8_t> block(WaveHdrExSize + bufferSize, 0);
    auto* header = reinterpret_cast<WaveHdrEx*>(block.data());
    header->wh.lpData = reinterpret_cast<LPSTR>(block.data() + WaveHdrExSize);
    header->wh.dwBufferLength = bufferSize;
    if (loopFields) {
        header->LoopFlag = loopFields->LoopFlag;
        header->LoopTotal = loopFields->LoopTotal;
        header->LoopsLeft = loopFields->LoopsLeft;
        header->LoopMark = loopFields->LoopMark;
    }
    more = false;
    if (Input()) Input()->BufferLoad(header, more);
    const uint32_t got = std::min<uint32_t>(header->wh.dwBytesRecorded, bufferSize);
    out.insert(out.end(), WaveHdrData(header), WaveHdrData(header) + got);
    if (loopFields) {
        loopFields->LoopsLeft = header->LoopsLeft;
        loopFields->LoopMark = header->LoopMark;
    }
    return got;
}

std::vector<uint8_t> TestSink::PullAll(uint32_t bufferSize, int maxPulls) {
    std::vector<uint8_t> out;
    bool more = true;
    for (int i = 0; i < maxPulls && more; ++i)
        if (PullOnce(bufferSize, out, more) == 0) break;
    return out;
}

}  // namespace testing_support
