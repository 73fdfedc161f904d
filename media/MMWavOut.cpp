#include "media/MMWavOut.h"

// Interface first; the device work follows.

int SystemThreadPriority(TMMThreadPriority priority) noexcept {
    static constexpr int values[] = {-15, -2, -1, 0, 1, 2, 15};
    return values[priority];
}
std::string WaveOutErrorText(MMRESULT) { return MMLoadString(MMMsg::UnknownErrorNumber); }

TMMWaveOut::TMMWaveOut(wc::TComponent* owner) : TMMCustomWaveOutComponent(owner) {}
TMMWaveOut::~TMMWaveOut() = default;
int64_t TMMWaveOut::GetPosition() { return 0; }
void TMMWaveOut::Open() {}
void TMMWaveOut::Close() {}
void TMMWaveOut::Reset() {}
void TMMWaveOut::Start() {}
void TMMWaveOut::Pause() {}
void TMMWaveOut::Restart() {}
void TMMWaveOut::Stop() {}
void TMMWaveOut::Error(const std::string& message) { throw EMMWaveOutError(message); }
int32_t TMMWaveOut::BufferSize() const { return TMMCustomWaveOutComponent::BufferSize(); }
void TMMWaveOut::SetBufferSize(int32_t value) { TMMCustomWaveOutComponent::SetBufferSize(value); }
void TMMWaveOut::SetNumBuffers(int32_t value) { numBuffers_ = value; }
void TMMWaveOut::SetDeviceID(TMMDeviceId value) { deviceId_ = value; }
void TMMWaveOut::SetCallBackMode(TMMCBMode value) { callBackMode_ = value; }
void TMMWaveOut::SetLooping(bool value) noexcept { looping_ = value; }
void TMMWaveOut::SetLoopCount(uint16_t value) noexcept { loopCount_ = value; }
void TMMWaveOut::SetPriority(TMMThreadPriority value) { priority_ = value; }
void TMMWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) { TMMCustomWaveOutComponent::SetPWaveFormat(format); }
int32_t TMMWaveOut::NumDevs() { return static_cast<int32_t>(waveOutGetNumDevs()); }
bool TMMWaveOut::QueryFormat(TMMDeviceId, const WAVEFORMATEX*) { return false; }
void TMMWaveOut::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    TMMCustomWaveOutComponent::BufferLoad(header, moreBuffers);
}
bool TMMWaveOut::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    return TMMCustomWaveOutComponent::SetProperty(name, value);
}
bool TMMWaveOut::SetEvent(const std::string& name, wc::TNotifyEvent handler) {
    return TMMCustomWaveOutComponent::SetEvent(name, std::move(handler));
}
void TMMWaveOut::DoneHandler(WaveHdrEx*) {}

TMMWaveOutThread::TMMWaveOutThread(TMMWaveOut* owner) : TMMDSPThread(owner), owner_(owner) {}
TMMWaveOutThread::~TMMWaveOutThread() = default;
void TMMWaveOutThread::ApplyPriority(TMMThreadPriority) noexcept {}
void TMMWaveOutThread::Run() {}
