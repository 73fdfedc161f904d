// The wave file chooser's chief header: the open dialog frame (MMCstDlg.cpp)
// and the wave chooser built on it, with its preview panel
// (MMWaveOpenDialog.cpp). The panel's waveform scan has a unit of its own
// (WavePeakScan.h).
//
// The open-file dialog frame runs the system's common open dialog with a
// hook procedure and, optionally, a dialog template of its own, and turns
// the dialog's notifications into overridable operations (dialog shown,
// closing, file name confirmed, selection changed, control command).
//
// Explorer-style dialogs (the program uses new-style controls) embed the
// template as a child panel; the hook runs as that child's dialog procedure
// and hears the frame through WM_NOTIFY. Old-style dialogs use the template
// named with "OLD" appended as the complete dialog and report through the
// common dialog's registered messages. Only one dialog of this family runs
// at a time: the hook finds its component through a process-wide reference.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/WavePeakScan.h"
#include "framework/Dialogs.h"
#include "framework/Graphics.h"
#include "framework/Handles.h"

enum TOpenOption : unsigned {
    ofReadOnly = 1u << 0,
    ofOverwritePrompt = 1u << 1,
    ofHideReadOnly = 1u << 2,
    ofNoChangeDir = 1u << 3,
    ofShowHelp = 1u << 4,
    ofNoValidate = 1u << 5,
    ofAllowMultiSelect = 1u << 6,
    ofExtensionDifferent = 1u << 7,
    ofPathMustExist = 1u << 8,
    ofFileMustExist = 1u << 9,
    ofCreatePrompt = 1u << 10,
    ofShareAware = 1u << 11,
    ofNoReadOnlyReturn = 1u << 12,
    ofNoTestFileCreate = 1u << 13,
    ofNoNetworkButton = 1u << 14,
    ofNoLongNames = 1u << 15,
    ofOldStyleDialog = 1u << 16,
    ofNoDereferenceLinks = 1u << 17,
    ofEnableIncludeNotify = 1u << 18,
    ofEnableSizing = 1u << 19,
    ofDontAddToRecent = 1u << 20,
    ofForceShowHidden = 1u << 21,
};
using TOpenOptions = unsigned;

// Extra options, given to the system as the record's extended flags.
enum TOpenOptionEx : unsigned {
    ofExNoPlacesBar = 1u << 0,
};
using TOpenOptionsEx = unsigned;

// The system's flag value of each open option.
DWORD OpenOptionFlags(TOpenOptions options) noexcept;

using TFileOKEvent = std::function<void(wc::TComponent* sender, const std::string& fileName, bool& isOk)>;
using TSelChangeEvent = std::function<void(wc::TComponent* sender, const std::string& fileName)>;
using TDialogCommandEvent =
    std::function<void(wc::TComponent* sender, HWND hookWindow, int controlId, HWND frameWindow)>;

// ---- buffers handed to the system ----

constexpr size_t kFilterBufferSize = 1024;
constexpr size_t kSingleFileBufferSize = MAX_PATH;
// The largest multiple-selection buffer the old system dialogs accept.
constexpr size_t kMultiFileBufferSize = 65519;
// Caption and initial folder are limited to 79 characters by the record's users.
constexpr size_t kShortTextLimit = 79;
constexpr size_t kTemplateNameLimit = 257;

// The length of the longest prefix of `text` of at most `limit` bytes that
// does not end inside a double-byte character of the system code page.
size_t FitText(std::string_view text, size_t limit) noexcept;
// "Name|pattern|..." as the system's filter list: a buffer of
// kFilterBufferSize bytes with the texts zero-separated and a double zero
// after the last. A filter too long for it keeps the whole pairs that fit.
std::vector<char> MakeFilterBuffer(std::string_view filter);
// The names in a returned file buffer: with several zero-terminated strings
// the first is the folder and each following one a name, put behind the
// folder unless it is already absolute; a single string is the one file.
std::vector<std::string> SplitFileBuffer(const char* buffer, size_t size);
// A path made absolute against the current folder, in UNC form on mapped drives.
std::string ExpandUNCFileName(const std::string& name);

// Registers the common dialog's messages of old-style dialogs, once, when
// the program does not use new-style controls. Called at start-up.
void RegisterCommonDialogMessages();

class TMMCommonDialog : public wc::TCommonDialog {
public:
    using wc::TCommonDialog::TCommonDialog;
    static const char* ClassName() { return "TMMCommonDialog"; }
};

class TMMCustomOpenDialog : public TMMCommonDialog {
public:
    explicit TMMCustomOpenDialog(wc::TComponent* owner);
    ~TMMCustomOpenDialog() override;
    static const char* ClassName() { return "TMMCustomOpenDialog"; }

    // Runs the dialog; true when the user confirmed a choice.
    bool Execute() override;

    // Moves a window, keeping its size, to the horizontal centre of the
    // screen and one third of the way down.
    static void CenterWindow(HWND window);

    // The hook dialog's window while the dialog is up, else null.
    HWND Window() const noexcept { return window_; }
    // All names chosen in the last confirmed run (paths are UTF-8, as are
    // InitialDir and FileName; the other texts are of the code page).
    const std::vector<std::string>& Files() const noexcept { return files_; }

    const std::string& InitialDir() const noexcept { return initialDir_; }
    // Drops one trailing backslash, except after a colon (a drive root).
    void SetInitialDir(std::string dir);

    std::string TemplateName;  // dialog template resource; empty: none
    TOpenOptions Options = 0;
    TOpenOptionsEx OptionsEx = 0;
    std::string Filter;
    int FilterIndex = 1;
    std::string Title;
    std::string DefaultExt;
    std::string FileName;

    TFileOKEvent OnFileOK;
    TSelChangeEvent OnSelChange;
    TDialogCommandEvent OnDialogCommand;
    wc::TNotifyEvent OnDialogShow;
    wc::TNotifyEvent OnDialogClose;

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;
    bool SetEvent(const std::string& name, wc::TNotifyEvent handler) override;

protected:
    // Called from the hook, in the dialog's thread.
    virtual void DoShowDialog();
    virtual void DoCloseDialog();
    virtual void DoFileOK(const std::string& fileName, bool& isOk);
    virtual void DoSelChange(const std::string& fileName);
    virtual void DoCommand(HWND hookWindow, HWND frameWindow, int controlId);

private:
    static UINT_PTR CALLBACK HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    UINT_PTR HandleHookMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Asks DoFileOK about the name(s) in the system's file buffer; the
    // dialog stays open when the answer is no.
    UINT_PTR CheckFileName(HWND window, const OPENFILENAMEW& open);
    void SelectionChanged(HWND frame);
    void OldStyleSelectionChanged(HWND window, WPARAM controlId, LPARAM lParam);

    HWND window_ = nullptr;
    std::string initialDir_;
    std::vector<std::string> files_;
    std::vector<std::string> selection_;  // scratch: a multiple selection being checked
};

// ---- the wave chooser and its preview panel (MMWaveOpenDialog.cpp) ----

class TMMWaveFile;
class TMMADPCMConverter;
class TMMWaveOut;
namespace wc {
class TTimer;
}

// The name a selection text stands for: of quoted names (a multiple
// selection, "folder\"a" "b"") the last one, made absolute against the
// folder; text without quotes whole, less one trailing backslash.
std::string ReduceSelectedName(std::string_view text);

// The preview's output buffer size for a (PCM) format: by the low 16 bits of
// the sample rate 512, 1024, 2048 or 3072 bytes, and 4096 above 48000, then
// scaled by the sample width. It depends on the format alone.
int32_t PreviewBufferSize(const WAVEFORMATEX* format) noexcept;

// The wave file chooser: the open dialog with a panel under the file list
// that names the selected file's format, shows its picture, draws its
// waveform and plays it through its own chain (wave file -> ADPCM
// converter -> wave output), which lives while the dialog window does.
class TMMWaveOpenDialog : public TMMCustomOpenDialog {
public:
    explicit TMMWaveOpenDialog(wc::TComponent* owner);
    ~TMMWaveOpenDialog() override;
    static const char* ClassName() { return "TMMWaveOpenDialog"; }

    wc::TColor Color = 0;               // background of the waveform area
    wc::TColor ForeColor = 0x00FF00;    // waveform pen
    wc::TColor LocatorColor = 0x0000FF; // play position and progress marks
    bool Preview = false;
    bool AutoPlay = false;
    int32_t DeviceID = -1;  // the output device; -1 is the system's mapper

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

    // While the dialog is up: the panel's chain and peak table.
    TMMWaveFile* Source() const noexcept { return source_.get(); }
    TMMWaveOut* Output() const noexcept { return output_.get(); }
    const WavePeakTable& Peaks() const noexcept { return peaks_; }
    // A waveform scan is under way (dialog thread only).
    bool Scanning() const noexcept { return scan_ != nullptr; }

protected:
    void DoShowDialog() override;
    void DoCloseDialog() override;
    void DoFileOK(const std::string& fileName, bool& isOk) override;
    void DoSelChange(const std::string& fileName) override;
    void DoCommand(HWND hookWindow, HWND frameWindow, int controlId) override;

private:
    static LRESULT CALLBACK WaveAreaProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT WaveAreaMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT PictureMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Opens the file of the last selection (when the update timer fires).
    void OpenSelection();
    void UpdatePanel();
    // The Play button by the panel's rules for the file (and Auto Play's
    // start when `autoStart`); deferred while a scan reads the wave.
    void UpdatePlayButton(bool autoStart);
    bool PlayAllowed() const;
    void DrawWaveform(HDC dc, const RECT& area);
    // The waveform scan runs beside the dialog's messages: a reader thread
    // reads and scans the blocks, and the dialog draws the columns known by
    // then on each kScanStepMessage. A new selection, closing the dialog and
    // unticking Preview cancel it.
    void ContinueScan();
    void CancelScan();
    void PaintWaveArea(HDC dc);
    void PaintPicture(HDC dc);
    void DrawLocator(int64_t oldPosition, int64_t newPosition);
    void AdjustOutputBuffer();

    // The file can be drawn: PCM with data and at most two channels.
    bool CanDrawWave() const;
    bool Playing() const;
    bool HasOutputDevice() const;
    bool OutputAcceptsFormat() const;
    // Starts the output; a failure is swallowed (the device has told OnError).
    void StartPlayback();
    void PlaybackStarted(wc::TComponent* sender);
    void PlaybackStopped(wc::TComponent* sender);
    void LocatorTick(wc::TComponent* sender);
    HWND Control(int id) const;

    std::unique_ptr<TMMWaveFile> source_;
    std::unique_ptr<TMMADPCMConverter> converter_;
    std::unique_ptr<TMMWaveOut> output_;
    std::unique_ptr<wc::TTimer> timer_;
    WavePeakTable peaks_;
    std::unique_ptr<WavePeakScan> scan_;
    // The peak table holds the whole waveform of the present selection.
    bool peaksKnown_ = false;
    // Auto Play waits for the scan of the selection to end.
    bool autoStartPending_ = false;
    // A step message is on its way (set by the reader thread, cleared by the dialog).
    std::atomic<bool> stepPosted_{false};
    bool chainBuilt_ = false;
    int64_t locator_ = -1;  // bytes; -1: none drawn
    bool redrawPending_ = false;
    // A selection waits for the update timer to be opened: its name.
    bool pendingSelection_ = false;
    std::string pendingName_;
    wc::WindowSubclass waveArea_;
    wc::WindowSubclass picture_;
};
