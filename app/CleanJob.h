// The cleaning job: the chosen sources cleaned into the output folder, each
// through its plan, its decoding when the program decodes it, the converter
// run hidden with its console output in the log, and the check of the copy
// it wrote. As many converters run at once as the program has processors
// (ConvertersAtOnce), so a library of short files is not held up by the
// converter's start. The window (Unit1) chooses what is cleaned and shows
// how it went.
//
// Nothing the user has is touched until a copy is verified. The program's
// decoding and the converter write temporary files in the output folder
// (same volume), named "~WaveCleaner-<process>-<n>[-decoded].tmp" and held
// open by the job, without leave to delete them, while they are in use; a
// verified copy then replaces Clean_<name> in one atomic rename. A failed,
// stopped or abandoned job removes only its own temporary files; the next
// job into a folder removes those that a killed run left there (a file still
// held by a running job cannot be deleted). Sources are only ever read, and
// a source whose copy would land on a chosen source, or on the copy of
// another, is refused before anything runs, so no two converters ever write
// one file. Each converter runs in a job object that ends it with the
// program.
//
// The log reads as if the sources were cleaned one after another: each
// converter's console output goes to a log part of its own beside its copy
// ("~WaveCleaner-<process>-<n>-log.tmp", n the copy's number), and a
// source's lines (its opening line, that part, its verdict) go into the log
// once it and every source before it have ended.
//
// Threads: everything runs on the caller's thread (the user-interface
// thread in the program), but one reader of the check (DecodingStreams).
// The converters are processes: the job starts them and waits on all of them
// at once. Between the waits each copy's check follows it a slice further
// as its converter writes it (CopyCheck), so a large copy is checked by the
// time it is written; a converter that ends has the rest of its copy
// checked while the others keep converting. The decoding and the checks run
// on the caller's thread.
// The job calls back between its waits and between the blocks it decodes
// and checks, so the caller can dispatch window messages, show progress, or
// stop the job by throwing JobStopped; every converter still running is
// then ended and every temporary file removed. Abandon, called from a
// handler that runs inside such a callback, ends everything at once. No
// field is shared with another thread, so none needs a lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/CleanCheck.h"

// The text after the last separator ("/" counts as "\").
std::string ExtractBaseName(std::string_view path);
// folder + "\Clean_" + base name of the source, with no normalisation.
std::string BuildOutputPath(std::string_view folder, std::string_view sourcePath);
// The converter's command line: it reads `inputPath` (the source, or the
// PCM the program decoded it to) and writes `outputPath`. It guesses no
// speaker positions past two channels; a non-empty `codec` keeps the
// source's sample format ("-c:a <codec>"); `rf64` lets a copy past 4 GiB be
// written as RF64 ("-rf64 auto").
std::string ConverterCommandLine(std::string_view inputPath, std::string_view outputPath, std::string_view codec,
                                 bool rf64);

// How a run of the converter went.
struct ConverterRun {
    bool started = false;  // it was started and has ended
    DWORD exitCode = 0;
    std::string failure;   // not started: why, for the log
};
// Runs the converter hidden, in the directory of the program's executable,
// in a job object that ends it with the program, with its console output
// added to the log file at `logPath` (none when it is empty or cannot be
// opened). `betweenPolls` runs whenever messages arrive and at least every
// 200 ms; a converter it leaves by an exception is ended.
ConverterRun RunConverter(const std::string& commandLine, const std::string& logPath,
                          const std::function<void()>& betweenPolls);

// Thrown by the caller's callback to stop the job.
struct JobStopped {};

// What became of one source.
struct FileOutcome {
    enum class Result {
        Verified,    // its clean copy holds the source's samples and stands at `output`
        Failed,      // the job ran on it and failed: `reason`
        Stopped,     // the job was stopped while in `stage`
        NotStarted,  // the job was stopped before it came to this source
        Refused,     // nothing was run for it: `reason` (its copy would replace a chosen source, or nothing
                     // here can clean it)
    };
    Result result = Result::NotStarted;
    std::string source;
    std::string output;  // Clean_<name> in the output folder
    std::string reason;  // Failed, Refused: one line, also in the log
    JobProgress::Stage stage = JobProgress::Stage::Converting;  // Stopped: the stage it had reached
    bool earlierCopyKept = false;  // not Verified: a file stood at `output` before and stands unchanged
};

// Where the log goes: beside the program where that folder can be written,
// else in the user's local application data folder.
struct LogLocation {
    std::string path;           // the log file; empty when neither place can be written
    bool besideProgram = true;
};
LogLocation FindLogLocation();
// Where the previous job's log is kept: "Cvlog.log" gives "Cvlog.previous.log".
std::string PreviousLogPath(const std::string& logPath);
// The lines that open a job's log: the program's version, when, and the sources.
std::string LogHeader(std::string_view version, const SYSTEMTIME& at, const std::vector<std::string>& sources);

// How far the job has come, for the caller to show between waits. With
// several sources under way it tells of the first that has not ended: every
// source before it is done, so "file <index + 1> of <count>" never runs
// ahead of the job, and the bar never moves back.
struct BatchProgress {
    size_t index = 0, count = 0;  // the first source (0-based) not ended, of count
    std::string partialCopy;      // the temporary file its converter writes
    uint64_t expectedBytes = 0;   // of the copy; 0: unknown
    bool decodes = false;         // the program decodes the source first
    JobProgress job;              // the stage reached in this source
};

// How many converters a job runs at once: one per processor the program may
// run on, at most a cap.
unsigned ConvertersAtOnce();

class CleanJob {
public:
    // `betweenWaits` runs between the job's waits and blocks; it may throw
    // JobStopped to stop the job.
    explicit CleanJob(std::function<void()> betweenWaits);
    ~CleanJob();
    CleanJob(const CleanJob&) = delete;
    CleanJob& operator=(const CleanJob&) = delete;

    // Cleans the sources into `folder`, several at once, with a new log at
    // `log` (the previous one kept at PreviousLogPath): a header, then for
    // each source a line naming it, the converter's output and a verdict
    // line that names it again ("cleaned:" with the MD5 of its samples,
    // "failed:", "refused:", "stopped:", "not started:"). One outcome per
    // source, in order; the log and the outcomes are those of the sources
    // cleaned one after another.
    std::vector<FileOutcome> Run(const std::vector<std::string>& sources, const std::string& folder,
                                 const LogLocation& log);
    // Ends the converters and removes the job's temporary files now (the
    // session is ending); the job then ends as stopped.
    void Abandon();

    const BatchProgress& Progress() const noexcept { return progress_; }

private:
    class Temporary;  // a temporary file of the job
    struct Flight;    // a source whose cleaning has begun and has no verdict yet
    struct Entry;     // a source's lines in the log, kept until those before it are written

    void Begin(size_t index);
    void WaitForConverters();
    void Finish(Flight& flight);
    void Fail(Flight& flight, FileOutcome::Result result, const std::string& reason);
    void Conclude(Flight& flight, const std::string& verdict);
    void StopAll();
    void WriteEndedEntries();
    void Between();

    std::function<void()> betweenWaits_;
    std::string folder_, logPath_;
    BatchProgress progress_;
    uint32_t temporaryCount_ = 0;
    std::vector<Temporary*> temporaries_;  // those that exist now
    std::vector<FileOutcome> outcomes_;    // of the running job, one per source
    std::vector<Entry> entries_;           // one per source
    size_t logged_ = 0;                    // the entries before this one are in the log
    std::vector<std::unique_ptr<Flight>> flights_;  // in the order they began
    DWORD lastCallback_ = 0;                        // GetTickCount of the last call of betweenWaits_
};
