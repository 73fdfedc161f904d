#include "BrowserDriver.h"

#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <utility>

#include "support/TestSupport.h"
#include "framework/Files.h"
#include "framework/InputBox.h"
#include "framework/Strings.h"

namespace ts = testing_support;

namespace folderdialog_test {

namespace {

// The browser's status line (BIF_STATUSTEXT) has this control id.
constexpr int kStatusControlId = 0x3743;

bool IsOurDialog(HWND window) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    return process == ::GetCurrentProcessId() && ::IsWindowVisible(window) && ts::ClassNameOf(window) == L"#32770";
}

HWND TreeOf(HWND browser) {
    for (HWND child : ts::Descendants(browser))
        if (ts::ClassNameOf(child) == L"SysTreeView32") return child;
    return nullptr;
}

BOOL CALLBACK CollectTop(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

std::vector<HWND> OurDialogs() {
    std::vector<HWND> all, ours;
    ::EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&all));
    for (HWND window : all)
        if (IsOurDialog(window)) ours.push_back(window);
    return ours;
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
    for (HWND window : OurDialogs())
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
        for (HWND window : OurDialogs())
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
    const auto deadline = ts::Clock::now() + ts::kWindowTimeout;
    while (!condition()) {
        if (ts::Clock::now() > deadline) throw DriverFailure(what);
        ::Sleep(20);
    }
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

RECT BoundsInParent(HWND control) {
    RECT bounds;
    ::GetWindowRect(control, &bounds);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void SelectPath(HWND browser, const std::string& path) {
    ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
}

void SelectItem(HWND browser, LPCITEMIDLIST item) {
    ::SendMessageA(browser, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(item));
}

void PressCancel(HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

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
        for (HWND dialog : OurDialogs()) PressCancel(dialog);
        ::Sleep(100);
    }
}

// ---- registry ----

RegistryOverride::RegistryOverride(HKEY root, const std::string& subKey, const char* valueName, DWORD type,
                                   const std::vector<BYTE>& data)
    : root_(root), subKey_(subKey) {
    if (valueName) valueName_ = valueName;
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (::RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, &disposition) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot open registry key " + subKey);
    keyCreated_ = disposition == REG_CREATED_NEW_KEY;
    DWORD size = 0;
    if (::RegQueryValueExA(key, valueName, nullptr, &oldType_, nullptr, &size) == ERROR_SUCCESS) {
        hadValue_ = true;
        oldData_.resize(size);
        ::RegQueryValueExA(key, valueName, nullptr, &oldType_, oldData_.data(), &size);
        oldData_.resize(size);
    }
    const LONG set = ::RegSetValueExA(key, valueName, 0, type, data.data(), DWORD(data.size()));
    ::RegCloseKey(key);
    if (set != ERROR_SUCCESS) throw std::runtime_error("cannot write registry key " + subKey);
}

RegistryOverride RegistryOverride::Text(HKEY root, const std::string& subKey, const char* valueName,
                                        const std::string& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return RegistryOverride(root, subKey, valueName, REG_SZ, data);
}

RegistryOverride RegistryOverride::Dword(HKEY root, const std::string& subKey, const char* valueName, DWORD value) {
    std::vector<BYTE> data(sizeof value);
    memcpy(data.data(), &value, sizeof value);
    return RegistryOverride(root, subKey, valueName, REG_DWORD, data);
}

RegistryOverride::RegistryOverride(RegistryOverride&& other) noexcept
    : root_(other.root_),
      subKey_(std::move(other.subKey_)),
      valueName_(std::move(other.valueName_)),
      keyCreated_(other.keyCreated_),
      hadValue_(other.hadValue_),
      oldType_(other.oldType_),
      oldData_(std::move(other.oldData_)),
      active_(std::exchange(other.active_, false)) {}

RegistryOverride::~RegistryOverride() {
    if (!active_) return;
    if (keyCreated_) {
        ::RegDeleteKeyA(root_, subKey_.c_str());
        return;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    const char* name = valueName_ ? valueName_->c_str() : nullptr;
    if (hadValue_) ::RegSetValueExA(key, name, 0, oldType_, oldData_.data(), DWORD(oldData_.size()));
    else ::RegDeleteValueA(key, name);
    ::RegCloseKey(key);
}

RegistryKeyAbsence::RegistryKeyAbsence(HKEY root, const std::string& subKey) : root_(root), subKey_(subKey) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    existed_ = true;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name, type = 0, size = 0;
        if (::RegEnumValueA(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        Value value{std::string(name, nameLength), type, std::vector<BYTE>(size)};
        nameLength = sizeof name;
        ::RegEnumValueA(key, index, name, &nameLength, nullptr, &type, value.data.data(), &size);
        values_.push_back(std::move(value));
    }
    ::RegCloseKey(key);
    if (::RegDeleteKeyA(root, subKey.c_str()) != ERROR_SUCCESS)
        throw std::runtime_error("cannot remove registry key " + subKey);
}

RegistryKeyAbsence::~RegistryKeyAbsence() {
    if (!existed_) {
        ::RegDeleteKeyA(root_, subKey_.c_str());  // in case a test made it
        return;
    }
    HKEY key = nullptr;
    if (::RegCreateKeyExA(root_, subKey_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const Value& value : values_)
        ::RegSetValueExA(key, value.name.empty() ? nullptr : value.name.c_str(), 0, value.type, value.data.data(),
                         DWORD(value.data.size()));
    ::RegCloseKey(key);
}

}  // namespace folderdialog_test
