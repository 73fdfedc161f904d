// Working the system's open dialog and folder browser the way a user would:
// typing a name or picking a folder, then OK or Cancel.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace testing_support {

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

// Waits on a second thread for a window and acts on it, while the test
// thread sits in a modal dialog.
class DialogDriver {
public:
    DialogDriver(std::function<HWND()> find, std::function<void(HWND)> act);
    ~DialogDriver();
    // True once the window was found and acted on.
    bool Done();

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace testing_support
