// The processing chain. Audio components are linked Input -> Output; data is
// pulled: the sink asks its Input to fill a buffer (BufferLoad), which asks
// its own Input first, up to the source, and each component works on the
// buffer on the way back. Played buffers travel the other way (BufferReady).
// The chain also carries the audio format from the source downstream, a
// common buffer size, and the device life-cycle notifications.
//
// How linking works: each link remembers the name of the peer's property
// that points back ("Output" on the input side, "Input" on the output side).
// When a component takes a new peer, LinkChanged is broadcast over the
// process-wide list of live components, so the peer's previous partner lets
// go of it; a link is only ever dropped by its holder, and only when the
// peer's property of that name still points at the holder.
//
// Sound components (devices) propagate the notifications to the plain
// components they are responsible for: the ones between them and the next
// sound component downstream, and, when no sound component feeds them, the
// ones upstream up to the head of the chain.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "media/playback/MMObj.h"
#include "media/wave/MMWaveFormats.h"

// The buffer header that travels along the chain: the system's wave header,
// then the loop and bookkeeping fields; the sample data follows directly.
struct WaveHdrEx {
    WAVEHDR wh;             // lpData = this + 60; dwBufferLength: capacity while loading,
                            // valid bytes while queued; dwBytesRecorded: bytes produced
    uint32_t reserved;      // not used by the wave output
    uint32_t SavedBytes;    // dwBytesRecorded kept across the device call
    WaveHdrEx* NextHdr;     // the header that plays after this one
    int32_t LoopFlag;       // 32-bit boolean, all bits set for true: looping
    int32_t LoopTotal;      // the loop count
    int32_t LoopsLeft;      // loops still to play; the sources count it down
    int32_t LoopMark;       // non-zero once a source wrapped to the loop start
};
static_assert(sizeof(void*) != 4 || sizeof(WaveHdrEx) == 60, "the chain's buffer header is 60 bytes");
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, wh.dwFlags) == 16);
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, reserved) == 32);
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, SavedBytes) == 36);
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, NextHdr) == 40);
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, LoopFlag) == 44);
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, LoopTotal) == 48);
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, LoopsLeft) == 52);
static_assert(sizeof(void*) != 4 || offsetof(WaveHdrEx, LoopMark) == 56);

inline constexpr size_t WaveHdrExSize = sizeof(WaveHdrEx);
inline constexpr int32_t LongBoolTrue = -1;

// The sample bytes of a chain buffer.
inline uint8_t* WaveHdrData(WaveHdrEx* header) { return reinterpret_cast<uint8_t*>(header->wh.lpData); }

using TMMBufferEvent = std::function<void(wc::TComponent* sender, WaveHdrEx* header)>;
using TMMBufferLoadEvent = std::function<void(wc::TComponent* sender, WaveHdrEx* header, bool& moreBuffers)>;

inline constexpr int32_t DefaultDSPBufferSize = 2048;
inline constexpr size_t MaxLinkNameLength = 20;

class TMMCustomDSPComponent : public TMMNonVisualComponent {
public:
    using TMMNonVisualComponent::TMMNonVisualComponent;
    static const char* ClassName() { return "TMMCustomDSPComponent"; }
};

class TMMDSPComponent : public TMMCustomDSPComponent {
public:
    explicit TMMDSPComponent(wc::TComponent* owner);
    // Unlinks both sides, clears the format and leaves the process-wide list.
    ~TMMDSPComponent() override;
    static const char* ClassName() { return "TMMDSPComponent"; }

    // Links. Setting one refuses (silently) a peer that would make a cycle.
    virtual void SetInput(TMMDSPComponent* value);
    virtual TMMDSPComponent* Input() const { return input_; }
    virtual void SetOutput(TMMDSPComponent* value);
    virtual TMMDSPComponent* Output() const { return output_; }
    const std::string& InputName() const noexcept { return inputName_; }
    const std::string& OutputName() const noexcept { return outputName_; }

    // The format flowing through this component (an owned copy), or null.
    virtual void SetPWaveFormat(const WAVEFORMATEX* format);
    virtual const WAVEFORMATEX* PWaveFormat() const { return format_.get(); }

    // The effective size while opened, else the configured one.
    virtual int32_t BufferSize() const;
    virtual void SetBufferSize(int32_t value);
    int32_t ConfiguredBufferSize() const noexcept { return bufferSize_; }

    // A neighbour announces its format; by default it becomes this one's.
    virtual void FormatChanged(const WAVEFORMATEX* format);
    // Pulls the format from Input, or pushes this one's to Output.
    virtual void UpdateFormat();
    // Drops the link on the given side when `sender` is that peer, was
    // linked through `propertyName`, and that property still points here.
    virtual void LinkChanged(TMMDSPComponent* sender, bool inputSide, const std::string& propertyName);
    // LinkChanged on every live chain component.
    static void BroadcastLinkChanged(TMMDSPComponent* sender, bool inputSide, const std::string& propertyName);

    // Device life-cycle notifications.
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void Rewound();
    virtual void Looped();

    // Pulls data: OnBufferLoad, then Input's BufferLoad, then the post-load hook.
    virtual void BufferLoad(WaveHdrEx* header, bool& moreBuffers);
    // Hands a played buffer on: OnBufferReady, then Output's BufferReady.
    virtual void BufferReady(WaveHdrEx* header);

    virtual void SetInputLink(TMMDSPComponent* component, const std::string& propertyName);
    virtual void SetOutputLink(TMMDSPComponent* component, const std::string& propertyName);
    virtual bool CanAcceptInput(TMMDSPComponent* candidate) const;
    virtual bool CanAcceptOutput(TMMDSPComponent* candidate) const;

    // Whether this class publishes its "Input" / "Output" property.
    virtual bool PublishesInput() const { return false; }
    virtual bool PublishesOutput() const { return false; }
    // The component a link property of that name refers to; null for no
    // such property.
    virtual TMMDSPComponent* LinkProperty(std::string_view propertyName) const;

    // Allow linking a side this class does not publish.
    bool AllowInputLink = false;
    bool AllowOutputLink = false;

    bool IsOpened() const noexcept { return opened_; }
    bool IsStarted() const noexcept { return started_; }
    bool IsPaused() const noexcept { return paused_; }

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;
    // Runs after a load that produced bytes.
    TMMBufferEvent OnBufferLoaded;

    void Loaded() override;

    // The live chain components, in creation order.
    static size_t LiveCount();

protected:
    bool ReadingOrDestroying() const noexcept { return IsLoading() || IsDestroying(); }
    void SetOpenedFlag(bool value) noexcept { opened_ = value; }
    void SetStartedFlag(bool value) noexcept { started_ = value; }
    void SetPausedFlag(bool value) noexcept { paused_ = value; }
    // Unlinks and drops the format; for destructors of classes whose
    // notifications must still run as their own.
    void DetachFromChain();

private:
    TMMDSPComponent* input_ = nullptr;
    TMMDSPComponent* output_ = nullptr;
    std::string inputName_;
    std::string outputName_;
    WaveFormatBuffer format_;
    int32_t bufferSize_ = DefaultDSPBufferSize;
    int32_t effectiveSize_ = DefaultDSPBufferSize;
    bool opened_ = false;
    bool started_ = false;
    bool paused_ = false;
    bool detached_ = false;
};

// Where a sound device hands its finished buffers.
enum TMMCBMode { cmWindow, cmCallback, cmThread };

// A component that drives a sound device; it carries the chain's
// notifications to the plain components it is responsible for.
class TMMCustomSoundComponent : public TMMDSPComponent {
public:
    using TMMDSPComponent::TMMDSPComponent;
    static const char* ClassName() { return "TMMCustomSoundComponent"; }

    // True when another sound component feeds this one through the chain.
    bool Slaved() const noexcept { return slaved_; }

    virtual void SetNumBuffers(int32_t value) = 0;
    virtual int32_t NumBuffers() const = 0;
    virtual void SetDeviceID(TMMDeviceId value) = 0;
    virtual TMMDeviceId DeviceID() const = 0;
    virtual void SetProductName(const std::string& value) = 0;
    virtual std::string ProductName() const = 0;
    virtual void SetCallBackMode(TMMCBMode value) = 0;
    virtual TMMCBMode CallBackMode() const = 0;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Rewound() override;
    void Looped() override;

private:
    enum class Note { Opened, Closed, Started, Paused, Restarted, Stopped, Rewound, Looped };
    // Sends the notification to the components this one is responsible for.
    void Propagate(Note note);
    TMMDSPComponent* PropagationStart(bool& metSound) const;

    bool slaved_ = false;
};

// A worker thread of the chain, working for one component. Live instances
// are kept in a process-wide list, so components can tell whether a call
// arrives on one of the library's workers.
class TMMDSPThread : public TMMThreadEx {
public:
    explicit TMMDSPThread(TMMDSPComponent* component);
    ~TMMDSPThread() override;

    TMMDSPComponent* Component() const noexcept { return component_; }
    // The system id of the thread once started, else 0.
    DWORD ThreadId() const noexcept { return threadId_.load(); }

    // Whether the calling thread is the body of a live TMMDSPThread.
    static bool IsCurrentThreadDSP();
    static size_t LiveCount();

protected:
    // Runs the body; derived classes implement Run instead of Execute.
    void Execute() final;
    virtual void Run() = 0;

private:
    TMMDSPComponent* component_;
    std::atomic<DWORD> threadId_{0};
};
