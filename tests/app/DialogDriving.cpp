#include "DialogDriving.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "framework/Strings.h"

namespace testing_support {

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

DialogDriver::DialogDriver(std::function<HWND()> find, std::function<void(HWND)> act)
    : thread_([this, find = std::move(find), act = std::move(act)] {
          if (HWND window = WaitFor(find)) {
              act(window);
              done_ = true;
          }
      }) {}

DialogDriver::~DialogDriver() {
    if (thread_.joinable()) thread_.join();
}

bool DialogDriver::Done() {
    if (thread_.joinable()) thread_.join();
    return done_;
}

}  // namespace testing_support
