#include "app/CleanJob.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Version.h"
#include "framework/Files.h"
#include "framework/Handles.h"
#include "framework/Strings.h"

namespace {

constexpr char kLogFileName[] = "Cvlog.log";
// The log's folder under the user's local application data.
constexpr wchar_t kLogFolderName[] = L"Wave Cleaner";
// While the converter runs, the caller is called back this often (input is
// answered as it arrives): often enough for a smooth progress bar, seldom
// enough that asking the output file's size costs nothing.
constexpr DWORD kProgressRefreshMs = 200;
// How long a stopped converter is given to end before its files are removed.
constexpr DWORD kStopWaitMs = 10000;
// The exit code given to a converter that was stopped.
constexpr UINT kStoppedExitCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT, as a console break leaves it
// The job's temporary files: "~WaveCleaner-<process>-<n>[-decoded].tmp".
constexpr wchar_t kTemporaryPrefix[] = L"~WaveCleaner-";
constexpr wchar_t kTemporaryExtension[] = L".tmp";
// Free bytes under which a failure in the output folder is put down to a
// full drive: less than any converter needs for the header and a block.
constexpr uint64_t kFullDriveBytes = 1 << 20;

std::wstring Wide(const std::string& path) { return wc::PathToWide(path); }

// The system's text for an error code, on one line.
std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", length);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return wc::PathFromWide(message) + " (error " + std::to_string(code) + ")";
}

bool Exists(const std::string& path) { return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Whether two paths name one file: the same full name (case ignored), or,
// when both exist, the same file of the same volume (another spelling, a
// short name, a link).
bool SameFile(const std::string& a, const std::string& b) {
    const auto fullName = [](const std::string& path) {
        std::wstring wide = Wide(path);
        std::vector<wchar_t> full(wide.size() + MAX_PATH);
        const DWORD length = ::GetFullPathNameW(wide.c_str(), DWORD(full.size()), full.data(), nullptr);
        if (length > 0 && length < full.size()) wide.assign(full.data(), length);
        ::CharUpperBuffW(wide.data(), DWORD(wide.size()));
        return wide;
    };
    if (fullName(a) == fullName(b)) return true;
    const auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        wc::FileHandle file(::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return file && ::GetFileInformationByHandle(file.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return identity(a, x) && identity(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

// "; the drive of <folder> is full" when it has next to no room left.
std::string FullDriveNote(const std::string& folder) {
    ULARGE_INTEGER free{};
    if (!::GetDiskFreeSpaceExW(Wide(folder + "\\").c_str(), &free, nullptr, nullptr) ||
        free.QuadPart >= kFullDriveBytes)
        return {};
    return "; the drive of " + folder + " is full (" + std::to_string(free.QuadPart) + " bytes free)";
}

// "; a; b" for the notes of a verdict line; empty when there are none.
std::string Notes(const std::vector<std::string>& notes) {
    std::string text;
    for (const std::string& note : notes) text += "; " + note;
    return text;
}

const char* StageName(JobProgress::Stage stage) {
    switch (stage) {
    case JobProgress::Stage::Decoding: return "decoding";
    case JobProgress::Stage::Converting: return "converting";
    case JobProgress::Stage::Checking: return "checking";
    }
    return "";
}

// Keeps the previous job's log beside it (one generation: a retry does not
// erase what the user was asked to send), then starts the log anew with its
// header; false when it cannot be made.
bool StartLog(const std::string& path, const std::vector<std::string>& sources) {
    const std::wstring log = Wide(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    // An empty log is the one FindLogLocation made: no job wrote it.
    if (::GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &data) && (data.nFileSizeLow || data.nFileSizeHigh))
        ::MoveFileExW(log.c_str(), Wide(PreviousLogPath(path)).c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!wc::FileHandle(::CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)))
        return false;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return AppendLogLine(path, LogHeader(WC_VERSION_TEXT, now, sources));
}

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
    return "extras\\ffmpeg -guess_layout_max 2 -i \"" + std::string(inputPath) + "\" -f wav -bitexact -y " +
           keepFormat + large + "\"" + std::string(outputPath) + "\"";
}

std::string PreviousLogPath(const std::string& logPath) {
    const size_t dot = logPath.rfind('.');
    const size_t slash = logPath.find_last_of("\\/");
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return extension ? logPath.substr(0, dot) + ".previous" + logPath.substr(dot) : logPath + ".previous";
}

std::string LogHeader(std::string_view version, const SYSTEMTIME& at, const std::vector<std::string>& sources) {
    char when[64];
    std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", unsigned(at.wYear), unsigned(at.wMonth),
                  unsigned(at.wDay), unsigned(at.wHour), unsigned(at.wMinute), unsigned(at.wSecond));
    std::string header = "Wave Cleaner ";
    header += version;
    header += ", job of ";
    header += when;
    header += ", ";
    header += std::to_string(sources.size());
    header += sources.size() == 1 ? " source:" : " sources:";
    for (const std::string& source : sources) header += "\r\n  " + source;
    return header;
}

LogLocation FindLogLocation() {
    const std::string besideProgram = wc::ExtractFileDir(wc::ExecutablePath()) + "\\" + kLogFileName;
    // Opened, not created anew: the last job's log stays until the next job starts.
    if (wc::FileHandle(::CreateFileW(Wide(besideProgram).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)))
        return {besideProgram, true};
    wchar_t local[MAX_PATH] = L"";
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, local)))
        return {{}, false};
    const std::wstring folder = std::wstring(local) + L"\\" + kLogFolderName;
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::string path = wc::PathFromWide(folder) + "\\" + kLogFileName;
    if (!wc::FileHandle(::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)))
        return {{}, false};
    return {path, false};
}

ConverterRun RunConverter(const std::string& commandLine, const std::string& logPath,
                          const std::function<void()>& betweenPolls, HANDLE* runningJob) {
    ConverterRun run;
    // Declared so that every way out closes the log first, then the process,
    // then the thread, then the job object (destruction runs in reverse).
    wc::KernelHandle job;
    wc::FileHandle thread, process, log;

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    // The converter's output goes to the end of the log; where there is no
    // log it goes nowhere, and the job still runs.
    if (!logPath.empty())
        log.reset(::CreateFileW(Wide(logPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log)
        log.reset(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                                0, nullptr));
    LARGE_INTEGER end{};
    if (log) ::SetFilePointerEx(log.get(), end, nullptr, FILE_END);

    // The converter ends with the program, however the program ends.
    job.reset(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job || !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        run.failure = "the converter's job object cannot be made: " + SystemText(::GetLastError());
        return run;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = log.get();
    startup.hStdError = log.get();

    // The command line holds the paths, so it goes to the system wide.
    const std::wstring wideCommandLine = Wide(commandLine);
    std::vector<wchar_t> mutableCommandLine(wideCommandLine.begin(), wideCommandLine.end());
    mutableCommandLine.push_back(L'\0');
    const std::string programDir = wc::ExtractFileDir(wc::ExecutablePath());
    PROCESS_INFORMATION created{};
    // Suspended until it is in the job object, so that nothing it starts escapes.
    if (!::CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                          Wide(programDir).c_str(), &startup, &created)) {
        const DWORD code = ::GetLastError();
        run.failure = "the converter could not be started (" + programDir + "\\extras\\ffmpeg.exe): " + SystemText(code);
        return run;
    }
    process.reset(created.hProcess);
    thread.reset(created.hThread);
    if (!::AssignProcessToJobObject(job.get(), process.get())) {
        run.failure = "the converter could not be tied to the program's life: " + SystemText(::GetLastError());
        ::TerminateProcess(process.get(), kStoppedExitCode);
        ::WaitForSingleObject(process.get(), kStopWaitMs);
        return run;
    }
    ::ResumeThread(thread.get());
    if (runningJob) *runningJob = job.get();

    // A converter left by an exception from `betweenPolls` (a stopped job)
    // is ended before its handles close, so that its output can go.
    struct EndOnUnwind {
        HANDLE converter;
        HANDLE* runningJob;
        int exceptions = std::uncaught_exceptions();
        ~EndOnUnwind() {
            if (runningJob) *runningJob = nullptr;
            if (std::uncaught_exceptions() == exceptions) return;
            ::TerminateProcess(converter, kStoppedExitCode);
            ::WaitForSingleObject(converter, kStopWaitMs);
        }
    } endOnUnwind{process.get(), runningJob};

    // Wakes for the converter's end and for messages as they arrive, and at
    // least every kProgressRefreshMs for the caller's progress.
    HANDLE converter = process.get();
    for (;;) {
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &converter, FALSE, kProgressRefreshMs, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_TIMEOUT) break;  // ended, or it cannot be waited on
        if (betweenPolls) betweenPolls();
    }
    if (!::GetExitCodeProcess(process.get(), &run.exitCode)) run.exitCode = DWORD(-1);
    run.started = true;
    return run;
}

// ---- the job's temporary files ----

// A temporary file of the job in the output folder, made empty and held open
// while it is in use: no other job can delete it meanwhile, and the job's
// own decoder and the converter open it beside the hold. Removed when it
// goes, unless it was put in place.
class CleanJob::Temporary {
public:
    Temporary(CleanJob& job, const wchar_t* suffix) : job_(job) {
        const std::wstring folder = Wide(job.folder_);
        for (int tries = 0; tries < 100 && !hold_; ++tries) {
            path_ = folder + L"\\" + kTemporaryPrefix + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(++job.temporaryCount_) + suffix + kTemporaryExtension;
            hold_.reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!hold_ && ::GetLastError() != ERROR_FILE_EXISTS) break;
        }
        if (!hold_) error_ = ::GetLastError();
        job_.temporaries_.push_back(this);
    }
    ~Temporary() {
        Remove();
        job_.temporaries_.erase(std::find(job_.temporaries_.begin(), job_.temporaries_.end(), this));
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    bool Made() const { return bool(hold_) || placed_; }
    DWORD Error() const { return error_; }
    std::string Path() const { return wc::PathFromWide(path_); }

    // Deletes the file, giving a converter that is being ended time to let go.
    void Remove() {
        if (placed_ || removed_) return;
        hold_.reset();
        for (DWORD waited = 0; !::DeleteFileW(path_.c_str()) && ::GetLastError() == ERROR_SHARING_VIOLATION &&
                               waited < kStopWaitMs;
             waited += kRetryMs)
            ::Sleep(kRetryMs);
        removed_ = true;
    }
    // Writes the file through to the disk and renames it to `target`,
    // replacing what stands there in one step. 0 on success, else the
    // system's error code.
    DWORD PutInPlace(const std::string& target) {
        if (!hold_) return ERROR_INVALID_HANDLE;
        if (!::FlushFileBuffers(hold_.get())) return ::GetLastError();
        hold_.reset();
        if (!::MoveFileExW(path_.c_str(), Wide(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ::GetLastError();
        placed_ = true;
        return 0;
    }

private:
    // Between tries to delete a file that a converter being ended still holds.
    static constexpr DWORD kRetryMs = 50;

    CleanJob& job_;
    std::wstring path_;
    wc::FileHandle hold_;
    DWORD error_ = 0;
    bool placed_ = false, removed_ = false;
};

namespace {

// Removes the temporary files that a run of this program left in `folder`
// (killed, or the machine went down); a file a running job holds cannot be
// deleted and stays. The names removed, for the log.
std::vector<std::string> RemoveLeftovers(const std::string& folder) {
    std::vector<std::string> removed;
    const std::wstring dir = Wide(folder) + L"\\";
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileW((dir + kTemporaryPrefix + L"*" + kTemporaryExtension).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return removed;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (::DeleteFileW((dir + found.cFileName).c_str())) removed.push_back(wc::PathFromWide(dir + found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return removed;
}

}  // namespace

// ---- the job ----

CleanJob::CleanJob(std::function<void()> betweenWaits) : betweenWaits_(std::move(betweenWaits)) {}

std::vector<FileOutcome> CleanJob::Run(const std::vector<std::string>& sources, const std::string& folder,
                                       const LogLocation& log) {
    folder_ = folder;
    logPath_ = log.path;
    if (!logPath_.empty() && !StartLog(logPath_, sources)) logPath_.clear();
    const auto logLine = [&](const std::string& line) {
        if (!logPath_.empty()) AppendLogLine(logPath_, line);
    };
    if (!logPath_.empty() && !log.besideProgram)
        logLine("this log is " + logPath_ + ": the program's folder cannot be written");

    std::vector<FileOutcome> outcomes(sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        outcomes[i].source = sources[i];
        outcomes[i].output = BuildOutputPath(folder, sources[i]);
    }
    // Before anything runs: a copy that would replace a chosen source, or
    // the copy of an earlier source of the batch, is refused.
    for (size_t i = 0; i < sources.size(); ++i) {
        FileOutcome& outcome = outcomes[i];
        for (size_t j = 0; j < sources.size() && outcome.result != FileOutcome::Result::Refused; ++j) {
            if (SameFile(outcome.output, sources[j])) {
                outcome.result = FileOutcome::Result::Refused;
                outcome.reason = "its clean copy " + outcome.output + " would replace the chosen source " + sources[j];
            }
        }
        for (size_t j = 0; j < i && outcome.result != FileOutcome::Result::Refused; ++j) {
            if (outcomes[j].result != FileOutcome::Result::Refused && SameFile(outcome.output, outcomes[j].output)) {
                outcome.result = FileOutcome::Result::Refused;
                outcome.reason = "its clean copy " + outcome.output + " would replace the copy of " + sources[j] +
                                 ", an earlier source of this batch";
            }
        }
        if (outcome.result == FileOutcome::Result::Refused) {
            outcome.earlierCopyKept = Exists(outcome.output);
            logLine("refused: " + outcome.source + ": " + outcome.reason);
        }
    }
    for (const std::string& leftover : RemoveLeftovers(folder))
        logLine("removed " + leftover + ", a temporary file an earlier run left");

    progress_ = {};
    progress_.count = sources.size();
    for (size_t i = 0; i < sources.size(); ++i) {
        FileOutcome& outcome = outcomes[i];
        if (outcome.result == FileOutcome::Result::Refused) continue;
        progress_.index = i;
        // The converter's output follows this line.
        logLine("source " + std::to_string(i + 1) + " of " + std::to_string(sources.size()) + ": " + sources[i]);
        outcome = CleanOne(sources[i], outcome.output);
        if (outcome.result == FileOutcome::Result::Stopped) break;  // the rest stay not started
    }
    for (const FileOutcome& outcome : outcomes)
        if (outcome.result == FileOutcome::Result::NotStarted) logLine("not started: " + outcome.source);
    return outcomes;
}

FileOutcome CleanJob::CleanOne(const std::string& source, const std::string& output) {
    FileOutcome outcome;
    outcome.source = source;
    outcome.output = output;
    const bool earlier = Exists(output);
    const auto logLine = [&](const std::string& line) {
        if (!logPath_.empty()) AppendLogLine(logPath_, line);
    };
    const auto ended = [&](FileOutcome::Result result, const std::string& reason) {
        outcome.result = result;
        outcome.reason = reason;
        outcome.earlierCopyKept = earlier;
        logLine((result == FileOutcome::Result::Refused ? "refused: " : "failed: ") + source + ": " + reason +
                (earlier ? "; the earlier " + output + " was left as it was" : ""));
        return outcome;
    };

    const CleanPlan plan = PlanCleanJob(source);
    if (plan.route == CleanPlan::Route::Refuse) return ended(FileOutcome::Result::Refused, "clean copy refused: " + plan.reason);
    progress_.expectedBytes = plan.copyBytes;
    progress_.decodes = plan.route == CleanPlan::Route::Decode || plan.route == CleanPlan::Route::HandOver;
    progress_.job = {};
    progress_.partialCopy.clear();
    try {
        Temporary copy(*this, L"");
        if (!copy.Made())
            return ended(FileOutcome::Result::Failed, "clean copy failed: no temporary file can be made in " +
                                                          folder_ + ": " + SystemText(copy.Error()));
        progress_.partialCopy = copy.Path();
        // The converter reads the source itself, or the PCM the program decoded it to.
        std::string input = source;
        bool rf64 = plan.beyond4GiB;
        std::optional<Temporary> decoded;
        if (progress_.decodes) {
            decoded.emplace(*this, L"-decoded");
            if (!decoded->Made())
                return ended(FileOutcome::Result::Failed, "clean copy failed: no temporary file can be made in " +
                                                              folder_ + ": " + SystemText(decoded->Error()));
            progress_.job = {JobProgress::Stage::Decoding, 0, plan.copyBytes};
            DecodedWave result;
            if (!DecodeToPcmWave(source, decoded->Path(), betweenWaits_, result, &progress_.job)) {
                const std::string prefix = result.writeFailed ? "clean copy failed: " : "clean copy refused: the source cannot be decoded here: ";
                return ended(result.writeFailed ? FileOutcome::Result::Failed : FileOutcome::Result::Refused,
                             prefix + result.failure + (result.writeFailed ? FullDriveNote(folder_) : ""));
            }
            rf64 = result.beyond4GiB;
            input = decoded->Path();
        }
        std::vector<std::string> notes;
        if (plan.route == CleanPlan::Route::HandOver) {
            logLine("handed over as the wave layer reads it: " + plan.misread);
            if (plan.laterDataLeftOut) notes.push_back("the data chunks behind the first were left out");
            if (plan.bigEndian)
                notes.push_back("the byte order changed: the big-endian RIFX source's samples are little-endian in "
                                "the copy, which is standard WAVE");
        }

        progress_.job = {JobProgress::Stage::Converting, 0, 0};
        const ConverterRun run = RunConverter(ConverterCommandLine(input, copy.Path(), plan.codec, rf64), logPath_,
                                              betweenWaits_, &converterJob_);
        if (!run.started) return ended(FileOutcome::Result::Failed, "clean copy failed: " + run.failure);
        if (run.exitCode != 0)
            return ended(FileOutcome::Result::Failed, "clean copy check failed: the converter ended with exit code " +
                                                          std::to_string(run.exitCode) + FullDriveNote(folder_));
        if (std::string note = CarryValidBits(source, copy.Path()); !note.empty()) notes.push_back(std::move(note));
        // A hand-over holds the source's own samples: the copy is checked against the source.
        const CleanCheckResult check = CheckCleanCopy(plan.route == CleanPlan::Route::HandOver ? source : input,
                                                      copy.Path(), betweenWaits_, &progress_.job);
        if (!check.success)
            return ended(FileOutcome::Result::Failed, check.logLine.empty() ? "clean copy check failed" : check.logLine);
        if (const DWORD error = copy.PutInPlace(output))
            return ended(FileOutcome::Result::Failed, "clean copy failed: the verified copy cannot replace " + output +
                                                          ": " + SystemText(error));
        outcome.result = FileOutcome::Result::Verified;
        logLine("cleaned: " + source + " -> " + output + ": " +
                (check.samplesMd5.empty() ? "no MD5 of the samples: " + check.md5Failure
                                          : "samples MD5 " + check.samplesMd5 + " (source and copy)") +
                Notes(notes));
        return outcome;
    } catch (const JobStopped&) {
        // The converter has been ended and the temporary files removed (by
        // their owners, on the way here).
        outcome.result = FileOutcome::Result::Stopped;
        outcome.stage = progress_.job.stage;
        outcome.earlierCopyKept = earlier;
        logLine("stopped: " + source + " while " + StageName(outcome.stage) + ": its temporary files were removed; " +
                (earlier ? output + " was left as it was" : "no copy was made"));
        return outcome;
    }
}

void CleanJob::Abandon() {
    if (converterJob_) ::TerminateJobObject(converterJob_, kStoppedExitCode);
    for (Temporary* temporary : temporaries_) temporary->Remove();
}
