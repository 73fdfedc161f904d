// The main window's "Output Folder" button running the folder chooser.
#include <gtest/gtest.h>

#include <string>

#include "BrowserDriver.h"
#include "support/TestSupport.h"
#include "app/Unit1.h"
#include "framework/Forms.h"

using namespace folderdialog_test;
namespace ts = testing_support;

namespace {

class MainWindowFolder : public ::testing::Test {
protected:
    void SetUp() override {
        wc::Application().Initialize();
        form = &wc::Application().CreateForm<TForm1>();
    }
    void TearDown() override { wc::Application().DestroyForms(); }

    // Clicks "Output Folder" on this thread while `drive` works the browser.
    void ClickOutputFolder(const std::function<void()>& drive) {
        std::string failure;
        WhileDriving(drive, [&] {
            form->BtnSlout->Click();
            return 0;
        }, failure);
        if (!failure.empty()) ADD_FAILURE() << "driver: " << failure;
    }

    TForm1* form = nullptr;
    ShortDir dir;
};

}  // namespace

TEST_F(MainWindowFolder, RunsTheChooserWithItsStoredSettings) {
    EXPECT_EQ(form->PBFolderDialog1->Flags, TBrowseInfoFlagSet(OnlyAncestors | ShowPath));
    EXPECT_TRUE(form->PBFolderDialog1->NewFolderVisible);
    EXPECT_TRUE(form->PBFolderDialog1->NewFolderEnabled);
    EXPECT_EQ(form->PBFolderDialog1->LabelCaptions().Count(), 28u);
    bool buttonVisible = false, buttonEnabled = false, titleShown = false;
    HWND owner = nullptr;
    ClickOutputFolder([&] {
        HWND browser = WaitForBrowser();
        HWND button = NewFolderButton(browser);
        buttonVisible = button && ::IsWindowVisible(button);
        // Usable once a file-system folder is selected.
        SelectPathUntilShown(browser, dir.path(), "the folder was not shown");
        buttonEnabled = button && ::IsWindowEnabled(button);
        titleShown = ts::FindChild(browser, L"Current folder:") != nullptr;
        owner = ::GetWindow(browser, GW_OWNER);
        PressButton(browser, IDCANCEL);
    });
    EXPECT_TRUE(buttonVisible);
    EXPECT_TRUE(buttonEnabled);
    EXPECT_TRUE(titleShown);
    EXPECT_EQ(owner, form->Handle());
    EXPECT_EQ(form->Label2->Caption(), "No folder was selected.");
}

TEST_F(MainWindowFolder, PutsTheChosenFolderIntoLabel2AndKeepsItOnCancel) {
    const std::string out = dir.Make("Out");
    ClickOutputFolder([&] {
        HWND browser = WaitForBrowser();
        SelectPathUntilShown(browser, out, "the output folder was not shown");
        ts::PressOk(browser);
    });
    EXPECT_EQ(form->Label2->Caption(), out);
    EXPECT_EQ(form->PBFolderDialog1->Folder, out);
    // Only the folder is known: the output name waits for a source file.
    EXPECT_EQ(form->Label5->Caption(), "No Name");
    EXPECT_FALSE(form->BtnCleanFile->Enabled());

    ClickOutputFolder([&] {
        HWND browser = WaitForBrowser();
        // The next run starts at the last choice.
        WaitUntil([&] { return StatusText(browser) == out; }, "did not start at the last choice");
        SelectPath(browser, dir.path());
        PressButton(browser, IDCANCEL);
    });
    EXPECT_EQ(form->Label2->Caption(), out);
    EXPECT_EQ(form->PBFolderDialog1->Folder, out);
}
