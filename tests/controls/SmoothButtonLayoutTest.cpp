#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "framework/Layout.h"

namespace {

// A form whose layout names one smooth button.
class LayoutForm : public wc::TForm {
public:
    explicit LayoutForm(const char* layout) : wc::TForm(nullptr) { ReadLayout(wc::ParseLayout(layout)); }
    TAdvSmoothButton* Button1 = nullptr;

protected:
    void DeclareFields(wc::FieldTable& fields) override { fields.Field("Button1", Button1); }
};

}  // namespace

TEST(ButtonLayout, ReadsDottedAppearanceStatusAndFillSettings) {
    LayoutForm form(R"(object Form1: TForm
  object Button1: TAdvSmoothButton
    Left = 4
    Top = 5
    Width = 90
    Height = 30
    Caption = '&Run'
    Appearance.GlowPercentage = 40
    Appearance.SimpleLayout = True
    Appearance.Font.Name = 'Arial'
    Appearance.Font.Color = clBlue
    Status.Visible = True
    Status.Caption = '12'
    Status.OffsetLeft = -2
    Status.Appearance.Spacing = 1
    Status.Appearance.Fill.Color = clRed
    Status.Appearance.Fill.GradientType = gtHatch
    Status.Appearance.Fill.HatchStyle = HatchStyleCross
    Status.Appearance.Fill.RoundingType = rtTop
    Status.Appearance.Fill.Opacity = 128
    BevelColor = clYellow
    DisabledColor = clNavy
  end
end
)");
    TAdvSmoothButton& button = *form.Button1;
    EXPECT_EQ(button.Caption(), "&Run");
    EXPECT_EQ(button.Appearance().GlowPercentage(), 40);
    EXPECT_TRUE(button.Appearance().SimpleLayout());
    EXPECT_EQ(button.Appearance().Font().Name(), "Arial");
    EXPECT_EQ(button.Appearance().Font().Color(), wc::clBlue);
    EXPECT_FALSE(button.ParentFont());
    EXPECT_TRUE(button.Status().Visible());
    EXPECT_EQ(button.Status().Caption(), "12");
    EXPECT_EQ(button.Status().OffsetLeft(), -2);
    EXPECT_EQ(button.Status().Appearance().Spacing(), 1);
    const TGDIPFill& fill = button.Status().Appearance().Fill();
    EXPECT_EQ(fill.Color(), wc::clRed);
    EXPECT_EQ(fill.GradientType(), gtHatch);
    EXPECT_EQ(fill.HatchStyle(), Gdiplus::HatchStyleCross);
    EXPECT_EQ(fill.RoundingType(), rtTop);
    EXPECT_EQ(fill.Opacity(), 128);
    EXPECT_EQ(button.BevelColor(), wc::clYellow);
    EXPECT_EQ(button.DisabledColor(), wc::clNavy);
    EXPECT_EQ(button.Width(), 90);
}

TEST(ButtonLayout, CaptionDefaultsToTheComponentName) {
    LayoutForm form(R"(object Form1: TForm
  object Button1: TAdvSmoothButton
    Left = 4
  end
end
)");
    EXPECT_EQ(form.Button1->Caption(), "Button1");
}

TEST(ButtonLayout, UnknownValuesAreRefused) {
    EXPECT_THROW(LayoutForm(R"(object Form1: TForm
  object Button1: TAdvSmoothButton
    Status.Appearance.Fill.GradientType = gtSparkle
  end
end
)"),
                 wc::Exception);
    EXPECT_THROW(LayoutForm(R"(object Form1: TForm
  object Button1: TAdvSmoothButton
    Status.Appearance.Fill.Opacity = 300
  end
end
)"),
                 wc::Exception);
}
