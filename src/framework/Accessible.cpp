#include "framework/Accessible.h"
#include "framework/ComError.h"
#include "framework/ComObject.h"
#include "framework/ComPtr.h"
#include <new>
#include <oleacc.h>

namespace {

// The standard object, everything passed through but the role of the window itself.
class CRoleAccessible : public CComObjectBase, public IAccessible {
public:
    CRoleAccessible(IAccessible* inner, long role) : m_inner(inner), m_role(role) { m_inner->AddRef(); }
    ~CRoleAccessible() override { m_inner->Release(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        // The rest (children's enumeration, the window) is the standard object's.
        return m_inner->QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InternalAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return InternalRelease(); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return m_inner->GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return m_inner->GetTypeInfo(index, lcid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        return m_inner->GetIDsOfNames(iid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        return m_inner->Invoke(id, iid, lcid, flags, params, result, excep, argErr);
    }

    STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override {
        if (child.vt == VT_I4 && child.lVal == CHILDID_SELF && role) {
            VariantInit(role);
            role->vt = VT_I4;
            role->lVal = m_role;
            return S_OK;
        }
        return m_inner->get_accRole(child, role);
    }
    STDMETHODIMP get_accParent(IDispatch** parent) override { return m_inner->get_accParent(parent); }
    STDMETHODIMP get_accChildCount(long* count) override { return m_inner->get_accChildCount(count); }
    STDMETHODIMP get_accChild(VARIANT child, IDispatch** out) override { return m_inner->get_accChild(child, out); }
    STDMETHODIMP get_accName(VARIANT child, BSTR* name) override { return m_inner->get_accName(child, name); }
    STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override { return m_inner->get_accValue(child, value); }
    STDMETHODIMP get_accDescription(VARIANT child, BSTR* text) override {
        return m_inner->get_accDescription(child, text);
    }
    STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override { return m_inner->get_accState(child, state); }
    STDMETHODIMP get_accHelp(VARIANT child, BSTR* help) override { return m_inner->get_accHelp(child, help); }
    STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return m_inner->get_accHelpTopic(file, child, topic);
    }
    STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* keys) override {
        return m_inner->get_accKeyboardShortcut(child, keys);
    }
    STDMETHODIMP get_accFocus(VARIANT* child) override { return m_inner->get_accFocus(child); }
    STDMETHODIMP get_accSelection(VARIANT* children) override { return m_inner->get_accSelection(children); }
    STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override {
        return m_inner->get_accDefaultAction(child, action);
    }
    STDMETHODIMP accSelect(long flags, VARIANT child) override { return m_inner->accSelect(flags, child); }
    STDMETHODIMP accLocation(long* x, long* y, long* cx, long* cy, VARIANT child) override {
        return m_inner->accLocation(x, y, cx, cy, child);
    }
    STDMETHODIMP accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return m_inner->accNavigate(direction, start, end);
    }
    STDMETHODIMP accHitTest(long x, long y, VARIANT* child) override { return m_inner->accHitTest(x, y, child); }
    STDMETHODIMP accDoDefaultAction(VARIANT child) override { return m_inner->accDoDefaultAction(child); }
    STDMETHODIMP put_accName(VARIANT child, BSTR name) override { return m_inner->put_accName(child, name); }
    STDMETHODIMP put_accValue(VARIANT child, BSTR value) override { return m_inner->put_accValue(child, value); }

private:
    IAccessible* m_inner;
    const long m_role;
};

} // namespace

LRESULT AnswerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam, long role, BOOL& handled) {
    handled = FALSE;
    if (static_cast<LONG>(lParam) != OBJID_CLIENT)
        return 0;
    CComPtr<IAccessible> standard;
    if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, IID_PPV_ARGS(&standard))) || !standard)
        return 0;
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT known;
    VariantInit(&known);
    LRESULT result = 0;
    if (SUCCEEDED(standard->get_accRole(self, &known)) && known.vt == VT_I4 && known.lVal == role) {
        result = LresultFromObject(IID_IAccessible, wParam, standard.Get());
    } else {
        IAccessible* wrapped = new (std::nothrow) CRoleAccessible(standard.Get(), role); // holds one reference
        if (!wrapped)
            return 0;
        result = LresultFromObject(IID_IAccessible, wParam, wrapped);
        wrapped->Release();
    }
    VariantClear(&known);
    // A failure comes back as an error code in the result.
    handled = SUCCEEDED(static_cast<HRESULT>(result)) ? TRUE : FALSE;
    return handled ? result : 0;
}
