#include "framework/Timers.h"

#include "framework/Controls.h"
#include "framework/Exceptions.h"

namespace wc {

namespace {

constexpr char kTimerWindowClass[] = "WcTimerWindow";
constexpr UINT_PTR kTimerId = 1;

}  // namespace

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
    static const bool registered = [] {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &TTimer::WindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kTimerWindowClass;
        return ::RegisterClassExA(&windowClass) != 0;
    }();
    if (!registered) throw EOSError("RegisterClassExA", ::GetLastError());
    window_.reset(::CreateWindowExA(0, kTimerWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr));
    if (!window_) throw EOSError("CreateWindowExA", ::GetLastError());
    ::SetWindowLongPtrA(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TTimer::~TTimer() {
    if (active_) ::KillTimer(window_.get(), kTimerId);
    ::SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    UpdateTimer();
}

void TTimer::SetInterval(UINT interval) {
    if (interval == interval_) return;
    interval_ = interval;
    UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    // A running timer is stopped first, so a new interval counts from now.
    if (active_) ::KillTimer(window_.get(), kTimerId);
    active_ = false;
    if (!enabled_ || interval_ == 0 || !onTimer_) return;
    if (!::SetTimer(window_.get(), kTimerId, interval_, nullptr)) throw EOSError("SetTimer", ::GetLastError());
    active_ = true;
}

LRESULT CALLBACK TTimer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
        auto* timer = reinterpret_cast<TTimer*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (timer && timer->active_ && timer->onTimer_) {
            try {
                // A copy: the handler may replace itself.
                TNotifyEvent handler = timer->onTimer_;
                handler(timer);
            } catch (const std::exception& error) {
                HandleException(error);
            } catch (...) {
                HandleException(Exception("Unknown exception in a timer handler"));
            }
        }
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

bool TTimer::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "Enabled") SetEnabled(value.AsBoolean());
    else if (name == "Interval") SetInterval(UINT(value.AsInteger()));
    else return TComponent::SetProperty(name, value);
    return true;
}

bool TTimer::SetEvent(const std::string& name, TNotifyEvent handler) {
    if (name != "OnTimer") return TComponent::SetEvent(name, std::move(handler));
    SetOnTimer(std::move(handler));
    return true;
}

}  // namespace wc
