#include "hostenv/EnvDispatch.h"
#include <objbase.h>
#include <memory>

HRESULT UnmarshalEnvironment(IStream* stream, CComPtr<IDispatch>& environment) {
    environment.Release();
    if (!stream)
        return E_POINTER;
    return CoUnmarshalInterface(stream, IID_PPV_ARGS(&environment));
}

HRESULT CEnvDispatch::SetFromStream(IStream* stream) {
    return UnmarshalEnvironment(stream, m_environment);
}

void CEnvDispatch::Set(IDispatch* environment) {
    m_environment = environment;
}

HRESULT CEnvDispatch::InvokeByName(const wchar_t* name, VARIANT* result, int count, ...) {
    va_list pairs;
    va_start(pairs, count);
    HRESULT hr = InvokeByNameV(name, result, count, pairs);
    va_end(pairs);
    return hr;
}

HRESULT CEnvDispatch::InvokeByNameV(const wchar_t* name, VARIANT* result, int count, va_list pairs) {
    if (!m_environment)
        return E_FAIL;
    if (count < 0 || !name)
        return E_INVALIDARG;
    // The values are the caller's (strings are not copied), so the array is freed without clearing it.
    std::unique_ptr<VARIANT[]> args(count ? new VARIANT[count]() : nullptr);
    for (int i = 0; i < count; ++i) {
        // Automation wants the last argument first.
        VARIANT& arg = args[count - 1 - i];
        const VARTYPE type = static_cast<VARTYPE>(va_arg(pairs, int));
        switch (type) {
        case VT_I2:
            arg.iVal = static_cast<SHORT>(va_arg(pairs, int));
            break;
        case VT_I4:
            arg.lVal = va_arg(pairs, long);
            break;
        case VT_BSTR:
            arg.bstrVal = va_arg(pairs, BSTR);
            break;
        case VT_DISPATCH:
            arg.pdispVal = va_arg(pairs, IDispatch*);
            break;
        case VT_UNKNOWN:
            arg.punkVal = va_arg(pairs, IUnknown*);
            break;
        case VT_BYREF | VT_I2:
        case VT_BYREF | VT_I4:
        case VT_BYREF | VT_BSTR:
            arg.byref = va_arg(pairs, void*);
            break;
        default:
            return E_INVALIDARG;
        }
        arg.vt = type;
    }
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    m_environment->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (id < 0)
        return E_NOINTERFACE;
    DISPPARAMS params = {args.get(), nullptr, static_cast<UINT>(count), 0};
    return m_environment->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr,
                                 nullptr);
}
