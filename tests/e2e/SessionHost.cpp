#include "SessionHost.h"
#include "framework/Handles.h"

bool CContainerHost::Open(HWND dialog, RECT place) {
    m_atl = LoadLibraryA("atl.dll");
    auto init = m_atl ? reinterpret_cast<BOOL(WINAPI*)()>(
                            reinterpret_cast<void*>(GetProcAddress(m_atl, "AtlAxWinInit")))
                      : nullptr;
    auto getControl = m_atl ? reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(
                                  reinterpret_cast<void*>(GetProcAddress(m_atl, "AtlAxGetControl")))
                            : nullptr;
    // A second registration of the container's window class is refused: once is enough.
    WNDCLASSEXA registered = {};
    registered.cbSize = sizeof registered;
    if (!init || !getControl || (!init() && !GetClassInfoExA(nullptr, "AtlAxWin", &registered)))
        return false;
    if (!dialog)
        m_frame = CreateWindowExA(0, "STATIC", "Session host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 700,
                                  420, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    m_container = CreateWindowExA(dialog ? WS_EX_CONTROLPARENT : 0, "AtlAxWin", "DORVEX.DorvexCtrl.1",
                                  WS_CHILD | WS_VISIBLE, place.left, place.top, place.right - place.left,
                                  place.bottom - place.top, dialog ? dialog : m_frame, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!m_container || FAILED(getControl(m_container, &m_control)) || !m_control)
        return false;
    IOleWindow* window = nullptr;
    if (FAILED(m_control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window))))
        return false;
    window->GetWindow(&m_controlWindow);
    window->Release();
    if (dialog)
        SetWindowLongA(m_controlWindow, GWL_STYLE, GetWindowLongA(m_controlWindow, GWL_STYLE) | WS_TABSTOP);
    return SUCCEEDED(m_control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_dispatch)));
}

void CContainerHost::Close() {
    if (m_dispatch)
        m_dispatch->Release();
    m_dispatch = nullptr;
    if (m_control)
        m_control->Release();
    m_control = nullptr;
    if (m_frame && IsWindow(m_frame))
        DestroyWindow(m_frame);
    else if (m_container && IsWindow(m_container))
        DestroyWindow(m_container);
    m_frame = m_container = m_controlWindow = nullptr;
}

HRESULT CContainerHost::Call(const wchar_t* name, std::initializer_list<VARIANT> args) {
    return m_dispatch ? host_test::CallByName(m_dispatch, name, args) : E_POINTER;
}

HRESULT CContainerHost::GiveEnvironment(IDispatch* environment) {
    IStream* stream = MarshalledStream(environment);
    if (!stream)
        return E_FAIL;
    VARIANT pointer;
    VariantInit(&pointer);
    // A pointer-sized integer, as hosts pass it: a long in the 32-bit build.
#ifdef _WIN64
    pointer.vt = VT_I8;
    pointer.llVal = reinterpret_cast<LONG_PTR>(stream);
#else
    pointer.vt = VT_I4;
    pointer.lVal = reinterpret_cast<LONG_PTR>(stream);
#endif
    const HRESULT hr = Call(L"VNLSetEnvIDispatchViaStream", {pointer});
    stream->Release();
    return hr;
}

HRESULT CContainerHost::ShowAtPreferredSize(short* sizes) {
    short own[6] = {};
    short* s = sizes ? sizes : own;
    HRESULT hr = Call(L"VNLGetWindowSizes", {VI2Ref(&s[0]), VI2Ref(&s[1]), VI2Ref(&s[2]), VI2Ref(&s[3]),
                                             VI2Ref(&s[4]), VI2Ref(&s[5])});
    if (SUCCEEDED(hr)) {
        SetWindowPos(m_container, nullptr, 0, 0, s[4], s[5], SWP_NOMOVE | SWP_NOZORDER);
        if (m_frame)
            ShowWindow(m_frame, SW_SHOWNOACTIVATE);
    }
    return hr;
}

HRESULT CContainerHost::Connect(const std::string& connection) {
    BSTR text = SysAllocString(WideFromNarrow(connection.c_str()).c_str());
    HRESULT hr = Call(L"VNLSetConnectionParameters", {VTextRef(&text)});
    SysFreeString(text);
    return hr;
}

HRESULT CContainerHost::Start(IDispatch* environment) {
    if (!Open())
        return E_FAIL;
    const HRESULT hr = GiveEnvironment(environment);
    return FAILED(hr) ? hr : ShowAtPreferredSize();
}
