// The module's four entry points: class objects, unloading, and self-registration, which besides the
// type library and the two classes enrols the control as a plug-in of the host.
#include "browser/ShellTransfer.h"
#include "contracts/QuorLib32.h"
#include "framework/ClassFactory.h"
#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "framework/Module.h"
#include "framework/TypeLibrary.h"
#include "framework/Wnd.h"
#include "module/DorvexCtrl.h"
#include "module/DorvexIds.h"
#include "module/DorvexPropPage.h"
#include <olectl.h>

namespace {
CObjectFactory g_controlFactory(CLSID_Dorvex, &CDorvexCtrl::CreateInstance, &CDorvexCtrl::UpdateRegistry);
CObjectFactory g_pageFactory(CLSID_DorvexPropPage, &CDorvexPropPage::CreateInstance, &CDorvexPropPage::UpdateRegistry);
} // namespace

// The runtime's entry point calls this one. On FreeLibrary (not at process exit, where nothing runs
// again) the framework's window class goes with the code its procedure lives in. Either way the copies
// made for shell targets go: nobody can ask this process for them any more.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        if (!reserved)
            CWnd::UnregisterDefaultClass();
        RemoveStagingFolders();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return CModule::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return ComBoundary([&] { return CObjectFactory::GetClassObject(clsid, iid, out); });
}

STDAPI DllRegisterServer() {
    return ComBoundary([] {
        if (FAILED(RegisterModuleTypeLib()))
            return SELFREG_E_TYPELIB;
        if (!CObjectFactory::UpdateRegistryAll(true))
            return SELFREG_E_CLASS;
        QuorRegisterPlugin(kPluginName, kControlProgId); // the host's answer does not change ours
        return S_OK;
    });
}

STDAPI DllUnregisterServer() {
    return ComBoundary([] {
        if (FAILED(UnregisterModuleTypeLib(LIBID_DORVEXLib, kDorvexLibMajor, kDorvexLibMinor)))
            return SELFREG_E_TYPELIB;
        if (!CObjectFactory::UpdateRegistryAll(false))
            return SELFREG_E_CLASS;
        QuorUnRegisterPlugin(kPluginName, kControlProgId);
        return S_OK;
    });
}
