// The plug-in control as the host drives it: created by ProgID inside the system's ActiveX container
// window (AtlAxWin from atl.dll) and called through IDispatch by name, as any host of the plug-in does.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <oleidl.h>

#include <string>

#include "framework/ComPtr.h"

class CPluginSite {
public:
    CPluginSite() = default;
    CPluginSite(const CPluginSite&) = delete;
    CPluginSite& operator=(const CPluginSite&) = delete;
    ~CPluginSite() { Destroy(); }

    // Loads atl.dll and registers its container window class, once per process.
    static HRESULT InitContainer();

    // Creates the container window as a child of `parent` with the control of `progId` in it. On
    // failure no window is left behind.
    HRESULT Create(HWND parent, const std::wstring& progId, const RECT& rect, UINT id);
    // Releases the control and destroys the container window.
    void Destroy();

    HWND Window() const { return m_container; }
    bool HasControl() const { return static_cast<bool>(m_control); }

    // The host's calls, in the order a host makes them.
    // Marshals `environment` into a stream and hands the stream over by address.
    HRESULT SetEnvironment(IDispatch* environment);
    // minCX, minCY, maxCX, maxCY, preferredCX, preferredCY.
    HRESULT GetWindowSizes(short sizes[6]);
    HRESULT SetConnectionParameters(const std::wstring& connection);
    HRESULT AboutBox();

    // Lets the in-place active control see a keyboard message first (its own accelerators, Tab and
    // arrow keys inside it). True when the control used it.
    bool TranslateAccelerator(MSG& msg);

private:
    // `args` in parameter order.
    HRESULT CallByName(const wchar_t* name, VARIANT* args, UINT count);

    HWND m_container = nullptr;
    CComPtr<IDispatch> m_control;
    CComPtr<IOleInPlaceActiveObject> m_active;
};
