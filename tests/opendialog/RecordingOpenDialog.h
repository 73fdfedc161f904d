// Driving the real open dialog of this process: Execute runs on the test's
// thread while a second thread finds the dialog frame and works it.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/MMCstDlg.h"

namespace opendialog_tests {

// Runs dialog.Execute() here while `drive` gets the dialog frame on another
// thread. A dialog still open when `drive` returns is cancelled, so a
// failing test never hangs. `frameSeen` tells whether the dialog came up.
bool RunDriven(TMMCustomOpenDialog& dialog, const std::function<void(HWND frame)>& drive, bool* frameSeen = nullptr);

// Polls `condition` every 20 ms until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// The file name edit of an explorer-style or an old-style dialog.
HWND FileNameEdit(HWND frame);
void TypeFileName(HWND frame, const std::string& text);
void PressButton(HWND frame, int id);  // posts the command of that button
// Selects the first item of the explorer view's file list whose text starts with `prefix`.
bool SelectListViewItem(HWND frame, const std::string& prefix);
// The folder an explorer-style dialog shows.
std::string FolderPath(HWND frame);
std::vector<std::string> ComboItems(HWND combo);
std::vector<std::string> ListViewItems(HWND frame);

// A dialog that records what its operations are told, and answers DoFileOK
// through `accept` (default: yes). Readable from the driving thread.
class RecordingOpenDialog : public TMMCustomOpenDialog {
public:
    using TMMCustomOpenDialog::TMMCustomOpenDialog;

    struct Command {
        HWND hook, frame;
        int id;
    };

    std::function<bool(const std::string& name)> accept;
    std::function<void()> onShow, onSelChange;  // may throw

    std::vector<std::string> SelChanges() const;
    std::vector<std::string> FileOKs() const;
    std::vector<Command> Commands() const;
    HWND WindowAtShow() const;
    int ShowCount() const;
    int CloseCount() const;

protected:
    void DoShowDialog() override;
    void DoCloseDialog() override;
    void DoFileOK(const std::string& fileName, bool& isOk) override;
    void DoSelChange(const std::string& fileName) override;
    void DoCommand(HWND hookWindow, HWND frameWindow, int controlId) override;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> selChanges_, fileOKs_;
    std::vector<Command> commands_;
    HWND windowAtShow_ = nullptr;
    int shows_ = 0, closes_ = 0;
};

}  // namespace opendialog_tests
