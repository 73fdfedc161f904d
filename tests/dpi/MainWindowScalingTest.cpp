// The main window and its two dialogs at the density this run was started
// for (96, 120 or 144 pixels per inch, see tests.cmake): the same window,
// larger, with every text whole and nothing drawn over anything else.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "LayoutChecks.h"
#include "support/WavePanel.h"
#include "support/DialogDriver.h"
#include "support/GdiplusEnvironment.h"
#include "app/Unit1.h"
#include "controls/AdvGDIP.h"
#include "framework/Strings.h"

using namespace dpi_tests;
using namespace testing_support;

namespace {

// The program declares itself aware of the screen's density in its manifest;
// the test program says the same before any window exists.
const bool kDpiAware = ::SetProcessDPIAware() != FALSE;

struct Expected {
    int fontHeight;   // the window font: 12 pixels at 96 per inch
    SIZE window;      // the window: 574 x 297 at 96 per inch
    RECT sourceFile;  // "Source File": 24, 32, 97 x 35 at 96 per inch
};
// Worked out by hand from the design sizes (edges times the density / 96, rounded).
const std::map<int, Expected> kExpected = {
    {96, {-12, {574, 297}, {24, 32, 121, 67}}},
    {120, {-15, {718, 371}, {30, 40, 151, 84}}},
    {144, {-18, {861, 446}, {36, 48, 182, 101}}},
};

void ProcessPending() {
    for (int i = 0; i < 5; ++i) {
        wc::Application().ProcessMessages();
        ::Sleep(20);
    }
}

std::string Describe(const RECT& r) {
    std::ostringstream text;
    text << '(' << r.left << ',' << r.top << ")-(" << r.right << ',' << r.bottom << ')';
    return text.str();
}

std::vector<wc::TLabel*> Labels(TForm1& form) {
    return {form.Label1, form.Label2, form.Label3, form.Label4, form.Label5};
}
std::vector<TAdvSmoothButton*> Buttons(TForm1& form) { return {form.btnSlInp, form.BtnSlout, form.BtnCleanFile}; }

void ExpectLabelsWholeAndApart(TForm1& form) {
    const std::vector<wc::TLabel*> labels = Labels(form);
    for (wc::TLabel* label : labels) {
        HWND window = label->Handle();
        EXPECT_TRUE(::IsWindowVisible(window)) << label->Name();
        const SIZE text = TextExtent(window), client = ClientSize(window);
        EXPECT_LE(text.cx, client.cx) << label->Name() << " \"" << label->Caption() << "\" is cut";
        EXPECT_LE(text.cy, client.cy) << label->Name();
    }
    for (size_t i = 0; i < labels.size(); ++i)
        for (size_t j = i + 1; j < labels.size(); ++j) {
            const RECT a = BoundsInParent(labels[i]->Handle()), b = BoundsInParent(labels[j]->Handle());
            EXPECT_FALSE(Intersect(a, b)) << labels[i]->Name() << " " << Describe(a) << " covers " << labels[j]->Name()
                                          << " " << Describe(b);
        }
}

void ExpectCaptionsOnOneLine(TForm1& form) {
    // The focused button's dotted outline is not its caption: none has the focus here.
    ::SetFocus(nullptr);
    for (TAdvSmoothButton* button : Buttons(form)) {
        const CaptionInk ink = FindCaptionInk(*button);
        ASSERT_TRUE(ink.found) << button->Caption() << ": no caption drawn";
        EXPECT_EQ(ink.bands, 1) << button->Caption() << ": drawn on more than one line";
        EXPECT_GT(ink.box.top, 0) << button->Caption() << ": cut at the top";
        EXPECT_LT(ink.box.bottom, button->Height()) << button->Caption() << ": cut at the bottom";
        EXPECT_GE(ink.box.left, 0);
        EXPECT_LE(ink.box.right, button->Width());
        // Whole: it fits the caption box (the body less 4 pixels), and what is
        // drawn is as wide as the text, not an ellipsis-shortened part of it.
        const int textWidth = GdiCaptionWidth(*button);
        EXPECT_LE(textWidth, button->Width() - 4) << button->Caption() << " does not fit its button";
        EXPECT_GE(ink.box.right - ink.box.left, textWidth * 9 / 10) << button->Caption() << " is shortened";
    }
}

TEST(Density, RunsAtTheDensityItWasStartedFor) {
    const int expected = ExpectedPixelsPerInch();
    ASSERT_NE(expected, 0) << "WC_EXPECTED_DPI is not set: tests.cmake sets it for every run";
    EXPECT_TRUE(kDpiAware);
    EXPECT_EQ(wc::ScreenPixelsPerInch(), expected);
    ASSERT_TRUE(kExpected.count(expected)) << "no expectations for " << expected << " pixels per inch";
}

class MainWindowAtDensity : public ::testing::Test {
protected:
    void SetUp() override {
        const int dpi = ExpectedPixelsPerInch();
        ASSERT_TRUE(kExpected.count(dpi)) << "unknown density " << dpi;
        expected = kExpected.at(dpi);
        wc::Application().Initialize();
        form = &wc::Application().CreateForm<TForm1>();
        form->Show();
        ProcessPending();
    }
    void TearDown() override { wc::Application().DestroyForms(); }

    TForm1* form = nullptr;
    Expected expected{};
};

TEST_F(MainWindowAtDensity, FontsAndPositionsScaleByTheSameFactor) {
    EXPECT_EQ(form->Font().Height(), expected.fontHeight);
    for (TAdvSmoothButton* button : Buttons(*form))
        EXPECT_EQ(button->Appearance().Font().Height(), expected.fontHeight) << button->Caption();
    for (wc::TLabel* label : Labels(*form)) EXPECT_EQ(label->Font().Height(), expected.fontHeight) << label->Name();
    RECT window;
    ::GetWindowRect(form->Handle(), &window);
    EXPECT_EQ(window.right - window.left, expected.window.cx);
    EXPECT_EQ(window.bottom - window.top, expected.window.cy);
    EXPECT_EQ(Describe(BoundsInParent(form->btnSlInp->Handle())), Describe(expected.sourceFile));
}

TEST_F(MainWindowAtDensity, EveryLabelShowsItsWholeTextWithoutCoveringAnother) {
    EXPECT_EQ(WindowText(form->Label5->Handle()), L"No Name");
    ExpectLabelsWholeAndApart(*form);
    // It stays where the layout puts it (129 at 96 per inch), unless its caption
    // needs the room; then it follows the caption closely.
    const std::map<int, int> designedLeft = {{96, 129}, {120, 161}, {144, 194}};
    const int captionEnd = form->Label4->Left() + form->Label4->Width();
    EXPECT_LE(form->Label5->Left(),
              std::max(designedLeft.at(ExpectedPixelsPerInch()), captionEnd + ::MulDiv(8, ExpectedPixelsPerInch(), 96)));
}

TEST_F(MainWindowAtDensity, LongPathsInTheLabelsStayWholeAndApart) {
    form->Label1->SetCaption("C:\\Recordings\\Sessions 2026\\Take one.wav");
    form->Label2->SetCaption("D:\\Clean output");
    form->Label5->SetCaption("D:\\Clean output\\Clean_Take one.wav");
    ProcessPending();
    ExpectLabelsWholeAndApart(*form);
}

TEST_F(MainWindowAtDensity, ButtonCaptionsStayOnOneLineInsideTheirBodies) {
    form->BtnCleanFile->SetEnabled(true);  // its disabled caption is silver, not dark
    ExpectCaptionsOnOneLine(*form);
    form->BtnCleanFile->SetEnabled(false);
    ProcessPending();
    EXPECT_TRUE(SaveScreenshot(form->Handle(), "main-window"));
}

// Sent by the system to a per-monitor aware window moved to a monitor of another density.
TEST_F(MainWindowAtDensity, DensityChangeMessageRescalesTheWindowAndTakesTheSuggestedBounds) {
    const int from = ExpectedPixelsPerInch(), to = from + 48;
    const std::map<int, int> fontAfter = {{96, -18}, {120, -21}, {144, -24}};  // 12 pixels at 96 per inch
    const RECT suggested{40, 30, 40 + ::MulDiv(574, to, 96), 30 + ::MulDiv(297, to, 96)};
    ::SendMessageA(form->Handle(), wc::kDpiChangedMessage, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    ProcessPending();
    EXPECT_EQ(form->PixelsPerInch(), to);
    EXPECT_EQ(form->Font().Height(), fontAfter.at(from));
    EXPECT_EQ(form->btnSlInp->Appearance().Font().Height(), fontAfter.at(from));
    RECT window;
    ::GetWindowRect(form->Handle(), &window);
    EXPECT_EQ(Describe(window), Describe(suggested));
    ExpectLabelsWholeAndApart(*form);
    form->BtnCleanFile->SetEnabled(true);
    ExpectCaptionsOnOneLine(*form);
}

// ---- the two dialogs ----

// The wave chooser's panel (below the file dialog): "Play", "Preview",
// "Auto Play", the format line, the wave area and the picture.
constexpr int kFirstPanelId = 1000, kLastPanelId = 1005, kFormatLabelId = 1003;

TEST_F(MainWindowAtDensity, WaveChooserPanelShowsItsTextsWholeAndApart) {
    TempDir folder("wc dpi");
    WriteFileBytes(folder / "take.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 44100)));
    form->MMWaveOpenDialog1->SetInitialDir(folder.path());
    std::vector<std::string> problems;
    bool shown = false, saved = false;
    const auto drive = [&](HWND dialog) {
        testing_support::SelectListViewItem(dialog, "take");
        ::Sleep(500);
        std::vector<HWND> controls;
        HWND label = testing_support::PanelControl(dialog, kFormatLabelId);
        HWND panel = label ? ::GetParent(label) : nullptr;
        // The panel's own controls: its ids, and the "Format:" caption (without an id).
        for (HWND control = panel ? ::GetWindow(panel, GW_CHILD) : nullptr; control;
             control = ::GetWindow(control, GW_HWNDNEXT)) {
            const int id = ::GetDlgCtrlID(control);
            const bool own = (id >= kFirstPanelId && id <= kLastPanelId) || WindowText(control) == L"Format:";
            if (own && ::IsWindowVisible(control)) controls.push_back(control);
        }
        shown = controls.size() >= 7;
        for (HWND control : controls) {
            const std::wstring text = WindowText(control);
            if (text.empty()) continue;
            const SIZE client = ClientSize(control);
            wc::WindowDc dc(control);
            HGDIOBJ previous = ::SelectObject(dc.get(), reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
            RECT need{0, 0, client.cx, 0};
            const bool box = ClassNameOf(control) == L"Button" &&
                             (::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
            // A check box's text starts after its box.
            if (box) need.right -= ::GetSystemMetrics(SM_CXMENUCHECK) + 4;
            ::DrawTextW(dc.get(), text.c_str(), int(text.size()), &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            ::SelectObject(dc.get(), previous);
            if (need.bottom > client.cy)
                problems.push_back((std::ostringstream() << wc::FromWide(text) << ": needs " << need.bottom
                                                         << " rows, has " << client.cy)
                                       .str());
        }
        for (size_t i = 0; i < controls.size(); ++i)
            for (size_t j = i + 1; j < controls.size(); ++j)
                if (Intersect(BoundsInParent(controls[i]), BoundsInParent(controls[j])))
                    problems.push_back((std::ostringstream() << "panel controls " << ::GetDlgCtrlID(controls[i])
                                                             << " and " << ::GetDlgCtrlID(controls[j]) << " overlap")
                                           .str());
        saved = SaveScreenshot(dialog, "wave-chooser");
        Cancel(dialog);
    };
    bool seen = false;
    RunDriven([&] { form->btnSlInp->Click(); return true; }, drive, &seen);
    ASSERT_TRUE(seen) << "the wave chooser did not come up";
    EXPECT_TRUE(shown) << "the panel's controls were not found";
    EXPECT_TRUE(saved);
    for (const std::string& problem : problems) ADD_FAILURE() << problem;
}

TEST_F(MainWindowAtDensity, FolderBrowserNewFolderButtonShowsItsCaptionAndCoversNothing) {
    constexpr int kNewFolderButtonId = 255;
    std::vector<std::string> problems;
    bool found = false, saved = false;
    const auto drive = [&](HWND browser) {
        ::Sleep(300);
        HWND button = FindChildById(browser, kNewFolderButtonId);
        found = button != nullptr;
        if (button) {
            const SIZE text = TextExtent(button), client = ClientSize(button);
            if (text.cx > client.cx - 4 || text.cy > client.cy - 2)
                problems.push_back((std::ostringstream() << "the caption " << text.cx << " x " << text.cy
                                                         << " does not fit the button's " << client.cx << " x "
                                                         << client.cy)
                                       .str());
            // Its caption is about as large as the browser's own buttons' (OK's).
            if (HWND ok = FindChildById(browser, IDOK)) {
                const int own = FontCellHeight(button), system = FontCellHeight(ok);
                if (own * 10 < system * 8)
                    problems.push_back((std::ostringstream() << "the caption's font is " << own
                                                             << " pixels high, OK's " << system)
                                           .str());
            }
            const RECT bounds = BoundsInParent(button);
            for (HWND other = ::GetWindow(browser, GW_CHILD); other; other = ::GetWindow(other, GW_HWNDNEXT))
                if (other != button && ::IsWindowVisible(other) && Intersect(bounds, BoundsInParent(other)))
                    problems.push_back((std::ostringstream() << "the button " << Describe(bounds) << " covers \""
                                                             << wc::FromWide(WindowText(other)) << "\" ("
                                                             << wc::FromWide(ClassNameOf(other)) << ") "
                                                             << Describe(BoundsInParent(other)))
                                           .str());
            RECT client2{};
            ::GetClientRect(browser, &client2);
            if (bounds.left < 0 || bounds.bottom > client2.bottom) problems.push_back("the button sticks out");
        }
        saved = SaveScreenshot(browser, "folder-browser");
        Cancel(browser);
    };
    bool seen = false;
    RunDriven([&] { form->BtnSlout->Click(); return true; }, drive, &seen);
    ASSERT_TRUE(seen) << "the folder browser did not come up";
    EXPECT_TRUE(found) << "no New folder button";
    EXPECT_TRUE(saved);
    for (const std::string& problem : problems) ADD_FAILURE() << problem;
}

}  // namespace
