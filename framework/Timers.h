// A component that fires OnTimer every Interval milliseconds while it is
// enabled. Each timer owns a hidden message-only window that receives the
// system's WM_TIMER, so it works on the thread that created it, inside any
// message loop that thread runs (modal dialogs included).
#pragma once

#include <windows.h>

#include <string>

#include "framework/Components.h"
#include "framework/Handles.h"

namespace wc {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;
    static const char* ClassName() { return "TTimer"; }

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled);
    UINT Interval() const noexcept { return interval_; }
    // 0 stops the timer (it stays enabled and runs again with a new interval).
    void SetInterval(UINT interval);
    // The handler; setting it re-arms the timer, since it only runs with one.
    const TNotifyEvent& OnTimer() const noexcept { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);

    // Whether the system timer is running (enabled, an interval and a handler).
    bool Active() const noexcept { return active_; }

    bool SetProperty(const std::string& name, const LayoutValue& value) override;
    bool SetEvent(const std::string& name, TNotifyEvent handler) override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void UpdateTimer();

    WindowHandle window_;
    bool enabled_ = true;
    UINT interval_ = 1000;
    TNotifyEvent onTimer_;
    bool active_ = false;
};

}  // namespace wc
