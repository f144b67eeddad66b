// What the host application's tests share: arguments as a plug-in builds them, and a call by name with
// them in parameter order (automation wants them last to first).
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <vector>

namespace host_test {

inline VARIANT Short(short v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I2, V_I2(&x) = v;
    return x;
}

inline VARIANT Long(long v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4, V_I4(&x) = v;
    return x;
}

inline VARIANT Text(BSTR b) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_BSTR, V_BSTR(&x) = b;
    return x;
}

inline VARIANT TextRef(BSTR* b) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_BSTR | VT_BYREF, V_BSTRREF(&x) = b;
    return x;
}

// Looks the name up (system locale, as plug-ins do) and invokes it (user locale).
inline HRESULT CallByName(IDispatch* target, const wchar_t* name, std::vector<VARIANT> args,
                          VARIANT* result = nullptr, UINT* argError = nullptr, WORD flags = DISPATCH_METHOD) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    target->GetIDsOfNames(IID_NULL, names, 1, 0x800, &id);
    return target->Invoke(id, IID_NULL, 0x400, flags, &params, result, nullptr, argError);
}

} // namespace host_test
