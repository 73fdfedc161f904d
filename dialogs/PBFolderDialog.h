// Folder chooser over the shell's folder browser.
//
// TPBFolderDialog adds to the plain browser: a "New folder" button inside
// the browser window, captions picked by the user's locale, a status line
// with the selection's path shortened to fit, centring on the screen and a
// starting folder.
//
// The new-folder button is a plain child button; the browser window is
// subclassed so its command reaches NewFolderWndProc. Creating a folder
// cannot refresh the browser's tree, so the command closes the browser with
// a synthesised Escape and Execute opens it again at the new folder (the
// reopen loop).
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <string_view>

#include "framework/Components.h"
#include "framework/Graphics.h"
#include "framework/Handles.h"
#include "framework/StringList.h"
#include "framework/Strings.h"

enum TBrowseInfoFlag : unsigned {
    OnlyComputers = 1u << 0,
    OnlyPrinters = 1u << 1,
    OnlyDomains = 1u << 2,
    OnlyAncestors = 1u << 3,
    OnlyFileSystem = 1u << 4,
    ShowPath = 1u << 5,
};
using TBrowseInfoFlagSet = unsigned;

enum TSHFolders {
    foDesktop,
    foDesktopExpanded,
    foPrograms,
    foControlPanel,
    foPrinters,
    foPersonal,
    foFavorites,
    foStartup,
    foRecent,
    foSendto,
    foRecycleBin,
    foStartMenu,
    foDesktopFolder,
    foMyComputer,
    foNetwork,
    foNetworkNeighborhood,
    foFonts,
    foTemplates,
};

class TPBFolderDialog;

using TBrowserInitializedEvent = std::function<void(TPBFolderDialog* sender, HWND dialogHandle)>;
using TSelectionChangedEvent =
    std::function<void(TPBFolderDialog* sender, HWND dialogHandle, LPCITEMIDLIST itemIdList, const std::string& folder)>;

// The status line's form of a path: at most `maxLength` characters, keeping
// the first folder and as many trailing folders as fit ("C:\...\b\c").
std::string ShortenPath(std::string_view path, int maxLength);

// The value of the entry named `localeId` (case-insensitive), else of
// "Default", else of the first entry; empty for an empty list.
std::string CaptionForLocale(const wc::TStringList& captions, std::string_view localeId);

// The user's language id as four upper-case hex digits, from the registry;
// empty when neither locale key exists.
std::string ReadUserLocaleId();

class TPBFolderDialog : public wc::TComponent {
public:
    // The command id of the new-folder button.
    static constexpr int kNewFolderButtonId = 255;
    // The status line's width in characters.
    static constexpr int kStatusLength = 50;

    // A published Boolean whose assignment goes through the component's setter.
    class BoolProperty {
    public:
        BoolProperty(TPBFolderDialog& owner, void (TPBFolderDialog::*setter)(bool), bool value)
            : owner_(owner), setter_(setter), value_(value) {}
        BoolProperty(const BoolProperty&) = delete;
        BoolProperty& operator=(const BoolProperty& other) { return *this = bool(other); }
        BoolProperty& operator=(bool value) {
            (owner_.*setter_)(value);
            return *this;
        }
        operator bool() const noexcept { return value_; }

    private:
        friend class TPBFolderDialog;
        TPBFolderDialog& owner_;
        void (TPBFolderDialog::*setter_)(bool);
        bool value_;
    };

    explicit TPBFolderDialog(wc::TComponent* owner);
    ~TPBFolderDialog() override;
    static const char* ClassName() { return "TPBFolderDialog"; }

    // Shows the browser modally; true when the user confirmed a selection,
    // whose file-system path (empty for an item outside it) is then in Folder.
    bool Execute();

    // In: the folder selected when the browser opens. Out: the choice (UTF-8).
    std::string Folder;
    // Takes effect at the next Execute.
    TBrowseInfoFlagSet Flags = ShowPath;
    TSHFolders RootFolder = foDesktopExpanded;
    BoolProperty NewFolderVisible{*this, &TPBFolderDialog::SetNewFolderVisible, true};
    BoolProperty NewFolderEnabled{*this, &TPBFolderDialog::SetNewFolderEnabled, true};
    TBrowserInitializedEvent OnInitialized;
    TSelectionChangedEvent OnSelectionChanged;

    void SetNewFolderVisible(bool visible);
    void SetNewFolderEnabled(bool enabled);

    // Editing a list in place resolves its caption again, as assigning does.
    wc::TStringList& LabelCaptions() noexcept { return labelCaptions_; }
    wc::TStringList& NewFolderCaptions() noexcept { return newFolderCaptions_; }
    void SetLabelCaptions(const wc::TStringList& captions);
    void SetNewFolderCaptions(const wc::TStringList& captions);

    static std::string Version() { return "2.00.00.00"; }
    void SetVersion(const std::string&) {}  // read-only

    // A window to own the browser; used while it names a live window.
    HWND OwnerWindow() const noexcept { return ownerWindow_; }
    void SetOwnerWindow(HWND window) noexcept { ownerWindow_ = window; }

    const std::string& LocaleId() const noexcept { return localeId_; }
    const std::string& LabelCaption() const noexcept { return labelCaption_; }
    const std::string& NewFolderCaption() const noexcept { return newFolderCaption_; }
    // The system image index of the item chosen last.
    int ImageIndex() const noexcept { return imageIndex_; }
    // The display name of the item chosen last.
    std::string DisplayName() const { return wc::PathFromWide(displayName_); }

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;
    bool SetEvent(const std::string& name, wc::TNotifyEvent handler) override;
    void Loaded() override;

private:
    static int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data);
    static LRESULT CALLBACK NewFolderWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void BrowserInitialized(HWND window);
    void SelectionChanged(HWND window, LPCITEMIDLIST item);
    void CreateNewFolderButton();
    // The button's font at the screen's density (the default font is made for 96).
    void ScaleButtonFont(int dpi);
    void NewFolderCommand();
    void BrowserClosing();
    void ResolveLabelCaption();
    void ResolveNewFolderCaption();
    HWND BrowserOwner() const;
    void UpdateButtonEnabled();

    std::string localeId_;
    std::string labelCaption_;
    std::string newFolderCaption_;
    wc::TStringList labelCaptions_;
    wc::TStringList newFolderCaptions_;
    HWND ownerWindow_ = nullptr;
    wchar_t displayName_[MAX_PATH] = L"";
    int imageIndex_ = 0;

    std::string currentPath_;         // the open browser's selection; where a reopened browser starts
    wc::ItemIdListHandle remembered_;  // a copy of the selection's id list, for reopening
    HWND browser_ = nullptr;
    HWND button_ = nullptr;
    wc::WindowSubclass browserSubclass_;
    wc::TFont buttonFont_;  // the framework's default font

    unsigned selectionChanges_ = 0;  // counts BFFM_SELCHANGED, to see whether a selection took
    bool initialized_ = false;
    bool reopenRequested_ = false;
    bool selectionValid_ = true;
    bool selectionInFileSystem_ = false;  // the selection is a file-system folder with an absolute path
};
