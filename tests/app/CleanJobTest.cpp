// The real program in its own process: started from a copy in a folder of
// its own, worked through its window and dialogs, cleaning real files with
// the real converter.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <bitset>
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
// Other test runs may share the desktop: a folder that exists is theirs, and
// the name is followed by the first number free.
struct DesktopFolder {
    explicit DesktopFolder(const std::string& name) {
        char desktop[MAX_PATH] = "";
        ::SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop);
        for (int n = 1;; ++n) {
            path = std::string(desktop) + "\\" + name + " " + std::to_string(n);
            if (::CreateDirectoryA(path.c_str(), nullptr)) break;
            if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path);
        }
    }
    ~DesktopFolder() { RemoveTree(path); }
    std::string path;
};

class RunningProgram {
public:
    RunningProgram(const ProgramCopy& program, const std::string& workingDir)
        : RunningProgram(program.exe(), workingDir) {}
    RunningProgram(const std::string& exe, const std::string& workingDir) : process_(exe, "", workingDir) {
        main_ = WaitFor([&] { return FindTopWindow(process_.id(), L"", kMainTitle); });
    }
    ~RunningProgram() {
        if (main_) ::PostMessageW(main_, WM_CLOSE, 0, 0);
        process_.Wait(std::chrono::milliseconds(5000));
    }
    HWND main() const { return main_; }
    DWORD id() const { return process_.id(); }
    HANDLE process() const { return process_.handle(); }
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
    // Every copy starts as a new user's would, with no folders kept from an earlier
    // run: a remembered folder that a later case's folder happened to match was
    // already chosen when its window opened.
    RegistryKeyAbsence settings_{HKEY_CURRENT_USER, "Software\\Wave Cleaner"};
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
    // Starts the program at `exe` (a copy made elsewhere) in its own folder.
    RunningProgram& LaunchAt(const std::string& exe) {
        app_.emplace(exe, exe.substr(0, exe.find_last_of('\\')));
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
    // The n-th temporary file the running program's job makes in the output folder.
    std::string PartialCopy(int n) const {
        return output.path + "\\~WaveCleaner-" + std::to_string(app_->id()) + "-" + std::to_string(n) + ".tmp";
    }
    // Whether the converter has begun to write the n-th temporary file (made empty before it starts).
    bool Writing(int n) const { return wc::FileExists(PartialCopy(n)) && !ReadFileBytes(PartialCopy(n)).empty(); }
    // The job's temporary files in `folder`.
    static std::vector<std::string> Leftovers(const std::string& folder) {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW(wc::PathToWide(folder + "\\~WaveCleaner-*").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found))
            names.push_back(wc::PathFromWide(found.cFileName));
        if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
        return names;
    }
    // Whether a converter the program started still runs.
    static bool ConverterRunsUnder(DWORD parent) {
        const wc::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (bool more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
            if (entry.th32ParentProcessID == parent && std::wstring(entry.szExeFile) == L"ffmpeg.exe") return true;
        return false;
    }

    TempDir sources{"wc source files"};
    DesktopFolder output{"wc job output"};
    std::optional<ProgramCopy> program;
    std::string source;
    std::vector<uint8_t> samples;

private:
    std::optional<RunningProgram> app_;
};

class CleanJobStandIn : public CleanJob {};
class CleanBatchRealConverter : public CleanJob {};
class CleanBatchStandIn : public CleanJob {};

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
    // Nothing from a converter: the header, the line that opens the source, and its verdict naming it and
    // the converter the job looked for.
    const std::string log = program->LogText();
    const std::string lines = "1 source:\r\n  " + source + "\r\nsource 1 of 1: " + source + "\r\nfailed: " + source +
                              ": clean copy failed: the converter could not be started (" +
                              program->dir / "extras\\ffmpeg.exe" + "): ";
    EXPECT_EQ(log.rfind("Wave Cleaner 1.0.0.0, job of ", 0), 0u) << log;
    const size_t at = log.find(lines);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find('\n', at + lines.size()), log.size() - 1) << "the verdict is the last line: " << log;

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
    const std::string log = program->LogText();
    EXPECT_EQ(log.find("ffmpeg version"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nfailed: " + source + ": clean copy failed: the converter could not be started"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("; the earlier " + CopyOf() + " was left as it was\r\n"), std::string::npos) << log;
    const auto previous = ReadFileBytes(program->dir / "Cvlog.previous.log");
    EXPECT_EQ(std::string(previous.begin(), previous.end()), firstLog);
}

// ---- with the stand-in converter ----

// Expected record lines of one stand-in run, written out here.
std::string CommandRecord(const std::string& source, const std::string& output, const std::string& codec = "") {
    return "command=extras\\ffmpeg -guess_layout_max 2 -i \"" + source + "\" -f wav -bitexact -y " +
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
    EXPECT_EQ(run, CommandRecord(source, PartialCopy(1)) +
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
    EXPECT_EQ(deepRun.substr(0, deepRun.find('\n') + 1), CommandRecord(deep, PartialCopy(1), "pcm_s24le"));
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
    EXPECT_FALSE(wc::FileExists(CopyOf())) << "an exact copy, but disowned by its converter";
    EXPECT_NE(program->LogText().find("clean copy check failed: the converter ended with exit code 5\r\n"),
              std::string::npos)
        << program->LogText();
}

TEST_F(CleanJobStandIn, AWrongSampleGivesTheFailureMessageAndALogLine) {
    RunningProgram& app = Start(Converter::StandIn, {.frames = 1500, .channels = 2, .rate = 44100});
    program->TellStandIn("wrong-sample\n");
    EXPECT_EQ(app.Clean(), kFailure);
    // Regression: a copy that failed its check stayed under the final name.
    EXPECT_FALSE(wc::FileExists(CopyOf()));
    EXPECT_FALSE(wc::FileExists(PartialCopy(1)));
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
    // The press is posted: the box is gone once its window is.
    ASSERT_TRUE(WaitFor([&] { return ::IsWindow(box) ? nullptr : clean; })) << "the message stayed";
    // No second job follows the first.
    EXPECT_FALSE(WaitFor([&] { return FindTopWindow(app.id(), L"#32770", L"Wave Cleaner"); },
                         std::chrono::milliseconds(4000)));
    EXPECT_EQ(program->StandInRun(2), "");
    EXPECT_TRUE(app.WaitForText(ToWide(output.path)));
}

// Run at once, a batch gives the log and the summary of the same batch run one at a time (the program held to one
// processor): the first source's lines come first although its converter ends last.
TEST_F(CleanBatchStandIn, RunAtOnceGivesTheLogAndSummaryOfOneAtATime) {
    const std::vector<std::string> names{"a slow.wav", "b plain.wav", "c failing.wav", "d gone.wav", "e plain.wav"};
    for (uint32_t i = 0; i < names.size(); ++i) WriteSource({.name = names[i], .frames = 3000, .seed = i + 1});
    RunningProgram& app = Launch(Converter::StandIn);
    program->TellStandIn("when a slow: sleep 2000\nwhen c failing: fail\n");
    app.ChooseFiles(sources.path(), names);
    app.ChooseFolder(ToWide(output.path));
    ASSERT_TRUE(::DeleteFileA((sources / names[3]).c_str()));  // gone once chosen: refused when its turn comes
    DWORD_PTR processors = 0, system = 0;
    ASSERT_TRUE(::GetProcessAffinityMask(app.process(), &processors, &system));
    ASSERT_GE(std::bitset<sizeof processors * 8>(processors).count(), 2u) << "two processors run a batch at once";
    // The summary, and the log past its first line (which holds the time).
    const auto cleanOn = [&](DWORD_PTR mask) {
        EXPECT_TRUE(::SetProcessAffinityMask(app.process(), mask));
        const std::wstring summary = app.Clean();
        const std::string log = program->LogText();
        return std::make_pair(summary, log.substr(std::min(log.find("\r\n"), log.size())));
    };
    const auto oneAtATime = cleanOn(processors & ~(processors - 1));  // its lowest processor
    const auto atOnce = cleanOn(processors);
    EXPECT_EQ(oneAtATime.first, L"Cleaned 3 of 5 files.\nFailed: " + ToWide(sources / names[2]) +
                                    L": clean copy check failed: the converter ended with exit code 1\nRefused: " +
                                    ToWide(sources / names[3]) + L": clean copy refused: the source \"" +
                                    ToWide(sources / names[3]) + L"\" cannot be read as a wave file");
    EXPECT_EQ(atOnce.first, oneAtATime.first);
    EXPECT_EQ(atOnce.second, oneAtATime.second);
    EXPECT_NE(oneAtATime.second.find("\r\nsource 1 of 5: " + sources / names[0] +
                                     "\r\nstand-in converter: standard output\nstand-in converter: standard error\n"
                                     "cleaned: " + sources / names[0]),
              std::string::npos)
        << oneAtATime.second;
}

// Stop by the button or by Esc while the second and third files, converted
// at once, are half written.
class CleanBatchStop : public CleanJob, public ::testing::WithParamInterface<bool> {};

TEST_P(CleanBatchStop, EndsEveryConverterDeletesTheirCopiesAndKeepsTheFirst) {
    const bool byEscape = GetParam();
    std::vector<std::string> names;
    for (uint32_t i = 1; i <= 3; ++i) {
        names.push_back("take " + std::to_string(i) + ".wav");
        WriteSource({.name = names.back(), .frames = 4000, .channels = 2, .rate = 22050, .seed = i});
    }
    RunningProgram& app = Launch(Converter::StandIn);
    program->TellStandIn("when take 2: hold\nwhen take 3: hold\n");
    app.ChooseFiles(sources.path(), names);
    ASSERT_TRUE(app.WaitForText(ToWide(sources / names[0] + " (+2 more)")));
    app.ChooseFolder(ToWide(output.path));
    ASSERT_TRUE(app.WaitForText(ToWide(CopyOf(names[0]) + " (+2 more)")));
    Click(app.Control(L"CLEAN FILE"));

    // Two converters at once (this machine has two cores): the third starts once the first has ended.
    ASSERT_TRUE(WaitFor([&] { return Writing(2) && Writing(3) ? app.main() : nullptr; })) << "no two partial copies";
    HWND stop = app.Control(L"STOP");
    ASSERT_TRUE(stop) << "the button is not captioned STOP during the job";
    EXPECT_TRUE(app.Control(L"file 2 of 3")) << "the first file not ended is file 2";
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
    // The stand-ins hold for a minute: one found after this wait outlived the stop.
    EXPECT_TRUE(WaitFor([&] { return ConverterRunsUnder(app.id()) ? nullptr : app.main(); },
                        std::chrono::milliseconds(5000)))
        << "a converter outlived the stop";
    EXPECT_EQ(Leftovers(output.path), std::vector<std::string>{}) << "temporary files stayed";
    EXPECT_FALSE(wc::FileExists(CopyOf(names[1])));
    EXPECT_FALSE(wc::FileExists(CopyOf(names[2])));
    EXPECT_EQ(ReadFileBytes(CopyOf(names[0])), ReadFileBytes(sources / names[0])) << "the first copy was touched";
    const std::string log = program->LogText();
    for (int i : {1, 2}) {
        EXPECT_NE(log.find("stopped: " + sources / names[i] +
                           " while converting: its temporary files were removed; no copy was made\r\n"),
                  std::string::npos)
            << log;
    }
    // Regression: a stopped job ended without a word.
    HWND box = MessageBoxOf(app, std::chrono::milliseconds(10000));
    ASSERT_TRUE(box) << "no summary";
    EXPECT_EQ(MessageBoxText(box), L"Cleaned 1 of 3 files.\nStopped: " + ToWide(sources / names[1]) +
                                       L"\nStopped: " + ToWide(sources / names[2]));
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
    ASSERT_TRUE(WaitFor([&] { return Writing(1) ? app.main() : nullptr; })) << "no partial copy";

    const std::string partial = PartialCopy(1);
    ::PostMessageW(app.main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(app.ClosedWithin(std::chrono::milliseconds(15000))) << "the window did not close";
    EXPECT_FALSE(wc::FileExists(partial)) << "the partial copy stayed";
    EXPECT_FALSE(wc::FileExists(CopyOf()));
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
    EXPECT_EQ(run.substr(0, run.find('\n') + 1), CommandRecord(source, PartialCopy(1)));
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
    unsigned validBits = 0;      // the copy's valid bits (extensible) or bits per sample (plain); 0: not asked
    std::string note = {};       // part of the log of a success; empty: not asked
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
        ASSERT_FALSE(expected.empty() && kind.expected != "bytes");
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
        if (kind.validBits) {
            EXPECT_EQ(fmt.size() >= 40 ? U16At(fmt, 18) : U16At(fmt, 14), kind.validBits);
        }
        if (!kind.note.empty()) {
            EXPECT_NE(program->LogText().find(kind.note), std::string::npos) << program->LogText();
        }
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
            // Regression: 8-bit sources came out 16-bit; 12- and 20-bit ones lost their valid bits silently.
            {"pcm 8.wav", MakeWave(kTagPcm, 2, 22050, 8, PatternBytes(2 * 4000, 8)), "", 8, "data"},
            {"pcm 12.wav", MakeWave(kTagPcm, 2, 44100, 12, twelve), "", 16, "data", "", {}, {}, 16,
             "the header field of 12 valid bits in 16-bit containers was dropped"},
            {"pcm 16.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 6000, 3)), "", 16, "data"},
            {"pcm 16 eight at 96k.wav", MakeWave(0, 8, 96000, 16, PatternBytes(2 * 8 * 2000, 8), kTagPcm), "", 16,
             "data"},
            {"pcm 20.wav", MakeWave(kTagPcm, 2, 48000, 20, twenty), "", 24, "data", "", {}, {}, 20},
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
    const std::vector<uint8_t> odd = PatternBytes(1001, 3);  // 1001 unsigned samples, then the pad byte
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
            {"odd 8-bit mono.wav", MakeWave(kTagPcm, 1, 8000, 8, odd), "", 8, "bytes", "", odd},
            {"appended tag.wav", tagged, "", 16, "data"},
            {"list after data.wav", listAfter, "", 16, "data"},
            {"declared smaller.wav", declaredSmaller, "", 16, "data"},
            {"interrupted.wav", interrupted, "", 16, "bytes", "", samples},
            {"placeholders.wav", placeholders, "", 16, "bytes", "", samples},
            {"ms adpcm short.wav", {}, "adpcm_ms", 16, "decode", "", {}, cutLastBlock},
            {"rf64.wav", rf64.data(), "", 16, "bytes", "", samples},
        });
}

// Regression: each of these the converter read otherwise than the wave layer (24 of 32 bits as floats;
// the last of several data chunks; LIST bytes behind an empty data chunk as samples; an interrupted RF64
// as no samples; BW64 not at all; RIFX as little-endian), and the job failed or the chooser refused
// the file. Each copy holds the samples the wave layer reads.
TEST_F(CleanJobRealConverter, SourcesTheConverterMisreadsAreHandedOverAsTheWaveLayerReadsThem) {
    const auto samples = MakeTestSamples16(2, 3000, 4), later = MakeTestSamples16(2, 1000, 5);
    auto in32 = PatternBytes(4 * 2 * 3000, 32);  // 24 valid bits: the low byte of each container 0
    for (size_t i = 0; i < in32.size(); i += 4) in32[i] = 0;
    auto floats = PatternBytes(4 * 2 * 2000, 33);
    for (size_t i = 3; i < floats.size(); i += 4) floats[i] = uint8_t((floats[i] & 0x80) | 0x3E);  // |x| < 1
    const auto in24 = PatternBytes(3 * 3 * 2000, 24);
    auto valid24 = MakeWave(0, 2, 48000, 32, in32, kTagPcm);
    valid24[38] = 24;  // the valid bits of the extensible format
    ByteWriter twoData = StartWaveForm();
    twoData.chunk("fmt ", FormatFields(kTagPcm, 2, 44100, 176400, 4, 16)).chunk("data", samples).chunk("data", later);
    ByteWriter emptyData = StartWaveForm();  // a data chunk of 0 bytes, then 20 bytes of LIST
    emptyData.chunk("fmt ", FormatFields(kTagPcm, 2, 44100, 176400, 4, 16)).tag("data").u32(0);
    emptyData.tag("LIST").u32(12).tag("INFO").tag("INAM").u32(2).u16('a');
    // "RF64" and "ds64" (48 bytes), "fmt " (24), the data header (8): 72 bytes behind the RIFF size.
    ByteWriter interrupted = Rf64Form("RF64", 0, 0), bw64 = Rf64Form("BW64", 72 + samples.size(), samples.size());
    for (ByteWriter* w : {&interrupted, &bw64})
        w->chunk("fmt ", FormatFields(kTagPcm, 2, 44100, 176400, 4, 16)).tag("data").u32(0xFFFFFFFF).bytes(samples);

    CleanEachKind({
        {.name = "ext 24 in 32.wav", .file = valid24, .outputBits = 32, .expected = "data", .validBits = 24},
        {.name = "two data chunks.wav", .file = EndWaveForm(twoData), .outputBits = 16, .expected = "bytes",
         .bytes = samples, .note = "the data chunks behind the first were left out"},
        {.name = "empty data then list.wav", .file = EndWaveForm(emptyData), .outputBits = 16, .expected = "bytes"},
        {.name = "interrupted rf64.wav", .file = interrupted.data(), .outputBits = 16, .expected = "bytes",
         .bytes = samples},
        {.name = "bw64.wav", .file = bw64.data(), .outputBits = 16, .expected = "bytes", .bytes = samples},
        // Big-endian RIFX as three of a corpus of real test files hold it.
        {.name = "rifx int32.wav", .file = MakeRifxWave(kTagPcm, 2, 44100, 32, in32), .outputBits = 32,
         .expected = "bytes", .bytes = in32, .note = "the byte order changed"},
        {.name = "rifx float32.wav", .file = MakeRifxWave(kTagFloat, 2, 44100, 32, floats), .outputBits = 32,
         .expected = "bytes", .bytes = floats, .note = "the byte order changed"},
        {.name = "rifx int24 three.wav", .file = MakeRifxWave(kTagPcm, 3, 48000, 24, in24), .outputBits = 24,
         .expected = "bytes", .bytes = in24, .note = "the byte order changed"},
    });
}

// A 16-bit RF64 source of 4 GiB and 1 MiB (sparse, its last MiB a pattern) makes a copy past 4 GiB,
// which only RF64 can describe.
TEST_F(CleanJobRealConverter, ACopyPastFourGiBIsWrittenAsRf64AndVerified) {
    constexpr uint64_t kDataBytes = 0x100100000;
    constexpr uint32_t kTail = 1 << 20;
    const std::string large = sources / "large.wav";
    std::vector<uint8_t> tail(kTail);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = uint8_t(i * 7);
    // "RF64" form and "ds64" (48 bytes), "fmt " (24), the data chunk's header (8).
    ByteWriter header = Rf64Form("RF64", 72 + kDataBytes, kDataBytes);
    header.chunk("fmt ", FormatFields(kTagPcm, 2, 44100, 176400, 4, 16)).tag("data").u32(0xFFFFFFFF);
    WriteSparseFile(large, header.data(), header.size() + kDataBytes - kTail, tail);
    RunningProgram& app = Launch(Converter::Real);
    Choose(large);
    EXPECT_EQ(app.Clean(), kSuccess) << program->LogText();

    const std::string cleaned = CopyOf("large.wav");
    wc::FileHandle file(::CreateFileA(cleaned.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    std::vector<uint8_t> head(64), last(kTail);
    DWORD done = 0;
    ASSERT_TRUE(::ReadFile(file.get(), head.data(), DWORD(head.size()), &done, nullptr));
    EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
    EXPECT_EQ(std::string(head.begin() + 12, head.begin() + 16), "ds64");
    EXPECT_EQ(U32At(head, 28) | uint64_t(U32At(head, 32)) << 32, kDataBytes) << "the data size in ds64";
    LARGE_INTEGER end{};
    end.QuadPart = -int64_t(last.size());
    ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_END));
    ASSERT_TRUE(::ReadFile(file.get(), last.data(), DWORD(last.size()), &done, nullptr));
    EXPECT_TRUE(last == tail) << "the last MiB of samples";
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
    EXPECT_EQ(app.Clean(), L"Cleaned 2 of 3 files.\nRefused: " + ToWide(sources / names[1]) +
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
    EXPECT_NE(log.find("refused: " + (sources / names[1]) + ": clean copy refused: "), std::string::npos) << log;
    for (int i : {0, 2}) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(log.find("failed: " + (sources / names[i])), std::string::npos) << log;
        EXPECT_NE(log.find("cleaned: " + (sources / names[i]) + " -> " + CopyOf(names[i]) + ": samples MD5 "),
                  std::string::npos)
            << log;
    }
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

// ---- nothing the user has is lost: one table of hazards through the real window ----

namespace {

// Writes a source at a (wide) path; `work` is a folder for the converter's encodings.
using Recipe = std::function<void(const std::wstring& path, const std::string& work)>;

void Put(const std::wstring& path, const std::vector<uint8_t>& bytes) { WriteFileBytes(path, bytes); }

Recipe Plain(uint32_t seed) {
    return [=](const std::wstring& path, const std::string&) {
        Put(path, MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 6000, seed)));
    };
}
// 3 channels of 24 bits, extensible with this channel mask (at byte 40) and valid bits (at 38).
Recipe Extensible(uint16_t container, uint16_t valid, uint32_t mask) {
    return [=](const std::wstring& path, const std::string&) {
        auto file = MakeWave(0, 3, 48000, container, PatternBytes(size_t(container / 8) * 3 * 4000, 3), kTagPcm);
        file[38] = uint8_t(valid), file[39] = 0;
        PatchU32(file, 40, mask);
        Put(path, file);
    };
}
// Encoded by the converter from 9000 frames of 22.05 kHz stereo; `alter` then changes the file.
Recipe Encoded(const std::string& codec, uint32_t seed, std::function<void(std::vector<uint8_t>&)> alter = {}) {
    return [=](const std::wstring& path, const std::string& work) {
        const std::string plain = work + "\\plain " + std::to_string(seed) + ".wav", coded = work + "\\coded.wav";
        WriteFileBytes(plain, MakePcmWave(2, 22050, 16, MakeTestSamples16(2, 9000, seed)));
        ASSERT_TRUE(RunFfmpeg("-i \"" + plain + "\" -c:a " + codec + " \"" + coded + "\"", work));
        auto file = ReadFileBytes(coded);
        if (alter) alter(file);
        Put(path, file);
    };
}
// The converter writes the data chunk last: its last block is cut to half its size.
void CutLastBlock(std::vector<uint8_t>& file) {
    const size_t dataAt = file.size() - ChunkOf(file, "data").size();
    file.resize(file.size() - U16At(ChunkOf(file, "fmt "), 12) / 2);
    PatchU32(file, dataAt - 4, uint32_t(file.size() - dataAt));
    PatchU32(file, 4, uint32_t(file.size() - 8));
}
// A "fact" count of 5000 frames, fewer than the blocks give; the converter writes "fact" right after "fmt ".
void Fact5000(std::vector<uint8_t>& file) { PatchU32(file, 20 + ChunkOf(file, "fmt ").size() + 8, 5000); }
// A sparse file of zeros: a 16-bit stereo PCM or a mono IMA ADPCM header (blocks of 512 bytes, 1017
// frames each), then `dataBytes` zero bytes, which decode to silence.
Recipe Zeros(bool ima, uint64_t dataBytes) {
    return [=](const std::wstring& path, const std::string&) {
        ByteWriter w;
        w.tag("RIFF").u32(uint32_t(36 + (ima ? 4 : 0) + dataBytes)).tag("WAVE").tag("fmt ");
        if (ima) w.u32(20).u16(0x11).u16(1).u32(8000).u32(4055).u16(512).u16(4).u16(2).u16(1017);
        else w.u32(16).u16(1).u16(2).u32(44100).u32(176400).u16(4).u16(16);
        w.tag("data").u32(uint32_t(dataBytes));
        wc::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD done = 0;
        LARGE_INTEGER end;
        end.QuadPart = int64_t(w.size() + dataBytes);
        ASSERT_TRUE(file && ::WriteFile(file.get(), w.data().data(), DWORD(w.size()), &done, nullptr) &&
                    ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
    };
}

enum class Act { Clean, StopDecoding, StopConverting, StopChecking, Kill, EndSession };
// What stands at Clean_<first source> afterwards.
enum class Copy {
    Data,           // the source's data chunk, speaker positions and all
    Converter,      // the converter's own decoding of the source
    SystemCodec,    // the system codec's decoding (the last block padded), as many frames as the converter gives
    Fact,           // the system codec's decoding, cut to the "fact" count
    Near,           // within 60 dB of the converter's decoding (MPEG; the twin's audio is 40 dB off)
    Rf64Silence,    // an RF64 copy of the silence
    Earlier,        // the copy from before, untouched
    None,
    IsASource,      // the path is a chosen source's: it stays as it was
};
enum class Output { Desktop, FullDrive, SourceFolder };  // SourceFolder: the sources are written into the output folder

struct Hazard {
    const char* label;
    Converter converter;
    std::vector<std::pair<std::wstring, Recipe>> sources;  // the first `chosen` are chosen, in order
    Copy copy;
    const char* log;  // a part of the log
    Act act = Act::Clean;
    const char* standIn = "";
    size_t chosen = 1;
    Output output = Output::Desktop;
    bool readOnlyProgram = false;
};

class UsersFiles : public CleanJob, public ::testing::WithParamInterface<Hazard> {
protected:
    // The output folder of the case: on the desktop, on the full drive, or the sources' own.
    std::string OutputFolder(Output where) const {
        if (where == Output::Desktop || where == Output::SourceFolder) return output.path;
        // A 2 MiB file system of its own on the desktop, named by the test's environment (scripts/test-drives.sh).
        char desktop[MAX_PATH] = "", name[MAX_PATH] = "";
        ::SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop);
        if (!::GetEnvironmentVariableA("WC_FULL_DRIVE", name, MAX_PATH)) return "(WC_FULL_DRIVE is not set)";
        return std::string(desktop) + "\\" + name;
    }
    static HWND Until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        return WaitFor([&] { return done() ? ::GetDesktopWindow() : nullptr; }, timeout);
    }
};

TEST_P(UsersFiles, AreNeverLostAndNoSuccessIsShownOverAChangedCopy) {
    const Hazard& hazard = GetParam();
    const std::string folder = OutputFolder(hazard.output);
    ASSERT_TRUE(wc::DirectoryExists(folder)) << folder << " is not set up (scripts/test-drives.sh up)";
    std::vector<std::string> chosen, names;
    std::vector<std::vector<uint8_t>> before;
    TempDir work("wc recipes");
    const std::string sourceFolder = hazard.output == Output::SourceFolder ? folder : sources.path();
    const auto sourcePath = [&](const std::string& name) { return wc::PathToWide(sourceFolder + "\\" + name); };
    for (const auto& [name, recipe] : hazard.sources) {
        names.push_back(wc::PathFromWide(name));
        recipe(sourcePath(names.back()), work.path());
        before.push_back(ReadFileBytes(sourcePath(names.back())));
        if (chosen.size() < hazard.chosen) chosen.push_back(names.back());
    }
    const std::wstring source = sourcePath(chosen.front());
    const std::string copy = folder + "\\Clean_" + chosen.front();
    const auto earlier = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 4000, 99));
    if (hazard.copy == Copy::Earlier) WriteFileBytes(wc::PathToWide(copy), earlier);

    // The log goes beside the program, or where the program's folder cannot be written.
    std::string log;
    RunningProgram* app = nullptr;
    if (hazard.readOnlyProgram) {
        const std::string readOnly = ProgramDir() + "\\..\\test-drives\\readonly\\WaveCleaner.exe";
        ASSERT_TRUE(wc::FileExists(readOnly)) << "no read-only program copy (scripts/test-drives.sh up)";
        char local[MAX_PATH] = "";
        ::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local);
        log = std::string(local) + "\\Wave Cleaner\\Cvlog.log";
        ::DeleteFileA(log.c_str());
        app = &LaunchAt(readOnly);
    } else {
        app = &Launch(hazard.converter);
        program->TellStandIn(hazard.standIn);
        log = program->log();
    }
    if (hazard.chosen == 1) {
        app->ChooseFile(source);
    } else {
        app->ChooseFiles(sourceFolder, chosen);
    }
    app->ChooseFolder(ToWide(folder));
    ASSERT_FALSE(HasFatalFailure());

    std::wstring message = L"(none)";
    // The job's n-th temporary file: its copy ("") or the PCM it decodes the source to ("-decoded").
    const auto partial = [&](int n, const std::string& kind = "") {
        return folder + "\\~WaveCleaner-" + std::to_string(app->id()) + "-" + std::to_string(n) + kind + ".tmp";
    };
    const auto writing = [&](int n, const std::string& kind = "") {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return ::GetFileAttributesExA(partial(n, kind).c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 0;
    };
    HWND bar = FindChild(app->main(), L"", L"msctls_progress32");
    constexpr std::chrono::minutes kLongJob{20};  // a copy past 4 GiB on a busy machine
    Click(app->Control(L"CLEAN FILE"));
    switch (hazard.act) {
    case Act::Clean: {
        HWND box = WaitFor([&] { return FindTopWindow(app->id(), L"#32770", L"Wave Cleaner"); }, kLongJob);
        ASSERT_TRUE(box) << "no outcome";
        message = MessageBoxText(box);
        PressOk(box);
        break;
    }
    case Act::StopDecoding:  // the copy is the job's first temporary file, the decoded PCM its second
    case Act::StopConverting:
    case Act::StopChecking: {
        const auto reached = [&] {
            if (hazard.act == Act::StopDecoding) return writing(2, "-decoded");
            if (hazard.act == Act::StopConverting) return writing(1);
            return ::SendMessageW(bar, PBM_GETPOS, 0, 0) > 800;  // the check takes the last fifth of the bar
        };
        ASSERT_TRUE(Until(reached, std::chrono::minutes(5))) << "the stage was not reached";
        Click(app->Control(L"STOP"));
        ASSERT_TRUE(app->WaitForText(L"CLEAN FILE"));
        break;
    }
    case Act::Kill:
    case Act::EndSession: {
        ASSERT_TRUE(Until([&] { return writing(1); }, std::chrono::minutes(1)));
        if (hazard.act == Act::Kill) {
            ASSERT_TRUE(::TerminateProcess(app->process(), 1));
        } else {
            DWORD_PTR answer = 0;
            ASSERT_TRUE(::SendMessageTimeoutW(app->main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                              10000, &answer));
            EXPECT_TRUE(answer) << "the job kept the session from ending";
            ASSERT_TRUE(::SendMessageTimeoutW(app->main(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000,
                                              &answer));
            EXPECT_FALSE(wc::FileExists(partial(1))) << "its temporary file outlived the session";
        }
        EXPECT_TRUE(Until([&] { return !ConverterRunsUnder(app->id()); }, std::chrono::seconds(10)))
            << "the converter outlived the program's job";
        if (hazard.act == Act::Kill) {
            // The next job into the folder removes what the killed one left.
            EXPECT_FALSE(Leftovers(folder).empty()) << "a killed run leaves its temporary file";
            app = &Launch(Converter::StandIn);
            app->ChooseFile(sourcePath(names[1]));
            app->ChooseFolder(ToWide(folder));
            EXPECT_EQ(app->Clean(), kSuccess);
            log = program->log();
        }
        break;
    }
    }

    const auto logText = ReadFileBytes(log);
    const std::string logged(logText.begin(), logText.end());
    EXPECT_NE(logged.find(hazard.log), std::string::npos) << logged;
    const bool success = hazard.copy != Copy::Earlier && hazard.copy != Copy::None && hazard.copy != Copy::IsASource;
    if (hazard.act == Act::Clean && hazard.chosen > 1) {
        // A batch ends in a summary: here the first source's copy would have replaced the second source.
        EXPECT_EQ(message, L"Cleaned 1 of 2 files.\nRefused: " + source + L": its clean copy " + wc::PathToWide(copy) +
                               L" would replace the chosen source " + sourcePath(chosen[1]));
    } else if (hazard.act == Act::Clean) {
        EXPECT_EQ(message, success ? kSuccess
                  : hazard.readOnlyProgram
                      ? L"コンバート中にエラーが発生しました。\r" + ToWide(log.substr(0, log.rfind('\\'))) +
                            L" 内にあるCvlog.logファイルを\rVarnel担当までお送りください。"
                      : kFailure);
    }
    EXPECT_EQ(Leftovers(folder), std::vector<std::string>{}) << "temporary files stayed";
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_TRUE(ReadFileBytes(sourcePath(names[i])) == before[i]) << names[i] << " was written";

    const std::wstring copyPath = wc::PathToWide(copy);
    if (hazard.copy == Copy::None || hazard.copy == Copy::Earlier || hazard.copy == Copy::IsASource) {
        if (hazard.copy == Copy::Earlier) {
            EXPECT_TRUE(ReadFileBytes(copyPath) == earlier) << "the earlier copy changed";
        } else if (hazard.copy == Copy::None) {
            EXPECT_EQ(::GetFileAttributesW(copyPath.c_str()), INVALID_FILE_ATTRIBUTES);
        }
        return;
    }
    if (hazard.copy == Copy::Rf64Silence) {
        // 2 148 438 blocks of 1017 frames, 2 bytes each: 4 369 922 892 bytes of silence.
        wc::FileHandle file(::CreateFileW(copyPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        std::vector<uint8_t> head(80);
        DWORD done = 0;
        ASSERT_TRUE(file && ::ReadFile(file.get(), head.data(), DWORD(head.size()), &done, nullptr));
        EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
        EXPECT_EQ(U32At(head, 28) | uint64_t(U32At(head, 32)) << 32, 4369922892ull) << "the data size in ds64";
        return;
    }
    const auto cleaned = ReadFileBytes(copyPath);
    const auto data = ChunkOf(cleaned, "data");
    const auto sourceFile = ReadFileBytes(source);
    std::vector<uint8_t> expected = ChunkOf(sourceFile, "data");
    if (hazard.copy != Copy::Data) {
        const std::string raw = work / "decoded.raw";
        WriteFileBytes(work / "source.wav", sourceFile);
        ASSERT_TRUE(RunFfmpeg("-i source.wav -f s16le -c:a pcm_s16le decoded.raw", work.path()));
        const auto converter = ReadFileBytes(raw);
        expected = converter;
        if (hazard.copy == Copy::SystemCodec || hazard.copy == Copy::Fact) {
            auto blocks = ChunkOf(sourceFile, "data");
            const size_t block = U16At(ChunkOf(sourceFile, "fmt "), 12);
            blocks.resize((blocks.size() + block - 1) / block * block);  // the short last block padded whole
            expected = SystemCodecDecode(ChunkOf(sourceFile, "fmt "), blocks);
            expected.resize(hazard.copy == Copy::Fact ? 5000 * 4 : converter.size());
        }
    }
    if (hazard.copy == Copy::Near) {
        const auto ints = [](const std::vector<uint8_t>& bytes) {
            std::vector<int> out;
            for (size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(int16_t(bytes[i] | bytes[i + 1] << 8));
            return out;
        };
        EXPECT_EQ(data.size(), expected.size());
        EXPECT_GE(SnrDb(ints(expected), ints(data)), 60.0) << "another file's audio";
    } else {
        EXPECT_TRUE(data == expected) << "the copy holds other samples: " << data.size() << " bytes, " << expected.size()
                                      << " expected";
    }
    if (hazard.copy == Copy::Data) {
        EXPECT_EQ(U32At(ChunkOf(cleaned, "fmt "), 20), U32At(ChunkOf(sourceFile, "fmt "), 20))
            << "the speaker positions changed";
    }
}

const Recipe kPlain = Plain(1);
const std::wstring kTake = L"take.wav";

INSTANTIATE_TEST_SUITE_P(
    Hazards, UsersFiles,
    ::testing::Values(
        // Regression: a failed job had replaced the earlier copy already.
        Hazard{"converter_fails", Converter::StandIn, {{kTake, kPlain}}, Copy::Earlier, "told to fail", Act::Clean, "fail\n"},
        Hazard{"copy_differs", Converter::StandIn, {{kTake, kPlain}}, Copy::Earlier, "was left as it was", Act::Clean,
               "wrong-sample\n"},
        // Regression: Stop deleted the earlier copy whatever the job had written.
        Hazard{"stop_decoding", Converter::Real, {{kTake, Zeros(true, 256u << 20)}}, Copy::Earlier, "while decoding",
               Act::StopDecoding},
        Hazard{"stop_converting", Converter::StandIn, {{kTake, kPlain}}, Copy::Earlier, "while converting",
               Act::StopConverting, "hold 1\n"},
        // The check follows the copy while it is written: the stand-in moves the samples once it has
        // written them, so the whole gigabyte is checked again after it ends, long enough to stop.
        Hazard{"stop_checking", Converter::StandIn, {{kTake, Zeros(false, 1u << 30)}}, Copy::Earlier, "while checking",
               Act::StopChecking, "move-data\n"},
        Hazard{"full_disk", Converter::Real, {{kTake, Zeros(false, 8u << 20)}}, Copy::Earlier, "is full", Act::Clean,
               "", 1, Output::FullDrive},
        // Regression: the first take's copy was written over the second recording.
        Hazard{"colliding_sources", Converter::Real, {{L"take one.wav", kPlain}, {L"Clean_take one.wav", Plain(2)}},
               Copy::IsASource, "would replace the chosen source", Act::Clean, "", 2, Output::SourceFolder},
        // Regression: every file failed with "the converter could not be started" and no log was written.
        Hazard{"read_only_program", Converter::Real, {{kTake, Extensible(32, 24, 7)}}, Copy::Data,
               "this log is", Act::Clean, "", 1, Output::Desktop, true},
        // Regression: channels with no positions came out as front left, front right, LFE.
        Hazard{"mask_none", Converter::Real, {{kTake, Extensible(24, 24, 0)}}, Copy::Data, ""},
        Hazard{"mask_of_two_for_three", Converter::Real, {{kTake, Extensible(24, 24, 3)}}, Copy::None,
               "speaker positions: source 0x3, output 0x0"},
        // Regression: the system's codec dropped a short last IMA block, and the check with it.
        Hazard{"short_ima_block", Converter::Real, {{kTake, Encoded("adpcm_ima_wav", 4, CutLastBlock)}}, Copy::SystemCodec, ""},
        Hazard{"short_ms_block", Converter::Real, {{kTake, Encoded("adpcm_ms", 5, CutLastBlock)}}, Copy::Converter, ""},
        Hazard{"ima_fact_smaller", Converter::Real, {{kTake, Encoded("adpcm_ima_wav", 6, Fact5000)}}, Copy::Fact, ""},
        // Regression: the decoding past 4 GiB went to the converter without RF64, which wrote broken sizes.
        Hazard{"decode_past_4_gib", Converter::Real, {{kTake, Zeros(true, 2148438ull * 512)}}, Copy::Rf64Silence, ""},
        // Regression: the MPEG library opened "Lodz take.wav" for "Łodz take.wav".
        Hazard{"mpeg_best_fit_twin", Converter::Real,
               {{L"\u0141odz take.wav", Encoded("mp2", 7)}, {L"Lodz take.wav", Encoded("mp2", 8)}}, Copy::Near, ""},
        Hazard{"killed_program", Converter::StandIn, {{kTake, kPlain}, {L"next.wav", Plain(3)}}, Copy::Earlier,
               "a temporary file an earlier run left", Act::Kill, "hold 1\n"},
        Hazard{"log_off", Converter::StandIn, {{kTake, kPlain}}, Copy::Earlier, "stopped: ", Act::EndSession,
               "hold 1\n"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
