// The open dialog driven for real: Execute runs the system dialog on the
// test's thread while a second thread types, selects and presses buttons.
#include <gtest/gtest.h>

#include <windows.h>
#include <dlgs.h>

#include <atomic>
#include <stdexcept>

#include "RecordingOpenDialog.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/Strings.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"

using namespace opendialog_tests;
using namespace testing_support;
using testing_support::TempDir;
using testing_support::WindowText;

namespace {

class OpenDialogRun : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a.wav", "b.wav", "c.txt"})
            testing_support::WriteFileBytes(dir_ / name, testing_support::MakePcmWave(1, 8000, 16, {0, 0, 1, 0}));
        wc::Application().OnException = [this](const std::exception& error) {
            std::lock_guard lock(errorsMutex_);
            errors_.push_back(error.what());
        };
        dialog_.Filter = "Wave Files(*.wav)|*.wav";
        dialog_.SetInitialDir(dir_.path());
    }
    void TearDown() override {
        wc::Application().OnException = nullptr;
        wc::SetNewStyleControls(true);
    }
    std::string Path(const char* name) const { return dir_ / name; }
    std::vector<std::string> Errors() {
        std::lock_guard lock(errorsMutex_);
        return errors_;
    }

    TempDir dir_{"opendlg"};
    RecordingOpenDialog dialog_{nullptr};
    std::mutex errorsMutex_;
    std::vector<std::string> errors_;
};

}  // namespace

TEST_F(OpenDialogRun, FilterReachesTheSystemAsNameAndPattern) {
    std::vector<std::string> types, listed;
    RunDriven(dialog_, [&](HWND frame) {
        types = ComboItems(::GetDlgItem(frame, cmb1));
        WaitUntil([&] { return !ListViewItems(frame).empty(); });
        listed = ListViewItems(frame);
    });
    EXPECT_EQ(types, (std::vector<std::string>{"Wave Files(*.wav)"}));
    ASSERT_EQ(listed.size(), 2u) << "only the two wave files match *.wav";
    for (const auto& item : listed) EXPECT_TRUE(item[0] == 'a' || item[0] == 'b') << item;
}

TEST_F(OpenDialogRun, TitleShowsItsFirst79Characters) {
    std::string title;
    for (int i = 0; i < 100; ++i) title += char('A' + i % 26);
    dialog_.Title = title;
    std::wstring shown;
    RunDriven(dialog_, [&](HWND frame) { shown = WindowText(frame); });
    EXPECT_EQ(wc::FromWide(shown), title.substr(0, 79));
}

TEST_F(OpenDialogRun, InitialDirWithATrailingBackslashOpensThatFolder) {
    dialog_.SetInitialDir(dir_.path() + "\\");
    std::string shown;
    RunDriven(dialog_, [&](HWND frame) { shown = FolderPath(frame); });
    EXPECT_TRUE(wc::SameText(shown, dir_.path())) << shown;
}

TEST_F(OpenDialogRun, InitialDirOfADriveRootOpensTheRoot) {
    dialog_.SetInitialDir("C:\\");
    std::string shown;
    RunDriven(dialog_, [&](HWND frame) { shown = FolderPath(frame); });
    EXPECT_TRUE(wc::SameText(shown, "C:\\")) << shown;
}

TEST_F(OpenDialogRun, DialogComesUpCentredAndAThirdDown) {
    RECT bounds{};
    bool centred = false;
    RunDriven(dialog_, [&](HWND frame) {
        const auto expected = [&] {
            ::GetWindowRect(frame, &bounds);
            const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
            return bounds.left == (::GetSystemMetrics(SM_CXSCREEN) - width) / 2 &&
                   bounds.top == (::GetSystemMetrics(SM_CYSCREEN) - height) / 3;
        };
        centred = WaitUntil(expected, std::chrono::milliseconds(3000));
    });
    EXPECT_TRUE(centred) << "at " << bounds.left << "," << bounds.top << " size " << bounds.right - bounds.left
                         << "x" << bounds.bottom - bounds.top;
}

TEST_F(OpenDialogRun, SelectingAFileInTheListReportsItsFullPath) {
    bool selected = false, reported = false;
    RunDriven(dialog_, [&](HWND frame) {
        WaitUntil([&] { return !ListViewItems(frame).empty(); });
        selected = SelectListViewItem(frame, "b");
        reported = WaitUntil([&] {
            for (const auto& name : dialog_.SelChanges())
                if (wc::SameText(name, Path("b.wav"))) return true;
            return false;
        });
    });
    ASSERT_TRUE(selected);
    EXPECT_TRUE(reported) << "selection changes seen: " << dialog_.SelChanges().size();
}

TEST_F(OpenDialogRun, RefusedFileNameKeepsTheDialogOpenUntilALaterAccept) {
    dialog_.accept = [this](const std::string& name) { return wc::SameText(name, Path("b.wav")); };
    bool openAfterRefusal = false;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        TypeFileName(frame, Path("a.wav"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !dialog_.FileOKs().empty(); });
        ::Sleep(300);
        openAfterRefusal = ::IsWindow(frame) && ::IsWindowVisible(frame);
        TypeFileName(frame, Path("b.wav"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_TRUE(confirmed);
    const auto asked = dialog_.FileOKs();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(wc::SameText(asked[0], Path("a.wav"))) << asked[0];
    EXPECT_TRUE(wc::SameText(asked[1], Path("b.wav"))) << asked[1];
    EXPECT_TRUE(wc::SameText(dialog_.FileName, Path("b.wav"))) << dialog_.FileName;
    ASSERT_EQ(dialog_.Files().size(), 1u);
    EXPECT_EQ(dialog_.Files()[0], dialog_.FileName);
}

TEST_F(OpenDialogRun, MultipleSelectionYieldsEveryFullPath) {
    dialog_.Options |= ofAllowMultiSelect;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        TypeFileName(frame, "\"a.wav\" \"b.wav\"");
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    ASSERT_TRUE(confirmed);
    ASSERT_EQ(dialog_.Files().size(), 2u);
    EXPECT_TRUE(wc::SameText(dialog_.Files()[0], Path("a.wav"))) << dialog_.Files()[0];
    EXPECT_TRUE(wc::SameText(dialog_.Files()[1], Path("b.wav"))) << dialog_.Files()[1];
    EXPECT_EQ(dialog_.FileName, dialog_.Files()[0]);
    EXPECT_EQ(dialog_.FileOKs(), dialog_.Files()) << "each chosen name is checked, in order";
}

TEST_F(OpenDialogRun, ARefusalInAMultipleSelectionStopsTheCheckAndKeepsTheDialogOpen) {
    dialog_.Options |= ofAllowMultiSelect;
    dialog_.accept = [](const std::string&) { return false; };
    bool openAfterRefusal = false;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        TypeFileName(frame, "\"a.wav\" \"b.wav\"");
        PressButton(frame, IDOK);
        WaitUntil([&] { return !dialog_.FileOKs().empty(); });
        ::Sleep(300);
        openAfterRefusal = ::IsWindow(frame);
    });
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_FALSE(confirmed);
    ASSERT_EQ(dialog_.FileOKs().size(), 1u);
    EXPECT_TRUE(dialog_.Files().empty());
}

TEST_F(OpenDialogRun, ConfirmedRunReturnsTheChosenFilterIndexAndReadOnlyFlag) {
    dialog_.Filter = "Wave Files(*.wav)|*.wav|All files|*.*";
    dialog_.FilterIndex = 2;
    int selectedType = -1;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        selectedType = int(::SendMessageA(::GetDlgItem(frame, cmb1), CB_GETCURSEL, 0, 0));
        ::SendMessageA(::GetDlgItem(frame, chx1), BM_SETCHECK, BST_CHECKED, 0);
        TypeFileName(frame, Path("c.txt"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(selectedType, 1);
    EXPECT_EQ(dialog_.FilterIndex, 2);
    EXPECT_TRUE(dialog_.Options & ofReadOnly);
    EXPECT_TRUE(wc::SameText(dialog_.FileName, Path("c.txt")));
}

TEST_F(OpenDialogRun, CancelKeepsFileNameAndFilterIndexAndClearsFiles) {
    ASSERT_TRUE(RunDriven(dialog_, [&](HWND frame) {
        TypeFileName(frame, Path("a.wav"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    }));
    ASSERT_EQ(dialog_.Files().size(), 1u);
    dialog_.Filter = "Wave Files(*.wav)|*.wav|All files|*.*";
    dialog_.FileName = "keep.wav";
    dialog_.FilterIndex = 2;
    const TOpenOptions options = dialog_.Options;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        ::SendMessageA(::GetDlgItem(frame, chx1), BM_SETCHECK, BST_CHECKED, 0);
        PressButton(frame, IDCANCEL);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(dialog_.FileName, "keep.wav");
    EXPECT_EQ(dialog_.FilterIndex, 2);
    EXPECT_EQ(dialog_.Options, options);
    EXPECT_TRUE(dialog_.Files().empty());
}

TEST_F(OpenDialogRun, ExceptionsFromOverridesGoToTheApplicationHandler) {
    dialog_.onShow = [] { throw std::runtime_error("show failed"); };
    dialog_.onSelChange = [] { throw std::runtime_error("selection failed"); };
    bool stillUp = false;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        WaitUntil([&] { return !ListViewItems(frame).empty(); });
        SelectListViewItem(frame, "a");
        WaitUntil([&] { return !dialog_.SelChanges().empty(); });
        stillUp = ::IsWindow(frame);
        TypeFileName(frame, Path("b.wav"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    EXPECT_TRUE(stillUp);
    EXPECT_TRUE(confirmed) << "the dialog went on working after the exceptions";
    const auto errors = Errors();
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ(errors[0], "show failed");
    EXPECT_EQ(errors[1], "selection failed");
}

TEST_F(OpenDialogRun, AnExceptionWhileCheckingTheNameLeavesTheNameAccepted) {
    dialog_.accept = [](const std::string&) -> bool { throw std::runtime_error("check failed"); };
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        TypeFileName(frame, Path("a.wav"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(Errors(), (std::vector<std::string>{"check failed"}));
}

TEST_F(OpenDialogRun, ShowAndCloseBracketTheDialogWindow) {
    int shownEvents = 0, closedEvents = 0;
    dialog_.OnDialogShow = [&](wc::TComponent* sender) { shownEvents += sender == &dialog_; };
    dialog_.OnDialogClose = [&](wc::TComponent* sender) { closedEvents += sender == &dialog_; };
    HWND hookDuringRun = nullptr;
    RunDriven(dialog_, [&](HWND frame) { hookDuringRun = dialog_.Window(); });
    EXPECT_EQ(dialog_.ShowCount(), 1);
    EXPECT_EQ(dialog_.CloseCount(), 1);
    EXPECT_EQ(shownEvents, 1);
    EXPECT_EQ(closedEvents, 1);
    EXPECT_NE(dialog_.WindowAtShow(), nullptr);
    EXPECT_EQ(hookDuringRun, dialog_.WindowAtShow());
    EXPECT_EQ(dialog_.Window(), nullptr);
}

TEST_F(OpenDialogRun, TemplatePanelIsEmbeddedAndReportsItsCommands) {
    dialog_.TemplateName = "TestOpenPanel";
    HWND probe = nullptr, probeParent = nullptr, frameSeen = nullptr;
    bool commanded = false;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        frameSeen = frame;
        probe = testing_support::FindChild(frame, L"Probe", L"Button");
        if (!probe) return;
        probeParent = ::GetParent(probe);
        ::PostMessageW(probe, BM_CLICK, 0, 0);
        commanded = WaitUntil([&] {
            for (const auto& command : dialog_.Commands())
                if (command.id == 1000) return true;
            return false;
        });
    });
    EXPECT_FALSE(confirmed);
    ASSERT_NE(probe, nullptr) << "the template's panel is not in the dialog";
    EXPECT_EQ(probeParent, dialog_.WindowAtShow()) << "the panel is the hook's window";
    ASSERT_TRUE(commanded);
    for (const auto& command : dialog_.Commands()) {
        if (command.id != 1000) continue;
        EXPECT_EQ(command.hook, dialog_.WindowAtShow());
        EXPECT_EQ(command.frame, frameSeen);
    }
}

TEST_F(OpenDialogRun, OtherWindowsOfTheApplicationAreDisabledWhileItRuns) {
    wc::WindowHandle other(::CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 100, 50,
                                            nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(other);
    bool enabledDuringRun = true;
    RunDriven(dialog_, [&](HWND frame) { enabledDuringRun = ::IsWindowEnabled(other.get()); });
    EXPECT_FALSE(enabledDuringRun);
    EXPECT_TRUE(::IsWindowEnabled(other.get()));
}

// ---- old-style dialogs (no new-style controls) ----

class OldStyleOpenDialogRun : public OpenDialogRun {
protected:
    void SetUp() override {
        OpenDialogRun::SetUp();
        wc::SetNewStyleControls(false);
        RegisterCommonDialogMessages();
        dialog_.TemplateName = "TestOpenPanel";
    }
};

TEST_F(OldStyleOpenDialogRun, UsesTheOldTemplateAsTheWholeDialogCentred) {
    bool oldPanel = false, centred = false;
    RunDriven(dialog_, [&](HWND frame) {
        oldPanel = testing_support::FindChild(frame, L"Old test panel") != nullptr;
        centred = WaitUntil([&] {
            RECT bounds;
            ::GetWindowRect(frame, &bounds);
            const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
            return bounds.left == (::GetSystemMetrics(SM_CXSCREEN) - width) / 2 &&
                   bounds.top == (::GetSystemMetrics(SM_CYSCREEN) - height) / 3;
        }, std::chrono::milliseconds(3000));
    });
    EXPECT_TRUE(oldPanel);
    EXPECT_TRUE(centred);
    EXPECT_EQ(dialog_.ShowCount(), 1);
    EXPECT_EQ(dialog_.CloseCount(), 1);
}

TEST_F(OldStyleOpenDialogRun, RefusedFileNameKeepsTheDialogOpenUntilALaterAccept) {
    dialog_.accept = [this](const std::string& name) { return wc::SameText(name, Path("b.wav")); };
    bool openAfterRefusal = false;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        TypeFileName(frame, "a.wav");
        PressButton(frame, IDOK);
        WaitUntil([&] { return !dialog_.FileOKs().empty(); });
        ::Sleep(300);
        openAfterRefusal = ::IsWindow(frame);
        TypeFileName(frame, "b.wav");
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_TRUE(confirmed);
    ASSERT_EQ(dialog_.FileOKs().size(), 2u);
    EXPECT_TRUE(wc::SameText(dialog_.FileName, Path("b.wav"))) << dialog_.FileName;
}

TEST_F(OldStyleOpenDialogRun, SelectingInTheFileListReportsTheFullPath) {
    bool reported = false;
    RunDriven(dialog_, [&](HWND frame) {
        HWND list = ::GetDlgItem(frame, lst1);
        WaitUntil([&] { return ::SendMessageA(list, LB_GETCOUNT, 0, 0) > 0; });
        const LRESULT index = ::SendMessageA(list, LB_FINDSTRING, WPARAM(-1), reinterpret_cast<LPARAM>("b"));
        if (index == LB_ERR) return;
        ::SendMessageA(list, LB_SETCURSEL, WPARAM(index), 0);
        ::SendMessageA(frame, WM_COMMAND, MAKEWPARAM(lst1, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        reported = WaitUntil([&] {
            for (const auto& name : dialog_.SelChanges())
                if (wc::SameText(name, Path("b.wav"))) return true;
            return false;
        });
    });
    EXPECT_TRUE(reported) << "selection changes seen: " << dialog_.SelChanges().size()
                          << (dialog_.SelChanges().empty() ? "" : " first " + dialog_.SelChanges()[0]);
}
