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
// with closePending_, carried out once the job has stopped. When the
// session ends during a job, the job is stopped and its converter and
// temporary files are gone before the window lets the session end.
#pragma once

#include <windows.h>
#include <shobjidl.h>

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
#include "framework/Handles.h"

// Shown when the output file exists after the job: "出力を完了しました。" (Shift-JIS).
extern const char kOutputCompletedMessage[];
// Shown when it does not; its line breaks are bare carriage returns (Shift-JIS).
extern const char kConversionFailedMessage[];
// The failure message naming where the log is: as it stands when the log is
// beside the program (the installation folder), else with that folder put
// in the place of "the installation folder".
std::wstring ConversionFailedText(const LogLocation& log);

// A choice counts as made unless the caption begins with "No".
bool IsChoiceMade(std::string_view caption);
// `first` alone for one item, else followed by " (+N more)" for the other N.
std::string WithMoreCount(std::string_view first, size_t count);
// Sorts paths by file name in natural order ("take 2" before "take 10").
void SortByName(std::vector<std::string>& paths);
// What a drop says about the `count` items it did not take.
std::string LeftOutText(size_t count);
// The time a job has taken and, once the bar stands at `position` of 1000
// (far enough for a fair guess), about how long it still needs:
// "0:05 elapsed, about 0:15 left".
std::string JobTimeText(uint64_t elapsedMs, int position);
// The message that ends a job of several sources, or a stopped one: how many
// were cleaned, each failed or refused source with its reason (as its log
// line gives it), the stopped one, how many were not started.
std::string JobSummaryText(const std::vector<FileOutcome>& outcomes);
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
    wc::TLabel* Label7 = nullptr;              // the time taken and the time left, on its other side

    // The taskbar the window shows a job's progress on: the shell's, made at
    // the first job, unless one is given here first.
    void UseTaskbar(wc::ComPtr<ITaskbarList3> taskbar) { taskbar_ = std::move(taskbar); }

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
    // The cleaning job of every source, then its one message.
    void RunCleanJob();
    // The summary, with buttons that open the log and the output folder.
    void ShowSummary(const std::string& text, const std::string& logPath, const std::string& folder);
    // Moves the bar by the job's stage: the program's decoding, the
    // converter's output against its expected size, the check.
    void ShowJobProgress();
    void ShowJobControls(bool running);
    // The bar, the time beside it and the taskbar at `step` of the job's steps.
    void ShowJobStep(int step);
    // The taskbar button's progress state, when there is a taskbar.
    void SetTaskbarState(TBPFLAG state);
    // Shows the cursor the window under the pointer asks for now.
    void RefreshCursor();

    std::vector<std::string> sources_;
    bool jobRunning_ = false;     // a job (converters, checks or its message) is under way
    bool stopRequested_ = false;  // Stop, Esc or a close during the job
    bool closePending_ = false;   // the window was closed during the job
    bool busyCursor_ = false;     // the wait cursor shows where nothing can be done

    CleanJob* runningJob_ = nullptr;  // the job under way, for its progress and a log-off
    size_t shownFile_ = 0;            // the file "file k of N" names
    uint64_t jobStartedMs_ = 0;       // GetTickCount64 when the job started, for the time beside the bar
    wc::ComPtr<ITaskbarList3> taskbar_;
};
