#include "app/Unit1.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/CleanJob.h"
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
// The bar's range: a thousand steps for the whole job.
constexpr int kProgressSteps = 1000;
// One file's stretch of the bar, in hundredths: the check takes the last
// fifth (it reads the source and the copy once more, much faster than the
// converter runs); where the program decodes the source first, that takes
// the first third (the codec's pass is about as long as the converter's).
constexpr int kCheckFrom = 80;
constexpr int kDecodedConverterFrom = 33;

// Raised from the check's block callback to leave it when the job is stopped.
struct JobStopped {};

std::string ProgramLogPath() { return wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + kLogFileName; }

// The name a copy gets, as the file system compares names (case ignored).
std::string CopyNameKey(const std::string& source) {
    std::wstring name = wc::PathToWide(ExtractBaseName(source));
    ::CharUpperBuffW(name.data(), DWORD(name.size()));
    return wc::PathFromWide(name);
}

}  // namespace

bool IsChoiceMade(std::string_view caption) { return caption.substr(0, 2) != "No"; }

std::string WithMoreCount(std::string_view first, size_t count) {
    std::string text(first);
    if (count > 1) text += " (+" + std::to_string(count - 1) + " more)";
    return text;
}

std::string FileOfText(size_t k, size_t count) { return "file " + std::to_string(k) + " of " + std::to_string(count); }

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
    fields.Field("ProgressBar1", ProgressBar1);
    fields.Field("Label6", Label6);
}

void TForm1::DeclareMethods(wc::MethodTable& methods) {
    methods.Method("btnSlInpClick", this, &TForm1::btnSlInpClick);
    methods.Method("BtnSloutClick", this, &TForm1::BtnSloutClick);
    methods.Method("BtnCleanFileClick", this, &TForm1::BtnCleanFileClick);
}

LRESULT TForm1::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE && jobRunning_) {
        // The job stops as Stop stops it; the window closes once it has.
        stopRequested_ = true;
        closePending_ = true;
        return 0;
    }
    if (message == WM_DROPFILES) {
        wc::DropHandle drop(reinterpret_cast<HDROP>(wParam));
        if (!jobRunning_) FilesDropped(drop.get());  // refused during a job
        return 0;
    }
    if (message == WM_SETCURSOR && busyCursor_) {
        ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
        return TRUE;
    }
    return wc::TForm::WndProc(message, wParam, lParam);
}

void TForm1::CreateParams(wc::TCreateParams& params) {
    wc::TForm::CreateParams(params);
    params.exStyle |= WS_EX_ACCEPTFILES;
}

// The labels hold the choices, as UTF-8 paths: the output path shown and the
// one the job writes are both made from them.
void TForm1::UpdateOutputState() {
    if (!IsChoiceMade(Label1->Caption())) return;
    if (!IsChoiceMade(Label2->Caption())) return;
    BtnCleanFile->SetEnabled(true);
    Label5->SetPathCaption(WithMoreCount(BuildOutputPath(Label2->Caption(), sources_.front()), sources_.size()));
}

void TForm1::SetSources(std::vector<std::string> sources) {
    sources_ = std::move(sources);
    Label1->SetPathCaption(WithMoreCount(sources_.front(), sources_.size()));
}

void TForm1::FilesDropped(HDROP drop) {
    std::vector<std::string> waves, folders;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        name.resize(::DragQueryFileW(drop, i, name.data(), UINT(name.size())));
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (name.empty() || attributes == INVALID_FILE_ATTRIBUTES) continue;
        const std::string path = wc::PathFromWide(name);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(path);
        } else if (path.size() > 4 && wc::SameText(path.substr(path.size() - 4), ".wav")) {
            waves.push_back(path);
        }
    }
    // Anything else is ignored, silently; so is a drop of several folders.
    if (!waves.empty()) SetSources(std::move(waves));
    if (folders.size() == 1) Label2->SetPathCaption(folders.front());
    if (!waves.empty() || folders.size() == 1) UpdateOutputState();
}

void TForm1::btnSlInpClick(wc::TComponent*) {
    if (jobRunning_) return;
    if (!MMWaveOpenDialog1->Execute()) return;
    std::vector<std::string> chosen = MMWaveOpenDialog1->Files();
    if (chosen.empty()) chosen.push_back(MMWaveOpenDialog1->FileName);
    SetSources(std::move(chosen));
    UpdateOutputState();
}

void TForm1::BtnSloutClick(wc::TComponent*) {
    if (jobRunning_) return;
    if (!PBFolderDialog1->Execute()) return;
    Label2->SetPathCaption(PBFolderDialog1->Folder);
    UpdateOutputState();
}

void TForm1::BtnCleanFileClick(wc::TComponent*) {
    if (jobRunning_) {  // the button says "STOP" meanwhile
        stopRequested_ = true;
        return;
    }
    jobRunning_ = true;
    stopRequested_ = false;
    // Every way out ends the job and carries out a close asked for during it.
    struct JobEnd {
        TForm1& form;
        ~JobEnd() {
            form.busyCursor_ = false;
            form.ShowJobControls(false);
            form.jobRunning_ = false;
            if (std::exchange(form.closePending_, false)) form.Close();
        }
    } jobEnd{*this};
    RunCleanJob();
}

void TForm1::ShowJobControls(bool running) {
    BtnCleanFile->SetCaption(running ? "STOP" : "CLEAN FILE");
    ProgressBar1->SetPosition(0);
    ProgressBar1->SetVisible(running);
    Label6->SetCaption("");
    Label6->SetVisible(running);
    Label3->SetVisible(!running);
    // Esc stops the job wherever the focus is in the window.
    if (running) {
        wc::Application().OnMessage = [this](const MSG& message) {
            const bool escape = message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE &&
                                (message.hwnd == Handle() || ::IsChild(Handle(), message.hwnd));
            if (escape) stopRequested_ = true;
            return escape;
        };
    } else {
        wc::Application().OnMessage = nullptr;
    }
}

void TForm1::RunCleanJob() {
    const std::vector<std::string> sources = sources_;
    const std::string folder = Label2->Caption();
    if (sources.empty()) return;
    const std::string logPath = ProgramLogPath();

    busyCursor_ = true;
    const HCURSOR previousCursor = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    ShowJobControls(true);
    bool allVerified = true, stopped = false;
    if (sources.size() == 1) {
        const FileOutcome outcome = CleanOneFile(sources.front(), folder, false);
        allVerified = outcome.verified;
        stopped = outcome.stopped;
    } else {
        // One log for the batch: started empty, each converter's output
        // appended behind a line naming its source.
        wc::FileHandle(::CreateFileW(wc::PathToWide(logPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        std::vector<std::string> copyNames;
        for (size_t i = 0; i < sources.size() && !stopped; ++i) {
            const std::string& source = sources[i];
            progress_.index = i;
            progress_.count = sources.size();
            Label6->SetCaption(FileOfText(i + 1, sources.size()));
            ProgressBar1->SetPosition(int(i * kProgressSteps / sources.size()));
            const std::string key = CopyNameKey(source);
            if (std::find(copyNames.begin(), copyNames.end(), key) != copyNames.end()) {
                AppendLogLine(logPath, "refused: " + source + ": an earlier source of this batch has the same name, "
                                                              "and its clean copy would be overwritten");
                allVerified = false;
                continue;
            }
            copyNames.push_back(key);
            AppendLogLine(logPath, "source " + std::to_string(i + 1) + " of " + std::to_string(sources.size()) +
                                       ": " + source);
            const FileOutcome outcome = CleanOneFile(source, folder, true);
            stopped = outcome.stopped;
            if (!outcome.verified && !outcome.stopped) {
                allVerified = false;
                AppendLogLine(logPath, "failed: " + source + ": " +
                                           (outcome.logLine.empty() ? "the clean copy could not be verified"
                                                                    : outcome.logLine));
            }
        }
    }
    busyCursor_ = false;
    ::SetCursor(previousCursor);
    ShowJobControls(false);
    // A stopped job ends quietly: its log line says what became of it.
    if (stopped) return;
    wc::ShowMessage(wc::ShiftJisToWide(allVerified ? kOutputCompletedMessage : kConversionFailedMessage));
}

TForm1::FileOutcome TForm1::CleanOneFile(const std::string& source, const std::string& folder, bool append) {
    const std::string output = BuildOutputPath(folder, source);
    const CleanPlan plan = PlanCleanJob(source);
    progress_.output = output;
    progress_.expectedBytes = plan.copyBytes;
    progress_.decodes = plan.route == CleanPlan::Route::Decode;
    progress_.job = {};

    FileOutcome outcome;
    try {
        // Between its waits the job answers input, moves the bar and leaves
        // when stopped; a converter left this way is ended (RunConverter).
        outcome.logLine = CleanAndCheck(
            source, plan, output, ProgramLogPath(),
            [this] {
                wc::Application().ProcessMessages();
                ShowJobProgress();
                if (stopRequested_) throw JobStopped{};
            },
            append, &progress_.job);
        outcome.verified = outcome.logLine.empty();
    } catch (const JobStopped&) {
        FileStopped(source, output);
        outcome.stopped = true;
    }
    return outcome;
}

void TForm1::FileStopped(const std::string& source, const std::string& output) {
    // The copy is unfinished, or finished but not verified: neither may stay.
    const bool gone = ::DeleteFileW(wc::PathToWide(output).c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
    AppendLogLine(ProgramLogPath(), "stopped: " + source + ": " +
                                        (gone ? "its unfinished copy was deleted"
                                              : "its unfinished copy could not be deleted: " + output));
}

void TForm1::ShowJobProgress() {
    // `done` of `total` across the stretch [from, to) of the file's hundred.
    const auto within = [](uint64_t done, uint64_t total, int from, int to) {
        return total ? from + int(std::min(done, total) * uint64_t(to - from) / total) : from;
    };
    const JobProgress& job = progress_.job;
    const int converterFrom = progress_.decodes ? kDecodedConverterFrom : 0;
    int share = 0;
    switch (job.stage) {
    case JobProgress::Stage::Decoding:
        share = within(job.done, job.total, 0, converterFrom);
        break;
    case JobProgress::Stage::Converting: {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        uint64_t written = 0;
        if (::GetFileAttributesExW(wc::PathToWide(progress_.output).c_str(), GetFileExInfoStandard, &data))
            written = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        share = within(written, progress_.expectedBytes, converterFrom, kCheckFrom);
        break;
    }
    case JobProgress::Stage::Checking:
        share = within(job.done, job.total, kCheckFrom, 100);
        break;
    }
    // The file's stretch of the bar, of its count.
    const int64_t step = (int64_t(progress_.index) * 100 + share) * kProgressSteps / (int64_t(progress_.count) * 100);
    ProgressBar1->SetPosition(int(step));
}

bool TForm1::RunConverterJob(const std::string& commandLine, const std::string& logFileName, DWORD* exitCode) {
    return RunConverter(commandLine, wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + logFileName, exitCode,
                        [] { wc::Application().ProcessMessages(); });
}
