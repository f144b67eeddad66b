// Base of a property page: a child dialog from the module's resources shown in the container's
// property frame.
#pragma once
#include "framework/ComObject.h"
#include "framework/ComPtr.h"
#include <ocidl.h>
#include <string>

struct CPropertyPageInfo {
    int dialogId;
    int captionId; // string resource
    const char* docString;
    const char* helpFile;
    DWORD helpContext;
};

class CPropertyPageBase : public CComObjectBase, public IPropertyPage {
public:
    explicit CPropertyPageBase(const CPropertyPageInfo& info) : m_info(info) {}
    ~CPropertyPageBase() override;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InternalAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return InternalRelease(); }

    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Show(UINT cmdShow) override;
    STDMETHODIMP Move(LPCRECT rect) override;
    STDMETHODIMP IsPageDirty() override { return S_FALSE; }
    // The page exchanges no properties: applying only runs the (empty) exchange.
    STDMETHODIMP Apply() override { return DoDataExchange() ? S_OK : E_FAIL; }
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG* msg) override;

    HWND Window() const { return m_hwnd; }

protected:
    virtual bool DoDataExchange() { return true; }

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    CPropertyPageInfo m_info;
    CComPtr<IPropertyPageSite> m_site;
    HWND m_hwnd = nullptr;
    ULONG m_objectCount = 0;
};
