// Forms (top-level windows read from a stored layout), the application
// object with its message loop, and the plain message dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/Controls.h"

namespace wc {

enum TPosition { poDesigned, poScreenCenter };

// Modal results: 0 keeps a modal form open; the others end ShowModal.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// Sent by a form to its controls for an Alt+letter: wParam is the
// character, lParam the key message's data; a control that takes it as its
// accelerator answers non-zero.
inline constexpr UINT CM_DIALOGCHAR = WM_APP + 0x0B00;

// Sent to a per-monitor aware window whose monitor density changed
// (WM_DPICHANGED): wParam holds the new pixels per inch (y in the high word),
// lParam points to the window rectangle the system suggests.
constexpr UINT kDpiChangedMessage = 0x02E0;

// Labels of one row that came out wider than the layout's room push their
// right-hand neighbours along, so that none is drawn over another; the
// controls inside child containers are checked too.
void SeparateLabels(TWinControl& parent, int pixelsPerInch);

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    static const char* ClassName() { return "TForm"; }

    // Shows the form; a form placed at the screen centre is centred now, with its real size.
    void Show();
    void Close();

    // Shows the form with the thread's other windows disabled and dispatches
    // messages until a modal result is set (closing the form sets mrCancel);
    // gives that result.
    int ShowModal();
    int ModalResult() const noexcept { return modalResult_; }
    void SetModalResult(int value) noexcept { modalResult_ = value; }
    // Offers an Alt+letter to the form's controls, with the key message's
    // data (a held key's repeats say so); true when one took it.
    bool DialogChar(char key, LPARAM keyData = 0);

    TPosition Position() const noexcept { return position_; }
    int PixelsPerInch() const noexcept { return pixelsPerInch_; }

    bool SetProperty(const std::string& name, const LayoutValue& value) override;
    void Loaded() override;

    // Scales fonts and positions together from the current density to that
    // one, then checks that no label covers another.
    void ScaleToDensity(int pixelsPerInch);
    // The window moved to a monitor of that density: rescale and take the
    // system's suggested rectangle.
    void DpiChanged(int pixelsPerInch, const RECT& suggested);

protected:
    void CreateParams(TCreateParams& params) override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Reads the layout stored as the RCDATA resource of that name.
    void ReadLayoutResource(const char* resourceName);

private:
    TPosition position_ = poDesigned;
    int pixelsPerInch_ = 96;  // the layout's design resolution
    int clientWidth_ = -1, clientHeight_ = -1;
    int modalResult_ = mrNone;
    bool modal_ = false;
    HWND focusedChild_ = nullptr;  // the control that had the focus when the form was last deactivated
};

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Common controls and COM for the shell dialogs.
    void Initialize();

    // Creates a form owned by the application; the first one is the main form.
    template <class T>
    T& CreateForm() {
        T& form = MakeComponent<T>(*this);
        if (!mainForm_) mainForm_ = &form;
        return form;
    }
    TForm* MainForm() const noexcept { return mainForm_; }
    HWND Handle() const;  // the main form's window, or null

    // Shows the main form and dispatches messages until the program ends.
    void Run();
    // Dispatches every message waiting in the queue.
    void ProcessMessages();
    void Terminate();
    bool Terminated() const noexcept { return terminated_; }
    // Frees the forms (before the rest of the program shuts down).
    void DestroyForms();

    const std::string& Title() const noexcept { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    std::string ExeName() const;

    // Shows the error's message, or hands it to OnException when that is set.
    void HandleException(const std::exception& error);
    std::function<void(const std::exception&)> OnException;
    // Offered every message before it is dispatched; true keeps it from
    // being dispatched. Set by a form that watches the keyboard during a job.
    std::function<bool(const MSG&)> OnMessage;

private:
    friend class TForm;  // the modal loop dispatches as the main loop does
    bool ProcessMessage(MSG& message);

    TForm* mainForm_ = nullptr;
    std::string title_;
    bool terminated_ = false;
    bool oleInitialized_ = false;
};

// The process's application object.
TApplication& Application();

// The plain modal message dialog: no icon, one OK button, the application's
// title as caption, centred on the screen.
void ShowMessage(const std::wstring& text);
void ShowMessage(const std::string& text);
// The same with three buttons of these captions in place of OK (as Yes, No
// and Cancel: Esc presses the third); the index of the one pressed, -1 when
// the box ended otherwise.
int ShowMessage(const std::wstring& text, const std::vector<std::wstring>& buttons);

}  // namespace wc
