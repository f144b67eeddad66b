#include "session/EventSink.h"
#include "framework/Module.h"
#include "framework/TypeLibrary.h"
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
    if (!g_eventInfo)
        return false;
    TYPEATTR* attr = nullptr;
    if (FAILED(g_eventInfo->GetTypeAttr(&attr)) || !attr)
        return false;
    const WORD functions = attr->cFuncs;
    g_eventInfo->ReleaseTypeAttr(attr);
    bool found = false;
    for (WORD i = 0; i < functions && !found; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(g_eventInfo->GetFuncDesc(i, &desc)) || !desc)
            continue;
        if (desc->memid == id) {
            found = true;
            for (SHORT p = 0; p < desc->cParams && found; ++p) {
                VARTYPE type = VT_EMPTY;
                found = VarTypeOfTypeDesc(g_eventInfo, desc->lprgelemdescParam[p].tdesc, type);
                types.push_back(type);
            }
        }
        g_eventInfo->ReleaseFuncDesc(desc);
    }
    if (!found)
        types.clear();
    return found;
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

bool CoerceEventArgument(const VARIANT& in, VARTYPE want, VARIANT& out) {
    VariantClear(&out);
    if (!(want & VT_BYREF))
        return SUCCEEDED(VariantChangeType(&out, const_cast<VARIANT*>(&in), 0, want));
    // By reference: the handler writes through the pointer, so no conversion can stand in between.
    if (in.vt == want) {
        if (!in.byref)
            return false;
        out.vt = want;
        out.byref = in.byref;
        return true;
    }
    const VARIANT* target = in.vt == (VT_BYREF | VT_VARIANT) ? in.pvarVal : nullptr;
    if (!target || target->vt != (want & ~VT_BYREF))
        return false;
    // Every member of the VARIANT's value union starts at the same place.
    out.vt = want;
    out.byref = const_cast<void*>(static_cast<const void*>(&target->llVal));
    return true;
}
