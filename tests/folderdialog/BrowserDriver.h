// Driving the shell folder browser of this process from a second thread
// while the test thread sits in TPBFolderDialog::Execute (or in a handler
// that runs it), plus short test folders and registry overrides.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/DialogDriver.h"
#include "support/Registry.h"

namespace folderdialog_test {

// A fresh folder directly under C:\ with a short name, so that paths below
// it fit the browser's 50-character status line; removed with its contents.
class ShortDir {
public:
    ShortDir();
    ~ShortDir();
    ShortDir(const ShortDir&) = delete;
    ShortDir& operator=(const ShortDir&) = delete;
    const std::string& path() const { return path_; }
    // Creates a sub-folder and returns its path.
    std::string Make(const std::string& name) const;
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// A failed step of a driver; ends the browser and fails the test.
struct DriverFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The folder browser: a dialog of this process with a tree view in it.
HWND FindBrowser();
// Waits for a browser other than `previous` (which must be gone by then).
HWND WaitForBrowser(HWND previous = nullptr);
// Waits for a top-level dialog of this process with that title.
HWND WaitForDialog(const std::wstring& title);
// Waits until `window` no longer exists.
void WaitGone(HWND window);
// Polls `condition` until it holds; throws DriverFailure with `what` on time-out.
void WaitUntil(const std::function<bool()>& condition, const std::string& what);

std::string StatusText(HWND browser);
std::string SelectedTreeText(HWND browser);
HWND NewFolderButton(HWND browser);

void SelectPath(HWND browser, const std::string& path);
// Selects by path until the status line shows it: under load Wine's browser
// now and then drops a selection made while it is still filling its tree.
void SelectPathUntilShown(HWND browser, const std::string& path, const std::string& what);
void SelectItem(HWND browser, LPCITEMIDLIST item);
// Enters `name` in the name prompt that the new-folder button opens, and confirms it.
void EnterNewFolderName(HWND browser, const std::string& name, const std::wstring& promptTitle = L"New folder");

std::string Narrow(const std::wstring& text);

// Cancels every dialog of this process, again and again, until `done`.
void CancelDialogsUntil(const std::atomic<bool>& done);

// Runs `drive` on a second thread while `run` (Execute, or a click that
// runs it) works on this one. When the driver fails, every dialog of the
// process is cancelled until `run` returns, and the failure is returned.
// Returns what `run` returned.
template <class Run>
auto WhileDriving(const std::function<void()>& drive, Run run, std::string& failure) {
    std::atomic<bool> done{false};
    failure.clear();
    std::thread driver([&] {
        try {
            drive();
        } catch (const std::exception& error) {
            failure = error.what();
            CancelDialogsUntil(done);
        }
    });
    auto result = run();
    done = true;
    driver.join();
    return result;
}

using testing_support::BoundsInParent;
using testing_support::PressButton;
using testing_support::RegistryKeyAbsence;
using testing_support::RegistryOverride;

}  // namespace folderdialog_test
