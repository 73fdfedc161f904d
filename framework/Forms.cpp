#include "framework/Forms.h"

#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Files.h"
#include "framework/Strings.h"

namespace wc {

// ---- TForm ----

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    SetVisible(false);
    SetColor(clBtnFace);
}

void TForm::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.style |= WS_OVERLAPPEDWINDOW;
    params.exStyle |= WS_EX_CONTROLPARENT;
}

bool TForm::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "Position") {
        const std::string& ident = value.AsIdentifier();
        if (ident == "poScreenCenter" || ident == "poDesktopCenter") position_ = poScreenCenter;
        else if (ident == "poDesigned" || ident == "poDefault") position_ = poDesigned;
        else throw Exception("Invalid position " + ident);
    } else if (name == "PixelsPerInch") {
        pixelsPerInch_ = value.AsInteger();
        if (pixelsPerInch_ <= 0) throw Exception("Invalid pixels per inch");
    } else if (name == "ClientWidth") {
        clientWidth_ = value.AsInteger();
    } else if (name == "ClientHeight") {
        clientHeight_ = value.AsInteger();
    } else if (name == "TextHeight" || name == "OldCreateOrder" || name == "Scaled") {
        // Designer bookkeeping with no effect at run time.
    } else {
        return TWinControl::SetProperty(name, value);
    }
    return true;
}

void TForm::Loaded() {
    TWinControl::Loaded();
    // The layout is designed at pixelsPerInch_; scale it to the screen.
    const int screen = ScreenPixelsPerInch();
    if (screen != pixelsPerInch_) {
        if (clientWidth_ >= 0) clientWidth_ = ::MulDiv(clientWidth_, screen, pixelsPerInch_);
        if (clientHeight_ >= 0) clientHeight_ = ::MulDiv(clientHeight_, screen, pixelsPerInch_);
    }
    ScaleToDensity(screen);
    if (clientWidth_ >= 0 || clientHeight_ >= 0) {
        TCreateParams params;
        CreateParams(params);
        RECT frame{0, 0, clientWidth_ >= 0 ? clientWidth_ : 0, clientHeight_ >= 0 ? clientHeight_ : 0};
        ::AdjustWindowRectEx(&frame, params.style, FALSE, params.exStyle);
        SetBounds(Left(), Top(), clientWidth_ >= 0 ? frame.right - frame.left : Width(),
                  clientHeight_ >= 0 ? frame.bottom - frame.top : Height());
    }
    // The window's own monitor may have another density than the screen's default.
    ScaleToDensity(WindowPixelsPerInch(Handle()));
}

void TForm::ScaleToDensity(int pixelsPerInch) {
    if (pixelsPerInch > 0 && pixelsPerInch != pixelsPerInch_) {
        ChangeScale(pixelsPerInch, pixelsPerInch_);
        pixelsPerInch_ = pixelsPerInch;
    }
    // Checked, not assumed: text does not grow exactly in step with the density.
    SeparateLabels(*this, pixelsPerInch_);
}

void TForm::DpiChanged(int pixelsPerInch, const RECT& suggested) {
    ScaleToDensity(pixelsPerInch);
    SetBounds(suggested.left, suggested.top, suggested.right - suggested.left, suggested.bottom - suggested.top);
    Invalidate();
}

namespace {

// The least room between two labels of one row, in pixels at 96 per inch:
// the layouts place a value label this far after its caption label.
constexpr int kLabelGap = 3;

bool SameRow(TWinControl& a, TWinControl& b) {
    return a.Top() < b.Top() + b.Height() && b.Top() < a.Top() + a.Height();
}

}  // namespace

void SeparateLabels(TWinControl& parent, int pixelsPerInch) {
    std::vector<TLabel*> labels;
    for (TWinControl* child : parent.Controls()) {
        if (auto* label = dynamic_cast<TLabel*>(child); label && label->Visible()) labels.push_back(label);
        else if (child->Visible()) SeparateLabels(*child, pixelsPerInch);
    }
    std::stable_sort(labels.begin(), labels.end(), [](TLabel* a, TLabel* b) { return a->Left() < b->Left(); });
    const int gap = ::MulDiv(kLabelGap, pixelsPerInch, 96);
    for (size_t i = 0; i < labels.size(); ++i) {
        TLabel& left = *labels[i];
        for (size_t j = i + 1; j < labels.size(); ++j) {
            TLabel& right = *labels[j];
            if (SameRow(left, right) && right.Left() < left.Left() + left.Width())
                right.SetLeft(left.Left() + left.Width() + gap);
        }
    }
}

void TForm::ReadLayoutResource(const char* resourceName) {
    ReadLayout(ParseLayout(LoadLayoutResource(resourceName)));
}

void TForm::Show() {
    HWND window = Handle();
    if (position_ == poScreenCenter) {
        RECT bounds;
        ::GetWindowRect(window, &bounds);
        const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
        SetBounds((::GetSystemMetrics(SM_CXSCREEN) - width) / 2, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                  width, height);
    }
    SetVisible(true);
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
}

void TForm::Close() {
    if (HandleAllocated()) ::SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYSCHAR && DialogChar(char(wParam), lParam)) return 0;
    // The focus comes back to the control that had it, as in a dialog; the
    // first tab stop takes it when there is none.
    if (message == WM_ACTIVATE && LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus && ::IsChild(Handle(), focus)) focusedChild_ = focus;
    }
    if (message == WM_SETFOCUS) {
        HWND target = focusedChild_;
        if (!target || !::IsChild(Handle(), target) || !::IsWindowVisible(target) || !::IsWindowEnabled(target))
            target = ::GetNextDlgTabItem(Handle(), nullptr, FALSE);
        if (target) {
            ::SetFocus(target);
            return 0;
        }
    }
    if (message == kDpiChangedMessage && lParam) {
        DpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    }
    if (message == WM_CLOSE) {
        if (modal_ && modalResult_ == mrNone) modalResult_ = mrCancel;
        ::ShowWindow(Handle(), SW_HIDE);
        SetVisible(false);
        if (Application().MainForm() == this) Application().Terminate();
        return 0;
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

// ---- modal forms and accelerators ----

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

struct DialogCharOffer {
    char key;
    LPARAM keyData;
    bool taken;
};

BOOL CALLBACK OfferDialogChar(HWND child, LPARAM data) {
    auto* offer = reinterpret_cast<DialogCharOffer*>(data);
    if (!::IsWindowVisible(child) || !::IsWindowEnabled(child)) return TRUE;
    offer->taken = ::SendMessageA(child, CM_DIALOGCHAR, WPARAM(BYTE(offer->key)), offer->keyData) != 0;
    return offer->taken ? FALSE : TRUE;
}

}  // namespace

int TForm::ShowModal() {
    HWND window = Handle();
    // The thread's other windows take no input while this form is up.
    std::vector<HWND> disabled;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&disabled));
    std::erase_if(disabled, [window](HWND other) {
        return other == window || !::IsWindowVisible(other) || !::IsWindowEnabled(other);
    });
    for (HWND other : disabled) ::EnableWindow(other, FALSE);
    modalResult_ = mrNone;
    modal_ = true;
    Show();
    ::SetActiveWindow(window);
    MSG message;
    while (modalResult_ == mrNone) {
        const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(int(message.wParam));  // for the loop of Run
            modalResult_ = mrCancel;
            break;
        }
        if (got == -1) {
            modalResult_ = mrCancel;
            break;
        }
        Application().ProcessMessage(message);
    }
    modal_ = false;
    for (HWND other : disabled) ::EnableWindow(other, TRUE);
    ::ShowWindow(window, SW_HIDE);
    SetVisible(false);
    return modalResult_;
}

bool TForm::DialogChar(char key, LPARAM keyData) {
    if (!HandleAllocated()) return false;
    DialogCharOffer offer{key, keyData, false};
    ::EnumChildWindows(Handle(), OfferDialogChar, reinterpret_cast<LPARAM>(&offer));
    return offer.taken;
}

// ---- TApplication ----

TApplication& Application() {
    static TApplication application;
    return application;
}

TApplication::TApplication() : TComponent(nullptr) {
    title_ = FromWide(PathToWide(ExtractFileName(ExecutablePath())));  // a text of the code page
    if (const size_t dot = title_.rfind('.'); dot != std::string::npos) title_.erase(dot);
}

TApplication::~TApplication() {
    if (oleInitialized_) ::OleUninitialize();
}

void TApplication::Initialize() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    if (!oleInitialized_) oleInitialized_ = SUCCEEDED(::OleInitialize(nullptr));
}

HWND TApplication::Handle() const {
    return mainForm_ && mainForm_->HandleAllocated() ? mainForm_->Handle() : nullptr;
}

std::string TApplication::ExeName() const { return ExecutablePath(); }

bool TApplication::ProcessMessage(MSG& message) {
    if (message.message == WM_QUIT) {
        terminated_ = true;
        return false;
    }
    if (OnMessage && OnMessage(message)) return true;
    if (message.message == WM_SYSCHAR && message.hwnd) {
        // Alt+letter presses the control with that accelerator anywhere on the form.
        auto* form = dynamic_cast<TForm*>(TWinControl::FromHandle(::GetAncestor(message.hwnd, GA_ROOT)));
        if (form && form->DialogChar(char(message.wParam), message.lParam)) return true;
    }
    HWND active = ::GetActiveWindow();
    if (active && TWinControl::FromHandle(active) && ::IsDialogMessageA(active, &message)) return true;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
    return true;
}

void TApplication::Run() {
    if (mainForm_) mainForm_->Show();
    MSG message;
    while (!terminated_) {
        const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        ProcessMessage(message);
    }
    terminated_ = true;
}

void TApplication::ProcessMessages() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!ProcessMessage(message)) {
            ::PostQuitMessage(int(message.wParam));  // for the loop of Run
            break;
        }
    }
}

void TApplication::Terminate() {
    ::PostQuitMessage(0);
}

void TApplication::DestroyForms() {
    mainForm_ = nullptr;
    while (ComponentCount() > 0) DestroyLastComponent();
}

void TApplication::HandleException(const std::exception& error) {
    if (OnException) {
        OnException(error);
        return;
    }
    ::MessageBoxW(Handle(), ToWide(error.what()).c_str(), ToWide(title_).c_str(), MB_OK | MB_ICONERROR);
}

void HandleException(const std::exception& error) noexcept {
    try {
        Application().HandleException(error);
    } catch (...) {
        // Nothing may leave a window procedure.
    }
}

// ---- ShowMessage ----

namespace {

thread_local HHOOK g_centreHook = nullptr;
// The captions the box's Yes, No and Cancel buttons take, while one is shown.
thread_local const std::vector<std::wstring>* g_buttonCaptions = nullptr;

// Centres the message box on the screen as it is activated.
LRESULT CALLBACK CentreOnScreenHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        RECT bounds;
        ::GetWindowRect(box, &bounds);
        const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
        ::SetWindowPos(box, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                       (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (const std::vector<std::wstring>* captions = g_buttonCaptions) {
            const int ids[] = {IDYES, IDNO, IDCANCEL};
            for (size_t i = 0; i < captions->size() && i < 3; ++i)
                ::SetDlgItemTextW(box, ids[i], (*captions)[i].c_str());
        }
        ::UnhookWindowsHookEx(std::exchange(g_centreHook, nullptr));
        return 0;
    }
    return ::CallNextHookEx(g_centreHook, code, wParam, lParam);
}

}  // namespace

void ShowMessage(const std::wstring& text) {
    HWND owner = ::GetActiveWindow();
    if (!owner) owner = Application().Handle();
    HookHandle hook(::SetWindowsHookExA(WH_CBT, CentreOnScreenHook, nullptr, ::GetCurrentThreadId()));
    g_centreHook = hook.get();
    ::MessageBoxW(owner, text.c_str(), ToWide(Application().Title()).c_str(), MB_OK);
    // The hook removes itself on activation; if the box never activated, this does.
    if (g_centreHook) g_centreHook = nullptr;
    else hook.release();
}

void ShowMessage(const std::string& text) { ShowMessage(ToWide(text)); }

int ShowMessage(const std::wstring& text, const std::vector<std::wstring>& buttons) {
    HWND owner = ::GetActiveWindow();
    if (!owner) owner = Application().Handle();
    HookHandle hook(::SetWindowsHookExA(WH_CBT, CentreOnScreenHook, nullptr, ::GetCurrentThreadId()));
    g_centreHook = hook.get();
    g_buttonCaptions = &buttons;
    const int pressed = ::MessageBoxW(owner, text.c_str(), ToWide(Application().Title()).c_str(), MB_YESNOCANCEL);
    g_buttonCaptions = nullptr;
    if (g_centreHook) g_centreHook = nullptr;
    else hook.release();
    switch (pressed) {
    case IDYES: return 0;
    case IDNO: return 1;
    case IDCANCEL: return 2;
    default: return -1;
    }
}

}  // namespace wc
