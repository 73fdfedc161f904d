// The main window: choose a source wave file and an output folder, then
// "CLEAN FILE" runs the cleaning job (CleanJob) and reports whether the
// output holds the source's samples. Whether a file or folder has been
// chosen, and which, is read back from the labels.
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

#include "app/CleanJob.h"
#include "controls/AdvSmoothButton.h"
#include "dialogs/MMCstDlg.h"
#include "dialogs/PBFolderDialog.h"
#include "framework/Controls.h"
#include "framework/Forms.h"

// Shown when the output file exists after the job: "出力を完了しました。" (Shift-JIS).
extern const char kOutputCompletedMessage[];
// Shown when it does not; its line breaks are bare carriage returns (Shift-JIS).
extern const char kConversionFailedMessage[];

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
