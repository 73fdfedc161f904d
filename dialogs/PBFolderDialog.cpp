#include "dialogs/PBFolderDialog.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include <shellapi.h>

#include "framework/Controls.h"
#include "framework/Exceptions.h"
#include "framework/Files.h"
#include "framework/Forms.h"
#include "framework/InputBox.h"
#include "framework/Strings.h"

namespace {

struct FlagName {
    const char* name;
    TBrowseInfoFlag flag;
    UINT shellFlag;
};
constexpr FlagName kFlags[] = {
    {"OnlyComputers", OnlyComputers, BIF_BROWSEFORCOMPUTER}, {"OnlyPrinters", OnlyPrinters, BIF_BROWSEFORPRINTER},
    {"OnlyDomains", OnlyDomains, BIF_DONTGOBELOWDOMAIN},     {"OnlyAncestors", OnlyAncestors, BIF_RETURNFSANCESTORS},
    {"OnlyFileSystem", OnlyFileSystem, BIF_RETURNONLYFSDIRS}, {"ShowPath", ShowPath, BIF_STATUSTEXT},
};

struct RootName {
    const char* name;
    TSHFolders folder;
    int specialFolder;  // CSIDL value; -1: no root item
};
constexpr RootName kRoots[] = {
    {"foDesktop", foDesktop, CSIDL_DESKTOP},
    {"foDesktopExpanded", foDesktopExpanded, -1},
    {"foPrograms", foPrograms, CSIDL_PROGRAMS},
    {"foControlPanel", foControlPanel, CSIDL_CONTROLS},
    {"foPrinters", foPrinters, CSIDL_PRINTERS},
    {"foPersonal", foPersonal, CSIDL_PERSONAL},
    {"foFavorites", foFavorites, CSIDL_FAVORITES},
    {"foStartup", foStartup, CSIDL_STARTUP},
    {"foRecent", foRecent, CSIDL_RECENT},
    {"foSendto", foSendto, CSIDL_SENDTO},
    {"foRecycleBin", foRecycleBin, CSIDL_BITBUCKET},
    {"foStartMenu", foStartMenu, CSIDL_STARTMENU},
    {"foDesktopFolder", foDesktopFolder, CSIDL_DESKTOPDIRECTORY},
    {"foMyComputer", foMyComputer, CSIDL_DRIVES},
    {"foNetwork", foNetwork, CSIDL_NETWORK},
    {"foNetworkNeighborhood", foNetworkNeighborhood, CSIDL_NETHOOD},
    {"foFonts", foFonts, CSIDL_FONTS},
    {"foTemplates", foTemplates, CSIDL_TEMPLATES},
};

// The built-in captions, by language id. The texts are Windows-1252.
struct CaptionRow {
    const char* id;
    const char* label;
    const char* newFolder;
};
constexpr const char kGermanLabel[] = "Ausgew\xE4" "hlter Ordner:";
constexpr CaptionRow kCaptions[] = {
    {"Default", "Current folder:", "New folder"},
    {"0009", "Current folder:", "New folder"},
    {"0406", "Valgt mappe:", "Ny mappe"},
    {"0407", kGermanLabel, "Neuer Ordner"},
    {"0409", "Current folder:", "New folder"},
    {"040C", "Dossier Courant:", "Nouveau Dossier"},
    {"0410", "Cartella selezionata:", "Nuova Cartella"},
    {"0413", "Huidige map:", "Nieuwe map"},
    {"0416", "Pasta Atual:", "Nova Pasta"},
    {"0807", kGermanLabel, "Neuer Ordner"},
    {"0809", "Current folder:", "New folder"},
    {"080C", "Dossier Courant:", "Nouveau Dossier"},
    {"0810", "Cartella selezionata:", "Nuova Cartella"},
    {"0C07", kGermanLabel, "Neuer Ordner"},
    {"0C09", "Current folder:", "New folder"},
    {"0C0C", "Dossier Courant:", "Nouveau Dossier"},
    {"1007", kGermanLabel, "Neuer Ordner"},
    {"1009", "Current folder:", "New folder"},
    {"100C", "Dossier Courant:", "Nouveau Dossier"},
    {"1407", kGermanLabel, "Neuer Ordner"},
    {"1409", "Current folder:", "New folder"},
    {"140C", "Dossier Courant:", "Nouveau Dossier"},
    {"1809", "Current folder:", "New folder"},
    {"180C", "Dossier Courant:", "Nouveau Dossier"},
    {"1C09", "Current folder:", "New folder"},
    {"2009", "Current folder:", "New folder"},
    {"2809", "Current folder:", "New folder"},
    {"2C09", "Current folder:", "New folder"},
};

// Comma text with every entry in double quotes: "Id=Caption","Id=Caption",...
template <class Pick>
std::string BuiltInCommaText(Pick pick) {
    std::string text;
    for (const CaptionRow& row : kCaptions) {
        if (!text.empty()) text += ',';
        text += '"';
        text += row.id;
        text += '=';
        text += pick(row);
        text += '"';
    }
    return text;
}

// The error the name prompt reports for a folder that could not be made:
// "The directory or file cannot be created."
constexpr DWORD kCannotMakeError = 82;

// The Escape key, pressed and released to close the browser as cancelled.
constexpr BYTE kEscapeKey = VK_ESCAPE;

bool ReadRegistryText(HKEY root, const char* path, const char* valueName, std::string& text) {
    wc::RegistryKeyHandle key;
    if (::RegOpenKeyExA(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    text.clear();
    if (::RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return true;  // the key opened; a missing value reads as empty
    std::string buffer(size, '\0');
    if (::RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS) {
        buffer.resize(std::min<size_t>(size, buffer.size()));
        while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
        text = std::move(buffer);
    }
    return true;
}

// The folder above `path`: "C:\a\b" -> "C:\a", "C:\a" -> "C:\"; empty at the top.
std::string ParentFolder(const std::string& path) {
    const size_t last = path.find_last_of('\\');
    if (last == std::string::npos) return {};
    std::string parent = path.substr(0, last);
    if (parent.size() == 2 && parent[1] == ':') parent += '\\';
    return parent == path ? std::string() : parent;
}

// Creates the folder and every missing folder above it; true when it exists.
bool ForceDirectories(std::string path) {
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    if (path.empty()) return false;
    if (wc::DirectoryExists(path)) return true;
    const std::string parent = ParentFolder(path);
    if (!parent.empty() && !ForceDirectories(parent)) return false;
    return ::CreateDirectoryW(wc::PathToWide(path).c_str(), nullptr) || wc::DirectoryExists(path);
}

// "C:\..." or "\\server\...": a path that names the same folder from any
// current directory. Display names of items outside the file system are not.
bool IsAbsoluteFolderPath(const std::string& path) {
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                       path[2] == '\\';
    const bool network = path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
    return drive || network;
}

wc::ShellFolderHandle DesktopFolder() {
    wc::ShellFolderHandle desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) desktop.reset();
    return desktop;
}

// The item's parsing name when the shell hands it back as 8-bit text, as UTF-8.
std::string ParsingName(LPCITEMIDLIST item) {
    wc::ShellFolderHandle desktop = DesktopFolder();
    if (!desktop) return {};
    STRRET name{};
    if (FAILED(desktop.get()->GetDisplayNameOf(item, SHGDN_FORPARSING, &name))) return {};
    switch (name.uType) {
    case STRRET_CSTR:
        return wc::PathFromWide(wc::ToWide(name.cStr));
    case STRRET_OFFSET:
        return wc::PathFromWide(wc::ToWide(reinterpret_cast<const char*>(item) + name.uOffset));
    case STRRET_WSTR:
        ::CoTaskMemFree(name.pOleStr);  // not 8-bit: not taken
        return {};
    }
    return {};
}

}  // namespace

std::string ShortenPath(std::string_view path, int maxLength) {
    const size_t m = maxLength < 0 ? 0 : size_t(maxLength);
    if (path.size() <= m || maxLength < 6 || path.find('\\') == std::string_view::npos)
        return std::string(path.substr(0, m));
    if (std::count(path.begin() + std::min<size_t>(2, path.size()), path.end(), '\\') < 2)
        return std::string(path.substr(0, m));

    std::string result;
    std::string_view rest = path;
    if (path.find('\\') < 2) {  // "\\server\share\...": keep the two leading separators
        result = "\\\\";
        rest.remove_prefix(2);
    }
    const size_t first = rest.find('\\');
    if (first == std::string_view::npos) return std::string(path.substr(0, m));
    result += rest.substr(0, first + 1);
    result += "...";
    // Drop leading folders until the rest fits after the "..." (or only the last is left).
    for (;;) {
        const size_t separator = rest.find('\\');
        if (separator == std::string_view::npos) break;
        rest.remove_prefix(separator + 1);
        if (result.size() + rest.size() + 1 <= m || rest.find('\\') == std::string_view::npos) break;
    }
    std::string joined = result + "\\" + std::string(rest);
    if (joined.size() <= m) return joined;
    return joined.substr(0, m - 3) + "...";
}

std::string CaptionForLocale(const wc::TStringList& captions, std::string_view localeId) {
    if (captions.Empty()) return {};
    if (!localeId.empty()) {
        const int index = captions.IndexOfName(localeId);
        if (index >= 0) return captions.ValueFromIndex(size_t(index));
    }
    const int fallback = captions.IndexOfName("Default");
    return captions.ValueFromIndex(fallback >= 0 ? size_t(fallback) : 0);
}

std::string ReadUserLocaleId() {
    std::string text;
    if (!ReadRegistryText(HKEY_CURRENT_USER, "Control Panel\\Desktop\\ResourceLocale", nullptr, text) &&
        !ReadRegistryText(HKEY_USERS, ".DEFAULT\\Control Panel\\International", "Locale", text))
        return {};
    return wc::UpperCase(text.size() > 4 ? text.substr(text.size() - 4) : text);
}

// ---- TPBFolderDialog ----

TPBFolderDialog::TPBFolderDialog(wc::TComponent* owner) : wc::TComponent(owner) {
    localeId_ = ReadUserLocaleId();
    labelCaptions_.OnChange = [this] { ResolveLabelCaption(); };
    newFolderCaptions_.OnChange = [this] { ResolveNewFolderCaption(); };
    labelCaptions_.SetCommaText(BuiltInCommaText([](const CaptionRow& row) { return row.label; }));
    newFolderCaptions_.SetCommaText(BuiltInCommaText([](const CaptionRow& row) { return row.newFolder; }));
}

TPBFolderDialog::~TPBFolderDialog() {
    labelCaptions_.OnChange = nullptr;
    newFolderCaptions_.OnChange = nullptr;
}

void TPBFolderDialog::ResolveLabelCaption() { labelCaption_ = CaptionForLocale(labelCaptions_, localeId_); }

void TPBFolderDialog::ResolveNewFolderCaption() {
    newFolderCaption_ = CaptionForLocale(newFolderCaptions_, localeId_);
    if (button_) ::SetWindowTextA(button_, newFolderCaption_.c_str());
}

void TPBFolderDialog::SetLabelCaptions(const wc::TStringList& captions) {
    if (captions.Text() != labelCaptions_.Text()) labelCaptions_ = captions;
}

void TPBFolderDialog::SetNewFolderCaptions(const wc::TStringList& captions) {
    if (captions.Text() != newFolderCaptions_.Text()) newFolderCaptions_ = captions;
}

void TPBFolderDialog::SetNewFolderVisible(bool visible) {
    const bool changed = visible != NewFolderVisible.value_;
    NewFolderVisible.value_ = visible;
    if (changed && button_) ::ShowWindow(button_, visible ? SW_SHOW : SW_HIDE);
}

void TPBFolderDialog::SetNewFolderEnabled(bool enabled) {
    NewFolderEnabled.value_ = enabled;
    UpdateButtonEnabled();
}

// A new folder can only be made inside a file-system folder named by an
// absolute path; a display name would be taken relative to the current folder.
void TPBFolderDialog::UpdateButtonEnabled() {
    if (button_) ::EnableWindow(button_, NewFolderEnabled && selectionValid_ && selectionInFileSystem_);
}

bool TPBFolderDialog::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "Folder") {
        Folder = value.AsString();
    } else if (name == "Flags") {
        TBrowseInfoFlagSet flags = 0;
        for (const auto& member : value.AsSet()) {
            const auto* flag = std::find_if(std::begin(kFlags), std::end(kFlags),
                                            [&](const FlagName& f) { return member == f.name; });
            if (flag == std::end(kFlags)) throw wc::Exception("Invalid browse flag " + member);
            flags |= flag->flag;
        }
        Flags = flags;
    } else if (name == "RootFolder") {
        const std::string& ident = value.AsIdentifier();
        const auto* root =
            std::find_if(std::begin(kRoots), std::end(kRoots), [&](const RootName& r) { return ident == r.name; });
        if (root == std::end(kRoots)) throw wc::Exception("Invalid root folder " + ident);
        RootFolder = root->folder;
    } else if (name == "NewFolderVisible") {
        NewFolderVisible = value.AsBoolean();
    } else if (name == "NewFolderEnabled") {
        NewFolderEnabled = value.AsBoolean();
    } else if (name == "LabelCaptions.Strings") {
        labelCaptions_.Assign(value.AsStringList());
    } else if (name == "NewFolderCaptions.Strings") {
        newFolderCaptions_.Assign(value.AsStringList());
    } else if (name == "Version") {
        // Read-only: a stored value has no effect.
    } else {
        return wc::TComponent::SetProperty(name, value);
    }
    return true;
}

bool TPBFolderDialog::SetEvent(const std::string& name, wc::TNotifyEvent handler) {
    if (name == "OnInitialized") {
        OnInitialized = [handler](TPBFolderDialog* sender, HWND) { handler(sender); };
    } else if (name == "OnSelectionChanged") {
        OnSelectionChanged = [handler](TPBFolderDialog* sender, HWND, LPCITEMIDLIST, const std::string&) {
            handler(sender);
        };
    } else {
        return wc::TComponent::SetEvent(name, std::move(handler));
    }
    return true;
}

void TPBFolderDialog::Loaded() {
    wc::TComponent::Loaded();
    ResolveLabelCaption();
    ResolveNewFolderCaption();
}

HWND TPBFolderDialog::BrowserOwner() const {
    if (ownerWindow_ && ::IsWindow(ownerWindow_)) return ownerWindow_;
    if (auto* control = dynamic_cast<wc::TWinControl*>(Owner())) return control->Handle();
    return wc::Application().Handle();
}

bool TPBFolderDialog::Execute() {
    currentPath_ = Folder;

    wc::ItemIdListHandle root;
    const int special = kRoots[RootFolder].specialFolder;
    if (special >= 0 && FAILED(::SHGetSpecialFolderLocation(wc::Application().Handle(), special, root.put())))
        root.reset();  // no such folder here: browse the whole namespace

    // The browser keeps a pointer to the title; a caption change while it is open must not move it.
    const std::wstring title = wc::ToWide(labelCaption_);
    BROWSEINFOW browse{};
    browse.hwndOwner = BrowserOwner();
    browse.pidlRoot = root.get();
    browse.pszDisplayName = displayName_;
    browse.lpszTitle = title.c_str();
    for (const auto& flag : kFlags)
        if (Flags & flag.flag) browse.ulFlags |= flag.shellFlag;
    browse.lpfn = BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(this);
    browse.iImage = 0;

    remembered_.reset();
    wc::ItemIdListHandle chosen;
    do {
        initialized_ = false;
        reopenRequested_ = false;
        Folder = currentPath_;
        chosen.reset(::SHBrowseForFolderW(&browse));
        // The browser window is gone; its procedure went back on its last message.
        browserSubclass_ = wc::WindowSubclass();
        browser_ = nullptr;
        button_ = nullptr;
    } while (reopenRequested_ && !chosen);
    remembered_.reset();

    if (!chosen) return false;
    wchar_t path[MAX_PATH] = L"";
    Folder = ::SHGetPathFromIDListW(chosen.get(), path) ? wc::PathFromWide(path) : "";
    currentPath_ = Folder;
    imageIndex_ = browse.iImage;
    return true;
}

int CALLBACK TPBFolderDialog::BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data) {
    auto* self = reinterpret_cast<TPBFolderDialog*>(data);
    try {
        if (message == BFFM_INITIALIZED) self->BrowserInitialized(window);
        else if (message == BFFM_SELCHANGED) self->SelectionChanged(window, reinterpret_cast<LPCITEMIDLIST>(lParam));
    } catch (const std::exception& error) {
        wc::HandleException(error);  // nothing may unwind through the shell
    }
    return 0;
}

void TPBFolderDialog::BrowserInitialized(HWND window) {
    browser_ = window;

    RECT bounds;
    ::GetWindowRect(window, &bounds);
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    ::SetWindowPos(window, nullptr, ::GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2,
                   ::GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    selectionInFileSystem_ = IsAbsoluteFolderPath(currentPath_);
    CreateNewFolderButton();
    if (button_) {
        UpdateButtonEnabled();
        ::ShowWindow(button_, NewFolderVisible ? SW_SHOW : SW_HIDE);
    }

    if (!Folder.empty() && wc::DirectoryExists(Folder)) {
        wc::ItemIdListHandle item;
        if (wc::ShellFolderHandle desktop = DesktopFolder()) {
            std::wstring wide = wc::PathToWide(Folder);
            if (FAILED(desktop.get()->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, item.put(), nullptr)))
                item.reset();
        }
        const unsigned before = selectionChanges_;
        if (item) ::SendMessageW(window, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(item.get()));
        // Wine's browser ignores a parsed id list of a folder made since the
        // desktop folder first saw its parent; the path text still works.
        if (selectionChanges_ == before)
            ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(wc::PathToWide(Folder).c_str()));
    } else if (remembered_) {
        ::SendMessageW(window, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(remembered_.get()));
    }

    initialized_ = true;
    if (OnInitialized) OnInitialized(this, window);
}

void TPBFolderDialog::SelectionChanged(HWND window, LPCITEMIDLIST item) {
    ++selectionChanges_;
    wchar_t path[MAX_PATH] = L"";
    if (!item || !::SHGetPathFromIDListW(item, path)) path[0] = L'\0';
    // A copy: the browser frees its own list when the selection moves on.
    if (initialized_ && item) remembered_.reset(::ILClone(item));
    currentPath_ = wc::PathFromWide(path);
    selectionInFileSystem_ = IsAbsoluteFolderPath(currentPath_);

    if (Flags & ShowPath) {
        std::string status = ShortenPath(currentPath_, kStatusLength);
        if (status.empty() && item) status = ParsingName(item);
        if (status.empty() && item) {
            SHFILEINFOW info{};
            ::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(item), 0, &info, sizeof info,
                             SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_TYPENAME);
            status = wc::PathFromWide(info.szDisplayName);
            currentPath_ = status;
        }
        ::SendMessageW(window, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(wc::PathToWide(status).c_str()));
    }

    selectionValid_ = !currentPath_.empty();
    ::SendMessageA(window, BFFM_ENABLEOK, 0, (Flags & OnlyFileSystem) ? selectionValid_ : TRUE);
    UpdateButtonEnabled();
    if (OnSelectionChanged) OnSelectionChanged(this, window, item, currentPath_);
}

void TPBFolderDialog::ScaleButtonFont(int dpi) {
    // The framework's default font is sized for 96 pixels per inch; the button
    // is placed and sized for the screen's density, and its caption goes with it.
    const wc::TFont defaults;
    buttonFont_.SetHeight(::MulDiv(defaults.Height(), dpi, 96));
}

void TPBFolderDialog::CreateNewFolderButton() {
    RECT client;
    ::GetClientRect(browser_, &client);
    const int clientHeight = client.bottom - client.top;
    const int dpi = wc::ScreenPixelsPerInch();

    // The button's place at the common screen resolutions; others scale the 96 row.
    int left, top, width, height;
    switch (dpi) {
    case 72:
    case 96:
        left = 12, top = clientHeight - 36, width = 75, height = 23;
        break;
    case 120:
        left = 15, top = clientHeight - 45, width = 93, height = 28;
        break;
    case 144:
        left = 17, top = clientHeight - 56, width = 112, height = 35;
        break;
    case 192:
        left = 20, top = clientHeight - 66, width = 150, height = 41;
        break;
    default:
        left = 12 * dpi / 96, top = clientHeight - ::GetSystemMetrics(SM_CYCAPTION) - 17;
        width = 75 * dpi / 96, height = 23 * dpi / 96;
        break;
    }

    constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP;  // 0x54010000
    HWND button = ::CreateWindowExA(0, "Button", newFolderCaption_.c_str(), kButtonStyle, left, top, width, height,
                                    browser_, reinterpret_cast<HMENU>(INT_PTR(kNewFolderButtonId)),
                                    ::GetModuleHandleA(nullptr), nullptr);
    if (!button) return;

    ScaleButtonFont(dpi);
    HFONT font = buttonFont_.Handle();
    ::SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SIZE text{};
    {
        wc::WindowDc dc(button);
        wc::DcSelection selection(dc.get(), font);
        ::GetTextExtentPoint32A(dc.get(), newFolderCaption_.c_str(), int(newFolderCaption_.size()), &text);
    }
    const int narrowest = dpi == 72 ? 75 : 75 * dpi / 96;
    width = std::max(int(text.cx) + 12, narrowest);
    ::MoveWindow(button, left, top, width, height, TRUE);
    ::EnableWindow(button, NewFolderEnabled);

    browserSubclass_ = wc::WindowSubclass(browser_, NewFolderWndProc);
    button_ = button;
}

LRESULT CALLBACK TPBFolderDialog::NewFolderWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TPBFolderDialog*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    const WNDPROC previous = self ? self->browserSubclass_.previous() : nullptr;
    if (!previous) return ::DefDlgProcA(window, message, wParam, lParam);

    if (message == WM_COMMAND && (LOWORD(wParam) & 0xFF) == kNewFolderButtonId) {
        try {
            self->NewFolderCommand();
        } catch (const std::exception& error) {
            wc::HandleException(error);
        }
        return 0;
    }
    if (message == WM_NCDESTROY) self->BrowserClosing();
    return ::CallWindowProcA(previous, window, message, wParam, lParam);
}

void TPBFolderDialog::BrowserClosing() {
    browserSubclass_.restore();
    button_ = nullptr;
    browser_ = nullptr;
}

void TPBFolderDialog::NewFolderCommand() {
    if (!selectionInFileSystem_) return;  // the button is disabled then; a stray command changes nothing
    std::string name;
    if (!wc::InputQuery(newFolderCaption_, "", name, browser_) || name.empty()) return;
    name = wc::PathFromWide(wc::ToWide(name));  // typed in the code page; paths are UTF-8

    reopenRequested_ = true;
    const bool needsSeparator =
        name.front() != '\\' && (currentPath_.empty() || currentPath_.back() != '\\');
    const std::string newPath = currentPath_ + (needsSeparator ? "\\" : "") + name;

    if (ForceDirectories(newPath) && wc::DirectoryExists(newPath)) {
        currentPath_ = newPath;
    } else {
        initialized_ = false;
        ::MessageBoxA(browser_, wc::SystemErrorMessage(kCannotMakeError).c_str(), newFolderCaption_.c_str(),
                      MB_ICONEXCLAMATION | MB_OK);
    }

    // Closes the browser as cancelled; Execute opens it again at currentPath_.
    ::keybd_event(kEscapeKey, 0, 0, 0);
    ::keybd_event(kEscapeKey, 0, KEYEVENTF_KEYUP, 0);
}
