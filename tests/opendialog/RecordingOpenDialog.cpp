#include "RecordingOpenDialog.h"

namespace opendialog_tests {

std::vector<std::string> RecordingOpenDialog::SelChanges() const {
    std::lock_guard lock(mutex_);
    return selChanges_;
}
std::vector<std::string> RecordingOpenDialog::FileOKs() const {
    std::lock_guard lock(mutex_);
    return fileOKs_;
}
std::vector<RecordingOpenDialog::Command> RecordingOpenDialog::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}
HWND RecordingOpenDialog::WindowAtShow() const {
    std::lock_guard lock(mutex_);
    return windowAtShow_;
}
int RecordingOpenDialog::ShowCount() const {
    std::lock_guard lock(mutex_);
    return shows_;
}
int RecordingOpenDialog::CloseCount() const {
    std::lock_guard lock(mutex_);
    return closes_;
}

void RecordingOpenDialog::DoShowDialog() {
    {
        std::lock_guard lock(mutex_);
        ++shows_;
        windowAtShow_ = Window();
    }
    if (onShow) onShow();
    TMMCustomOpenDialog::DoShowDialog();
}

void RecordingOpenDialog::DoCloseDialog() {
    {
        std::lock_guard lock(mutex_);
        ++closes_;
    }
    TMMCustomOpenDialog::DoCloseDialog();
}

void RecordingOpenDialog::DoFileOK(const std::string& fileName, bool& isOk) {
    {
        std::lock_guard lock(mutex_);
        fileOKs_.push_back(fileName);
    }
    if (accept) isOk = accept(fileName);
    TMMCustomOpenDialog::DoFileOK(fileName, isOk);
}

void RecordingOpenDialog::DoSelChange(const std::string& fileName) {
    {
        std::lock_guard lock(mutex_);
        selChanges_.push_back(fileName);
    }
    if (onSelChange) onSelChange();
    TMMCustomOpenDialog::DoSelChange(fileName);
}

void RecordingOpenDialog::DoCommand(HWND hookWindow, HWND frameWindow, int controlId) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back({hookWindow, frameWindow, controlId});
    }
    TMMCustomOpenDialog::DoCommand(hookWindow, frameWindow, controlId);
}

}  // namespace opendialog_tests
