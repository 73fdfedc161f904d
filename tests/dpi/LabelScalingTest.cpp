// Labels on a scaled form: sized to their scaled text once, and kept apart
// from their neighbours when the text grows faster than the layout.
#include <gtest/gtest.h>

#include <map>

#include "LayoutChecks.h"
#include "framework/Forms.h"
#include "framework/Handles.h"
#include "framework/Layout.h"

using namespace dpi_tests;

namespace {

// "Output Filename:" is given far less room than its text needs at any density.
constexpr char kLayout[] = R"(object Form1: TForm
  Font.Height = -12
  Font.Name = 'Tahoma'
  PixelsPerInch = 96
  object Caption1: TLabel
    Left = 10
    Top = 10
    Caption = 'Output Filename:'
  end
  object Value1: TLabel
    Left = 40
    Top = 10
    Caption = 'No Name'
  end
  object Other1: TLabel
    Left = 40
    Top = 60
    Caption = 'Below'
  end
end
)";

class LabelForm : public wc::TForm {
public:
    LabelForm() : wc::TForm(nullptr) { ReadLayout(wc::ParseLayout(kLayout)); }
    wc::TLabel* Caption1 = nullptr;
    wc::TLabel* Value1 = nullptr;
    wc::TLabel* Other1 = nullptr;

protected:
    void DeclareFields(wc::FieldTable& fields) override {
        fields.Field("Caption1", Caption1);
        fields.Field("Value1", Value1);
        fields.Field("Other1", Other1);
    }
};

// The text's width by GDI in Tahoma of that height.
int TahomaWidth(const char* text, int height) {
    wc::FontHandle font(::CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                                      "Tahoma"));
    wc::WindowDc dc(nullptr);
    HGDIOBJ previous = ::SelectObject(dc.get(), font.get());
    SIZE size{};
    ::GetTextExtentPoint32A(dc.get(), text, int(strlen(text)), &size);
    ::SelectObject(dc.get(), previous);
    return size.cx;
}

}  // namespace

// A label sized itself to the scaled font, and then its width was scaled once more.
TEST(LabelScaling, DoublingTheDensitySizesALabelToItsTextOnce) {
    LabelForm form;
    form.Handle();
    const std::map<int, int> doubledFont = {{96, -24}, {120, -30}, {144, -36}};  // twice 12 pixels at 96 per inch
    const int dpi = form.PixelsPerInch();
    ASSERT_TRUE(doubledFont.count(dpi)) << dpi;
    form.ScaleToDensity(2 * dpi);
    EXPECT_EQ(form.Caption1->Font().Height(), doubledFont.at(dpi));
    EXPECT_EQ(form.Caption1->Width(), TahomaWidth("Output Filename:", doubledFont.at(dpi)));
    EXPECT_EQ(form.Value1->Width(), TahomaWidth("No Name", doubledFont.at(dpi)));
}

TEST(LabelScaling, LabelWiderThanItsRoomPushesItsNeighbourAlong) {
    LabelForm form;
    form.Handle();
    const int captionEnd = form.Caption1->Left() + form.Caption1->Width();
    EXPECT_GT(captionEnd, ::MulDiv(40, form.PixelsPerInch(), 96)) << "the layout's room was meant to be too small";
    EXPECT_GE(form.Value1->Left(), captionEnd);
    EXPECT_FALSE(Intersect(BoundsInParent(form.Caption1->Handle()), BoundsInParent(form.Value1->Handle())));
    EXPECT_EQ(form.Value1->Top(), form.Caption1->Top());
}

TEST(LabelScaling, LabelOnAnotherRowKeepsItsPlace) {
    LabelForm form;
    form.Handle();
    const std::map<int, int> left = {{96, 40}, {120, 50}, {144, 60}};  // 40 at 96 per inch
    ASSERT_TRUE(left.count(form.PixelsPerInch()));
    EXPECT_EQ(form.Other1->Left(), left.at(form.PixelsPerInch()));
}
