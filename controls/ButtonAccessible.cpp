#include "controls/ButtonAccessible.h"

#include <oleacc.h>

#include <memory>
#include <vector>

#include "framework/Handles.h"

namespace {

// The interface's id from its declaration: the import library links the
// name IID_IAccessible to a jump into the accessibility library, not to the id.
const IID kAccessibleId = __uuidof(IAccessible);

// The button's own name and state; the rest comes from the system's object.
class ButtonAccessible final : public IAccessible {
public:
    ButtonAccessible(HWND button, wc::ComPtr<IAccessible> standard) : button_(button), standard_(std::move(standard)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kAccessibleId) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(::InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        // The last reference owns the object (it was made by make_unique).
        if (left == 0) std::unique_ptr<ButtonAccessible> last(this);
        return ULONG(left);
    }

    // IDispatch: readers call the interface directly; there is no type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible: what makes it a button.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (const HRESULT checked = Check(child, name); checked != S_OK) return checked;
        return Text(CaptionWithoutAccelerator(Caption()), name);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (const HRESULT checked = Check(child, role); checked != S_OK) return checked;
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_PUSHBUTTON;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (const HRESULT checked = Check(child, state); checked != S_OK) return checked;
        LONG flags = STATE_SYSTEM_FOCUSABLE;
        if (!::IsWindowEnabled(button_)) flags |= STATE_SYSTEM_UNAVAILABLE;
        if (!::IsWindowVisible(button_)) flags |= STATE_SYSTEM_INVISIBLE;
        if (::GetFocus() == button_) flags |= STATE_SYSTEM_FOCUSED;
        state->vt = VT_I4;
        state->lVal = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        if (const HRESULT checked = Check(child, shortcut); checked != S_OK) return checked;
        const wchar_t letter = AcceleratorLetter(Caption());
        if (!letter) return S_FALSE;
        std::wstring key(1, letter);
        ::CharUpperBuffW(key.data(), 1);
        return Text(L"Alt+" + key, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (const HRESULT checked = Check(child, action); checked != S_OK) return checked;
        return Text(L"Press", action);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (const HRESULT checked = Check(child, &child); checked != S_OK) return checked;
        if (!::IsWindowEnabled(button_)) return E_FAIL;
        // Posted: the click may run a modal dialog or a whole job, and the
        // reader's call returns first.
        return ::PostMessageW(button_, BM_CLICK, 0, 0) ? S_OK : E_FAIL;
    }

    // IAccessible: the window's standard answers.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_.get()->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** child) override {
        if (!child) return E_POINTER;
        *child = nullptr;
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (const HRESULT checked = Check(child, value); checked != S_OK) return checked;
        *value = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return standard_.get()->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return standard_.get()->get_accHelp(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_.get()->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override { return standard_.get()->get_accFocus(focus); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return standard_.get()->get_accSelection(selection);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override { return standard_.get()->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        return standard_.get()->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_.get()->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_.get()->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    // The button itself is the only child id asked about; its window must still be there.
    template <class Out>
    HRESULT Check(const VARIANT& child, Out* out) const {
        if (!out) return E_POINTER;
        if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return E_INVALIDARG;
        return ::IsWindow(button_) ? S_OK : CO_E_OBJNOTCONNECTED;
    }
    static HRESULT Text(const std::wstring& text, BSTR* out) {
        *out = ::SysAllocStringLen(text.data(), UINT(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    std::wstring Caption() const {
        std::vector<wchar_t> text(size_t(::GetWindowTextLengthW(button_)) + 1);
        const int length = ::GetWindowTextW(button_, text.data(), int(text.size()));
        return std::wstring(text.data(), size_t(length > 0 ? length : 0));
    }
    static wchar_t AcceleratorLetter(const std::wstring& caption) {
        for (size_t i = 0; i + 1 < caption.size(); ++i) {
            if (caption[i] != L'&') continue;
            if (caption[i + 1] != L'&') return caption[i + 1];
            ++i;
        }
        return 0;
    }

    LONG references_ = 1;
    HWND button_;
    wc::ComPtr<IAccessible> standard_;
};

}  // namespace

std::wstring CaptionWithoutAccelerator(const std::wstring& caption) {
    std::wstring text;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == L'&' && i + 1 < caption.size()) ++i;  // "&x" reads x, "&&" reads &
        else if (caption[i] == L'&') continue;                  // a lone trailing "&"
        text += caption[i];
    }
    return text;
}

LRESULT AnswerButtonGetObject(HWND button, WPARAM wParam, LPARAM objectId) {
    if (LONG(objectId) != LONG(OBJID_CLIENT)) return 0;
    wc::ComPtr<IAccessible> standard;
    if (FAILED(::CreateStdAccessibleObject(button, OBJID_CLIENT, kAccessibleId,
                                           reinterpret_cast<void**>(standard.put()))))
        return 0;
    // One reference from make_unique, owned by `object`; LresultFromObject takes its own.
    wc::ComPtr<IAccessible> object(std::make_unique<ButtonAccessible>(button, std::move(standard)).release());
    return ::LresultFromObject(kAccessibleId, wParam, object.get());
}
