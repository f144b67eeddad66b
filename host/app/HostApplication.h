// The host application object (IVarnelApplication): how a plug-in that holds no environment starts the
// host for another plug-in. Registered as a local server (VarnelHost.exe -Embedding); a running host
// window also offers its class object and registers itself as the running object.
#pragma once

#include <windows.h>

#include <string>

#include "VarnelHost_h.h"
#include "framework/ComObject.h"

class CHostApplication : public IVarnelApplication, public CComObjectBase {
public:
    CHostApplication();
    ~CHostApplication() override;

    DECLARE_IUNKNOWN(kInterfaces)
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

    // Accepts only the plug-in form of the host's command line (/plugin:<name> /"connect:<address>"),
    // so a caller cannot register, unregister or run a tour through it.
    STDMETHODIMP RunCommandLine(BSTR commandLine, long* processId) override;

private:
    static const QITableEntry kInterfaces[];
};

// Starts another VarnelHost.exe with `arguments`; the new process's id in `processId`.
HRESULT LaunchHostInstance(const std::wstring& arguments, DWORD& processId);

// The class object of CHostApplication in the class table and the running object table while it lives.
class CHostServer {
public:
    CHostServer() = default;
    CHostServer(const CHostServer&) = delete;
    CHostServer& operator=(const CHostServer&) = delete;
    ~CHostServer() { Revoke(); }

    // `quitWhenUnused`: the process was started by COM and ends (WM_QUIT) when its last object goes.
    HRESULT Register(bool quitWhenUnused);
    void Revoke();

private:
    DWORD m_classCookie = 0;
    DWORD m_runningCookie = 0;
    IUnknown* m_running = nullptr;
};

// /RegServer and /UnregServer: the local server's class, ProgIDs and type library, and the record of
// the host's folder (HKLM\Software\Varnel\Host, InstallDir) that plug-in installers look for.
HRESULT RegisterHostServer();
HRESULT UnregisterHostServer();
