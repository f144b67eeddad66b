#include "session/QuorGui.h"

#include <commctrl.h>

#include "GuiModule.h"
#include "resource.h"

CQuorDialogEventTask::CQuorDialogEventTask() : m_hWnd(nullptr) {}

CQuorDialogEventTask::~CQuorDialogEventTask() {
    if (m_hWnd && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
}

BOOL CQuorDialogEventTask::Create(HWND parent) {
    if (m_hWnd)
        return FALSE;
    quorgui::InitProgressControls();
    HWND dialog = CreateDialogParamA(quorgui::ModuleInstance(), MAKEINTRESOURCEA(IDD_TASK_PROGRESS), parent,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    if (!dialog)
        return FALSE;
    m_hWnd = dialog;
    SendDlgItemMessageA(dialog, IDC_TASK_BAR, PBM_SETRANGE32, 0, 100);
    return TRUE;
}

HWND CQuorDialogEventTask::GetSafeHwnd() const {
    return m_hWnd;
}

long CQuorDialogEventTask::OnTaskStart(long task, const char* title, const char* file) {
    (void)task;
    if (!m_hWnd)
        return 0;
    SetDlgItemTextA(m_hWnd, IDC_TITLE, title ? title : "");
    SetDlgItemTextA(m_hWnd, IDC_TASK_FILE, file ? file : "");
    SetDlgItemTextA(m_hWnd, IDC_TASK_TEXT, "");
    SendDlgItemMessageA(m_hWnd, IDC_TASK_BAR, PBM_SETPOS, 0, 0);
    if (!quorgui::WindowsDisabled() && !IsWindowVisible(m_hWnd)) {
        quorgui::CenterOnOwner(m_hWnd, GetWindow(m_hWnd, GW_OWNER));
        ShowWindow(m_hWnd, SW_SHOWNA);
    }
    return 0;
}

long CQuorDialogEventTask::OnTaskProgress(long task, long percent, const char* text, long step) {
    (void)step;
    (void)task;
    if (!m_hWnd)
        return 0;
    const long clamped = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    SendDlgItemMessageA(m_hWnd, IDC_TASK_BAR, PBM_SETPOS, static_cast<WPARAM>(clamped), 0);
    if (text)
        SetDlgItemTextA(m_hWnd, IDC_TASK_TEXT, text);
    return 0;
}

void CQuorDialogEventTask::OnTaskComplete(long task, BYTE success) {
    (void)task;
    (void)success;
    if (m_hWnd)
        ShowWindow(m_hWnd, SW_HIDE);
}

INT_PTR CALLBACK CQuorDialogEventTask::DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<CQuorDialogEventTask*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_CLOSE:
        // A device task cannot be stopped half-way: the dialog stays until the task completes.
        return TRUE;
    case WM_NCDESTROY:
        self->m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}
