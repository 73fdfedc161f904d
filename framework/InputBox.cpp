#include "framework/InputBox.h"

#include <cstdint>
#include <vector>

#include "framework/Strings.h"

namespace wc {

namespace {

// Dialog units of the prompt; the system scales them with its dialog font.
constexpr short kDialogWidth = 186;
constexpr short kDialogHeight = 64;
constexpr short kMargin = 7;
constexpr short kButtonWidth = 50;
constexpr short kButtonHeight = 14;

// Predefined control classes of dialog templates (0xFFFF, then the atom).
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

// A DLGTEMPLATE with its items, laid out in memory as the dialog manager reads it.
class DialogTemplate {
public:
    DialogTemplate(const std::wstring& title, short width, short height) {
        Align();
        const DWORD style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        Dword(style);
        Dword(0);  // extended style
        countAt_ = words_.size();
        Word(0);  // item count, patched by each item
        Word(0);
        Word(0);
        Word(WORD(width));
        Word(WORD(height));
        Word(0);  // no menu
        Word(0);  // the default dialog class
        Text(title);
        Word(8);  // point size of the dialog font
        Text(L"MS Shell Dlg");
    }

    void Item(WORD classAtom, WORD id, DWORD style, short x, short y, short cx, short cy,
              const std::wstring& text) {
        Align();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(WORD(x));
        Word(WORD(y));
        Word(WORD(cx));
        Word(WORD(cy));
        Word(id);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0);  // no creation data
        ++words_[countAt_];
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const std::wstring& text) {
        for (wchar_t c : text) Word(WORD(c));
        Word(0);
    }
    // Items start on DWORD boundaries; the vector's storage itself is aligned.
    void Align() {
        if (words_.size() % 2) Word(0);
    }

    std::vector<WORD> words_;
    size_t countAt_ = 0;
};

struct PromptState {
    const std::string* value;
    std::string result;
};

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        auto* state = reinterpret_cast<PromptState*>(lParam);
        HWND edit = ::GetDlgItem(dialog, kInputBoxEditId);
        ::SetWindowTextA(edit, state->value->c_str());
        ::SendMessageA(edit, EM_SETSEL, 0, -1);
        ::SetFocus(edit);
        return FALSE;  // focus set here
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto* state = reinterpret_cast<PromptState*>(::GetWindowLongPtrA(dialog, DWLP_USER));
            HWND edit = ::GetDlgItem(dialog, kInputBoxEditId);
            std::string text(size_t(::GetWindowTextLengthA(edit)) + 1, '\0');
            text.resize(size_t(::GetWindowTextA(edit, text.data(), int(text.size()))));
            state->result = std::move(text);
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value, HWND owner) {
    const short inner = kDialogWidth - 2 * kMargin;
    DialogTemplate dialog(ToWide(caption), kDialogWidth, kDialogHeight);
    dialog.Item(kStaticClass, kInputBoxPromptId, SS_LEFT | SS_NOPREFIX, kMargin, kMargin, inner, 9, ToWide(prompt));
    dialog.Item(kEditClass, kInputBoxEditId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, kMargin, kMargin + 12, inner,
                12, L"");
    const short buttonsTop = kDialogHeight - kMargin - kButtonHeight;
    dialog.Item(kButtonClass, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, kDialogWidth - 2 * (kMargin + kButtonWidth) + 3,
                buttonsTop, kButtonWidth, kButtonHeight, L"OK");
    dialog.Item(kButtonClass, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, kDialogWidth - kMargin - kButtonWidth,
                buttonsTop, kButtonWidth, kButtonHeight, L"Cancel");

    if (!owner) owner = ::GetActiveWindow();
    PromptState state{&value, {}};
    const INT_PTR answer = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog.get(), owner, PromptProc,
                                                     reinterpret_cast<LPARAM>(&state));
    if (answer != IDOK) return false;
    value = std::move(state.result);
    return true;
}

std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& defaultValue,
                     HWND owner) {
    std::string value = defaultValue;
    return InputQuery(caption, prompt, value, owner) ? value : defaultValue;
}

}  // namespace wc
