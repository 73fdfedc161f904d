// The wave output's delivery machinery: how a buffer the device hands back
// reaches DoneHandler, and how a Stop, Close or Reset asked for on another
// thread, a failure away from the user-interface thread, and the end of the
// playback reach the user-interface thread. The device operations, the ring
// of buffers and DoneHandler's work are in MMWavOut.cpp.
//
// How it works
//
// Delivery. On the systems that call a function (Windows 95, 98, ME, NT
// 4.0 and later) the device reports through DeviceCallback, which only
// counts (outstanding_) and forwards a returned buffer: in cmWindow mode as
// a message to the hidden window, so DoneHandler runs on the user-interface
// thread; in cmThread mode to the queue of the worker TMMWaveOutThread,
// which runs DoneHandler; in cmCallback mode (Windows 95 only) DoneHandler
// runs on the system's thread at once. Elsewhere the device reports to the
// hidden window itself, whose procedure counts first. The hidden window's
// procedure also runs the end of playback (WomEndPlay: Stop), the requests
// marshalled from other threads and the failures reported to it.
//
// Threads. The system's callback thread runs DeviceCallback. The
// user-interface thread owns the hidden window and runs its procedure: every
// Stop, Close and Reset does its work there, and a call on another thread is
// sent there by Marshal (bounded; it fails cleanly if that thread does not
// answer in time). A thread that waits dispatches the messages sent to it
// meanwhile (DispatchSentMessages), so a Stop sent to it is not held up by
// its own wait. In cmThread mode the worker runs TMMWaveOutThread::Run from
// Open to Close: it takes the done messages of this device from its own
// queue, dispatches any other message, and drops the done messages queued
// when FlushEvent asks it to.
//
// Locks. The worker is started under lock_. failure_ is guarded by
// handOver_ (MMWavOut.cpp); threadFailed_ is atomic. The worker's three
// events are made before it starts and closed after StopThread's join.
//
// Set-up and teardown, in pairs. The hidden window is made at the first
// Open (CreateCallbackWindow) and goes with the component
// (DestroyCallbackWindow), which first stops it calling into the object.
// The worker and its events are made by StartThread in Open and ended by
// StopThread in Close.
//
// Stopping. StopThread signals QuitEvent and waits, bounded and dispatching
// sent messages, for the worker to signal ReadyEvent; then it terminates and
// joins the worker, bounded too: a worker stuck in the application's own
// code is left running rather than hanging the user-interface thread.
//
// Failures. A failure of the worker or of the device callback never waits
// on the user-interface thread: it is posted to the hidden window
// (WomFailure), whose thread closes the device and reports it.
#include "media/playback/MMWavOutDelivery.h"

#include <exception>
#include <string>
#include <utility>

#include "framework/Controls.h"
#include "framework/Handles.h"
#include "media/MMErrors.h"
#include "media/MMMessages.h"

namespace {

constexpr DWORD ThreadLimitMs = 5000;  // worker thread start and stop
// The worker wakes this often even without messages, so a Terminate is seen.
constexpr DWORD WorkerIdleMs = 100;
// A request sent to the window's thread is given up after this long without an answer.
constexpr UINT MarshalTimeoutMs = 5000;
// A failure of the worker or of the device callback, to be reported here.
constexpr UINT WomFailure = 0x8005;

const char* const WindowClass = "TMMWaveOutWindow";
const char* const MarshalFailure = "WaveOut:\n\rThe user-interface thread did not answer in time";

}  // namespace

// ---- shared with MMWavOut.cpp ----

namespace waveout_internal {

const OsFamily& Os() {
    static const OsFamily family = [] {
        OsFamily result;
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (!::GetVersionExA(&info)) return result;
#pragma GCC diagnostic pop
        result.windows95 = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info.dwMajorVersion == 4 &&
                           info.dwMinorVersion == 0;
        result.functionCallback = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ||
                                  (info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 4);
        return result;
    }();
    return family;
}

void DispatchSentMessages() noexcept {
    MSG message;
    ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace waveout_internal

using waveout_internal::DispatchSentMessages;
using waveout_internal::OpenPrefix;
using waveout_internal::OptionalLock;
using waveout_internal::Os;
using waveout_internal::SliceMs;
using waveout_internal::WomCloseRequest;
using waveout_internal::WomResetRequest;
using waveout_internal::WomStopRequest;

// ---- the hidden window and the device callback ----

void TMMWaveOut::CreateCallbackWindow() {
    if (window_) return;
    static const ATOM atom = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &TMMWaveOut::WindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = WindowClass;
        return ::RegisterClassA(&windowClass);
    }();
    (void)atom;
    window_.reset(::CreateWindowExA(0, WindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr));
    if (!window_) Error(OpenPrefix + MMLoadString(MMMsg::UnableToOpenDevice));
    ::SetWindowLongPtrA(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void TMMWaveOut::DestroyCallbackWindow() noexcept {
    // The window stops calling into this object before it goes.
    if (window_) ::SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
    window_.reset();
}

LRESULT CALLBACK TMMWaveOut::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TMMWaveOut*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self) return self->HandleWindowMessage(window, message, wParam, lParam);
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT TMMWaveOut::HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WomStopRequest) {
            StopNow();
            return 0;
        }
        if (message == WomCloseRequest) {
            CloseNow();
            return 0;
        }
        if (message == WomResetRequest) {
            Reset();
            return 0;
        }
        if (message == WomFailure) {
            std::string text;
            {
                wc::CriticalSectionLock lock(handOver_);
                text = std::exchange(failure_, std::string());
            }
            CloseQuietly();
            if (!text.empty()) wc::HandleException(EMMWaveOutError(text));
            return 0;
        }
        const bool ours = device_ && reinterpret_cast<HWAVEOUT>(wParam) == device_;
        if (!ours ||
            (message != MM_WOM_OPEN && message != MM_WOM_CLOSE && message != MM_WOM_DONE && message != WomEndPlay))
            return ::DefWindowProcA(window, message, wParam, lParam);
        // The end of an earlier playback does not stop this one.
        if (message == WomEndPlay && static_cast<uint32_t>(lParam) != playback_.load()) return 0;
        switch (message) {
            case MM_WOM_OPEN: state_ = wosOpen; break;
            case MM_WOM_CLOSE: state_ = wosClosed; break;
            case MM_WOM_DONE:
                if (!Os().functionCallback && CountReturned()) break;
                if (!finished_.load()) DoneHandler(reinterpret_cast<WaveHdrEx*>(lParam));
                break;
            case WomEndPlay: StopNow(); break;
        }
    } catch (const std::exception& error) {
        FireError();
        CloseQuietly();
        wc::HandleException(error);
    }
    return 0;
}

bool TMMWaveOut::CountReturned() {
    const int32_t left = --outstanding_;
    if (!resetting_.load()) return false;
    if (left <= 0) resetting_ = false;
    return true;
}

void CALLBACK TMMWaveOut::DeviceCallback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                         DWORD_PTR) {
    auto* self = reinterpret_cast<TMMWaveOut*>(instance);
    if (!self) return;
    try {
        switch (message) {
            case WOM_OPEN: self->state_ = wosOpen; break;
            case WOM_CLOSE: self->state_ = wosClosed; break;
            case WOM_DONE: {
                if (self->CountReturned() || self->finished_.load()) break;
                const auto header = static_cast<LPARAM>(param1);
                switch (self->callBackMode_) {
                    case cmWindow:
                        ::PostMessageA(self->window_.get(), MM_WOM_DONE, reinterpret_cast<WPARAM>(device), header);
                        break;
                    case cmCallback: self->DoneHandler(reinterpret_cast<WaveHdrEx*>(param1)); break;
                    case cmThread:
                        if (self->thread_)
                            ::PostThreadMessageA(self->thread_->ThreadId(), MM_WOM_DONE,
                                                 reinterpret_cast<WPARAM>(device), header);
                        break;
                }
                break;
            }
        }
    } catch (const std::exception& error) {
        // Closing and reporting wait on the user-interface thread: not here.
        self->ReportFailure(error);
    }
}

void TMMWaveOut::ReportFailure(const std::exception& error) noexcept {
    try {
        wc::CriticalSectionLock lock(handOver_);
        if (failure_.empty()) failure_ = error.what();
    } catch (...) {
        // Out of memory for the text: the close below still happens.
    }
    if (window_) ::PostMessageA(window_.get(), WomFailure, 0, 0);
}

// Sends `request` to the hidden window's thread when called on another one.
bool TMMWaveOut::Marshal(UINT request) {
    if (OnWindowThread()) return false;
    DWORD_PTR ignored = 0;
    if (::SendMessageTimeoutA(window_.get(), request, 0, 0, SMTO_NORMAL, MarshalTimeoutMs, &ignored) != 0) return true;
    // Doing the work here, beside the window's thread, would race it.
    FireError();
    throw EMMWaveOutError(MarshalFailure);
}

bool TMMWaveOut::OnWindowThread() const noexcept {
    HWND window = window_.get();
    return !window || ::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId();
}

// Drops done messages still waiting for this device, so that a later start
// does not take them for its own buffers.
void TMMWaveOut::FlushDoneMessages() {
    if (callBackMode_ == cmWindow && window_ &&
        ::GetWindowThreadProcessId(window_.get(), nullptr) == ::GetCurrentThreadId()) {
        MSG message;
        while (::PeekMessageA(&message, window_.get(), MM_WOM_DONE, MM_WOM_DONE, PM_REMOVE)) {
        }
    } else if (callBackMode_ == cmThread && thread_ && flushEvent_ && !threadFailed_.load()) {
        if (thread_->ThreadId() == ::GetCurrentThreadId()) {
            MSG message;
            while (::PeekMessageA(&message, nullptr, MM_WOM_DONE, MM_WOM_DONE, PM_REMOVE)) {
            }
            return;
        }
        ::SetEvent(flushEvent_.get());
        const DWORD begin = ::GetTickCount();
        while (::WaitForSingleObject(flushEvent_.get(), 0) == WAIT_OBJECT_0 && !thread_->Finished() &&
               ::GetTickCount() - begin < ThreadLimitMs) {
            // The worker may be sending us a Stop in the meantime.
            DispatchSentMessages();
            ::Sleep(0);
        }
    }
}

// ---- the worker thread ----

void TMMWaveOut::StartThread() {
    OptionalLock lock(lock_.get());
    threadFailed_ = false;
    if (thread_) {
        thread_->Terminate();
        thread_.reset();
    }
    readyEvent_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    quitEvent_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    flushEvent_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const std::string failure = "WaveOut:\n\r" + MMLoadString(MMMsg::CouldNotCreateThread);
    if (!readyEvent_ || !quitEvent_ || !flushEvent_) Error(failure);
    thread_ = std::make_unique<TMMWaveOutThread>(this);
    if (!thread_->Start()) Error(failure);
    if (::WaitForSingleObject(readyEvent_.get(), ThreadLimitMs) != WAIT_OBJECT_0) Error(failure);
}

void TMMWaveOut::StopThread() {
    if (thread_ && readyEvent_ && quitEvent_ && !threadFailed_.load()) {
        ::SetEvent(quitEvent_.get());
        // Dispatches what the worker sends here while it ends.
        HANDLE ready = readyEvent_.get();
        const DWORD begin = ::GetTickCount();
        while (::MsgWaitForMultipleObjects(1, &ready, FALSE, SliceMs, QS_SENDMESSAGE) != WAIT_OBJECT_0 &&
               ::GetTickCount() - begin < ThreadLimitMs)
            DispatchSentMessages();
    }
    if (thread_ && thread_->ThreadId() != ::GetCurrentThreadId()) {
        thread_->Terminate();
        JoinWorker();
    }
    CloseEvents();
    lock_.reset();
}

void TMMWaveOut::JoinWorker() noexcept {
    if (!thread_) return;
    const DWORD begin = ::GetTickCount();
    while (!thread_->Finished() && ::GetTickCount() - begin < ThreadLimitMs) {
        DispatchSentMessages();
        ::Sleep(1);
    }
    if (thread_->Finished()) {
        thread_.reset();  // the body has returned: the join is immediate
        return;
    }
    // A body stuck in the application's own code: it is left running rather
    // than hanging this thread; its object is deliberately not freed.
    static_cast<void>(thread_.release());
}

void TMMWaveOut::CloseEvents() noexcept {
    readyEvent_.reset();
    quitEvent_.reset();
    flushEvent_.reset();
}

TMMWaveOutThread::TMMWaveOutThread(TMMWaveOut* owner) : TMMDSPThread(owner), owner_(owner) {}

TMMWaveOutThread::~TMMWaveOutThread() {
    Terminate();
    WaitFor();
}

void TMMWaveOutThread::ApplyPriority(TMMThreadPriority priority) noexcept {
    if (native_) ::SetThreadPriority(native_.get(), SystemThreadPriority(priority));
}

void TMMWaveOutThread::Run() {
    HANDLE self = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    native_.reset(self);
    ApplyPriority(owner_->priority_);
    MSG message;
    ::PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the message queue
    ::SetEvent(owner_->readyEvent_.get());
    HANDLE events[2] = {owner_->quitEvent_.get(), owner_->flushEvent_.get()};
    try {
        while (!Terminated()) {
            if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == MM_WOM_DONE && owner_->device_ &&
                    reinterpret_cast<HWAVEOUT>(message.wParam) == owner_->device_) {
                    if (!owner_->finished_.load()) owner_->DoneHandler(reinterpret_cast<WaveHdrEx*>(message.lParam));
                } else {
                    ::TranslateMessage(&message);
                    ::DispatchMessageA(&message);
                }
                continue;
            }
            const DWORD woken = ::MsgWaitForMultipleObjects(2, events, FALSE, WorkerIdleMs, QS_ALLINPUT);
            if (woken == WAIT_OBJECT_0) break;
            if (woken == WAIT_OBJECT_0 + 1) {
                while (::PeekMessageA(&message, nullptr, MM_WOM_DONE, MM_WOM_DONE, PM_REMOVE)) {
                }
                ::ResetEvent(events[1]);
            }
        }
    } catch (const std::exception& error) {
        // The user-interface thread closes the device and reports: this
        // thread never waits on it, which may be joining this one.
        owner_->threadFailed_ = true;
        owner_->ReportFailure(error);
        return;
    }
    if (!owner_->threadFailed_.load() && owner_->readyEvent_) ::SetEvent(owner_->readyEvent_.get());
}
