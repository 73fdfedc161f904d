// Driving the system's dialogs of this process from a second thread while
// the test's thread sits in a dialog's modal loop: finding the dialog and
// its controls, typing a file name, selecting in the file list, pressing
// buttons, waiting, and dismissing whatever a test leaves up. And working
// the open dialog and folder browser of any process as a user would.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace testing_support {

// The visible top-level dialogs ("#32770") of this process.
std::vector<HWND> ProcessDialogs();
// A message box of this process (a dialog with a text static, id 0xFFFF)
// other than `except`, or null.
HWND FindMessageBox(HWND except = nullptr);

// Runs `run` (a modal dialog's Execute, or a call that shows a message box)
// on this thread while `drive` gets the first dialog of this process on
// another. Message boxes `drive` leaves up are dismissed and a dialog still
// open is cancelled, so a failing test never hangs. `frameSeen` tells
// whether a dialog came up while `run` ran. Returns what `run` returned.
bool RunDriven(const std::function<bool()>& run, const std::function<void(HWND frame)>& drive,
               bool* frameSeen = nullptr);
// The same for a dialog component: runs its Execute.
template <class Dialog>
    requires requires(Dialog& dialog) { dialog.Execute(); }
bool RunDriven(Dialog& dialog, const std::function<void(HWND frame)>& drive, bool* frameSeen = nullptr) {
    return RunDriven([&dialog] { return bool(dialog.Execute()); }, drive, frameSeen);
}

// ---- the open dialog and the folder browser of any process ----

// The open dialog or folder browser of a process (a top-level "#32770").
HWND FindOpenDialog(DWORD processId);
HWND FindFolderBrowser(DWORD processId);
// Types a full path into the open dialog's file name box and presses OK.
void ChooseFileIn(HWND dialog, const std::wstring& path);
void Cancel(HWND dialog);
// Selects a folder in a browser of this process (the path pointer is only
// good in-process) and presses OK.
void ChooseFolderInProcess(HWND browser, const std::string& path);
// Steps through the browser's visible tree items until its status line shows
// `path`, then presses OK. Works on another process's browser. False when the
// path never showed up.
bool ChooseFolderByTree(HWND browser, const std::wstring& path);
// Posts WM_DROPFILES with the block the shell hands a window for a drop:
// DROPFILES, then the wide names, each zero-terminated, and one more zero,
// in moveable global memory, which the window gives back.
void PostDrop(HWND window, const std::vector<std::string>& paths);

// ---- the common file dialog ----

// The file name edit of an explorer-style or an old-style dialog.
HWND FileNameEdit(HWND frame);
void TypeFileName(HWND frame, const std::string& text);
// The explorer view's file list (a list view), or null.
HWND FileListView(HWND frame);
std::vector<std::string> ListViewItems(HWND frame);
// Selects (only) the first list item whose text starts with `prefix`, and
// gives it the focus.
bool SelectListViewItem(HWND frame, const std::string& prefix);
// Selects the items of these prefixes one after the other, each alone, as
// one run: the dialog handles the selections back to back, with no timer or
// posted message of its own in between (a quick scroll through the list).
bool SelectListViewItemsInOneGo(HWND frame, const std::vector<std::string>& prefixes);
// The folder an explorer-style dialog shows.
std::string FolderPath(HWND frame);
std::vector<std::string> ComboItems(HWND combo);

// ---- controls ----

// The control with that id: a direct child of `window`, else any descendant.
HWND ControlById(HWND window, int id);
// Posts a button's click (its BN_CLICKED command) to the window holding it;
// without such a control (IDOK, IDCANCEL of a dialog) to `window` itself.
void PressButton(HWND window, int id);
std::string TextOf(HWND window);
bool IsChecked(HWND checkBox);
// Clicks a check box and waits until it shows `checked`.
bool ClickCheckBox(HWND checkBox, bool checked, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// The texts a control is given (WM_SETTEXT), with the time each came, while
// this lives: the control's window procedure is wrapped from the driving
// thread. One log per control at a time.
class TextLog {
public:
    struct Entry {
        std::string text;
        std::chrono::steady_clock::time_point at;
    };
    explicit TextLog(HWND control);
    ~TextLog();
    TextLog(const TextLog&) = delete;
    TextLog& operator=(const TextLog&) = delete;
    std::vector<Entry> Entries() const;
    std::vector<std::string> Texts() const;

private:
    HWND control_;
};

}  // namespace testing_support
