// The wave output's device operations (Open, Start, Pause, Restart, Stop,
// Reset, Close), its ring of buffers with DoneHandler's refill, and the
// position bookkeeping. How the device's reports reach DoneHandler, and
// other threads' calls the user-interface thread, is the delivery
// machinery's: hidden window, device callback and worker thread, in
// MMWavOutDelivery.cpp.
//
// How it works
//
// Playback. Start pulls the first NumBuffers buffers from Input (each a
// pool block: the 60-byte chain header, then the samples), prepares each
// header once and queues it. Each buffer the device hands back reaches
// DoneHandler, which takes the buffer back, keeps the position bookkeeping,
// refills the buffer and queues it again. When the last buffer is back it
// pauses the device and posts WomEndPlay to the hidden window, whose
// procedure runs Stop.
//
// Threads. The user-interface thread, which owns the hidden window, runs the
// operations; every Stop, Close and Reset does its work there (a call on
// another thread is sent there and fails cleanly if that thread does not
// answer in time). DoneHandler runs on the user-interface thread in cmWindow
// mode, on the worker TMMWaveOutThread in cmThread mode, and on the system's
// callback thread in cmCallback mode (Windows 95 only).
//
// Locks. handOver_ (always there) decides the hand-over between a
// DoneHandler run and Start, Stop, Close and Reset: a run enters by raising
// handlerDepth_ under it only while no stop or reset is under way, and
// leaves by lowering it and deciding under it whether to post WomEndPlay. A
// run that ends the playback stays counted until it has paused the device
// and posted, so its pause cannot land on the ring of a later Start or Reset.
// lock_ (Open to Close) guards the counters raised after a write, the bytes
// played and the loop start.
//
// Stopping. Stop sets Finished and, when a run is in progress, StopPending
// under handOver_, so exactly one of the two sides completes the stop:
// either Stop sees no run and finishes itself, or the run sees StopPending
// and posts the end message. Close behind a pending stop waits for that stop
// (ClosePending). Each end message carries the number of its playback
// (playback_, raised by Start and Reset): a late one stops nothing newer.
//
// Refilling. Reset drops the runs of the ring it replaces (rewinding_) and
// waits, dispatching sent messages, until the run in progress has left
// before it touches the ring and the headers. While Start or Reset queue a
// new ring (refilling_) the device may already hand buffers back (a paused
// device does not always hold them): those runs are counted (heldRuns_) and
// done by Start or Reset themselves, on the user-interface thread, before
// they let runs in under handOver_, so none is lost and none runs beside the
// refill.
#include "media/playback/MMWavOut.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "framework/Controls.h"
#include "framework/Forms.h"
#include "framework/Layout.h"
#include "media/playback/MMWavOutDelivery.h"

using waveout_internal::DispatchSentMessages;
using waveout_internal::OpenPrefix;
using waveout_internal::OptionalLock;
using waveout_internal::Os;
using waveout_internal::SliceMs;
using waveout_internal::WomCloseRequest;
using waveout_internal::WomResetRequest;
using waveout_internal::WomStopRequest;

namespace {

constexpr int OpenCloseSlices = 500;  // 5 s for the device to report open, closed or all buffers back
constexpr int ResetSlices = 100;      // 1 s for the buffers of a reset to come back
constexpr int DoneTries = 65000;      // polls of a header's done flag before giving up on it
constexpr DWORD DoneSleepMs = 2;
// A start filling more than this many bytes shows the hourglass.
constexpr int64_t HourGlassBytes = 100000;
// A device reading this much below the last one means the counter wrapped.
constexpr uint32_t WrapDrop = 0xFFFF;
constexpr uint32_t WrapLowBits = 0xFFFFF;

const char* const ClosePrefix = "WaveOutClose:\n\r";
const char* const PausePrefix = "WaveOutPause:\n\r";
const char* const RestartPrefix = "WaveOutRestart:\n\r";
const char* const ResetPrefix = "WaveOutReset:\n\r";
const char* const WritePrefix = "WaveOutWrite:\n\r";
const char* const PreparePrefix = "WaveOutPrepareHeader:\n\r";
const char* const PositionPrefix = "WaveOutGetPosition:\n\r";
const char* const RefillBusy = "WaveOutReset:\n\rThe refill in progress did not end";

// The device writes a header's flags on its own thread.
DWORD HeaderFlags(const WAVEHDR& header) noexcept {
    return static_cast<const volatile DWORD&>(header.dwFlags);
}

UINT DeviceNumber(TMMDeviceId id) { return id == MapperId ? WAVE_MAPPER : static_cast<UINT>(id); }

}  // namespace

int SystemThreadPriority(TMMThreadPriority priority) noexcept {
    static constexpr int values[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                                     THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL,
                                     THREAD_PRIORITY_HIGHEST,      THREAD_PRIORITY_TIME_CRITICAL};
    const int index = std::clamp(static_cast<int>(priority), 0, 6);
    return values[index];
}

std::string WaveOutErrorText(MMRESULT code) {
    char text[255] = {};
    if (::waveOutGetErrorTextA(code, text, sizeof text) != MMSYSERR_NOERROR) return MMLoadString(MMMsg::UnknownErrorNumber);
    return text;
}

void WaveOutWrapTracker::Update(uint32_t reading) noexcept {
    if (reading < lastReading && lastReading - reading >= WrapDrop) {
        wrapSpan = lastReading | WrapLowBits;
        ++wrapCount;
    }
    lastReading = reading;
}

// ---- construction ----

TMMWaveOut::TMMWaveOut(wc::TComponent* owner) : TMMCustomWaveOutComponent(owner) {
    numDevs_ = NumDevs();
    productName_ = MMLoadString(MMMsg::NoWaveOutDevice);
    if (numDevs_ > 0) {
        WAVEOUTCAPSA caps{};
        if (::waveOutGetDevCapsA(0, &caps, sizeof caps) == MMSYSERR_NOERROR) productName_ = caps.szPname;
    }
    loopsLeft_ = loopCount_;
}

TMMWaveOut::~TMMWaveOut() {
    SetComponentState(wc::csDestroying);
    CloseNow();
    if (stopPending_.load()) {
        // A refill of another thread still owns the stop: let it end, then finish here.
        WaitSlices(OpenCloseSlices, [this] { return handlerDepth_.load() > 0; });
        stopPending_ = false;
        closePending_ = false;
        closing_ = false;
        SetStateFlag(wosPlaying, true);
        CloseNow();
    }
    if (thread_) {
        thread_->Terminate();
        JoinWorker();
    }
    if (device_) {
        ::waveOutReset(device_);
        DropHeaders();
        ::waveOutClose(device_);
    }
    device_ = nullptr;
    CloseEvents();
    DetachFromChain();
    ReleaseHeaders();
    DestroyCallbackWindow();
    pool_.FreeAllBlocks();
}

// ---- errors ----

void TMMWaveOut::FireError() noexcept {
    if (!OnError) return;
    try {
        OnError(this);
    } catch (...) {
        // The failure being reported is the one that counts.
    }
}

void TMMWaveOut::Error(const std::string& message) {
    FireError();
    throw EMMWaveOutError(message);
}

void TMMWaveOut::Check(MMRESULT result, const char* prefix) {
    lastResult_ = result;
    if (result != MMSYSERR_NOERROR) Error(prefix + WaveOutErrorText(result));
}

void TMMWaveOut::ResetDevice() {
    if (!device_) return;
    const MMRESULT result = ::waveOutReset(device_);
    lastResult_ = result;
    if (static_cast<int>(result) > 0) Error(ResetPrefix + WaveOutErrorText(result));
}

void TMMWaveOut::CloseQuietly() noexcept {
    try {
        CloseNow();
    } catch (...) {
    }
}

void TMMWaveOut::SetStateFlag(uint32_t flag, bool on) noexcept {
    if (on)
        state_.fetch_or(flag);
    else
        state_.fetch_and(~flag);
}

// ---- properties ----

int32_t TMMWaveOut::BufferSize() const { return TMMCustomWaveOutComponent::BufferSize(); }

void TMMWaveOut::SetBufferSize(int32_t value) {
    const int32_t size = std::max(value, MinWaveOutBufferSize);
    if (size == ConfiguredBufferSize()) return;
    if (state_.load() & wosOpen) Error(MMLoadString(MMMsg::PropertyWhileOpen));
    // No header may point into a block that is freed here.
    ReleaseHeaders();
    pool_.FreeAllBlocks();
    TMMCustomWaveOutComponent::SetBufferSize(size);
}

void TMMWaveOut::SetNumBuffers(int32_t value) {
    if (value == numBuffers_ || value <= 1) return;
    const int32_t count = std::min(value, MaxWaveOutBuffers);
    if (count == numBuffers_) return;
    if (state_.load() & wosOpen) Error(MMLoadString(MMMsg::PropertyWhileOpen));
    numBuffers_ = count;
}

void TMMWaveOut::SetDeviceID(TMMDeviceId value) {
    if (state_.load() & wosOpen) Error(MMLoadString(MMMsg::PropertyWhileOpen));
    productName_ = MMLoadString(MMMsg::NoWaveOutDevice);
    const bool inRange = value >= MapperId && value < numDevs_;
    if (numDevs_ > 0 && inRange) {
        WAVEOUTCAPSA caps{};
        if (::waveOutGetDevCapsA(DeviceNumber(value), &caps, sizeof caps) == MMSYSERR_NOERROR)
            productName_ = caps.szPname;
    }
    deviceId_ = inRange ? value : InvalidId;
}

void TMMWaveOut::SetCallBackMode(TMMCBMode value) {
    if (state_.load() & wosOpen) Error(MMLoadString(MMMsg::PropertyWhileOpen));
    if (value == callBackMode_) return;
    if (value == cmCallback && !Os().windows95) {
        ::MessageBoxA(nullptr, CallBackModeRefusal, "TMMWaveOut", MB_OK);
        return;
    }
    callBackMode_ = value;
}

void TMMWaveOut::SetLooping(bool value) noexcept {
    if (value == looping_) return;
    looping_ = value;
    loopsLeft_ = loopCount_;
}

void TMMWaveOut::SetLoopCount(uint16_t value) noexcept {
    if (value == loopCount_) return;
    loopCount_ = value;
    loopsLeft_ = value;
}

void TMMWaveOut::SetPriority(TMMThreadPriority value) {
    priority_ = value;
    if (thread_) thread_->ApplyPriority(value);
}

void TMMWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != PWaveFormat()) CloseNow();
    TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

int32_t TMMWaveOut::NumDevs() { return static_cast<int32_t>(::waveOutGetNumDevs()); }

bool TMMWaveOut::QueryFormat(TMMDeviceId deviceId, const WAVEFORMATEX* format) {
    if (!format || deviceId < MapperId || deviceId >= NumDevs()) return false;
    return ::waveOutOpen(nullptr, DeviceNumber(deviceId), format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

bool TMMWaveOut::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "BufferSize") SetBufferSize(value.AsInteger());
    else if (name == "NumBuffers") SetNumBuffers(value.AsInteger());
    else if (name == "DeviceID") SetDeviceID(LayoutDeviceId(value));
    else if (name == "CallBackMode") {
        const std::string& mode = value.AsIdentifier();
        if (mode == "cmWindow") SetCallBackMode(cmWindow);
        else if (mode == "cmCallback") SetCallBackMode(cmCallback);
        else if (mode == "cmThread") SetCallBackMode(cmThread);
        else throw wc::Exception("TMMWaveOut: unknown CallBackMode " + mode);
    } else if (name == "TimeFormat") {
        const std::string& format = value.AsIdentifier();
        if (format == "tfMillisecond") SetTimeFormat(tfMillisecond);
        else if (format == "tfByte") SetTimeFormat(tfByte);
        else if (format == "tfSample") SetTimeFormat(tfSample);
        else throw wc::Exception("TMMWaveOut: unknown TimeFormat " + format);
    } else if (name == "Looping") SetLooping(value.AsBoolean());
    else if (name == "LoopCount") SetLoopCount(static_cast<uint16_t>(value.AsInteger()));
    else if (name == "ShowHourGlass") SetShowHourGlass(value.AsBoolean());
    else if (name == "Mapped") SetMapped(value.AsBoolean());
    else if (name == "Priority") {
        static const char* const names[] = {"tpIdle",   "tpLowest",  "tpLower",       "tpNormal",
                                            "tpHigher", "tpHighest", "tpTimeCritical"};
        const std::string& priority = value.AsIdentifier();
        auto found = std::find(std::begin(names), std::end(names), priority);
        if (found == std::end(names)) throw wc::Exception("TMMWaveOut: unknown Priority " + priority);
        SetPriority(static_cast<TMMThreadPriority>(found - std::begin(names)));
    } else return TMMCustomWaveOutComponent::SetProperty(name, value);
    return true;
}

bool TMMWaveOut::SetEvent(const std::string& name, wc::TNotifyEvent handler) {
    wc::TNotifyEvent* slot = nullptr;
    if (name == "OnError") slot = &OnError;
    else if (name == "OnOpen") slot = &OnOpen;
    else if (name == "OnStart") slot = &OnStart;
    else if (name == "OnPause") slot = &OnPause;
    else if (name == "OnRestart") slot = &OnRestart;
    else if (name == "OnStop") slot = &OnStop;
    else if (name == "OnClose") slot = &OnClose;
    else if (name == "OnLooping") slot = &OnLooping;
    if (!slot) return TMMCustomWaveOutComponent::SetEvent(name, std::move(handler));
    *slot = std::move(handler);
    return true;
}

// ---- waiting ----

template <class Predicate>
bool TMMWaveOut::WaitSlices(int slices, Predicate keepWaiting) {
    for (int i = 0; i < slices && keepWaiting(); ++i) {
        if (!Os().functionCallback) {
            // The device reports through the hidden window: keep its messages flowing.
            wc::Application().ProcessMessages();
            if (wc::Application().Terminated()) break;
        }
        // A Stop or Close another thread sends here must not wait out our wait.
        DispatchSentMessages();
        ::Sleep(SliceMs);
    }
    return !keepWaiting();
}

bool TMMWaveOut::WaitHandlersOut() {
    // In cmWindow mode the runs are on this thread: a run in progress is one
    // this call is nested in, and waiting for it would never end.
    if (callBackMode_ == cmWindow) return true;
    return WaitSlices(OpenCloseSlices, [this] { return handlerDepth_.load() > 0; });
}

// ---- buffers ----

WaveHdrEx* TMMWaveOut::MakeHeader(int index) {
    WaveHdrEx*& header = headers_[index];
    const int32_t size = BufferSize();
    if (!header) {
        header = static_cast<WaveHdrEx*>(pool_.AllocBlock(GMEM_MOVEABLE | GMEM_ZEROINIT, size + WaveHdrExSize));
        if (!header) Error(MMLoadString(MMMsg::NoMemoryForWaveHeader));
    }
    // A reused block keeps what it held: start from a clean header.
    std::memset(header, 0, WaveHdrExSize);
    header->wh.lpData = reinterpret_cast<LPSTR>(header) + WaveHdrExSize;
    header->wh.dwBufferLength = static_cast<DWORD>(size);
    return header;
}

void TMMWaveOut::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    const auto capacity = static_cast<DWORD>(BufferSize());
    header->wh.dwBufferLength = capacity;
    header->wh.dwBytesRecorded = 0;
    header->LoopFlag = looping_ ? LongBoolTrue : 0;
    if (looping_) {
        header->LoopTotal = loopCount_;
        header->LoopsLeft = loopsLeft_;
        header->LoopMark = 0;
    }
    TMMCustomWaveOutComponent::BufferLoad(header, moreBuffers);
    // A source reporting more than the buffer holds must not make the device read past it.
    header->wh.dwBytesRecorded = std::min(header->wh.dwBytesRecorded, capacity);
    header->wh.dwBufferLength = header->wh.dwBytesRecorded;
    if (looping_) loopsLeft_ = header->LoopsLeft;
}

int32_t TMMWaveOut::LoadHeader(WaveHdrEx* header) {
    bool more = false;
    moreBuffers_ = false;
    BufferLoad(header, more);
    const auto result = static_cast<int32_t>(header->wh.dwBytesRecorded);
    moreBuffers_ = more && result > 0;
    return result;
}

void TMMWaveOut::QueueHeader(WaveHdrEx* header) {
    if (OnBufferFilled) OnBufferFilled(this, header);
    if (finished_.load()) return;
    // Prepared once at the start; queued again by flipping the flags.
    header->wh.dwFlags = (header->wh.dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    header->SavedBytes = header->wh.dwBytesRecorded;
    {
        // Counted before the write, so a fast return cannot take the count below zero.
        OptionalLock lock(lock_.get());
        ++outstanding_;
        ++unhandled_;
    }
    const MMRESULT result = ::waveOutWrite(device_, &header->wh, sizeof(WAVEHDR));
    header->wh.dwBytesRecorded = header->SavedBytes;
    if (result != MMSYSERR_NOERROR) {
        --outstanding_;
        --unhandled_;
        Check(result, WritePrefix);
    }
}

void TMMWaveOut::DropHeaders() noexcept {
    // Every prepared header, also one prepared at the start but never queued.
    for (WaveHdrEx* header : headers_) {
        if (!header) continue;
        for (int tries = 0; tries < DoneTries && (HeaderFlags(header->wh) & WHDR_INQUEUE); ++tries) ::Sleep(0);
        // Given up on: marked done, but still prepared, so it is unprepared.
        header->wh.dwFlags = (HeaderFlags(header->wh) & ~WHDR_INQUEUE) | WHDR_DONE;
        if (device_ && (header->wh.dwFlags & WHDR_PREPARED))
            ::waveOutUnprepareHeader(device_, &header->wh, sizeof(WAVEHDR));
    }
    ReleaseHeaders();
}

void TMMWaveOut::ReleaseHeaders() noexcept {
    for (WaveHdrEx*& header : headers_)
        if (header) pool_.ReleaseBlock(header);
    headers_.fill(nullptr);
}

uint32_t TMMWaveOut::DeviceSamples() {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    MMRESULT result = ::waveOutGetPosition(device_, &time, sizeof time);
    if (result == MMSYSERR_NOERROR && time.wType == TIME_SAMPLES) return time.u.sample;
    time = MMTIME{};
    time.wType = TIME_BYTES;
    result = ::waveOutGetPosition(device_, &time, sizeof time);
    Check(result, PositionPrefix);
    if (time.wType == TIME_SAMPLES) return time.u.sample;
    return WaveBytesToSamples(PWaveFormat(), time.u.cb);
}

// ---- the device operations ----

void TMMWaveOut::Open() {
    if (numDevs_ == 0) Error(MMLoadString(MMMsg::NoWaveOutDevice));
    if (deviceId_ == InvalidId) Error(MMLoadString(MMMsg::InvalidDeviceId));
    if (!PWaveFormat()) Error(OpenPrefix + MMLoadString(MMMsg::InvalidWaveFormat));
    if (state_.load() & wosOpen) CloseNow();
    if ((state_.load() & wosOpen) || closing_.load()) return;
    closing_ = false;
    resetting_ = false;
    finished_ = false;
    endPosted_ = false;
    try {
        if (!QueryFormat(deviceId_, PWaveFormat())) Error(OpenPrefix + MMLoadString(MMMsg::DeviceCantPlayFormat));
        CreateCallbackWindow();
        device_ = nullptr;
        closePending_ = false;
        TMMCustomSoundComponent::Opened();
        lock_ = std::make_unique<wc::CriticalSection>();
        if (callBackMode_ == cmThread) StartThread();
        const DWORD mapping = (mapped_ && deviceId_ >= 0) ? WAVE_MAPPED : 0;
        HWAVEOUT device = nullptr;
        MMRESULT result;
        if (Os().functionCallback)
            result = ::waveOutOpen(&device, DeviceNumber(deviceId_), PWaveFormat(),
                                   reinterpret_cast<DWORD_PTR>(&TMMWaveOut::DeviceCallback),
                                   reinterpret_cast<DWORD_PTR>(this), mapping | CALLBACK_FUNCTION);
        else
            result = ::waveOutOpen(&device, DeviceNumber(deviceId_), PWaveFormat(),
                                   reinterpret_cast<DWORD_PTR>(window_.get()), 0, mapping | CALLBACK_WINDOW);
        if (result == MMSYSERR_NOERROR) device_ = device;
        Check(result, OpenPrefix);
        if (!WaitSlices(OpenCloseSlices, [this] { return (state_.load() & wosOpen) == 0; }))
            Error(OpenPrefix + MMLoadString(MMMsg::UnableToOpenDevice));
        if (OnOpen) OnOpen(this);
    } catch (...) {
        FireError();
        state_ = wosOpen;
        CloseQuietly();
        state_ = wosClosed;
        throw;
    }
}

void TMMWaveOut::ResetPositions() {
    offset_ = 0;
    lastReading_ = 0;
    wrapCount_ = 0;
    wrapSpan_ = 0;
    loopStart_ = 0;
}

void TMMWaveOut::Start() {
    if (!(state_.load() & wosOpen)) Open();
    if (!(state_.load() & wosOpen) || (state_.load() & wosPlaying)) return;
    bytesPlayed_ = 0;
    ResetPositions();
    loopsLeft_ = loopCount_;
    handlerDepth_ = 0;
    stopPending_ = false;
    resetting_ = false;
    finished_ = false;
    endPosted_ = false;
    ringIndex_ = 0;
    outstanding_ = 0;
    unhandled_ = 0;
    ++playback_;
    SetRefilling(true);
    struct RefillEnd {
        TMMWaveOut& self;
        ~RefillEnd() { self.SetRefilling(false); }
    } refillEnd{*this};
    HCURSOR previous = nullptr;
    bool hourGlass = showHourGlass_ && int64_t{BufferSize()} * numBuffers_ > HourGlassBytes;
    if (hourGlass) previous = ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
    try {
        Check(::waveOutPause(device_), PausePrefix);
        TMMCustomSoundComponent::Started();
        moreBuffers_ = true;
        int32_t queued = 0;
        for (int32_t i = 0; i < numBuffers_ && moreBuffers_.load(); ++i) {
            WaveHdrEx* header = MakeHeader(i);
            Check(::waveOutPrepareHeader(device_, &header->wh, sizeof(WAVEHDR)), PreparePrefix);
            if (LoadHeader(header) <= 0) break;
            QueueHeader(header);
            ++queued;
        }
        buffersInUse_ = queued;
        SetStateFlag(wosPlaying, true);
        if (hourGlass) ::SetCursor(previous);
        hourGlass = false;
        if (queued == 0) {
            TMMCustomSoundComponent::Stopped();
            Error("WaveOutStart:\n\r" + MMLoadString(MMMsg::UnableToStartDevice));
        }
        LetRunsIn();
        if (!(state_.load() & wosPaused)) Check(::waveOutRestart(device_), RestartPrefix);
        if (OnStart) OnStart(this);
    } catch (...) {
        if (hourGlass) ::SetCursor(previous);
        FireError();
        SetStateFlag(wosPlaying, true);
        CloseQuietly();
        state_ = wosClosed;
        throw;
    }
}

bool TMMWaveOut::RunsAllowed() const noexcept {
    return (state_.load() & wosPlaying) && !resetting_.load() && !rewinding_ && !finished_.load() && buffersInUse_ > 0;
}

void TMMWaveOut::DoneHandler(WaveHdrEx* returned) {
    {
        // A run enters only while no stop or reset is under way; one that
        // does not enter touches nothing and owes no end message.
        wc::CriticalSectionLock lock(handOver_);
        if (refilling_) {
            // Start or Reset is still queueing the ring this buffer belongs
            // to: it does this run once it has, so the run is neither lost
            // nor done beside the refill.
            ++heldRuns_;
            return;
        }
        if (!RunsAllowed()) return;
        ++handlerDepth_;
    }
    RunDone(returned);
}

void TMMWaveOut::LetRunsIn() {
    for (;;) {
        {
            wc::CriticalSectionLock lock(handOver_);
            if (heldRuns_ <= 0 || !RunsAllowed()) {
                // Decided under the lock a held run is counted under: none is left behind.
                heldRuns_ = 0;
                refilling_ = false;
                return;
            }
            --heldRuns_;
            ++handlerDepth_;
        }
        RunDone(nullptr);
    }
}

void TMMWaveOut::SetRefilling(bool on) noexcept {
    wc::CriticalSectionLock lock(handOver_);
    refilling_ = on;
    heldRuns_ = 0;
}

void TMMWaveOut::RunDone(WaveHdrEx* returned) {
    // Buffers come back in the order they were queued: the ring says which.
    WaveHdrEx* header = headers_[ringIndex_] ? headers_[ringIndex_] : returned;
    if (!header) {
        EndRun(false);
        return;
    }
    try {
        --unhandled_;
        {
            OptionalLock lock(lock_.get());
            bytesPlayed_ += header->wh.dwBufferLength;
        }
        ringIndex_ = (ringIndex_ + 1) % buffersInUse_;
        WaveHdrEx* next = headers_[ringIndex_];
        header->wh.dwBytesRecorded = header->SavedBytes;
        if (next) next->wh.dwBytesRecorded = next->SavedBytes;
        header->NextHdr = next;
        TMMDSPComponent::BufferReady(header);

        const uint32_t reading = DeviceSamples();
        WaveOutWrapTracker tracker{lastReading_, wrapCount_, wrapSpan_};
        tracker.Update(reading);
        lastReading_ = tracker.lastReading;
        wrapCount_ = tracker.wrapCount;
        wrapSpan_ = tracker.wrapSpan;

        // A wrap in one of the last buffers is a wrap too: checked before
        // asking whether more data follows.
        if (looping_ && header->LoopMark && !stopPending_.load()) {
            {
                OptionalLock lock(lock_.get());
                loopStart_ = reading;
            }
            header->LoopMark = 0;
            TMMCustomSoundComponent::Looped();
            if (OnLooping) OnLooping(this);
        }
        if (moreBuffers_.load() && !stopPending_.load()) {
            const bool windowThread = OnWindowThread();
            for (int tries = 0; tries < DoneTries && !(HeaderFlags(header->wh) & WHDR_DONE); ++tries) {
                if (windowThread) DispatchSentMessages();
                ::Sleep(DoneSleepMs);
            }
            if (LoadHeader(header) <= 0 && !stopPending_.load()) Error(MMLoadString(MMMsg::ErrorFillingBuffer));
            if (!stopPending_.load() && header->wh.dwBytesRecorded > 0) QueueHeader(header);
        }
    } catch (...) {
        FireError();
        EndRun(true);
        throw;
    }
    EndRun(true);
}

// The last part of every DoneHandler run: when no buffer is left on the
// device (or a stop waits for this run), pause and hand the stop to the
// hidden window's thread.
void TMMWaveOut::EndRun(bool ran) {
    uint32_t playback = 0;
    {
        // Decided under the same lock as Stop's look at the depth: a stop
        // asked for before this point is seen here, one asked for after it
        // either sees the depth at 0 and completes by itself, or sees this
        // run still pausing the device and is owed the end message below.
        wc::CriticalSectionLock lock(handOver_);
        // Ends once every queued buffer has been through here, not merely when
        // the device has none left: done messages may still wait in a queue, and
        // their buffers are owed to OnBufferReady and the position count.
        const bool ends = handlerDepth_.load() == 1 && !endPosted_.load() &&
                          (stopPending_.load() || (ran && unhandled_.load() <= 0));
        if (!ends) {
            --handlerDepth_;
            return;
        }
        // The run stays counted until it has paused the device: a Reset or
        // Start waits for it, and its pause cannot land on their new ring.
        endPosted_ = true;
        finished_ = true;
        playback = playback_.load();
    }
    const MMRESULT result = device_ ? ::waveOutPause(device_) : MMRESULT{MMSYSERR_NOERROR};
    // Posted before a pause failure is raised, so the stop still happens.
    ::PostMessageA(window_.get(), WomEndPlay, reinterpret_cast<WPARAM>(device_), static_cast<LPARAM>(playback));
    bool again = false;
    {
        wc::CriticalSectionLock lock(handOver_);
        // A Stop that came while the device was being paused left the stop to
        // this run; the message above may already have been used up by it.
        again = --handlerDepth_ == 0 && stopPending_.load() && !endPosted_.load();
        if (again) {
            endPosted_ = true;
            playback = playback_.load();
        }
    }
    if (again)
        ::PostMessageA(window_.get(), WomEndPlay, reinterpret_cast<WPARAM>(device_), static_cast<LPARAM>(playback));
    Check(result, PausePrefix);
}

int64_t TMMWaveOut::GetPosition() {
    const WAVEFORMATEX* format = PWaveFormat();
    if (!(state_.load() & wosOpen) || !format || closePending_.load() || !device_) return 0;
    int64_t samples = int64_t{DeviceSamples()} + offset_ + int64_t{wrapCount_} * wrapSpan_ - loopStart_;
    samples = std::max<int64_t>(samples, 0);
    switch (timeFormat_) {
        case tfMillisecond: return WaveSamplesToMs64(format, samples);
        case tfByte: return WaveSamplesToBytes64(format, samples);
        case tfSample: break;
    }
    return samples;
}

void TMMWaveOut::Pause() {
    if (!(state_.load() & wosOpen)) Open();
    if (!(state_.load() & wosOpen) || (state_.load() & wosPaused)) return;
    try {
        if (state_.load() & wosPlaying) {
            {
                OptionalLock lock(lock_.get());
                Check(::waveOutPause(device_), PausePrefix);
            }
            SetStateFlag(wosPaused, true);
            if (Slaved()) {
                // Driven from upstream: the buffers on the device are given up.
                offset_ += DeviceSamples();
                resetting_ = true;
                ResetDevice();
                ringIndex_ = 0;
                outstanding_ = 0;
                unhandled_ = 0;
            }
        }
        SetStateFlag(wosPaused, true);
        TMMCustomSoundComponent::Paused();
        if (OnPause) OnPause(this);
    } catch (...) {
        FireError();
        CloseQuietly();
        throw;
    }
}

void TMMWaveOut::Restart() {
    const uint32_t state = state_.load();
    if (!(state & wosPlaying) || !(state & wosPaused)) return;
    try {
        resetting_ = false;
        TMMCustomSoundComponent::Restarted();
        Check(::waveOutRestart(device_), RestartPrefix);
        SetStateFlag(wosPaused, false);
        if (OnRestart) OnRestart(this);
    } catch (...) {
        FireError();
        CloseQuietly();
        throw;
    }
}

void TMMWaveOut::Stop() {
    if (Marshal(WomStopRequest)) return;
    StopNow();
}

void TMMWaveOut::StopNow() {
    if (!(state_.load() & (wosPlaying | wosPaused))) return;
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    };
    try {
        bool deferred = false;
        {
            wc::CriticalSectionLock lock(handOver_);
            finished_ = true;
            resetting_ = true;
            if (handlerDepth_.load() > 0) {
                // The run in progress sees this when it leaves and posts the
                // end message (again, should an earlier one have been used up).
                stopPending_ = true;
                endPosted_ = false;
                deferred = true;
            }
        }
        wrapCount_ = 0;
        wrapSpan_ = 0;
        ResetDevice();
        if (deferred) return;
        {
            // Its waits dispatch sent messages: a Close arriving there waits for this stop.
            Running running(stopRunning_);
            SetStateFlag(wosPlaying | wosPaused, false);
            WaitSlices(OpenCloseSlices, [this] { return outstanding_.load() > 0; });
            FlushDoneMessages();
            TMMCustomSoundComponent::Stopped();
            DropHeaders();
            buffersInUse_ = 0;
            outstanding_ = 0;
            unhandled_ = 0;
            ringIndex_ = 0;
            stopPending_ = false;
            resetting_ = false;
        }
        if (!IsDestroying() && OnStop) OnStop(this);
        if (closePending_.load()) CloseNow();
    } catch (...) {
        FireError();
        CloseQuietly();
        throw;
    }
}

void TMMWaveOut::Close() {
    try {
        if (Marshal(WomCloseRequest)) return;
    } catch (...) {
        return;  // Close never raises; Error has fired OnError
    }
    CloseNow();
}

void TMMWaveOut::CloseNow() noexcept {
    // A worker that ended on a failure left the device to this thread; its
    // object goes with the next close or open once its body has returned.
    if (thread_ && threadFailed_.load() && thread_->Finished() && thread_->ThreadId() != ::GetCurrentThreadId())
        thread_.reset();
    if (!(state_.load() & wosOpen)) return;
    if (closing_.load() && !closePending_.load()) return;
    try {
        closing_ = true;
        if (state_.load() & (wosPlaying | wosPaused)) {
            try {
                StopNow();
            } catch (...) {
                // Stop has closed the device on its way out.
                if (!(state_.load() & wosOpen)) {
                    closing_ = false;
                    return;
                }
            }
        }
        if (stopPending_.load() || stopRunning_) {
            // A stop owns the device: it closes once it has finished.
            closePending_ = true;
            return;
        }
        closePending_ = false;
        bool timedOut = false;
        if (device_) {
            // A stop that failed half-way leaves headers prepared: they go
            // before the device does, and the table forgets their blocks.
            if (std::any_of(headers_.begin(), headers_.end(), [](WaveHdrEx* header) { return header != nullptr; })) {
                ::waveOutReset(device_);
                DropHeaders();
            }
            Check(::waveOutClose(device_), ClosePrefix);
            timedOut = !WaitSlices(OpenCloseSlices, [this] { return (state_.load() & wosClosed) == 0; });
            wrapCount_ = 0;
            wrapSpan_ = 0;
        }
        // Without a device, or when the device never confirmed, the component is closed now.
        state_ = wosClosed;
        TMMCustomSoundComponent::Closed();
        if (callBackMode_ == cmThread)
            StopThread();
        else
            lock_.reset();
        device_ = nullptr;
        closing_ = false;
        if (!IsDestroying() && OnClose) OnClose(this);
        if (timedOut) Error(ClosePrefix + MMLoadString(MMMsg::UnableToCloseDevice));
    } catch (...) {
        closing_ = false;
    }
}

void TMMWaveOut::Reset() {
    if (Marshal(WomResetRequest)) return;
    const uint32_t state = state_.load();
    if (!(state & (wosPlaying | wosPaused))) return;
    {
        wc::CriticalSectionLock lock(handOver_);
        if (resetting_.load() || rewinding_) return;
        // From here no run enters; the one in progress, if any, is waited for.
        // Resetting alone would not do: the device callback clears it when
        // the last buffer comes back, which may happen in the middle of this.
        resetting_ = true;
        rewinding_ = true;
    }
    struct EndRewind {
        TMMWaveOut& self;
        ~EndRewind() {
            wc::CriticalSectionLock lock(self.handOver_);
            self.rewinding_ = false;
            self.refilling_ = false;
            self.heldRuns_ = 0;
        }
    } endRewind{*this};
    try {
        if (!WaitHandlersOut()) Error(RefillBusy);
        {
            // A run that ended meanwhile may have seen the last buffer: its
            // end message belongs to the playback this reset replaces.
            wc::CriticalSectionLock lock(handOver_);
            ++playback_;
            finished_ = false;
            endPosted_ = false;
        }
        Check(::waveOutPause(device_), PausePrefix);
        FlushDoneMessages();
        ResetDevice();
        // Nothing outstanding: nothing comes back to clear the flag.
        WaitSlices(ResetSlices, [this] { return resetting_.load() && outstanding_.load() > 0; });
        // A callback that was under way before the flush above has posted by
        // now (the device's reset waits for it): its message goes too.
        FlushDoneMessages();
        Check(::waveOutRestart(device_), RestartPrefix);
        Check(::waveOutPause(device_), PausePrefix);
        {
            // Every buffer of the replaced ring is back and its message gone:
            // a buffer that comes back from here on is one of the new ring,
            // and the device may hand one back before the ring is all queued.
            wc::CriticalSectionLock lock(handOver_);
            rewinding_ = false;
            refilling_ = true;
            heldRuns_ = 0;
        }
        resetting_ = false;
        ringIndex_ = 0;
        outstanding_ = 0;
        unhandled_ = 0;
        ResetPositions();
        TMMCustomSoundComponent::Rewound();
        moreBuffers_ = true;
        int32_t queued = 0;
        for (int32_t i = 0; i < numBuffers_ && moreBuffers_.load(); ++i) {
            WaveHdrEx* header = headers_[i];
            if (!header) {
                header = MakeHeader(i);
                Check(::waveOutPrepareHeader(device_, &header->wh, sizeof(WAVEHDR)), PreparePrefix);
            }
            if (LoadHeader(header) <= 0) break;
            QueueHeader(header);
            ++queued;
        }
        buffersInUse_ = queued;
        LetRunsIn();
        if (!(state_.load() & wosPaused)) Check(::waveOutRestart(device_), RestartPrefix);
        if (queued == 0) StopNow();
    } catch (...) {
        FireError();
        CloseQuietly();
        throw;
    }
}
