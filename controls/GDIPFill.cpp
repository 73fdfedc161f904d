#include "controls/GDIPFill.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "framework/Exceptions.h"

using wc::clNone;

namespace {

// The shadow's path gradient: transparent at the outline, this alpha from a tenth of the way in.
constexpr BYTE kShadowAlpha = 180;
constexpr float kShadowRamp = 0.1f;
// Alphas of the glow's outline, top strip, bottom strip and radial centre.
constexpr BYTE kGlowOutlineAlpha = 200;
constexpr BYTE kGlowTopAlpha = 175;
constexpr BYTE kGlowBottomAlpha = 220;
constexpr BYTE kGlowRadialAlpha = 150;

BYTE ResolveOpacity(int override, BYTE property) {
    return override >= 0 && override < 255 ? BYTE(override) : property;
}

// Keeps the surface's smoothing mode for the life of this object.
class SmoothingScope {
public:
    SmoothingScope(TGPGraphics& graphics, Gdiplus::SmoothingMode mode)
        : graphics_(graphics), previous_(graphics.GetSmoothingMode()) {
        graphics_.SetSmoothingMode(mode);
    }
    ~SmoothingScope() { graphics_.SetSmoothingMode(previous_); }
    SmoothingScope(const SmoothingScope&) = delete;
    SmoothingScope& operator=(const SmoothingScope&) = delete;

private:
    TGPGraphics& graphics_;
    Gdiplus::SmoothingMode previous_;
};

TFillRoundingType UpperRounding(TFillRoundingType type) {
    switch (type) {
        case rtTop:
        case rtBoth: return rtTop;
        case rtBottom:
        case rtNone: return rtNone;
        default: return type;
    }
}

TFillRoundingType LowerRounding(TFillRoundingType type) {
    switch (type) {
        case rtBottom:
        case rtBoth: return rtBottom;
        case rtTop:
        case rtNone: return rtNone;
        default: return type;
    }
}

void FillShadowOutline(TGPGraphics& graphics, const TGPGraphicsPath& outline, wc::TColor color) {
    TGPPathGradientBrush brush(outline);
    brush.SetWrapMode(Gdiplus::WrapModeClamp);
    // The same ramp in plain colours first, for renderers that ignore preset blends.
    brush.SetCenterColor(MakeGDIPColor(color, kShadowAlpha));
    brush.SetSurroundColor(MakeGDIPColor(color, 0));
    brush.SetInterpolationColors({{MakeGDIPColor(color, 0), MakeGDIPColor(color, kShadowAlpha),
                                   MakeGDIPColor(color, kShadowAlpha)},
                                  {0.0f, kShadowRamp, 1.0f}});
    graphics.FillPath(brush, outline);
}

const char* const kHatchStyleNames[] = {
    "HatchStyleHorizontal", "HatchStyleVertical", "HatchStyleForwardDiagonal", "HatchStyleBackwardDiagonal",
    "HatchStyleCross", "HatchStyleDiagonalCross", "HatchStyle05Percent", "HatchStyle10Percent",
    "HatchStyle20Percent", "HatchStyle25Percent", "HatchStyle30Percent", "HatchStyle40Percent",
    "HatchStyle50Percent", "HatchStyle60Percent", "HatchStyle70Percent", "HatchStyle75Percent",
    "HatchStyle80Percent", "HatchStyle90Percent", "HatchStyleLightDownwardDiagonal",
    "HatchStyleLightUpwardDiagonal", "HatchStyleDarkDownwardDiagonal", "HatchStyleDarkUpwardDiagonal",
    "HatchStyleWideDownwardDiagonal", "HatchStyleWideUpwardDiagonal", "HatchStyleLightVertical",
    "HatchStyleLightHorizontal", "HatchStyleNarrowVertical", "HatchStyleNarrowHorizontal",
    "HatchStyleDarkVertical", "HatchStyleDarkHorizontal", "HatchStyleDashedDownwardDiagonal",
    "HatchStyleDashedUpwardDiagonal", "HatchStyleDashedHorizontal", "HatchStyleDashedVertical",
    "HatchStyleSmallConfetti", "HatchStyleLargeConfetti", "HatchStyleZigZag", "HatchStyleWave",
    "HatchStyleDiagonalBrick", "HatchStyleHorizontalBrick", "HatchStyleWeave", "HatchStylePlaid",
    "HatchStyleDivot", "HatchStyleDottedGrid", "HatchStyleDottedDiamond", "HatchStyleShingle",
    "HatchStyleTrellis", "HatchStyleSphere", "HatchStyleSmallGrid", "HatchStyleSmallCheckerBoard",
    "HatchStyleLargeCheckerBoard", "HatchStyleOutlinedDiamond", "HatchStyleSolidDiamond", "HatchStyleTotal",
};

Gdiplus::HatchStyle LayoutHatch(const wc::LayoutValue& value) {
    if (value.kind == wc::LayoutValue::Kind::Integer) {
        const int index = value.AsInteger();
        if (index < 0 || index > int(std::size(kHatchStyleNames)) - 1) throw wc::Exception("Invalid hatch style");
        return Gdiplus::HatchStyle(index);
    }
    for (size_t i = 0; i < std::size(kHatchStyleNames); ++i)
        if (value.AsIdentifier() == kHatchStyleNames[i]) return Gdiplus::HatchStyle(i);
    throw wc::Exception("Invalid hatch style " + value.text);
}

BYTE LayoutByte(const wc::LayoutValue& value) {
    const int number = value.AsInteger();
    if (number < 0 || number > 255) throw wc::Exception("Opacity out of range");
    return BYTE(number);
}

}  // namespace

void AddRoundedOutline(TGPGraphicsPath& path, const RectF& rect, float radius, TFillRoundingType rounding) {
    const float x = rect.X, y = rect.Y, w = rect.Width, h = rect.Height;
    if (radius <= 0 || rounding == rtNone) {
        path.AddRectangle(rect);
        return;
    }
    const float d = radius * 2;
    const bool topLeft = rounding == rtTop || rounding == rtBoth || rounding == rtLeft;
    const bool topRight = rounding == rtTop || rounding == rtBoth || rounding == rtRight;
    const bool bottomRight = rounding == rtBottom || rounding == rtBoth || rounding == rtRight;
    const bool bottomLeft = rounding == rtBottom || rounding == rtBoth || rounding == rtLeft;
    path.StartFigure();
    // Clockwise from the top-left corner; a square corner is a point of the outline.
    if (topLeft) path.AddArc(x, y, d, d, 180, 90);
    else path.AddLine(x, y, x, y);
    if (topRight) path.AddArc(x + w - d, y, d, d, 270, 90);
    else path.AddLine(x + w, y, x + w, y);
    if (bottomRight) path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
    else path.AddLine(x + w, y + h, x + w, y + h);
    if (bottomLeft) path.AddArc(x, y + h - d, d, d, 90, 90);
    else path.AddLine(x, y + h, x, y + h);
    path.CloseFigure();
}

void AspectFit(float pw, float ph, float bw, float bh, TPictureMode mode, float& width, float& height) {
    if (pw <= 0 || ph <= 0 || bw <= 0 || bh <= 0) {
        width = height = 0;
    } else if (pw < bw && ph < bh && mode == pmNormal) {
        width = pw;
        height = ph;
    } else if (bw / bh > pw / ph) {
        height = bh;
        width = pw * bh / ph;
    } else {
        width = bw;
        height = ph * bw / pw;
    }
}

TGDIPFill::TGDIPFill() {
    backGroundPicture_.OnChange = [this] { Changed(); };
    picture_.OnChange = [this] { Changed(); };
}

void TGDIPFill::Changed() {
    if (updateCount_ == 0 && OnChange) OnChange();
}

void TGDIPFill::Assign(const TGDIPFill& other) {
    if (&other == this) return;
    BeginUpdate();
    color_ = other.color_;
    colorTo_ = other.colorTo_;
    colorMirror_ = other.colorMirror_;
    colorMirrorTo_ = other.colorMirrorTo_;
    gradientType_ = other.gradientType_;
    gradientMirrorType_ = other.gradientMirrorType_;
    hatchStyle_ = other.hatchStyle_;
    hatchStyleMirror_ = other.hatchStyleMirror_;
    backGroundPictureAspectRatio_ = other.backGroundPictureAspectRatio_;
    backGroundPictureMode_ = other.backGroundPictureMode_;
    backGroundPicture_ = other.backGroundPicture_;
    backGroundPicturePosition_ = other.backGroundPicturePosition_;
    backGroundPictureLeft_ = other.backGroundPictureLeft_;
    backGroundPictureTop_ = other.backGroundPictureTop_;
    backGroundPictureAspectMode_ = other.backGroundPictureAspectMode_;
    picture_ = other.picture_;
    picturePosition_ = other.picturePosition_;
    pictureLeft_ = other.pictureLeft_;
    pictureTop_ = other.pictureTop_;
    pictureSize_ = other.pictureSize_;
    pictureWidth_ = other.pictureWidth_;
    pictureHeight_ = other.pictureHeight_;
    pictureAspectRatio_ = other.pictureAspectRatio_;
    pictureAspectMode_ = other.pictureAspectMode_;
    opacity_ = other.opacity_;
    opacityTo_ = other.opacityTo_;
    opacityMirror_ = other.opacityMirror_;
    opacityMirrorTo_ = other.opacityMirrorTo_;
    borderColor_ = other.borderColor_;
    borderOpacity_ = other.borderOpacity_;
    borderWidth_ = other.borderWidth_;
    rounding_ = other.rounding_;
    roundingType_ = other.roundingType_;
    shadowColor_ = other.shadowColor_;
    shadowOffset_ = other.shadowOffset_;
    shadowType_ = other.shadowType_;
    angle_ = other.angle_;
    glow_ = other.glow_;
    glowGradientColor_ = other.glowGradientColor_;
    glowRadialColor_ = other.glowRadialColor_;
    EndUpdate();
    Changed();
}

bool TGDIPFill::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    static const std::initializer_list<const char*> kGradients = {
        "gtSolid", "gtRadial", "gtVertical", "gtHorizontal", "gtForwardDiagonal", "gtBackwardDiagonal",
        "gtAngle", "gtHatch", "gtPath", "gtTexture", "gtNone"};
    static const std::initializer_list<const char*> kPositions = {
        "ppTopLeft", "ppTopCenter", "ppTopRight", "ppBottomLeft", "ppBottomCenter", "ppBottomRight",
        "ppTiled", "ppStretched", "ppCenterLeft", "ppCenterCenter", "ppCenterRight", "ppCustom"};
    static const std::initializer_list<const char*> kPictureModes = {"pmStretch", "pmNormal"};

    if (name == "Color") SetColor(wc::LayoutColor(value));
    else if (name == "ColorTo") SetColorTo(wc::LayoutColor(value));
    else if (name == "ColorMirror") SetColorMirror(wc::LayoutColor(value));
    else if (name == "ColorMirrorTo") SetColorMirrorTo(wc::LayoutColor(value));
    else if (name == "GradientType") SetGradientType(TAdvGradientType(wc::LayoutEnum(value, kGradients)));
    else if (name == "GradientMirrorType") SetGradientMirrorType(TAdvGradientType(wc::LayoutEnum(value, kGradients)));
    else if (name == "HatchStyle") SetHatchStyle(LayoutHatch(value));
    else if (name == "HatchStyleMirror") SetHatchStyleMirror(LayoutHatch(value));
    else if (name == "BackGroundPictureAspectRatio") SetBackGroundPictureAspectRatio(value.AsBoolean());
    else if (name == "BackGroundPictureMode")
        SetBackGroundPictureMode(TFillPictureMode(wc::LayoutEnum(value, {"pmInsideFill", "pmOutsideFill"})));
    else if (name == "BackGroundPicturePosition")
        SetBackGroundPicturePosition(TFillPicturePosition(wc::LayoutEnum(value, kPositions)));
    else if (name == "BackGroundPictureLeft") SetBackGroundPictureLeft(value.AsInteger());
    else if (name == "BackGroundPictureTop") SetBackGroundPictureTop(value.AsInteger());
    else if (name == "BackGroundPictureAspectMode")
        SetBackGroundPictureAspectMode(TPictureMode(wc::LayoutEnum(value, kPictureModes)));
    else if (name == "PicturePosition") SetPicturePosition(TFillPicturePosition(wc::LayoutEnum(value, kPositions)));
    else if (name == "PictureLeft") SetPictureLeft(value.AsInteger());
    else if (name == "PictureTop") SetPictureTop(value.AsInteger());
    else if (name == "PictureSize") SetPictureSize(TFillPictureSize(wc::LayoutEnum(value, {"psOriginal", "psCustom"})));
    else if (name == "PictureWidth") SetPictureWidth(value.AsInteger());
    else if (name == "PictureHeight") SetPictureHeight(value.AsInteger());
    else if (name == "PictureAspectRatio") SetPictureAspectRatio(value.AsBoolean());
    else if (name == "PictureAspectMode") SetPictureAspectMode(TPictureMode(wc::LayoutEnum(value, kPictureModes)));
    else if (name == "Opacity") SetOpacity(LayoutByte(value));
    else if (name == "OpacityTo") SetOpacityTo(LayoutByte(value));
    else if (name == "OpacityMirror") SetOpacityMirror(LayoutByte(value));
    else if (name == "OpacityMirrorTo") SetOpacityMirrorTo(LayoutByte(value));
    else if (name == "BorderColor") SetBorderColor(wc::LayoutColor(value));
    else if (name == "BorderOpacity") SetBorderOpacity(LayoutByte(value));
    else if (name == "BorderWidth") SetBorderWidth(value.AsInteger());
    else if (name == "Rounding") SetRounding(value.AsInteger());
    else if (name == "RoundingType")
        SetRoundingType(
            TFillRoundingType(wc::LayoutEnum(value, {"rtNone", "rtTop", "rtBottom", "rtBoth", "rtLeft", "rtRight"})));
    else if (name == "ShadowColor") SetShadowColor(wc::LayoutColor(value));
    else if (name == "ShadowOffset") SetShadowOffset(value.AsInteger());
    else if (name == "ShadowType")
        SetShadowType(TShadowType(wc::LayoutEnum(value, {"stRightBottom", "stBottom", "stSurround"})));
    else if (name == "Angle") SetAngle(value.AsInteger());
    else if (name == "Glow")
        SetGlow(TGlowMode(wc::LayoutEnum(value, {"gmNone", "gmGradient", "gmRadial", "gmRadialGradient"})));
    else if (name == "GlowGradientColor") SetGlowGradientColor(wc::LayoutColor(value));
    else if (name == "GlowRadialColor") SetGlowRadialColor(wc::LayoutColor(value));
    else return false;
    return true;
}

// ---- painting ----

void TGDIPFill::Fill(TGPGraphics* graphics, RectF rect, RectF* used, int opacityMirrorTo, int opacityMirror,
                     int opacityTo, int opacity, int borderOpacity) {
    if (!graphics || !graphics->Valid()) return;
    TGPGraphics& g = *graphics;
    const BYTE op = ResolveOpacity(opacity, opacity_);
    const BYTE opTo = ResolveOpacity(opacityTo, opacityTo_);
    const BYTE opMirror = ResolveOpacity(opacityMirror, opacityMirror_);
    const BYTE opMirrorTo = ResolveOpacity(opacityMirrorTo, opacityMirrorTo_);
    const BYTE opBorder = borderOpacity < 0 ? borderOpacity_ : BYTE(std::min(borderOpacity, 255));
    const bool border = borderWidth_ > 0 && borderColor_ != clNone;

    if (rect.Width <= 1 || rect.Height <= 1) {
        // Too thin for an area: a line along it.
        if (border) {
            TGPPen pen(MakeGDIPColor(borderColor_, opBorder), float(borderWidth_));
            g.DrawLine(pen, rect.X, rect.Y, rect.X + rect.Width, rect.Y + rect.Height);
        }
    } else {
        DrawShadow(g, rect);

        const bool whole = colorMirror_ == clNone || gradientType_ == gtHatch || gradientType_ == gtTexture;
        if (whole) {
            FillPart(g, {rect, color_, colorTo_, op, opTo, gradientType_, hatchStyle_, roundingType_, Part::Whole});
        } else {
            const float h = rect.Height, half = h / 2;
            const RectF upper(rect.X, rect.Y, rect.Width, half + 1);
            const RectF lower(rect.X, rect.Y + half - 1, rect.Width, h - half + 1);
            FillPart(g, {upper, color_, colorTo_, op, opTo, gradientType_, hatchStyle_, UpperRounding(roundingType_),
                         Part::Upper});
            FillPart(g, {lower, colorMirror_, colorMirrorTo_, opMirror, opMirrorTo, gradientMirrorType_,
                         hatchStyleMirror_, LowerRounding(roundingType_), Part::Mirror});
        }

        if (backGroundPictureMode_ == pmInsideFill && !backGroundPicture_.Empty() && gradientType_ == gtTexture) {
            TGPGraphicsPath outline;
            AddRoundedOutline(outline, rect, float(rounding_), roundingType_);
            g.SetClip(TGPRegion(outline));
            DrawBackGroundPicture(g, rect);
            g.ResetClip();
        }

        if (border) {
            TGPGraphicsPath outline;
            AddRoundedOutline(outline, rect, float(rounding_), roundingType_);
            TGPPen pen(MakeGDIPColor(borderColor_, opBorder), float(borderWidth_));
            g.DrawPath(pen, outline);
        }

        if (glow_ != gmNone) DrawGlow(g, rect);
    }

    const float bw = float(borderWidth_);
    focusRect_ = RectF(rect.X + bw, rect.Y + bw, rect.Width - 2 * bw, rect.Height - 2 * bw);
    if (focus_ && focusColor_ != clNone) {
        SmoothingScope plain(g, Gdiplus::SmoothingModeDefault);
        TGPPen pen(MakeGDIPColor(focusColor_, op), 1);
        pen.SetDashStyle(Gdiplus::DashStyleDot);
        TGPGraphicsPath outline;
        AddRoundedOutline(outline, focusRect_, float(rounding_ - borderWidth_), roundingType_);
        g.DrawPath(pen, outline);
    }

    if (backGroundPictureMode_ == pmOutsideFill && !backGroundPicture_.Empty() && gradientType_ == gtTexture)
        DrawBackGroundPicture(g, rect);
    if (!picture_.Empty()) DrawPicture(g, rect);
    if (used) *used = rect;
}

void TGDIPFill::DrawShadow(TGPGraphics& g, RectF& rect) {
    const int o = shadowOffset_;
    if (o <= 0 || shadowColor_ == clNone) return;
    const float offset = float(o);
    switch (shadowType_) {
        case stRightBottom: {
            TGPGraphicsPath outline;
            AddRoundedOutline(outline, rect, float(rounding_), roundingType_);
            FillShadowOutline(g, outline, shadowColor_);
            rect.Width -= offset;
            rect.Height -= offset;
            break;
        }
        case stSurround: {
            TGPGraphicsPath outline;
            AddRoundedOutline(outline, rect, offset, rtBoth);
            FillShadowOutline(g, outline, shadowColor_);
            rect = RectF(rect.X + offset, rect.Y + offset, rect.Width - 2 * offset, rect.Height - 2 * offset);
            break;
        }
        case stBottom: {
            // A radial fade from the top centre of a strip along the bottom.
            const RectF strip(rect.X, rect.Y + rect.Height - 2 * offset, rect.Width, 2 * offset);
            TGPGraphicsPath outline;
            AddRoundedOutline(outline, strip, float(rounding_), rtBottom);
            g.SetClip(TGPRegion(outline));
            TGPGraphicsPath ellipse;
            ellipse.AddEllipse(RectF(strip.X, strip.Y - strip.Height / 2, strip.Width, strip.Height * 1.5f));
            TGPPathGradientBrush brush(ellipse);
            brush.SetCenterPoint(PointF(strip.X + strip.Width / 2, strip.Y));
            brush.SetCenterColor(MakeGDIPColor(shadowColor_, 255));
            brush.SetSurroundColor(MakeGDIPColor(shadowColor_, 0));
            g.FillRectangle(brush, strip);
            g.ResetClip();
            rect.Height -= offset;
            break;
        }
    }
}

void TGDIPFill::FillPart(TGPGraphics& g, const Part& part) {
    if (part.color == clNone) return;
    const ARGB start = MakeGDIPColor(part.color, part.opacity);
    const bool solid = part.colorTo == clNone;
    const ARGB end = solid ? start : MakeGDIPColor(part.colorTo, part.opacityTo);
    const TAdvGradientType type = solid ? gtSolid : part.type;
    const RectF& r = part.rect;

    auto fillShape = [&](const TGPBrush& brush) {
        if (rounding_ > 0) {
            SmoothingScope smooth(g, Gdiplus::SmoothingModeAntiAlias);
            TGPGraphicsPath outline;
            AddRoundedOutline(outline, r, float(rounding_), part.rounding);
            g.FillPath(brush, outline);
        } else {
            g.FillRectangle(brush, r);
        }
    };
    const RectF grown(r.X - 1, r.Y - 1, r.Width + 2, r.Height + 2);

    switch (type) {
        case gtSolid: {
            fillShape(TGPSolidBrush(start));
            break;
        }
        case gtVertical:
        case gtHorizontal:
        case gtForwardDiagonal:
        case gtBackwardDiagonal: {
            const Gdiplus::LinearGradientMode mode =
                type == gtVertical     ? Gdiplus::LinearGradientModeVertical
                : type == gtHorizontal ? Gdiplus::LinearGradientModeHorizontal
                : type == gtForwardDiagonal ? Gdiplus::LinearGradientModeForwardDiagonal
                                            : Gdiplus::LinearGradientModeBackwardDiagonal;
            TGPLinearGradientBrush brush(grown, start, end, mode);
            brush.SetGammaCorrection(true);
            fillShape(brush);
            if (part.kind == Part::Mirror) g.FillRectangle(TGPSolidBrush(start), RectF(r.X, r.Y, r.Width, 1));
            break;
        }
        case gtAngle: {
            TGPLinearGradientBrush brush(grown, start, end, float(angle_), true);
            brush.SetGammaCorrection(true);
            fillShape(brush);
            break;
        }
        case gtHatch: {
            fillShape(TGPHatchBrush(part.hatch, start, end));
            break;
        }
        case gtTexture: {
            if (backGroundPicturePosition_ == ppTiled)
                if (const TGPImage* image = backGroundPicture_.Image()) fillShape(TGPTextureBrush(*image));
            break;
        }
        case gtRadial: FillRadial(g, part, start, end); break;
        case gtPath:
        case gtNone: break;
    }
}

void TGDIPFill::FillRadial(TGPGraphics& g, const Part& part, ARGB start, ARGB end) {
    const RectF& r = part.rect;
    const TFillRoundingType corners =
        part.kind == Part::Whole ? roundingType_ : part.kind == Part::Upper ? rtTop : rtBottom;
    TGPGraphicsPath outline;
    AddRoundedOutline(outline, r, float(rounding_), corners);
    SmoothingScope smooth(g, rounding_ > 0 ? Gdiplus::SmoothingModeAntiAlias : g.GetSmoothingMode());
    const bool mirror = part.kind == Part::Mirror;
    g.FillPath(TGPSolidBrush(mirror ? end : start), outline);
    g.SetClip(TGPRegion(outline));
    TGPGraphicsPath ellipse;
    if (!mirror) ellipse.AddEllipse(RectF(r.X, r.Y - r.Height / 2, r.Width, r.Height * 1.5f));
    else ellipse.AddEllipse(RectF(r.X, r.Y, r.Width, r.Height * 1.5f));
    TGPPathGradientBrush brush(ellipse);
    brush.SetCenterPoint(PointF(r.X + r.Width / 2, mirror ? r.Y + r.Height : r.Y));
    brush.SetCenterColor(mirror ? start : end);
    brush.SetSurroundColor(mirror ? end : start);
    g.FillRectangle(brush, r);
    g.ResetClip();
}

void TGDIPFill::DrawGlow(TGPGraphics& g, const RectF& rect) {
    g.SetClip(rect);
    const RectF inner(rect.X + 1, rect.Y + 1, rect.Width - 2, rect.Height - 2);
    const float left = inner.X, right = inner.X + inner.Width, top = inner.Y, bottom = inner.Y + inner.Height;
    if (glow_ == gmGradient || glow_ == gmRadialGradient) {
        TGPGraphicsPath outline;
        AddRoundedOutline(outline, inner, float(rounding_), roundingType_);
        g.DrawPath(TGPPen(MakeGDIPColor(glowGradientColor_, kGlowOutlineAlpha), 1), outline);

        // A highlight strip along the top that fades downwards, carried to the sides by two triangles.
        const RectF topStrip(left + 5, top, inner.Width - 10, 4);
        TGPLinearGradientBrush topBrush(topStrip, MakeGDIPColor(glowGradientColor_, kGlowTopAlpha),
                                        MakeGDIPColor(glowGradientColor_, 0), Gdiplus::LinearGradientModeVertical);
        g.FillRectangle(topBrush, topStrip);
        g.FillPolygon(topBrush, {PointF(left, top), PointF(left + 5, top), PointF(left + 5, top + 4)});
        g.FillPolygon(topBrush, {PointF(right, top), PointF(right - 5, top), PointF(right - 5, top + 4)});

        // And one along the bottom that grows stronger towards the edge.
        const RectF bottomStrip(left + 5, bottom - 7, inner.Width - 10, 7);
        TGPLinearGradientBrush bottomBrush(bottomStrip, MakeGDIPColor(glowGradientColor_, 0),
                                           MakeGDIPColor(glowGradientColor_, kGlowBottomAlpha),
                                           Gdiplus::LinearGradientModeVertical);
        g.FillRectangle(bottomBrush, bottomStrip);
        g.FillPolygon(bottomBrush, {PointF(left, bottom), PointF(left + 5, bottom), PointF(left + 5, bottom - 7)});
        g.FillPolygon(bottomBrush, {PointF(right, bottom), PointF(right - 5, bottom), PointF(right - 5, bottom - 7)});
    }
    if (glow_ == gmRadial || glow_ == gmRadialGradient) {
        const RectF oval(left + 10, top - inner.Height / 2, inner.Width - 20, inner.Height * 3);
        TGPGraphicsPath ellipse;
        ellipse.AddEllipse(oval);
        TGPPathGradientBrush brush(ellipse);
        brush.SetCenterPoint(PointF(oval.X + oval.Width / 2, oval.Y + oval.Height / 2));
        brush.SetCenterColor(MakeGDIPColor(glowRadialColor_, kGlowRadialAlpha));
        brush.SetSurroundColor(MakeGDIPColor(color_ == clNone ? wc::clWhite : color_, 0));
        g.FillPath(brush, ellipse);
    }
    g.ResetClip();
}

// ---- pictures ----

RectF TGDIPFill::PlacePicture(TFillPicturePosition position, const RectF& r, float w, float h, int left, int top) {
    const float centreX = r.X + (r.Width - w) / 2, rightX = r.X + r.Width - w;
    const float middleY = r.Y + (r.Height - h) / 2, bottomY = r.Y + r.Height - h;
    switch (position) {
        case ppTopLeft: return RectF(r.X, r.Y, w, h);
        case ppTopCenter: return RectF(centreX, r.Y, w, h);
        case ppTopRight: return RectF(rightX, r.Y, w, h);
        case ppBottomLeft: return RectF(r.X, bottomY, w, h);
        case ppBottomCenter: return RectF(centreX, bottomY, w, h);
        case ppBottomRight: return RectF(rightX, bottomY, w, h);
        case ppCenterLeft: return RectF(r.X, middleY, w, h);
        case ppCenterCenter: return RectF(centreX, middleY, w, h);
        case ppCenterRight: return RectF(rightX, middleY, w, h);
        case ppCustom: return RectF(r.X + left, r.Y + top, w, h);
        case ppStretched:
        case ppTiled: break;
    }
    return r;
}

void TGDIPFill::DrawBackGroundPicture(TGPGraphics& g, const RectF& rect) {
    const TGPImage* image = backGroundPicture_.Image();
    if (!image) return;
    float w = float(image->Width()), h = float(image->Height());
    if (backGroundPicturePosition_ == ppTiled) {
        g.FillRectangle(TGPTextureBrush(*image), rect);
        return;
    }
    if (backGroundPicturePosition_ == ppStretched) {
        if (!backGroundPictureAspectRatio_) {
            g.DrawImage(*image, rect);
            return;
        }
        AspectFit(w, h, rect.Width, rect.Height, backGroundPictureAspectMode_, w, h);
        g.DrawImage(*image, PlacePicture(ppCenterCenter, rect, w, h, 0, 0));
        return;
    }
    if (backGroundPictureAspectRatio_) AspectFit(w, h, rect.Width, rect.Height, backGroundPictureAspectMode_, w, h);
    g.DrawImage(*image, PlacePicture(backGroundPicturePosition_, rect, w, h, backGroundPictureLeft_,
                                     backGroundPictureTop_));
}

void TGDIPFill::DrawPicture(TGPGraphics& g, const RectF& rect) {
    const TGPImage* image = picture_.Image();
    if (!image) return;
    const float ownWidth = float(image->Width()), ownHeight = float(image->Height());
    float w = pictureSize_ == psCustom ? float(pictureWidth_) : ownWidth;
    float h = pictureSize_ == psCustom ? float(pictureHeight_) : ownHeight;
    if (picturePosition_ == ppTiled) {
        g.FillRectangle(TGPTextureBrush(*image), rect);
        return;
    }
    if (picturePosition_ == ppStretched) {
        w = rect.Width;
        h = rect.Height;
    }
    if (pictureAspectRatio_) AspectFit(ownWidth, ownHeight, w, h, pictureAspectMode_, w, h);
    g.DrawImage(*image, PlacePicture(picturePosition_ == ppStretched ? ppCenterCenter : picturePosition_, rect, w, h,
                                     pictureLeft_, pictureTop_));
}
