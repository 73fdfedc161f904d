#include "app/Unit1.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
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

// Where the last folders are kept for the user, and under which names.
constexpr wchar_t kSettingsKey[] = L"Software\\Wave Cleaner";
constexpr wchar_t kSourceFolderValue[] = L"Source Folder";
constexpr wchar_t kOutputFolderValue[] = L"Output Folder";

// A folder kept for the user, when it is still there; else empty.
std::string RememberedFolder(const wchar_t* value) {
    std::wstring text(32768, L'\0');  // the longest path there is
    DWORD size = DWORD(text.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, value, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    text.resize(wcsnlen(text.c_str(), text.size()));
    const DWORD attributes = ::GetFileAttributesW(text.c_str());
    if (text.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    return wc::PathFromWide(text);
}

// Keeps a folder for the next start; a failure only costs the user a choice then.
void RememberFolder(const wchar_t* value, const std::string& folder) {
    HKEY opened = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS)
        return;
    const wc::RegistryKeyHandle key(opened);
    const std::wstring text = wc::PathToWide(folder);
    ::RegSetValueExW(key.get(), value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     DWORD((text.size() + 1) * sizeof(wchar_t)));
}

// The bar's range: a thousand steps for the whole job.
constexpr int kProgressSteps = 1000;
// One file's stretch of the bar, in hundredths: the check takes the last
// fifth (it reads the source and the copy once more, much faster than the
// converter runs); where the program decodes the source first, that takes
// the first third (the codec's pass is about as long as the converter's).
constexpr int kCheckFrom = 80;
// How far the bar must be before the time left is guessed: below 2 % the
// converter's start-up weighs too much.
constexpr int kEstimateFrom = 20;
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

void SortByName(std::vector<std::string>& paths) {
    const auto wide = [](const std::string& path) { return wc::PathToWide(path); };
    std::stable_sort(paths.begin(), paths.end(), [&](const std::string& a, const std::string& b) {
        // The file names as Explorer orders them (digits by their value, case
        // ignored); the same name in two folders by the folder.
        const int byName = ::StrCmpLogicalW(wide(ExtractBaseName(a)).c_str(), wide(ExtractBaseName(b)).c_str());
        return byName != 0 ? byName < 0 : ::StrCmpLogicalW(wide(a).c_str(), wide(b).c_str()) < 0;
    });
}

std::string LeftOutText(size_t count) {
    std::string text = std::to_string(count);
    text += count == 1 ? " dropped item was left out" : " dropped items were left out";
    text += ": only WAV files and one output folder are taken.";
    return text;
}

namespace {

// m:ss, or h:mm:ss from an hour on.
std::string Duration(uint64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", unsigned(seconds / 3600), unsigned(seconds / 60 % 60),
                      unsigned(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(seconds / 60), unsigned(seconds % 60));
    return text;
}

}  // namespace

std::string JobTimeText(uint64_t elapsedMs, int position) {
    std::string text = Duration(elapsedMs / 1000);
    text += " elapsed";
    if (position >= kEstimateFrom && position < kProgressSteps) {
        // The rest of the bar at the pace so far, to the nearest second.
        const uint64_t leftMs = elapsedMs * uint64_t(kProgressSteps - position) / uint64_t(position);
        text += ", about ";
        text += Duration((leftMs + 500) / 1000);
        text += " left";
    }
    return text;
}

std::string JobSummaryText(const std::vector<FileOutcome>& outcomes) {
    using Result = FileOutcome::Result;
    size_t cleaned = 0, notStarted = 0;
    std::string failed, stopped;
    for (const FileOutcome& outcome : outcomes) {
        switch (outcome.result) {
        case Result::Verified: ++cleaned; break;
        case Result::NotStarted: ++notStarted; break;
        case Result::Failed: failed += "\nFailed: " + outcome.source + ": " + outcome.reason; break;
        case Result::Refused: failed += "\nRefused: " + outcome.source + ": " + outcome.reason; break;
        case Result::Stopped: stopped += "\nStopped: " + outcome.source; break;
        }
    }
    const auto files = [](size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); };
    std::string text = "Cleaned ";
    text += std::to_string(cleaned) + " of " + files(outcomes.size()) + ".";
    text += failed;
    text += stopped;
    if (notStarted) text += "\nNot started: " + files(notStarted) + ".";
    return text;
}

std::string FileOfText(size_t k, size_t count) { return "file " + std::to_string(k) + " of " + std::to_string(count); }

TForm1::TForm1(wc::TComponent* owner) : wc::TForm(owner) {
    ReadLayoutResource("TFORM1");
    // The folders of the last session, where they are still there: the
    // output folder counts as chosen, the chooser opens in the source folder.
    if (const std::string output = RememberedFolder(kOutputFolderValue); !output.empty()) {
        Label2->SetPathCaption(output);
        PBFolderDialog1->Folder = output;
    }
    if (const std::string sources = RememberedFolder(kSourceFolderValue); !sources.empty())
        MMWaveOpenDialog1->SetInitialDir(sources);
}

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
    fields.Field("Label7", Label7);
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
    if (message == WM_SETCURSOR && busyCursor_ && LOWORD(lParam) == HTCLIENT &&
        reinterpret_cast<HWND>(wParam) != BtnCleanFile->Handle()) {
        // The wait cursor shows where nothing can be done during a job: over
        // the window's face, its labels and the choosing buttons, which the
        // job refuses. STOP and the frame keep their own cursor, so the live
        // window does not look frozen.
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
    RememberFolder(kSourceFolderValue, wc::ExtractFileDir(sources_.front()));
    Label1->SetPathCaption(WithMoreCount(sources_.front(), sources_.size()));
}

void TForm1::FilesDropped(HDROP drop) {
    std::vector<std::string> waves, folders;
    size_t leftOut = 0;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        name.resize(::DragQueryFileW(drop, i, name.data(), UINT(name.size())));
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        const std::string path = wc::PathFromWide(name);
        if (name.empty() || attributes == INVALID_FILE_ATTRIBUTES) {
            ++leftOut;
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(path);
        } else if (path.size() > 4 && wc::SameText(path.substr(path.size() - 4), ".wav")) {
            waves.push_back(path);
        } else {
            ++leftOut;
        }
    }
    // Several folders name no one output folder: all are left out.
    if (folders.size() > 1) leftOut += folders.size();
    // The shell hands the items over in no order a person would expect.
    SortByName(waves);
    const bool taken = !waves.empty() || folders.size() == 1;
    if (!waves.empty()) SetSources(std::move(waves));
    if (folders.size() == 1) {
        Label2->SetPathCaption(folders.front());
        RememberFolder(kOutputFolderValue, folders.front());
    }
    if (taken) UpdateOutputState();
    if (leftOut) wc::ShowMessage(LeftOutText(leftOut));
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
    if (!PBFolderDialog1->Folder.empty()) RememberFolder(kOutputFolderValue, PBFolderDialog1->Folder);
    UpdateOutputState();
}

void TForm1::BtnCleanFileClick(wc::TComponent*) {
    if (jobRunning_) {  // the button says "STOP" meanwhile
        stopRequested_ = true;
        return;
    }
    jobRunning_ = true;
    stopRequested_ = false;
    // No drop is offered while the job runs: the cursor would promise one.
    ::DragAcceptFiles(Handle(), FALSE);
    // Every way out ends the job and carries out a close asked for during it.
    struct JobEnd {
        TForm1& form;
        ~JobEnd() {
            form.busyCursor_ = false;
            form.ShowJobControls(false);
            form.jobRunning_ = false;
            ::DragAcceptFiles(form.Handle(), TRUE);
            if (std::exchange(form.closePending_, false)) form.Close();
        }
    } jobEnd{*this};
    RunCleanJob();
}

void TForm1::ShowJobControls(bool running) {
    BtnCleanFile->SetCaption(running ? "STOP" : "&CLEAN FILE");
    ProgressBar1->SetPosition(0);
    ProgressBar1->SetVisible(running);
    Label6->SetCaption("");
    Label6->SetVisible(running);
    Label7->SetCaption("");
    Label7->SetVisible(running);
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

void TForm1::RefreshCursor() {
    // Asks the window under the pointer for its cursor, as the system does
    // when the pointer moves.
    POINT at{};
    if (!::GetCursorPos(&at)) return;
    HWND under = ::WindowFromPoint(at);
    if (!under || (under != Handle() && !::IsChild(Handle(), under))) return;
    const LRESULT hit = ::SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
    ::SendMessageW(under, WM_SETCURSOR, WPARAM(under), MAKELPARAM(hit, WM_MOUSEMOVE));
}

void TForm1::RunCleanJob() {
    const std::vector<std::string> sources = sources_;
    const std::string folder = Label2->Caption();
    if (sources.empty()) return;
    const LogLocation log = FindLogLocation();

    busyCursor_ = true;
    jobStartedMs_ = ::GetTickCount64();
    ShowJobControls(true);
    RefreshCursor();
    if (!taskbar_) {
        ITaskbarList3* made = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskbarList3),
                                         reinterpret_cast<void**>(&made)))) {
            taskbar_.reset(made);
            if (FAILED(taskbar_.get()->HrInit())) taskbar_.reset();
        }
    }
    SetTaskbarState(TBPF_NORMAL);
    ShowJobStep(0);

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
    ShowJobControls(false);
    RefreshCursor();

    const auto any = [&](FileOutcome::Result result) {
        return std::any_of(outcomes.begin(), outcomes.end(), [&](const FileOutcome& o) { return o.result == result; });
    };
    const bool stopped = any(FileOutcome::Result::Stopped);
    const bool allVerified = std::all_of(outcomes.begin(), outcomes.end(), [](const FileOutcome& o) {
        return o.result == FileOutcome::Result::Verified;
    });
    // The taskbar button keeps the error until the message is read.
    SetTaskbarState(!stopped && !allVerified ? TBPF_ERROR : TBPF_NOPROGRESS);
    if (::GetForegroundWindow() != Handle()) {
        // Ended in the background: the taskbar button flashes until the window comes forward.
        FLASHWINFO flash{sizeof flash, Handle(), FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
        ::FlashWindowEx(&flash);
    }
    if (closePending_) {
        // Closed during the job: the log tells what became of it, no message holds the close up.
        SetTaskbarState(TBPF_NOPROGRESS);
        return;
    }
    if (sources.size() == 1 && !stopped) {
        // One file: the program's own two messages.
        wc::ShowMessage(allVerified ? wc::ShiftJisToWide(kOutputCompletedMessage) : ConversionFailedText(log));
    } else {
        ShowSummary(JobSummaryText(outcomes), log.path, folder);
    }
    SetTaskbarState(TBPF_NOPROGRESS);
}

void TForm1::ShowSummary(const std::string& text, const std::string& logPath, const std::string& folder) {
    const int pressed = wc::ShowMessage(wc::PathToWide(text), {L"Open &log", L"Open &folder", L"Close"});
    const std::string& target = pressed == 0 ? logPath : folder;
    if ((pressed == 0 && !logPath.empty()) || pressed == 1)
        ::ShellExecuteW(Handle(), L"open", wc::PathToWide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
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
    ShowJobStep(int(step));
}

void TForm1::ShowJobStep(int step) {
    ProgressBar1->SetPosition(step);
    Label7->SetCaption(JobTimeText(::GetTickCount64() - jobStartedMs_, step));
    if (taskbar_) taskbar_.get()->SetProgressValue(Handle(), ULONGLONG(step), ULONGLONG(kProgressSteps));
}

void TForm1::SetTaskbarState(TBPFLAG state) {
    if (taskbar_) taskbar_.get()->SetProgressState(Handle(), state);
}

bool TForm1::RunConverterJob(const std::string& commandLine, const std::string& logFileName, DWORD* exitCode) {
    const ConverterRun run = RunConverter(commandLine, wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + logFileName,
                                          [] { wc::Application().ProcessMessages(); });
    if (exitCode) *exitCode = run.exitCode;
    return run.started;
}
