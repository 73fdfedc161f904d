// The caption's lines: a caption without a line break is drawn on one line,
// cut with an ellipsis when the body is too narrow for it.
#include <gtest/gtest.h>

#include "ControlsTestSupport.h"

using namespace controls_test;

namespace {

// Rows of dark (caption) pixels in the cache bitmap: how many separate bands
// of them there are, and the widest column span they cover.
struct Ink {
    int bands = 0;
    int left = 1 << 30, right = -1;
};

Ink CaptionInk(TAdvSmoothButton& button) {
    const TGPBitmap& bitmap = button.RenderedBitmap();
    Ink ink;
    bool previous = false;
    for (int y = 0; y < int(bitmap.Height()); ++y) {
        bool inked = false;
        for (int x = 0; x < int(bitmap.Width()); ++x) {
            const Rgba p = PixelAt(bitmap, x, y);
            if (p.a < 128 || p.r >= 80 || p.g >= 80 || p.b >= 80) continue;
            inked = true;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x + 1);
        }
        if (inked && !previous) ++ink.bands;
        previous = inked;
    }
    return ink;
}

void UseCaptionFont(TAdvSmoothButton& button) {
    button.Appearance().Font().SetName("Tahoma");
    button.Appearance().Font().SetHeight(-12);
    button.Appearance().Font().SetColor(wc::clBlack);
}

}  // namespace

// "Output Folder" wrapped onto a second line that the button's lower edge cut in half.
TEST(SmoothButtonCaption, TooNarrowCaptionStaysOnOneLineInsideTheBody) {
    ButtonHost host(50, 40);
    UseCaptionFont(*host.button);
    host.button->SetCaption("Output Folder");
    const Ink ink = CaptionInk(*host.button);
    EXPECT_EQ(ink.bands, 1);
    EXPECT_GE(ink.left, 0);
    EXPECT_LE(ink.right, 50);
}

TEST(SmoothButtonCaption, CaptionThatFitsIsDrawnWholeOnOneLine) {
    ButtonHost wide(160, 40), narrow(50, 40);
    UseCaptionFont(*wide.button);
    UseCaptionFont(*narrow.button);
    wide.button->SetCaption("Output Folder");
    narrow.button->SetCaption("Output Folder");
    const Ink whole = CaptionInk(*wide.button), cut = CaptionInk(*narrow.button);
    EXPECT_EQ(whole.bands, 1);
    // Cut short, the narrow button shows less of the text than the wide one.
    EXPECT_LT(cut.right - cut.left, whole.right - whole.left);
}

TEST(SmoothButtonCaption, CaptionWithALineBreakKeepsItsTwoLines) {
    ButtonHost host(120, 60);
    UseCaptionFont(*host.button);
    host.button->SetCaption("Output\r\nFolder");
    EXPECT_EQ(CaptionInk(*host.button).bands, 2);
}
