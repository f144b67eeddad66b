// The module's four entry points: class objects, unloading, and self-registration, which besides the
// type library and the two classes enrols the control as a plug-in of the host.
#include "framework/ClassFactory.h"
#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "framework/Module.h"
#include "module/DorvexCtrl.h"
#include "module/DorvexIds.h"
#include "module/DorvexPropPage.h"
#include "session/QuorLib32.h"
#include <olectl.h>

namespace {
CObjectFactory g_controlFactory(CLSID_Dorvex, &CDorvexCtrl::CreateInstance, &CDorvexCtrl::UpdateRegistry);
CObjectFactory g_pageFactory(CLSID_DorvexPropPage, &CDorvexPropPage::CreateInstance, &CDorvexPropPage::UpdateRegistry);

// The type library is resource 1 of this module.
HRESULT LoadOwnTypeLib(ITypeLib** lib) {
    std::wstring path = WideFromNarrow(CModule::Path());
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib);
}

HRESULT RegisterTypeLibrary() {
    CComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(LoadOwnTypeLib(&lib));
    std::wstring path = WideFromNarrow(CModule::Path());
    std::wstring dir = path.substr(0, path.find_last_of(L"\\/") + 1);
    return RegisterTypeLib(lib.Get(), path.data(), dir.empty() ? nullptr : dir.data());
}

// Removes the registration of LIBID 1.0 whatever locale it was registered under (the library's own),
// for the platform this module was built for.
HRESULT UnregisterTypeLibrary() {
    CComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(LoadOwnTypeLib(&lib));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(lib->GetLibAttr(&attr));
    const LCID lcid = attr->lcid;
    const SYSKIND kind = attr->syskind;
    lib->ReleaseTLibAttr(attr);
    return UnRegisterTypeLib(LIBID_DORVEXLib, kDorvexLibMajor, kDorvexLibMinor, lcid, kind);
}
} // namespace

STDAPI DllCanUnloadNow() { return CModule::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return ComBoundary([&] { return CObjectFactory::GetClassObject(clsid, iid, out); });
}

STDAPI DllRegisterServer() {
    return ComBoundary([] {
        if (FAILED(RegisterTypeLibrary()))
            return SELFREG_E_TYPELIB;
        if (!CObjectFactory::UpdateRegistryAll(true))
            return SELFREG_E_CLASS;
        QuorRegisterPlugin(kPluginName, kControlProgId); // the host's answer does not change ours
        return S_OK;
    });
}

STDAPI DllUnregisterServer() {
    return ComBoundary([] {
        if (FAILED(UnregisterTypeLibrary()))
            return SELFREG_E_TYPELIB;
        if (!CObjectFactory::UpdateRegistryAll(false))
            return SELFREG_E_CLASS;
        QuorUnRegisterPlugin(kPluginName, kControlProgId);
        return S_OK;
    });
}
