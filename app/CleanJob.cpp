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
// While a check has caught up with its growing copy, it looks again this
// often: the copy grows by some 25 MB meanwhile at a disk's pace, so the
// check ends at most that far behind its converter.
constexpr DWORD kFollowAgainMs = 50;
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

// What tells whether two paths name one file: the full name (case
// ignored), and for a file that exists its volume and index, which another
// spelling, a short name or a link share. Taken once per path, so a batch of
// thousands compares them without opening a file per pair.
struct FileIdentity {
    std::wstring fullName;
    bool exists = false;
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
};

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity identity;
    identity.fullName = Wide(path);
    std::vector<wchar_t> full(identity.fullName.size() + MAX_PATH);
    const DWORD length = ::GetFullPathNameW(identity.fullName.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (length > 0 && length < full.size()) identity.fullName.assign(full.data(), length);
    ::CharUpperBuffW(identity.fullName.data(), DWORD(identity.fullName.size()));
    wc::FileHandle file(::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file && ::GetFileInformationByHandle(file.get(), &info)) {
        identity.exists = true;
        identity.volume = info.dwVolumeSerialNumber;
        identity.indexHigh = info.nFileIndexHigh;
        identity.indexLow = info.nFileIndexLow;
    }
    return identity;
}

// Whether two paths name one file: the same full name, or, when both exist,
// the same file of the same volume.
bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.fullName == b.fullName || (a.exists && b.exists && a.volume == b.volume &&
                                        a.indexHigh == b.indexHigh && a.indexLow == b.indexLow);
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

namespace {

// A converter started hidden in the directory of the program's executable,
// in a job object of its own that ends it with the program. Declared so that
// the process handle closes first, then the thread, then the job object.
struct StartedConverter {
    wc::KernelHandle job;
    wc::FileHandle thread, process;
    std::string failure;  // not started: why, for the log
};

// An inheritable handle that writes at the end of `path`, for a converter's
// console output; NUL when there is no path or it cannot be opened (the job
// still runs).
wc::FileHandle OpenConsoleOutput(const std::string& path) {
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    wc::FileHandle output;
    if (!path.empty())
        output.reset(::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output)
        output.reset(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER end{};
    if (output) ::SetFilePointerEx(output.get(), end, nullptr, FILE_END);
    return output;
}

// Starts the converter with its standard output and error on `output`. The
// converter inherits every inheritable handle the program holds, so the
// caller opens `output` just before and closes it just after: two converters
// never share one another's output.
StartedConverter StartConverter(const std::string& commandLine, HANDLE output) {
    StartedConverter converter;
    converter.job.reset(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!converter.job ||
        !::SetInformationJobObject(converter.job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        converter.failure = "the converter's job object cannot be made: " + SystemText(::GetLastError());
        return converter;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;

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
        converter.failure =
            "the converter could not be started (" + programDir + "\\extras\\ffmpeg.exe): " + SystemText(code);
        return converter;
    }
    converter.process.reset(created.hProcess);
    converter.thread.reset(created.hThread);
    if (!::AssignProcessToJobObject(converter.job.get(), converter.process.get())) {
        converter.failure = "the converter could not be tied to the program's life: " + SystemText(::GetLastError());
        ::TerminateProcess(converter.process.get(), kStoppedExitCode);
        ::WaitForSingleObject(converter.process.get(), kStopWaitMs);
        converter.process.reset();
        return converter;
    }
    ::ResumeThread(converter.thread.get());
    return converter;
}

}  // namespace

ConverterRun RunConverter(const std::string& commandLine, const std::string& logPath,
                          const std::function<void()>& betweenPolls) {
    ConverterRun run;
    // Declared so that every way out closes the log first, then the
    // converter's handles.
    StartedConverter converter;
    // The converter's output goes to the end of the log.
    const wc::FileHandle log = OpenConsoleOutput(logPath);
    converter = StartConverter(commandLine, log.get());
    if (!converter.process) {
        run.failure = converter.failure;
        return run;
    }

    // A converter left by an exception from `betweenPolls` (a stopped job)
    // is ended before its handles close, so that its output can go.
    struct EndOnUnwind {
        HANDLE converter;
        int exceptions = std::uncaught_exceptions();
        ~EndOnUnwind() {
            if (std::uncaught_exceptions() == exceptions) return;
            ::TerminateProcess(converter, kStoppedExitCode);
            ::WaitForSingleObject(converter, kStopWaitMs);
        }
    } endOnUnwind{converter.process.get()};

    // Wakes for the converter's end and for messages as they arrive, and at
    // least every kProgressRefreshMs for the caller's progress.
    HANDLE process = converter.process.get();
    for (;;) {
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &process, FALSE, kProgressRefreshMs, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_TIMEOUT) break;  // ended, or it cannot be waited on
        if (betweenPolls) betweenPolls();
    }
    if (!::GetExitCodeProcess(process, &run.exitCode)) run.exitCode = DWORD(-1);
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
    // Numbered `number` when that name is free, else with the job's next number.
    Temporary(CleanJob& job, const wchar_t* suffix, uint32_t number = 0) : job_(job) {
        const std::wstring folder = Wide(job.folder_);
        for (int tries = 0; tries < 100 && !hold_; ++tries) {
            number_ = tries == 0 && number ? number : ++job.temporaryCount_;
            path_ = folder + L"\\" + kTemporaryPrefix + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(number_) + suffix + kTemporaryExtension;
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
    uint32_t Number() const { return number_; }

    // Appends what others wrote into the file to `out`; false when it cannot
    // be read or written.
    bool CopyTo(HANDLE out) const {
        LARGE_INTEGER start{};
        if (!hold_ || !::SetFilePointerEx(hold_.get(), start, nullptr, FILE_BEGIN)) return false;
        std::vector<char> block(kCopyBlockBytes);
        for (;;) {
            DWORD read = 0, written = 0;
            if (!::ReadFile(hold_.get(), block.data(), DWORD(block.size()), &read, nullptr)) return false;
            if (read == 0) return true;
            if (!::WriteFile(out, block.data(), read, &written, nullptr) || written != read) return false;
        }
    }

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
    // A converter's console output is a few kilobytes; one read takes most.
    static constexpr size_t kCopyBlockBytes = 64 * 1024;

    CleanJob& job_;
    std::wstring path_;
    uint32_t number_ = 0;
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

unsigned ConvertersAtOnce() {
    // Past this many, a batch of short files waits on the disk rather than
    // on the processors, and each running converter holds its copy and log
    // part open in the output folder.
    constexpr unsigned kMaxConvertersAtOnce = 8;
    unsigned processors = 0;
    DWORD_PTR processMask = 0, systemMask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask))
        for (; processMask; processMask &= processMask - 1) ++processors;
    const DWORD active = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (processors == 0 || (active && active < processors)) processors = active;
    return std::clamp(processors, 1u, kMaxConvertersAtOnce);
}

// A source from its start to its verdict.
struct CleanJob::Flight {
    size_t index = 0;
    bool earlier = false;  // a file stood at the copy's place when it began
    CleanPlan plan;
    std::string input;     // what the converter reads: the source, or the PCM decoded from it
    std::vector<std::string> notes;  // for its verdict line
    JobProgress progress;  // its stage, for the caller
    std::optional<Temporary> copy, decoded;
    // The check of the copy, begun while the converter writes it; its
    // reads share the files and end before they go.
    std::optional<CopyCheck> check;
    // After the files, so that it ends before they go.
    StartedConverter converter;

    Flight() = default;
    Flight(const Flight&) = delete;
    Flight& operator=(const Flight&) = delete;
    // A converter still running (the job left by an unforeseen exception) is
    // ended before its files are removed.
    ~Flight() {
        if (converter.process && ::WaitForSingleObject(converter.process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateJobObject(converter.job.get(), kStoppedExitCode);
            ::WaitForSingleObject(converter.process.get(), kStopWaitMs);
        }
    }
};

struct CleanJob::Entry {
    bool begun = false;  // it has lines of its own (a source refused before the job ran has its line up front)
    bool ended = false;
    std::string verdict;
    std::unique_ptr<Temporary> logPart;  // the converter's console output
};

CleanJob::CleanJob(std::function<void()> betweenWaits) : betweenWaits_(std::move(betweenWaits)) {}

CleanJob::~CleanJob() {
    // Their temporary files unregister from temporaries_.
    flights_.clear();
    entries_.clear();
}

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

    outcomes_.assign(sources.size(), {});
    entries_.clear();
    entries_.resize(sources.size());
    logged_ = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        outcomes_[i].source = sources[i];
        outcomes_[i].output = BuildOutputPath(folder, sources[i]);
    }
    // Before anything runs: a copy that would replace a chosen source, or
    // the copy of an earlier source of the batch, is refused.
    std::vector<FileIdentity> sourceIds, outputIds;
    for (size_t i = 0; i < sources.size(); ++i) {
        sourceIds.push_back(IdentityOf(sources[i]));
        outputIds.push_back(IdentityOf(outcomes_[i].output));
    }
    for (size_t i = 0; i < sources.size(); ++i) {
        FileOutcome& outcome = outcomes_[i];
        for (size_t j = 0; j < sources.size() && outcome.result != FileOutcome::Result::Refused; ++j) {
            if (SameFile(outputIds[i], sourceIds[j])) {
                outcome.result = FileOutcome::Result::Refused;
                outcome.reason = "its clean copy " + outcome.output + " would replace the chosen source " + sources[j];
            }
        }
        for (size_t j = 0; j < i && outcome.result != FileOutcome::Result::Refused; ++j) {
            if (outcomes_[j].result != FileOutcome::Result::Refused && SameFile(outputIds[i], outputIds[j])) {
                outcome.result = FileOutcome::Result::Refused;
                outcome.reason = "its clean copy " + outcome.output + " would replace the copy of " + sources[j] +
                                 ", an earlier source of this batch";
            }
        }
        if (outcome.result == FileOutcome::Result::Refused) {
            outcome.earlierCopyKept = Exists(outcome.output);
            entries_[i].ended = true;
            logLine("refused: " + outcome.source + ": " + outcome.reason);
        }
    }
    for (const std::string& leftover : RemoveLeftovers(folder))
        logLine("removed " + leftover + ", a temporary file an earlier run left");

    progress_ = {};
    progress_.count = sources.size();
    // However the job is left, no converter of it runs on and no temporary file stays.
    struct Landing {
        CleanJob& job;
        ~Landing() {
            job.flights_.clear();
            job.entries_.clear();
        }
    } landing{*this};
    const size_t atOnce = ConvertersAtOnce();
    size_t next = 0;
    try {
        for (;;) {
            for (; next < sources.size() && flights_.size() < atOnce; ++next)
                if (!entries_[next].ended) Begin(next);
            if (flights_.empty()) break;
            WaitForConverters();
        }
    } catch (const JobStopped&) {
        StopAll();
    }
    WriteEndedEntries();
    for (const FileOutcome& outcome : outcomes_)
        if (outcome.result == FileOutcome::Result::NotStarted) logLine("not started: " + outcome.source);
    return std::move(outcomes_);
}

// Plans the source, decodes it when the program does, and starts its
// converter; a source that ends before its converter runs has its verdict.
void CleanJob::Begin(size_t index) {
    flights_.push_back(std::make_unique<Flight>());
    Flight& flight = *flights_.back();
    flight.index = index;
    Entry& entry = entries_[index];
    entry.begun = true;
    const std::string& source = outcomes_[index].source;
    flight.earlier = Exists(outcomes_[index].output);
    flight.plan = PlanCleanJob(source);
    if (flight.plan.route == CleanPlan::Route::Refuse)
        return Fail(flight, FileOutcome::Result::Refused, "clean copy refused: " + flight.plan.reason);

    const auto noTemporary = [&](const Temporary& temporary) {
        Fail(flight, FileOutcome::Result::Failed, "clean copy failed: no temporary file can be made in " + folder_ +
                                                      ": " + SystemText(temporary.Error()));
    };
    flight.copy.emplace(*this, L"");
    if (!flight.copy->Made()) return noTemporary(*flight.copy);
    if (!logPath_.empty()) {
        entry.logPart = std::make_unique<Temporary>(*this, L"-log", flight.copy->Number());
        if (!entry.logPart->Made()) return noTemporary(*entry.logPart);
    }
    // The converter reads the source itself, or the PCM the program decoded it to.
    flight.input = source;
    bool rf64 = flight.plan.beyond4GiB;
    if (flight.plan.route == CleanPlan::Route::HandOver) {
        flight.notes.push_back("handed over as the wave layer reads it: " + flight.plan.misread);
        if (flight.plan.laterDataLeftOut) flight.notes.push_back("the data chunks behind the first were left out");
        if (flight.plan.bigEndian)
            flight.notes.push_back("the byte order changed: the big-endian RIFX source's samples are little-endian "
                                   "in the copy, which is standard WAVE");
    }
    if (flight.plan.route == CleanPlan::Route::Decode || flight.plan.route == CleanPlan::Route::HandOver) {
        flight.decoded.emplace(*this, L"-decoded");
        if (!flight.decoded->Made()) return noTemporary(*flight.decoded);
        flight.progress = {JobProgress::Stage::Decoding, 0, flight.plan.copyBytes};
        DecodedWave result;
        if (!DecodeToPcmWave(source, flight.decoded->Path(), [this] { Between(); }, result, &flight.progress)) {
            if (result.writeFailed)
                return Fail(flight, FileOutcome::Result::Failed,
                            "clean copy failed: " + result.failure + FullDriveNote(folder_));
            return Fail(flight, FileOutcome::Result::Refused,
                        "clean copy refused: the source cannot be decoded here: " + result.failure);
        }
        rf64 = result.beyond4GiB;
        flight.input = flight.decoded->Path();
    }

    flight.progress = {JobProgress::Stage::Converting, 0, 0};
    const wc::FileHandle output = OpenConsoleOutput(entry.logPart ? entry.logPart->Path() : std::string());
    flight.converter =
        StartConverter(ConverterCommandLine(flight.input, flight.copy->Path(), flight.plan.codec, rf64), output.get());
    if (!flight.converter.process)
        return Fail(flight, FileOutcome::Result::Failed, "clean copy failed: " + flight.converter.failure);
    // A hand-over holds the source's own samples: the copy is checked against the source.
    const bool handedOver = flight.plan.route == CleanPlan::Route::HandOver;
    flight.check.emplace(handedOver ? source : flight.input, flight.copy->Path());
}

// Lets each check follow its growing copy a slice further, then waits for a
// converter to end, for messages, or until a check has more to compare;
// checks the first converter found ended, and calls back on messages and at
// least every kProgressRefreshMs.
void CleanJob::WaitForConverters() {
    bool more = false;
    for (const auto& flight : flights_)
        if (flight->check && flight->check->Follow()) more = true;
    std::vector<HANDLE> running;
    for (const auto& flight : flights_) running.push_back(flight->converter.process.get());
    const DWORD count = DWORD(running.size());
    const DWORD woken =
        ::MsgWaitForMultipleObjects(count, running.data(), FALSE, more ? 0 : kFollowAgainMs, QS_ALLINPUT);
    if (woken < WAIT_OBJECT_0 + count) return Finish(*flights_[woken - WAIT_OBJECT_0]);
    if (woken == WAIT_OBJECT_0 + count) return Between();
    if (woken == WAIT_TIMEOUT) {
        if (::GetTickCount() - lastCallback_ >= kProgressRefreshMs) Between();
        return;
    }
    // They cannot be waited on: the first counts as ended, as a single converter's failed wait does.
    Finish(*flights_.front());
}

// Its converter has ended: the copy is checked and put in place.
void CleanJob::Finish(Flight& flight) {
    const std::string& source = outcomes_[flight.index].source;
    const std::string& output = outcomes_[flight.index].output;
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(flight.converter.process.get(), &exitCode)) exitCode = DWORD(-1);
    if (exitCode != 0)
        return Fail(flight, FileOutcome::Result::Failed, "clean copy check failed: the converter ended with exit code " +
                                                             std::to_string(exitCode) + FullDriveNote(folder_));
    if (std::string note = CarryValidBits(source, flight.copy->Path()); !note.empty())
        flight.notes.push_back(std::move(note));
    flight.progress = {JobProgress::Stage::Checking, 0, 0};
    const CleanCheckResult check = flight.check->Finish([this] { Between(); }, &flight.progress);
    if (!check.success)
        return Fail(flight, FileOutcome::Result::Failed,
                    check.logLine.empty() ? "clean copy check failed" : check.logLine);
    if (const DWORD error = flight.copy->PutInPlace(output))
        return Fail(flight, FileOutcome::Result::Failed,
                    "clean copy failed: the verified copy cannot replace " + output + ": " + SystemText(error));
    outcomes_[flight.index].result = FileOutcome::Result::Verified;
    Conclude(flight, "cleaned: " + source + " -> " + output + ": " +
                         (check.samplesMd5.empty() ? "no MD5 of the samples: " + check.md5Failure
                                                   : "samples MD5 " + check.samplesMd5 + " (source and copy)") +
                         Notes(flight.notes));
}

void CleanJob::Fail(Flight& flight, FileOutcome::Result result, const std::string& reason) {
    FileOutcome& outcome = outcomes_[flight.index];
    outcome.result = result;
    outcome.reason = reason;
    outcome.earlierCopyKept = flight.earlier;
    Conclude(flight, (result == FileOutcome::Result::Refused ? "refused: " : "failed: ") + outcome.source + ": " +
                         reason + Notes(flight.notes) +
                         (flight.earlier ? "; the earlier " + outcome.output + " was left as it was" : ""));
}

// Gives the source its verdict line and lets its flight go, with its files
// but the log part; then writes what can be written of the log.
void CleanJob::Conclude(Flight& flight, const std::string& verdict) {
    Entry& entry = entries_[flight.index];
    entry.verdict = verdict;
    entry.ended = true;
    flights_.erase(std::find_if(flights_.begin(), flights_.end(), [&](const auto& f) { return f.get() == &flight; }));
    WriteEndedEntries();
}

// The job is stopped: every converter is ended at once, and once they have
// all let go, each source under way is stopped and its files removed.
void CleanJob::StopAll() {
    std::vector<HANDLE> ending;
    for (const auto& flight : flights_) {
        if (!flight->converter.process) continue;
        ::TerminateJobObject(flight->converter.job.get(), kStoppedExitCode);
        ending.push_back(flight->converter.process.get());
    }
    if (!ending.empty()) ::WaitForMultipleObjects(DWORD(ending.size()), ending.data(), TRUE, kStopWaitMs);
    while (!flights_.empty()) {
        Flight& flight = *flights_.front();
        FileOutcome& outcome = outcomes_[flight.index];
        outcome.result = FileOutcome::Result::Stopped;
        outcome.stage = flight.progress.stage;
        outcome.earlierCopyKept = flight.earlier;
        Conclude(flight, "stopped: " + outcome.source + " while " + StageName(outcome.stage) +
                             ": its temporary files were removed; " +
                             (flight.earlier ? outcome.output + " was left as it was" : "no copy was made"));
    }
}

// Writes the lines of every ended source that follows the last written:
// the log reads in the order of the sources, whichever converter ends first.
void CleanJob::WriteEndedEntries() {
    for (; logged_ < entries_.size() && entries_[logged_].ended; ++logged_) {
        Entry& entry = entries_[logged_];
        if (entry.begun && !logPath_.empty()) {
            wc::FileHandle log(::CreateFileW(Wide(logPath_).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            const auto write = [&](const std::string& text) {
                DWORD written = 0;
                ::WriteFile(log.get(), text.data(), DWORD(text.size()), &written, nullptr);
            };
            if (log) {
                // The converter's output follows the line that opens the source.
                write("source " + std::to_string(logged_ + 1) + " of " + std::to_string(entries_.size()) + ": " +
                      outcomes_[logged_].source + "\r\n");
                if (entry.logPart) entry.logPart->CopyTo(log.get());
                write(entry.verdict + "\r\n");
            }
        }
        entry.logPart.reset();
    }
}

// Shows the caller the first source not ended, then calls it back.
void CleanJob::Between() {
    const Flight* first = nullptr;
    for (const auto& flight : flights_)
        if (!first || flight->index < first->index) first = flight.get();
    if (first) {
        progress_.index = first->index;
        progress_.partialCopy = first->copy ? first->copy->Path() : std::string();
        progress_.expectedBytes = first->plan.copyBytes;
        progress_.decodes =
            first->plan.route == CleanPlan::Route::Decode || first->plan.route == CleanPlan::Route::HandOver;
        progress_.job = first->progress;
    }
    lastCallback_ = ::GetTickCount();
    if (betweenWaits_) betweenWaits_();
}

void CleanJob::Abandon() {
    for (const auto& flight : flights_)
        if (flight->converter.job) ::TerminateJobObject(flight->converter.job.get(), kStoppedExitCode);
    for (Temporary* temporary : temporaries_) temporary->Remove();
}
