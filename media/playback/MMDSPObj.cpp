#include "media/playback/MMDSPObj.h"

#include <algorithm>
#include <memory>

#include "framework/Handles.h"

namespace {

// Every live chain component; created with the first, freed with the last.
// Chain components are created, linked and destroyed on the user-interface
// thread only, so the list takes no lock.
std::unique_ptr<std::vector<TMMDSPComponent*>> liveComponents;

void RegisterComponent(TMMDSPComponent* component) {
    if (!liveComponents) liveComponents = std::make_unique<std::vector<TMMDSPComponent*>>();
    liveComponents->push_back(component);
}

void UnregisterComponent(TMMDSPComponent* component) {
    if (!liveComponents) return;
    std::erase(*liveComponents, component);
    if (liveComponents->empty()) liveComponents.reset();
}

// Every live chain worker thread; asked from any thread, so it has a lock.
// The lock itself lives as long as the process: a worker may ask while the
// last list entry is being removed.
wc::CriticalSection& ThreadListLock() {
    static wc::CriticalSection lock;
    return lock;
}
std::unique_ptr<std::vector<TMMDSPThread*>> liveThreads;

std::string CutLinkName(const std::string& name) { return name.substr(0, std::min(name.size(), MaxLinkNameLength)); }

bool IsSound(const TMMDSPComponent* component) {
    return dynamic_cast<const TMMCustomSoundComponent*>(component) != nullptr;
}

// A chain is acyclic by construction; the walks still stop after as many
// steps as there are live components, so a fault cannot hang them.
size_t WalkLimit() { return TMMDSPComponent::LiveCount() + 1; }

}  // namespace

// ---- TMMDSPComponent ----

TMMDSPComponent::TMMDSPComponent(wc::TComponent* owner) : TMMCustomDSPComponent(owner) { RegisterComponent(this); }

TMMDSPComponent::~TMMDSPComponent() {
    DetachFromChain();
    UnregisterComponent(this);
}

void TMMDSPComponent::DetachFromChain() {
    if (detached_) return;
    detached_ = true;
    SetComponentState(wc::csDestroying);
    SetInput(nullptr);
    SetOutput(nullptr);
    SetPWaveFormat(nullptr);
}

size_t TMMDSPComponent::LiveCount() { return liveComponents ? liveComponents->size() : 0; }

void TMMDSPComponent::BroadcastLinkChanged(TMMDSPComponent* sender, bool inputSide, const std::string& propertyName) {
    if (!liveComponents) return;
    const std::vector<TMMDSPComponent*> components = *liveComponents;
    for (TMMDSPComponent* component : components) component->LinkChanged(sender, inputSide, propertyName);
}

TMMDSPComponent* TMMDSPComponent::LinkProperty(std::string_view propertyName) const {
    if (propertyName == "Input") return Input();
    if (propertyName == "Output") return Output();
    return nullptr;
}

void TMMDSPComponent::LinkChanged(TMMDSPComponent* sender, bool inputSide, const std::string& propertyName) {
    if (!sender) return;
    if (inputSide) {
        if (input_ == sender && inputName_ == propertyName && sender->LinkProperty(propertyName) == this)
            SetInputLink(nullptr, {});
    } else {
        if (output_ == sender && outputName_ == propertyName && sender->LinkProperty(propertyName) == this)
            SetOutputLink(nullptr, {});
    }
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* component, const std::string& propertyName) {
    input_ = component;
    inputName_ = CutLinkName(propertyName);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* component, const std::string& propertyName) {
    output_ = component;
    outputName_ = CutLinkName(propertyName);
}

bool TMMDSPComponent::CanAcceptInput(TMMDSPComponent* candidate) const {
    if (!candidate || candidate == this) return false;
    if (!candidate->PublishesOutput() && !candidate->AllowOutputLink) return false;
    // Walk downstream: none of the components this one feeds may become its input.
    const TMMDSPComponent* node = output_;
    for (size_t steps = WalkLimit(); node && steps > 0; --steps, node = node->Output())
        if (node == candidate) return false;
    return node == nullptr;
}

bool TMMDSPComponent::CanAcceptOutput(TMMDSPComponent* candidate) const {
    if (!candidate || candidate == this) return false;
    if (!candidate->PublishesInput() && !candidate->AllowInputLink) return false;
    const TMMDSPComponent* node = input_;
    for (size_t steps = WalkLimit(); node && steps > 0; --steps, node = node->Input())
        if (node == candidate) return false;
    return node == nullptr;
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
    if (value == input_) return;
    if (value && !CanAcceptInput(value)) return;
    Stopped();
    if (input_) {
        BroadcastLinkChanged(this, false, "Input");
        SetInputLink(nullptr, {});
        FormatChanged(nullptr);
    }
    if (!value) return;
    BroadcastLinkChanged(value, true, "Output");
    SetInputLink(value, "Output");
    value->SetOutputLink(this, "Input");
    UpdateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
    if (value == output_) return;
    if (value && !CanAcceptOutput(value)) return;
    Stopped();
    if (TMMDSPComponent* old = output_) {
        BroadcastLinkChanged(this, true, "Output");
        old->FormatChanged(nullptr);
        SetOutputLink(nullptr, {});
    }
    if (!value) return;
    BroadcastLinkChanged(value, false, "Input");
    SetOutputLink(value, "Input");
    value->SetInputLink(this, "Output");
    UpdateFormat();
}

void TMMDSPComponent::UpdateFormat() {
    if (ReadingOrDestroying()) return;
    if (input_)
        FormatChanged(input_->PWaveFormat());
    else if (output_)
        output_->FormatChanged(PWaveFormat());
}

void TMMDSPComponent::FormatChanged(const WAVEFORMATEX* format) { SetPWaveFormat(format); }

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != format_.get()) {
        if (started_) Stopped();
        format_ = WaveCopyFormat(format);
    }
    if (!ReadingOrDestroying() && output_) output_->FormatChanged(PWaveFormat());
}

void TMMDSPComponent::Loaded() {
    TMMCustomDSPComponent::Loaded();
    SetPWaveFormat(PWaveFormat());
}

int32_t TMMDSPComponent::BufferSize() const { return opened_ ? effectiveSize_ : bufferSize_; }

void TMMDSPComponent::SetBufferSize(int32_t value) {
    if (value == bufferSize_) return;
    if (started_) Stopped();
    bufferSize_ = value;
}

void TMMDSPComponent::Opened() {
    if (opened_) return;
    const WAVEFORMATEX* format = PWaveFormat();
    // A format with block alignment 0 is corrupt; it sizes like no format.
    if (format && format->nBlockAlign > 0) {
        const int32_t align = format->nBlockAlign;
        effectiveSize_ = std::max(bufferSize_ / align * align, align);
    } else {
        effectiveSize_ = bufferSize_;
    }
    opened_ = true;
    started_ = false;
    paused_ = false;
}

void TMMDSPComponent::Closed() { opened_ = false; }

void TMMDSPComponent::Started() {
    if (opened_) started_ = true;
}

void TMMDSPComponent::Paused() { paused_ = true; }

void TMMDSPComponent::Restarted() { paused_ = false; }

void TMMDSPComponent::Stopped() {
    if (!started_) return;
    started_ = false;
    paused_ = false;
}

void TMMDSPComponent::Rewound() {}

void TMMDSPComponent::Looped() {}

void TMMDSPComponent::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    if (OnBufferLoad) OnBufferLoad(this, header, moreBuffers);
    if (input_) input_->BufferLoad(header, moreBuffers);
    if (OnBufferLoaded && header->wh.dwBytesRecorded != 0) OnBufferLoaded(this, header);
}

void TMMDSPComponent::BufferReady(WaveHdrEx* header) {
    if (OnBufferReady) OnBufferReady(this, header);
    if (output_) output_->BufferReady(header);
}

// ---- TMMCustomSoundComponent ----

TMMDSPComponent* TMMCustomSoundComponent::PropagationStart(bool& metSound) const {
    metSound = false;
    TMMDSPComponent* last = const_cast<TMMCustomSoundComponent*>(this);
    TMMDSPComponent* node = Input();
    for (size_t steps = WalkLimit(); node && steps > 0; --steps) {
        if (IsSound(node) && node != this) {
            metSound = true;
            return const_cast<TMMCustomSoundComponent*>(this);
        }
        last = node;
        node = node->Input();
    }
    return last;
}

void TMMCustomSoundComponent::Propagate(Note note) {
    auto send = [note](TMMDSPComponent* component) {
        switch (note) {
            case Note::Opened: component->Opened(); break;
            case Note::Closed: component->Closed(); break;
            case Note::Started: component->Started(); break;
            case Note::Paused: component->Paused(); break;
            case Note::Restarted: component->Restarted(); break;
            case Note::Stopped: component->Stopped(); break;
            case Note::Rewound: component->Rewound(); break;
            case Note::Looped: component->Looped(); break;
        }
    };
    bool metSound = false;
    TMMDSPComponent* start = PropagationStart(metSound);
    if (note == Note::Opened) slaved_ = metSound;
    const int32_t configuredSize = ConfiguredBufferSize();

    if (note == Note::Closed || note == Note::Stopped) {
        // The device downstream first, then the plain components this one covers.
        TMMDSPComponent* node = Output();
        for (size_t steps = WalkLimit(); node && steps > 0; --steps, node = node->Output()) {
            if (IsSound(node)) {
                send(node);
                break;
            }
        }
        node = start;
        for (size_t steps = WalkLimit(); node && steps > 0; --steps, node = node->Output()) {
            if (node == this) continue;
            if (IsSound(node)) break;
            send(node);
        }
    } else {
        TMMDSPComponent* node = start;
        for (size_t steps = WalkLimit(); node && steps > 0; --steps, node = node->Output()) {
            if (node == this) continue;
            if (note == Note::Opened) node->SetBufferSize(configuredSize);
            send(node);
            if (IsSound(node)) break;
        }
    }
}

void TMMCustomSoundComponent::Opened() {
    Propagate(Note::Opened);
    TMMDSPComponent::Opened();
}
void TMMCustomSoundComponent::Closed() {
    Propagate(Note::Closed);
    TMMDSPComponent::Closed();
}
void TMMCustomSoundComponent::Started() {
    Propagate(Note::Started);
    TMMDSPComponent::Started();
}
void TMMCustomSoundComponent::Paused() {
    Propagate(Note::Paused);
    TMMDSPComponent::Paused();
}
void TMMCustomSoundComponent::Restarted() {
    Propagate(Note::Restarted);
    TMMDSPComponent::Restarted();
}
void TMMCustomSoundComponent::Stopped() {
    Propagate(Note::Stopped);
    TMMDSPComponent::Stopped();
}
void TMMCustomSoundComponent::Rewound() {
    Propagate(Note::Rewound);
    TMMDSPComponent::Rewound();
}
void TMMCustomSoundComponent::Looped() {
    Propagate(Note::Looped);
    TMMDSPComponent::Looped();
}

// ---- TMMDSPThread ----

TMMDSPThread::TMMDSPThread(TMMDSPComponent* component) : component_(component) {
    wc::CriticalSectionLock lock(ThreadListLock());
    if (!liveThreads) liveThreads = std::make_unique<std::vector<TMMDSPThread*>>();
    liveThreads->push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
    Terminate();
    WaitFor();
    wc::CriticalSectionLock lock(ThreadListLock());
    if (!liveThreads) return;
    std::erase(*liveThreads, this);
    if (liveThreads->empty()) liveThreads.reset();
}

void TMMDSPThread::Execute() {
    threadId_.store(GetCurrentThreadId());
    Run();
}

bool TMMDSPThread::IsCurrentThreadDSP() {
    const DWORD current = GetCurrentThreadId();
    wc::CriticalSectionLock lock(ThreadListLock());
    if (!liveThreads) return false;
    return std::any_of(liveThreads->begin(), liveThreads->end(),
                       [current](const TMMDSPThread* thread) { return thread->ThreadId() == current; });
}

size_t TMMDSPThread::LiveCount() {
    wc::CriticalSectionLock lock(ThreadListLock());
    return liveThreads ? liveThreads->size() : 0;
}
