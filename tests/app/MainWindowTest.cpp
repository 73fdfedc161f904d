// The main window in this process, with its real dialogs worked from a
// second thread.
#include <gtest/gtest.h>

#include "DialogDriving.h"
#include "app/Unit1.h"
#include "framework/Strings.h"

using namespace testing_support;

namespace {

const DWORD kThisProcess = ::GetCurrentProcessId();

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { wc::Application().Initialize(); }

    void SetUp() override {
        form = &wc::Application().CreateForm<TForm1>();
        form->Show();
        folderA = std::make_unique<TempDir>("wc folder a");
        folderB = std::make_unique<TempDir>("wc folder b");
        source = *folderA / "take one.wav";
        WriteFileBytes(source, MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800)));
        otherSource = *folderB / "second.wav";
        WriteFileBytes(otherSource, MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800)));
    }
    void TearDown() override { wc::Application().DestroyForms(); }

    void ChooseFile(const std::string& path) {
        DialogDriver driver([] { return FindOpenDialog(kThisProcess); },
                            [&](HWND dialog) { ChooseFileIn(dialog, wc::ToWide(path)); });
        form->btnSlInp->Click();
        ASSERT_TRUE(driver.Done()) << "the open dialog did not come up";
    }
    void ChooseFolder(const std::string& path) {
        DialogDriver driver([] { return FindFolderBrowser(kThisProcess); },
                            [&](HWND browser) { ChooseFolderInProcess(browser, path); });
        form->BtnSlout->Click();
        ASSERT_TRUE(driver.Done()) << "the folder browser did not come up";
    }
    void CancelFile() {
        DialogDriver driver([] { return FindOpenDialog(kThisProcess); }, Cancel);
        form->btnSlInp->Click();
        ASSERT_TRUE(driver.Done());
    }
    void CancelFolder() {
        DialogDriver driver([] { return FindFolderBrowser(kThisProcess); }, Cancel);
        form->BtnSlout->Click();
        ASSERT_TRUE(driver.Done());
    }
    bool CleanEnabled() { return ::IsWindowEnabled(form->BtnCleanFile->Handle()) != 0; }
    std::string Text(wc::TWinControl* control) { return wc::FromWide(WindowText(control->Handle())); }

    TForm1* form = nullptr;
    std::unique_ptr<TempDir> folderA, folderB;
    std::string source, otherSource;
};

TEST_F(MainWindowTest, StartsWithNothingChosenAndCleanDisabled) {
    EXPECT_EQ(Text(form), "Wave Cleaner 2026");
    EXPECT_EQ(Text(form->Label1), "No file was selected.");
    EXPECT_EQ(Text(form->Label2), "No folder was selected.");
    EXPECT_EQ(Text(form->Label4), "Output Filename:");
    EXPECT_EQ(Text(form->Label5), "No Name");
    EXPECT_EQ(Text(form->btnSlInp), "Source File");
    EXPECT_EQ(Text(form->BtnSlout), "Output Folder");
    EXPECT_EQ(Text(form->BtnCleanFile), "CLEAN FILE");
    EXPECT_FALSE(CleanEnabled());
}

TEST_F(MainWindowTest, FileThenFolderEnablesCleanAndShowsTheOutputPath) {
    ChooseFile(source);
    EXPECT_EQ(Text(form->Label1), source);
    EXPECT_EQ(Text(form->Label5), "No Name");
    EXPECT_FALSE(CleanEnabled());
    ChooseFolder(folderB->path());
    EXPECT_EQ(Text(form->Label2), folderB->path());
    EXPECT_EQ(Text(form->Label5), folderB->path() + "\\Clean_take one.wav");
    EXPECT_TRUE(CleanEnabled());
}

TEST_F(MainWindowTest, FolderThenFileEnablesCleanJustTheSame) {
    ChooseFolder(folderB->path());
    EXPECT_EQ(Text(form->Label2), folderB->path());
    EXPECT_EQ(Text(form->Label5), "No Name");
    EXPECT_FALSE(CleanEnabled());
    ChooseFile(source);
    EXPECT_EQ(Text(form->Label5), folderB->path() + "\\Clean_take one.wav");
    EXPECT_TRUE(CleanEnabled());
}

TEST_F(MainWindowTest, CancellingEitherDialogKeepsTheState) {
    CancelFile();
    CancelFolder();
    EXPECT_EQ(Text(form->Label1), "No file was selected.");
    EXPECT_EQ(Text(form->Label2), "No folder was selected.");
    EXPECT_FALSE(CleanEnabled());

    ChooseFile(source);
    ChooseFolder(folderB->path());
    CancelFile();
    CancelFolder();
    EXPECT_EQ(Text(form->Label1), source);
    EXPECT_EQ(Text(form->Label2), folderB->path());
    EXPECT_EQ(Text(form->Label5), folderB->path() + "\\Clean_take one.wav");
    EXPECT_TRUE(CleanEnabled());
}

TEST_F(MainWindowTest, ChoosingAgainRecomputesTheOutputPath) {
    ChooseFile(source);
    ChooseFolder(folderB->path());
    ChooseFile(otherSource);
    EXPECT_EQ(Text(form->Label5), folderB->path() + "\\Clean_second.wav");
    ChooseFolder(folderA->path());
    EXPECT_EQ(Text(form->Label2), folderA->path());
    EXPECT_EQ(Text(form->Label5), folderA->path() + "\\Clean_second.wav");
    EXPECT_TRUE(CleanEnabled());
}

TEST_F(MainWindowTest, LayoutIsCentredOnTheScreen) {
    RECT bounds;
    ::GetWindowRect(form->Handle(), &bounds);
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    const int scale = wc::ScreenPixelsPerInch();
    EXPECT_EQ(width, ::MulDiv(574, scale, 96));
    EXPECT_EQ(height, ::MulDiv(297, scale, 96));
    EXPECT_EQ(bounds.left, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(bounds.top, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2);
}

}  // namespace
