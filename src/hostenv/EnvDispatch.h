// Holder of the host's environment object: an automation object the control calls by method name only,
// without any type information of the environment.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include "framework/ComPtr.h"
#include <cstdarg>

// The host's environment from the stream the host marshalled it into (the stream stays the caller's).
HRESULT UnmarshalEnvironment(IStream* stream, CComPtr<IDispatch>& environment);

class CEnvDispatch {
public:
    CEnvDispatch() = default;
    CEnvDispatch(const CEnvDispatch&) = delete;
    CEnvDispatch& operator=(const CEnvDispatch&) = delete;
    virtual ~CEnvDispatch() = default;

    // Lets go of the environment held so far, then unmarshals the host's from the stream (which stays the
    // caller's). The unmarshalling result.
    HRESULT SetFromStream(IStream* stream);
    // Holds `environment` (one reference of its own) in place of the previous one.
    void Set(IDispatch* environment);
    bool Held() const { return static_cast<bool>(m_environment); }
    IDispatch* Get() const { return m_environment.Get(); }

    // Calls method `name` of the environment with `count` arguments given as (VARTYPE, value) pairs in the
    // method's parameter order. Values: VT_I2 an int, VT_I4 a long, VT_BSTR / VT_DISPATCH / VT_UNKNOWN the
    // pointer (strings are not copied), VT_BYREF with VT_I2, VT_I4 or VT_BSTR a pointer.
    // E_FAIL without an environment, E_INVALIDARG for any other type (the environment is not contacted),
    // E_NOINTERFACE for a name the environment does not know, otherwise the result of its Invoke.
    HRESULT InvokeByName(const wchar_t* name, VARIANT* result, int count, ...);
    HRESULT InvokeByNameV(const wchar_t* name, VARIANT* result, int count, va_list pairs);

private:
    CComPtr<IDispatch> m_environment;
};
