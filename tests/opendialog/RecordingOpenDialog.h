// An open dialog that records what its operations are told, for the tests
// that drive the real dialog (see support/DialogDriver.h).
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/MMCstDlg.h"

namespace opendialog_tests {

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
