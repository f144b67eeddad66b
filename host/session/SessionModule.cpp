// QuorSession.dll's entry points: the class object of the session and self-registration of the class
// and of the type library (resource 1) that describes the session and its events.
#include "QuorSession.h"

#include "framework/ClassFactory.h"
#include "framework/TypeLibrary.h"

#include <olectl.h>

namespace {
CObjectFactory g_sessionFactory(CLSID_QuorSession, &CQuorSession::CreateInstance,
                                &CQuorSession::UpdateRegistry);
constexpr WORD kLibMajor = 1, kLibMinor = 1;
} // namespace

STDAPI DllCanUnloadNow() {
    return CModule::CanUnload() ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return ComBoundary([&] { return CObjectFactory::GetClassObject(clsid, iid, out); });
}

STDAPI DllRegisterServer() {
    return ComBoundary([] {
        if (FAILED(RegisterModuleTypeLib()))
            return SELFREG_E_TYPELIB;
        return CObjectFactory::UpdateRegistryAll(true) ? S_OK : SELFREG_E_CLASS;
    });
}

STDAPI DllUnregisterServer() {
    return ComBoundary([] {
        const bool classes = CObjectFactory::UpdateRegistryAll(false);
        if (FAILED(UnregisterModuleTypeLib(LIBID_QuorSessionLib, kLibMajor, kLibMinor)))
            return SELFREG_E_TYPELIB;
        return classes ? S_OK : SELFREG_E_CLASS;
    });
}
