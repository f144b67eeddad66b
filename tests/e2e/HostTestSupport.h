// What the host application's tests share: a call by name with the arguments in parameter order
// (automation wants them last to first); the arguments are made with the helpers of DeviceSessionDouble.h.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include "DeviceSessionDouble.h"

#include <vector>

namespace host_test {

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
