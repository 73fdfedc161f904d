#include "BrowserDriver.h"

#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <utility>

#include "support/DialogDriver.h"
#include "support/TestSupport.h"
#include "framework/Files.h"
#include "framework/InputBox.h"
#include "framework/Strings.h"

namespace ts = testing_support;

namespace folderdialog_test {

namespace {

// The browser's status line (BIF_STATUSTEXT) has this control id.
constexpr int kStatusControlId = 0x3743;

HWND TreeOf(HWND browser) {
    for (HWND child : ts::Descendants(browser))
        if (ts::ClassNameOf(child) == L"SysTreeView32") return child;
    return nullptr;
}

}  // namespace

ShortDir::ShortDir() {
    static unsigned counter = 0;
    for (;;) {
        path_ = "C:\\fdt" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
        if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path_);
    }
}

ShortDir::~ShortDir() { ts::RemoveTree(path_); }

std::string ShortDir::Make(const std::string& name) const {
    const std::string path = *this / name;
    if (!::CreateDirectoryA(path.c_str(), nullptr)) throw std::runtime_error("cannot create " + path);
    return path;
}

HWND FindBrowser() {
    for (HWND window : ts::ProcessDialogs())
        if (TreeOf(window)) return window;
    return nullptr;
}

HWND WaitForBrowser(HWND previous) {
    HWND browser = ts::WaitFor([previous]() -> HWND {
        if (previous && ::IsWindow(previous)) return nullptr;
        HWND found = FindBrowser();
        return found != previous ? found : nullptr;
    });
    if (!browser) throw DriverFailure(previous ? "the browser did not reopen" : "the browser did not open");
    return browser;
}

HWND WaitForDialog(const std::wstring& title) {
    HWND dialog = ts::WaitFor([&]() -> HWND {
        for (HWND window : ts::ProcessDialogs())
            if (ts::WindowText(window) == title) return window;
        return nullptr;
    });
    if (!dialog) throw DriverFailure("no dialog titled " + Narrow(title));
    return dialog;
}

void WaitGone(HWND window) {
    WaitUntil([window] { return !::IsWindow(window); }, "the window did not close");
}

void WaitUntil(const std::function<bool()>& condition, const std::string& what) {
    if (!ts::WaitUntil(condition, ts::kWindowTimeout)) throw DriverFailure(what);
}

std::string StatusText(HWND browser) {
    HWND status = ::GetDlgItem(browser, kStatusControlId);
    return status ? Narrow(ts::WindowText(status)) : std::string();
}

std::string SelectedTreeText(HWND browser) {
    HWND tree = TreeOf(browser);
    if (!tree) return {};
    auto item = reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return {};
    char text[MAX_PATH] = "";
    TVITEMA query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = MAX_PATH;
    ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
    return text;
}

HWND NewFolderButton(HWND browser) { return ::GetDlgItem(browser, 255); }

void SelectPath(HWND browser, const std::string& path) {
    ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
}

void SelectPathUntilShown(HWND browser, const std::string& path, const std::string& what) {
    std::string shown;
    try {
        WaitUntil(
            [&] {
                shown = StatusText(browser);
                if (shown == path) return true;
                SelectPath(browser, path);
                return false;
            },
            what);
    } catch (const DriverFailure&) {
        throw DriverFailure(what + " (the status line shows \"" + shown + "\")");
    }
}

void SelectItem(HWND browser, LPCITEMIDLIST item) {
    ::SendMessageA(browser, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(item));
}

void EnterNewFolderName(HWND browser, const std::string& name, const std::wstring& promptTitle) {
    HWND button = NewFolderButton(browser);
    if (!button) throw DriverFailure("the browser has no new-folder button");
    // Posted: the click runs the modal prompt on the browser's thread.
    ::PostMessageW(button, BM_CLICK, 0, 0);
    HWND prompt = WaitForDialog(promptTitle);
    HWND edit = ::GetDlgItem(prompt, wc::kInputBoxEditId);
    if (!edit) throw DriverFailure("the name prompt has no edit field");
    ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    ts::PressOk(prompt);
    WaitGone(prompt);
}

std::string Narrow(const std::wstring& text) { return wc::FromWide(text); }

void CancelDialogsUntil(const std::atomic<bool>& done) {
    const auto deadline = ts::Clock::now() + std::chrono::seconds(30);
    while (!done && ts::Clock::now() < deadline) {
        for (HWND dialog : ts::ProcessDialogs()) ts::PressButton(dialog, IDCANCEL);
        ::Sleep(100);
    }
}

}  // namespace folderdialog_test
