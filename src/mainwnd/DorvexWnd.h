// The control's main window: it owns everything the user sees. For now it holds the host's
// environment object and the connection text; the session, the views and the splitter attach here.
#pragma once
#include "framework/ComPtr.h"
#include "framework/Wnd.h"
#include <oaidl.h>
#include <string>

class CDorvexWnd : public CWnd {
public:
    CDorvexWnd() = default;
    ~CDorvexWnd() override = default;

    // Releases the environment held so far and unmarshals the host's from the stream.
    HRESULT SetEnvironmentFromStream(IStream* stream);
    void SetEnvironment(IDispatch* environment) { m_environment = environment; }
    IDispatch* Environment() const { return m_environment.Get(); }

    // Called before the window is first shown.
    void PrepareForDisplay();
    void ConnectToDevice(const char* connection);
    const std::string& ConnectionText() const { return m_connection; }

protected:
    BEGIN_MSG_MAP(CDorvexWnd)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    END_MSG_MAP()

    LRESULT OnEraseBackground(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

private:
    CComPtr<IDispatch> m_environment;
    std::string m_connection;
};
