// The smooth button as assistive technology sees it, asked the way a screen
// reader asks (AccessibleObjectFromWindow sends the window WM_GETOBJECT).
#include <gtest/gtest.h>

#include <oleacc.h>

#include <string>

#include "ControlsTestSupport.h"
#include "controls/ButtonAccessible.h"
#include "framework/Handles.h"

using controls_test::ButtonHost;

namespace {

class ButtonAccessibility : public ::testing::Test {
protected:
    static void SetUpTestSuite() { wc::Application().Initialize(); }  // COM

    IAccessible* Ask() {
        accessible_.reset();
        EXPECT_EQ(::AccessibleObjectFromWindow(host.button->Handle(), DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                               reinterpret_cast<void**>(accessible_.put())),
                  S_OK);
        return accessible_.get();
    }
    static std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), IAccessible* object) {
        BSTR text = nullptr;
        if ((object->*get)(Self(), &text) != S_OK) return L"(none)";
        std::wstring result(text, ::SysStringLen(text));
        ::SysFreeString(text);
        return result;
    }
    static LONG Number(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), IAccessible* object) {
        VARIANT value;
        ::VariantInit(&value);
        EXPECT_EQ((object->*get)(Self(), &value), S_OK);
        return value.vt == VT_I4 ? value.lVal : -1;
    }
    static VARIANT Self() {
        VARIANT self;
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        return self;
    }

    ButtonHost host;

private:
    wc::ComPtr<IAccessible> accessible_;
};

TEST_F(ButtonAccessibility, IsAPushButtonNamedByItsCaptionWithItsShortcut) {
    host.button->SetCaption("&Output Folder");
    IAccessible* button = Ask();
    ASSERT_TRUE(button);
    EXPECT_EQ(Number(&IAccessible::get_accRole, button), ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_EQ(Text(&IAccessible::get_accName, button), L"Output Folder");
    EXPECT_EQ(Text(&IAccessible::get_accKeyboardShortcut, button), L"Alt+O");
    EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, button), L"Press");

    host.button->SetCaption("STOP");
    EXPECT_EQ(Text(&IAccessible::get_accName, button), L"STOP") << "the name follows the caption";
    EXPECT_EQ(Text(&IAccessible::get_accKeyboardShortcut, button), L"(none)");
}

TEST_F(ButtonAccessibility, TellsWhetherItCanBePressedAndHasTheFocus) {
    IAccessible* button = Ask();
    ASSERT_TRUE(button);
    EXPECT_EQ(Number(&IAccessible::get_accState, button), STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_INVISIBLE)
        << "on a form not yet shown";
    host.form.Show();
    ::SetFocus(host.button->Handle());
    EXPECT_EQ(Number(&IAccessible::get_accState, button), STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);
    host.button->SetEnabled(false);
    EXPECT_EQ(Number(&IAccessible::get_accState, button) & STATE_SYSTEM_UNAVAILABLE, STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(button->accDoDefaultAction(Self()), E_FAIL) << "a disabled button cannot be pressed";
}

TEST_F(ButtonAccessibility, TheDefaultActionClicksOnce) {
    int clicks = 0;
    host.button->OnClick = [&](wc::TComponent*) { ++clicks; };
    IAccessible* button = Ask();
    ASSERT_TRUE(button);
    EXPECT_EQ(button->accDoDefaultAction(Self()), S_OK);
    EXPECT_EQ(clicks, 0) << "clicked inside the reader's call";
    wc::Application().ProcessMessages();
    EXPECT_EQ(clicks, 1);
}

TEST(ButtonAccessibleName, DropsTheAcceleratorMarks) {
    const std::pair<std::wstring, std::wstring> rows[] = {
        {L"&Source File", L"Source File"}, {L"Save && &quit", L"Save & quit"},
        {L"A &&B", L"A &B"},               {L"end&", L"end"},
        {L"Plain", L"Plain"},
    };
    for (const auto& [caption, name] : rows) EXPECT_EQ(CaptionWithoutAccelerator(caption), name) << caption.c_str();
}

}  // namespace
