#include "session/EventSink.h"
#include "framework/DispatchCall.h"
#include "framework/Module.h"
#include <oleauto.h>

namespace {

ITypeInfo* g_eventInfo = nullptr; // guarded by the module's lock, as is the count
LONG g_users = 0;

} // namespace

void CEventTypeCache::AddUser(const GUID& libId, WORD major, WORD minor, const IID& events) {
    CModuleLock lock;
    if (g_users++ == 0 && !g_eventInfo) {
        ITypeLib* library = nullptr;
        if (SUCCEEDED(LoadRegTypeLib(libId, major, minor, LOCALE_NEUTRAL, &library)) && library) {
            if (FAILED(library->GetTypeInfoOfGuid(events, &g_eventInfo)))
                g_eventInfo = nullptr;
            library->Release();
        }
    }
}

void CEventTypeCache::RemoveUser() {
    CModuleLock lock;
    if (g_users > 0 && --g_users == 0 && g_eventInfo) {
        g_eventInfo->Release();
        g_eventInfo = nullptr;
    }
}

LONG CEventTypeCache::Users() {
    CModuleLock lock;
    return g_users;
}

bool CEventTypeCache::Loaded() {
    CModuleLock lock;
    return g_eventInfo != nullptr;
}

bool CEventTypeCache::Lookup(DISPID id, EventParamTypes& types) {
    CModuleLock lock;
    types.clear();
    std::vector<DeclaredParam> params;
    if (!g_eventInfo || !FindMethodParams(g_eventInfo, id, params))
        return false;
    for (const DeclaredParam& param : params) {
        if (!param.known) {
            types.clear();
            return false;
        }
        types.push_back(param.type);
    }
    return true;
}

bool DeclarationFits(VARTYPE declared, VARTYPE wanted) {
    if (wanted & VT_BYREF)
        return declared == wanted || declared == (VT_BYREF | VT_VARIANT);
    const VARTYPE base = declared & ~VT_BYREF;
    if (base == VT_VARIANT)
        return true;
    if (wanted == VT_BSTR)
        return base == VT_BSTR;
    switch (base) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_BOOL:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}
