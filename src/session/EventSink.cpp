#include "session/EventSink.h"
#include "framework/Module.h"
#include <oleauto.h>

namespace {

ITypeInfo* g_eventInfo = nullptr; // guarded by the module's lock, as is the count
LONG g_users = 0;

// A parameter's type as the sink dispatches it. Aliases are followed and pointers become VT_BYREF; the
// depth bound keeps a malformed type library from recursing without end.
bool ResolveType(ITypeInfo* info, const TYPEDESC& desc, VARTYPE& out, int depth = 0) {
    if (depth > 8)
        return false;
    VARTYPE inner = VT_EMPTY;
    switch (desc.vt) {
    case VT_PTR:
        if (!desc.lptdesc || !ResolveType(info, *desc.lptdesc, inner, depth + 1) || (inner & VT_BYREF))
            return false;
        out = inner | VT_BYREF;
        return true;
    case VT_SAFEARRAY:
        if (!desc.lptdesc || !ResolveType(info, *desc.lptdesc, inner, depth + 1) ||
            (inner & (VT_BYREF | VT_ARRAY)))
            return false;
        out = inner | VT_ARRAY;
        return true;
    case VT_USERDEFINED: {
        ITypeInfo* ref = nullptr;
        if (FAILED(info->GetRefTypeInfo(desc.hreftype, &ref)) || !ref)
            return false;
        TYPEATTR* attr = nullptr;
        bool ok = false;
        if (SUCCEEDED(ref->GetTypeAttr(&attr)) && attr) {
            if (attr->typekind == TKIND_ALIAS)
                ok = ResolveType(ref, attr->tdescAlias, out, depth + 1);
            else if (attr->typekind == TKIND_ENUM)
                ok = (out = VT_I4, true);
            ref->ReleaseTypeAttr(attr);
        }
        ref->Release();
        return ok;
    }
    case VT_INT:
        out = VT_I4;
        return true;
    case VT_UINT:
        out = VT_UI4;
        return true;
    case VT_INT_PTR:
        out = sizeof(LONG_PTR) == 8 ? VT_I8 : VT_I4;
        return true;
    default:
        out = desc.vt;
        return true;
    }
}

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
                found = ResolveType(g_eventInfo, desc->lprgelemdescParam[p].tdesc, type);
                types.push_back(type);
            }
        }
        g_eventInfo->ReleaseFuncDesc(desc);
    }
    if (!found)
        types.clear();
    return found;
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
