// The real program in its own process: started from a copy in a folder of
// its own, worked through its window and dialogs, cleaning real files with
// the real converter.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "DialogDriving.h"
#include "app/Unit1.h"
#include "framework/Files.h"
#include "framework/Strings.h"
#include "support/Registry.h"

using namespace testing_support;
using wc::ToWide;

namespace {

const std::wstring kMainTitle = L"Wave Cleaner 2026";

// A copy of the program, optionally with its converter, in a folder whose
// name has spaces.
struct ProgramCopy {
    explicit ProgramCopy(bool withConverter, const std::string& name = "wc program copy") : dir(name) {
        EXPECT_TRUE(CopyFileTo(ProgramDir() + "\\WaveCleaner.exe", exe()));
        if (withConverter) {
            ::CreateDirectoryA((dir / "extras").c_str(), nullptr);
            EXPECT_TRUE(CopyFileTo(ProgramDir() + "\\extras\\ffmpeg.exe", dir / "extras\\ffmpeg.exe"));
        }
    }
    std::string exe() const { return dir / "WaveCleaner.exe"; }
    std::string log() const { return dir / "Cvlog.log"; }
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

std::string DataChunk(const std::vector<uint8_t>& file) {
    // Walks the RIFF chunks after "WAVE" to the "data" chunk.
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::string id(file.begin() + at, file.begin() + at + 4);
        const uint32_t size = file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 | uint32_t(file[at + 7]) << 24;
        if (id == "data") return std::string(file.begin() + at + 8, file.begin() + std::min(file.size(), at + 8 + size));
        at += 8 + size + (size & 1);
    }
    return {};
}

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
        HWND box = WaitFor([&] { return FindTopWindow(id(), L"#32770", L"Wave Cleaner"); },
                           std::chrono::milliseconds(60000));
        if (!box) return L"(no message)";
        const std::wstring text = MessageBoxText(box);
        PressOk(box);
        return text;
    }

private:
    ChildProcess process_;
    HWND main_ = nullptr;
};

// A child's position in its parent's client area.
RECT BoundsInParent(HWND control) {
    RECT bounds;
    ::GetWindowRect(control, &bounds);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

TEST(MainWindowLayout, IsScaledFromItsDesignResolutionToTheScreens) {
    ProgramCopy program(false);
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

const std::wstring kSuccess = wc::ShiftJisToWide(kOutputCompletedMessage);
const std::wstring kFailure = wc::ShiftJisToWide(kConversionFailedMessage);

TEST(CleanJob, CleansARealWaveThroughTheWindowIntoABitExactCopy) {
    ProgramCopy program(true);
    TempDir sources("wc source files");
    DesktopFolder output("wc cleaned output");
    const std::string source = sources / "my take 1.wav";
    const auto samples = MakeTestSamples16(2, 22050);
    WriteFileBytes(source, MakePcmWave(2, 44100, 16, samples));

    RunningProgram app(program, program.dir.path());
    ASSERT_TRUE(app.main()) << "the main window did not appear";
    EXPECT_TRUE(app.Control(L"No file was selected."));
    EXPECT_TRUE(app.Control(L"No folder was selected."));
    EXPECT_TRUE(app.Control(L"No Name"));
    EXPECT_FALSE(::IsWindowEnabled(app.Control(L"CLEAN FILE")));

    app.ChooseFile(ToWide(source));
    app.ChooseFolder(ToWide(output.path));
    const std::string expected = output.path + "\\Clean_my take 1.wav";
    ASSERT_TRUE(app.WaitForText(ToWide(expected))) << "the output path is not shown";
    EXPECT_TRUE(::IsWindowEnabled(app.Control(L"CLEAN FILE")));

    EXPECT_EQ(app.Clean(), kSuccess);
    ASSERT_TRUE(wc::FileExists(expected));
    const auto cleaned = ReadFileBytes(expected);
    EXPECT_EQ(std::string(cleaned.begin(), cleaned.begin() + 4), "RIFF");
    EXPECT_EQ(DataChunk(cleaned), std::string(samples.begin(), samples.end()));
    EXPECT_GT(ReadFileBytes(program.log()).size(), 0u) << "the converter's output belongs in the log";

    ::PostMessageW(app.main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(app.ClosedWithin(std::chrono::milliseconds(5000))) << "closing the window ends the program";
}

TEST(CleanJob, MissingConverterLeavesAnEmptyLogAndReportsFailure) {
    ProgramCopy program(false);
    TempDir sources("wc source files");
    DesktopFolder output("wc no converter");
    const std::string source = sources / "take.wav";
    WriteFileBytes(source, MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800)));

    RunningProgram app(program, program.dir.path());
    ASSERT_TRUE(app.main());
    app.ChooseFile(ToWide(source));
    app.ChooseFolder(ToWide(output.path));
    EXPECT_EQ(app.Clean(), kFailure);
    ASSERT_TRUE(wc::FileExists(program.log()));
    EXPECT_EQ(ReadFileBytes(program.log()).size(), 0u);

    // An output file left from before counts as success, whatever the converter did.
    WriteFileBytes(output.path + "\\Clean_take.wav", {1, 2, 3});
    EXPECT_EQ(app.Clean(), kSuccess);
}

TEST(CleanJob, SecondJobOverwritesTheLogAndTheLogStaysBesideTheProgram) {
    ProgramCopy program(true);
    TempDir sources("wc source files");
    TempDir elsewhere("wc current dir");
    DesktopFolder output("wc log output");
    const std::string source = sources / "take.wav";
    WriteFileBytes(source, MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800)));

    RunningProgram app(program, elsewhere.path());
    ASSERT_TRUE(app.main());
    app.ChooseFile(ToWide(source));
    app.ChooseFolder(ToWide(output.path));
    EXPECT_EQ(app.Clean(), kSuccess);
    const size_t firstLog = ReadFileBytes(program.log()).size();
    EXPECT_GT(firstLog, 0u);
    EXPECT_FALSE(wc::FileExists(elsewhere / "Cvlog.log"));

    // Without the converter the second job's log is empty: created anew, not appended to.
    ASSERT_TRUE(::DeleteFileA((program.dir / "extras\\ffmpeg.exe").c_str()));
    EXPECT_EQ(app.Clean(), kSuccess);  // the first job's output is still there
    EXPECT_EQ(ReadFileBytes(program.log()).size(), 0u);
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
    ProgramCopy program(true);
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
    ASSERT_TRUE(wc::FileExists(expected));
    EXPECT_EQ(DataChunk(ReadFileBytes(expected)), std::string(samples.begin(), samples.end()));
}

}  // namespace
