#include "dialogs/MMCstDlg.h"

#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <winnetwk.h>

#include <algorithm>

#include "framework/Exceptions.h"
#include "framework/Forms.h"
#include "framework/Strings.h"

namespace {

struct OptionName {
    const char* name;
    TOpenOption option;
    DWORD flag;
};
constexpr OptionName kOptions[] = {
    {"ofReadOnly", ofReadOnly, 0x1},
    {"ofOverwritePrompt", ofOverwritePrompt, 0x2},
    {"ofHideReadOnly", ofHideReadOnly, 0x4},
    {"ofNoChangeDir", ofNoChangeDir, 0x8},
    {"ofShowHelp", ofShowHelp, 0x10},
    {"ofNoValidate", ofNoValidate, 0x100},
    {"ofAllowMultiSelect", ofAllowMultiSelect, 0x200},
    {"ofExtensionDifferent", ofExtensionDifferent, 0x400},
    {"ofPathMustExist", ofPathMustExist, 0x800},
    {"ofFileMustExist", ofFileMustExist, 0x1000},
    {"ofCreatePrompt", ofCreatePrompt, 0x2000},
    {"ofShareAware", ofShareAware, 0x4000},
    {"ofNoReadOnlyReturn", ofNoReadOnlyReturn, 0x8000},
    {"ofNoTestFileCreate", ofNoTestFileCreate, 0x10000},
    {"ofNoNetworkButton", ofNoNetworkButton, 0x20000},
    {"ofNoLongNames", ofNoLongNames, 0x40000},
    {"ofOldStyleDialog", ofOldStyleDialog, 0x80000},
    {"ofNoDereferenceLinks", ofNoDereferenceLinks, 0x100000},
    {"ofEnableIncludeNotify", ofEnableIncludeNotify, 0x400000},
    {"ofEnableSizing", ofEnableSizing, 0x800000},
    {"ofDontAddToRecent", ofDontAddToRecent, 0x2000000},
    {"ofForceShowHidden", ofForceShowHidden, 0x10000000},
};

// The record without the extended flags, for systems before Windows 2000 / Me.
constexpr DWORD kShortOpenFileNameSize = 76;
// Buffer of CDM_GETFILEPATH and of a file list item of old-style dialogs.
constexpr size_t kSelectionPathSize = 8192;
// Room behind the file buffer, so a full buffer still ends in a double zero.
constexpr size_t kFileBufferSlack = 2;

// The running dialog of this family, found by the hook.
TMMCustomOpenDialog* g_runningDialog = nullptr;

struct CommonDialogMessages {
    bool registered = false;
    UINT selChanged = 0;       // "commdlg_LBSelChangedNotify"
    UINT shareViolation = 0;   // "commdlg_ShareViolation" (registered, not handled)
    UINT fileNameOK = 0;       // "commdlg_FileNameOK"
};
CommonDialogMessages g_messages;

bool HasExtendedOpenFileName() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!::GetVersionExA(&version)) return false;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return version.dwMajorVersion >= 5;
    // The 9x family has it from Windows Me (4.90) on.
    return version.dwMajorVersion > 4 || (version.dwMajorVersion == 4 && version.dwMinorVersion >= 90);
}

bool IsAbsoluteName(std::string_view name) {
    if (!name.empty() && name[0] == '\\') return true;
    const bool letter = !name.empty() && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    return name.size() >= 4 && letter && name[1] == ':' && name[2] == '\\';
}

// The dialog runs wide, so that file names outside the code page come back
// whole: the program's own texts (code page) and paths (UTF-8) are turned
// into wide text here and the names it returns into UTF-8.

// A wide copy of at most `limit` bytes (whole characters) of a text of the
// code page, with a terminating zero.
std::vector<wchar_t> LimitedCopy(std::string_view text, size_t limit) {
    const std::wstring wide = wc::ToWide(text.substr(0, FitText(text, limit)));
    std::vector<wchar_t> buffer(wide.begin(), wide.end());
    buffer.push_back(L'\0');
    return buffer;
}

// A wide copy of a path of at most `limit` characters (a pair of surrogates
// is not cut), with a terminating zero.
std::vector<wchar_t> LimitedPathCopy(std::string_view path, size_t limit) {
    const std::wstring wide = wc::PathToWide(path);
    size_t length = std::min(wide.size(), limit);
    if (length < wide.size() && length > 0 && IS_HIGH_SURROGATE(wide[length - 1])) --length;
    std::vector<wchar_t> buffer(wide.begin(), wide.begin() + length);
    buffer.push_back(L'\0');
    return buffer;
}

// The names in a returned wide file buffer, as UTF-8 (see SplitFileBuffer).
std::vector<std::string> SplitWideFileBuffer(const wchar_t* buffer, size_t size) {
    // Zeros stay zeros in UTF-8, so the whole buffer converts at once.
    const std::string names = wc::PathFromWide(std::wstring_view(buffer, size));
    return SplitFileBuffer(names.data(), names.size());
}

}  // namespace

size_t FitText(std::string_view text, size_t limit) noexcept {
    if (text.size() <= limit) return text.size();
    size_t at = 0;
    while (at < limit) {
        const size_t step = ::IsDBCSLeadByte(BYTE(text[at])) ? 2 : 1;
        if (at + step > limit) break;
        at += step;
    }
    return at;
}

DWORD OpenOptionFlags(TOpenOptions options) noexcept {
    DWORD flags = 0;
    for (const auto& option : kOptions)
        if (options & option.option) flags |= option.flag;
    return flags;
}

std::vector<char> MakeFilterBuffer(std::string_view filter) {
    // Room for the texts and the double zero; a longer filter keeps its
    // whole "name|pattern" pairs that fit, so no name loses its pattern.
    constexpr size_t kRoom = kFilterBufferSize - 2;
    size_t length = filter.size();
    if (length > kRoom) {
        size_t lastPairEnd = 0, separators = 0;
        for (size_t at = 0; at < filter.size() && at <= kRoom;) {
            if (filter[at] == '|' && ++separators % 2 == 0) lastPairEnd = at;
            at += ::IsDBCSLeadByte(BYTE(filter[at])) ? 2 : 1;
        }
        length = lastPairEnd > 0 ? lastPairEnd : FitText(filter, kRoom);
    }
    std::vector<char> buffer(kFilterBufferSize, '\0');
    for (size_t at = 0; at < length;) {
        // A "|" byte behind a lead byte is part of a double-byte character.
        if (::IsDBCSLeadByte(BYTE(filter[at])) && at + 1 < length) {
            buffer[at] = filter[at];
            buffer[at + 1] = filter[at + 1];
            at += 2;
        } else {
            buffer[at] = filter[at] == '|' ? '\0' : filter[at];
            ++at;
        }
    }
    return buffer;
}

std::vector<std::string> SplitFileBuffer(const char* buffer, size_t size) {
    std::vector<std::string> strings;
    for (size_t at = 0; at < size && buffer[at] != '\0';) {
        const size_t end = std::find(buffer + at, buffer + size, '\0') - buffer;
        strings.emplace_back(buffer + at, end - at);
        at = end + 1;
    }
    if (strings.size() <= 1) return strings;
    const std::string& folder = strings[0];
    const bool endsInBackslash = !folder.empty() && folder.back() == '\\';
    std::vector<std::string> names;
    for (size_t i = 1; i < strings.size(); ++i) {
        if (IsAbsoluteName(strings[i])) names.push_back(strings[i]);
        else names.push_back(folder + (endsInBackslash ? "" : "\\") + strings[i]);
    }
    return names;
}

std::string ExpandUNCFileName(const std::string& name) {
    wchar_t full[MAX_PATH];
    wchar_t* filePart = nullptr;
    const DWORD length = ::GetFullPathNameW(wc::PathToWide(name).c_str(), MAX_PATH, full, &filePart);
    if (length == 0 || length >= MAX_PATH) return name;
    const std::wstring path(full, length);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
        if (::GetDriveTypeW(root) == DRIVE_REMOTE) {
            // UNIVERSAL_NAME_INFO followed by the text it points to.
            std::vector<char> info(sizeof(UNIVERSAL_NAME_INFOW) + 4 * MAX_PATH);
            DWORD size = DWORD(info.size());
            if (::WNetGetUniversalNameW(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, info.data(), &size) == NO_ERROR)
                return wc::PathFromWide(reinterpret_cast<UNIVERSAL_NAME_INFOW*>(info.data())->lpUniversalName);
        }
    }
    return wc::PathFromWide(path);
}

void RegisterCommonDialogMessages() {
    if (g_messages.registered || wc::NewStyleControls()) return;
    g_messages.selChanged = ::RegisterWindowMessageA(LBSELCHSTRINGA);
    g_messages.shareViolation = ::RegisterWindowMessageA(SHAREVISTRINGA);
    g_messages.fileNameOK = ::RegisterWindowMessageA(FILEOKSTRINGA);
    g_messages.registered = true;
}

// ---- TMMCustomOpenDialog ----

TMMCustomOpenDialog::TMMCustomOpenDialog(wc::TComponent* owner) : TMMCommonDialog(owner) {}

TMMCustomOpenDialog::~TMMCustomOpenDialog() {
    if (g_runningDialog == this) g_runningDialog = nullptr;
}

void TMMCustomOpenDialog::SetInitialDir(std::string dir) {
    if (dir.size() > 1 && dir.back() == '\\' && dir[dir.size() - 2] != ':') dir.pop_back();
    initialDir_ = std::move(dir);
}

bool TMMCustomOpenDialog::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "FileName") FileName = value.AsString();
    else if (name == "Filter") Filter = value.AsString();
    else if (name == "FilterIndex") FilterIndex = value.AsInteger();
    else if (name == "InitialDir") SetInitialDir(value.AsString());
    else if (name == "Title") Title = value.AsString();
    else if (name == "DefaultExt") DefaultExt = value.AsString();
    else if (name == "Options") {
        Options = 0;
        for (const auto& member : value.AsSet()) {
            const auto* option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                               [&](const OptionName& o) { return member == o.name; });
            if (option == std::end(kOptions)) throw wc::Exception("Invalid open option " + member);
            Options |= option->option;
        }
    } else {
        return TMMCommonDialog::SetProperty(name, value);
    }
    return true;
}

bool TMMCustomOpenDialog::SetEvent(const std::string& name, wc::TNotifyEvent handler) {
    if (name == "OnDialogShow") OnDialogShow = std::move(handler);
    else if (name == "OnDialogClose") OnDialogClose = std::move(handler);
    else return TMMCommonDialog::SetEvent(name, std::move(handler));
    return true;
}

bool TMMCustomOpenDialog::Execute() {
    RegisterCommonDialogMessages();  // a no-op when start-up did it or new-style dialogs run
    files_.clear();
    const bool newStyle = wc::NewStyleControls();
    const bool extended = HasExtendedOpenFileName();

    OPENFILENAMEW open{};
    open.lStructSize = extended ? DWORD(sizeof open) : kShortOpenFileNameSize;
    open.hInstance = ::GetModuleHandleW(nullptr);
    open.hwndOwner = wc::Application().Handle();

    const std::vector<char> filterBytes = MakeFilterBuffer(Filter);
    // Zeros stay zeros, so the zero-separated list converts at once.
    std::wstring filter = wc::ToWide(std::string_view(filterBytes.data(), filterBytes.size()));
    open.lpstrFilter = filter.c_str();
    open.nFilterIndex = DWORD(std::max(FilterIndex, 0));

    const size_t fileSize = (Options & ofAllowMultiSelect) ? kMultiFileBufferSize : kSingleFileBufferSize;
    std::vector<wchar_t> file(fileSize + kFileBufferSlack, L'\0');
    const std::vector<wchar_t> fileName = LimitedPathCopy(FileName, fileSize - 1);
    std::copy(fileName.begin(), fileName.end(), file.begin());
    open.lpstrFile = file.data();
    open.nMaxFile = DWORD(fileSize);

    // An empty text leaves the system its own default.
    std::vector<wchar_t> initialDir = LimitedPathCopy(initialDir_, kShortTextLimit);
    std::vector<wchar_t> title = LimitedCopy(Title, kShortTextLimit);
    open.lpstrInitialDir = initialDir_.empty() ? nullptr : initialDir.data();
    open.lpstrTitle = Title.empty() ? nullptr : title.data();

    open.Flags = OFN_ENABLEHOOK | OpenOptionFlags(Options);
    if (newStyle) {
        open.Flags |= OFN_EXPLORER;
        if (extended) open.FlagsEx = (OptionsEx & ofExNoPlacesBar) ? OFN_EX_NOPLACESBAR : 0;
    } else {
        open.Flags &= ~DWORD(OFN_EXPLORER);
    }
    const std::wstring defaultExt = wc::ToWide(DefaultExt);
    open.lpstrDefExt = DefaultExt.empty() ? nullptr : defaultExt.c_str();
    open.lpfnHook = HookProc;
    open.lCustData = reinterpret_cast<LPARAM>(this);

    std::vector<wchar_t> templateName;
    if (!TemplateName.empty()) {
        // Old-style dialogs use the complete dialog template named "...OLD".
        const std::string suffix = newStyle ? "" : "OLD";
        const size_t base = FitText(TemplateName, kTemplateNameLimit - suffix.size());
        templateName = LimitedCopy(TemplateName.substr(0, base) + suffix, kTemplateNameLimit);
        open.lpTemplateName = templateName.data();
        open.Flags |= OFN_ENABLETEMPLATE;
    }

    struct Running {
        explicit Running(TMMCustomOpenDialog* dialog) { g_runningDialog = dialog; }
        ~Running() { g_runningDialog = nullptr; }
    } running(this);
    const bool confirmed = wc::TaskModalDialog([&] { return ::GetOpenFileNameW(&open) != FALSE; });
    if (!confirmed) return false;

    if (Options & ofAllowMultiSelect) {
        files_ = SplitWideFileBuffer(file.data(), file.size());
        FileName = files_.empty() ? std::string() : files_.front();
    } else {
        FileName = wc::PathFromWide(file.data());
        files_.push_back(FileName);
    }
    if (open.Flags & OFN_EXTENSIONDIFFERENT) Options |= ofExtensionDifferent;
    else Options &= ~unsigned(ofExtensionDifferent);
    if (open.Flags & OFN_READONLY) Options |= ofReadOnly;
    else Options &= ~unsigned(ofReadOnly);
    FilterIndex = int(open.nFilterIndex);
    return true;
}

void TMMCustomOpenDialog::CenterWindow(HWND window) {
    RECT bounds;
    if (!::GetWindowRect(window, &bounds)) return;
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    ::SetWindowPos(window, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 3, 0, 0,
                   SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

UINT_PTR CALLBACK TMMCustomOpenDialog::HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_INITDIALOG) {
            if (!wc::NewStyleControls()) CenterWindow(window);
            const auto* open = reinterpret_cast<const OPENFILENAMEW*>(lParam);
            auto* dialog = open ? reinterpret_cast<TMMCustomOpenDialog*>(open->lCustData) : nullptr;
            if (!dialog) return 1;
            g_runningDialog = dialog;
            dialog->window_ = window;
            dialog->DoShowDialog();
            return 1;
        }
        if (TMMCustomOpenDialog* dialog = g_runningDialog; dialog && dialog->window_ == window)
            return dialog->HandleHookMessage(window, message, wParam, lParam);
    } catch (const std::exception& error) {
        wc::HandleException(error);
    } catch (...) {
        wc::HandleException(wc::Exception("Unknown exception in the open dialog"));
    }
    return 0;
}

UINT_PTR TMMCustomOpenDialog::HandleHookMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY: {
        const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lParam);
        switch (notify->hdr.code) {
        case CDN_INITDONE:
            CenterWindow(::GetParent(window));
            return 0;
        case CDN_FILEOK:
            return CheckFileName(window, *notify->lpOFN);
        case CDN_SELCHANGE:
            SelectionChanged(::GetParent(window));
            return 0;
        }
        return 0;
    }
    case WM_COMMAND:
        DoCommand(window, ::GetParent(window), LOWORD(wParam));
        return 0;
    case WM_DESTROY: {
        // Whatever DoCloseDialog does, the dialog is gone afterwards.
        struct Closed {
            TMMCustomOpenDialog& dialog;
            ~Closed() {
                dialog.window_ = nullptr;
                g_runningDialog = nullptr;
            }
        } closed{*this};
        DoCloseDialog();
        return 0;
    }
    }
    if (g_messages.registered) {
        if (message == g_messages.fileNameOK)
            return CheckFileName(window, *reinterpret_cast<const OPENFILENAMEW*>(lParam));
        if (message == g_messages.selChanged) {
            OldStyleSelectionChanged(window, wParam, lParam);
            return 0;
        }
    }
    return 0;
}

UINT_PTR TMMCustomOpenDialog::CheckFileName(HWND window, const OPENFILENAMEW& open) {
    // Whatever the answer was last time, this one starts as "accept".
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
    bool ok = true;
    if (Options & ofAllowMultiSelect) {
        selection_ = SplitWideFileBuffer(open.lpstrFile, open.nMaxFile);
        for (const std::string& name : selection_) {
            if (!ok) break;
            DoFileOK(name, ok);
        }
    } else {
        DoFileOK(wc::PathFromWide(std::wstring_view(open.lpstrFile, ::wcsnlen(open.lpstrFile, open.nMaxFile))), ok);
    }
    const UINT_PTR refuse = ok ? 0 : 1;
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, LONG_PTR(refuse));
    return refuse;
}

void TMMCustomOpenDialog::SelectionChanged(HWND frame) {
    std::vector<wchar_t> path(kSelectionPathSize, L'\0');
    const LRESULT length = ::SendMessageW(frame, CDM_GETFILEPATH, path.size(), reinterpret_cast<LPARAM>(path.data()));
    // The length counts the terminating zero; a failed request gives no path.
    const size_t textLength = length > 1 ? std::min(size_t(length) - 1, path.size() - 1) : 0;
    DoSelChange(wc::PathFromWide(std::wstring_view(path.data(), ::wcsnlen(path.data(), textLength))));
}

void TMMCustomOpenDialog::OldStyleSelectionChanged(HWND window, WPARAM controlId, LPARAM lParam) {
    if (controlId != lst1) return;
    HWND list = ::GetDlgItem(window, lst1);
    const WPARAM index = LOWORD(lParam);
    const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || size_t(length) >= kSelectionPathSize) return;
    std::vector<wchar_t> text(kSelectionPathSize, L'\0');
    if (::SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data())) == LB_ERR) return;
    DoSelChange(ExpandUNCFileName(wc::PathFromWide(text.data())));
}

void TMMCustomOpenDialog::DoShowDialog() {
    if (OnDialogShow) OnDialogShow(this);
}

void TMMCustomOpenDialog::DoCloseDialog() {
    if (OnDialogClose) OnDialogClose(this);
}

void TMMCustomOpenDialog::DoFileOK(const std::string& fileName, bool& isOk) {
    if (OnFileOK) OnFileOK(this, fileName, isOk);
}

void TMMCustomOpenDialog::DoSelChange(const std::string& fileName) {
    if (OnSelChange) OnSelChange(this, fileName);
}

void TMMCustomOpenDialog::DoCommand(HWND hookWindow, HWND frameWindow, int controlId) {
    if (OnDialogCommand) OnDialogCommand(this, hookWindow, controlId, frameWindow);
}
