// The main window: choose a source wave file and an output folder, then
// "CLEAN FILE" runs the converter and reports whether the output holds the
// source's samples. Whether a file or folder has been chosen, and which, is
// read back from the labels.
//
// Several sources (a multiple selection or WAV files dropped on the window)
// are cleaned in turn into the one folder, one converter at a time; the
// labels show the first source and output followed by " (+N more)".
//
// Everything runs on the user-interface thread. A job waits on the
// converter and on the message queue together and dispatches input as it
// arrives, so the handlers can be entered again during it: while jobRunning_
// the choosing buttons and drops are refused, the "CLEAN FILE" button
// (captioned "STOP") and Esc set stopRequested_, and a close sets it too
// with closePending_, carried out once the job has stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/CleanCheck.h"
#include "controls/AdvSmoothButton.h"
#include "dialogs/MMCstDlg.h"
#include "dialogs/PBFolderDialog.h"
#include "framework/Controls.h"
#include "framework/Forms.h"

// Shown when the output file exists after the job: "出力を完了しました。" (Shift-JIS).
extern const char kOutputCompletedMessage[];
// Shown when it does not; its line breaks are bare carriage returns (Shift-JIS).
extern const char kConversionFailedMessage[];

// The text after the last separator ("/" counts as "\").
std::string ExtractBaseName(std::string_view path);
// folder + "\Clean_" + base name of the source, with no normalisation.
std::string BuildOutputPath(std::string_view folder, std::string_view sourcePath);
// The converter's command line for one job; a non-empty `codec` is put in as
// "-c:a <codec> " just before the output path.
std::string BuildConverterCommandLine(std::string_view sourcePath, std::string_view folder,
                                      std::string_view codec = {});
// The same with the converter reading `inputPath` (the source, or the PCM
// the program decoded it to) and writing `outputPath`; `rf64` adds
// "-rf64 auto " so that a copy past 4 GiB is written as RF64.
std::string ConverterCommandLine(std::string_view inputPath, std::string_view outputPath, std::string_view codec,
                                 bool rf64);
// Runs the converter hidden, in the directory of the program's executable,
// with its console output in a new log file at `logPath` (at its end with
// `appendToLog`); `betweenPolls` runs whenever messages arrive and at least
// every 200 ms, and a converter it leaves by an exception is ended. True when it was started and has ended,
// with its exit code in `exitCode` when given.
bool RunConverter(const std::string& commandLine, const std::string& logPath, DWORD* exitCode,
                  const std::function<void()>& betweenPolls, bool appendToLog = false);
// One whole job: the source's plan, its decoding when the program decodes
// it, the converter writing `output`, and the check of the copy. Empty on
// success, else the line it added to the log at `logPath`. With
// `appendToLog` (a batch) the log is added to, never deleted or started anew.
std::string CleanAndCheck(const std::string& source, const std::string& output, const std::string& logPath,
                          const std::function<void()>& pump, bool appendToLog = false);
// The same with the source's plan already made (PlanCleanJob); `progress`,
// when given, follows the job's stages for `pump` to show.
std::string CleanAndCheck(const std::string& source, const CleanPlan& plan, const std::string& output,
                          const std::string& logPath, const std::function<void()>& pump, bool appendToLog,
                          JobProgress* progress = nullptr);
// A choice counts as made unless the caption begins with "No".
bool IsChoiceMade(std::string_view caption);
// `first` alone for one item, else followed by " (+N more)" for the other N.
std::string WithMoreCount(std::string_view first, size_t count);
// "file k of N" while the k-th of several sources is cleaned.
std::string FileOfText(size_t k, size_t count);

class TForm1 : public wc::TForm {
public:
    explicit TForm1(wc::TComponent* owner);
    static const char* ClassName() { return "TForm1"; }

    TPBFolderDialog* PBFolderDialog1 = nullptr;
    TMMWaveOpenDialog* MMWaveOpenDialog1 = nullptr;
    TAdvSmoothButton* btnSlInp = nullptr;
    wc::TLabel* Label1 = nullptr;
    TAdvSmoothButton* BtnSlout = nullptr;
    wc::TLabel* Label2 = nullptr;
    TAdvSmoothButton* BtnCleanFile = nullptr;
    wc::TLabel* Label3 = nullptr;
    wc::TLabel* Label4 = nullptr;
    wc::TLabel* Label5 = nullptr;
    wc::TProgressBar* ProgressBar1 = nullptr;  // under CLEAN FILE while a job runs
    wc::TLabel* Label6 = nullptr;              // "file k of N" beside it

    // The sources the next job cleans, in order (the first is shown in Label1).
    const std::vector<std::string>& Sources() const noexcept { return sources_; }

    void btnSlInpClick(wc::TComponent* sender);
    void BtnSloutClick(wc::TComponent* sender);
    void BtnCleanFileClick(wc::TComponent* sender);

protected:
    void DeclareFields(wc::FieldTable& fields) override;
    void DeclareMethods(wc::MethodTable& methods) override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void CreateParams(wc::TCreateParams& params) override;

private:
    // What became of one source.
    struct FileOutcome {
        bool verified = false;  // cleaned and its copy holds the source's samples
        bool stopped = false;   // the user stopped the job during this file
        std::string logLine;    // the check's line for support; empty: nothing to tell
    };

    // Runs the converter hidden with its console output in the log beside
    // the executable; true when it was started and has ended, with its exit
    // code in `exitCode` when given.
    bool RunConverterJob(const std::string& commandLine, const std::string& logFileName, DWORD* exitCode = nullptr);
    // Steps 3 to 6 shared by both choosing buttons.
    void UpdateOutputState();
    // Takes new sources and shows them in Label1.
    void SetSources(std::vector<std::string> sources);
    // WAV files dropped become the sources, one folder the output folder.
    void FilesDropped(HDROP drop);
    // Converters, checks, log lines and the one message of one job.
    void RunCleanJob();
    // One source: the converter, then the check of its copy. With `append`
    // the converter's output goes to the end of the log instead of a new log.
    FileOutcome CleanOneFile(const std::string& source, const std::string& folder, bool append);
    // Deletes the copy a stopped file left and logs the stop.
    void FileStopped(const std::string& source, const std::string& output);
    // Moves the bar by the job's stage: the program's decoding, the
    // converter's output against its expected size, the check.
    void ShowJobProgress();
    void ShowJobControls(bool running);

    std::vector<std::string> sources_;
    bool jobRunning_ = false;     // a job (converters, checks or its message) is under way
    bool stopRequested_ = false;  // Stop, Esc or a close during the job
    bool closePending_ = false;   // the window was closed during the job
    bool busyCursor_ = false;     // the wait cursor shows over the window

    // The file being cleaned, for the progress bar.
    struct Progress {
        size_t index = 0, count = 1;  // the k-th (0-based) of count sources
        std::string output;
        uint64_t expectedBytes = 0;   // of the copy; 0: unknown
        bool decodes = false;         // the program decodes the source first
        JobProgress job;              // the stage the job has reached
    } progress_;
};
