#include "module/DorvexCtrl.h"
#include "contracts/QuorGui.h"
#include "framework/ClassFactory.h"
#include "framework/Handles.h"
#include "framework/Prompts.h"
#include "hostenv/EnvDispatch.h"
#include "mainwnd/DorvexWnd.h"
#include "module/DorvexIds.h"
#include "module/resource.h"

namespace {
const COleControlInfo kControlInfo = {
    &CLSID_Dorvex,  &DIID__DDorvex, &DIID__DDorvexEvents, &LIBID_DORVEXLib, kDorvexLibMajor, kDorvexLibMinor,
    kDorvexMiscStatus, &CLSID_DorvexPropPage, 0x10000,
};

constexpr UINT kMainWindowId = 1700;

INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG)
        return TRUE;
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
} // namespace

HRESULT CDorvexCtrl::CreateInstance(REFIID iid, void** out) {
    auto* control = new CDorvexCtrl();
    HRESULT hr = control->QueryInterface(iid, out);
    control->Release();
    return hr;
}

CDorvexCtrl::CDorvexCtrl() : COleControl(kControlInfo) {}

CDorvexCtrl::~CDorvexCtrl() {
    // Our window first, while this is still a CDorvexCtrl; then the main window with its own.
    DestroyWindow();
    delete m_mainWindow;
}

LRESULT CDorvexCtrl::OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (DefWindowProc(msg, wParam, lParam) == -1)
        return -1;
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (m_mainWindow && m_mainWindow->IsWindow()) {
        // Activated again: the main window comes back as it was, session, connection and all.
        SetParent(m_mainWindow->m_hWnd, m_hWnd);
        SetWindowPos(m_mainWindow->m_hWnd, nullptr, 0, 0, client.right, client.bottom,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    if (!m_mainWindow)
        m_mainWindow = new CDorvexWnd();
    // Created hidden: VNLGetWindowSizes shows it. A failure leaves an empty control, nothing more.
    m_mainWindow->Create(nullptr, "Dorvex", WS_CHILD, client, m_hWnd, kMainWindowId);
    ApplyPending();
    return 0;
}

LRESULT CDorvexCtrl::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    // Containers deactivate a control they hide and activate it again when they show it: the main window
    // waits outside the container, as a message-only window, instead of going down with ours.
    if (m_mainWindow && m_mainWindow->IsWindow())
        SetParent(m_mainWindow->m_hWnd, HWND_MESSAGE);
    handled = FALSE;
    return 0;
}

COleControl::KeyAnswer CDorvexCtrl::OnContainerKey(MSG& msg) {
    if (!m_mainWindow || !m_mainWindow->IsWindow())
        return KeyAnswer::NotUsed;
    bool leaves = false;
    if (m_mainWindow->TakeKey(msg, leaves))
        return KeyAnswer::Used;
    return leaves ? KeyAnswer::Leave : KeyAnswer::NotUsed;
}

void CDorvexCtrl::OnFocusGiven() {
    if (m_mainWindow && m_mainWindow->IsWindow() && IsWindowVisible(m_mainWindow->m_hWnd))
        m_mainWindow->FocusPane();
}

void CDorvexCtrl::ApplyPending() {
    if (m_pendingEnvironment) {
        m_mainWindow->Session().SetEnvironment(m_pendingEnvironment.Get());
        m_pendingEnvironment.Release();
    }
    if (m_pendingShow) {
        m_pendingShow = false;
        m_mainWindow->PrepareForDisplay();
        ShowWindow(m_mainWindow->m_hWnd, SW_SHOW);
    }
    if (m_hasPendingConnection) {
        m_hasPendingConnection = false;
        Connect(m_pendingConnection.c_str());
    }
}

void CDorvexCtrl::Connect(const char* parameters) {
    m_mainWindow->ConnectToDevice(parameters);
}

LRESULT CDorvexCtrl::OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    DefWindowProc(msg, wParam, lParam);
    if (m_mainWindow && m_mainWindow->IsWindow())
        SetWindowPos(m_mainWindow->m_hWnd, nullptr, 0, 0, LOWORD(lParam), HIWORD(lParam), SWP_NOMOVE | SWP_NOZORDER);
    return 0;
}

LRESULT CDorvexCtrl::OnHelp(UINT, WPARAM, LPARAM, BOOL&) {
    QuorGUIShowHelp(nullptr, 15, 1005, nullptr);
    return FALSE;
}

void CDorvexCtrl::VNLSetEnvIDispatchViaStream(LONG_PTR stream) {
    if (m_mainWindow) {
        m_mainWindow->Session().SetEnvironmentFromStream(reinterpret_cast<IStream*>(stream));
        return;
    }
    // The host may free the stream as soon as we return: unmarshal now, hand over later. A stream that
    // yields nothing leaves the one kept before.
    CComPtr<IDispatch> environment;
    if (SUCCEEDED(UnmarshalEnvironment(reinterpret_cast<IStream*>(stream), environment)))
        m_pendingEnvironment = std::move(environment);
}

void CDorvexCtrl::VNLGetWindowSizes(short* minCx, short* minCy, short* maxCx, short* maxCy, short* preferredCx,
                                    short* preferredCy) {
    if (m_mainWindow) {
        m_mainWindow->PrepareForDisplay();
        ShowWindow(m_mainWindow->m_hWnd, SW_SHOW);
    } else {
        m_pendingShow = true;
    }
    short* outs[] = {minCx, minCy, maxCx, maxCy, preferredCx, preferredCy};
    const short sizes[] = {100, 100, 10000, 10000, 600, 300};
    for (int i = 0; i < 6; ++i)
        if (outs[i])
            *outs[i] = sizes[i];
}

void CDorvexCtrl::VNLSetConnectionParameters(const char* parameters) {
    if (m_mainWindow) {
        Connect(parameters);
        return;
    }
    m_hasPendingConnection = true;
    m_pendingConnection = parameters ? parameters : "";
}

void CDorvexCtrl::AboutBox() {
    Prompts().DoModal(CModule::Instance(), IDD_ABOUTBOX_DORVEX, "About", ModalOwner(m_hWnd), AboutProc, 0);
}

HRESULT CDorvexCtrl::InvokeMethod(DISPID id, const CDispatchCall& call) {
    // The arguments arrive bound to the type library's declarations: pointer-sized, six short*, one BSTR*.
    switch (id) {
    case 1: {
        const VARIANT& stream = call.Arg(0);
        VNLSetEnvIDispatchViaStream(stream.vt == VT_I8 ? static_cast<LONG_PTR>(stream.llVal) : stream.lVal);
        return S_OK;
    }
    case 2:
        VNLGetWindowSizes(call.Arg(0).piVal, call.Arg(1).piVal, call.Arg(2).piVal, call.Arg(3).piVal,
                          call.Arg(4).piVal, call.Arg(5).piVal);
        return S_OK;
    case 3: {
        const BSTR* text = call.Arg(0).pbstrVal;
        const std::string narrow =
            text && *text ? NarrowFromWide(*text, static_cast<int>(SysStringLen(*text))) : std::string();
        VNLSetConnectionParameters(narrow.c_str());
        return S_OK;
    }
    case DISPID_ABOUTBOX:
        AboutBox();
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

bool CDorvexCtrl::UpdateRegistry(bool registering) {
    if (!registering)
        return UnregisterClassKeys(CLSID_Dorvex, kControlProgId);
    const CControlClassInfo info = {&CLSID_Dorvex, kControlProgId, IDS_DORVEX,      IDB_DORVEX,
                                    kDorvexMiscStatus, &LIBID_DORVEXLib, kDorvexLibMajor, kDorvexLibMinor};
    return RegisterControlClass(info);
}
