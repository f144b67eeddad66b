// The ActiveX control the host embeds: a thin shell around the main window, with the four dispatch
// methods through which the host hands over its environment and connection text and asks for sizes.
#pragma once
#include "framework/OleControl.h"
#include <string>

class CDorvexWnd;

class CDorvexCtrl : public COleControl {
public:
    static HRESULT CreateInstance(REFIID iid, void** out);
    static bool UpdateRegistry(bool registering);

    CDorvexCtrl();
    ~CDorvexCtrl() override;

    // The dispatch methods, in dispatch-map order.
    void VNLSetEnvIDispatchViaStream(LONG_PTR stream);
    void VNLGetWindowSizes(short* minCx, short* minCy, short* maxCx, short* maxCy, short* preferredCx,
                           short* preferredCy);
    void VNLSetConnectionParameters(const char* parameters);
    void AboutBox();

    CDorvexWnd* MainWindow() const { return m_mainWindow; }

protected:
    BEGIN_MSG_MAP(CDorvexCtrl)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_HELP, OnHelp)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

    LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnHelp(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

    HRESULT InvokeMethod(DISPID id, const CDispatchCall& call) override;
    KeyAnswer OnContainerKey(MSG& msg) override;
    void OnFocusGiven() override;

private:
    void ApplyPending();
    void Connect(const char* parameters);

    // Made with the control's first window and kept for the control's life; while the container has
    // the control deactivated it waits as a message-only window.
    CDorvexWnd* m_mainWindow = nullptr;
    // Calls that arrive before the main window exists are kept and applied when it is created.
    CComPtr<IDispatch> m_pendingEnvironment;
    bool m_pendingShow = false;
    bool m_hasPendingConnection = false;
    std::string m_pendingConnection;
};
