// The wave output: the sink at the end of a processing chain that plays
// through one of the system's wave output devices. Its device operations
// and the buffers' hand-over are in MMWavOut.cpp; the machinery that brings
// the device's reports and other threads' calls to them (hidden window,
// device callback, worker thread TMMWaveOutThread) in MMWavOutDelivery.cpp.
// How the threads meet is described at the top of each.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/Handles.h"
#include "media/playback/MMAlloc.h"
#include "media/playback/MMDSPObj.h"
#include "media/MMErrors.h"
#include "media/playback/MMObj.h"

// Priorities of a worker thread, mapped to the system's -15, -2, -1, 0, 1, 2, 15.
enum TMMThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
int SystemThreadPriority(TMMThreadPriority priority) noexcept;

// State flags of a wave output.
inline constexpr uint32_t wosClosed = 1;
inline constexpr uint32_t wosOpen = 2;
inline constexpr uint32_t wosPlaying = 4;
inline constexpr uint32_t wosPaused = 8;

// Posted to the hidden window when the last buffer has come back.
inline constexpr UINT WomEndPlay = 0x8001;

inline constexpr int32_t MaxWaveOutBuffers = 500;
inline constexpr int32_t MinWaveOutBufferSize = 32;
inline constexpr int32_t DefaultWaveOutBuffers = 10;

// The text shown when cmCallback is asked for where the system cannot call
// back at interrupt time.
inline constexpr const char* CallBackModeRefusal =
    "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under Windows 95";

// The system's text for a wave output result code, or the message table's
// "unknown error" text when the system has none.
std::string WaveOutErrorText(MMRESULT code);

// Device sample counters wrap: a reading this far below the last one means
// the counter started again. The span then added per wrap is the last
// reading with its low 20 bits set.
struct WaveOutWrapTracker {
    uint32_t lastReading = 0;
    uint32_t wrapCount = 0;
    uint32_t wrapSpan = 0;
    void Update(uint32_t reading) noexcept;
    int64_t Unwrapped(uint32_t reading) const noexcept { return int64_t{reading} + int64_t{wrapCount} * wrapSpan; }
};

class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
public:
    using TMMCustomSoundComponent::TMMCustomSoundComponent;
    static const char* ClassName() { return "TMMCustomWaveOutComponent"; }

    virtual int64_t GetPosition() = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void Reset() = 0;
    virtual void Start() = 0;
    virtual void Pause() = 0;
    virtual void Restart() = 0;
    virtual void Stop() = 0;
};

class TMMWaveOutThread;

class TMMWaveOut : public TMMCustomWaveOutComponent {
public:
    explicit TMMWaveOut(wc::TComponent* owner);
    // Closes an open device, destroys the hidden window, frees the pool.
    ~TMMWaveOut() override;
    static const char* ClassName() { return "TMMWaveOut"; }

    bool PublishesInput() const override { return true; }
    bool PublishesOutput() const override { return true; }

    // The device operations; each raises EMMWaveOutError, except Close.
    int64_t GetPosition() override;  // in TimeFormat units; 0 while closed
    void Open() override;
    void Close() override;
    void Reset() override;
    void Start() override;
    void Pause() override;
    void Restart() override;
    void Stop() override;
    // Fires OnError, then raises EMMWaveOutError with the message.
    [[noreturn]] virtual void Error(const std::string& message);

    // Properties. The setters of BufferSize, NumBuffers, DeviceID and
    // CallBackMode refuse while the device is open.
    int32_t BufferSize() const override;
    void SetBufferSize(int32_t value) override;
    int32_t NumBuffers() const override { return numBuffers_; }
    void SetNumBuffers(int32_t value) override;
    TMMDeviceId DeviceID() const override { return deviceId_; }
    void SetDeviceID(TMMDeviceId value) override;
    std::string ProductName() const override { return productName_; }
    void SetProductName(const std::string& value) override {}  // read-only
    TMMCBMode CallBackMode() const override { return callBackMode_; }
    void SetCallBackMode(TMMCBMode value) override;
    TMMTimeFormats TimeFormat() const noexcept { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value) noexcept { timeFormat_ = value; }
    bool Looping() const noexcept { return looping_; }
    void SetLooping(bool value) noexcept;
    uint16_t LoopCount() const noexcept { return loopCount_; }
    void SetLoopCount(uint16_t value) noexcept;
    bool ShowHourGlass() const noexcept { return showHourGlass_; }
    void SetShowHourGlass(bool value) noexcept { showHourGlass_ = value; }
    bool Mapped() const noexcept { return mapped_; }
    void SetMapped(bool value) noexcept { mapped_ = value; }
    TMMThreadPriority Priority() const noexcept { return priority_; }
    void SetPriority(TMMThreadPriority value);

    // Closes the device, then takes the format.
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    const WAVEFORMATEX* PWaveFormat() const override { return TMMCustomWaveOutComponent::PWaveFormat(); }

    // The number of output devices the system has.
    static int32_t NumDevs();
    // Whether the device id is in range and the device accepts the format
    // (nothing is opened).
    static bool QueryFormat(TMMDeviceId deviceId, const WAVEFORMATEX* format);

    uint32_t State() const noexcept { return state_.load(); }
    bool IsPlaying() const noexcept { return (state_.load() & wosPlaying) != 0; }
    HWAVEOUT Handle() const noexcept { return device_; }
    // The window that receives the device's messages (null before the first Open).
    HWND CallbackWindow() const noexcept { return window_.get(); }
    // Buffers handed to the device and not yet back.
    int32_t Outstanding() const noexcept { return outstanding_.load(); }
    // Bytes of the buffers that came back since the last start.
    int64_t BytesPlayed() const noexcept { return bytesPlayed_; }

    // Chain hooks: buffers announced upstream are ignored; loading fills the
    // loop fields; the notifications drive this device.
    void BufferReady(WaveHdrEx* header) override {}
    void BufferLoad(WaveHdrEx* header, bool& moreBuffers) override;
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Paused() override { Pause(); }
    void Restarted() override { Restart(); }
    void Stopped() override { Stop(); }

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;
    bool SetEvent(const std::string& name, wc::TNotifyEvent handler) override;

    wc::TNotifyEvent OnError;
    wc::TNotifyEvent OnOpen;
    wc::TNotifyEvent OnStart;
    wc::TNotifyEvent OnPause;
    wc::TNotifyEvent OnRestart;
    wc::TNotifyEvent OnStop;
    wc::TNotifyEvent OnClose;
    wc::TNotifyEvent OnLooping;
    TMMBufferEvent OnBufferFilled;

    // Runs a returned buffer: bookkeeping, refill, re-queue, end of playback.
    void DoneHandler(WaveHdrEx* header);

private:
    friend class TMMWaveOutThread;

    // ---- the operations' parts (MMWavOut.cpp) ----

    // Raises on a failed device call: prefix + the system's text.
    void Check(MMRESULT result, const char* prefix);
    // waveOutReset: only a positive result is a failure.
    void ResetDevice();
    uint32_t DeviceSamples();
    // Waits up to `slices` slices of 10 ms while `keepWaiting` holds.
    template <class Predicate>
    bool WaitSlices(int slices, Predicate keepWaiting);
    WaveHdrEx* MakeHeader(int index);
    int32_t LoadHeader(WaveHdrEx* header);
    void QueueHeader(WaveHdrEx* header);
    void ReleaseHeaders() noexcept;
    void FireError() noexcept;
    void SetStateFlag(uint32_t flag, bool on) noexcept;
    void CloseQuietly() noexcept;
    // Position bookkeeping back to the start of the data.
    void ResetPositions();
    // Whether a run may take a buffer back now. Called under handOver_.
    bool RunsAllowed() const noexcept;
    // The work of a DoneHandler run that has entered (raised the depth).
    void RunDone(WaveHdrEx* returned);
    // The end of a DoneHandler run; `ran`: the run did its work.
    void EndRun(bool ran);
    // Called by Start and Reset once the ring is queued: does the runs held
    // back meanwhile, then lets runs in.
    void LetRunsIn();
    // Whether the ring of buffers is being queued (Start, Reset).
    void SetRefilling(bool on) noexcept;
    // Waits, bounded and dispatching sent messages, until no DoneHandler run
    // of another thread is in progress; false when one never ends.
    bool WaitHandlersOut();
    // Unprepares every header in the table and gives it back to the pool.
    void DropHeaders() noexcept;
    void StopNow();
    void CloseNow() noexcept;

    // ---- delivery (MMWavOutDelivery.cpp) ----

    // The hidden window: made at the first Open, gone with the component.
    void CreateCallbackWindow();
    void DestroyCallbackWindow() noexcept;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK DeviceCallback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                        DWORD_PTR param2);
    // Lowers the outstanding count; true when the buffer is to be ignored.
    bool CountReturned();
    // Sends the request to the hidden window when called on another thread;
    // false when the caller is to do the work itself. Raises when the
    // window's thread does not answer in time: the work is never done beside it.
    bool Marshal(UINT request);
    // Whether the calling thread owns the hidden window.
    bool OnWindowThread() const noexcept;
    // Drops the done messages still queued for this device.
    void FlushDoneMessages();
    // Hands a failure of the worker or the device callback to the hidden
    // window, whose thread closes the device and reports it.
    void ReportFailure(const std::exception& error) noexcept;
    // The worker of cmThread mode, with its three events: started by Open,
    // stopped by Close.
    void StartThread();
    void StopThread();
    // Waits, bounded, for the worker's body to end, and frees it.
    void JoinWorker() noexcept;
    void CloseEvents() noexcept;

    HWAVEOUT device_ = nullptr;
    TMMDeviceId deviceId_ = 0;
    int32_t numDevs_ = 0;
    std::string productName_;
    MMRESULT lastResult_ = MMSYSERR_NOERROR;
    std::atomic<uint32_t> state_{wosClosed};

    int32_t numBuffers_ = DefaultWaveOutBuffers;
    TMMCBMode callBackMode_ = cmWindow;
    TMMTimeFormats timeFormat_ = tfByte;
    bool looping_ = false;
    uint16_t loopCount_ = 0;
    int32_t loopsLeft_ = 0;
    bool showHourGlass_ = true;
    bool mapped_ = false;
    TMMThreadPriority priority_ = tpHigher;

    std::array<WaveHdrEx*, MaxWaveOutBuffers> headers_{};
    int32_t ringIndex_ = 0;
    int32_t buffersInUse_ = 0;
    std::atomic<int32_t> outstanding_{0};
    // Buffers queued and not yet taken back by DoneHandler.
    std::atomic<int32_t> unhandled_{0};

    // Guards the hand-over between a DoneHandler run and Stop, Close and
    // Reset: handlerDepth_, stopPending_, finished_, resetting_ (when set by
    // Stop or Reset), endPosted_, playback_ and failure_. Never held while
    // waiting, calling the device or firing events.
    wc::CriticalSection handOver_;
    std::atomic<int32_t> handlerDepth_{0};
    // Numbers each playback (Start, Reset); WomEndPlay carries it, so the end
    // message of an earlier playback cannot stop a later one.
    std::atomic<uint32_t> playback_{0};
    // Set while StopNow runs on the window's thread: a Close dispatched
    // during its waits is deferred to its end.
    bool stopRunning_ = false;
    // Set by Reset until every buffer of the ring it replaces is back and its
    // done message gone: a run that comes meanwhile is of that ring and is
    // dropped. Guarded by handOver_.
    bool rewinding_ = false;
    // Set by Start and Reset while they queue the first buffers of a ring: a
    // run that comes meanwhile (the device may hand a buffer back at once) is
    // counted in heldRuns_ and done by that thread before it lets runs in.
    // Both guarded by handOver_.
    bool refilling_ = false;
    int32_t heldRuns_ = 0;
    std::string failure_;
    std::atomic<bool> stopPending_{false};
    std::atomic<bool> closePending_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> resetting_{false};
    std::atomic<bool> endPosted_{false};
    std::atomic<bool> moreBuffers_{false};

    int64_t loopStart_ = 0;
    int64_t offset_ = 0;
    uint32_t lastReading_ = 0;
    uint32_t wrapCount_ = 0;
    uint32_t wrapSpan_ = 0;
    int64_t bytesPlayed_ = 0;

    TMMAllocator pool_;
    // The delivery's: the hidden window, the worker of cmThread mode and its
    // events (MMWavOutDelivery.cpp says who makes and ends each).
    wc::WindowHandle window_;
    std::unique_ptr<TMMWaveOutThread> thread_;
    std::atomic<bool> threadFailed_{false};
    wc::KernelHandle readyEvent_;
    wc::KernelHandle quitEvent_;
    wc::KernelHandle flushEvent_;
    // Exists from Open to Close.
    std::unique_ptr<wc::CriticalSection> lock_;
};
