#include "PluginSite.h"

#include <oleauto.h>

#include <vector>

#include "framework/ComError.h"

namespace {

using AtlAxWinInitProc = BOOL(WINAPI*)();
using AtlAxGetControlProc = HRESULT(WINAPI*)(HWND, IUnknown**);

AtlAxGetControlProc g_getControl = nullptr;

template <class F> F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

HRESULT CPluginSite::InitContainer() {
    if (g_getControl)
        return S_OK;
    // Kept loaded for the life of the process: its window class lives in it.
    HMODULE atl = LoadLibraryW(L"atl.dll");
    if (!atl)
        return HRESULT_FROM_WIN32(GetLastError());
    auto init = Export<AtlAxWinInitProc>(atl, "AtlAxWinInit");
    auto getControl = Export<AtlAxGetControlProc>(atl, "AtlAxGetControl");
    if (!init || !getControl || !init())
        return E_NOINTERFACE;
    g_getControl = getControl;
    return S_OK;
}

HRESULT CPluginSite::Create(HWND parent, const std::wstring& progId, const RECT& rect, UINT id) {
    Destroy();
    RETURN_IF_FAILED(InitContainer());
    HWND container = CreateWindowExW(0, L"AtlAxWin", progId.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                     rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                     parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                     GetModuleHandleW(nullptr), nullptr);
    if (!container)
        return HRESULT_FROM_WIN32(GetLastError());
    // The container window exists even when the ProgID names nothing creatable: only asking it for the
    // control tells.
    IUnknown* unknown = nullptr;
    HRESULT hr = g_getControl(container, &unknown);
    if (SUCCEEDED(hr) && !unknown)
        hr = E_NOINTERFACE;
    if (SUCCEEDED(hr)) {
        hr = unknown->QueryInterface(IID_PPV_ARGS(&m_control));
        unknown->QueryInterface(IID_PPV_ARGS(&m_active));
        unknown->Release();
    }
    if (FAILED(hr)) {
        m_control.Release();
        m_active.Release();
        DestroyWindow(container);
        return hr;
    }
    m_container = container;
    return S_OK;
}

void CPluginSite::Destroy() {
    m_active.Release();
    m_control.Release();
    if (m_container && IsWindow(m_container))
        DestroyWindow(m_container);
    m_container = nullptr;
}

HRESULT CPluginSite::CallByName(const wchar_t* name, VARIANT* args, UINT count) {
    if (!m_control)
        return E_POINTER;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    RETURN_IF_FAILED(m_control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    // Automation takes the arguments last to first.
    std::vector<VARIANT> reversed(args, args + count);
    for (UINT i = 0; i < count; ++i)
        reversed[i] = args[count - 1 - i];
    DISPPARAMS params = {count ? reversed.data() : nullptr, nullptr, count, 0};
    UINT argError = 0;
    return m_control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                             &argError);
}

HRESULT CPluginSite::SetEnvironment(IDispatch* environment) {
    if (!environment)
        return E_POINTER;
    CComPtr<IStream> stream;
    RETURN_IF_FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    RETURN_IF_FAILED(CoMarshalInterface(stream.Get(), IID_IDispatch, environment, MSHCTX_INPROC, nullptr,
                                        MSHLFLAGS_NORMAL));
    const LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);

    // The stream's address travels as a pointer-sized integer: a long in 32-bit builds.
    VARIANT pointer;
    VariantInit(&pointer);
#ifdef _WIN64
    V_VT(&pointer) = VT_I8;
    V_I8(&pointer) = reinterpret_cast<LONG_PTR>(stream.Get());
#else
    V_VT(&pointer) = VT_I4;
    V_I4(&pointer) = reinterpret_cast<LONG_PTR>(stream.Get());
#endif
    const HRESULT hr = CallByName(L"VNLSetEnvIDispatchViaStream", &pointer, 1);

    // A control that did not read the stream leaves the marshalled reference in it; release it, or the
    // environment would never be freed.
    ULARGE_INTEGER position = {};
    const LARGE_INTEGER here = {};
    if (SUCCEEDED(stream->Seek(here, STREAM_SEEK_CUR, &position)) && position.QuadPart == 0)
        CoReleaseMarshalData(stream.Get());
    return hr;
}

HRESULT CPluginSite::GetWindowSizes(short sizes[6]) {
    VARIANT args[6];
    for (int i = 0; i < 6; ++i) {
        sizes[i] = 0;
        VariantInit(&args[i]);
        V_VT(&args[i]) = VT_I2 | VT_BYREF;
        V_I2REF(&args[i]) = &sizes[i];
    }
    return CallByName(L"VNLGetWindowSizes", args, 6);
}

HRESULT CPluginSite::SetConnectionParameters(const std::wstring& connection) {
    BSTR text = SysAllocStringLen(connection.data(), static_cast<UINT>(connection.size()));
    if (!text)
        return E_OUTOFMEMORY;
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&arg) = &text;
    const HRESULT hr = CallByName(L"VNLSetConnectionParameters", &arg, 1);
    // Passed by reference: whatever the control left there is ours to free.
    SysFreeString(text);
    return hr;
}

HRESULT CPluginSite::AboutBox() {
    return CallByName(L"AboutBox", nullptr, 0);
}

bool CPluginSite::TranslateAccelerator(MSG& msg) {
    if (!m_active || !m_container || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST)
        return false;
    // Only keys meant for the control: focus inside the container.
    if (msg.hwnd != m_container && !IsChild(m_container, msg.hwnd))
        return false;
    return m_active->TranslateAccelerator(&msg) == S_OK;
}
