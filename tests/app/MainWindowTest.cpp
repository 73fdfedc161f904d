// The main window in this process, with its real dialogs worked from a
// second thread.
#include <gtest/gtest.h>

#include "app/Unit1.h"
#include "framework/Strings.h"
#include "support/DialogDriver.h"

using namespace testing_support;

namespace {

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

    // Presses `button` and works the dialog it opens with `drive`; false when none came up.
    static bool Drive(TAdvSmoothButton* button, const std::function<void(HWND)>& drive) {
        bool seen = false;
        RunDriven([button] { button->Click(); return true; }, drive, &seen);
        return seen;
    }
    void ChooseFile(const std::string& path) {
        ASSERT_TRUE(Drive(form->btnSlInp, [&](HWND dialog) { ChooseFileIn(dialog, wc::ToWide(path)); }))
            << "the open dialog did not come up";
    }
    void ChooseFolder(const std::string& path) {
        ASSERT_TRUE(Drive(form->BtnSlout, [&](HWND browser) { ChooseFolderInProcess(browser, path); }))
            << "the folder browser did not come up";
    }
    void CancelFile() { ASSERT_TRUE(Drive(form->btnSlInp, Cancel)); }
    void CancelFolder() { ASSERT_TRUE(Drive(form->BtnSlout, Cancel)); }
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

TEST_F(MainWindowTest, SeveralFilesChosenAtOnceAreShownWithTheirCount) {
    const std::string b = *folderA / "b.wav", c = *folderA / "c.wav";
    WriteFileBytes(b, MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 80)));
    WriteFileBytes(c, MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 80)));
    form->MMWaveOpenDialog1->SetInitialDir(folderA->path());
    ASSERT_TRUE(Drive(form->btnSlInp,
                      [](HWND dialog) { ChooseFileIn(dialog, L"\"take one.wav\" \"b.wav\" \"c.wav\""); }));
    EXPECT_EQ(form->Sources(), (std::vector<std::string>{source, b, c}));
    EXPECT_EQ(Text(form->Label1), source + " (+2 more)");
    ChooseFolder(folderB->path());
    EXPECT_EQ(Text(form->Label5), folderB->path() + "\\Clean_take one.wav (+2 more)");
    EXPECT_TRUE(CleanEnabled());
}

TEST_F(MainWindowTest, DroppedWaveFilesBecomeTheSourcesAndOneDroppedFolderTheOutputFolder) {
    const std::string notes = *folderA / "notes.txt";
    WriteFileBytes(notes, {'x'});
    // Neither a WAV file nor a single folder: ignored, without a message.
    PostDrop(form->Handle(), {notes, folderA->path(), folderB->path()});
    PostDrop(form->Handle(), {otherSource, notes, source});
    ASSERT_TRUE(PumpUntil([&] { return Text(form->Label1) != "No file was selected."; }));
    EXPECT_EQ(Text(form->Label1), otherSource + " (+1 more)");
    EXPECT_EQ(form->Sources(), (std::vector<std::string>{otherSource, source}));
    EXPECT_EQ(Text(form->Label2), "No folder was selected.");
    EXPECT_FALSE(FindMessageBox());

    PostDrop(form->Handle(), {folderA->path()});
    ASSERT_TRUE(PumpUntil([&] { return Text(form->Label2) == folderA->path(); }));
    EXPECT_EQ(Text(form->Label5), folderA->path() + "\\Clean_second.wav (+1 more)");
    EXPECT_TRUE(CleanEnabled());
}

// Two sources of one name: the second is refused, the first's copy kept;
// a drop while the job runs is refused too.
TEST_F(MainWindowTest, ASecondSourceOfTheSameNameIsRefusedWithALogLine) {
    const std::string twin = *folderB / "take one.wav";
    const auto twinSamples = MakeTestSamples16(1, 900, 5);
    WriteFileBytes(twin, MakePcmWave(1, 8000, 16, twinSamples));
    TempDir output("wc twin output");
    PostDrop(form->Handle(), {source, twin});
    PostDrop(form->Handle(), {output.path()});
    ASSERT_TRUE(PumpUntil([&] { return CleanEnabled(); }));

    std::wstring outcome;
    PostDrop(form->Handle(), {otherSource});  // dispatched by the job's first wait
    ASSERT_TRUE(Drive(form->BtnCleanFile, [&](HWND box) {
        outcome = MessageBoxText(box);
        PressOk(box);
    })) << "no outcome";
    EXPECT_EQ(outcome.substr(0, 5), L"コンバート") << "not the failure message";
    EXPECT_EQ(form->Sources(), (std::vector<std::string>{source, twin})) << "the drop during the job was taken";
    const auto copy = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800));  // the first source, as written
    EXPECT_EQ(ReadFileBytes(output / "Clean_take one.wav"), copy);
    const auto log = ReadFileBytes(ProgramDir() + "\\Cvlog.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find("refused: " + twin + ": "), std::string::npos);
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

TEST(IsChoiceMade, OnlyCaptionsBeginningWithNoMeanNothingChosen) {
    EXPECT_FALSE(IsChoiceMade("No file was selected."));
    EXPECT_FALSE(IsChoiceMade("No folder was selected."));
    EXPECT_FALSE(IsChoiceMade("No"));
    EXPECT_TRUE(IsChoiceMade("C:\\Notes\\take.wav"));
    EXPECT_TRUE(IsChoiceMade(""));  // an empty folder from the browser counts as chosen
    EXPECT_TRUE(IsChoiceMade("N"));
    EXPECT_TRUE(IsChoiceMade("no file"));  // the comparison is case-sensitive
    EXPECT_FALSE(IsChoiceMade("Notes\\take.wav"));  // only the first two characters are compared
}

// The two messages, against the Shift-JIS bytes of their texts as the system converts them here.
std::string ShiftJis(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(932, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(932, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

TEST(ResultMessages, AreTheJapaneseTextsInShiftJis) {
    EXPECT_EQ(std::string(kOutputCompletedMessage), ShiftJis(L"出力を完了しました。"));
    EXPECT_EQ(std::string(kConversionFailedMessage),
              ShiftJis(L"コンバート中にエラーが発生しました。\rインストールディレクトリ内にあるCvlog.logファイルを\r"
                       L"Varnel担当までお送りください。"));
}

}  // namespace
