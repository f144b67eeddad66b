#include "session/QuorGui.h"

#include <commctrl.h>
#include <cstdio>

#include "GuiModule.h"
#include "resource.h"

namespace {

// The bars run over a fixed range so that sizes beyond 2 GB never overflow a position.
constexpr int kBarRange = 1000;

int Fraction(long long done, long long total) {
    if (total <= 0 || done <= 0)
        return 0;
    if (done >= total)
        return kBarRange;
    return static_cast<int>(done * kBarRange / total);
}

void SetText(HWND dialog, int id, const char* text) {
    SetDlgItemTextA(dialog, id, text ? text : "");
}

void SetBar(HWND dialog, int id, int position) {
    SendDlgItemMessageA(dialog, id, PBM_SETPOS, position, 0);
}

void ShowBatchLine(HWND dialog, long fileIndex, long files) {
    char line[64];
    if (files > 0)
        std::snprintf(line, sizeof line, "File %ld of %ld", fileIndex + 1, files);
    else
        line[0] = '\0';
    SetText(dialog, IDC_BATCH_TEXT, line);
}

} // namespace

CQuorDialogEventFile::CQuorDialogEventFile()
    : m_hWnd(nullptr), m_cancelWindow(nullptr), m_cancelMessage(0), m_batch(0), m_files(0) {}

CQuorDialogEventFile::~CQuorDialogEventFile() {
    if (m_hWnd && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
}

void CQuorDialogEventFile::SetCancelInfo(HWND window, UINT message) {
    m_cancelWindow = window;
    m_cancelMessage = message;
}

BOOL CQuorDialogEventFile::Create(HWND parent) {
    if (m_hWnd)
        return FALSE;
    quorgui::InitProgressControls();
    HWND dialog = CreateDialogParamA(quorgui::ModuleInstance(), MAKEINTRESOURCEA(IDD_FILE_PROGRESS), parent,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    if (!dialog)
        return FALSE;
    m_hWnd = dialog;
    SendDlgItemMessageA(dialog, IDC_FILE_BAR, PBM_SETRANGE32, 0, kBarRange);
    SendDlgItemMessageA(dialog, IDC_BATCH_BAR, PBM_SETRANGE32, 0, kBarRange);
    return TRUE;
}

HWND CQuorDialogEventFile::GetSafeHwnd() const {
    return m_hWnd;
}

void CQuorDialogEventFile::OnFileXferBatchStart(long batch, const char* title, long files, long totalKB) {
    m_batch = batch;
    m_files = files;
    if (!m_hWnd)
        return;
    char line[300];
    if (totalKB > 0)
        std::snprintf(line, sizeof line, "%s (%ld KB)", title ? title : "", totalKB);
    else
        std::snprintf(line, sizeof line, "%s", title ? title : "");
    SetText(m_hWnd, IDC_TITLE, line);
    SetText(m_hWnd, IDC_SOURCE, "");
    SetText(m_hWnd, IDC_DESTINATION, "");
    SetBar(m_hWnd, IDC_FILE_BAR, 0);
    SetBar(m_hWnd, IDC_BATCH_BAR, 0);
    ShowBatchLine(m_hWnd, 0, files);
    // Cancel works again for every new batch, and only when someone listens for it.
    HWND cancel = GetDlgItem(m_hWnd, IDCANCEL);
    SetWindowTextA(cancel, "Cancel");
    EnableWindow(cancel, m_cancelWindow != nullptr);
    if (!quorgui::WindowsDisabled() && !IsWindowVisible(m_hWnd)) {
        quorgui::CenterOnOwner(m_hWnd, GetWindow(m_hWnd, GW_OWNER));
        ShowWindow(m_hWnd, SW_SHOWNA);
    }
}

void CQuorDialogEventFile::OnFileXferFileStart(long batch, const char* source, const char* destination,
                                               long sizeBytes, BYTE upload, const char* name) {
    m_batch = batch;
    if (!m_hWnd)
        return;
    (void)sizeBytes;
    char caption[300];
    std::snprintf(caption, sizeof caption, "%s %s", upload ? "Sending" : "Receiving",
                  name && *name ? name : "file");
    SetWindowTextA(m_hWnd, caption);
    SetText(m_hWnd, IDC_SOURCE, source);
    SetText(m_hWnd, IDC_DESTINATION, destination);
    SetBar(m_hWnd, IDC_FILE_BAR, 0);
}

void CQuorDialogEventFile::OnFileXferFileProgress(long batch, long fileIndex, long files, long bytesDone,
                                                  long bytesTotal) {
    m_batch = batch;
    if (files > 0)
        m_files = files;
    if (!m_hWnd)
        return;
    SetBar(m_hWnd, IDC_FILE_BAR, Fraction(bytesDone, bytesTotal));
    ShowBatchLine(m_hWnd, fileIndex, m_files);
    // The batch bar counts finished files plus the share of the running one.
    if (m_files > 0)
        SetBar(
            m_hWnd, IDC_BATCH_BAR,
            static_cast<int>(
                (static_cast<long long>(fileIndex) * kBarRange + Fraction(bytesDone, bytesTotal)) / m_files));
}

void CQuorDialogEventFile::OnFileXferFileFinish(long batch, BYTE success) {
    m_batch = batch;
    if (m_hWnd && success)
        SetBar(m_hWnd, IDC_FILE_BAR, kBarRange);
}

void CQuorDialogEventFile::OnFileXferBatchFinish(long batch, BYTE success) {
    (void)batch;
    (void)success;
    m_batch = 0;
    if (m_hWnd)
        ShowWindow(m_hWnd, SW_HIDE);
}

INT_PTR CALLBACK CQuorDialogEventFile::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<CQuorDialogEventFile*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            // The owner cancels the request; the dialog says so once per batch and waits for its end.
            HWND cancel = GetDlgItem(hwnd, IDCANCEL);
            if (self->m_cancelWindow && IsWindowEnabled(cancel)) {
                PostMessageA(self->m_cancelWindow, self->m_cancelMessage, 0, self->m_batch);
                SetWindowTextA(cancel, "Cancelling...");
                EnableWindow(cancel, FALSE);
            }
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        // The close box means cancel while a batch runs; otherwise it only hides the dialog.
        if (self->m_batch)
            SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        else
            ShowWindow(hwnd, SW_HIDE);
        return TRUE;
    case WM_NCDESTROY:
        self->m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}
