#include "contracts/QuorGui.h"

#include <commctrl.h>

#include <cstdio>
#include <new>
#include <string>

#include "GuiModule.h"
#include "ProgressWindow.h"
#include "resource.h"

namespace {

constexpr UINT_PTR kClockTimer = 1;
constexpr UINT kClockMs = 500;

// What the window knows of the running task; it lives with the window (see the file dialog).
struct TaskProgress {
    CQuorDialogEventTask* dialog;
    DWORD started = 0;
    bool running = false;
    long percent = 0;
    bool stopRequested = false;
};

thread_local bool t_stateTaken = false;

TaskProgress* State(HWND dialog) {
    return dialog ? reinterpret_cast<TaskProgress*>(GetWindowLongPtrW(dialog, DWLP_USER)) : nullptr;
}

void ShowTime(HWND dialog, const TaskProgress& state) {
    quorgui::NoThrow([&] {
        const std::string line =
            std::to_string(state.percent) + "% done. " +
            quorgui::FormatTimeLine(GetTickCount() - state.started, state.percent / 100.0, -1);
        SetDlgItemTextA(dialog, IDC_TIME, line.c_str());
    });
}

// Non-zero asks the session to stop the task.
long Answer(const TaskProgress* state) {
    return state && state->stopRequested ? 1 : 0;
}

} // namespace

CQuorDialogEventTask::CQuorDialogEventTask() : m_hWnd(nullptr) {}

CQuorDialogEventTask::~CQuorDialogEventTask() {
    if (m_hWnd && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
}

BOOL CQuorDialogEventTask::Create(HWND parent) {
    if (m_hWnd)
        return FALSE;
    quorgui::InitProgressControls();
    auto* state = new (std::nothrow) TaskProgress{this};
    if (!state)
        return FALSE;
    t_stateTaken = false;
    HWND dialog = CreateDialogParamA(quorgui::ModuleInstance(), MAKEINTRESOURCEA(IDD_TASK_PROGRESS), parent,
                                     DialogProc, reinterpret_cast<LPARAM>(state));
    if (!dialog) {
        if (!t_stateTaken)
            delete state;
        return FALSE;
    }
    m_hWnd = dialog;
    SendDlgItemMessageA(dialog, IDC_TASK_BAR, PBM_SETRANGE32, 0, 100);
    return TRUE;
}

HWND CQuorDialogEventTask::GetSafeHwnd() const {
    return m_hWnd;
}

long CQuorDialogEventTask::OnTaskStart(long task, const char* title, const char* file) {
    (void)task;
    TaskProgress* state = State(m_hWnd);
    if (!state)
        return 0;
    *state = TaskProgress{this};
    state->started = GetTickCount();
    state->running = true;
    SetDlgItemTextA(m_hWnd, IDC_TITLE, title ? title : "");
    SetDlgItemTextA(m_hWnd, IDC_TASK_FILE, file ? file : "");
    SetDlgItemTextA(m_hWnd, IDC_TASK_TEXT, "");
    SendDlgItemMessageA(m_hWnd, IDC_TASK_BAR, PBM_SETPOS, 0, 0);
    HWND cancel = GetDlgItem(m_hWnd, IDCANCEL);
    SetWindowTextA(cancel, "Cancel");
    EnableWindow(cancel, TRUE);
    ShowTime(m_hWnd, *state);
    SetTimer(m_hWnd, kClockTimer, kClockMs, nullptr);
    quorgui::ShowProgressWindow(m_hWnd);
    return Answer(state);
}

long CQuorDialogEventTask::OnTaskProgress(long task, long percent, const char* text, long step) {
    (void)step;
    (void)task;
    TaskProgress* state = State(m_hWnd);
    if (!state)
        return 0;
    state->percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    SendDlgItemMessageA(m_hWnd, IDC_TASK_BAR, PBM_SETPOS, static_cast<WPARAM>(state->percent), 0);
    if (text)
        SetDlgItemTextA(m_hWnd, IDC_TASK_TEXT, text);
    ShowTime(m_hWnd, *state);
    return Answer(state);
}

void CQuorDialogEventTask::OnTaskComplete(long task, BYTE success) {
    (void)task;
    (void)success;
    TaskProgress* state = State(m_hWnd);
    if (!state)
        return;
    state->running = false;
    KillTimer(m_hWnd, kClockTimer);
    ShowWindow(m_hWnd, SW_HIDE);
}

INT_PTR CALLBACK CQuorDialogEventTask::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        t_stateTaken = true;
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        quorgui::AttachDialogKeyboard(hwnd);
        return TRUE;
    }
    TaskProgress* state = State(hwnd);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            // The session hears it as the answer to its next task event and stops the task there.
            HWND cancel = GetDlgItem(hwnd, IDCANCEL);
            if (state->running && IsWindowEnabled(cancel)) {
                state->stopRequested = true;
                SetWindowTextA(cancel, "Stopping...");
                EnableWindow(cancel, FALSE);
            }
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == kClockTimer && state->running)
            ShowTime(hwnd, *state);
        return TRUE;
    case WM_CLOSE:
        // The close box asks to stop, as Cancel does; the dialog goes when the task completes.
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    case WM_SHOWWINDOW:
        quorgui::DialogKeyboardShown(hwnd, wParam != FALSE);
        return FALSE;
    case WM_NCDESTROY:
        quorgui::DetachDialogKeyboard(hwnd);
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        state->dialog->m_hWnd = nullptr;
        delete state;
        return FALSE;
    default:
        return FALSE;
    }
}
