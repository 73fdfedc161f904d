// The smooth button from the keyboard, through real key messages that the
// form's message loop dispatches, and what shows through its corners.
#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "framework/Handles.h"
#include "support/Keyboard.h"

using testing_support::KeyData;
using testing_support::PostAltLetter;
using testing_support::PostKey;

namespace {

// Runs the application's loop over what is queued.
void Dispatch() {
    for (int i = 0; i < 5; ++i) {
        wc::Application().ProcessMessages();
        ::Sleep(10);
    }
}

// A shown form with three focusable smooth buttons in a row.
struct ThreeButtons {
    ThreeButtons() : form(nullptr) {
        form.SetBounds(100, 100, 420, 200);
        const char* captions[] = {"&Alpha", "&Beta", "&Gamma"};
        for (int i = 0; i < 3; ++i) {
            buttons[i] = &wc::MakeComponent<TAdvSmoothButton>(form);
            buttons[i]->SetBounds(10 + 130 * i, 20, 120, 40);
            buttons[i]->SetParent(&form);
            buttons[i]->SetCaption(captions[i]);
            buttons[i]->OnClick = [this, i](wc::TComponent*) { ++clicks[i]; };
        }
        form.Handle();
    }
    void ShowAndFocus(int index) {
        form.Show();
        ::SetActiveWindow(form.Handle());
        ::SetFocus(buttons[index]->Handle());
        Dispatch();
    }
    wc::TForm form;
    TAdvSmoothButton* buttons[3] = {};
    int clicks[3] = {};
};

// Ends a modal loop that the keys failed to end, so a failure cannot hang.
class ModalGuard {
public:
    explicit ModalGuard(wc::TForm& form) {
        target_ = form.Handle();
        timer_ = ::SetTimer(nullptr, 0, 5000, &ModalGuard::Expired);
    }
    ~ModalGuard() {
        ::KillTimer(nullptr, timer_);
        target_ = nullptr;
    }

private:
    static void CALLBACK Expired(HWND, UINT, UINT_PTR, DWORD) {
        if (target_) ::PostMessageA(target_, WM_CLOSE, 0, 0);
    }
    static inline HWND target_ = nullptr;
    UINT_PTR timer_;
};

}  // namespace

TEST(ButtonKeyboard, AltAndTheAcceleratorLetterPressTheButtonFromAnywhereOnTheForm) {
    ThreeButtons host;
    host.ShowAndFocus(0);
    // Focus on Alpha, Alt+G presses Gamma.
    PostAltLetter(::GetFocus() ? ::GetFocus() : host.form.Handle(), 'g');
    Dispatch();
    EXPECT_EQ(host.clicks[2], 1);
    EXPECT_EQ(host.clicks[0], 0);
    // Sent to the form itself, Alt+B presses Beta.
    PostAltLetter(host.form.Handle(), 'b');
    Dispatch();
    EXPECT_EQ(host.clicks[1], 1);
    // A letter no button carries presses nothing.
    PostAltLetter(host.form.Handle(), 'z');
    Dispatch();
    EXPECT_EQ(host.clicks[0] + host.clicks[1] + host.clicks[2], 2);
    EXPECT_FALSE(host.buttons[2]->IsDown());
}

// Regression: a held Space, Enter or Alt+letter clicked once per repeat; a job started by
// the first stopped at the second.
TEST(ButtonKeyboard, AHeldKeyClicksOnce) {
    ThreeButtons host;
    host.ShowAndFocus(1);
    HWND beta = host.buttons[1]->Handle();
    for (UINT key : {VK_SPACE, VK_RETURN}) {
        SCOPED_TRACE(key);
        ::PostMessageA(beta, WM_KEYDOWN, key, KeyData(key));
        for (int repeat = 0; repeat < 3; ++repeat) ::PostMessageA(beta, WM_KEYDOWN, key, KeyData(key, false, true));
        ::PostMessageA(beta, WM_KEYUP, key, KeyData(key) | LPARAM(3u << 30));
        Dispatch();
    }
    EXPECT_EQ(host.clicks[1], 2);
    PostAltLetter(beta, 'g');
    PostAltLetter(beta, 'g', true);
    PostAltLetter(beta, 'g', true);
    Dispatch();
    EXPECT_EQ(host.clicks[2], 1);
}

TEST(ButtonKeyboard, TabMovesTheFocusThroughTheFormsTabOrder) {
    ThreeButtons host;
    host.ShowAndFocus(0);
    ASSERT_EQ(::GetFocus(), host.buttons[0]->Handle());
    for (int step = 1; step <= 3; ++step) {
        PostKey(::GetFocus(), VK_TAB);
        Dispatch();
        EXPECT_EQ(::GetFocus(), host.buttons[step % 3]->Handle()) << "after Tab " << step;
    }
    EXPECT_EQ(host.clicks[0] + host.clicks[1] + host.clicks[2], 0) << "Tab pressed a button";
}

TEST(ButtonKeyboard, SpaceAndEnterSetTheModalResultThatEndsShowModal) {
    ThreeButtons host;
    host.buttons[0]->SetModalResult(wc::mrOk);
    host.buttons[1]->SetModalResult(wc::mrCancel);
    {
        ModalGuard guard(host.form);
        ::SetFocus(host.buttons[1]->Handle());
        PostKey(host.buttons[1]->Handle(), VK_SPACE);
        EXPECT_EQ(host.form.ShowModal(), wc::mrCancel);
    }
    EXPECT_EQ(host.clicks[1], 1);
    EXPECT_FALSE(::IsWindowVisible(host.form.Handle()));
    {
        ModalGuard guard(host.form);
        PostKey(host.buttons[0]->Handle(), VK_RETURN);
        EXPECT_EQ(host.form.ShowModal(), wc::mrOk);
    }
    EXPECT_EQ(host.clicks[0], 1);
    // A button without a modal result leaves the form open; Alt+G clicks it,
    // then Alt+A ends the loop.
    {
        ModalGuard guard(host.form);
        PostAltLetter(host.form.Handle(), 'g');
        PostAltLetter(host.form.Handle(), 'a');
        EXPECT_EQ(host.form.ShowModal(), wc::mrOk);
    }
    EXPECT_EQ(host.clicks[2], 1);
    EXPECT_EQ(host.clicks[0], 2);
    Dispatch();
}

TEST(ButtonKeyboard, ClosingAModalFormGivesCancel) {
    ThreeButtons host;
    ModalGuard guard(host.form);
    ::PostMessageA(host.form.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(host.form.ShowModal(), wc::mrCancel);
    EXPECT_EQ(host.clicks[0] + host.clicks[1] + host.clicks[2], 0);
}

TEST(ButtonRendering, ASiblingControlShowsThroughARoundedCorner) {
    controls_test::ButtonHost host;
    host.button->SetColor(wc::clLime);
    host.button->Appearance().SetGlowPercentage(0);
    host.button->SetBevel(false);
    host.form.SetColor(RGB(10, 20, 30));
    // A black rectangle under the button's top-left corner (the button is at 20, 20).
    wc::WindowHandle sibling(::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 10, 10, 20, 20,
                                               host.form.Handle(), nullptr, ::GetModuleHandleA(nullptr), nullptr));
    ASSERT_TRUE(sibling);
    wc::WindowDc screen(nullptr);
    wc::MemoryDcHandle dc(::CreateCompatibleDC(screen.get()));
    wc::BitmapHandle bitmap(::CreateCompatibleBitmap(screen.get(), host.button->Width(), host.button->Height()));
    wc::DcSelection selection(dc.get(), bitmap.get());
    host.button->PaintTo(dc.get());
    // What the system's static control paints at that spot, on its own.
    wc::MemoryDcHandle alone(::CreateCompatibleDC(screen.get()));
    wc::BitmapHandle aloneBitmap(::CreateCompatibleBitmap(screen.get(), 20, 20));
    wc::DcSelection aloneSelection(alone.get(), aloneBitmap.get());
    ::SendMessageA(sibling.get(), WM_PRINT, WPARAM(alone.get()), PRF_ERASEBKGND | PRF_CLIENT | PRF_NONCLIENT);
    const COLORREF siblingColour = ::GetPixel(alone.get(), 10, 10);
    ASSERT_NE(siblingColour, RGB(10, 20, 30));
    EXPECT_EQ(::GetPixel(dc.get(), 0, 0), siblingColour) << "the corner shows the parent's background, not the sibling";
    // The bottom-left corner lies outside the sibling: the parent's background there.
    EXPECT_EQ(::GetPixel(dc.get(), 0, host.button->Height() - 1), RGB(10, 20, 30));
    EXPECT_EQ(::GetPixel(dc.get(), 60, 20), RGB(0, 255, 0));
}
