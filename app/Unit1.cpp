#include "app/Unit1.h"

#include <windows.h>

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

std::string BuildConverterCommandLine(std::string_view sourcePath, std::string_view folder, std::string_view codec) {
    const std::string keepFormat = codec.empty() ? std::string() : "-c:a " + std::string(codec) + " ";
    return "extras\\ffmpeg -i \"" + std::string(sourcePath) + "\" -f wav -bitexact -y " + keepFormat + "\"" +
           BuildOutputPath(folder, sourcePath) + "\"";
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

// The labels hold the choices: the output path shown and the one the job
// writes are both made from them.
void TForm1::UpdateOutputState() {
    if (!IsChoiceMade(Label1->Caption())) return;
    if (!IsChoiceMade(Label2->Caption())) return;
    BtnCleanFile->SetEnabled(true);
    Label5->SetCaption(BuildOutputPath(Label2->Caption(), Label1->Caption()));
}

void TForm1::btnSlInpClick(wc::TComponent*) {
    if (jobRunning_) return;
    if (!MMWaveOpenDialog1->Execute()) return;
    Label1->SetCaption(MMWaveOpenDialog1->FileName);
    UpdateOutputState();
}

void TForm1::BtnSloutClick(wc::TComponent*) {
    if (jobRunning_) return;
    if (!PBFolderDialog1->Execute()) return;
    Label2->SetCaption(PBFolderDialog1->Folder);
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
    const std::string commandLine = BuildConverterCommandLine(source, folder, KeepFormatCodecOf(source));

    busyCursor_ = true;
    const HCURSOR previousCursor = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    RunConverterJob(commandLine, kLogFileName);
    const CleanCheckResult check = CheckCleanCopy(source, output, [] { wc::Application().ProcessMessages(); });
    if (!check.logLine.empty())
        AppendLogLine(wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + kLogFileName, check.logLine);
    busyCursor_ = false;
    ::SetCursor(previousCursor);

    wc::ShowMessage(wc::ShiftJisToWide(check.success ? kOutputCompletedMessage : kConversionFailedMessage));
}

bool TForm1::RunConverterJob(const std::string& commandLine, const std::string& logFileName) {
    // Declared so that every way out closes the log first, then the process,
    // then the thread (destruction runs in reverse order).
    wc::FileHandle thread, process, log;

    const std::string programDir = wc::ExtractFileDir(wc::ExecutablePath());
    const std::string logPath = programDir + "\\" + logFileName;

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;  // 12
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;
    log.reset(::CreateFileA(logPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_WRITE_THROUGH,
                            nullptr));
    if (!log) return false;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;  // 68
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = log.get();
    startup.hStdError = log.get();

    std::vector<char> mutableCommandLine(commandLine.begin(), commandLine.end());
    mutableCommandLine.push_back('\0');
    PROCESS_INFORMATION created{};
    if (!::CreateProcessA(nullptr, mutableCommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          programDir.c_str(), &startup, &created))
        return false;
    process.reset(created.hProcess);
    thread.reset(created.hThread);

    ::WaitForInputIdle(process.get(), INFINITE);
    while (::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
        wc::Application().ProcessMessages();
        ::Sleep(kPollIntervalMs);
    }
    log.reset();
    process.reset();
    thread.reset();
    return true;
}
