#include "DialogDriver.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "framework/Strings.h"

#include "TestSupport.h"

namespace testing_support {

namespace {

// How long a test's driver may leave the dialog closing on its own before it is cancelled.
constexpr std::chrono::milliseconds kCloseGrace{500};
// Message boxes left up are dismissed one after the other, at most this many.
constexpr int kMaxBoxesLeft = 5;

BOOL CALLBACK CollectTop(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> ProcessDialogs() {
    std::vector<HWND> all, ours;
    ::EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&all));
    for (HWND window : all) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) && ClassNameOf(window) == L"#32770")
            ours.push_back(window);
    }
    return ours;
}

HWND FindMessageBox(HWND except) {
    for (HWND dialog : ProcessDialogs())
        if (dialog != except && ::GetDlgItem(dialog, 0xFFFF)) return dialog;
    return nullptr;
}

bool RunDriven(const std::function<bool()>& run, const std::function<void(HWND frame)>& drive, bool* frameSeen) {
    bool seen = false;
    std::atomic<bool> ran{false};
    std::thread driver([&] {
        // Once `run` is back, no dialog of its own is coming.
        HWND frame = nullptr;
        WaitUntil(
            [&] {
                frame = FindTopWindow(::GetCurrentProcessId(), L"#32770", L"");
                return frame || ran;
            },
            kWindowTimeout);
        if (!frame) return;
        seen = true;
        drive(frame);
        // A message box left up would keep the dialog from closing.
        for (int i = 0; i < kMaxBoxesLeft; ++i)
            if (HWND box = FindMessageBox(frame)) {
                PressOk(box);
                WaitUntil([box] { return !::IsWindow(box); }, kCloseGrace);
            }
        if (::IsWindow(frame) && !WaitUntil([&] { return !::IsWindow(frame); }, kCloseGrace))
            ::PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
    });
    const bool result = run();
    ran = true;
    driver.join();
    if (frameSeen) *frameSeen = seen;
    return result;
}

HWND FileNameEdit(HWND frame) {
    // A combo box's edit (cmb13) in explorer dialogs, an edit (edt1) in old-style ones.
    for (int id : {cmb13, edt1})
        for (HWND child : Descendants(frame))
            if (::GetDlgCtrlID(child) == id && ClassNameOf(child) == L"Edit") return child;
    return nullptr;
}

void TypeFileName(HWND frame, const std::string& text) {
    ::SendMessageA(FileNameEdit(frame), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

HWND FileListView(HWND frame) {
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
    const auto found = std::find_if(items.begin(), items.end(),
                                    [&](const std::string& item) { return item.compare(0, prefix.size(), prefix) == 0; });
    if (found == items.end()) return false;
    LVITEMA none{};
    none.stateMask = LVIS_SELECTED;
    ::SendMessageA(list, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(&none));
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageA(list, LVM_SETITEMSTATE, WPARAM(found - items.begin()), reinterpret_cast<LPARAM>(&item));
    return true;
}

bool SelectListViewItemsInOneGo(HWND frame, const std::vector<std::string>& prefixes) {
    HWND list = FileListView(frame);
    const std::vector<std::string> items = ListViewItems(frame);
    std::vector<int> indexes;
    for (const std::string& prefix : prefixes) {
        const auto found = std::find_if(items.begin(), items.end(), [&](const std::string& item) {
            return item.compare(0, prefix.size(), prefix) == 0;
        });
        if (found == items.end()) return false;
        indexes.push_back(int(found - items.begin()));
    }
    // Sent without waiting: the list's thread takes sent messages in order,
    // all of them before any posted message or timer. The items must live
    // until the last one is handled, which the closing plain send waits for.
    LVITEMA none{};
    none.stateMask = LVIS_SELECTED;
    std::vector<LVITEMA> selected(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i) {
        selected[i].stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        selected[i].state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageCallbackA(list, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(&none), nullptr, 0);
        ::SendMessageCallbackA(list, LVM_SETITEMSTATE, WPARAM(indexes[i]), reinterpret_cast<LPARAM>(&selected[i]),
                               nullptr, 0);
    }
    ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    return true;
}

std::string FolderPath(HWND frame) {
    // The dialog answers in the text form it runs in, which is wide.
    wchar_t path[MAX_PATH] = L"";
    const LRESULT length = ::SendMessageW(frame, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(path));
    return length > 0 ? wc::FromWide(path) : std::string();
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const int count = int(::SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const int length = std::max(int(::SendMessageA(combo, CB_GETLBTEXTLEN, WPARAM(i), 0)), 0);
        std::string text(size_t(length) + 1, '\0');
        ::SendMessageA(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(size_t(length));
        items.push_back(text);
    }
    return items;
}

HWND ControlById(HWND window, int id) {
    if (HWND child = ::GetDlgItem(window, id)) return child;
    return FindChildById(window, id);
}

void PressButton(HWND window, int id) {
    HWND button = ControlById(window, id);
    HWND parent = button ? ::GetParent(button) : window;
    ::PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(button));
}

std::string TextOf(HWND window) {
    char text[1024] = "";
    ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

bool IsChecked(HWND checkBox) { return ::SendMessageA(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool ClickCheckBox(HWND checkBox, bool checked, std::chrono::milliseconds timeout) {
    ::PostMessageW(checkBox, BM_CLICK, 0, 0);
    return WaitUntil([&] { return IsChecked(checkBox) == checked; }, timeout);
}

// ---- TextLog ----
//
// Threads: the wrapped procedure runs on the control's thread, the log is
// read and the wrapper installed and removed on the driving thread;
// `logsMutex` guards `logs`.

namespace {

struct ControlLog {
    WNDPROC previous = nullptr;
    std::vector<TextLog::Entry> entries;
};
std::mutex logsMutex;
std::map<HWND, ControlLog> logs;

LRESULT CALLBACK LoggingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = nullptr;
    {
        std::lock_guard lock(logsMutex);
        const auto found = logs.find(window);
        if (found == logs.end()) return ::DefWindowProcW(window, message, wParam, lParam);
        previous = found->second.previous;
        if (message == WM_SETTEXT && lParam)
            found->second.entries.push_back(
                {wc::FromWide(reinterpret_cast<const wchar_t*>(lParam)), std::chrono::steady_clock::now()});
    }
    return ::CallWindowProcW(previous, window, message, wParam, lParam);
}

}  // namespace

TextLog::TextLog(HWND control) : control_(control) {
    std::lock_guard lock(logsMutex);
    ControlLog& log = logs[control];
    log.previous = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LoggingProc)));
}

TextLog::~TextLog() {
    std::lock_guard lock(logsMutex);
    const auto found = logs.find(control_);
    if (found == logs.end()) return;
    if (::IsWindow(control_)) ::SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(found->second.previous));
    logs.erase(found);
}

std::vector<TextLog::Entry> TextLog::Entries() const {
    std::lock_guard lock(logsMutex);
    const auto found = logs.find(control_);
    return found == logs.end() ? std::vector<Entry>{} : found->second.entries;
}

std::vector<std::string> TextLog::Texts() const {
    std::vector<std::string> texts;
    for (const Entry& entry : Entries()) texts.push_back(entry.text);
    return texts;
}

// ---- the open dialog and the folder browser of any process ----

namespace {

bool HasChildOfClass(HWND parent, const wchar_t* className) {
    for (HWND child : Descendants(parent))
        if (ClassNameOf(child) == className) return true;
    return false;
}

struct DialogSearch {
    DWORD processId;
    bool wantTree;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<DialogSearch*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != s->processId || !::IsWindowVisible(window) || ClassNameOf(window) != L"#32770") return TRUE;
    if (HasChildOfClass(window, L"SysTreeView32") != s->wantTree) return TRUE;
    if (!s->wantTree && !HasChildOfClass(window, L"SysListView32") && !HasChildOfClass(window, L"ListBox"))
        return TRUE;
    s->found = window;
    return FALSE;
}

HWND FindDialogWith(DWORD processId, bool wantTree) {
    DialogSearch search{processId, wantTree, nullptr};
    ::EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The texts of a folder browser's static controls (its title and its status
// line), each framed by line breaks.
std::wstring StatusTexts(HWND browser) {
    std::wstring all = L"\n";
    for (HWND child : Descendants(browser))
        if (ClassNameOf(child) == L"Static") all += WindowText(child) + L"\n";
    return all;
}

}  // namespace

HWND FindOpenDialog(DWORD processId) { return FindDialogWith(processId, false); }
HWND FindFolderBrowser(DWORD processId) { return FindDialogWith(processId, true); }

void ChooseFileIn(HWND dialog, const std::wstring& path) {
    // The file name box: a combo box (cmb13) in explorer dialogs, an edit (edt1) otherwise.
    HWND box = FindChildById(dialog, 0x47C);
    if (!box) box = FindChildById(dialog, 0x480);
    if (box && ClassNameOf(box) == L"ComboBox") {
        if (HWND edit = ::FindWindowExW(box, nullptr, L"Edit", nullptr)) box = edit;
    }
    SetText(box, path);
    PressOk(dialog);
}

void Cancel(HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

void ChooseFolderInProcess(HWND browser, const std::string& path) {
    // The browser fills its tree as it comes up, and a selection sent before
    // the tree holds the path does not take: it is sent again until the
    // status line shows the path (or the wait ends, and OK shows what went).
    const std::wstring shown = L"\n" + wc::ToWide(path) + L"\n";
    WaitFor([&] {
        ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
        return StatusTexts(browser).find(shown) != std::wstring::npos ? browser : nullptr;
    });
    PressOk(browser);
}

bool ChooseFolderByTree(HWND browser, const std::wstring& path) {
    HWND tree = nullptr;
    for (HWND child : Descendants(browser))
        if (ClassNameOf(child) == L"SysTreeView32") tree = child;
    if (!tree) return false;
    // Item handles are plain values, so this works on another process's tree.
    // The folder sits among the first items under the desktop; a bounded walk.
    constexpr int kMaxSteps = 80;
    LPARAM item = 0;
    WaitFor([&] {
        item = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        return item ? tree : nullptr;
    });
    for (int step = 0; item && step < kMaxSteps; ++step) {
        ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item);
        if (StatusTexts(browser).find(L"\n" + path + L"\n") != std::wstring::npos) {
            PressOk(browser);
            return true;
        }
        item = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, item);
    }
    return false;
}

void PostDrop(HWND window, const std::vector<std::string>& paths) {
    std::wstring names;
    for (const std::string& path : paths) names += wc::ToWide(path) + L'\0';
    names += L'\0';
    HGLOBAL block = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(::GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(header + 1, names.data(), names.size() * sizeof(wchar_t));
    ::GlobalUnlock(block);
    ::PostMessageW(window, WM_DROPFILES, WPARAM(block), 0);
}

}  // namespace testing_support
