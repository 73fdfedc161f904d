// The wave output's delivery machinery (MMWavOutDelivery.cpp): the worker
// thread of cmThread mode, and what the wave output's two units share of
// how device reports and other threads' calls reach their handlers. Only
// those two units include this; users of the wave output include MMWavOut.h.
#pragma once

#include <windows.h>

#include "framework/Handles.h"
#include "media/playback/MMDSPObj.h"
#include "media/playback/MMWavOut.h"

namespace waveout_internal {

// The waits of the operations run in slices of this many milliseconds.
constexpr DWORD SliceMs = 10;

// Stop, Close and Reset asked for on another thread run on the hidden window's.
constexpr UINT WomStopRequest = 0x8002;
constexpr UINT WomCloseRequest = 0x8003;
constexpr UINT WomResetRequest = 0x8004;

inline constexpr const char* OpenPrefix = "WaveOutOpen:\n\r";

// The operating-system family, read once: Windows 95 alone may call back at
// interrupt time; 95, 98, ME and NT 4.0 and later report through a function.
struct OsFamily {
    bool windows95 = false;
    bool functionCallback = true;
};
const OsFamily& Os();

// Runs the messages other threads have sent to this one (a Stop or Close
// marshalled to the hidden window), without taking posted ones.
void DispatchSentMessages() noexcept;

// Holds the component's lock when it exists.
class OptionalLock {
public:
    explicit OptionalLock(wc::CriticalSection* section) noexcept : section_(section) {
        if (section_) section_->Enter();
    }
    ~OptionalLock() {
        if (section_) section_->Leave();
    }
    OptionalLock(const OptionalLock&) = delete;
    OptionalLock& operator=(const OptionalLock&) = delete;

private:
    wc::CriticalSection* section_;
};

}  // namespace waveout_internal

// The worker of cmThread mode: runs DoneHandler for the buffers the device
// callback posts to its message queue.
class TMMWaveOutThread : public TMMDSPThread {
public:
    explicit TMMWaveOutThread(TMMWaveOut* owner);
    ~TMMWaveOutThread() override;
    void ApplyPriority(TMMThreadPriority priority) noexcept;
    HANDLE NativeHandle() const noexcept { return native_.get(); }

protected:
    void Run() override;

private:
    TMMWaveOut* owner_;
    wc::KernelHandle native_;  // a real handle of the running thread, for its priority
};
