#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "ControlsTestSupport.h"
#include "support/TestSupport.h"
#include "app/Unit1.h"
#include "framework/Strings.h"

using controls_test::ButtonHost;
using controls_test::PixelAt;
using controls_test::Rgba;

namespace {

void Press(TAdvSmoothButton& button) {
    HWND window = button.Handle();
    ::SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    ::SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
}

void FlatLime(TAdvSmoothButton& button) {
    button.SetColor(wc::clLime);
    button.Appearance().SetGlowPercentage(0);
    button.SetBevel(false);
}

void ShowBadge(TAdvSmoothButton& button) {
    TGDIPFill& fill = button.Status().Appearance().Fill();
    fill.SetColor(wc::clRed);
    fill.SetColorTo(wc::clNone);
    fill.SetGradientType(gtSolid);
    button.Status().Appearance().SetGlow(false);
    button.Status().SetCaption("0");
    button.Status().SetVisible(true);
}

// The first column from the left in that row that is clearly badge red.
int FirstRedColumn(const TGPBitmap& bitmap, int y) {
    for (int x = 0; x < int(bitmap.Width()); ++x) {
        const Rgba p = PixelAt(bitmap, x, y);
        if (p.a > 200 && p.r > 200 && p.g < 80 && p.b < 80) return x;
    }
    return -1;
}

}  // namespace

TEST(ButtonColours, PressedLimeRoundsItsValueHalfToEven) {
    EXPECT_EQ(PressedColor(wc::clLime), wc::TColor(RGB(0, 178, 0)));
    EXPECT_EQ(PressedColor(wc::clWhite), wc::TColor(RGB(178, 178, 178)));
}

TEST(ButtonColours, ShiftColorClampsEachChannel) {
    EXPECT_EQ(ShiftColor(RGB(250, 10, 128), 10), wc::TColor(RGB(255, 20, 138)));
    EXPECT_EQ(ShiftColor(RGB(250, 10, 128), -20), wc::TColor(RGB(230, 0, 108)));
    EXPECT_EQ(ShiftColor(RGB(1, 2, 3), 0), wc::TColor(RGB(1, 2, 3)));
}

TEST(ButtonColours, HsvRoundTripsAndGreyHasNoHue) {
    for (COLORREF c : {RGB(255, 0, 0), RGB(12, 200, 99), RGB(3, 40, 250), RGB(200, 200, 10), RGB(128, 0, 255)}) {
        double h, s, v, r, g, b;
        RGBtoHSV(GetRValue(c), GetGValue(c), GetBValue(c), h, s, v);
        HSVtoRGB(h, s, v, r, g, b);
        EXPECT_NEAR(r, GetRValue(c), 1e-9);
        EXPECT_NEAR(g, GetGValue(c), 1e-9);
        EXPECT_NEAR(b, GetBValue(c), 1e-9);
    }
    double h, s, v, r, g, b;
    RGBtoHSV(128, 128, 128, h, s, v);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(s, 0);
    HSVtoRGB(h, s, v, r, g, b);
    EXPECT_EQ(r, 128);
    EXPECT_EQ(PressedColor(wc::clGray), wc::TColor(RGB(90, 90, 90)));
    EXPECT_EQ(testing_support::ErrorText<EColorError>([&] { HSVtoRGB(30, 0, 0.5, r, g, b); }),
              "HSVtoRGB: S = 0 and H has a value");
}

TEST(ButtonColours, AcceleratorIsTheLetterAfterASingleAmpersand) {
    EXPECT_EQ(AcceleratorChar("&Open"), 'O');
    EXPECT_EQ(AcceleratorChar("Save && &quit"), 'q');
    EXPECT_EQ(AcceleratorChar("A && B"), 0);
    EXPECT_EQ(AcceleratorChar("Plain"), 0);
}

TEST(ButtonCreation, StartsWithTheDeclaredValues) {
    wc::TForm form(nullptr);
    auto& button = wc::MakeComponent<TAdvSmoothButton>(form);
    EXPECT_EQ(TAdvSmoothButton::Version(), "1.8.1.0");
    EXPECT_EQ(button.Width(), 120);
    EXPECT_EQ(button.Height(), 35);
    EXPECT_EQ(button.Color(), wc::clGray);
    EXPECT_TRUE(button.Bevel());
    EXPECT_EQ(button.BevelColor(), wc::clWhite);
    EXPECT_EQ(button.DisabledColor(), wc::clGray);
    EXPECT_EQ(button.DisabledFontColor(), wc::clSilver);
    EXPECT_TRUE(button.TabStop());
    EXPECT_TRUE(button.ShowFocus());
    EXPECT_EQ(button.HorizontalSpacing(), 5);
    EXPECT_EQ(button.Appearance().GlowPercentage(), 100);
    EXPECT_EQ(button.Appearance().Rounding(), 8);
    EXPECT_EQ(button.Appearance().ShiftDown(), 1);
    EXPECT_EQ(button.Appearance().Alignment(), wc::taCenter);
    EXPECT_EQ(button.Appearance().Font().Name(), "Tahoma");
    EXPECT_FALSE(button.Status().Visible());
    EXPECT_TRUE(button.Status().Appearance().Glow());
    const TGPBitmap& bitmap = button.RenderedBitmap();
    EXPECT_EQ(bitmap.Width(), 120u);
    EXPECT_EQ(bitmap.Height(), 35u);
}

TEST(ButtonRendering, PressedLimeBodyShowsTheDarkenedColour) {
    ButtonHost host;
    FlatLime(*host.button);
    const Rgba normal = PixelAt(host.button->RenderedBitmap(), 60, 20);
    EXPECT_EQ(normal.g, 255);
    EXPECT_EQ(normal.r, 0);
    Press(*host.button);
    ASSERT_TRUE(host.button->IsPressedLook());
    const Rgba pressed = PixelAt(host.button->RenderedBitmap(), 60, 20);
    EXPECT_EQ(pressed.r, 0);
    EXPECT_EQ(pressed.g, 178);
    EXPECT_EQ(pressed.b, 0);
    EXPECT_EQ(pressed.a, 255);
    ::SendMessageA(host.button->Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(host.button->IsDown());
}

TEST(ButtonRendering, GlowPercentageZeroCollapsesTheBlends) {
    ButtonHost host;
    host.button->SetColor(RGB(40, 80, 160));
    host.button->SetBevel(false);
    const TGPBitmap& glossy = host.button->RenderedBitmap();
    const Rgba upper = PixelAt(glossy, 60, 6), lower = PixelAt(glossy, 60, 36);
    EXPECT_NE(upper.r, 40);
    EXPECT_NE(lower.b, 160);
    host.button->Appearance().SetGlowPercentage(0);
    const TGPBitmap& flat = host.button->RenderedBitmap();
    for (int y : {4, 10, 20, 30, 36}) {
        const Rgba p = PixelAt(flat, 60, y);
        EXPECT_EQ(p.r, 40) << y;
        EXPECT_EQ(p.g, 80) << y;
        EXPECT_EQ(p.b, 160) << y;
    }
}

TEST(ButtonRendering, TheBadgeInsetsTheBodyOnlyWhileShown) {
    ButtonHost host;
    FlatLime(*host.button);
    EXPECT_EQ(PixelAt(host.button->RenderedBitmap(), 1, 20).a, 255);
    EXPECT_EQ(PixelAt(host.button->RenderedBitmap(), 60, 1).a, 255);
    ShowBadge(*host.button);
    ASSERT_TRUE(host.button->StatusShown());
    const TGPBitmap& inset = host.button->RenderedBitmap();
    EXPECT_EQ(PixelAt(inset, 3, 20).a, 0);
    EXPECT_EQ(PixelAt(inset, 60, 3).a, 0);
    EXPECT_EQ(PixelAt(inset, 60, 37).a, 0);
    EXPECT_EQ(PixelAt(inset, 6, 20).g, 255);
    EXPECT_EQ(PixelAt(inset, 60, 6).a, 255);
    // The badge sits at the top-right corner.
    EXPECT_GT(FirstRedColumn(inset, 6), 80);
}

TEST(ButtonRendering, OffsetLeftCountsTwice) {
    ButtonHost host;
    FlatLime(*host.button);
    ShowBadge(*host.button);
    const int atZero = FirstRedColumn(host.button->RenderedBitmap(), 6);
    host.button->Status().SetOffsetLeft(3);
    const int atThree = FirstRedColumn(host.button->RenderedBitmap(), 6);
    ASSERT_GT(atZero, 0);
    EXPECT_EQ(atThree - atZero, 6);
    // An empty caption hides the badge again.
    host.button->Status().SetCaption("");
    EXPECT_FALSE(host.button->StatusShown());
}

TEST(ButtonRendering, DisabledUsesTheDisabledColours) {
    ButtonHost host;
    FlatLime(*host.button);
    host.button->SetDisabledColor(wc::clBlue);
    host.button->SetDisabledFontColor(wc::clRed);
    host.button->Appearance().Font().SetHeight(-20);
    host.button->SetCaption("WW");
    host.button->SetEnabled(false);
    const TGPBitmap& bitmap = host.button->RenderedBitmap();
    const Rgba corner = PixelAt(bitmap, 2, 20);
    EXPECT_EQ(corner.b, 255);
    EXPECT_EQ(corner.g, 0);
    int reddest = 0;
    for (int x = 20; x < 100; ++x)
        for (int y = 8; y < 32; ++y) reddest = std::max(reddest, PixelAt(bitmap, x, y).r);
    EXPECT_GT(reddest, 150);
    host.button->SetEnabled(true);
    EXPECT_EQ(PixelAt(host.button->RenderedBitmap(), 2, 20).g, 255);
}

TEST(ButtonRendering, PaintShowsTheParentBehindTheRoundedCorners) {
    ButtonHost host;
    FlatLime(*host.button);
    host.form.SetColor(RGB(10, 20, 30));
    wc::WindowDc screen(nullptr);
    wc::MemoryDcHandle dc(::CreateCompatibleDC(screen.get()));
    wc::BitmapHandle bitmap(::CreateCompatibleBitmap(screen.get(), host.button->Width(), host.button->Height()));
    wc::DcSelection selection(dc.get(), bitmap.get());
    host.button->PaintTo(dc.get());
    EXPECT_EQ(::GetPixel(dc.get(), 0, 0), RGB(10, 20, 30));
    EXPECT_EQ(::GetPixel(dc.get(), 60, 20), RGB(0, 255, 0));
}

TEST(ButtonRendering, TheCacheIsRebuiltOnlyAfterAVisibleChange) {
    ButtonHost host;
    host.button->RenderedBitmap();
    EXPECT_TRUE(host.button->CacheValid());
    host.button->SetColor(host.button->Color());
    EXPECT_TRUE(host.button->CacheValid());
    host.button->SetBevelColor(wc::clRed);
    EXPECT_FALSE(host.button->CacheValid());
    host.button->RenderedBitmap();
    host.button->SetWidth(150);
    EXPECT_FALSE(host.button->CacheValid());
    EXPECT_EQ(host.button->RenderedBitmap().Width(), 150u);
}

TEST(ButtonFont, FollowsTheParentUntilSetItself) {
    ButtonHost host;
    host.form.Font().SetName("Arial");
    EXPECT_EQ(host.button->Appearance().Font().Name(), "Arial");
    EXPECT_TRUE(host.button->ParentFont());
    host.button->Appearance().Font().SetHeight(-20);
    EXPECT_FALSE(host.button->ParentFont());
    host.form.Font().SetName("Courier New");
    EXPECT_EQ(host.button->Appearance().Font().Name(), "Arial");
}

// Regression: every release of any button clicked, pressed here or not and wherever the
// pointer was; the release that ended a double click in the file chooser started a job.
struct MouseCase {
    const char* name;
    std::vector<std::tuple<UINT, int, int>> messages;  // message, x, y (the button is 120 x 40)
    int clicks;
};

class ButtonMouse : public ::testing::TestWithParam<MouseCase> {};

TEST_P(ButtonMouse, ClicksOnlyForALeftPressReleasedOverIt) {
    ButtonHost host;
    int clicks = 0;
    host.button->OnClick = [&](wc::TComponent*) { ++clicks; };
    for (const auto& [message, x, y] : GetParam().messages)
        ::SendMessageA(host.button->Handle(), message, 0, MAKELPARAM(x, y));
    EXPECT_EQ(clicks, GetParam().clicks);
    EXPECT_FALSE(host.button->IsDown());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ButtonMouse,
    ::testing::Values(
        MouseCase{"LeftPressAndRelease", {{WM_LBUTTONDOWN, 5, 5}, {WM_LBUTTONUP, 100, 30}}, 1},
        MouseCase{"ReleaseWithoutPress", {{WM_LBUTTONUP, 5, 5}}, 0},
        MouseCase{"ReleasedOutside", {{WM_LBUTTONDOWN, 5, 5}, {WM_LBUTTONUP, -50, -60}}, 0},
        MouseCase{"ReleasedJustPastTheRightEdge", {{WM_LBUTTONDOWN, 5, 5}, {WM_LBUTTONUP, 120, 5}}, 0},
        MouseCase{"RightButton", {{WM_RBUTTONDOWN, 5, 5}, {WM_RBUTTONUP, 5, 5}}, 0},
        MouseCase{"MiddleButton", {{WM_MBUTTONDOWN, 5, 5}, {WM_MBUTTONUP, 5, 5}}, 0},
        MouseCase{"RightPressLeftRelease", {{WM_RBUTTONDOWN, 5, 5}, {WM_LBUTTONUP, 5, 5}}, 0},
        // The second press of a double click arrives as the double click itself.
        MouseCase{"DoubleClick", {{WM_LBUTTONDOWN, 5, 5}, {WM_LBUTTONUP, 5, 5}, {WM_LBUTTONDBLCLK, 5, 5},
                                  {WM_LBUTTONUP, 5, 5}}, 1},
        MouseCase{"OutAndBackBeforeTheRelease", {{WM_LBUTTONDOWN, 5, 5}, {WM_MOUSELEAVE, 0, 0},
                                                  {WM_MOUSEMOVE, 6, 6}, {WM_LBUTTONUP, 6, 6}}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ButtonInput, APressEndsWithoutAClickWhenTheCaptureIsTakenOrTheButtonDisabled) {
    ButtonHost host;
    int clicks = 0;
    host.button->OnClick = [&](wc::TComponent*) { ++clicks; };
    HWND window = host.button->Handle();
    ::SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::SetCapture(host.form.Handle());
    ::SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ::ReleaseCapture();
    ::SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    host.button->SetEnabled(false);
    host.button->SetEnabled(true);
    ::SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(clicks, 0);
}

TEST(ButtonInput, TheClickHandlerRunsBeforeThePressedLookEnds) {
    ButtonHost host;
    HWND window = host.button->Handle();
    constexpr UINT kProbe = WM_APP + 7;
    bool probed = false, pressedDuringProbe = false, pressedInHandler = false;
    // Tells us what the button looks like while it dispatches messages after the click.
    struct Probe : wc::TWinControl {
        using wc::TWinControl::TWinControl;
        std::function<void()> onProbe;
        LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override {
            if (message == WM_APP + 7 && onProbe) onProbe();
            return wc::TWinControl::WndProc(message, wParam, lParam);
        }
    };
    auto& probe = wc::MakeComponent<Probe>(host.form);
    probe.SetParent(&host.form);
    probe.onProbe = [&] {
        probed = true;
        pressedDuringProbe = host.button->IsPressedLook();
    };
    host.button->OnClick = [&](wc::TComponent*) {
        pressedInHandler = host.button->IsDown();
        ::PostMessageA(probe.Handle(), kProbe, 0, 0);
    };
    ::SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    ::SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    const DWORD start = ::GetTickCount();
    ::SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_TRUE(pressedInHandler);
    EXPECT_TRUE(probed);
    EXPECT_TRUE(pressedDuringProbe);
    EXPECT_FALSE(host.button->IsPressedLook());
    EXPECT_GE(elapsed, 200u);
}

TEST(ButtonInput, SpaceEnterAndBmClickClick) {
    ButtonHost host;
    int clicks = 0;
    host.button->OnClick = [&](wc::TComponent*) { ++clicks; };
    HWND window = host.button->Handle();
    ::SendMessageA(window, WM_CHAR, ' ', 0);
    EXPECT_EQ(clicks, 1);
    ::SendMessageA(window, WM_CHAR, '\r', 0);
    EXPECT_EQ(clicks, 2);
    ::SendMessageA(window, WM_CHAR, 'x', 0);
    EXPECT_EQ(clicks, 2);
    ::SendMessageA(window, BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 3);
}

TEST(ButtonInput, DoubleClickRaisesOnlyTheDoubleClickEvent) {
    ButtonHost host;
    int clicks = 0, doubleClicks = 0;
    host.button->OnClick = [&](wc::TComponent*) { ++clicks; };
    host.button->OnDblClick = [&](wc::TComponent*) { ++doubleClicks; };
    ::SendMessageA(host.button->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(doubleClicks, 1);
}

TEST(ButtonInput, AcceleratorClicksAndIsConsumed) {
    ButtonHost host;
    host.button->SetCaption("&Go");
    int clicks = 0;
    host.button->OnClick = [&](wc::TComponent*) { ++clicks; };
    EXPECT_TRUE(host.button->DialogChar('g'));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(host.button->IsDown());
    EXPECT_FALSE(host.button->DialogChar('x'));
    host.button->SetEnabled(false);
    EXPECT_FALSE(host.button->DialogChar('g'));
    EXPECT_EQ(clicks, 1);
}

TEST(ButtonInput, DialogCodeFollowsTabStopAndFocusShowsTheOutline) {
    ButtonHost host;
    HWND window = host.button->Handle();
    EXPECT_EQ(::SendMessageA(window, WM_GETDLGCODE, 0, 0), 5);
    ::SendMessageA(window, WM_SETFOCUS, 0, 0);
    EXPECT_TRUE(host.button->IsFocused());
    EXPECT_FALSE(host.button->CacheValid());
    ::SendMessageA(window, WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(host.button->IsFocused());
    host.button->SetTabStop(false);
    EXPECT_EQ(::SendMessageA(window, WM_GETDLGCODE, 0, 0), 0);
    EXPECT_EQ(::SendMessageA(window, WM_ERASEBKGND, 0, 0), 1);
}

TEST(ButtonRendering, TheFocusedButtonIsOutlinedInDots) {
    ButtonHost host;
    FlatLime(*host.button);
    host.button->Appearance().SetFocusColor(wc::clRed);
    // Red pixels down the left edge, below the rounded corner and above the other.
    const auto redOnTheEdge = [&] {
        int red = 0;
        for (int y = 10; y < 30; ++y) {
            const Rgba p = PixelAt(host.button->RenderedBitmap(), 0, y);
            red += p.r == 255 && p.g == 0 && p.b == 0;
        }
        return red;
    };
    EXPECT_EQ(redOnTheEdge(), 0);
    ::SendMessageA(host.button->Handle(), WM_SETFOCUS, 0, 0);
    const int dotted = redOnTheEdge();
    EXPECT_GE(dotted, 5) << "no outline";
    EXPECT_LE(dotted, 15) << "a solid line, not dots";
}

TEST(MainWindowButtons, AreSmoothButtonsWithTheStoredSettings) {
    TForm1 form(nullptr);
    form.Show();
    for (int i = 0; i < 20; ++i) {
        wc::Application().ProcessMessages();
        ::Sleep(20);
    }
    HWND window = form.Handle();
    for (const wchar_t* caption : {L"&Source File", L"&Output Folder", L"&CLEAN FILE"})
        EXPECT_NE(testing_support::FindChild(window, caption), nullptr) << caption;
    EXPECT_EQ(form.BtnCleanFile->Color(), wc::clLime);
    EXPECT_TRUE(form.BtnCleanFile->ParentFont());
    EXPECT_FALSE(form.btnSlInp->ParentFont());
    EXPECT_TRUE(form.btnSlInp->TabStop());
    EXPECT_EQ(form.btnSlInp->Appearance().Font().Height(), -12);
    EXPECT_EQ(form.btnSlInp->Status().Caption(), "0");
    EXPECT_EQ(form.btnSlInp->Status().Appearance().Fill().Color(), wc::clRed);
    EXPECT_EQ(form.btnSlInp->Status().Appearance().Fill().BorderColor(), wc::clGray);
    EXPECT_EQ(form.btnSlInp->Status().Appearance().Font().Color(), wc::clWhite);
    EXPECT_FALSE(form.BtnCleanFile->Enabled());

    // A screenshot of the window as the screen shows it.
    RECT bounds;
    ::GetWindowRect(window, &bounds);
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    wc::WindowDc screen(nullptr);
    wc::MemoryDcHandle dc(::CreateCompatibleDC(screen.get()));
    wc::BitmapHandle bitmap(::CreateCompatibleBitmap(screen.get(), width, height));
    {
        wc::DcSelection selection(dc.get(), bitmap.get());
        ::BitBlt(dc.get(), 0, 0, width, height, screen.get(), bounds.left, bounds.top, SRCCOPY);
    }
    const std::string folder = testing_support::ProgramDir() + "\\..\\screenshots";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\main-window-buttons.png";
    TGPBitmap shot(bitmap.get());
    ASSERT_TRUE(shot.SaveAsPng(wc::ToWide(path)));
    EXPECT_GT(testing_support::ReadFileBytes(path).size(), 1000u);

    // The disabled CLEAN FILE body shows the disabled grey under the glossy blends.
    POINT centre{form.BtnCleanFile->Width() / 2, form.BtnCleanFile->Height() / 2 + 12};
    ::ClientToScreen(form.BtnCleanFile->Handle(), &centre);
    const COLORREF pixel = ::GetPixel(screen.get(), centre.x, centre.y);
    EXPECT_EQ(GetRValue(pixel), GetGValue(pixel));
    EXPECT_EQ(GetGValue(pixel), GetBValue(pixel));
}
