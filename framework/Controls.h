// Windowed controls: every control is a real window whose window text is
// its caption, so tests and screen readers find it by that text.
//
// A control keeps its properties in fields and creates its window on demand
// (Handle()), after its parent's. Messages reach the virtual WndProc of the
// control object; WM_COMMAND and WM_CTLCOLOR* sent to a parent are handed
// to the child control they concern (CommandNotify, CtlColor). An exception
// thrown by a handler is caught at the window procedure and given to the
// application's exception handler: it never unwinds through the system.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <vector>

#include "framework/Components.h"
#include "framework/Graphics.h"
#include "framework/Handles.h"

namespace wc {

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct TCreateParams {
    std::string className;    // a system class ("STATIC", "BUTTON") or empty for the framework's own
    DWORD style = 0;
    DWORD exStyle = 0;
};

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TWinControl : public TComponent {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    static const char* ClassName() { return "TWinControl"; }

    TWinControl* Parent() const noexcept { return parent_; }
    void SetParent(TWinControl* parent);
    const std::vector<TWinControl*>& Controls() const noexcept { return controls_; }

    // The window, created (with its parent's) on first use.
    HWND Handle();
    bool HandleAllocated() const noexcept { return handle_.valid(); }

    int Left() const noexcept { return left_; }
    int Top() const noexcept { return top_; }
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int left) { SetBounds(left, top_, width_, height_); }
    void SetTop(int top) { SetBounds(left_, top, width_, height_); }
    void SetWidth(int width) { SetBounds(left_, top_, width, height_); }
    void SetHeight(int height) { SetBounds(left_, top_, width_, height); }
    RECT ClientRect();

    const std::string& Caption() const noexcept { return caption_; }
    // A caption of the code page.
    void SetCaption(std::string caption);
    // A path (UTF-8) as the caption, shown through the wide API so that a
    // name outside the code page reads right; Caption() gives it back.
    void SetPathCaption(std::string path);
    bool CaptionIsPath() const noexcept { return captionIsPath_; }

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool visible);

    TFont& Font() noexcept { return font_; }
    bool ParentFont() const noexcept { return parentFont_; }
    void SetParentFont(bool parentFont);
    TColor Color() const noexcept { return color_; }
    void SetColor(TColor color);
    bool ParentColor() const noexcept { return parentColor_; }
    void SetParentColor(bool parentColor);

    int TabOrder() const noexcept { return tabOrder_; }
    bool TabStop() const noexcept { return tabStop_; }
    void SetTabStop(bool tabStop);

    TNotifyEvent OnClick;

    bool SetProperty(const std::string& name, const LayoutValue& value) override;
    bool SetEvent(const std::string& name, TNotifyEvent handler) override;

    // Scales position, size and own font by m/d (layouts are designed at 96 pixels per inch).
    virtual void ChangeScale(int m, int d);

    void Invalidate();
    void Repaint();

    // The control whose window that is, or null.
    static TWinControl* FromHandle(HWND window);

    // Fires OnClick.
    virtual void Click();

protected:
    virtual void CreateParams(TCreateParams& params);
    // Called once the window exists, before the children's windows are made.
    virtual void CreateWnd();
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam);

    // A WM_COMMAND notification about this control (from its parent); true when handled.
    virtual bool CommandNotify(WORD code) { return false; }
    // WM_CTLCOLOR* for this control: the brush to paint with.
    virtual HBRUSH CtlColor(HDC dc);

    virtual void FontChanged();
    virtual void CaptionChanged() {}
    virtual void BoundsChanged() {}
    virtual void ColorChanged();

    HBRUSH ColorBrush();

    void ReadChild(TComponent& child, TComponent& enclosing) override;

private:
    friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM);
    void CreateHandle();
    void Attach(HWND window);
    void Detach();
    void ApplyBounds();
    void InheritFont(const TFont& font);

    TWinControl* parent_ = nullptr;
    std::vector<TWinControl*> controls_;
    WindowHandle handle_;
    WindowSubclass subclass_;  // for windows of system classes
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::string caption_;
    bool captionIsPath_ = false;  // caption_ is UTF-8
    bool enabled_ = true;
    bool visible_ = true;
    TFont font_;
    bool parentFont_ = true;
    bool inheritingFont_ = false;
    TColor color_ = clBtnFace;
    bool parentColor_ = false;
    BrushHandle brush_;
    int tabOrder_ = -1;
    bool tabStop_ = false;
    bool handleCreating_ = false;
};

// A text label: a STATIC window that sizes itself to its caption.
class TLabel : public TWinControl {
public:
    explicit TLabel(TComponent* owner);
    static const char* ClassName() { return "TLabel"; }

    bool AutoSize() const noexcept { return autoSize_; }
    void SetAutoSize(bool autoSize);
    TAlignment Alignment() const noexcept { return alignment_; }
    void SetAlignment(TAlignment alignment);

    bool SetProperty(const std::string& name, const LayoutValue& value) override;
    void Loaded() override;
    void ChangeScale(int m, int d) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void FontChanged() override;
    void CaptionChanged() override;

private:
    void AdjustBounds();

    bool autoSize_ = true;
    TAlignment alignment_ = taLeftJustify;
};

// A plain push button (BUTTON window); OnClick fires on BN_CLICKED.
class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    static const char* ClassName() { return "TButton"; }

protected:
    void CreateParams(TCreateParams& params) override;
    bool CommandNotify(WORD code) override;
};

// The common controls' progress bar (msctls_progress32): a position from 0
// to Max shown as a filled share of the bar.
class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* owner);
    static const char* ClassName() { return "TProgressBar"; }

    int Max() const noexcept { return max_; }
    void SetMax(int max);
    int Position() const noexcept { return position_; }
    // Clamped to 0..Max.
    void SetPosition(int position);

    bool SetProperty(const std::string& name, const LayoutValue& value) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;

private:
    int max_ = 100;
    int position_ = 0;
};

// The screen's pixels per inch.
int ScreenPixelsPerInch();
// The pixels per inch of the monitor that shows the window (the screen's
// where the system has one density for all).
int WindowPixelsPerInch(HWND window);

// Given to the application's exception handler (defined with the application object).
void HandleException(const std::exception& error) noexcept;

}  // namespace wc
