#include "app/Unit1.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/CleanCheck.h"
#include "framework/Files.h"
#include "framework/Handles.h"
#include "framework/Strings.h"

const char kOutputCompletedMessage[] =
    "\x8F\x6F\x97\xCD\x82\xF0\x8A\xAE\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";
const char kConversionFailedMessage[] =
    "\x83\x52\x83\x93\x83\x6F\x81\x5B\x83\x67\x92\x86\x82\xC9\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6"
    "\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"
    "\r"
    "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x93\xE0"
    "\x82\xC9\x82\xA0\x82\xE9"
    "Cvlog.log"
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0"
    "\r"
    "Varnel"
    "\x92\x53\x93\x96\x82\xDC\x82\xC5\x82\xA8\x91\x97\x82\xE8\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42";

namespace {

constexpr char kLogFileName[] = "Cvlog.log";
// How often the job looks whether the converter has ended.
constexpr DWORD kPollIntervalMs = 100;

}  // namespace

std::string ExtractBaseName(std::string_view path) {
    std::string text(path);
    for (char& c : text)
        if (c == '/') c = '\\';
    const size_t last = text.rfind('\\');
    return last == std::string::npos ? text : text.substr(last + 1);
}

std::string BuildOutputPath(std::string_view folder, std::string_view sourcePath) {
    return std::string(folder) + "\\Clean_" + ExtractBaseName(sourcePath);
}

std::string ConverterCommandLine(std::string_view inputPath, std::string_view outputPath, std::string_view codec,
                                 bool rf64) {
    const std::string keepFormat = codec.empty() ? std::string() : "-c:a " + std::string(codec) + " ";
    const std::string large = rf64 ? "-rf64 auto " : "";
    return "extras\\ffmpeg -i \"" + std::string(inputPath) + "\" -f wav -bitexact -y " + keepFormat + large + "\"" +
           std::string(outputPath) + "\"";
}

std::string BuildConverterCommandLine(std::string_view sourcePath, std::string_view folder, std::string_view codec) {
    return ConverterCommandLine(sourcePath, BuildOutputPath(folder, sourcePath), codec, false);
}

bool IsChoiceMade(std::string_view caption) { return caption.substr(0, 2) != "No"; }

TForm1::TForm1(wc::TComponent* owner) : wc::TForm(owner) { ReadLayoutResource("TFORM1"); }

void TForm1::DeclareFields(wc::FieldTable& fields) {
    fields.Field("PBFolderDialog1", PBFolderDialog1);
    fields.Field("MMWaveOpenDialog1", MMWaveOpenDialog1);
    fields.Field("btnSlInp", btnSlInp);
    fields.Field("Label1", Label1);
    fields.Field("BtnSlout", BtnSlout);
    fields.Field("Label2", Label2);
    fields.Field("BtnCleanFile", BtnCleanFile);
    fields.Field("Label3", Label3);
    fields.Field("Label4", Label4);
    fields.Field("Label5", Label5);
}

void TForm1::DeclareMethods(wc::MethodTable& methods) {
    methods.Method("btnSlInpClick", this, &TForm1::btnSlInpClick);
    methods.Method("BtnSloutClick", this, &TForm1::BtnSloutClick);
    methods.Method("BtnCleanFileClick", this, &TForm1::BtnCleanFileClick);
}

LRESULT TForm1::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE && jobRunning_) {
        closePending_ = true;  // closed once the job's outcome was shown
        return 0;
    }
    if (message == WM_SETCURSOR && busyCursor_) {
        ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
        return TRUE;
    }
    return wc::TForm::WndProc(message, wParam, lParam);
}

// The labels hold the choices, as UTF-8 paths: the output path shown and the
// one the job writes are both made from them.
void TForm1::UpdateOutputState() {
    if (!IsChoiceMade(Label1->Caption())) return;
    if (!IsChoiceMade(Label2->Caption())) return;
    BtnCleanFile->SetEnabled(true);
    Label5->SetPathCaption(BuildOutputPath(Label2->Caption(), Label1->Caption()));
}

void TForm1::btnSlInpClick(wc::TComponent*) {
    if (jobRunning_) return;
    if (!MMWaveOpenDialog1->Execute()) return;
    Label1->SetPathCaption(MMWaveOpenDialog1->FileName);
    UpdateOutputState();
}

void TForm1::BtnSloutClick(wc::TComponent*) {
    if (jobRunning_) return;
    if (!PBFolderDialog1->Execute()) return;
    Label2->SetPathCaption(PBFolderDialog1->Folder);
    UpdateOutputState();
}

void TForm1::BtnCleanFileClick(wc::TComponent*) {
    if (jobRunning_) return;  // one job at a time
    jobRunning_ = true;
    // Every way out ends the job and carries out a close asked for during it.
    struct JobEnd {
        TForm1& form;
        ~JobEnd() {
            form.busyCursor_ = false;
            form.jobRunning_ = false;
            if (std::exchange(form.closePending_, false)) form.Close();
        }
    } jobEnd{*this};
    RunCleanJob();
}

void TForm1::RunCleanJob() {
    const std::string source = Label1->Caption();
    const std::string folder = Label2->Caption();
    const std::string output = BuildOutputPath(folder, source);
    const std::string logPath = wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + kLogFileName;

    busyCursor_ = true;
    const HCURSOR previousCursor = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    const std::string failure = CleanAndCheck(source, output, logPath, [] { wc::Application().ProcessMessages(); });
    busyCursor_ = false;
    ::SetCursor(previousCursor);

    wc::ShowMessage(wc::ShiftJisToWide(failure.empty() ? kOutputCompletedMessage : kConversionFailedMessage));
}

namespace {

// A temporary file of this job, removed when the job ends.
struct TemporaryFile {
    TemporaryFile() {
        wchar_t folder[MAX_PATH] = L"", name[MAX_PATH] = L"";
        if (::GetTempPathW(MAX_PATH, folder) && ::GetTempFileNameW(folder, L"wcd", 0, name))
            path = wc::PathFromWide(name);
    }
    ~TemporaryFile() {
        if (!path.empty()) ::DeleteFileW(wc::PathToWide(path).c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    std::string path;
};

}  // namespace

std::string CleanAndCheck(const std::string& source, const std::string& output, const std::string& logPath,
                          const std::function<void()>& pump) {
    const auto fail = [&](const std::string& line) {
        AppendLogLine(logPath, line);
        return line;
    };
    const CleanPlan plan = PlanCleanJob(source);
    if (plan.route == CleanPlan::Route::Refuse) {
        ::DeleteFileW(wc::PathToWide(logPath).c_str());  // the log belongs to this job alone
        return fail("clean copy refused: " + plan.reason);
    }
    // The converter reads the source itself, or the PCM the program decoded it to.
    std::string input = source;
    TemporaryFile decoded;
    if (plan.route == CleanPlan::Route::Decode) {
        std::string why = "no temporary file can be made";
        if (decoded.path.empty() || !DecodeToPcmWave(source, decoded.path, pump, why)) {
            ::DeleteFileW(wc::PathToWide(logPath).c_str());
            return fail("clean copy refused: the source cannot be decoded here: " + why);
        }
        input = decoded.path;
    }

    DWORD exitCode = 0;
    if (!RunConverter(ConverterCommandLine(input, output, plan.codec, plan.beyond4GiB), logPath, &exitCode, pump))
        return fail("clean copy check failed: the converter could not be started (extras\\ffmpeg.exe missing?)");
    if (exitCode != 0)
        return fail("clean copy check failed: the converter ended with exit code " + std::to_string(exitCode));
    const CleanCheckResult check = CheckCleanCopy(input, output, pump);
    if (!check.success) return fail(check.logLine.empty() ? "clean copy check failed" : check.logLine);
    return {};
}

bool TForm1::RunConverterJob(const std::string& commandLine, const std::string& logFileName, DWORD* exitCode) {
    return RunConverter(commandLine, wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + logFileName, exitCode,
                        [] { wc::Application().ProcessMessages(); });
}

bool RunConverter(const std::string& commandLine, const std::string& logPath, DWORD* exitCode,
                  const std::function<void()>& betweenPolls) {
    // Declared so that every way out closes the log first, then the process,
    // then the thread (destruction runs in reverse order).
    wc::FileHandle thread, process, log;

    const std::string programDir = wc::ExtractFileDir(wc::ExecutablePath());

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;  // 12
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;
    log.reset(::CreateFileW(wc::PathToWide(logPath).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_WRITE_THROUGH,
                            nullptr));
    if (!log) return false;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;  // 68
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = log.get();
    startup.hStdError = log.get();

    // The command line holds the paths, so it goes to the system wide.
    const std::wstring wideCommandLine = wc::PathToWide(commandLine);
    std::vector<wchar_t> mutableCommandLine(wideCommandLine.begin(), wideCommandLine.end());
    mutableCommandLine.push_back(L'\0');
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          wc::PathToWide(programDir).c_str(), &startup, &created))
        return false;
    process.reset(created.hProcess);
    thread.reset(created.hThread);

    ::WaitForInputIdle(process.get(), INFINITE);
    while (::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
        if (betweenPolls) betweenPolls();
        ::Sleep(kPollIntervalMs);
    }
    if (exitCode && !::GetExitCodeProcess(process.get(), exitCode)) *exitCode = DWORD(-1);
    log.reset();
    process.reset();
    thread.reset();
    return true;
}
