// The main window: choose a source wave file and an output folder, then
// "CLEAN FILE" runs the converter and reports whether the output holds the
// source's samples. Whether a file or folder has been chosen, and which, is
// read back from the labels.
//
// Everything runs on the user-interface thread. A job dispatches window
// messages while it waits, so the handlers can be entered again during it:
// jobRunning_ makes the buttons ignore presses meanwhile, and a close asked
// for during a job is held in closePending_ until its outcome was shown.
#pragma once

#include <functional>
#include <string>
#include <string_view>

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
// with its console output in a new log file at `logPath`; `betweenPolls`
// runs between the 100 ms polls. True when it was started and has ended,
// with its exit code in `exitCode` when given.
bool RunConverter(const std::string& commandLine, const std::string& logPath, DWORD* exitCode,
                  const std::function<void()>& betweenPolls);
// One whole job: the source's plan, its decoding when the program decodes
// it, the converter writing `output`, and the check of the copy. Empty on
// success, else the line it added to the log at `logPath`.
std::string CleanAndCheck(const std::string& source, const std::string& output, const std::string& logPath,
                          const std::function<void()>& pump);
// A choice counts as made unless the caption begins with "No".
bool IsChoiceMade(std::string_view caption);

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

    void btnSlInpClick(wc::TComponent* sender);
    void BtnSloutClick(wc::TComponent* sender);
    void BtnCleanFileClick(wc::TComponent* sender);

protected:
    void DeclareFields(wc::FieldTable& fields) override;
    void DeclareMethods(wc::MethodTable& methods) override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Runs the converter hidden with its console output in the log beside
    // the executable; true when it was started and has ended, with its exit
    // code in `exitCode` when given.
    bool RunConverterJob(const std::string& commandLine, const std::string& logFileName, DWORD* exitCode = nullptr);
    // Steps 3 to 6 shared by both choosing buttons.
    void UpdateOutputState();
    // Converter, check, log line and message of one job.
    void RunCleanJob();

    bool jobRunning_ = false;    // a job (converter, check or its message) is under way
    bool closePending_ = false;  // the window was closed during the job
    bool busyCursor_ = false;    // the wait cursor shows over the window
};
