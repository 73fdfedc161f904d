#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/GDIPFill.h"

using controls_test::PixelAt;

namespace {

bool IsRed(const controls_test::Rgba& p) { return p.a == 255 && p.r == 255 && p.g == 0 && p.b == 0; }

// A fill and a transparent 100 x 60 surface to paint it on, anti-aliased like the button's.
class GDIPFillPainting : public ::testing::Test {
protected:
    GDIPFillPainting() : bitmap(100, 60), graphics(bitmap) {
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        graphics.Clear(0);
    }
    controls_test::Rgba At(int x, int y) { return PixelAt(bitmap, x, y); }

    TGPBitmap bitmap;
    TGPGraphics graphics;
    TGDIPFill fill;
};

}  // namespace

TEST(GDIPFillDefaults, MatchTheDeclaredValues) {
    TGDIPFill fill;
    EXPECT_EQ(fill.Color(), wc::clSilver);
    EXPECT_EQ(fill.ColorTo(), wc::clGray);
    EXPECT_EQ(fill.ColorMirror(), wc::clNone);
    EXPECT_EQ(fill.GradientType(), gtVertical);
    EXPECT_EQ(fill.GradientMirrorType(), gtSolid);
    EXPECT_EQ(fill.RoundingType(), rtBoth);
    EXPECT_EQ(fill.BorderColor(), wc::clNone);
    EXPECT_EQ(fill.BorderWidth(), 1);
    EXPECT_EQ(fill.PictureWidth(), 50);
    EXPECT_EQ(fill.ShadowColor(), wc::clGray);
    EXPECT_EQ(fill.Opacity(), 255);
    EXPECT_EQ(int(gtNone), 10);
    EXPECT_EQ(int(ppCustom), 11);
}

TEST(GDIPFillChanges, RaiseOnChangeOutsideAnUpdateOnly) {
    TGDIPFill fill;
    int changes = 0;
    fill.OnChange = [&] { ++changes; };
    fill.SetColor(wc::clRed);
    EXPECT_EQ(changes, 1);
    fill.BeginUpdate();
    fill.SetRounding(7);
    fill.EndUpdate();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(fill.Rounding(), 7);
    TGDIPFill copy;
    copy.Assign(fill);
    EXPECT_EQ(copy.Color(), wc::clRed);
    EXPECT_EQ(copy.Rounding(), 7);
}

class GDIPFillWithoutEndColour : public GDIPFillPainting, public ::testing::WithParamInterface<TAdvGradientType> {};

TEST_P(GDIPFillWithoutEndColour, MakesTheGradientSolid) {
    fill.SetColor(wc::clRed);
    fill.SetColorTo(wc::clNone);
    fill.SetGradientType(GetParam());
    fill.SetAngle(45);
    fill.Fill(&graphics, RectF(0, 0, 100, 60));
    EXPECT_TRUE(IsRed(At(2, 2)));
    EXPECT_TRUE(IsRed(At(97, 57)));
    EXPECT_TRUE(IsRed(At(50, 30)));
}

INSTANTIATE_TEST_SUITE_P(Types, GDIPFillWithoutEndColour,
                         ::testing::Values(gtVertical, gtHorizontal, gtForwardDiagonal, gtAngle, gtRadial, gtHatch));

TEST_F(GDIPFillPainting, AVerticalGradientRunsFromColourToColourTo) {
    fill.SetColor(wc::clRed);
    fill.SetColorTo(wc::clBlue);
    fill.Fill(&graphics, RectF(0, 0, 100, 60));
    const auto top = At(50, 1), bottom = At(50, 58);
    EXPECT_GT(top.r, 200);
    EXPECT_LT(top.b, 60);
    EXPECT_GT(bottom.b, 200);
    EXPECT_LT(bottom.r, 60);
}

TEST_F(GDIPFillPainting, NoColourPaintsOnlyTheBorder) {
    fill.SetColor(wc::clNone);
    fill.SetBorderColor(wc::clRed);
    fill.SetBorderWidth(2);
    fill.Fill(&graphics, RectF(10, 10, 80, 40));
    EXPECT_EQ(At(50, 30).a, 0);
    const auto edge = At(50, 10);
    EXPECT_GT(edge.a, 0);
    EXPECT_EQ(edge.r, 255);
}

TEST_F(GDIPFillPainting, MirrorHalvesWithBothRoundingLeaveNoSeam) {
    fill.SetColor(wc::clRed);
    fill.SetColorTo(wc::clNone);
    fill.SetColorMirror(wc::clRed);
    fill.SetColorMirrorTo(wc::clNone);
    fill.SetRounding(10);
    fill.Fill(&graphics, RectF(0, 0, 100, 60));
    for (int y = 2; y < 58; ++y) EXPECT_TRUE(IsRed(At(50, y))) << "row " << y;
    // Square corners where the halves meet, rounded ones at the outer corners.
    EXPECT_TRUE(IsRed(At(0, 29)));
    EXPECT_TRUE(IsRed(At(0, 31)));
    EXPECT_EQ(At(0, 0).a, 0);
    EXPECT_EQ(At(99, 59).a, 0);
}

TEST_F(GDIPFillPainting, MirrorHalfTakesItsOwnColours) {
    fill.SetColor(wc::clRed);
    fill.SetColorTo(wc::clNone);
    fill.SetColorMirror(wc::clBlue);
    fill.SetColorMirrorTo(wc::clNone);
    fill.Fill(&graphics, RectF(0, 0, 100, 60));
    EXPECT_TRUE(IsRed(At(50, 10)));
    const auto lower = At(50, 50);
    EXPECT_EQ(lower.b, 255);
    EXPECT_EQ(lower.r, 0);
}

TEST_F(GDIPFillPainting, SurroundShadowLeavesABandOfItsOffset) {
    fill.SetColor(wc::clRed);
    fill.SetColorTo(wc::clNone);
    fill.SetShadowType(stSurround);
    fill.SetShadowOffset(3);
    fill.SetShadowColor(wc::clBlack);
    RectF used;
    fill.Fill(&graphics, RectF(0, 0, 100, 60), &used);
    EXPECT_FLOAT_EQ(used.X, 3);
    EXPECT_FLOAT_EQ(used.Width, 94);
    for (int x : {1, 2}) {
        const auto band = At(x, 30);
        EXPECT_GT(band.a, 0) << x;
        EXPECT_EQ(band.r, 0) << x;
    }
    EXPECT_TRUE(IsRed(At(3, 30)));
    EXPECT_TRUE(IsRed(At(96, 30)));
    EXPECT_FALSE(IsRed(At(97, 30)));
    EXPECT_FALSE(IsRed(At(50, 58)));
    EXPECT_TRUE(IsRed(At(50, 56)));
}

TEST_F(GDIPFillPainting, ARectangleOnePixelHighDrawsALine) {
    fill.SetColor(wc::clBlue);
    fill.SetBorderColor(wc::clRed);
    fill.Fill(&graphics, RectF(10, 20, 60, 1));
    // The line runs from (10, 20) to (70, 21): at x = 40 it lies on row 20 or 21.
    auto line = At(40, 20);
    if (line.a == 0) line = At(40, 21);
    EXPECT_GT(line.a, 0);
    EXPECT_GT(line.r, 0);
    EXPECT_EQ(line.b, 0);  // no body
    EXPECT_EQ(At(40, 23).a, 0);
}

TEST_F(GDIPFillPainting, PathTypePaintsOnlyTheBorder) {
    fill.SetColor(wc::clBlue);
    fill.SetColorTo(wc::clRed);
    fill.SetGradientType(gtPath);
    fill.SetBorderColor(wc::clRed);
    fill.Fill(&graphics, RectF(10, 10, 80, 40));
    EXPECT_EQ(At(50, 30).a, 0);
    EXPECT_GT(At(50, 10).a, 0);
}

TEST_F(GDIPFillPainting, OpacityOverridesReplaceTheProperty) {
    fill.SetColor(wc::clRed);
    fill.SetColorTo(wc::clNone);
    fill.Fill(&graphics, RectF(0, 0, 100, 60), nullptr, 255, 255, 255, 100);
    EXPECT_NEAR(At(50, 30).a, 100, 1);
}

TEST(AspectFit, KeepsTheRatioAndSmallPicturesInNormalMode) {
    float w, h;
    AspectFit(200, 100, 50, 50, pmStretch, w, h);
    EXPECT_FLOAT_EQ(w, 50);
    EXPECT_FLOAT_EQ(h, 25);
    AspectFit(100, 200, 50, 50, pmStretch, w, h);
    EXPECT_FLOAT_EQ(w, 25);
    EXPECT_FLOAT_EQ(h, 50);
    AspectFit(10, 20, 50, 50, pmNormal, w, h);
    EXPECT_FLOAT_EQ(w, 10);
    EXPECT_FLOAT_EQ(h, 20);
    AspectFit(10, 20, 50, 50, pmStretch, w, h);
    EXPECT_FLOAT_EQ(w, 25);
    EXPECT_FLOAT_EQ(h, 50);
    AspectFit(0, 20, 50, 50, pmStretch, w, h);
    EXPECT_FLOAT_EQ(w, 0);
    EXPECT_FLOAT_EQ(h, 0);
}
