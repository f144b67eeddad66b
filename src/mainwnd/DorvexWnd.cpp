#include "mainwnd/DorvexWnd.h"
#include <objbase.h>

HRESULT CDorvexWnd::SetEnvironmentFromStream(IStream* stream) {
    m_environment.Release();
    if (!stream)
        return E_POINTER;
    IDispatch* environment = nullptr;
    HRESULT hr = CoUnmarshalInterface(stream, IID_IDispatch, reinterpret_cast<void**>(&environment));
    if (SUCCEEDED(hr))
        m_environment.Attach(environment);
    return hr;
}

void CDorvexWnd::PrepareForDisplay() {}

void CDorvexWnd::ConnectToDevice(const char* connection) { m_connection = connection ? connection : ""; }

LRESULT CDorvexWnd::OnEraseBackground(UINT, WPARAM wParam, LPARAM, BOOL&) {
    RECT client;
    GetClientRect(m_hWnd, &client);
    FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
}
