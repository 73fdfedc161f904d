// The real program in its own process: started from a copy in a folder of
// its own, worked through its window and dialogs, cleaning real files with
// the real converter.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <functional>
#include <optional>
#include <stdexcept>

#include "framework/Files.h"
#include "framework/Handles.h"
#include "framework/Strings.h"
#include "support/AudioFixtures.h"
#include "support/DialogDriver.h"
#include "support/Registry.h"

using namespace testing_support;
using wc::ToWide;

namespace {

const std::wstring kMainTitle = L"Wave Cleaner 2026";

enum class Converter { None, Real, StandIn };

// A copy of the program, with the real converter, the stand-in (see
// standin/StandInConverter.cpp) or none, in a folder whose name has spaces.
struct ProgramCopy {
    explicit ProgramCopy(Converter converter, const std::string& name = "wc program copy") : dir(name) {
        EXPECT_TRUE(CopyFileTo(ProgramDir() + "\\WaveCleaner.exe", exe()));
        // The MPEG library ships beside the program; it decodes MPEG audio inside WAVE.
        EXPECT_TRUE(CopyFileTo(ProgramDir() + "\\MMMPEG32.dll", dir / "MMMPEG32.dll"));
        if (converter != Converter::None) {
            ::CreateDirectoryA((dir / "extras").c_str(), nullptr);
            const std::string from = converter == Converter::Real ? "\\extras\\ffmpeg.exe" : "\\standin_converter.exe";
            EXPECT_TRUE(CopyFileTo(ProgramDir() + from, dir / "extras\\ffmpeg.exe"));
        }
    }
    std::string exe() const { return dir / "WaveCleaner.exe"; }
    std::string log() const { return dir / "Cvlog.log"; }
    // Tells the stand-in what to do on its next runs ("fail", "wrong-sample", "sleep <ms>").
    void TellStandIn(const std::string& orders) const {
        WriteFileBytes(dir / "extras\\standin.txt", std::vector<uint8_t>(orders.begin(), orders.end()));
    }
    // The stand-in's record of its n-th run (1-based); empty when there was none.
    std::string StandInRun(int n) const {
        const std::string path = dir / ("extras\\standin-run-" + std::to_string(n) + ".txt");
        if (!wc::FileExists(path)) return {};
        const auto bytes = ReadFileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }
    std::string LogText() const {
        const auto bytes = ReadFileBytes(log());
        return std::string(bytes.begin(), bytes.end());
    }
    TempDir dir;
};

// A folder on the desktop, where the folder browser lists it right under its root.
struct DesktopFolder {
    explicit DesktopFolder(const std::string& name) {
        char desktop[MAX_PATH] = "";
        ::SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop);
        path = std::string(desktop) + "\\" + name;
        RemoveTree(path);
        ::CreateDirectoryA(path.c_str(), nullptr);
    }
    ~DesktopFolder() { RemoveTree(path); }
    std::string path;
};

class RunningProgram {
public:
    RunningProgram(const ProgramCopy& program, const std::string& workingDir)
        : process_(program.exe(), "", workingDir) {
        main_ = WaitFor([&] { return FindTopWindow(process_.id(), L"", kMainTitle); });
    }
    ~RunningProgram() {
        if (main_) ::PostMessageW(main_, WM_CLOSE, 0, 0);
        process_.Wait(std::chrono::milliseconds(5000));
    }
    HWND main() const { return main_; }
    DWORD id() const { return process_.id(); }
    HWND Control(const std::wstring& text) const { return FindChild(main_, text); }
    bool WaitForText(const std::wstring& text) const {
        return WaitFor([&] { return Control(text); }) != nullptr;
    }
    bool ClosedWithin(std::chrono::milliseconds timeout) { return process_.Wait(timeout); }

    void ChooseFile(const std::wstring& path) {
        Click(Control(L"Source File"));
        HWND dialog = WaitFor([&] { return FindOpenDialog(id()); });
        ASSERT_TRUE(dialog) << "no open dialog";
        ChooseFileIn(dialog, path);
        ASSERT_TRUE(WaitForText(path)) << "the chosen file did not reach the window";
        ASSERT_TRUE(WaitFor([&] { return FindOpenDialog(id()) ? nullptr : main_; })) << "the dialog stayed open";
    }
    // Opens `folder` in the chooser (OK on a folder's path), then types the
    // names quoted, as a multiple selection is typed.
    void ChooseFiles(const std::string& folder, const std::vector<std::string>& names) {
        Click(Control(L"Source File"));
        HWND dialog = WaitFor([&] { return FindOpenDialog(id()); });
        ASSERT_TRUE(dialog) << "no open dialog";
        ChooseFileIn(dialog, ToWide(folder));
        HWND lookIn = FindChildById(dialog, 0x471);  // the "Look in" box names the open folder
        const std::wstring folderName = ToWide(folder.substr(folder.find_last_of('\\') + 1));
        ASSERT_TRUE(WaitFor([&] { return WindowText(lookIn) == folderName ? lookIn : nullptr; }))
            << "the folder did not open";
        std::wstring typed;
        for (const std::string& name : names) typed += L"\"" + ToWide(name) + L"\" ";
        ChooseFileIn(dialog, typed);
        ASSERT_TRUE(WaitFor([&] { return FindOpenDialog(id()) ? nullptr : main_; })) << "the dialog stayed open";
    }
    void ChooseFolder(const std::wstring& path) {
        Click(Control(L"Output Folder"));
        HWND browser = WaitFor([&] { return FindFolderBrowser(id()); });
        ASSERT_TRUE(browser) << "no folder browser";
        ASSERT_TRUE(ChooseFolderByTree(browser, path)) << "the folder was not found in the browser";
        ASSERT_TRUE(WaitForText(path)) << "the chosen folder did not reach the window";
        ASSERT_TRUE(WaitFor([&] { return FindFolderBrowser(id()) ? nullptr : main_; })) << "the browser stayed open";
    }
    // Presses CLEAN FILE (once it is enabled) and returns the text of the
    // message that follows, dismissing it.
    std::wstring Clean() {
        HWND button = Control(L"CLEAN FILE");
        if (!WaitFor([&] { return ::IsWindowEnabled(button) ? button : nullptr; })) return L"(CLEAN FILE disabled)";
        Click(button);
        // Long enough for a 4 GiB copy on a loaded machine: converted, checked, and its samples' MD5 taken.
        HWND box = WaitFor([&] { return FindTopWindow(id(), L"#32770", L"Wave Cleaner"); },
                           std::chrono::milliseconds(600000));
        if (!box) return L"(no message)";
        const std::wstring text = MessageBoxText(box);
        PressOk(box);
        return text;
    }

private:
    ChildProcess process_;
    HWND main_ = nullptr;
};

// 16-bit PCM samples written as a source.
struct Take {
    std::string name = "take.wav";
    uint32_t frames = 800;
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint32_t seed = 1;
};

// A case of the job: a folder of sources, an output folder on the desktop
// and, once launched, a copy of the program with its window. A launch that
// shows no window, or a file or folder the window does not take, ends the
// case there (by an exception, which the case reports).
class CleanJob : public ::testing::Test {
protected:
    // Writes `take` into the sources folder and returns its path; its samples are kept in `samples`.
    std::string WriteSource(const Take& take) {
        samples = MakeTestSamples16(take.channels, take.frames, take.seed);
        const std::string path = sources / take.name;
        WriteFileBytes(path, MakePcmWave(take.channels, take.rate, 16, samples));
        return path;
    }
    // Starts a copy of the program with `converter`, in `workingDir` (else in its own folder).
    RunningProgram& Launch(Converter converter, const std::string& workingDir = {}) {
        program.emplace(converter);
        app_.emplace(*program, workingDir.empty() ? program->dir.path() : workingDir);
        if (!app_->main()) throw std::runtime_error("the main window did not appear");
        return *app_;
    }
    // Chooses `path` as the source and the output folder as the folder.
    void Choose(const std::string& path) {
        app_->ChooseFile(ToWide(path));
        app_->ChooseFolder(ToWide(output.path));
        if (HasFatalFailure()) throw std::runtime_error("the file or the folder was not chosen");
    }
    // A program running with `take` as its source (in `source`) and the output folder chosen.
    RunningProgram& Start(Converter converter, const Take& take = {}, const std::string& workingDir = {}) {
        source = WriteSource(take);
        Launch(converter, workingDir);
        Choose(source);
        return *app_;
    }
    // Where the clean copy of the source `name` goes.
    std::string CopyOf(const std::string& name = "take.wav") const { return output.path + "\\Clean_" + name; }

    TempDir sources{"wc source files"};
    DesktopFolder output{"wc output " + std::to_string(++outputFolders_)};
    std::optional<ProgramCopy> program;
    std::string source;
    std::vector<uint8_t> samples;

private:
    static inline int outputFolders_ = 0;
    std::optional<RunningProgram> app_;
};

class CleanJobStandIn : public CleanJob {};
class CleanBatchRealConverter : public CleanJob {};

TEST(MainWindowLayout, IsScaledFromItsDesignResolutionToTheScreens) {
    ProgramCopy program(Converter::None);
    constexpr int kDpi = 120;
    {
        // Wine reads the resolution from either key as a process starts.
        auto desktop = RegistryOverride::Dword(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", kDpi);
        auto fonts = RegistryOverride::Dword(
            HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts",
            "LogPixels", kDpi);
        RunningProgram app(program, program.dir.path());
        ASSERT_TRUE(app.main());
        RECT window;
        ::GetWindowRect(app.main(), &window);
        EXPECT_EQ(window.right - window.left, ::MulDiv(574, kDpi, 96));
        EXPECT_EQ(window.bottom - window.top, ::MulDiv(297, kDpi, 96));
        const RECT button = BoundsInParent(app.Control(L"Source File"));
        EXPECT_EQ(button.left, ::MulDiv(24, kDpi, 96));
        EXPECT_EQ(button.top, ::MulDiv(32, kDpi, 96));
        EXPECT_EQ(button.right, ::MulDiv(24 + 97, kDpi, 96));
        EXPECT_EQ(button.bottom, ::MulDiv(32 + 35, kDpi, 96));
        const RECT clean = BoundsInParent(app.Control(L"CLEAN FILE"));
        EXPECT_EQ(clean.left, ::MulDiv(184, kDpi, 96));
        EXPECT_EQ(clean.right, ::MulDiv(184 + 177, kDpi, 96));
        // Right-aligned and sized to its text, the notice keeps its right edge.
        const RECT notice = BoundsInParent(app.Control(L"Rewrites a WAV file into a clean, bit-exact copy."));
        EXPECT_EQ(notice.right, ::MulDiv(182 + 366, kDpi, 96));
    }
}

// The two messages as the user reads them, written here from their texts.
const std::wstring kSuccess = L"出力を完了しました。";
const std::wstring kFailure =
    L"コンバート中にエラーが発生しました。\rインストールディレクトリ内にあるCvlog.logファイルを\rVarnel担当までお送りください。";

TEST_F(CleanJob, CleansARealWaveThroughTheWindowIntoABitExactCopy) {
    RunningProgram& app = Launch(Converter::Real);
    EXPECT_TRUE(app.Control(L"No file was selected."));
    EXPECT_TRUE(app.Control(L"No folder was selected."));
    EXPECT_TRUE(app.Control(L"No Name"));
    EXPECT_FALSE(::IsWindowEnabled(app.Control(L"CLEAN FILE")));

    Choose(WriteSource({.name = "my take 1.wav", .frames = 22050, .channels = 2, .rate = 44100}));
    const std::string expected = CopyOf("my take 1.wav");
    ASSERT_TRUE(app.WaitForText(ToWide(expected))) << "the output path is not shown";
    EXPECT_TRUE(::IsWindowEnabled(app.Control(L"CLEAN FILE")));

    EXPECT_EQ(app.Clean(), kSuccess);
    ASSERT_TRUE(wc::FileExists(expected));
    const auto cleaned = ReadFileBytes(expected);
    EXPECT_EQ(std::string(cleaned.begin(), cleaned.begin() + 4), "RIFF");
    EXPECT_EQ(ChunkOf(cleaned, "data"), samples);
    EXPECT_GT(ReadFileBytes(program->log()).size(), 0u) << "the converter's output belongs in the log";

    ::PostMessageW(app.main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(app.ClosedWithin(std::chrono::milliseconds(5000))) << "closing the window ends the program";
}

TEST_F(CleanJob, MissingConverterLeavesALogOfTheJobsOwnLinesAndReportsFailure) {
    RunningProgram& app = Start(Converter::None);
    EXPECT_EQ(app.Clean(), kFailure);
    ASSERT_TRUE(wc::FileExists(program->log()));
    // Nothing from a converter: the header, and the job's lines, each naming the source.
    const std::string log = program->LogText();
    const std::string line = source + ": clean copy check failed: the converter could not be started "
                                      "(extras\\ffmpeg.exe missing?)\r\n";
    EXPECT_EQ(log.rfind("Wave Cleaner 1.0.0.0, job of ", 0), 0u) << log;
    EXPECT_NE(log.find("1 source:\r\n  " + source + "\r\nsource 1 of 1: " + source + "\r\n" + line +
                       "failed: " + line),
              std::string::npos)
        << log;

    // Regression: an output file left from before counted as success, whatever the converter did.
    WriteFileBytes(CopyOf(), MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800)));
    EXPECT_EQ(app.Clean(), kFailure);
    EXPECT_NE(program->LogText().find("could not be started"), std::string::npos) << program->LogText();
}

// Regression: every job overwrote the log, so a retry erased what the user was asked to send.
TEST_F(CleanJob, SecondJobStartsANewLogAndKeepsTheFirstBesideTheProgram) {
    RunningProgram& app = Start(Converter::Real, {}, sources.path());  // started in another folder
    EXPECT_EQ(app.Clean(), kSuccess);
    const std::string firstLog = program->LogText();
    EXPECT_NE(firstLog.find("ffmpeg version"), std::string::npos) << firstLog;
    EXPECT_FALSE(wc::FileExists(sources / "Cvlog.log"));
    EXPECT_EQ(::GetFileAttributesA(program->log().c_str()) & FILE_ATTRIBUTE_TEMPORARY, 0u) << "made as a temporary file";

    // Without the converter the second job's log holds only its own lines: started anew, not appended to.
    // Regression: the first job's output, still there, counted as the second job's success.
    ASSERT_TRUE(::DeleteFileA((program->dir / "extras\\ffmpeg.exe").c_str()));
    EXPECT_EQ(app.Clean(), kFailure);
    EXPECT_EQ(program->LogText().find("ffmpeg version"), std::string::npos) << program->LogText();
    EXPECT_NE(program->LogText().find("could not be started"), std::string::npos) << program->LogText();
    const auto previous = ReadFileBytes(program->dir / "Cvlog.previous.log");
    EXPECT_EQ(std::string(previous.begin(), previous.end()), firstLog);
}

// ---- with the stand-in converter ----

// Expected record lines of one stand-in run, written out here.
std::string CommandRecord(const std::string& source, const std::string& output, const std::string& codec = "") {
    return "command=extras\\ffmpeg -i \"" + source + "\" -f wav -bitexact -y " +
           (codec.empty() ? "" : "-c:a " + codec + " ") + "\"" + output + "\"\n";
}

HWND MessageBoxOf(const RunningProgram& app, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return FindTopWindow(app.id(), L"#32770", L"Wave Cleaner"); }, timeout);
}

TEST_F(CleanJobStandIn, GetsTheCommandLineFolderHandlesAndHiddenWindowOfTheTable) {
    RunningProgram& app =
        Start(Converter::StandIn, {.name = "take one.wav", .frames = 3000, .channels = 2, .rate = 44100});
    const std::string deep = sources / "deep take.wav";
    WriteFileBytes(deep, MakeWave(kTagPcm, 2, 96000, 24, PatternBytes(6 * 500, 4)));
    EXPECT_EQ(app.Clean(), kSuccess);
    const std::string run = program->StandInRun(1);
    EXPECT_EQ(run, CommandRecord(source, CopyOf("take one.wav")) +
                       "directory=" + program->dir.path() + "\n"
                       "flags=101 show=0\n"
                       "stdout=1 stderr=1\n");
    const std::string log = program->LogText();
    EXPECT_NE(log.find("stand-in converter: standard output\n"), std::string::npos) << log;
    EXPECT_NE(log.find("stand-in converter: standard error\n"), std::string::npos) << log;

    // A 24-bit source: the codec option goes in before the output path. The
    // stand-in's plain copy of it is a 24-bit clean copy.
    app.ChooseFile(ToWide(deep));
    EXPECT_EQ(app.Clean(), kSuccess);
    const std::string deepRun = program->StandInRun(2);
    EXPECT_EQ(deepRun.substr(0, deepRun.find('\n') + 1), CommandRecord(deep, CopyOf("deep take.wav"), "pcm_s24le"));
}

// Regression: a stale output counted as success although the converter failed.
TEST_F(CleanJobStandIn, AStaleOutputAndAFailingConverterGiveTheFailureMessage) {
    // Left from an earlier run of another take of the same name.
    WriteFileBytes(CopyOf(), MakePcmWave(1, 22050, 16, MakeTestSamples16(1, 2000, 77)));
    RunningProgram& app = Start(Converter::StandIn, {.frames = 2000, .rate = 22050});
    program->TellStandIn("fail\n");
    EXPECT_EQ(app.Clean(), kFailure);
    const std::string log = program->LogText();
    EXPECT_NE(log.find("stand-in converter: told to fail"), std::string::npos) << log;
    EXPECT_NE(log.find("clean copy check failed: "), std::string::npos) << log;
}

// Regression: the converter's exit code was never read; a copy it disowned counted as done.
TEST_F(CleanJobStandIn, AConverterEndingWithAnErrorCodeFailsTheJob) {
    RunningProgram& app = Start(Converter::StandIn, {.frames = 2000, .rate = 22050});
    program->TellStandIn("exit 5\n");
    EXPECT_EQ(app.Clean(), kFailure);
    EXPECT_TRUE(wc::FileExists(CopyOf()));  // an exact copy, written all the same
    EXPECT_NE(program->LogText().find("clean copy check failed: the converter ended with exit code 5\r\n"),
              std::string::npos)
        << program->LogText();
}

TEST_F(CleanJobStandIn, AWrongSampleGivesTheFailureMessageAndALogLine) {
    RunningProgram& app = Start(Converter::StandIn, {.frames = 1500, .channels = 2, .rate = 44100});
    program->TellStandIn("wrong-sample\n");
    EXPECT_EQ(app.Clean(), kFailure);
    EXPECT_TRUE(wc::FileExists(CopyOf()));
    const std::string log = program->LogText();
    // The stand-in changes the file's last byte: the last of the 1500 frames.
    const size_t line = log.find("clean copy check failed: ");
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.find("first differing frame 1499", line), std::string::npos) << log;
    EXPECT_NE(log.find("source 1500 frames, output 1500 frames", line), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

// Regression: "Output Folder" during a job could change the path the outcome
// was judged by. (A press of the job's own button stops it: see the stop tests.)
TEST_F(CleanJobStandIn, PressesDuringASlowJobAreIgnored) {
    RunningProgram& app = Start(Converter::StandIn);
    program->TellStandIn("sleep 3000\n");
    HWND clean = app.Control(L"CLEAN FILE");
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(clean) ? clean : nullptr; }));
    Click(clean);
    ASSERT_TRUE(WaitFor([&] { return program->StandInRun(1).empty() ? nullptr : clean; })) << "no converter ran";
    Click(app.Control(L"Output Folder"));
    Click(app.Control(L"Source File"));

    HWND box = MessageBoxOf(app, std::chrono::milliseconds(30000));
    ASSERT_TRUE(box) << "no outcome";
    EXPECT_EQ(MessageBoxText(box), kSuccess);
    EXPECT_FALSE(FindFolderBrowser(app.id())) << "the folder browser opened during the job";
    EXPECT_FALSE(FindOpenDialog(app.id())) << "the open dialog opened during the job";
    PressOk(box);
    // No second job follows the first.
    EXPECT_FALSE(WaitFor([&] { return FindTopWindow(app.id(), L"#32770", L"Wave Cleaner"); },
                         std::chrono::milliseconds(4000)));
    EXPECT_EQ(program->StandInRun(2), "");
    EXPECT_TRUE(app.WaitForText(ToWide(output.path)));
}

// Stop by the button or by Esc while the second file is half written.
class CleanBatchStop : public CleanJob, public ::testing::WithParamInterface<bool> {};

TEST_P(CleanBatchStop, DuringTheSecondFileDeletesItsCopyAndKeepsTheFirst) {
    const bool byEscape = GetParam();
    std::vector<std::string> names;
    for (uint32_t i = 1; i <= 3; ++i) {
        names.push_back("take " + std::to_string(i) + ".wav");
        WriteSource({.name = names.back(), .frames = 4000, .channels = 2, .rate = 22050, .seed = i});
    }
    RunningProgram& app = Launch(Converter::StandIn);
    program->TellStandIn("hold 2\n");
    app.ChooseFiles(sources.path(), names);
    ASSERT_TRUE(app.WaitForText(ToWide(sources / names[0] + " (+2 more)")));
    app.ChooseFolder(ToWide(output.path));
    ASSERT_TRUE(app.WaitForText(ToWide(CopyOf(names[0]) + " (+2 more)")));
    Click(app.Control(L"CLEAN FILE"));

    ASSERT_TRUE(WaitFor([&] { return wc::FileExists(CopyOf(names[1])) ? app.main() : nullptr; })) << "no partial copy";
    HWND stop = app.Control(L"STOP");
    ASSERT_TRUE(stop) << "the button is not captioned STOP during the job";
    EXPECT_TRUE(app.Control(L"file 2 of 3"));
    // Half of file 2 of 3 written: (1 * 100 + 80 / 2) * 1000 / 300 = 466 of 1000.
    HWND bar = FindChild(app.main(), L"", L"msctls_progress32");
    EXPECT_TRUE(WaitFor([&] { return ::SendMessageW(bar, PBM_GETPOS, 0, 0) == 466 ? bar : nullptr; }))
        << "the bar stands at " << ::SendMessageW(bar, PBM_GETPOS, 0, 0);
    if (byEscape) {
        ::PostMessageW(app.main(), WM_KEYDOWN, VK_ESCAPE, 0);
    } else {
        Click(stop);
    }

    ASSERT_TRUE(app.WaitForText(L"CLEAN FILE")) << "the window is not ready again";
    EXPECT_FALSE(wc::FileExists(CopyOf(names[1]))) << "the second file's partial copy stayed";
    EXPECT_EQ(ReadFileBytes(CopyOf(names[0])), ReadFileBytes(sources / names[0])) << "the first copy was touched";
    EXPECT_FALSE(wc::FileExists(CopyOf(names[2])));
    EXPECT_EQ(program->StandInRun(3), "") << "the third file was started";
    const std::string log = program->LogText();
    EXPECT_NE(log.find("stopped: " + sources / names[1] + ": its unfinished copy was deleted\r\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("not started: " + sources / names[2] + "\r\n"), std::string::npos) << log;
    // Regression: a stopped job ended without a word.
    HWND box = MessageBoxOf(app, std::chrono::milliseconds(10000));
    ASSERT_TRUE(box) << "no summary";
    EXPECT_EQ(MessageBoxText(box), L"Cleaned 1 of 3 files.\nStopped: " + ToWide(sources / names[1]) +
                                       L"\nNot started: 1 file.");
    EXPECT_TRUE(FindChild(box, L"Open log")) << "no way to the log";
    EXPECT_TRUE(FindChild(box, L"Open folder")) << "no way to the output folder";
    PressOk(box);
}

INSTANTIATE_TEST_SUITE_P(ByButtonOrEscape, CleanBatchStop, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Escape" : "Button"; });

TEST_F(CleanJobStandIn, ClosingDuringAJobStopsItThenCloses) {
    RunningProgram& app = Start(Converter::StandIn, {.frames = 4000, .channels = 2, .rate = 22050});
    program->TellStandIn("hold 1\n");
    Click(app.Control(L"CLEAN FILE"));
    ASSERT_TRUE(WaitFor([&] { return wc::FileExists(CopyOf()) ? app.main() : nullptr; })) << "no partial copy";

    ::PostMessageW(app.main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(app.ClosedWithin(std::chrono::milliseconds(15000))) << "the window did not close";
    EXPECT_FALSE(wc::FileExists(CopyOf())) << "the partial copy stayed";
    EXPECT_NE(program->LogText().find("stopped: " + source), std::string::npos);
}

// Regression: after "New folder" and Cancel the browser's folder was the new
// one while the window still showed the old; the converter wrote to one
// folder and the message was about the other.
TEST_F(CleanJobStandIn, NewFolderThenCancelKeepsTheShownFolderForTheJob) {
    RunningProgram& app = Start(Converter::StandIn);
    const std::string made = output.path + "\\made meanwhile";
    Click(app.Control(L"Output Folder"));
    HWND browser = WaitFor([&] { return FindFolderBrowser(app.id()); });
    ASSERT_TRUE(browser) << "no folder browser";
    HWND newFolder = FindChildById(browser, 255);
    ASSERT_TRUE(newFolder && WaitFor([&] { return ::IsWindowEnabled(newFolder) ? newFolder : nullptr; }))
        << "the new-folder button is not usable on the chosen folder";
    ::PostMessageW(newFolder, BM_CLICK, 0, 0);
    HWND prompt = WaitFor([&] { return FindTopWindow(app.id(), L"", L"New folder"); });
    ASSERT_TRUE(prompt) << "no name prompt";
    SetText(FindChildById(prompt, 100), L"made meanwhile");  // the input box's edit field
    PressOk(prompt);
    HWND reopened = WaitFor([&] {
        HWND now = FindFolderBrowser(app.id());
        return now && !::IsWindow(browser) ? now : nullptr;
    });
    ASSERT_TRUE(reopened) << "the browser did not reopen";
    ASSERT_TRUE(wc::DirectoryExists(made));
    Cancel(reopened);
    ASSERT_TRUE(WaitFor([&] { return FindFolderBrowser(app.id()) ? nullptr : app.main(); }));
    EXPECT_TRUE(app.WaitForText(ToWide(CopyOf())));

    EXPECT_EQ(app.Clean(), kSuccess);
    const std::string run = program->StandInRun(1);
    EXPECT_EQ(run.substr(0, run.find('\n') + 1), CommandRecord(source, CopyOf()));
    EXPECT_TRUE(wc::FileExists(CopyOf()));
    EXPECT_FALSE(wc::FileExists(made + "\\Clean_take.wav"));
}

// ---- with the real converter ----

struct SourceKind {
    std::string name;            // the file name
    std::vector<uint8_t> file;   // the source, when written here
    std::string encodeWith;      // else made by the converter from a 16-bit wave with this codec
    unsigned outputBits;         // bits per sample of the clean copy; 0: none is made
    // "data": the source's data chunk as written; "decode": the converter's decoding; "system": the
    // system codec's decoding; "near": within 40 dB of the converter's decoding (MPEG, whose decoders
    // round apart); "bytes": the `bytes` below
    std::string expected;
    std::string failureLog;      // empty: success; else part of the log line of the failure
    std::vector<uint8_t> bytes = {};
    std::function<void(std::vector<uint8_t>&)> alter = {};  // applied to an encoded source
};

class CleanJobRealConverter : public CleanJob {
protected:
    void CleanEachKind(const std::vector<SourceKind>& kinds);
};

// Cleans each kind through the real window and the real converter.
void CleanJobRealConverter::CleanEachKind(const std::vector<SourceKind>& kinds) {
    const std::string plain16 =
        WriteSource({.name = "plain16.wav", .frames = 9000, .channels = 2, .rate = 22050, .seed = 5});
    RunningProgram& app = Launch(Converter::Real);
    app.ChooseFolder(ToWide(output.path));
    for (const SourceKind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::string source = sources / kind.name;
        std::vector<uint8_t> written = kind.file;
        if (!kind.encodeWith.empty()) {
            ASSERT_TRUE(RunFfmpeg("-i \"" + plain16 + "\" -c:a " + kind.encodeWith + " \"" + source + "\"",
                                  sources.path()));
            written = ReadFileBytes(source);
            if (kind.alter) kind.alter(written);
        }
        WriteFileBytes(source, written);
        std::vector<uint8_t> expected = kind.expected == "bytes" ? kind.bytes : ChunkOf(written, "data");
        if (kind.expected == "system") expected = SystemCodecDecode(ChunkOf(written, "fmt "), ChunkOf(written, "data"));
        if (kind.expected == "decode" || kind.expected == "near") {
            // What the converter itself decodes the source to.
            const std::string raw = sources / (kind.name + ".raw");
            ASSERT_TRUE(RunFfmpeg("-i \"" + source + "\" -f s16le -c:a pcm_s16le \"" + raw + "\"", sources.path()));
            expected = ReadFileBytes(raw);
        }
        ASSERT_FALSE(expected.empty());
        app.ChooseFile(ToWide(source));
        if (::testing::Test::HasFatalFailure()) return;  // the chooser did not take it: no later row would run
        const std::string cleanedPath = CopyOf(kind.name);
        if (kind.failureLog.empty()) {
            EXPECT_EQ(app.Clean(), kSuccess) << program->LogText();
        } else {
            EXPECT_EQ(app.Clean(), kFailure);
            EXPECT_NE(program->LogText().find(kind.failureLog), std::string::npos) << program->LogText();
        }
        if (kind.outputBits == 0 || !wc::FileExists(cleanedPath)) {
            EXPECT_EQ(wc::FileExists(cleanedPath), kind.outputBits != 0);
            continue;
        }
        const auto cleaned = ReadFileBytes(cleanedPath);
        const auto fmt = ChunkOf(cleaned, "fmt ");
        ASSERT_GE(fmt.size(), 16u);
        EXPECT_EQ(U16At(fmt, 14), kind.outputBits);
        const auto data = ChunkOf(cleaned, "data");
        EXPECT_EQ(data.size(), expected.size());
        if (kind.expected == "near") {
            const auto ints = [](const std::vector<uint8_t>& bytes) {
                std::vector<int> out;
                for (size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(int16_t(bytes[i] | bytes[i + 1] << 8));
                return out;
            };
            EXPECT_GE(SnrDb(ints(expected), ints(data)), 40.0);
        } else {
            EXPECT_TRUE(data == expected) << "the clean copy's samples differ";
        }
    }
}

// Regression: 24-bit, 32-bit and float sources lost their low bits and were reported done; 64-bit
// integers came out as 16 bits and 40-bit ones as nothing at all, each with the success message.
TEST_F(CleanJobRealConverter, EverySourceKindKeepsEverySampleOrIsReportedFailed) {
    // 8-bit: unsigned samples, and the signed 16-bit values the clean copy holds for them.
    const std::vector<uint8_t> narrow{0x00, 0x01, 0x7F, 0x80, 0x81, 0xFE, 0xFF, 0x40};
    const std::vector<uint8_t> widened{0x00, 0x80, 0x00, 0x81, 0x00, 0xFF, 0x00, 0x00,
                                       0x00, 0x01, 0x00, 0x7E, 0x00, 0x7F, 0x00, 0xC0};
    std::vector<uint8_t> eightBit, eightBitWide;
    for (int i = 0; i < 500; ++i) {
        eightBit.insert(eightBit.end(), narrow.begin(), narrow.end());
        eightBitWide.insert(eightBitWide.end(), widened.begin(), widened.end());
    }
    // Floats: a ramp of exactly representable values and some with every mantissa bit in use.
    std::vector<uint8_t> floats = PatternBytes(4 * 2 * 3000, 31), doubles = PatternBytes(8 * 8 * 500, 64);
    for (size_t i = 3; i < floats.size(); i += 4) floats[i] = uint8_t((floats[i] & 0x80) | 0x3E);  // |x| < 1
    for (size_t i = 7; i < doubles.size(); i += 8) doubles[i] = uint8_t((doubles[i] & 0x80) | 0x3F);
    // 12 and 20 bits as recorders write them: the low bits of each container zero.
    std::vector<uint8_t> twelve = PatternBytes(2 * 2 * 3000, 12), twenty = PatternBytes(3 * 2 * 3000, 20);
    for (size_t i = 0; i < twelve.size(); i += 2) twelve[i] &= 0xF0;
    for (size_t i = 0; i < twenty.size(); i += 3) twenty[i] &= 0xF0;

    CleanEachKind(
        {
            {"pcm 8.wav", MakeWave(kTagPcm, 2, 22050, 8, eightBit), "", 16, "bytes", "", eightBitWide},
            {"pcm 12.wav", MakeWave(kTagPcm, 2, 44100, 12, twelve), "", 16, "data"},
            {"pcm 16.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 6000, 3)), "", 16, "data"},
            {"pcm 16 eight at 96k.wav", MakeWave(0, 8, 96000, 16, PatternBytes(2 * 8 * 2000, 8), kTagPcm), "", 16,
             "data"},
            {"pcm 20.wav", MakeWave(kTagPcm, 2, 48000, 20, twenty), "", 24, "data"},
            {"pcm 24.wav", MakeWave(kTagPcm, 2, 48000, 24, PatternBytes(3 * 2 * 5000, 24)), "", 24, "data"},
            {"pcm 32.wav", MakeWave(kTagPcm, 2, 48000, 32, PatternBytes(4 * 2 * 5000, 32)), "", 32, "data"},
            {"pcm 64.wav", MakeWave(kTagPcm, 1, 48000, 64, PatternBytes(8 * 3000, 65)), "", 64, "data"},
            {"pcm 40.wav", MakeWave(kTagPcm, 2, 48000, 40, PatternBytes(5 * 2 * 300, 40)), "", 0, "data",
             "clean copy refused: no codec keeps 40-bit samples in 40-bit containers"},
            {"float 32.wav", MakeWave(kTagFloat, 2, 44100, 32, floats), "", 32, "data"},
            {"float 64 eight at 96k.wav", MakeWave(0, 8, 96000, 64, doubles, kTagFloat), "", 64, "data"},
            {"ext 24 six.wav", MakeWave(0, 6, 48000, 24, PatternBytes(3 * 6 * 4000, 6), kTagPcm), "", 24, "data"},
            {"ms adpcm.wav", {}, "adpcm_ms", 16, "decode"},
            // Regression: every IMA source failed. The converter computes an IMA difference as
            // ((2 * code + 1) * step) >> 3, the system's codec adds the shifted steps; the copy must hold
            // the system codec's samples.
            {"ima adpcm.wav", {}, "adpcm_ima_wav", 16, "system"},
            {"a-law.wav", {}, "pcm_alaw", 16, "decode"},
            {"mu-law.wav", {}, "pcm_mulaw", 16, "decode"},
            {"mpeg layer 2.wav", {}, "mp2", 16, "near"},
        });
}

// Little-endian 32-bit field of a file written here.
void PatchU32(std::vector<uint8_t>& file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(value >> (8 * i));
}

// The sources as recorders, taggers and broken recordings leave them: sizes declared, padded,
// placeholders, chunks and tags around the samples, short last blocks, RF64.
TEST_F(CleanJobRealConverter, DamagedAndOddSourcesAreCleanedToTheirSamples) {
    const auto samples = MakeTestSamples16(2, 4000, 9);
    const auto plain = MakePcmWave(2, 44100, 16, samples);  // 44-byte header, data last
    std::vector<uint8_t> odd;                                 // 1001 unsigned samples, then the pad byte
    std::vector<uint8_t> oddWide;
    for (int i = 0; i < 1001; ++i) {
        odd.push_back(uint8_t(i % 2 ? 0xFF : 0x01));
        oddWide.insert(oddWide.end(), {0x00, uint8_t(i % 2 ? 0x7F : 0x81)});  // 0xFF - 128, 0x01 - 128
    }
    auto tagged = plain;  // an ID3 version 1 tag after the RIFF form
    tagged.insert(tagged.end(), {'T', 'A', 'G'});
    tagged.resize(tagged.size() + 125, 'x');
    auto listAfter = plain;
    for (uint8_t b : std::vector<uint8_t>{'L', 'I', 'S', 'T', 14, 0, 0, 0, 'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M',
                                          2, 0, 0, 0, 'a', 0})
        listAfter.push_back(b);
    PatchU32(listAfter, 4, uint32_t(listAfter.size() - 8));
    auto declaredSmaller = plain;  // the data chunk says 400 frames fewer than follow it
    PatchU32(declaredSmaller, 40, uint32_t(samples.size() - 1600));
    auto interrupted = plain, placeholders = plain;
    PatchU32(interrupted, 4, 0), PatchU32(interrupted, 40, 0);
    PatchU32(placeholders, 4, 0xFFFFFFFF), PatchU32(placeholders, 40, 0xFFFFFFF8);
    ByteWriter rf64;
    rf64.tag("RF64").u32(0xFFFFFFFF).tag("WAVE").tag("ds64").u32(28);
    rf64.u32(uint32_t(4 + 36 + 24 + 8 + samples.size())).u32(0).u32(uint32_t(samples.size())).u32(0);
    rf64.u32(uint32_t(samples.size() / 4)).u32(0).u32(0);
    rf64.chunk("fmt ", FormatFields(kTagPcm, 2, 44100, 44100 * 4, 4, 16));
    rf64.tag("data").u32(0xFFFFFFFF).bytes(samples);
    // The last block cut to half its size, the sizes set to match.
    const auto cutLastBlock = [](std::vector<uint8_t>& file) {
        const size_t cut = U16At(ChunkOf(file, "fmt "), 12) / 2;
        const size_t dataAt = file.size() - ChunkOf(file, "data").size();  // the converter writes data last
        file.resize(file.size() - cut);
        PatchU32(file, dataAt - 4, uint32_t(file.size() - dataAt));
        PatchU32(file, 4, uint32_t(file.size() - 8));
    };

    CleanEachKind(
        {
            {"odd 8-bit mono.wav", MakeWave(kTagPcm, 1, 8000, 8, odd), "", 16, "bytes", "", oddWide},
            {"appended tag.wav", tagged, "", 16, "data"},
            {"list after data.wav", listAfter, "", 16, "data"},
            {"declared smaller.wav", declaredSmaller, "", 16, "data"},
            {"interrupted.wav", interrupted, "", 16, "bytes", "", samples},
            {"placeholders.wav", placeholders, "", 16, "bytes", "", samples},
            {"ms adpcm short.wav", {}, "adpcm_ms", 16, "decode", "", {}, cutLastBlock},
            {"ima adpcm short.wav", {}, "adpcm_ima_wav", 16, "system", "", {}, cutLastBlock},
            {"rf64.wav", rf64.data(), "", 16, "bytes", "", samples},
        });
}

// An 8-bit source of 2 GiB and 1 MiB (sparse, its last MiB a pattern) makes a 16-bit copy past
// 4 GiB, which only RF64 can describe.
TEST_F(CleanJobRealConverter, ACopyPastFourGiBIsWrittenAsRf64AndVerified) {
    constexpr uint32_t kDataBytes = 0x80100000, kTail = 1 << 20;
    const std::string large = sources / "large.wav";
    std::vector<uint8_t> tail(kTail);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = uint8_t(i * 7);
    ByteWriter header;
    header.tag("RIFF").u32(36 + kDataBytes).tag("WAVE").chunk("fmt ", FormatFields(kTagPcm, 1, 8000, 8000, 1, 8));
    header.tag("data").u32(kDataBytes);
    WriteSparseFile(large, header.data(), header.size() + kDataBytes - kTail, tail);
    RunningProgram& app = Launch(Converter::Real);
    Choose(large);
    EXPECT_EQ(app.Clean(), kSuccess) << program->LogText();

    const std::string cleaned = CopyOf("large.wav");
    wc::FileHandle file(::CreateFileA(cleaned.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    std::vector<uint8_t> head(64), last(2 * kTail);
    DWORD done = 0;
    ASSERT_TRUE(::ReadFile(file.get(), head.data(), DWORD(head.size()), &done, nullptr));
    EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
    EXPECT_EQ(std::string(head.begin() + 12, head.begin() + 16), "ds64");
    EXPECT_EQ(U32At(head, 28) | uint64_t(U32At(head, 32)) << 32, 2ull * kDataBytes) << "the data size in ds64";
    LARGE_INTEGER end{};
    end.QuadPart = -int64_t(last.size());
    ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_END));
    ASSERT_TRUE(::ReadFile(file.get(), last.data(), DWORD(last.size()), &done, nullptr));
    for (size_t i = 0; i < tail.size(); i += 4099)  // unsigned b becomes the 16-bit (b - 128) << 8
        ASSERT_EQ(last[2 * i + 1], uint8_t(tail[i] ^ 0x80)) << "sample " << i << " of the last MiB";
    file.reset();
    ::DeleteFileA(cleaned.c_str());
}

TEST_F(CleanBatchRealConverter, ThreeSourcesOneFailingGiveASummaryNamingItAndOneLineForIt) {
    const std::vector<std::string> names{"a one.wav", "b gone.wav", "c three.wav"};
    WriteSource({.name = names[0], .frames = 5000, .channels = 2, .rate = 44100, .seed = 11});
    const auto samplesA = samples;
    WriteSource({.name = names[1]});
    WriteSource({.name = names[2], .frames = 7000, .channels = 1, .rate = 22050, .seed = 12});
    const auto samplesC = samples;

    RunningProgram& app = Launch(Converter::Real);
    app.ChooseFiles(sources.path(), names);
    app.ChooseFolder(ToWide(output.path));
    ASSERT_TRUE(::DeleteFileA((sources / names[1]).c_str()));  // gone once chosen: the job cannot read it
    // Regression: the summary said only that something failed, whichever and however many.
    EXPECT_EQ(app.Clean(), L"Cleaned 2 of 3 files.\nFailed: " + ToWide(sources / names[1]) +
                               L": clean copy refused: the source \"" + ToWide(sources / names[1]) +
                               L"\" cannot be read as a wave file");
    EXPECT_FALSE(wc::FileExists(CopyOf(names[1])));

    EXPECT_EQ(ChunkOf(ReadFileBytes(CopyOf(names[0])), "data"), samplesA);
    EXPECT_EQ(ChunkOf(ReadFileBytes(CopyOf(names[2])), "data"), samplesC);
    const std::string log = program->LogText();
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {  // each converter's output after the line naming its source, in order
        SCOPED_TRACE(names[i]);
        at = log.find("source " + std::to_string(i + 1) + " of 3: " + (sources / names[i]) + "\r\n", at);
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_NE(log.find("ffmpeg version", at), std::string::npos) << log;
    }
    EXPECT_NE(log.find("failed: " + (sources / names[1]) + ": "), std::string::npos) << log;
    EXPECT_EQ(log.find("failed: " + (sources / names[0])), std::string::npos) << log;
    EXPECT_EQ(log.find("failed: " + (sources / names[2])), std::string::npos) << log;
}

}  // namespace

namespace {

// Japanese folder and file names on a Shift-JIS system reach the converter
// intact, and the Japanese messages read right.
TEST(CleanJobShiftJis, JapanesePathsWithSpacesAreCleaned) {
    if (::GetACP() != wc::kShiftJisCodePage) GTEST_SKIP() << "needs the Shift-JIS code page (run as app_shiftjis)";
    // "録音 データ" and "テイク 1.wav", "出力 フォルダ", written as Shift-JIS.
    const std::string sourceFolder = "\x98\x5E\x89\xB9 \x83\x66\x81\x5B\x83\x5E";
    const std::string fileName = "\x83\x65\x83\x43\x83\x4E 1.wav";
    const std::string outputName = "\x8F\x6F\x97\xCD \x83\x74\x83\x48\x83\x8B\x83\x5F";
    ProgramCopy program(Converter::Real);
    TempDir sources(sourceFolder);
    DesktopFolder output(outputName);
    const std::string source = sources / fileName;
    const auto samples = MakeTestSamples16(1, 4000, 7);
    WriteFileBytes(source, MakePcmWave(1, 22050, 16, samples));

    RunningProgram app(program, program.dir.path());
    ASSERT_TRUE(app.main());
    app.ChooseFile(ToWide(source));
    app.ChooseFolder(ToWide(output.path));
    EXPECT_EQ(app.Clean(), kSuccess);
    const std::string expected = output.path + "\\Clean_" + fileName;
    ASSERT_TRUE(wc::FileExists(wc::PathFromWide(ToWide(expected))))  // the program's paths are UTF-8
        << program.LogText();
    EXPECT_EQ(ChunkOf(ReadFileBytes(expected), "data"), samples);
}

}  // namespace

namespace {

// Names outside the ANSI code page: the chooser's OK left "No file was
// selected." and nothing else happened.
struct OutsideName {
    const char* label;
    const wchar_t* folder;  // of the source, and of the output on the desktop
    const wchar_t* file;
};

class CleanJobAnyName : public ::testing::TestWithParam<OutsideName> {};

// A desktop folder of a wide name, which the browser lists under its root.
struct WideDesktopFolder {
    explicit WideDesktopFolder(const std::wstring& name) {
        wchar_t desktop[MAX_PATH] = L"";
        ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop);
        path = std::wstring(desktop) + L"\\" + name;
        RemoveTree(path);
        ::CreateDirectoryW(path.c_str(), nullptr);
    }
    ~WideDesktopFolder() { RemoveTree(path); }
    std::wstring path;
};

TEST_P(CleanJobAnyName, IsChosenShownAndCleanedUnderTheSameName) {
    const OutsideName& name = GetParam();
    ProgramCopy program(Converter::Real);
    TempDir sources("wc names");
    const std::wstring sourceFolder = ToWide(sources.path()) + L"\\" + name.folder;
    ASSERT_TRUE(::CreateDirectoryW(sourceFolder.c_str(), nullptr));
    WideDesktopFolder output(std::wstring(L"wc out ") + name.folder);
    const std::wstring source = sourceFolder + L"\\" + name.file;
    const auto samples = MakeTestSamples16(2, 6000, 3);
    WriteFileBytes(source, MakePcmWave(2, 32000, 16, samples));

    RunningProgram app(program, program.dir.path());
    ASSERT_TRUE(app.main());
    app.ChooseFile(source);  // waits until the label shows the path, read wide
    app.ChooseFolder(output.path);
    const std::wstring expected = output.path + L"\\Clean_" + name.file;
    ASSERT_TRUE(app.WaitForText(expected)) << "the output path is not shown";
    EXPECT_TRUE(app.Control(L"CLEAN FILE")) << "the window's own texts stay";
    EXPECT_EQ(app.Clean(), kSuccess) << program.LogText();
    ASSERT_NE(::GetFileAttributesW(expected.c_str()), INVALID_FILE_ATTRIBUTES) << "no copy under the same name";
    EXPECT_EQ(ChunkOf(ReadFileBytes(expected), "data"), samples);
}

// "é" is outside the Japanese code page, the note and the Hebrew letters
// outside both the Western and the Japanese one.
INSTANTIATE_TEST_SUITE_P(Names, CleanJobAnyName,
                         ::testing::Values(OutsideName{"accent_note", L"Prise \u00e9 \u266a", L"caf\u00e9 take.wav"},
                                           OutsideName{"emoji_hebrew", L"\u05e7\u05d8\u05e2",
                                                       L"take \U0001F3B5 1.wav"}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
