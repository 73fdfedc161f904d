#include "controls/AdvSmoothButton.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "controls/ButtonAccessible.h"
#include "framework/Forms.h"
#include "framework/Strings.h"

using wc::clNone;

namespace {

constexpr int kVersionMajor = 1, kVersionMinor = 8, kVersionRelease = 1, kVersionBuild = 0;
// How long the pressed look stays after a click, and how long it is released again, in ms.
constexpr DWORD kPressedLookMs = 100;
// A key message's flag that the key was already down: a held key's repeat.
constexpr LPARAM kPreviousKeyDown = LPARAM(1) << 30;
// How long an accelerator press shows the pressed look.
constexpr DWORD kAcceleratorPressMs = 150;
// Dialog code with a tab stop: arrow keys and all keys (DLGC_WANTARROWS | DLGC_WANTALLKEYS).
// A focusable button asks the dialog manager for arrows and all keys
// (Space and Enter press it) but Tab, which moves through the form's tab order.
constexpr LRESULT kDialogCodeWithTabStop = DLGC_WANTARROWS | DLGC_WANTALLKEYS;
constexpr LRESULT kDialogCodeForTab = DLGC_WANTARROWS;
// Alpha of the bevel ring and of the shadow under the body.
constexpr BYTE kBevelAlpha = 160;
constexpr BYTE kShadowAlpha = 180;
// The badge's highlight: white from this opacity at the top to that one at the bottom.
constexpr BYTE kBadgeGlowTop = 170, kBadgeGlowBottom = 30;
// Layout box for measuring badge texts: large enough never to wrap.
constexpr float kMeasureBox = 10000;

int Round(double value) { return int(std::nearbyint(value)); }

UINT CodePageOf(const wc::TFont& font) {
    return font.Charset() == SHIFTJIS_CHARSET ? wc::kShiftJisCodePage : CP_ACP;
}

// A font's height is in pixels of the screen it is shown on (forms scale it
// with the screen's density). GDI+ turns points into pixels at the drawing
// surface's own resolution, which for a cache bitmap is the screen's: a size
// in points taken as height * 72 / 96 would be scaled a second time on any
// screen of another density. So the caption fonts are made in pixels.
float EmPixels(const wc::TFont& font) { return float(std::abs(font.Height())); }

// A caption without a line break is drawn on one line: when it is wider than
// its box it is cut with an ellipsis, never wrapped onto a second line that
// the body would clip.
void KeepSingleLineCaption(TGPStringFormat& format, const std::wstring& caption) {
    if (caption.find_first_of(L"\r\n") != std::wstring::npos) return;
    format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
    format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
}

int FontStyle(const wc::TFont& font) {
    int style = 0;
    if (font.Style() & wc::fsBold) style |= Gdiplus::FontStyleBold;
    if (font.Style() & wc::fsItalic) style |= Gdiplus::FontStyleItalic;
    if (font.Style() & wc::fsUnderline) style |= Gdiplus::FontStyleUnderline;
    return style;
}

Gdiplus::StringAlignment ToStringAlignment(wc::TAlignment alignment) {
    switch (alignment) {
        case wc::taLeftJustify: return Gdiplus::StringAlignmentNear;
        case wc::taRightJustify: return Gdiplus::StringAlignmentFar;
        default: return Gdiplus::StringAlignmentCenter;
    }
}

wc::TAlignment LayoutAlignment(const wc::LayoutValue& value) {
    return wc::TAlignment(wc::LayoutEnum(value, {"taLeftJustify", "taRightJustify", "taCenter"}));
}

void AddRoundRect(TGPGraphicsPath& path, float x, float y, float w, float h, float radius) {
    AddRoundedOutline(path, RectF(x, y, w, h), radius, rtBoth);
}

}  // namespace

// ---- colours ----

void RGBtoHSV(double r, double g, double b, double& h, double& s, double& v) {
    const double high = std::max({r, g, b}), low = std::min({r, g, b});
    v = high;
    s = high != 0 ? (high - low) / high : 0;
    if (s == 0) {
        h = -1;  // undefined: a grey
        return;
    }
    const double delta = high - low;
    if (r == high) h = (g - b) / delta;
    else if (g == high) h = 2 + (b - r) / delta;
    else h = 4 + (r - g) / delta;
    h *= 60;
    if (h < 0) h += 360;
}

void HSVtoRGB(double h, double s, double v, double& r, double& g, double& b) {
    if (s == 0) {
        if (h != -1) throw EColorError("HSVtoRGB: S = 0 and H has a value");
        r = g = b = v;
        return;
    }
    if (h >= 360) h = 0;
    h /= 60;
    const int sector = int(std::floor(h));
    const double f = h - sector;
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (sector) {
        case 0: r = v, g = t, b = p; break;
        case 1: r = q, g = v, b = p; break;
        case 2: r = p, g = v, b = t; break;
        case 3: r = p, g = q, b = v; break;
        case 4: r = t, g = p, b = v; break;
        default: r = v, g = p, b = q; break;
    }
}

wc::TColor ShiftColor(wc::TColor color, int k) {
    const COLORREF rgb = wc::ColorToRGB(color);
    auto shift = [k](int channel) { return std::clamp(channel + k, 0, 255); };
    return wc::TColor(RGB(shift(GetRValue(rgb)), shift(GetGValue(rgb)), shift(GetBValue(rgb))));
}

wc::TColor PressedColor(wc::TColor color) {
    const COLORREF rgb = wc::ColorToRGB(color);
    double h, s, v, r, g, b;
    RGBtoHSV(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb), h, s, v);
    HSVtoRGB(h, s, v * 0.7, r, g, b);
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    return wc::TColor(RGB(Round(r), Round(g), Round(b)));
}

char AcceleratorChar(const std::string& caption) {
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return caption[i + 1];
    }
    return 0;
}

// ---- TGDIPPictureContainer ----

TAdvGDIPPicture& TGDIPPictureContainer::Add(const std::string& name) {
    items_.emplace_back(name, std::make_unique<TAdvGDIPPicture>());
    return *items_.back().second;
}

const TAdvGDIPPicture* TGDIPPictureContainer::FindPicture(const std::string& name) const {
    for (const auto& [itemName, picture] : items_)
        if (wc::SameText(itemName, name)) return picture.get();
    return nullptr;
}

// ---- TGDIPButton ----

TGDIPButton::TGDIPButton() {
    font_.SetName("Tahoma");
    font_.OnChange = [this] {
        if (OnFontChange) OnFontChange();
        if (OnChange) OnChange();
    };
}

void TGDIPButton::Assign(const TGDIPButton& other) {
    if (&other == this) return;
    glowPercentage_ = other.glowPercentage_;
    alignment_ = other.alignment_;
    pictureAlignment_ = other.pictureAlignment_;
    layout_ = other.layout_;
    spacing_ = other.spacing_;
    shiftDown_ = other.shiftDown_;
    focusColor_ = other.focusColor_;
    simpleLayout_ = other.simpleLayout_;
    imageList_ = other.imageList_;
    pictureContainer_ = other.pictureContainer_;
    imageIndex_ = other.imageIndex_;
    pictureName_ = other.pictureName_;
    disabledPictureName_ = other.disabledPictureName_;
    disabledImageIndex_ = other.disabledImageIndex_;
    rounding_ = other.rounding_;
    font_ = other.font_;  // raises the change
}

bool TGDIPButton::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "GlowPercentage") SetGlowPercentage(value.AsInteger());
    else if (name == "Alignment") SetAlignment(LayoutAlignment(value));
    else if (name == "PictureAlignment") SetPictureAlignment(LayoutAlignment(value));
    else if (name.compare(0, 5, "Font.") == 0) return font_.SetProperty(name.substr(5), value);
    else if (name == "Layout")
        SetLayout(TGDIPButtonLayout(
            wc::LayoutEnum(value, {"blPictureLeft", "blPictureRight", "blPictureBottom", "blPictureTop", "blNone"})));
    else if (name == "Spacing") SetSpacing(value.AsInteger());
    else if (name == "ShiftDown") SetShiftDown(value.AsInteger());
    else if (name == "FocusColor") SetFocusColor(wc::LayoutColor(value));
    else if (name == "SimpleLayout") SetSimpleLayout(value.AsBoolean());
    else if (name == "ImageIndex") SetImageIndex(value.AsInteger());
    else if (name == "PictureName") SetPictureName(value.AsString());
    else if (name == "DisabledPictureName") SetDisabledPictureName(value.AsString());
    else if (name == "DisabledImageIndex") SetDisabledImageIndex(value.AsInteger());
    else if (name == "Rounding") SetRounding(value.AsInteger());
    else return false;
    return true;
}

// ---- TGDIPStatus ----

TGDIPStatus::TGDIPStatus() {
    font_.SetName("Tahoma");
    fill_.OnChange = [this] { Changed(); };
    font_.OnChange = [this] { Changed(); };
}

void TGDIPStatus::Assign(const TGDIPStatus& other) {
    if (&other == this) return;
    fill_.Assign(other.fill_);
    font_ = other.font_;
    spacing_ = other.spacing_;
    glow_ = other.glow_;
    autoSize_ = other.autoSize_;
    Changed();
}

void TGDIPStatus::SetSpacing(int value) {
    if (value == spacing_) return;
    spacing_ = value;
    Changed();
}
void TGDIPStatus::SetGlow(bool value) {
    if (value == glow_) return;
    glow_ = value;
    Changed();
}
void TGDIPStatus::SetAutoSize(bool value) {
    if (value == autoSize_) return;
    autoSize_ = value;
    Changed();
}

bool TGDIPStatus::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name.compare(0, 5, "Fill.") == 0) return fill_.SetProperty(name.substr(5), value);
    if (name.compare(0, 5, "Font.") == 0) return font_.SetProperty(name.substr(5), value);
    if (name == "Spacing") SetSpacing(value.AsInteger());
    else if (name == "Glow") SetGlow(value.AsBoolean());
    else return false;
    return true;
}

RectF TGDIPStatus::MeasureCaption(TGPGraphics& graphics, const std::string& caption) const {
    TGPFontFamily family(wc::ToWide(font_.Name(), CodePageOf(font_)));
    TGPFont font(family, EmPixels(font_), FontStyle(font_), Gdiplus::UnitPixel);
    return graphics.MeasureString(wc::ToWide(caption, CodePageOf(font_)), font, RectF(0, 0, kMeasureBox, kMeasureBox));
}

void TGDIPStatus::CalculateSize(TGPGraphics& graphics, const std::string& caption) {
    width_ = height_ = 0;
    if (!caption.empty()) {
        const RectF text = MeasureCaption(graphics, caption);
        height_ = Round(text.Height + 4);
        width_ = std::max(height_, Round(text.Width + 4)) + 2 * spacing_;
    }
    if (const TAdvGDIPPicture& picture = fill_.Picture(); !picture.Empty()) {
        const bool custom = fill_.PictureSize() == psCustom;
        width_ = std::max(width_, custom ? fill_.PictureWidth() : picture.Width());
        height_ = std::max(height_, custom ? fill_.PictureHeight() : picture.Height());
    }
}

void TGDIPStatus::Draw(TGPGraphics& graphics, int x, int y, const std::string& caption) {
    const float inset = fill_.BorderColor() != clNone ? fill_.BorderWidth() / 2.0f : 0.0f;
    const RectF rect(float(x), float(y), width_ - 2 * inset, height_ - 2 * inset);
    const int rounding = Round(rect.Height / 2);
    // A pill: the rounding follows the height without counting as a change.
    fill_.BeginUpdate();
    fill_.SetRounding(rounding);
    fill_.EndUpdate();
    fill_.Fill(&graphics, rect);
    if (!caption.empty()) {
        TGPFontFamily family(wc::ToWide(font_.Name(), CodePageOf(font_)));
        TGPFont font(family, EmPixels(font_), FontStyle(font_), Gdiplus::UnitPixel);
        const std::wstring text = wc::ToWide(caption, CodePageOf(font_));
        const RectF size = graphics.MeasureString(text, font, RectF(0, 0, kMeasureBox, kMeasureBox));
        const float tx = (width_ - 2 * spacing_ - size.Width) / 2 + x + spacing_;
        const float ty = (height_ - size.Height) / 2 + y;
        graphics.DrawString(text, font, RectF(tx, ty, size.Width + 1, size.Height + 1), nullptr,
                            TGPSolidBrush(MakeGDIPColor(font_.Color(), 255)));
    }
    if (glow_) {
        TGDIPFill highlight;
        highlight.SetColor(wc::clWhite);
        highlight.SetColorTo(wc::clWhite);
        highlight.SetGradientType(gtVertical);
        highlight.SetOpacity(kBadgeGlowTop);
        highlight.SetOpacityTo(kBadgeGlowBottom);
        highlight.SetRoundingType(rtTop);
        highlight.SetRounding(rounding);
        highlight.Fill(&graphics, RectF(rect.X, rect.Y, rect.Width, rect.Height / 2));
    }
}

// ---- TAdvSmoothButtonStatus ----

TAdvSmoothButtonStatus::TAdvSmoothButtonStatus() { appearance_.OnChange = [this] { Changed(); }; }

void TAdvSmoothButtonStatus::Assign(const TAdvSmoothButtonStatus& other) {
    if (&other == this) return;
    visible_ = other.visible_;
    caption_ = other.caption_;
    offsetLeft_ = other.offsetLeft_;
    offsetTop_ = other.offsetTop_;
    appearance_.Assign(other.appearance_);
    Changed();
}

void TAdvSmoothButtonStatus::SetVisible(bool value) {
    if (value == visible_) return;
    visible_ = value;
    Changed();
}
void TAdvSmoothButtonStatus::SetCaption(std::string value) {
    if (value == caption_) return;
    caption_ = std::move(value);
    Changed();
}
void TAdvSmoothButtonStatus::SetOffsetLeft(int value) {
    if (value == offsetLeft_) return;
    offsetLeft_ = value;
    Changed();
}
void TAdvSmoothButtonStatus::SetOffsetTop(int value) {
    if (value == offsetTop_) return;
    offsetTop_ = value;
    Changed();
}

bool TAdvSmoothButtonStatus::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name.compare(0, 11, "Appearance.") == 0) return appearance_.SetProperty(name.substr(11), value);
    if (name == "Visible") SetVisible(value.AsBoolean());
    else if (name == "Caption") SetCaption(value.AsString());
    else if (name == "OffsetLeft") SetOffsetLeft(value.AsInteger());
    else if (name == "OffsetTop") SetOffsetTop(value.AsInteger());
    else return false;
    return true;
}

// ---- TAdvSmoothButton ----

TAdvSmoothButton::TAdvSmoothButton(wc::TComponent* owner) : wc::TWinControl(owner) {
    SetBounds(0, 0, 120, 35);
    SetColor(wc::clGray);
    SetTabStop(true);
    appearance_.OnChange = [this] { Changed(); };
    // A font set on the appearance itself ends the inheritance from the parent.
    appearance_.OnFontChange = [this] {
        if (!copyingParentFont_) SetParentFont(false);
    };
    appearance_.OnIsFontStored = [this] { return !ParentFont(); };
    status_.OnChange = [this] { Changed(); };
    picture_.OnChange = [this] { Changed(); };
    officeHint_.Picture.OnChange = [] {};
    cache_ = std::make_unique<TGPBitmap>(Width(), Height());
}

TAdvSmoothButton::~TAdvSmoothButton() = default;

std::string TAdvSmoothButton::Version() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRelease) + "." + std::to_string(kVersionBuild);
}

void TAdvSmoothButton::SetAutoSizeToPicture(bool value) { autoSizeToPicture_ = value; }

void TAdvSmoothButton::SetOfficeHint(const TAdvHintInfo& value) {
    officeHint_.Title = value.Title;
    officeHint_.Notes = value.Notes;
    officeHint_.Picture = value.Picture;
    officeHint_.ShowHelp = value.ShowHelp;
}

void TAdvSmoothButton::Changed() {
    cacheValid_ = false;
    Invalidate();
}

void TAdvSmoothButton::ColorChanged() {
    wc::TWinControl::ColorChanged();
    Changed();
}

void TAdvSmoothButton::CaptionChanged() { Changed(); }

void TAdvSmoothButton::FontChanged() {
    wc::TWinControl::FontChanged();
    // The control's own font is the parent's while ParentFont holds: the caption follows it.
    if (ParentFont()) {
        copyingParentFont_ = true;
        appearance_.Font() = Font();
        copyingParentFont_ = false;
    }
}

void TAdvSmoothButton::BoundsChanged() {
    if (cache_ && (int(cache_->Width()) != Width() || int(cache_->Height()) != Height())) ResizeCache();
}

void TAdvSmoothButton::ResizeCache() {
    cache_ = std::make_unique<TGPBitmap>(std::max(Width(), 1), std::max(Height(), 1));
    Changed();
}

void TAdvSmoothButton::ChangeScale(int m, int d) {
    wc::TWinControl::ChangeScale(m, d);
    if (!ParentFont()) {
        wc::TFont& font = appearance_.Font();
        copyingParentFont_ = true;
        font.SetHeight(::MulDiv(font.Height(), m, d));
        copyingParentFont_ = false;
    }
    ScaleStatusFont(m, d);
}

void TAdvSmoothButton::ScaleStatusFont(int m, int d) {
    // The badge's text grows with the body it sits on.
    wc::TFont& font = status_.Appearance().Font();
    font.SetHeight(::MulDiv(font.Height(), m, d));
}

void TAdvSmoothButton::Loaded() {
    wc::TWinControl::Loaded();
    if (!captionStored_ && Caption().empty()) SetCaption(Name());
}

void TAdvSmoothButton::Notification(wc::TComponent* component) {
    if (!component) return;
    if (component == appearance_.ImageList()) appearance_.SetImageList(nullptr);
    if (component == appearance_.PictureContainer()) appearance_.SetPictureContainer(nullptr);
}

void TAdvSmoothButton::Click() {
    if (modalResult_ != wc::mrNone) {
        for (wc::TWinControl* parent = Parent(); parent; parent = parent->Parent()) {
            if (auto* form = dynamic_cast<wc::TForm*>(parent)) {
                form->SetModalResult(modalResult_);
                break;
            }
        }
    }
    wc::TWinControl::Click();
}

bool TAdvSmoothButton::StatusShown() const {
    return status_.Visible() && (!status_.Caption().empty() || !status_.Appearance().Fill().Picture().Empty());
}

bool TAdvSmoothButton::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name.compare(0, 11, "Appearance.") == 0) return appearance_.SetProperty(name.substr(11), value);
    if (name.compare(0, 7, "Status.") == 0) return status_.SetProperty(name.substr(7), value);
    if (name == "Caption") captionStored_ = true;
    if (name == "AutoSizeToPicture") SetAutoSizeToPicture(value.AsBoolean());
    else if (name == "Bevel") SetBevel(value.AsBoolean());
    else if (name == "BevelColor") SetBevelColor(wc::LayoutColor(value));
    else if (name == "Shadow") SetShadow(value.AsBoolean());
    else if (name == "DisabledColor") SetDisabledColor(wc::LayoutColor(value));
    else if (name == "DisabledFontColor") SetDisabledFontColor(wc::LayoutColor(value));
    else if (name == "ShowFocus") SetShowFocus(value.AsBoolean());
    else if (name == "HorizontalSpacing") SetHorizontalSpacing(value.AsInteger());
    else if (name == "VerticalSpacing") SetVerticalSpacing(value.AsInteger());
    else if (name == "ModalResult") SetModalResult(value.AsInteger());
    else if (name == "Version") {}  // read-only; stored by designers
    else if (name == "OfficeHint.Title") officeHint_.Title = value.AsString();
    else if (name == "OfficeHint.Notes") officeHint_.Notes = value.kind == wc::LayoutValue::Kind::StringList
                                                                  ? (value.AsStringList().empty() ? "" : value.AsStringList()[0])
                                                                  : value.AsString();
    else if (name == "OfficeHint.ShowHelp") officeHint_.ShowHelp = value.AsBoolean();
    else return wc::TWinControl::SetProperty(name, value);
    return true;
}

bool TAdvSmoothButton::SetEvent(const std::string& name, wc::TNotifyEvent handler) {
    if (name == "OnDblClick") OnDblClick = std::move(handler);
    else if (name == "OnEnter") OnEnter = std::move(handler);
    else if (name == "OnExit") OnExit = std::move(handler);
    else return wc::TWinControl::SetEvent(name, std::move(handler));
    return true;
}

// ---- rendering ----

const TGPBitmap& TAdvSmoothButton::RenderedBitmap() {
    if (!cacheValid_ || cacheEnabled_ != Enabled()) RebuildCache();
    return *cache_;
}

void TAdvSmoothButton::RebuildCache() {
    if (!cache_) cache_ = std::make_unique<TGPBitmap>(std::max(Width(), 1), std::max(Height(), 1));
    TGPGraphics g(*cache_);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    g.Clear(0);

    const bool badge = StatusShown();
    const int insetH = badge ? horizontalSpacing_ : 0, insetV = badge ? verticalSpacing_ : 0;
    const bool enabled = Enabled();
    const wc::TColor base = enabled ? Color() : disabledColor_;
    const wc::TColor fontColor = enabled ? appearance_.Font().Color() : disabledFontColor_;
    const std::string& pictureName = enabled ? appearance_.PictureName() : appearance_.DisabledPictureName();
    const int imageIndex = enabled ? appearance_.ImageIndex() : appearance_.DisabledImageIndex();
    DrawButton(g, Caption(), pictureName, imageIndex, down_ && hover_, bevel_, shadow_, fontColor, bevelColor_, base,
               insetH, insetV, Width(), Height());

    if (TabStop() && focused_ && showFocus_) {
        g.SetSmoothingMode(Gdiplus::SmoothingModeDefault);
        TGPPen pen(MakeGDIPColor(appearance_.FocusColor(), 255), 1);
        pen.SetDashStyle(Gdiplus::DashStyleDot);
        TGPGraphicsPath outline;
        AddRoundRect(outline, 0, 0, float(Width() - 1), float(Height() - 1), float(appearance_.Rounding()));
        g.DrawPath(pen, outline);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    }

    if (badge) {
        TGDIPStatus& look = status_.Appearance();
        look.CalculateSize(g, status_.Caption());
        look.Draw(g, Width() - look.Width() + 2 * status_.OffsetLeft(), status_.OffsetTop(), status_.Caption());
    }
    cacheValid_ = true;
    cacheEnabled_ = enabled;
}

void TAdvSmoothButton::DrawButton(TGPGraphics& g, const std::string& caption, const std::string& pictureName,
                                  int imageIndex, bool pressed, bool bevel, bool shadow, wc::TColor captionColor,
                                  wc::TColor bevelColor, wc::TColor baseColor, int H, int V, int W, int Ht) {
    // 1. The picture: the control's, or the container's by name, or the image list's by index.
    const TGPImage* picture = picture_.Image();
    std::unique_ptr<TGPBitmap> listBitmap;
    if (TGDIPPictureContainer* container = appearance_.PictureContainer(); container && !pictureName.empty())
        if (const TAdvGDIPPicture* named = container->FindPicture(pictureName)) picture = named->Image();
    if (TCustomImageList* list = appearance_.ImageList(); list && imageIndex >= 0 && imageIndex <= list->Count() - 1)
        if (HBITMAP bitmap = list->Bitmap(imageIndex)) {
            listBitmap = std::make_unique<TGPBitmap>(bitmap);
            if (listBitmap->Valid()) picture = listBitmap.get();
        }

    // 2. The body colour.
    const wc::TColor E = pressed ? PressedColor(baseColor) : wc::TColor(wc::ColorToRGB(baseColor));
    const float rounding = float(appearance_.Rounding());

    // 3. A soft shadow under the body.
    if (shadow) {
        TGPGraphicsPath outline;
        AddRoundRect(outline, float(H + 2), float(V + 2), float(W - 2 * H - 4), float(Ht - 2 * V - 2), rounding);
        TGPPathGradientBrush brush(outline);
        brush.SetWrapMode(Gdiplus::WrapModeClamp);
        brush.SetCenterColor(MakeGDIPColor(wc::clBlack, kShadowAlpha));
        brush.SetSurroundColor(MakeGDIPColor(wc::clBlack, 0));
        brush.SetInterpolationColors({{MakeGDIPColor(wc::clBlack, 0), MakeGDIPColor(wc::clBlack, kShadowAlpha),
                                       MakeGDIPColor(wc::clBlack, kShadowAlpha)},
                                      {0.0f, 0.1f, 1.0f}});
        g.FillPath(brush, outline);
        W -= 6;
        Ht -= 4;
    }

    if (appearance_.SimpleLayout()) {
        // 4. One flat rounded body.
        TGPGraphicsPath outline;
        AddRoundRect(outline, float(H), float(V), float(W - 2 * H), float(Ht - 2 * V), rounding);
        g.FillPath(TGPSolidBrush(MakeGDIPColor(E, 255)), outline);
        g.DrawPath(TGPPen(MakeGDIPColor(E, 255), 1), outline);
    } else {
        // 5. The glossy body: a band that closes any seam between the two halves.
        const int b = Ht / 6, m = Ht / 2;
        const int w = W - 2 * H - 1;
        const float left = float(H), right = float(H + w);
        g.FillRectangle(TGPSolidBrush(MakeGDIPColor(ShiftColor(E, -40), 255)),
                        RectF(left, float(m - b), float(w), float(2 * b)));

        // The arc between the halves: a circle through both sides b above its lowest point, m.
        // A body too low for a bulge (b = 0) gets a straight edge.
        const float half = w / 2.0f;
        const int r = b > 0 ? Round((half * half + float(b) * b) / (2.0f * b)) : 0;
        const float cx = left + half;
        const float theta =
            r > 0 ? float(std::asin(std::min(1.0, double(half) / r)) * 180.0 / 3.14159265358979323846) : 0;
        const RectF circle(cx - r, float(m - 2 * r), float(2 * r), float(2 * r));
        const int G = appearance_.GlowPercentage();
        const float d = 2 * rounding;

        // 6. Lower half: the arc on top, rounded bottom corners.
        {
            TGPGraphicsPath shape;
            if (r > 0) shape.AddArc(circle.X, circle.Y, circle.Width, circle.Height, 90 + theta, -2 * theta);
            else shape.AddLine(left, float(m), right, float(m));
            const float bottom = float(Ht - V);
            if (rounding > 0) {
                shape.AddArc(right - d, bottom - d, d, d, 0, 90);
                shape.AddArc(left, bottom - d, d, d, 90, 90);
            } else {
                shape.AddLine(right, bottom, left, bottom);
            }
            shape.CloseFigure();
            TGPLinearGradientBrush brush(RectF(float(H - 1), float(m - b - 1), float(W - 2 * H + 1), float(m + b + 2)),
                                         MakeGDIPColor(E, 255), MakeGDIPColor(E, 255),
                                         Gdiplus::LinearGradientModeVertical);
            brush.SetGammaCorrection(true);
            brush.SetInterpolationColors({{MakeGDIPColor(ShiftColor(E, -40 * G / 100), 255),
                                           MakeGDIPColor(ShiftColor(E, 100 * G / 100), 255),
                                           MakeGDIPColor(ShiftColor(E, 220 * G / 100), 255)},
                                          {0.0f, 0.9f, 1.0f}});
            g.FillPath(brush, shape);
        }
        // 7. Upper half: rounded top corners, the same arc below.
        {
            TGPGraphicsPath shape;
            const float top = float(V);
            if (rounding > 0) {
                shape.AddArc(left, top, d, d, 180, 90);
                shape.AddArc(right - d, top, d, d, 270, 90);
            } else {
                shape.AddLine(left, top, right, top);
            }
            if (r > 0) shape.AddArc(circle.X, circle.Y, circle.Width, circle.Height, 90 - theta, 2 * theta);
            else shape.AddLine(right, float(m), left, float(m));
            shape.CloseFigure();
            TGPLinearGradientBrush brush(RectF(float(H - 1), float(V - 1), float(W - 2 * H + 1), float(m + 3)),
                                         MakeGDIPColor(E, 255), MakeGDIPColor(E, 255),
                                         Gdiplus::LinearGradientModeVertical);
            brush.SetGammaCorrection(true);
            brush.SetInterpolationColors({{MakeGDIPColor(ShiftColor(E, 220 * G / 100), 255),
                                           MakeGDIPColor(ShiftColor(E, 100 * G / 100), 255), MakeGDIPColor(E, 255)},
                                          {0.0f, 0.2f, 1.0f}});
            g.FillPath(brush, shape);
        }
        // 8. The bevel ring.
        if (bevel) {
            TGPGraphicsPath ring(Gdiplus::FillModeAlternate);
            const float bx = float(H), by = float(V + 1), bw = float(W - H - 1 - H), bh = float(Ht - V - 1 - (V + 1));
            AddRoundRect(ring, bx, by, bw, bh, rounding - 1);
            AddRoundRect(ring, bx + 2, by + 2, bw - 4, bh - 4, rounding - 1);
            g.FillPath(TGPSolidBrush(MakeGDIPColor(bevelColor, kBevelAlpha)), ring);
        }
    }

    // 9 and 10. Caption and picture in the body rectangle, moved while pressed.
    RectF body(float(H), float(V), float(W - 2 * H), float(Ht - 2 * V));
    if (pressed) {
        body.X += appearance_.ShiftDown();
        body.Y += appearance_.ShiftDown();
    }
    RectF textRect(body.X - 2, body.Y, body.Width - 2, body.Height);
    if (picture) {
        const float pw = float(picture->Width()), ph = float(picture->Height());
        const float gap = float(appearance_.Spacing());
        RectF place(0, 0, pw, ph);
        switch (appearance_.Layout()) {
            case blPictureLeft:
                place.X = body.X + gap;
                place.Y = body.Y + (body.Height - ph) / 2;
                textRect = RectF(place.X + pw + gap, body.Y, body.X + body.Width - (place.X + pw + gap) - gap, body.Height);
                break;
            case blPictureRight:
                place.X = body.X + body.Width - pw - gap;
                place.Y = body.Y + (body.Height - ph) / 2;
                textRect = RectF(body.X + gap, body.Y, place.X - gap - (body.X + gap), body.Height);
                break;
            case blPictureTop:
                place.X = body.X + (body.Width - pw) / 2;
                place.Y = body.Y + gap;
                textRect = RectF(body.X, place.Y + ph + gap, body.Width, body.Y + body.Height - (place.Y + ph + gap));
                break;
            case blPictureBottom:
                place.X = body.X + (body.Width - pw) / 2;
                place.Y = body.Y + body.Height - ph - gap;
                textRect = RectF(body.X, body.Y, body.Width, place.Y - gap - body.Y);
                break;
            case blNone:
                place.X = body.X + (body.Width - pw) / 2;
                place.Y = body.Y + (body.Height - ph) / 2;
                break;
        }
        g.DrawImage(*picture, place);
    }
    if (!caption.empty()) {
        const wc::TFont& look = appearance_.Font();
        TGPFontFamily family(wc::ToWide(look.Name(), CodePageOf(look)));
        TGPFont font(family, EmPixels(look), FontStyle(look), Gdiplus::UnitPixel);
        const std::wstring text = wc::ToWide(caption, CodePageOf(look));
        TGPStringFormat format;
        format.SetAlignment(ToStringAlignment(appearance_.Alignment()));
        format.SetLineAlignment(ToStringAlignment(appearance_.Alignment()));
        format.SetHotkeyPrefix(Gdiplus::HotkeyPrefixShow);
        KeepSingleLineCaption(format, text);
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
        g.DrawString(text, font, textRect, &format, TGPSolidBrush(MakeGDIPColor(captionColor, 255)));
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    }
}

void TAdvSmoothButton::PaintBehind(HDC dc) {
    wc::TWinControl* parent = Parent();
    if (!parent || !parent->HandleAllocated() || !HandleAllocated()) return;
    HWND self = Handle();
    RECT own;
    ::GetWindowRect(self, &own);
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, 0, 0, Width(), Height());
    POINT origin;
    ::GetViewportOrgEx(dc, &origin);
    // The parent's background under the control, as if the control were not there.
    ::SetViewportOrgEx(dc, origin.x - Left(), origin.y - Top(), nullptr);
    ::SendMessageA(parent->Handle(), WM_ERASEBKGND, WPARAM(dc), 0);
    ::SendMessageA(parent->Handle(), WM_PRINTCLIENT, WPARAM(dc), PRF_CLIENT);
    // Then the other children of the parent that overlap it, bottom-most
    // first, each at its place (one above it covers it on screen anyway).
    for (HWND sibling = ::GetWindow(self, GW_HWNDLAST); sibling; sibling = ::GetWindow(sibling, GW_HWNDPREV)) {
        RECT bounds, overlap;
        if (sibling == self || !(::GetWindowLongA(sibling, GWL_STYLE) & WS_VISIBLE) || !::GetWindowRect(sibling, &bounds) ||
            !::IntersectRect(&overlap, &bounds, &own))
            continue;
        ::SetViewportOrgEx(dc, origin.x + bounds.left - own.left, origin.y + bounds.top - own.top, nullptr);
        ::SendMessageA(sibling, WM_PRINT, WPARAM(dc), PRF_ERASEBKGND | PRF_CLIENT | PRF_NONCLIENT | PRF_CHILDREN);
    }
    ::RestoreDC(dc, saved);
}

void TAdvSmoothButton::Paint(HDC dc) {
    PaintBehind(dc);
    const TGPBitmap& bitmap = RenderedBitmap();
    TGPGraphics g(dc);
    g.DrawImage(bitmap, 0, 0);
}

void TAdvSmoothButton::PaintTo(HDC dc) { Paint(dc); }

// ---- input ----

void TAdvSmoothButton::DispatchFor(DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start <= ms) {
        wc::Application().ProcessMessages();
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed <= ms) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed + 1, QS_ALLINPUT);
    }
}

void TAdvSmoothButton::MouseMove(unsigned shift, int x, int y) {
    if (!hover_) {
        hover_ = true;
        down_ = leftPressed_;  // back over the control while still pressed
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, Handle(), 0};
        ::TrackMouseEvent(&track);
        Changed();
    }
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TAdvSmoothButton::MouseLeave() {
    hover_ = false;
    down_ = false;
    Changed();
}

void TAdvSmoothButton::MouseDown(TMouseButton button, unsigned shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
    if (!Enabled() || button != mbLeft) return;
    // Held so that the release comes here wherever the pointer has gone.
    ::SetCapture(Handle());
    leftPressed_ = true;
    down_ = true;
    if (TabStop()) ::SetFocus(Handle());
    Changed();
    Repaint();
}

void TAdvSmoothButton::CancelPress() {
    if (!leftPressed_) return;
    leftPressed_ = false;
    down_ = false;
    Changed();
}

void TAdvSmoothButton::MouseUp(TMouseButton button, unsigned shift, int x, int y) {
    // Taken before the capture goes: its loss cancels a press.
    const bool pressedHere = button == mbLeft && std::exchange(leftPressed_, false);
    if (::GetCapture() == Handle()) ::ReleaseCapture();
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
    const bool over = x >= 0 && y >= 0 && x < Width() && y < Height();
    if (!pressedHere || !over || !Enabled()) {
        if (pressedHere) {
            down_ = false;
            Changed();
        }
        return;
    }
    Click();
    if (IsDestroying() || !Enabled()) return;
    down_ = true;
    hover_ = true;
    Changed();
    DispatchFor(kPressedLookMs);
    down_ = false;
    Changed();
    DispatchFor(kPressedLookMs);
}

bool TAdvSmoothButton::DialogChar(char key, LPARAM keyData) {
    const char accelerator = AcceleratorChar(Caption());
    if (!accelerator || ::CharUpperA(LPSTR(UINT_PTR(BYTE(accelerator)))) != ::CharUpperA(LPSTR(UINT_PTR(BYTE(key)))))
        return false;
    if (!Enabled() || !Visible()) return false;
    if (keyData & kPreviousKeyDown) return true;
    down_ = true;
    Changed();
    Repaint();
    Click();
    ::Sleep(kAcceleratorPressMs);
    down_ = false;
    Changed();
    Repaint();
    return true;
}

LRESULT TAdvSmoothButton::DialogCode(const MSG* message) const {
    if (!TabStop()) return 0;
    const bool tab = message && (message->message == WM_KEYDOWN || message->message == WM_CHAR) &&
                     message->wParam == VK_TAB;
    return tab ? kDialogCodeForTab : kDialogCodeWithTabStop;
}

void TAdvSmoothButton::MoveFocusByTab(bool backwards) {
    HWND root = ::GetAncestor(Handle(), GA_ROOT);
    if (HWND next = ::GetNextDlgTabItem(root, Handle(), backwards ? TRUE : FALSE); next && next != Handle())
        ::SetFocus(next);
}

LRESULT TAdvSmoothButton::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
    unsigned shift = 0;
    if (wParam & MK_SHIFT) shift |= 1;
    if (wParam & MK_CONTROL) shift |= 4;
    switch (message) {
        case WM_PAINT: {
            if (wParam) {
                Paint(reinterpret_cast<HDC>(wParam));
                return 0;
            }
            // Off screen first, then one copy to the window: no flicker.
            wc::PaintDc paint(Handle());
            wc::MemoryDcHandle memory(::CreateCompatibleDC(paint.get()));
            wc::BitmapHandle bitmap(::CreateCompatibleBitmap(paint.get(), std::max(Width(), 1), std::max(Height(), 1)));
            {
                wc::DcSelection selection(memory.get(), bitmap.get());
                Paint(memory.get());
                ::BitBlt(paint.get(), 0, 0, Width(), Height(), memory.get(), 0, 0, SRCCOPY);
            }
            return 0;
        }
        case WM_PRINTCLIENT: Paint(reinterpret_cast<HDC>(wParam)); return 0;
        case WM_ERASEBKGND: return 1;
        case WM_MOUSEMOVE: MouseMove(shift, x, y); return 0;
        case WM_MOUSELEAVE: MouseLeave(); return 0;
        case WM_LBUTTONDOWN: MouseDown(mbLeft, shift, x, y); return 0;
        case WM_RBUTTONDOWN: MouseDown(mbRight, shift, x, y); return 0;
        case WM_MBUTTONDOWN: MouseDown(mbMiddle, shift, x, y); return 0;
        case WM_LBUTTONUP: MouseUp(mbLeft, shift, x, y); return 0;
        case WM_RBUTTONUP: MouseUp(mbRight, shift, x, y); return 0;
        case WM_MBUTTONUP: MouseUp(mbMiddle, shift, x, y); return 0;
        case WM_LBUTTONDBLCLK:
            // Takes the place of the second press: the release after it clicks nothing.
            if (OnDblClick) OnDblClick(this);
            return 0;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lParam) != Handle()) CancelPress();
            break;
        case BM_CLICK: Click(); return 0;
        case WM_GETOBJECT:
            if (const LRESULT answer = AnswerButtonGetObject(Handle(), wParam, lParam)) return answer;
            break;
        case WM_GETDLGCODE: return DialogCode(reinterpret_cast<const MSG*>(lParam));
        case wc::CM_DIALOGCHAR: return DialogChar(char(wParam), lParam) ? 1 : 0;
        case WM_SETFOCUS:
            focused_ = true;
            Changed();
            if (OnEnter) OnEnter(this);
            return 0;
        case WM_KILLFOCUS:
            focused_ = false;
            Changed();
            if (OnExit) OnExit(this);
            return 0;
        case WM_ENABLE:
            if (!wParam) CancelPress();
            Changed();
            break;
        case WM_KEYDOWN:
        case WM_KEYUP: {
            WORD key = WORD(wParam);
            if (message == WM_KEYDOWN && key == VK_TAB) {
                // Reached here without the dialog manager: follow the tab order anyway.
                MoveFocusByTab(::GetKeyState(VK_SHIFT) < 0);
                return 0;
            }
            const TKeyEvent& handler = message == WM_KEYDOWN ? OnKeyDown : OnKeyUp;
            if (handler) handler(this, key, 0);
            return 0;
        }
        case WM_CHAR: {
            char key = char(wParam);
            if (OnKeyPress) OnKeyPress(this, key);
            // A held key repeats its character: only the first one clicks.
            const bool repeated = (lParam & kPreviousKeyDown) != 0;
            if ((key == ' ' || key == '\r') && !repeated) Click();
            return 0;
        }
        case WM_SYSCHAR:
            if (DialogChar(char(wParam), lParam)) return 0;
            break;
        case WM_CONTEXTMENU:
            if (OnContextPopup) {
                bool handled = false;
                OnContextPopup(this, POINT{x, y}, handled);
                if (handled) return 0;
            }
            break;
    }
    return wc::TWinControl::WndProc(message, wParam, lParam);
}
