// The real shell browser, opened by Execute on the test thread and worked
// from a driver thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "BrowserDriver.h"
#include "support/TestSupport.h"
#include "dialogs/PBFolderDialog.h"
#include "framework/Controls.h"
#include "framework/Files.h"
#include "framework/Forms.h"
#include "framework/Handles.h"
#include "framework/Strings.h"

using namespace folderdialog_test;
namespace ts = testing_support;

namespace {

// Set in a child copy of this program that runs under a changed screen resolution.
constexpr char kExpectedDpiVariable[] = "WC_FOLDERDIALOG_EXPECT_DPI";

int EntriesIn(const std::string& folder) {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") ++count;
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return count;
}

class FolderBrowser : public ::testing::Test {
protected:
    void SetUp() override { wc::Application().Initialize(); }

    // Execute on this thread while `drive` works the browser.
    bool Run(TPBFolderDialog& dialog, const std::function<void()>& drive) {
        std::string failure;
        const bool result = WhileDriving(drive, [&] { return dialog.Execute(); }, failure);
        if (!failure.empty()) ADD_FAILURE() << "driver: " << failure;
        return result;
    }

    // "My Computer": an item outside the file system.
    static wc::ItemIdListHandle Computer() {
        wc::ItemIdListHandle computer;
        EXPECT_TRUE(SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, computer.put())));
        return computer;
    }
    // The name the shell shows for an item.
    static std::string DisplayName(LPCITEMIDLIST item) {
        SHFILEINFOA info{};
        ::SHGetFileInfoA(reinterpret_cast<LPCSTR>(item), 0, &info, sizeof info,
                         SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_TYPENAME);
        return info.szDisplayName;
    }

    ShortDir dir;
};

}  // namespace

TEST_F(FolderBrowser, OpensCentredWithTheStartingFolderSelected) {
    const std::string data = dir.Make("Data");
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = data;
    RECT bounds{};
    std::string treeText;
    bool titleShown = false;
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == data; }, "status line never showed the starting folder");
        ::GetWindowRect(browser, &bounds);
        treeText = SelectedTreeText(browser);
        titleShown = ts::FindChild(browser, L"Current folder:") != nullptr;
        PressButton(browser, IDCANCEL);
    });
    EXPECT_FALSE(chosen);
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    EXPECT_GT(width, 0);
    EXPECT_EQ(bounds.left, ::GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2);
    EXPECT_EQ(bounds.top, ::GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2);
    EXPECT_EQ(treeText, "Data");
    EXPECT_TRUE(titleShown);
    EXPECT_EQ(dialog.Folder, data);
}

TEST_F(FolderBrowser, OkReturnsTheChosenFolder) {
    const std::string first = dir.Make("First"), second = dir.Make("Second");
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = first;
    std::string reported;
    HWND reportedWindow = nullptr;
    dialog.OnSelectionChanged = [&](TPBFolderDialog* sender, HWND window, LPCITEMIDLIST item,
                                    const std::string& folder) {
        EXPECT_EQ(sender, &dialog);
        EXPECT_NE(item, nullptr);
        reported = folder;
        reportedWindow = window;
    };
    HWND browserSeen = nullptr;
    const bool chosen = Run(dialog, [&] {
        HWND browser = browserSeen = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == first; }, "starting folder not shown");
        SelectPathUntilShown(browser, second, "the new selection was not shown");
        ts::PressOk(browser);
    });
    EXPECT_TRUE(chosen);
    EXPECT_EQ(dialog.Folder, second);
    EXPECT_EQ(reported, second);
    EXPECT_EQ(reportedWindow, browserSeen);
}

TEST_F(FolderBrowser, CancelReturnsFalseAndKeepsTheStartingFolder) {
    const std::string first = dir.Make("First"), second = dir.Make("Second");
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = first;
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        SelectPathUntilShown(browser, second, "the new selection was not shown");
        PressButton(browser, IDCANCEL);
    });
    EXPECT_FALSE(chosen);
    EXPECT_EQ(dialog.Folder, first);
}

TEST_F(FolderBrowser, AMissingStartingFolderOpensAtTheBrowsersOwnDefault) {
    const std::string missing = dir / "Missing";
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = missing;
    std::string status;
    int initialized = 0;
    dialog.OnInitialized = [&](TPBFolderDialog* sender, HWND window) {
        EXPECT_EQ(sender, &dialog);
        EXPECT_NE(window, nullptr);
        ++initialized;
    };
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        ::Sleep(300);
        status = StatusText(browser);
        PressButton(browser, IDCANCEL);
    });
    EXPECT_FALSE(chosen);
    EXPECT_EQ(initialized, 1);
    EXPECT_NE(status, missing);
    EXPECT_EQ(dialog.Folder, missing);
    EXPECT_FALSE(wc::DirectoryExists(missing));
}

TEST_F(FolderBrowser, AnItemOutsideTheFileSystemShowsItsDisplayNameAndGivesAnEmptyFolder) {
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = dir.path();
    const wc::ItemIdListHandle computer = Computer();
    const std::string displayName = DisplayName(computer.get());
    ASSERT_FALSE(displayName.empty());
    bool okEnabled = false, buttonEnabled = false;
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == dir.path(); }, "starting folder not shown");
        SelectItem(browser, computer.get());
        WaitUntil([&] { return StatusText(browser) == displayName; }, "the display name was not shown");
        okEnabled = ::IsWindowEnabled(::GetDlgItem(browser, IDOK));
        buttonEnabled = ::IsWindowEnabled(NewFolderButton(browser));
        ts::PressOk(browser);
    });
    EXPECT_TRUE(okEnabled);  // the display name counts as a selection
    EXPECT_FALSE(buttonEnabled);  // but no folder can be made in it
    EXPECT_TRUE(chosen);
    EXPECT_EQ(dialog.Folder, "");
}

// Regression: on an item outside the file system the new folder was made from
// its display name, relative to the current folder, and reported as made.
TEST_F(FolderBrowser, NewFolderIsOfferedOnlyOnAFileSystemFolder) {
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = dir.path();
    const wc::ItemIdListHandle computer = Computer();
    const std::string displayName = DisplayName(computer.get());
    char current[MAX_PATH] = "";
    ::GetCurrentDirectoryA(MAX_PATH, current);
    int initialized = 0;
    dialog.OnInitialized = [&](TPBFolderDialog*, HWND) { ++initialized; };
    bool onFolder = false, onComputer = true, stillOpen = false, prompted = false;
    Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == dir.path(); }, "starting folder not shown");
        onFolder = ::IsWindowEnabled(NewFolderButton(browser));
        SelectItem(browser, computer.get());
        WaitUntil([&] { return StatusText(browser) == displayName; }, "the display name was not shown");
        onComputer = ::IsWindowEnabled(NewFolderButton(browser));
        // The command itself, as a click would send it: no prompt, no folder, no reopening.
        ::PostMessageW(browser, WM_COMMAND, MAKEWPARAM(TPBFolderDialog::kNewFolderButtonId, BN_CLICKED),
                       LPARAM(NewFolderButton(browser)));
        ::Sleep(1000);
        if (HWND prompt = ts::FindTopWindow(::GetCurrentProcessId(), L"", L"New folder")) {
            prompted = true;
            PressButton(prompt, IDCANCEL);
            WaitGone(prompt);
        }
        stillOpen = FindBrowser() == browser;
        PressButton(browser, IDCANCEL);
    });
    EXPECT_TRUE(onFolder);
    EXPECT_FALSE(onComputer);
    EXPECT_FALSE(prompted);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(initialized, 1);
    EXPECT_FALSE(wc::DirectoryExists(std::string(current) + "\\" + displayName));
}

TEST_F(FolderBrowser, OnlyFileSystemDisablesOkAndTheButtonForAnItemWithoutAPath) {
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = dir.path();
    dialog.Flags = OnlyFileSystem;  // no status line, so no display name to stand in for a path
    std::atomic<bool> atStart{false};
    dialog.OnSelectionChanged = [&](TPBFolderDialog*, HWND, LPCITEMIDLIST, const std::string& folder) {
        if (folder == dir.path()) atStart = true;
    };
    const wc::ItemIdListHandle computer = Computer();
    bool okOnFolder = false, buttonOnFolder = false, okOnComputer = true, buttonOnComputer = true;
    Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return bool(atStart); }, "starting folder not selected");
        okOnFolder = ::IsWindowEnabled(::GetDlgItem(browser, IDOK));
        buttonOnFolder = ::IsWindowEnabled(NewFolderButton(browser));
        SelectItem(browser, computer.get());  // handled before SendMessage returns
        okOnComputer = ::IsWindowEnabled(::GetDlgItem(browser, IDOK));
        buttonOnComputer = ::IsWindowEnabled(NewFolderButton(browser));
        PressButton(browser, IDCANCEL);
    });
    EXPECT_TRUE(okOnFolder);
    EXPECT_TRUE(buttonOnFolder);
    EXPECT_FALSE(okOnComputer);
    EXPECT_FALSE(buttonOnComputer);
}

// Regression: under Wine the reopened browser came up with nothing selected (a freshly made folder's parsed id list was ignored).
TEST_F(FolderBrowser, NewFolderCreatesItUnderTheSelectionAndReopensWithItSelected) {
    const std::string data = dir.Make("Data");
    const std::string projects = data + "\\Projects";
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = data;
    int initialized = 0;
    dialog.OnInitialized = [&](TPBFolderDialog*, HWND) { ++initialized; };
    std::string treeText;
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == data; }, "starting folder not shown");
        EnterNewFolderName(browser, "Projects");
        HWND reopened = WaitForBrowser(browser);
        WaitUntil([&] { return StatusText(reopened) == projects; }, "the new folder was not selected");
        treeText = SelectedTreeText(reopened);
        ts::PressOk(reopened);
    });
    EXPECT_TRUE(chosen);
    EXPECT_TRUE(wc::DirectoryExists(projects));
    EXPECT_EQ(treeText, "Projects");
    EXPECT_EQ(dialog.Folder, projects);
    EXPECT_EQ(initialized, 2);
}

TEST_F(FolderBrowser, NewFolderCreatesEveryMissingParent) {
    const std::string data = dir.Make("Data");
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = data;
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == data; }, "starting folder not shown");
        EnterNewFolderName(browser, "One\\Two");
        HWND reopened = WaitForBrowser(browser);
        WaitUntil([&] { return StatusText(reopened) == data + "\\One\\Two"; }, "the new folder was not selected");
        ts::PressOk(reopened);
    });
    EXPECT_TRUE(chosen);
    EXPECT_TRUE(wc::DirectoryExists(data + "\\One\\Two"));
    EXPECT_EQ(dialog.Folder, data + "\\One\\Two");
}

TEST_F(FolderBrowser, NewFolderAtADriveRootAddsNoSecondSeparator) {
    const std::string name = "fdtroot" + std::to_string(::GetCurrentProcessId());
    const std::string made = "C:\\" + name;
    struct Remove {
        std::string path;
        ~Remove() { ts::RemoveTree(path); }
    } remove{made};
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = "C:\\";
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == "C:\\"; }, "the drive root was not shown");
        EnterNewFolderName(browser, name);
        HWND reopened = WaitForBrowser(browser);
        WaitUntil([&] { return StatusText(reopened) == made; }, "the new folder was not selected");
        ts::PressOk(reopened);
    });
    EXPECT_TRUE(chosen);
    EXPECT_TRUE(wc::DirectoryExists(made));
    EXPECT_EQ(dialog.Folder, made);
}

TEST_F(FolderBrowser, ACancelledOrEmptyNamePromptChangesNothing) {
    const std::string data = dir.Make("Data");
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = data;
    bool stillOpen = false;
    std::string status;
    const bool chosen = Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        WaitUntil([&] { return StatusText(browser) == data; }, "starting folder not shown");
        ::PostMessageW(NewFolderButton(browser), BM_CLICK, 0, 0);
        HWND prompt = WaitForDialog(L"New folder");
        ::SendMessageA(::GetDlgItem(prompt, 100), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Ignored"));
        PressButton(prompt, IDCANCEL);
        WaitGone(prompt);
        EnterNewFolderName(browser, "");  // OK with no name
        ::Sleep(500);
        stillOpen = ::IsWindow(browser) && FindBrowser() == browser;
        status = StatusText(browser);
        PressButton(browser, IDCANCEL);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(status, data);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(EntriesIn(data), 0);
    EXPECT_EQ(dialog.Folder, data);
}

TEST_F(FolderBrowser, ANameThatCannotBeMadeShowsTheSystemTextAndReopensAtThePreviousSelection) {
    const std::string data = dir.Make("Data");
    ts::WriteFileBytes(data + "\\Blocker", {1, 2, 3});
    const std::wstring expected = wc::ToWide(wc::SystemErrorMessage(82));
    for (const std::string name : {"Blocker\\Sub", "Blocker", "bad*name?"}) {
        SCOPED_TRACE(name);
        TPBFolderDialog dialog(nullptr);
        dialog.Folder = data;
        std::wstring message;
        const bool chosen = Run(dialog, [&] {
            HWND browser = WaitForBrowser();
            WaitUntil([&] { return StatusText(browser) == data; }, "starting folder not shown");
            EnterNewFolderName(browser, name);
            HWND box = WaitForDialog(L"New folder");
            message = ts::MessageBoxText(box);
            ts::PressOk(box);
            HWND reopened = WaitForBrowser(browser);
            WaitUntil([&] { return StatusText(reopened) == data; }, "did not reopen at the previous selection");
            PressButton(reopened, IDCANCEL);
        });
        EXPECT_FALSE(chosen);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(message, expected);
        EXPECT_EQ(dialog.Folder, data);
        EXPECT_TRUE(wc::FileExists(data + "\\Blocker"));
        EXPECT_EQ(EntriesIn(data), 1);
    }
}

TEST_F(FolderBrowser, TheButtonFollowsVisibleEnabledAndCaptionChanges) {
    TPBFolderDialog dialog(nullptr);
    dialog.Folder = dir.path();
    dialog.NewFolderVisible = false;
    dialog.NewFolderEnabled = false;
    bool visibleAtStart = true, enabledAtStart = true, visibleAfter = false, enabledAfter = false;
    std::string textAfter;
    dialog.OnInitialized = [&](TPBFolderDialog*, HWND window) {
        HWND button = NewFolderButton(window);
        // The browser itself is not shown yet: look at the button's own style.
        auto shown = [button] { return (::GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE) != 0; };
        visibleAtStart = shown();
        enabledAtStart = ::IsWindowEnabled(button);
        dialog.NewFolderVisible = true;
        dialog.NewFolderEnabled = true;
        dialog.NewFolderCaptions().SetCommaText("\"Default=Make folder\"");
        visibleAfter = shown();
        enabledAfter = ::IsWindowEnabled(button);
        textAfter = Narrow(ts::WindowText(button));
    };
    Run(dialog, [&] { PressButton(WaitForBrowser(), IDCANCEL); });
    EXPECT_FALSE(visibleAtStart);
    EXPECT_FALSE(enabledAtStart);
    EXPECT_TRUE(visibleAfter);
    EXPECT_TRUE(enabledAfter);
    EXPECT_EQ(textAfter, "Make folder");
}

TEST_F(FolderBrowser, EmptyCaptionListsGiveAnEmptyButtonText) {
    TPBFolderDialog dialog(nullptr);
    dialog.NewFolderCaptions().Clear();
    dialog.LabelCaptions().Clear();
    std::string text = "unset";
    bool hasButton = false;
    Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        HWND button = NewFolderButton(browser);
        hasButton = button != nullptr;
        if (button) text = Narrow(ts::WindowText(button));
        PressButton(browser, IDCANCEL);
    });
    EXPECT_TRUE(hasButton);
    EXPECT_EQ(text, "");
}

// Also run by NewFolderButton.SitsByTheTableAt120PixelsPerInch in a child
// copy of this program under 120 pixels per inch.
TEST_F(FolderBrowser, NewFolderButtonSitsByTheScreenResolutionTable) {
    const int dpi = wc::ScreenPixelsPerInch();
    if (const char* expected = std::getenv(kExpectedDpiVariable)) {
        ASSERT_EQ(dpi, std::atoi(expected)) << "the changed resolution did not reach this process";
    }
    struct Row {
        int dpi, left, fromBottom, width, height;
    };
    constexpr Row kRows[] = {{72, 12, 36, 75, 23}, {96, 12, 36, 75, 23}, {120, 15, 45, 93, 28},
                             {144, 17, 56, 112, 35}, {192, 20, 66, 150, 41}};
    Row row{dpi, 12 * dpi / 96, ::GetSystemMetrics(SM_CYCAPTION) + 17, 75 * dpi / 96, 23 * dpi / 96};
    for (const Row& known : kRows)
        if (known.dpi == dpi) row = known;

    TPBFolderDialog dialog(nullptr);
    dialog.Folder = dir.path();
    RECT bounds{}, client{};
    std::string text;
    int id = 0;
    LONG style = 0;
    Run(dialog, [&] {
        HWND browser = WaitForBrowser();
        HWND button = NewFolderButton(browser);
        if (!button) throw DriverFailure("no new-folder button");
        bounds = BoundsInParent(button);
        ::GetClientRect(browser, &client);
        text = Narrow(ts::WindowText(button));
        id = ::GetDlgCtrlID(button);
        style = ::GetWindowLongA(button, GWL_STYLE);
        PressButton(browser, IDCANCEL);
    });
    EXPECT_EQ(text, "New folder");
    EXPECT_EQ(id, 255);
    EXPECT_EQ(style & 0xFFFF0000, 0x54010000);
    EXPECT_EQ(bounds.left, row.left);
    EXPECT_EQ(bounds.top, client.bottom - row.fromBottom);
    EXPECT_GE(bounds.right - bounds.left, dpi == 72 ? 75 : 75 * dpi / 96);
    EXPECT_GE(bounds.right - bounds.left, row.width);
    EXPECT_EQ(bounds.bottom - bounds.top, row.height);
}

TEST(NewFolderButton, SitsByTheTableAt120PixelsPerInch) {
    if (std::getenv(kExpectedDpiVariable)) GTEST_SKIP() << "the child run checks only its own resolution";
    ts::TempDir work("fdpi");
    const std::string report = work / "report.xml";
    int exitCode = -1;
    {
        // Wine reads the screen resolution from either key when a process starts.
        auto desktop = RegistryOverride::Dword(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", 120);
        auto fonts = RegistryOverride::Dword(
            HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts",
            "LogPixels", 120);
        ::SetEnvironmentVariableA(kExpectedDpiVariable, "120");
        ts::ChildProcess child(wc::ExecutablePath(),
                               "--gtest_filter=FolderBrowser.NewFolderButtonSitsByTheScreenResolutionTable "
                               "--gtest_output=xml:" + report,
                               ts::ProgramDir());
        ::SetEnvironmentVariableA(kExpectedDpiVariable, nullptr);
        ASSERT_TRUE(child.Wait(std::chrono::seconds(90)));
        DWORD code = 0;
        ::GetExitCodeProcess(child.handle(), &code);
        exitCode = int(code);
    }
    std::ifstream file(report);
    std::stringstream details;
    details << file.rdbuf();
    EXPECT_EQ(exitCode, 0) << details.str();
    EXPECT_NE(details.str().find("NewFolderButtonSitsByTheScreenResolutionTable"), std::string::npos)
        << "the child run did not report the test";
}
