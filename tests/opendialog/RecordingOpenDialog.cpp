#include "OpenDialogDriver.h"

#include <commctrl.h>
#include <dlgs.h>

#include <thread>

#include "framework/Strings.h"
#include "support/TestSupport.h"

using namespace testing_support;

namespace opendialog_tests {

bool RunDriven(TMMCustomOpenDialog& dialog, const std::function<void(HWND frame)>& drive, bool* frameSeen) {
    bool seen = false;
    std::thread driver([&] {
        HWND frame = WaitFor([] { return FindTopWindow(::GetCurrentProcessId(), L"#32770", L""); });
        if (!frame) return;
        seen = true;
        drive(frame);
        if (::IsWindow(frame) && !WaitUntil([&] { return !::IsWindow(frame); }, std::chrono::milliseconds(500)))
            ::PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
    });
    const bool result = dialog.Execute();
    driver.join();
    if (frameSeen) *frameSeen = seen;
    return result;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        ::Sleep(20);
    }
    return true;
}

HWND FileNameEdit(HWND frame) {
    for (int id : {cmb13, edt1})
        for (HWND child : Descendants(frame))
            if (::GetDlgCtrlID(child) == id && ClassNameOf(child) == L"Edit") return child;
    return nullptr;
}

void TypeFileName(HWND frame, const std::string& text) {
    ::SendMessageA(FileNameEdit(frame), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void PressButton(HWND frame, int id) {
    ::PostMessageW(frame, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(::GetDlgItem(frame, id)));
}

static HWND FileListView(HWND frame) {
    for (HWND child : Descendants(frame))
        if (ClassNameOf(child) == L"SysListView32") return child;
    return nullptr;
}

std::vector<std::string> ListViewItems(HWND frame) {
    std::vector<std::string> items;
    HWND list = FileListView(frame);
    if (!list) return items;
    const int count = int(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[MAX_PATH] = "";
        LVITEMA item{};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        ::SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        items.emplace_back(text);
    }
    return items;
}

bool SelectListViewItem(HWND frame, const std::string& prefix) {
    HWND list = FileListView(frame);
    const std::vector<std::string> items = ListViewItems(frame);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].compare(0, prefix.size(), prefix) != 0) continue;
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageA(list, LVM_SETITEMSTATE, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        return true;
    }
    return false;
}

std::string FolderPath(HWND frame) {
    char path[MAX_PATH] = "";
    const LRESULT length = ::SendMessageA(frame, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(path));
    return length > 0 ? std::string(path) : std::string();
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const int count = int(::SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const int length = int(::SendMessageA(combo, CB_GETLBTEXTLEN, WPARAM(i), 0));
        std::string text(size_t(std::max(length, 0)) + 1, '\0');
        ::SendMessageA(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(size_t(std::max(length, 0)));
        items.push_back(text);
    }
    return items;
}

// ---- RecordingOpenDialog ----

std::vector<std::string> RecordingOpenDialog::SelChanges() const {
    std::lock_guard lock(mutex_);
    return selChanges_;
}
std::vector<std::string> RecordingOpenDialog::FileOKs() const {
    std::lock_guard lock(mutex_);
    return fileOKs_;
}
std::vector<RecordingOpenDialog::Command> RecordingOpenDialog::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}
HWND RecordingOpenDialog::WindowAtShow() const {
    std::lock_guard lock(mutex_);
    return windowAtShow_;
}
int RecordingOpenDialog::ShowCount() const {
    std::lock_guard lock(mutex_);
    return shows_;
}
int RecordingOpenDialog::CloseCount() const {
    std::lock_guard lock(mutex_);
    return closes_;
}

void RecordingOpenDialog::DoShowDialog() {
    {
        std::lock_guard lock(mutex_);
        ++shows_;
        windowAtShow_ = Window();
    }
    if (onShow) onShow();
    TMMCustomOpenDialog::DoShowDialog();
}

void RecordingOpenDialog::DoCloseDialog() {
    {
        std::lock_guard lock(mutex_);
        ++closes_;
    }
    TMMCustomOpenDialog::DoCloseDialog();
}

void RecordingOpenDialog::DoFileOK(const std::string& fileName, bool& isOk) {
    {
        std::lock_guard lock(mutex_);
        fileOKs_.push_back(fileName);
    }
    if (accept) isOk = accept(fileName);
    TMMCustomOpenDialog::DoFileOK(fileName, isOk);
}

void RecordingOpenDialog::DoSelChange(const std::string& fileName) {
    {
        std::lock_guard lock(mutex_);
        selChanges_.push_back(fileName);
    }
    if (onSelChange) onSelChange();
    TMMCustomOpenDialog::DoSelChange(fileName);
}

void RecordingOpenDialog::DoCommand(HWND hookWindow, HWND frameWindow, int controlId) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back({hookWindow, frameWindow, controlId});
    }
    TMMCustomOpenDialog::DoCommand(hookWindow, frameWindow, controlId);
}

}  // namespace opendialog_tests
