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

// The bar's range: a thousand steps for the whole job.
constexpr int kProgressSteps = 1000;
// One file's stretch of the bar, in hundredths: the check takes the last
// fifth (it reads the source and the copy once more, much faster than the
// converter runs); where the program decodes the source first, that takes
// the first third (the codec's pass is about as long as the converter's).
constexpr int kCheckFrom = 80;
constexpr int kDecodedConverterFrom = 33;

}  // namespace

std::wstring ConversionFailedText(const LogLocation& log) {
    const std::wstring text = wc::ShiftJisToWide(kConversionFailedMessage);
    const std::wstring installationFolder = L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u30C7\u30A3\u30EC\u30AF\u30C8\u30EA";
    const size_t at = text.find(installationFolder);
    if (log.besideProgram || log.path.empty() || at == std::wstring::npos) return text;
    return text.substr(0, at) + wc::PathToWide(wc::ExtractFileDir(log.path)) + L" " +
           text.substr(at + installationFolder.size());
}

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
    // The session may end during a job: the job is stopped, and once the
    // session surely ends, its converter and temporary files go at once
    // (the process may end as soon as this returns).
    if (message == WM_QUERYENDSESSION && jobRunning_) {
        stopRequested_ = true;
        return TRUE;
    }
    if (message == WM_ENDSESSION && wParam && runningJob_) {
        stopRequested_ = true;
        runningJob_->Abandon();
        return 0;
    }
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
    const LogLocation log = FindLogLocation();

    busyCursor_ = true;
    const HCURSOR previousCursor = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    ShowJobControls(true);
    // Between its waits the job answers input, moves the bar and leaves when
    // stopped; its converter and temporary files go with it.
    CleanJob job([this] {
        wc::Application().ProcessMessages();
        ShowJobProgress();
        if (stopRequested_) throw JobStopped{};
    });
    runningJob_ = &job;
    shownFile_ = 0;
    std::vector<FileOutcome> outcomes;
    try {
        outcomes = job.Run(sources, folder, log);
    } catch (...) {
        runningJob_ = nullptr;
        throw;
    }
    runningJob_ = nullptr;
    busyCursor_ = false;
    ::SetCursor(previousCursor);
    ShowJobControls(false);
    // A stopped job ends quietly: its log line says what became of it.
    const auto is = [&](FileOutcome::Result result) {
        return std::any_of(outcomes.begin(), outcomes.end(), [&](const FileOutcome& o) { return o.result == result; });
    };
    if (is(FileOutcome::Result::Stopped)) return;
    const bool allVerified = std::all_of(outcomes.begin(), outcomes.end(), [](const FileOutcome& o) {
        return o.result == FileOutcome::Result::Verified;
    });
    wc::ShowMessage(allVerified ? wc::ShiftJisToWide(kOutputCompletedMessage) : ConversionFailedText(log));
}

void TForm1::ShowJobProgress() {
    // `done` of `total` across the stretch [from, to) of the file's hundred.
    const auto within = [](uint64_t done, uint64_t total, int from, int to) {
        return total ? from + int(std::min(done, total) * uint64_t(to - from) / total) : from;
    };
    if (!runningJob_) return;
    const BatchProgress& progress = runningJob_->Progress();
    if (progress.count > 1 && progress.index + 1 != shownFile_) {
        shownFile_ = progress.index + 1;
        Label6->SetCaption(FileOfText(shownFile_, progress.count));
    }
    const JobProgress& job = progress.job;
    const int converterFrom = progress.decodes ? kDecodedConverterFrom : 0;
    int share = 0;
    switch (job.stage) {
    case JobProgress::Stage::Decoding:
        share = within(job.done, job.total, 0, converterFrom);
        break;
    case JobProgress::Stage::Converting: {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        uint64_t written = 0;
        if (::GetFileAttributesExW(wc::PathToWide(progress.partialCopy).c_str(), GetFileExInfoStandard, &data))
            written = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        share = within(written, progress.expectedBytes, converterFrom, kCheckFrom);
        break;
    }
    case JobProgress::Stage::Checking:
        share = within(job.done, job.total, kCheckFrom, 100);
        break;
    }
    // The file's stretch of the bar, of its count.
    const int64_t step =
        (int64_t(progress.index) * 100 + share) * kProgressSteps / (int64_t(std::max<size_t>(progress.count, 1)) * 100);
    ProgressBar1->SetPosition(int(step));
}

bool TForm1::RunConverterJob(const std::string& commandLine, const std::string& logFileName, DWORD* exitCode) {
    const ConverterRun run = RunConverter(commandLine, wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + logFileName,
                                          [] { wc::Application().ProcessMessages(); });
    if (exitCode) *exitCode = run.exitCode;
    return run.started;
}
