#include "framework/Controls.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/Exceptions.h"
#include "framework/Strings.h"

namespace wc {

namespace {

constexpr char kWindowClass[] = "WcWindow";
// The window property that links a window to its control object.
constexpr char kControlProperty[] = "WcControl";
// Child window ids: unique within the process, which is all WM_COMMAND needs.
UINT_PTR g_nextChildId = 1000;

void RegisterWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = ControlWindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512) /* IDC_ARROW */);
        windowClass.lpszClassName = kWindowClass;
        return ::RegisterClassExA(&windowClass) != 0;
    }();
    if (!registered) throw EOSError("RegisterClassExA", ::GetLastError());
}

}  // namespace

int ScreenPixelsPerInch() {
    WindowDc screen(nullptr);
    return ::GetDeviceCaps(screen.get(), LOGPIXELSY);
}

int WindowPixelsPerInch(HWND window) {
    // GetDpiForWindow (Windows 10 1607 and later) knows the density of the
    // window's own monitor; older systems have one density for all screens.
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (window && getDpiForWindow)
        if (const UINT dpi = getDpiForWindow(window)) return int(dpi);
    return ScreenPixelsPerInch();
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TWinControl* control = TWinControl::FromHandle(window);
    if (!control && message == WM_NCCREATE) {
        // A window of the framework's class being made: CreateHandle passed its control.
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        control = static_cast<TWinControl*>(create->lpCreateParams);
        if (control) control->Attach(window);
    }
    if (!control) return ::DefWindowProcA(window, message, wParam, lParam);
    LRESULT result = 0;
    try {
        result = control->WndProc(message, wParam, lParam);
    } catch (const std::exception& error) {
        HandleException(error);
    }
    if (message == WM_NCDESTROY) control->Detach();
    return result;
}

TWinControl::TWinControl(TComponent* owner) : TComponent(owner) {
    // A font set on the control itself ends the inheritance from the parent.
    font_.OnChange = [this] {
        if (!inheritingFont_) parentFont_ = false;
        FontChanged();
    };
}

void TWinControl::InheritFont(const TFont& font) {
    inheritingFont_ = true;
    font_ = font;
    inheritingFont_ = false;
}

TWinControl::~TWinControl() {
    SetComponentState(csDestroying);
    for (TWinControl* child : controls_) child->parent_ = nullptr;
    controls_.clear();
    if (parent_) SetParent(nullptr);
    if (handle_) {
        // Unlink first: the window's last messages must not reach a half-destroyed object.
        HWND window = handle_.release();
        ::RemovePropA(window, kControlProperty);
        subclass_.restore();
        ::DestroyWindow(window);
    }
}

TWinControl* TWinControl::FromHandle(HWND window) {
    return window ? static_cast<TWinControl*>(::GetPropA(window, kControlProperty)) : nullptr;
}

void TWinControl::Attach(HWND window) {
    handle_.reset(window);
    ::SetPropA(window, kControlProperty, this);
}

void TWinControl::Detach() {
    if (!handle_) return;
    HWND window = handle_.release();
    ::RemovePropA(window, kControlProperty);
    subclass_ = WindowSubclass();
}

void TWinControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    if (parent_) {
        auto& siblings = parent_->controls_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    parent_ = parent;
    if (parent_) {
        parent_->controls_.push_back(this);
        if (parentFont_) InheritFont(parent_->font_);
        if (parentColor_) color_ = parent_->color_;
        if (parent_->HandleAllocated()) CreateHandle();
    }
}

void TWinControl::ReadChild(TComponent& child, TComponent& enclosing) {
    auto* control = dynamic_cast<TWinControl*>(&child);
    auto* parent = dynamic_cast<TWinControl*>(&enclosing);
    if (control && parent) control->SetParent(parent);
}

HWND TWinControl::Handle() {
    if (!handle_) {
        if (parent_ && !parent_->HandleAllocated()) parent_->Handle();  // makes this one too
        if (!handle_) CreateHandle();
    }
    return handle_.get();
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    if (parent_) params.style |= WS_CHILD;
    if (visible_ && parent_) params.style |= WS_VISIBLE;
    if (!enabled_) params.style |= WS_DISABLED;
    if (tabStop_) params.style |= WS_TABSTOP;
}

void TWinControl::CreateHandle() {
    if (handle_ || handleCreating_) return;
    handleCreating_ = true;
    TCreateParams params;
    CreateParams(params);
    HWND parentWindow = parent_ ? parent_->Handle() : nullptr;
    const bool ownClass = params.className.empty();
    if (ownClass) RegisterWindowClass();
    HMENU id = parent_ ? reinterpret_cast<HMENU>(g_nextChildId++) : nullptr;
    HWND window = ::CreateWindowExA(params.exStyle, ownClass ? kWindowClass : params.className.c_str(),
                                    caption_.c_str(), params.style, left_, top_, width_, height_, parentWindow, id,
                                    ::GetModuleHandleA(nullptr), ownClass ? this : nullptr);
    handleCreating_ = false;
    if (!window) throw EOSError("CreateWindowExA", ::GetLastError());
    if (!ownClass) {
        Attach(window);
        // Wide, so that a path caption set through the wide API keeps
        // characters outside the code page.
        subclass_ = WindowSubclass(window, ControlWindowProc, WindowSubclass::Text::Wide);
    }
    if (captionIsPath_) ::SetWindowTextW(window, PathToWide(caption_).c_str());
    CreateWnd();
    for (TWinControl* child : controls_) child->CreateHandle();
}

void TWinControl::CreateWnd() { ::SendMessageA(handle_.get(), WM_SETFONT, WPARAM(font_.Handle()), FALSE); }

LRESULT TWinControl::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = handle_.get();
    if (subclass_.previous()) return subclass_.CallPrevious(message, wParam, lParam);
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (lParam) {
                TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam));
                if (child && child != this && child->CommandNotify(HIWORD(wParam))) return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT: {
            TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam));
            if (child && child != this) return reinterpret_cast<LRESULT>(child->CtlColor(reinterpret_cast<HDC>(wParam)));
            break;
        }
        case WM_ERASEBKGND:
            if (!subclass_.previous()) {
                RECT area;
                ::GetClientRect(handle_.get(), &area);
                ::FillRect(reinterpret_cast<HDC>(wParam), &area, ColorBrush());
                return 1;
            }
            break;
        case WM_SIZE:
        case WM_MOVE: {
            // Keep the fields in step when the system moves or sizes the window.
            RECT bounds;
            ::GetWindowRect(handle_.get(), &bounds);
            if (HWND parentWindow = ::GetParent(handle_.get()); parentWindow && (::GetWindowLongA(handle_.get(), GWL_STYLE) & WS_CHILD))
                ::MapWindowPoints(nullptr, parentWindow, reinterpret_cast<POINT*>(&bounds), 2);
            left_ = bounds.left;
            top_ = bounds.top;
            width_ = bounds.right - bounds.left;
            height_ = bounds.bottom - bounds.top;
            BoundsChanged();
            break;
        }
    }
    return DefaultHandler(message, wParam, lParam);
}

HBRUSH TWinControl::ColorBrush() {
    if (!brush_) brush_.reset(::CreateSolidBrush(ColorToRGB(color_)));
    return brush_.get();
}

HBRUSH TWinControl::CtlColor(HDC dc) {
    ::SetTextColor(dc, ColorToRGB(font_.Color()));
    ::SetBkColor(dc, ColorToRGB(color_));
    return ColorBrush();
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    ApplyBounds();
    BoundsChanged();
}

void TWinControl::ApplyBounds() {
    if (handle_) ::MoveWindow(handle_.get(), left_, top_, width_, height_, TRUE);
}

RECT TWinControl::ClientRect() {
    RECT area{0, 0, width_, height_};
    if (handle_) ::GetClientRect(handle_.get(), &area);
    return area;
}

void TWinControl::SetCaption(std::string caption) {
    if (caption == caption_ && !captionIsPath_) return;
    caption_ = std::move(caption);
    captionIsPath_ = false;
    if (handle_) ::SetWindowTextA(handle_.get(), caption_.c_str());
    CaptionChanged();
}

void TWinControl::SetPathCaption(std::string path) {
    if (path == caption_ && captionIsPath_) return;
    caption_ = std::move(path);
    captionIsPath_ = true;
    if (handle_) ::SetWindowTextW(handle_.get(), PathToWide(caption_).c_str());
    CaptionChanged();
}

void TWinControl::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (handle_) ::EnableWindow(handle_.get(), enabled);
}

void TWinControl::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    if (handle_ && parent_) ::ShowWindow(handle_.get(), visible ? SW_SHOW : SW_HIDE);
}

void TWinControl::SetParentFont(bool parentFont) {
    parentFont_ = parentFont;
    if (parentFont && parent_) InheritFont(parent_->font_);
}

void TWinControl::SetColor(TColor color) {
    parentColor_ = false;
    if (color == color_) return;
    color_ = color;
    ColorChanged();
}

void TWinControl::SetParentColor(bool parentColor) {
    parentColor_ = parentColor;
    if (parentColor && parent_ && color_ != parent_->color_) {
        color_ = parent_->color_;
        ColorChanged();
    }
}

void TWinControl::ColorChanged() {
    brush_.reset();
    for (TWinControl* child : controls_)
        if (child->parentColor_ && child->color_ != color_) {
            child->color_ = color_;
            child->ColorChanged();
        }
    Invalidate();
}

void TWinControl::FontChanged() {
    if (handle_) {
        ::SendMessageA(handle_.get(), WM_SETFONT, WPARAM(font_.Handle()), TRUE);
    }
    for (TWinControl* child : controls_)
        if (child->parentFont_) child->InheritFont(font_);
}

void TWinControl::SetTabStop(bool tabStop) {
    tabStop_ = tabStop;
    if (handle_) {
        LONG style = ::GetWindowLongA(handle_.get(), GWL_STYLE);
        ::SetWindowLongA(handle_.get(), GWL_STYLE, tabStop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
    }
}

void TWinControl::ChangeScale(int m, int d) {
    // Edges are scaled, not sizes, so that controls that meet at design time still meet.
    const int left = ::MulDiv(left_, m, d), top = ::MulDiv(top_, m, d);
    SetBounds(left, top, ::MulDiv(left_ + width_, m, d) - left, ::MulDiv(top_ + height_, m, d) - top);
    for (TWinControl* child : controls_) child->ChangeScale(m, d);
    // The font last: a control that sizes itself to its text (a label) does so
    // from its scaled place with the scaled font, and that size is not scaled again.
    if (!parentFont_) font_.SetHeight(::MulDiv(font_.Height(), m, d));
}

void TWinControl::Invalidate() {
    if (handle_) ::InvalidateRect(handle_.get(), nullptr, TRUE);
}

void TWinControl::Repaint() {
    if (handle_) {
        ::InvalidateRect(handle_.get(), nullptr, TRUE);
        ::UpdateWindow(handle_.get());
    }
}

void TWinControl::Click() {
    if (OnClick) OnClick(this);
}

bool TWinControl::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "Left") SetLeft(value.AsInteger());
    else if (name == "Top") SetTop(value.AsInteger());
    else if (name == "Width") SetWidth(value.AsInteger());
    else if (name == "Height") SetHeight(value.AsInteger());
    else if (name == "Caption") SetCaption(value.AsString());
    else if (name == "Enabled") SetEnabled(value.AsBoolean());
    else if (name == "Visible") SetVisible(value.AsBoolean());
    else if (name == "ParentFont") SetParentFont(value.AsBoolean());
    else if (name == "ParentColor") SetParentColor(value.AsBoolean());
    else if (name == "TabOrder") tabOrder_ = value.AsInteger();
    else if (name == "TabStop") SetTabStop(value.AsBoolean());
    else if (name == "Color") SetColor(LayoutColor(value));
    else if (name.compare(0, 5, "Font.") == 0) {
        return font_.SetProperty(name.substr(5), value);
    } else {
        return TComponent::SetProperty(name, value);
    }
    return true;
}

bool TWinControl::SetEvent(const std::string& name, TNotifyEvent handler) {
    if (name == "OnClick") {
        OnClick = std::move(handler);
        return true;
    }
    return TComponent::SetEvent(name, std::move(handler));
}

// ---- TLabel ----

TLabel::TLabel(TComponent* owner) : TWinControl(owner) { SetParentColor(true); }

void TLabel::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.className = "STATIC";
    // Captions are shown as they are: a path with "&" must not lose it.
    params.style |= SS_NOPREFIX | (alignment_ == taRightJustify ? SS_RIGHT : alignment_ == taCenter ? SS_CENTER : SS_LEFT);
}

void TLabel::SetAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    AdjustBounds();
}

void TLabel::SetAlignment(TAlignment alignment) {
    if (alignment == alignment_) return;
    alignment_ = alignment;
    if (HandleAllocated()) {
        LONG style = ::GetWindowLongA(Handle(), GWL_STYLE) & ~(SS_RIGHT | SS_CENTER);
        ::SetWindowLongA(Handle(), GWL_STYLE, style | (alignment == taRightJustify ? SS_RIGHT : alignment == taCenter ? SS_CENTER : SS_LEFT));
        Invalidate();
    }
}

bool TLabel::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "AutoSize") {
        SetAutoSize(value.AsBoolean());
    } else if (name == "Alignment") {
        SetAlignment(TAlignment(LayoutEnum(value, {"taLeftJustify", "taRightJustify", "taCenter"})));
    } else {
        return TWinControl::SetProperty(name, value);
    }
    return true;
}

void TLabel::ChangeScale(int m, int d) {
    TWinControl::ChangeScale(m, d);
    // The text's width at the new size is measured, not assumed from the old one.
    AdjustBounds();
}

void TLabel::Loaded() {
    TWinControl::Loaded();
    AdjustBounds();
}

void TLabel::FontChanged() {
    TWinControl::FontChanged();
    AdjustBounds();
}

void TLabel::CaptionChanged() {
    AdjustBounds();
    Invalidate();
}

void TLabel::AdjustBounds() {
    if (!autoSize_ || IsLoading()) return;
    WindowDc screen(nullptr);
    DcSelection font(screen.get(), Font().Handle());
    RECT extent{0, 0, 0, 0};
    // An empty caption still has the height of one line.
    const std::wstring text = Caption().empty() ? std::wstring(L" ")
                              : CaptionIsPath()  ? PathToWide(Caption())
                                                 : ToWide(Caption());
    ::DrawTextW(screen.get(), text.c_str(), int(text.size()), &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const int width = Caption().empty() ? 0 : extent.right;
    // Right-aligned labels keep their right edge.
    const int left = alignment_ == taRightJustify ? Left() + Width() - width : Left();
    SetBounds(left, Top(), width, extent.bottom);
}

// ---- TButton ----

TButton::TButton(TComponent* owner) : TWinControl(owner) {}

void TButton::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.className = "BUTTON";
    params.style |= BS_PUSHBUTTON;
}

bool TButton::CommandNotify(WORD code) {
    if (code != BN_CLICKED) return false;
    Click();
    return true;
}

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner) {}

void TProgressBar::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.className = PROGRESS_CLASSA;
}

void TProgressBar::CreateWnd() {
    TWinControl::CreateWnd();
    ::SendMessageA(Handle(), PBM_SETRANGE32, 0, max_);
    ::SendMessageA(Handle(), PBM_SETPOS, WPARAM(position_), 0);
}

void TProgressBar::SetMax(int max) {
    max_ = max < 1 ? 1 : max;
    if (HandleAllocated()) ::SendMessageA(Handle(), PBM_SETRANGE32, 0, max_);
    SetPosition(position_);
}

void TProgressBar::SetPosition(int position) {
    position_ = position < 0 ? 0 : position > max_ ? max_ : position;
    if (HandleAllocated()) ::SendMessageA(Handle(), PBM_SETPOS, WPARAM(position_), 0);
}

bool TProgressBar::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "Max") SetMax(value.AsInteger());
    else if (name == "Position") SetPosition(value.AsInteger());
    else return TWinControl::SetProperty(name, value);
    return true;
}

}  // namespace wc
