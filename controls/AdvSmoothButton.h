// TAdvSmoothButton: a push button drawn with anti-aliased GDI+ graphics: a
// glossy rounded body whose colours all derive from one base colour, a
// caption, an optional picture, shadow, bevel ring, dotted focus outline and
// a status badge (a small pill with a count) at the top-right corner.
//
// The look is rendered into a cached 32-bit ARGB bitmap that is rebuilt only
// after a visible change; every paint first copies the parent's background
// under the control and then draws the cached bitmap over it, so the rounded
// corners show what lies behind. A click is what a system button takes for
// one: the left button pressed on this control and released over it (a
// release without that press, another button, or a release elsewhere click
// nothing; the release after a double click neither). The pressed look then
// stays for about 100 ms while pending messages are dispatched.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/AdvGDIP.h"
#include "controls/GDIPFill.h"
#include "framework/Controls.h"
#include "framework/Exceptions.h"

class EColorError : public wc::Exception {
public:
    using wc::Exception::Exception;
};

// Hue in degrees (0 to 360, -1 when undefined: grey), saturation and value 0 to 1.
void RGBtoHSV(double r, double g, double b, double& h, double& s, double& v);
// The inverse; channels 0 to 1. Raises EColorError when s is 0 but a hue is given.
void HSVtoRGB(double h, double s, double v, double& r, double& g, double& b);
// Each of red, green and blue plus k, clamped to 0..255.
wc::TColor ShiftColor(wc::TColor color, int k);
// The base colour with its value scaled by 0.7, channels rounded halves to even.
wc::TColor PressedColor(wc::TColor color);
// The character after the single "&" of a caption ("&&" is a plain ampersand), or 0.
char AcceleratorChar(const std::string& caption);

enum TGDIPButtonLayout { blPictureLeft, blPictureRight, blPictureBottom, blPictureTop, blNone };

// Named pictures a button can take by name.
class TGDIPPictureContainer : public wc::TComponent {
public:
    explicit TGDIPPictureContainer(wc::TComponent* owner) : wc::TComponent(owner) {}
    static const char* ClassName() { return "TGDIPPictureContainer"; }
    TAdvGDIPPicture& Add(const std::string& name);
    const TAdvGDIPPicture* FindPicture(const std::string& name) const;

private:
    std::vector<std::pair<std::string, std::unique_ptr<TAdvGDIPPicture>>> items_;
};

// A list of equally sized bitmaps a button can take by index.
class TCustomImageList : public wc::TComponent {
public:
    explicit TCustomImageList(wc::TComponent* owner) : wc::TComponent(owner) {}
    static const char* ClassName() { return "TCustomImageList"; }
    virtual int Count() const = 0;
    // The bitmap at that index (the list keeps it), or null when that entry is empty.
    virtual HBITMAP Bitmap(int index) const = 0;
};

// The look of the body and caption (Appearance).
class TGDIPButton {
public:
    TGDIPButton();
    TGDIPButton(const TGDIPButton&) = delete;
    TGDIPButton& operator=(const TGDIPButton&) = delete;
    void Assign(const TGDIPButton& other);

    int GlowPercentage() const noexcept { return glowPercentage_; }
    void SetGlowPercentage(int value) { Store(glowPercentage_, value); }
    wc::TAlignment Alignment() const noexcept { return alignment_; }
    void SetAlignment(wc::TAlignment value) { Store(alignment_, value); }
    wc::TAlignment PictureAlignment() const noexcept { return pictureAlignment_; }
    void SetPictureAlignment(wc::TAlignment value) { Store(pictureAlignment_, value); }
    wc::TFont& Font() noexcept { return font_; }
    const wc::TFont& Font() const noexcept { return font_; }
    TGDIPButtonLayout Layout() const noexcept { return layout_; }
    void SetLayout(TGDIPButtonLayout value) { Store(layout_, value); }
    int Spacing() const noexcept { return spacing_; }
    void SetSpacing(int value) { Store(spacing_, value); }
    int ShiftDown() const noexcept { return shiftDown_; }
    void SetShiftDown(int value) { Store(shiftDown_, value); }
    wc::TColor FocusColor() const noexcept { return focusColor_; }
    void SetFocusColor(wc::TColor value) { Store(focusColor_, value); }
    bool SimpleLayout() const noexcept { return simpleLayout_; }
    void SetSimpleLayout(bool value) { Store(simpleLayout_, value); }
    TCustomImageList* ImageList() const noexcept { return imageList_; }
    void SetImageList(TCustomImageList* value) { Store(imageList_, value); }
    TGDIPPictureContainer* PictureContainer() const noexcept { return pictureContainer_; }
    void SetPictureContainer(TGDIPPictureContainer* value) { Store(pictureContainer_, value); }
    int ImageIndex() const noexcept { return imageIndex_; }
    void SetImageIndex(int value) { Store(imageIndex_, value); }
    const std::string& PictureName() const noexcept { return pictureName_; }
    void SetPictureName(std::string value) { Store(pictureName_, std::move(value)); }
    const std::string& DisabledPictureName() const noexcept { return disabledPictureName_; }
    void SetDisabledPictureName(std::string value) { Store(disabledPictureName_, std::move(value)); }
    int DisabledImageIndex() const noexcept { return disabledImageIndex_; }
    void SetDisabledImageIndex(int value) { Store(disabledImageIndex_, value); }
    int Rounding() const noexcept { return rounding_; }
    void SetRounding(int value) { Store(rounding_, value); }

    bool SetProperty(const std::string& name, const wc::LayoutValue& value);

    std::function<void()> OnChange;
    std::function<void()> OnFontChange;
    // Asked whether the font is to be stored with the layout.
    std::function<bool()> OnIsFontStored;

private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = std::move(value);
        if (OnChange) OnChange();
    }

    int glowPercentage_ = 100;
    wc::TAlignment alignment_ = wc::taCenter;
    wc::TAlignment pictureAlignment_ = wc::taRightJustify;
    wc::TFont font_;
    TGDIPButtonLayout layout_ = blPictureLeft;
    int spacing_ = 3;
    int shiftDown_ = 1;
    wc::TColor focusColor_ = wc::clBlack;
    bool simpleLayout_ = false;
    TCustomImageList* imageList_ = nullptr;
    TGDIPPictureContainer* pictureContainer_ = nullptr;
    int imageIndex_ = -1;
    std::string pictureName_;
    std::string disabledPictureName_;
    int disabledImageIndex_ = -1;
    int rounding_ = 8;
};

// The look of the badge: its fill, font and spacing, and its measured size.
class TGDIPStatus {
public:
    TGDIPStatus();
    TGDIPStatus(const TGDIPStatus&) = delete;
    TGDIPStatus& operator=(const TGDIPStatus&) = delete;
    void Assign(const TGDIPStatus& other);

    TGDIPFill& Fill() noexcept { return fill_; }
    const TGDIPFill& Fill() const noexcept { return fill_; }
    wc::TFont& Font() noexcept { return font_; }
    const wc::TFont& Font() const noexcept { return font_; }
    int Spacing() const noexcept { return spacing_; }
    void SetSpacing(int value);
    bool Glow() const noexcept { return glow_; }
    void SetGlow(bool value);
    bool AutoSize() const noexcept { return autoSize_; }
    void SetAutoSize(bool value);

    // Measures the badge for that caption in the badge font.
    void CalculateSize(TGPGraphics& graphics, const std::string& caption);
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    // Paints the badge with its top-left corner at (x, y).
    void Draw(TGPGraphics& graphics, int x, int y, const std::string& caption);

    bool SetProperty(const std::string& name, const wc::LayoutValue& value);

    std::function<void()> OnChange;

private:
    void Changed() {
        if (OnChange) OnChange();
    }
    RectF MeasureCaption(TGPGraphics& graphics, const std::string& caption) const;

    TGDIPFill fill_;
    wc::TFont font_;
    int spacing_ = 0;
    bool glow_ = true;
    bool autoSize_ = true;
    int width_ = 0, height_ = 0;
};

// The badge (Status).
class TAdvSmoothButtonStatus {
public:
    TAdvSmoothButtonStatus();
    TAdvSmoothButtonStatus(const TAdvSmoothButtonStatus&) = delete;
    TAdvSmoothButtonStatus& operator=(const TAdvSmoothButtonStatus&) = delete;
    void Assign(const TAdvSmoothButtonStatus& other);

    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool value);
    const std::string& Caption() const noexcept { return caption_; }
    void SetCaption(std::string value);
    int OffsetLeft() const noexcept { return offsetLeft_; }
    void SetOffsetLeft(int value);
    int OffsetTop() const noexcept { return offsetTop_; }
    void SetOffsetTop(int value);
    TGDIPStatus& Appearance() noexcept { return appearance_; }
    const TGDIPStatus& Appearance() const noexcept { return appearance_; }

    bool SetProperty(const std::string& name, const wc::LayoutValue& value);

    std::function<void()> OnChange;

private:
    void Changed() {
        if (OnChange) OnChange();
    }
    bool visible_ = false;
    std::string caption_;
    int offsetLeft_ = 0, offsetTop_ = 0;
    TGDIPStatus appearance_;
};

// The rich hint (OfficeHint); shown by the application's hint window.
struct TAdvHintInfo {
    std::string Title;
    std::string Notes;
    TAdvGDIPPicture Picture;
    bool ShowHelp = false;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TMouseEvent = std::function<void(wc::TComponent* sender, TMouseButton button, unsigned shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(wc::TComponent* sender, unsigned shift, int x, int y)>;
using TKeyEvent = std::function<void(wc::TComponent* sender, WORD& key, unsigned shift)>;
using TKeyPressEvent = std::function<void(wc::TComponent* sender, char& key)>;
using TContextPopupEvent = std::function<void(wc::TComponent* sender, POINT mousePos, bool& handled)>;

class TAdvSmoothButton : public wc::TWinControl {
public:
    explicit TAdvSmoothButton(wc::TComponent* owner);
    ~TAdvSmoothButton() override;
    static const char* ClassName() { return "TAdvSmoothButton"; }

    // "1.8.1.0"
    static std::string Version();

    bool AutoSizeToPicture() const noexcept { return autoSizeToPicture_; }
    void SetAutoSizeToPicture(bool value);
    TGDIPButton& Appearance() noexcept { return appearance_; }
    void SetAppearance(const TGDIPButton& value) { appearance_.Assign(value); }
    TAdvSmoothButtonStatus& Status() noexcept { return status_; }
    void SetStatus(const TAdvSmoothButtonStatus& value) { status_.Assign(value); }
    bool Bevel() const noexcept { return bevel_; }
    void SetBevel(bool value) { Store(bevel_, value); }
    wc::TColor BevelColor() const noexcept { return bevelColor_; }
    void SetBevelColor(wc::TColor value) { Store(bevelColor_, value); }
    TAdvHintInfo& OfficeHint() noexcept { return officeHint_; }
    void SetOfficeHint(const TAdvHintInfo& value);
    TAdvGDIPPicture& Picture() noexcept { return picture_; }
    bool Shadow() const noexcept { return shadow_; }
    void SetShadow(bool value) { Store(shadow_, value); }
    wc::TColor DisabledColor() const noexcept { return disabledColor_; }
    void SetDisabledColor(wc::TColor value) { Store(disabledColor_, value); }
    wc::TColor DisabledFontColor() const noexcept { return disabledFontColor_; }
    void SetDisabledFontColor(wc::TColor value) { Store(disabledFontColor_, value); }
    bool ShowFocus() const noexcept { return showFocus_; }
    void SetShowFocus(bool value) { Store(showFocus_, value); }
    int HorizontalSpacing() const noexcept { return horizontalSpacing_; }
    void SetHorizontalSpacing(int value) { Store(horizontalSpacing_, value); }
    int VerticalSpacing() const noexcept { return verticalSpacing_; }
    void SetVerticalSpacing(int value) { Store(verticalSpacing_, value); }
    int ModalResult() const noexcept { return modalResult_; }
    void SetModalResult(int value) { modalResult_ = value; }

    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    wc::TNotifyEvent OnDblClick;
    TContextPopupEvent OnContextPopup;
    wc::TNotifyEvent OnEnter;
    wc::TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;

    // Sets the parent form's modal result, then raises OnClick.
    void Click() override;
    // An accelerator character for this button: pressed, clicked, released;
    // true when consumed. A held key's repeats (in `keyData`) are consumed
    // without a click.
    bool DialogChar(char key, LPARAM keyData = 0);
    // The keys the dialog manager leaves to this control.
    LRESULT DialogCode(const MSG* message) const;
    void MoveFocusByTab(bool backwards);
    // Paints what shows through the rounded corners: the parent's background
    // and the sibling windows beneath this one.
    void PaintBehind(HDC dc);
    // A component that goes away: the appearance lets go of it.
    void Notification(wc::TComponent* component);

    // The look: the pressed look shows while both down and hover are set.
    bool IsHover() const noexcept { return hover_; }
    bool IsDown() const noexcept { return down_; }
    bool IsPressedLook() const noexcept { return down_ && hover_; }
    bool IsFocused() const noexcept { return focused_; }
    bool CacheValid() const noexcept { return cacheValid_; }
    // Whether the badge is drawn (visible with a caption or a picture).
    bool StatusShown() const;
    // The cache bitmap, rebuilt first when the look changed.
    const TGPBitmap& RenderedBitmap();
    // Paints the control as it shows on screen (the parent's background, then the cache) into dc.
    void PaintTo(HDC dc);

    // Draws the body (all of steps shadow, halves, bevel, caption, picture) on a surface.
    void DrawButton(TGPGraphics& graphics, const std::string& caption, const std::string& pictureName,
                    int imageIndex, bool pressed, bool bevel, bool shadow, wc::TColor captionColor,
                    wc::TColor bevelColor, wc::TColor baseColor, int insetH, int insetV, int width, int height);

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;
    bool SetEvent(const std::string& name, wc::TNotifyEvent handler) override;
    void Loaded() override;
    void ChangeScale(int m, int d) override;

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void FontChanged() override;
    void CaptionChanged() override;
    void BoundsChanged() override;
    void ColorChanged() override;

private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    // Something visible changed: the cache is rebuilt at the next paint.
    void Changed();
    void RebuildCache();
    void ResizeCache();
    void ScaleStatusFont(int m, int d);
    void Paint(HDC dc);
    void MouseDown(TMouseButton button, unsigned shift, int x, int y);
    void MouseUp(TMouseButton button, unsigned shift, int x, int y);
    void MouseMove(unsigned shift, int x, int y);
    void MouseLeave();
    // A left press on this control ends without a click (capture lost, disabled).
    void CancelPress();
    // Dispatches pending messages until more than `ms` milliseconds have passed.
    static void DispatchFor(DWORD ms);

    bool autoSizeToPicture_ = false;
    TGDIPButton appearance_;
    TAdvSmoothButtonStatus status_;
    bool bevel_ = true;
    wc::TColor bevelColor_ = wc::clWhite;
    TAdvHintInfo officeHint_;
    TAdvGDIPPicture picture_;
    bool shadow_ = false;
    wc::TColor disabledColor_ = wc::clGray;
    wc::TColor disabledFontColor_ = wc::clSilver;
    bool showFocus_ = true;
    int horizontalSpacing_ = 5;
    int verticalSpacing_ = 5;
    int modalResult_ = 0;
    bool captionStored_ = false;

    bool hover_ = false;
    bool down_ = false;
    bool leftPressed_ = false;  // the left button went down on this control and is not yet released
    bool focused_ = false;
    bool cacheValid_ = false;
    bool cacheEnabled_ = true;  // the enabled state the cache shows
    bool copyingParentFont_ = false;
    std::unique_ptr<TGPBitmap> cache_;
};
