#include "framework/Dialogs.h"

namespace wc {

namespace {

bool SystemHasNewStyleControls() noexcept {
    // Version 4 is the first with the Windows 95 shell; the low byte of
    // GetVersion holds the major version on both families.
    return LOBYTE(LOWORD(::GetVersion())) >= 4;
}

bool g_newStyleControls = SystemHasNewStyleControls();

BOOL CALLBACK DisableTaskWindow(HWND window, LPARAM data) {
    if (::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
        ::EnableWindow(window, FALSE);
        reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    }
    return TRUE;
}

}  // namespace

bool NewStyleControls() noexcept { return g_newStyleControls; }
void SetNewStyleControls(bool on) noexcept { g_newStyleControls = on; }

bool TCommonDialog::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "Ctl3D") Ctl3D = value.AsBoolean();
    else if (name == "HelpContext") HelpContext = value.AsInteger();
    else return TComponent::SetProperty(name, value);
    return true;
}

bool TCommonDialog::SetEvent(const std::string& name, TNotifyEvent handler) {
    if (name == "OnShow") OnShow = std::move(handler);
    else if (name == "OnClose") OnClose = std::move(handler);
    else return TComponent::SetEvent(name, std::move(handler));
    return true;
}

TaskWindowsDisabled::TaskWindowsDisabled() : active_(::GetActiveWindow()) {
    ::EnumThreadWindows(::GetCurrentThreadId(), DisableTaskWindow, reinterpret_cast<LPARAM>(&disabled_));
}

TaskWindowsDisabled::~TaskWindowsDisabled() {
    for (HWND window : disabled_)
        if (::IsWindow(window)) ::EnableWindow(window, TRUE);
    if (active_ && ::IsWindow(active_)) ::SetActiveWindow(active_);
}

}  // namespace wc
