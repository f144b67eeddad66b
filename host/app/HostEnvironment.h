// The environment object the host hands to its plug-in: an automation object whose eight "VNLENV..."
// methods (contracts/EnvironmentMethods.h) the plug-in calls by name (GetIDsOfNames, then Invoke); it has
// no type information.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

#include "framework/ComObject.h"

// The host window's side of the environment: what each method does to it.
class IHostFrame {
public:
    virtual ~IHostFrame() = default;
    virtual void OnConnectionStatus(short status) = 0;
    // The plug-in reconnected itself with new parameters; the host only takes note.
    virtual void OnConnectionParams(const std::wstring& connection) = 0;
    virtual HRESULT LaunchPlugin(const std::wstring& plugin, const std::wstring& address,
                                 const std::wstring& extra, DWORD& processId) = 0;
    // minCX, minCY, maxCX, maxCY, preferredCX, preferredCY of the plug-in's area.
    virtual void SetPluginWindowSize(const long sizes[6]) = 0;
    virtual void GetCurrentAddress(std::wstring& address, std::wstring& plugin, std::wstring& host) = 0;
    virtual void ShowFrameFooter(bool show) = 0;
    virtual void AppendToWindowTitle(const std::wstring& text) = 0;
    virtual void SetWindowTitleTool(const std::wstring& tool) = 0;
    // Every call that reached the host, as "Name(arguments)", for the tour's record.
    virtual void OnEnvironmentCall(const std::wstring& call) { (void)call; }
};

class CHostEnvironment : public IDispatch, public CComObjectBase {
public:
    explicit CHostEnvironment(IHostFrame* frame) : m_frame(frame) {}

    // The frame is going away; later calls fail with RPC_E_DISCONNECTED instead of reaching it.
    void Detach() { m_frame = nullptr; }

    // Longest text taken from a plug-in; longer texts are cut.
    static constexpr size_t kMaxText = 2048;

    DECLARE_IUNKNOWN(kInterfaces)
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

private:
    static const QITableEntry kInterfaces[];
    HRESULT Call(DISPID id, DISPPARAMS& params, VARIANT* result, UINT* argError);

    IHostFrame* m_frame;
};
