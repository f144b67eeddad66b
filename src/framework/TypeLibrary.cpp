#include "framework/TypeLibrary.h"
#include "framework/ComPtr.h"
#include "framework/Module.h"

#include <string>

namespace {
std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(CModule::Instance(), path, MAX_PATH);
    return path;
}
} // namespace

HRESULT LoadModuleTypeLib(ITypeLib** lib) {
    return LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, lib);
}

HRESULT RegisterModuleTypeLib() {
    CComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(LoadModuleTypeLib(&lib));
    std::wstring path = ModulePath();
    std::wstring dir = path.substr(0, path.find_last_of(L"\\/") + 1);
    return RegisterTypeLib(lib.Get(), path.data(), dir.empty() ? nullptr : dir.data());
}

HRESULT UnregisterModuleTypeLib(const GUID& libId, WORD major, WORD minor) {
    CComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(LoadModuleTypeLib(&lib));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(lib->GetLibAttr(&attr));
    const LCID lcid = attr->lcid;
    const SYSKIND kind = attr->syskind;
    lib->ReleaseTLibAttr(attr);
    return UnRegisterTypeLib(libId, major, minor, lcid, kind);
}

bool VarTypeOfTypeDesc(ITypeInfo* info, const TYPEDESC& desc, VARTYPE& out, int depth) {
    if (depth > 8)
        return false;
    VARTYPE inner = VT_EMPTY;
    switch (desc.vt) {
    case VT_PTR:
        if (!desc.lptdesc || !VarTypeOfTypeDesc(info, *desc.lptdesc, inner, depth + 1) || (inner & VT_BYREF))
            return false;
        out = inner | VT_BYREF;
        return true;
    case VT_SAFEARRAY:
        if (!desc.lptdesc || !VarTypeOfTypeDesc(info, *desc.lptdesc, inner, depth + 1) ||
            (inner & (VT_BYREF | VT_ARRAY)))
            return false;
        out = inner | VT_ARRAY;
        return true;
    case VT_USERDEFINED: {
        CComPtr<ITypeInfo> ref;
        if (FAILED(info->GetRefTypeInfo(desc.hreftype, &ref)) || !ref)
            return false;
        TYPEATTR* attr = nullptr;
        bool ok = false;
        if (SUCCEEDED(ref->GetTypeAttr(&attr)) && attr) {
            if (attr->typekind == TKIND_ALIAS)
                ok = VarTypeOfTypeDesc(ref.Get(), attr->tdescAlias, out, depth + 1);
            else if (attr->typekind == TKIND_ENUM)
                ok = (out = VT_I4, true);
            ref->ReleaseTypeAttr(attr);
        }
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
    case VT_UINT_PTR:
        out = sizeof(LONG_PTR) == 8 ? VT_UI8 : VT_UI4;
        return true;
    case VT_VOID:
    case VT_HRESULT:
    case VT_CARRAY:
    case VT_LPSTR:
    case VT_LPWSTR:
        return false;
    default:
        out = desc.vt;
        return true;
    }
}
