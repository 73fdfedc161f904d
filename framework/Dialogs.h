// Common dialogs: the base of the non-visual dialog components, the
// task-modal runner they show the system's dialogs with, and whether the
// program uses the new-style (Windows 95 shell) dialogs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/Components.h"

namespace wc {

// True from system version 4 on (the Windows 95 shell and later). A program
// may switch it off before its dialogs run, to get the old-style dialogs.
bool NewStyleControls() noexcept;
void SetNewStyleControls(bool on) noexcept;

// A dialog component: Execute shows it modally.
class TCommonDialog : public TComponent {
public:
    explicit TCommonDialog(TComponent* owner) : TComponent(owner) {}
    static const char* ClassName() { return "TCommonDialog"; }

    // Shows the dialog; true when the user confirmed it.
    virtual bool Execute() = 0;

    bool Ctl3D = true;  // the three-dimensional look of old-style dialogs
    int HelpContext = 0;
    TNotifyEvent OnShow;
    TNotifyEvent OnClose;

    bool SetProperty(const std::string& name, const LayoutValue& value) override;
    bool SetEvent(const std::string& name, TNotifyEvent handler) override;
};

// While it lives, every enabled top-level window of this thread is disabled,
// so a system dialog shown meanwhile is modal to the whole application. The
// windows are enabled again, and the active one reactivated, on destruction.
class TaskWindowsDisabled {
public:
    TaskWindowsDisabled();
    ~TaskWindowsDisabled();
    TaskWindowsDisabled(const TaskWindowsDisabled&) = delete;
    TaskWindowsDisabled& operator=(const TaskWindowsDisabled&) = delete;

private:
    std::vector<HWND> disabled_;
    HWND active_;
};

// Runs `show` (which shows a system dialog) task-modally and returns its result.
template <class F>
auto TaskModalDialog(F&& show) {
    TaskWindowsDisabled disabled;
    return show();
}

}  // namespace wc
