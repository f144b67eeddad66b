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
