// TGDIPFill: how to paint a rectangle with GDI+ (solid, gradients, an
// optional mirror half with its own colours, hatch, texture, pictures,
// rounded corners, shadow, border, glow) and the painting itself.
//
// Colours are system colours with a separate opacity byte; clNone means
// "no colour". Every property change raises OnChange unless it happens
// between BeginUpdate and EndUpdate.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "controls/AdvGDIP.h"
#include "framework/Graphics.h"
#include "framework/Layout.h"

enum TAdvGradientType {
    gtSolid, gtRadial, gtVertical, gtHorizontal, gtForwardDiagonal, gtBackwardDiagonal, gtAngle, gtHatch, gtPath,
    gtTexture, gtNone
};
enum TGlowMode { gmNone, gmGradient, gmRadial, gmRadialGradient };
enum TFillRoundingType { rtNone, rtTop, rtBottom, rtBoth, rtLeft, rtRight };
enum TShadowType { stRightBottom, stBottom, stSurround };
enum TFillPictureMode { pmInsideFill, pmOutsideFill };
enum TFillPicturePosition {
    ppTopLeft, ppTopCenter, ppTopRight, ppBottomLeft, ppBottomCenter, ppBottomRight, ppTiled, ppStretched,
    ppCenterLeft, ppCenterCenter, ppCenterRight, ppCustom
};
enum TFillPictureSize { psOriginal, psCustom };
enum TPictureMode { pmStretch, pmNormal };
// The GDI+ hatch styles in their standard order.
using HatchStyle = Gdiplus::HatchStyle;

// The outline of a rectangle with corners of radius r rounded by rounding type
// (quarter arcs of diameter 2r, GDI+ angles); r <= 0 gives the plain rectangle.
void AddRoundedOutline(TGPGraphicsPath& path, const RectF& rect, float radius, TFillRoundingType rounding);

// A picture of pw x ph fitted into a box of bw x bh keeping its aspect ratio;
// pmNormal keeps a picture that is smaller than the box in both directions.
void AspectFit(float pw, float ph, float bw, float bh, TPictureMode mode, float& width, float& height);

class TGDIPFill {
public:
    TGDIPFill();
    TGDIPFill(const TGDIPFill&) = delete;
    TGDIPFill& operator=(const TGDIPFill&) = delete;

    // Copies every property of another fill (OnChange stays).
    void Assign(const TGDIPFill& other);

    void BeginUpdate() noexcept { ++updateCount_; }
    void EndUpdate() noexcept {
        if (updateCount_ > 0) --updateCount_;
    }

    // Paints the fill on `graphics` over `rect`; `used` receives the rectangle the
    // fill itself covered (after the room the shadow took). An opacity override of
    // 255 (border: -1) means that the property is used.
    void Fill(TGPGraphics* graphics, RectF rect, RectF* used = nullptr, int opacityMirrorTo = 255,
              int opacityMirror = 255, int opacityTo = 255, int opacity = 255, int borderOpacity = -1);

    // Reads a property stored in a layout ("Color", "GradientType", ...).
    bool SetProperty(const std::string& name, const wc::LayoutValue& value);

#define GDIPFILL_PROPERTY(Type, Name, field)                   \
    Type Name() const noexcept { return field; }               \
    void Set##Name(Type value) { Store(field, value); }
    GDIPFILL_PROPERTY(wc::TColor, Color, color_)
    GDIPFILL_PROPERTY(wc::TColor, ColorTo, colorTo_)
    GDIPFILL_PROPERTY(wc::TColor, ColorMirror, colorMirror_)
    GDIPFILL_PROPERTY(wc::TColor, ColorMirrorTo, colorMirrorTo_)
    GDIPFILL_PROPERTY(TAdvGradientType, GradientType, gradientType_)
    GDIPFILL_PROPERTY(TAdvGradientType, GradientMirrorType, gradientMirrorType_)
    GDIPFILL_PROPERTY(Gdiplus::HatchStyle, HatchStyle, hatchStyle_)
    GDIPFILL_PROPERTY(Gdiplus::HatchStyle, HatchStyleMirror, hatchStyleMirror_)
    GDIPFILL_PROPERTY(bool, BackGroundPictureAspectRatio, backGroundPictureAspectRatio_)
    GDIPFILL_PROPERTY(TFillPictureMode, BackGroundPictureMode, backGroundPictureMode_)
    GDIPFILL_PROPERTY(TFillPicturePosition, BackGroundPicturePosition, backGroundPicturePosition_)
    GDIPFILL_PROPERTY(int, BackGroundPictureLeft, backGroundPictureLeft_)
    GDIPFILL_PROPERTY(int, BackGroundPictureTop, backGroundPictureTop_)
    GDIPFILL_PROPERTY(TPictureMode, BackGroundPictureAspectMode, backGroundPictureAspectMode_)
    GDIPFILL_PROPERTY(TFillPicturePosition, PicturePosition, picturePosition_)
    GDIPFILL_PROPERTY(int, PictureLeft, pictureLeft_)
    GDIPFILL_PROPERTY(int, PictureTop, pictureTop_)
    GDIPFILL_PROPERTY(TFillPictureSize, PictureSize, pictureSize_)
    GDIPFILL_PROPERTY(int, PictureWidth, pictureWidth_)
    GDIPFILL_PROPERTY(int, PictureHeight, pictureHeight_)
    GDIPFILL_PROPERTY(bool, PictureAspectRatio, pictureAspectRatio_)
    GDIPFILL_PROPERTY(TPictureMode, PictureAspectMode, pictureAspectMode_)
    GDIPFILL_PROPERTY(BYTE, Opacity, opacity_)
    GDIPFILL_PROPERTY(BYTE, OpacityTo, opacityTo_)
    GDIPFILL_PROPERTY(BYTE, OpacityMirror, opacityMirror_)
    GDIPFILL_PROPERTY(BYTE, OpacityMirrorTo, opacityMirrorTo_)
    GDIPFILL_PROPERTY(wc::TColor, BorderColor, borderColor_)
    GDIPFILL_PROPERTY(BYTE, BorderOpacity, borderOpacity_)
    GDIPFILL_PROPERTY(int, BorderWidth, borderWidth_)
    GDIPFILL_PROPERTY(int, Rounding, rounding_)
    GDIPFILL_PROPERTY(TFillRoundingType, RoundingType, roundingType_)
    GDIPFILL_PROPERTY(wc::TColor, ShadowColor, shadowColor_)
    GDIPFILL_PROPERTY(int, ShadowOffset, shadowOffset_)
    GDIPFILL_PROPERTY(TShadowType, ShadowType, shadowType_)
    GDIPFILL_PROPERTY(int, Angle, angle_)
    GDIPFILL_PROPERTY(TGlowMode, Glow, glow_)
    GDIPFILL_PROPERTY(wc::TColor, GlowGradientColor, glowGradientColor_)
    GDIPFILL_PROPERTY(wc::TColor, GlowRadialColor, glowRadialColor_)
#undef GDIPFILL_PROPERTY

    TAdvGDIPPicture& BackGroundPicture() noexcept { return backGroundPicture_; }
    const TAdvGDIPPicture& BackGroundPicture() const noexcept { return backGroundPicture_; }
    TAdvGDIPPicture& Picture() noexcept { return picture_; }
    const TAdvGDIPPicture& Picture() const noexcept { return picture_; }

    // The focus outline (not stored).
    bool Focus() const noexcept { return focus_; }
    void SetFocus(bool focus) { Store(focus_, focus); }
    wc::TColor FocusColor() const noexcept { return focusColor_; }
    void SetFocusColor(wc::TColor color) { Store(focusColor_, color); }
    // The rectangle of the focus outline at the last paint.
    const RectF& FocusRect() const noexcept { return focusRect_; }

    std::function<void()> OnChange;

private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    void Changed();

    struct Part {
        RectF rect;
        wc::TColor color, colorTo;
        BYTE opacity, opacityTo;
        TAdvGradientType type;
        Gdiplus::HatchStyle hatch;
        TFillRoundingType rounding;
        enum Kind { Whole, Upper, Mirror } kind;
    };
    void FillPart(TGPGraphics& graphics, const Part& part);
    void FillRadial(TGPGraphics& graphics, const Part& part, ARGB start, ARGB end);
    void DrawShadow(TGPGraphics& graphics, RectF& rect);
    void DrawGlow(TGPGraphics& graphics, const RectF& rect);
    // Where a picture of that size goes within `rect` for a placement.
    static RectF PlacePicture(TFillPicturePosition position, const RectF& rect, float width, float height, int left,
                              int top);
    void DrawBackGroundPicture(TGPGraphics& graphics, const RectF& rect);
    void DrawPicture(TGPGraphics& graphics, const RectF& rect);

    wc::TColor color_ = wc::clSilver;
    wc::TColor colorTo_ = wc::clGray;
    wc::TColor colorMirror_ = wc::clNone;
    wc::TColor colorMirrorTo_ = wc::clNone;
    TAdvGradientType gradientType_ = gtVertical;
    TAdvGradientType gradientMirrorType_ = gtSolid;
    Gdiplus::HatchStyle hatchStyle_ = Gdiplus::HatchStyleHorizontal;
    Gdiplus::HatchStyle hatchStyleMirror_ = Gdiplus::HatchStyleHorizontal;
    bool backGroundPictureAspectRatio_ = false;
    TFillPictureMode backGroundPictureMode_ = pmOutsideFill;
    TAdvGDIPPicture backGroundPicture_;
    TFillPicturePosition backGroundPicturePosition_ = ppTopLeft;
    int backGroundPictureLeft_ = 0, backGroundPictureTop_ = 0;
    TPictureMode backGroundPictureAspectMode_ = pmStretch;
    TAdvGDIPPicture picture_;
    TFillPicturePosition picturePosition_ = ppTopLeft;
    int pictureLeft_ = 0, pictureTop_ = 0;
    TFillPictureSize pictureSize_ = psOriginal;
    int pictureWidth_ = 50, pictureHeight_ = 50;
    bool pictureAspectRatio_ = false;
    TPictureMode pictureAspectMode_ = pmStretch;
    BYTE opacity_ = 255, opacityTo_ = 255, opacityMirror_ = 255, opacityMirrorTo_ = 255;
    wc::TColor borderColor_ = wc::clNone;
    BYTE borderOpacity_ = 255;
    int borderWidth_ = 1;
    int rounding_ = 0;
    TFillRoundingType roundingType_ = rtBoth;
    wc::TColor shadowColor_ = wc::clGray;
    int shadowOffset_ = 0;
    TShadowType shadowType_ = stRightBottom;
    int angle_ = 0;
    TGlowMode glow_ = gmNone;
    wc::TColor glowGradientColor_ = wc::clWhite;
    wc::TColor glowRadialColor_ = wc::clWhite;

    int updateCount_ = 0;
    bool focus_ = false;
    wc::TColor focusColor_ = wc::clNone;
    RectF focusRect_{0, 0, 0, 0};
};
