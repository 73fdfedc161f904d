// The main window in this process, with its real dialogs worked from a
// second thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <tuple>

#include "app/Unit1.h"
#include "framework/Files.h"
#include "framework/Strings.h"
#include "support/DialogDriver.h"
#include "support/Keyboard.h"
#include "support/Registry.h"

using namespace testing_support;

namespace {

const std::wstring kCompleted = L"出力を完了しました。";

// Answers every message box of this process from a second thread while it
// lives, keeping their texts: a job the test did not mean to start shows its
// outcome here instead of hanging the test.
class Outcomes {
public:
    Outcomes()
        : thread_([this] {
              while (!stop_) {
                  HWND box = FindMessageBox();
                  if (!box) {
                      ::Sleep(20);
                      continue;
                  }
                  {
                      std::lock_guard lock(mutex_);
                      texts_.push_back(MessageBoxText(box));
                  }
                  PressOk(box);
                  WaitUntil([box] { return !::IsWindow(box) || !::IsWindowVisible(box); });
              }
          }) {}
    ~Outcomes() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> Texts() {
        std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;  // guards texts_
    std::vector<std::wstring> texts_;
    std::thread thread_;
};

// Runs `check` once from the job's own message loop: at the first tick of a
// timer that finds the job running (CLEAN FILE reads STOP).
class DuringTheJob {
public:
    DuringTheJob(TForm1& form, std::function<void()> check) {
        form_ = &form;
        check_ = std::move(check);
        ran_ = false;
        timer_ = ::SetTimer(nullptr, 0, 10, &Tick);
    }
    ~DuringTheJob() {
        ::KillTimer(nullptr, timer_);
        check_ = nullptr;
    }
    bool Ran() const { return ran_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (ran_ || !check_ || form_->BtnCleanFile->Caption() != "STOP") return;
        ran_ = true;
        check_();
    }
    static inline TForm1* form_ = nullptr;
    static inline std::function<void()> check_;
    static inline bool ran_ = false;
    UINT_PTR timer_;
};

// A taskbar that keeps what the window tells it. It lives on the test's
// stack: the test takes it back from the window before it goes.
class TaskbarDouble final : public ITaskbarList3 {
public:
    std::vector<TBPFLAG> states;
    std::vector<ULONGLONG> values;  // of 1000

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != __uuidof(ITaskbarList) && iid != __uuidof(ITaskbarList2) &&
            iid != __uuidof(ITaskbarList3)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
        values.push_back(total == 1000 ? done : ~0ull);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
        states.push_back(state);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }

    ULONG references = 1;
};

// Mouse messages posted to a control, at its centre.
void PostMouse(HWND control, std::initializer_list<UINT> messages) {
    RECT area;
    ::GetClientRect(control, &area);
    const LPARAM centre = MAKELPARAM(area.right / 2, area.bottom / 2);
    for (UINT message : messages) ::PostMessageW(control, message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, centre);
}

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
    // Both chosen by drops, as quickly as a person does with the mouse.
    void ChooseByDrop() {
        PostDrop(form->Handle(), {source});
        PostDrop(form->Handle(), {folderB->path()});
        ASSERT_TRUE(PumpUntil([&] { return CleanEnabled(); }));
    }
    std::string Copy() const { return *folderB / "Clean_take one.wav"; }
    bool CleanEnabled() { return ::IsWindowEnabled(form->BtnCleanFile->Handle()) != 0; }
    std::string Text(wc::TWinControl* control) { return wc::FromWide(WindowText(control->Handle())); }

    // No folders kept from an earlier run or case.
    RegistryKeyAbsence settings{HKEY_CURRENT_USER, "Software\\Wave Cleaner"};
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
    EXPECT_EQ(Text(form->btnSlInp), "&Source File");
    EXPECT_EQ(Text(form->BtnSlout), "&Output Folder");
    EXPECT_EQ(Text(form->BtnCleanFile), "&CLEAN FILE");
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
    Outcomes outcomes;
    // Neither a WAV file nor a single folder: nothing taken, and the message says so.
    // One drop at a time: a second drop taken while the first one's message is open shows its message
    // above it, and the order the texts were read in was the boxes' race.
    PostDrop(form->Handle(), {notes, folderA->path(), folderB->path()});
    ASSERT_TRUE(PumpUntil([&] { return outcomes.Texts().size() == 1; }));
    PostDrop(form->Handle(), {source, notes, otherSource});
    ASSERT_TRUE(PumpUntil([&] { return outcomes.Texts().size() == 2; }));
    EXPECT_EQ(outcomes.Texts(),
              (std::vector<std::wstring>{L"3 dropped items were left out: only WAV files and one output folder are taken.",
                                         L"1 dropped item was left out: only WAV files and one output folder are taken."}));
    // In name order: "second.wav" before "take one.wav".
    EXPECT_EQ(Text(form->Label1), otherSource + " (+1 more)");
    EXPECT_EQ(form->Sources(), (std::vector<std::string>{otherSource, source}));
    EXPECT_EQ(Text(form->Label2), "No folder was selected.");

    PostDrop(form->Handle(), {folderA->path()});
    ASSERT_TRUE(PumpUntil([&] { return Text(form->Label2) == folderA->path(); }));
    EXPECT_EQ(Text(form->Label5), folderA->path() + "\\Clean_second.wav (+1 more)");
    EXPECT_TRUE(CleanEnabled());
}

TEST_F(MainWindowTest, TheTaskbarButtonShowsTheJobsProgressAndAFailure) {
    TaskbarDouble taskbar;
    taskbar.AddRef();
    form->UseTaskbar(wc::ComPtr<ITaskbarList3>(&taskbar));
    ChooseByDrop();
    {
        Outcomes outcomes;
        form->BtnCleanFile->Click();
        ASSERT_EQ(outcomes.Texts(), std::vector<std::wstring>{kCompleted});
        EXPECT_EQ(taskbar.states, (std::vector<TBPFLAG>{TBPF_NORMAL, TBPF_NOPROGRESS, TBPF_NOPROGRESS}));
        ASSERT_FALSE(taskbar.values.empty());
        EXPECT_EQ(taskbar.values.front(), 0u);
        EXPECT_TRUE(std::is_sorted(taskbar.values.begin(), taskbar.values.end())) << "the bar went back";
        EXPECT_GE(taskbar.values.back(), 800u) << "the check (the last fifth) was never shown";

        // Gone once chosen: the converter fails, and the button stays red until the message is read.
        taskbar.states.clear();
        ASSERT_TRUE(::DeleteFileA(source.c_str()));
        form->BtnCleanFile->Click();
        EXPECT_EQ(outcomes.Texts().size(), 2u);
        EXPECT_EQ(taskbar.states, (std::vector<TBPFLAG>{TBPF_NORMAL, TBPF_ERROR, TBPF_NOPROGRESS}));
    }
    form->UseTaskbar({});
    EXPECT_EQ(taskbar.references, 1u) << "the window keeps no reference";
}

TEST_F(MainWindowTest, TheLogNamesTheSourceGivesTheSamplesMd5AndKeepsThePreviousJobs) {
    ChooseByDrop();
    // The MD5 the converter itself gives the source's samples.
    const std::string md5File = *folderA / "md5.txt";
    ASSERT_TRUE(RunFfmpeg("-i \"" + source + "\" -map 0:a -f md5 \"" + md5File + "\"", folderA->path()));
    const auto md5Bytes = ReadFileBytes(md5File);
    const std::string md5(md5Bytes.begin() + 4, md5Bytes.begin() + 36);  // "MD5=" and 32 digits
    const auto logText = [](const std::string& path) {
        const auto bytes = ReadFileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string log = ProgramDir() + "\\Cvlog.log", previous = ProgramDir() + "\\Cvlog.previous.log";
    Outcomes outcomes;
    form->BtnCleanFile->Click();
    ASSERT_EQ(outcomes.Texts(), std::vector<std::wstring>{kCompleted});
    const std::string first = logText(log);
    EXPECT_EQ(first.rfind("Wave Cleaner 1.0.0.0, job of ", 0), 0u) << first;
    EXPECT_NE(first.find(", 1 source:\r\n  " + source + "\r\nsource 1 of 1: " + source + "\r\n"), std::string::npos)
        << first;
    EXPECT_NE(first.find("cleaned: " + source + " -> " + Copy() + ": samples MD5 " + md5 + " (source and copy)\r\n"),
              std::string::npos)
        << first;

    // A retry that fails has a log of its own, with the first beside it.
    ASSERT_TRUE(::DeleteFileA(source.c_str()));
    form->BtnCleanFile->Click();
    EXPECT_EQ(logText(previous), first);
    const std::string second = logText(log);
    // The line that opens the source and its verdict both name it (gone: it cannot be read).
    EXPECT_NE(second.find("\r\nsource 1 of 1: " + source + "\r\nrefused: " + source + ": clean copy refused: "),
              std::string::npos)
        << second;
}

TEST(JobSummaryText, CountsTheCleanedAndNamesWhatFailedWasRefusedOrWasStopped) {
    using Result = FileOutcome::Result;
    const auto outcome = [](const char* source, Result result, const char* reason = "") {
        return FileOutcome{.result = result, .source = source, .reason = reason};
    };
    const struct {
        const char* name;
        std::vector<FileOutcome> outcomes;
        const char* text;
    } rows[] = {
        {"all cleaned", {outcome("C:\\in\\a.wav", Result::Verified), outcome("C:\\in\\b.wav", Result::Verified)},
         "Cleaned 2 of 2 files."},
        {"one stopped alone", {outcome("C:\\in\\a.wav", Result::Stopped)}, "Cleaned 0 of 1 file.\nStopped: C:\\in\\a.wav"},
        {"each kind",
         {outcome("C:\\in\\a.wav", Result::Verified),
          outcome("C:\\in\\b.wav", Result::Refused, "clean copy refused: no decoder"),
          outcome("C:\\in\\c.wav", Result::Failed, "clean copy check failed: the converter ended with exit code 1"),
          outcome("C:\\in\\d.wav", Result::Stopped),
          outcome("C:\\in\\e.wav", Result::NotStarted),
          outcome("C:\\in\\f.wav", Result::NotStarted)},
         "Cleaned 1 of 6 files.\nRefused: C:\\in\\b.wav: clean copy refused: no decoder\n"
         "Failed: C:\\in\\c.wav: clean copy check failed: the converter ended with exit code 1\n"
         "Stopped: C:\\in\\d.wav\nNot started: 2 files."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(JobSummaryText(row.outcomes), row.text);
    }
}

TEST(LogHeader, NamesTheProgramTheTimeAndEverySource) {
    SYSTEMTIME at{};
    at.wYear = 2026, at.wMonth = 12, at.wDay = 10, at.wHour = 8, at.wMinute = 5, at.wSecond = 9;
    EXPECT_EQ(LogHeader("1.0.0.0", at, {"C:\\a.wav", "D:\\b c.wav"}),
              "Wave Cleaner 1.0.0.0, job of 2026-12-10 08:05:09, 2 sources:\r\n  C:\\a.wav\r\n  D:\\b c.wav");
    EXPECT_EQ(PreviousLogPath("C:\\p q\\Cvlog.log"), "C:\\p q\\Cvlog.previous.log");
    EXPECT_EQ(PreviousLogPath("C:\\p.q\\log"), "C:\\p.q\\log.previous");
}

TEST(JobTimeText, TellsTheTimeTakenAndOnceFarEnoughTheTimeLeft) {
    const struct {
        uint64_t elapsedMs;
        int position;
        const char* text;
    } rows[] = {
        {0, 0, "0:00 elapsed"},
        {5400, 19, "0:05 elapsed"},                    // below 2 %: no guess yet
        {5000, 250, "0:05 elapsed, about 0:15 left"},  // 5 s for a quarter: 15 s for the rest
        {65000, 500, "1:05 elapsed, about 1:05 left"},
        {3725000, 500, "1:02:05 elapsed, about 1:02:05 left"},
        {1000, 600, "0:01 elapsed, about 0:01 left"},  // 1000 * 400 / 600 = 667 ms, to the nearest second
        {10000, 1000, "0:10 elapsed"},                 // done
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(JobTimeText(row.elapsedMs, row.position), row.text);
    }
}

// Regression: several dropped sources were cleaned in whatever order the shell handed them over.
TEST_F(MainWindowTest, DroppedSourcesAreTakenInNaturalNameOrder) {
    std::vector<std::string> dropped;
    for (const char* name : {"take 10.wav", "Take 1.wav", "take 2.wav"}) {
        dropped.push_back(*folderA / name);
        WriteFileBytes(dropped.back(), MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 80)));
    }
    PostDrop(form->Handle(), dropped);
    ASSERT_TRUE(PumpUntil([&] { return form->Sources().size() == 3; }));
    EXPECT_EQ(form->Sources(), (std::vector<std::string>{*folderA / "Take 1.wav", *folderA / "take 2.wav",
                                                         *folderA / "take 10.wav"}));
}

TEST_F(MainWindowTest, TheFoldersComeBackAfterARestartWhileTheyAreThere) {
    const std::string startDir = form->MMWaveOpenDialog1->InitialDir();
    const auto restart = [&] {
        wc::Application().DestroyForms();
        form = &wc::Application().CreateForm<TForm1>();
        form->Show();
    };
    ChooseByDrop();
    restart();
    EXPECT_EQ(Text(form->Label2), folderB->path()) << "the output folder";
    EXPECT_EQ(form->MMWaveOpenDialog1->InitialDir(), folderA->path()) << "where the chooser opens";
    EXPECT_EQ(Text(form->Label1), "No file was selected.");
    EXPECT_FALSE(CleanEnabled());

    folderA.reset();
    folderB.reset();
    restart();
    EXPECT_EQ(Text(form->Label2), "No folder was selected.");
    EXPECT_EQ(form->MMWaveOpenDialog1->InitialDir(), startDir);
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
    EXPECT_EQ(outcome, L"Cleaned 1 of 2 files.\nRefused: " + wc::ToWide(twin) + L": its clean copy " +
                           wc::ToWide(output / "Clean_take one.wav") + L" would replace the copy of " +
                           wc::ToWide(source) + L", an earlier source of this batch");
    EXPECT_EQ(form->Sources(), (std::vector<std::string>{source, twin})) << "the drop during the job was taken";
    const auto copy = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800));  // the first source, as written
    EXPECT_EQ(ReadFileBytes(output / "Clean_take one.wav"), copy);
    const auto log = ReadFileBytes(ProgramDir() + "\\Cvlog.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find("refused: " + twin + ": "), std::string::npos);
}

// Regression: any release of any mouse button on CLEAN FILE started a job, pressed there or
// not; the release that ended a double click in the file chooser overwrote the output.
TEST_F(MainWindowTest, StrayReleasesAndOtherMouseButtonsStartNoJob) {
    ChooseByDrop();
    Outcomes outcomes;
    PostMouse(form->BtnCleanFile->Handle(), {WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP});
    wc::Application().ProcessMessages();  // a job they started would run to its end in here
    EXPECT_EQ(outcomes.Texts(), std::vector<std::wstring>{});
    EXPECT_FALSE(wc::FileExists(Copy()));
}

// Regression: the second release of a double click came while the button read STOP and
// stopped the job the first had started.
TEST_F(MainWindowTest, ADoubleClickOnCleanStartsOneJobAndLetsItFinish) {
    ChooseByDrop();
    Outcomes outcomes;
    PostMouse(form->BtnCleanFile->Handle(), {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    ASSERT_TRUE(PumpUntil([&] { return !outcomes.Texts().empty(); }, std::chrono::seconds(60)));
    wc::Application().ProcessMessages();  // whatever was still queued, and any job it started
    EXPECT_EQ(outcomes.Texts(), std::vector<std::wstring>{kCompleted});
    EXPECT_TRUE(wc::FileExists(Copy()));
}

TEST_F(MainWindowTest, TheWholeWorkflowRunsFromTheKeyboard) {
    ::SetActiveWindow(form->Handle());
    const auto pressed = [&](char letter, const std::function<bool()>& chosen) {
        return [&, letter] {
            PostAltLetter(form->Handle(), letter);
            return PumpUntil(chosen);
        };
    };
    EXPECT_TRUE(RunDriven(pressed('s', [&] { return Text(form->Label1) == source; }),
                          [&](HWND dialog) { ChooseFileIn(dialog, wc::ToWide(source)); }))
        << "Alt+S chose no file";
    EXPECT_TRUE(RunDriven(pressed('o', [&] { return Text(form->Label2) == folderB->path(); }),
                          [&](HWND browser) { ChooseFolderInProcess(browser, folderB->path()); }))
        << "Alt+O chose no folder";
    // Tab takes the focus on through the buttons to CLEAN FILE, where Enter presses it.
    HWND clean = form->BtnCleanFile->Handle();
    for (int tabs = 0; tabs < 3 && ::GetFocus() != clean; ++tabs) {
        ASSERT_TRUE(::GetFocus()) << "no control has the focus";
        PostKey(::GetFocus(), VK_TAB);
        wc::Application().ProcessMessages();
    }
    ASSERT_EQ(::GetFocus(), clean) << "Tab never reached CLEAN FILE";
    Outcomes outcomes;
    PostKey(clean, VK_RETURN);
    ASSERT_TRUE(PumpUntil([&] { return !outcomes.Texts().empty(); }, std::chrono::seconds(60)));
    EXPECT_EQ(outcomes.Texts(), std::vector<std::wstring>{kCompleted});
    EXPECT_TRUE(wc::FileExists(Copy()));
}

// Regression: the wait cursor covered the whole window during a job, STOP and the frame
// too, so the live window looked frozen.
TEST_F(MainWindowTest, DuringAJobTheWaitCursorShowsOnlyWhereNothingCanBeDoneAndNoDropIsTaken) {
    // 20 s of stereo at 44.1 kHz (3.5 MB): a job that lasts several ticks.
    WriteFileBytes(source, MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 44100 * 20)));
    ChooseByDrop();
    const HCURSOR wait = ::LoadCursor(nullptr, IDC_WAIT);
    // Whether the wait cursor shows when `over` asks for its cursor at that hit-test code.
    const auto waitOver = [&](wc::TWinControl* over, WORD hit) {
        ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
        ::SendMessageW(over->Handle(), WM_SETCURSOR, WPARAM(over->Handle()), MAKELPARAM(hit, WM_MOUSEMOVE));
        return ::GetCursor() == wait;
    };
    std::vector<bool> during;
    bool acceptsDrops = true;
    {
        Outcomes outcomes;
        DuringTheJob job(*form, [&] {
            during = {waitOver(form, HTCLIENT), waitOver(form->Label1, HTCLIENT), waitOver(form->btnSlInp, HTCLIENT),
                      waitOver(form->BtnCleanFile, HTCLIENT), waitOver(form, HTCAPTION)};
            acceptsDrops = (::GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
        });
        form->BtnCleanFile->Click();
        ASSERT_TRUE(job.Ran()) << "the job ended before the timer saw it";
    }
    // Face, label, refused choosing button: wait. STOP and the title bar: their own.
    EXPECT_EQ(during, (std::vector<bool>{true, true, true, false, false}));
    EXPECT_FALSE(waitOver(form, HTCLIENT)) << "after the job";
    // Regression: a drop during the job was refused while the cursor promised a copy.
    EXPECT_FALSE(acceptsDrops) << "the window took drops during the job";
    EXPECT_TRUE(::GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES) << "after the job";
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
