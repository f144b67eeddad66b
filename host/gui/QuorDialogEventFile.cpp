#include "session/QuorGui.h"

#include <commctrl.h>

#include <cstdio>
#include <map>
#include <new>
#include <string>

#include "GuiModule.h"
#include "ProgressWindow.h"
#include "resource.h"

namespace {

// The bars run over a fixed range so that sizes beyond 2 GB never overflow a position.
constexpr int kBarRange = 1000;
constexpr UINT_PTR kClockTimer = 1;
constexpr UINT_PTR kHideTimer = 2;
constexpr UINT kClockMs = 500;
// A list of items runs as one batch after another: a short grace keeps the dialog steady between
// them instead of flashing for every file.
constexpr UINT kHideDelayMs = 250;

// What the window knows of the running batch beyond the class's own members. It lives with the window,
// so the exported class keeps its layout for callers built against older headers.
struct FileProgress {
    CQuorDialogEventFile* dialog;
    DWORD started = 0;
    bool running = false;
    long completed = 0;      // files of the batch that have finished
    long long fileDone = 0;  // bytes of the running file
    long long fileTotal = 0; // its size, when known
    bool fileRunning = false;
    long long movedBefore = 0; // bytes of the finished files
    // What the window shows now, by control id (0: the caption): a list of small files sends several
    // events per file, and most of them change little, so only what changes is set.
    std::map<int, std::string> shown = {};
    std::map<int, int> bars = {};
};

// Set when a dialog window took over its state, so that a failed creation knows whether to free it.
thread_local bool t_stateTaken = false;

FileProgress* State(HWND dialog) {
    return dialog ? reinterpret_cast<FileProgress*>(GetWindowLongPtrW(dialog, DWLP_USER)) : nullptr;
}

double Fraction(long long done, long long total) {
    if (total <= 0 || done <= 0)
        return 0.0;
    return done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
}

int BarPosition(double fraction) {
    return static_cast<int>(fraction * kBarRange);
}

void SetText(HWND dialog, FileProgress& state, int id, const char* text) {
    auto known = state.shown.find(id);
    if (known != state.shown.end() && known->second == text)
        return;
    state.shown[id] = text;
    if (id == 0)
        SetWindowTextA(dialog, text);
    else
        SetDlgItemTextA(dialog, id, text);
}

void SetBar(HWND dialog, FileProgress& state, int id, int position) {
    auto known = state.bars.find(id);
    if (known != state.bars.end() && known->second == position)
        return;
    state.bars[id] = position;
    SendDlgItemMessageA(dialog, id, PBM_SETPOS, position, 0);
}

const char* Safe(const char* text) {
    return text ? text : "";
}

// The name after the last separator of a local or device path.
const char* NamePart(const char* path) {
    const char* name = Safe(path);
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/')
            name = p + 1;
    return name;
}

// The share of the whole batch: finished files plus the running file's part.
double BatchFraction(const FileProgress& state, long files) {
    if (files <= 0)
        return 0.0;
    const double current = state.fileRunning ? Fraction(state.fileDone, state.fileTotal) : 0.0;
    const double fraction = (state.completed + current) / files;
    return fraction > 1.0 ? 1.0 : fraction;
}

// Texts and bars from the state; called for every event and by the clock.
void Refresh(HWND dialog, FileProgress& state, long files) {
    quorgui::NoThrow([&] {
        char line[128];
        if (state.fileRunning) {
            SetBar(dialog, state, IDC_FILE_BAR, BarPosition(Fraction(state.fileDone, state.fileTotal)));
            if (state.fileTotal > 0)
                std::snprintf(line, sizeof line, "%s of %s", quorgui::FormatBytes(state.fileDone).c_str(),
                              quorgui::FormatBytes(state.fileTotal).c_str());
            else
                std::snprintf(line, sizeof line, "%s", quorgui::FormatBytes(state.fileDone).c_str());
            SetText(dialog, state, IDC_FILE_BYTES, line);
        }
        const double fraction = BatchFraction(state, files);
        if (files > 0) {
            const long shown = state.completed < files ? state.completed + 1 : files;
            std::snprintf(line, sizeof line, "File %ld of %ld (%d%%)", shown, files,
                          static_cast<int>(fraction * 100));
            SetText(dialog, state, IDC_BATCH_TEXT, line);
        } else {
            SetText(dialog, state, IDC_BATCH_TEXT, "");
        }
        SetBar(dialog, state, IDC_BATCH_BAR, BarPosition(fraction));
        if (state.started)
            SetText(dialog, state, IDC_TIME,
                    quorgui::FormatTimeLine(GetTickCount() - state.started, fraction,
                                            state.movedBefore + (state.fileRunning ? state.fileDone : 0))
                        .c_str());
    });
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
    auto* state = new (std::nothrow) FileProgress{this};
    if (!state)
        return FALSE;
    // From WM_INITDIALOG on the window owns the state; it is freed with the window.
    t_stateTaken = false;
    HWND dialog = CreateDialogParamA(quorgui::ModuleInstance(), MAKEINTRESOURCEA(IDD_FILE_PROGRESS), parent,
                                     DialogProc, reinterpret_cast<LPARAM>(state));
    if (!dialog) {
        if (!t_stateTaken)
            delete state;
        return FALSE;
    }
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
    m_files = files > 0 ? files : 0;
    FileProgress* state = State(m_hWnd);
    if (!state)
        return;
    FileProgress fresh{this};
    fresh.shown = std::move(state->shown);
    fresh.bars = std::move(state->bars);
    *state = std::move(fresh);
    state->started = GetTickCount();
    state->running = true;

    quorgui::NoThrow([&] {
        std::string heading = Safe(title);
        if (totalKB > 0)
            heading += " (" + quorgui::FormatBytes(static_cast<long long>(totalKB) * 1024) + ")";
        SetText(m_hWnd, *state, IDC_TITLE, heading.c_str());
    });
    SetText(m_hWnd, *state, 0, "File Transfer");
    for (int id : {IDC_FILE_NAME, IDC_SOURCE, IDC_DESTINATION, IDC_FILE_BYTES})
        SetText(m_hWnd, *state, id, "");
    SetBar(m_hWnd, *state, IDC_FILE_BAR, 0);
    // Cancel works again for every new batch, and only when someone listens for it.
    HWND cancel = GetDlgItem(m_hWnd, IDCANCEL);
    SetText(m_hWnd, *state, IDCANCEL, "Cancel");
    if ((IsWindowEnabled(cancel) != FALSE) != (m_cancelWindow != nullptr))
        EnableWindow(cancel, m_cancelWindow != nullptr);
    KillTimer(m_hWnd, kHideTimer);
    SetTimer(m_hWnd, kClockTimer, kClockMs, nullptr);
    Refresh(m_hWnd, *state, m_files);
    quorgui::ShowProgressWindow(m_hWnd);
}

void CQuorDialogEventFile::OnFileXferFileStart(long batch, const char* source, const char* destination,
                                               long sizeBytes, BYTE upload, const char* name) {
    m_batch = batch;
    FileProgress* state = State(m_hWnd);
    if (!state)
        return;
    state->fileRunning = true;
    state->fileDone = 0;
    state->fileTotal = sizeBytes > 0 ? sizeBytes : 0;
    const char* shown = name && *name ? name : NamePart(source);
    char caption[300];
    std::snprintf(caption, sizeof caption, "%s %s", upload ? "Sending" : "Receiving",
                  *shown ? shown : "file");
    SetText(m_hWnd, *state, 0, caption);
    SetText(m_hWnd, *state, IDC_FILE_NAME, shown);
    SetText(m_hWnd, *state, IDC_SOURCE, Safe(source));
    SetText(m_hWnd, *state, IDC_DESTINATION, Safe(destination));
    Refresh(m_hWnd, *state, m_files);
}

void CQuorDialogEventFile::OnFileXferFileProgress(long batch, long fileIndex, long files, long bytesDone,
                                                  long bytesTotal) {
    m_batch = batch;
    if (files > 0)
        m_files = files;
    FileProgress* state = State(m_hWnd);
    if (!state)
        return;
    // The session's numbers are taken as hints: a later file means the earlier ones are done, sizes
    // are never negative and never less than what is done.
    if (fileIndex > state->completed && (m_files == 0 || fileIndex < m_files))
        state->completed = fileIndex;
    state->fileRunning = true;
    state->fileTotal = bytesTotal > 0 ? bytesTotal : state->fileTotal;
    state->fileDone = bytesDone > 0 ? bytesDone : 0;
    if (state->fileTotal > 0 && state->fileDone > state->fileTotal)
        state->fileDone = state->fileTotal;
    Refresh(m_hWnd, *state, m_files);
}

void CQuorDialogEventFile::OnFileXferFileFinish(long batch, BYTE success) {
    m_batch = batch;
    FileProgress* state = State(m_hWnd);
    if (!state || !state->fileRunning)
        return;
    if (success) {
        state->fileDone = state->fileTotal > state->fileDone ? state->fileTotal : state->fileDone;
        SetBar(m_hWnd, *state, IDC_FILE_BAR, kBarRange);
    }
    Refresh(m_hWnd, *state, m_files);
    state->movedBefore += state->fileDone;
    state->fileRunning = false;
    state->fileDone = state->fileTotal = 0;
    if (m_files == 0 || state->completed < m_files)
        ++state->completed;
    Refresh(m_hWnd, *state, m_files);
}

void CQuorDialogEventFile::OnFileXferBatchFinish(long batch, BYTE success) {
    (void)batch;
    (void)success;
    m_batch = 0;
    FileProgress* state = State(m_hWnd);
    if (!state)
        return;
    state->running = false;
    KillTimer(m_hWnd, kClockTimer);
    SetTimer(m_hWnd, kHideTimer, kHideDelayMs, nullptr);
}

INT_PTR CALLBACK CQuorDialogEventFile::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        t_stateTaken = true;
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        quorgui::AttachDialogKeyboard(hwnd);
        return TRUE;
    }
    FileProgress* state = State(hwnd);
    if (!state)
        return FALSE;
    CQuorDialogEventFile* self = state->dialog;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            // The owner cancels the request; the dialog says so once per batch and waits for its end.
            HWND cancel = GetDlgItem(hwnd, IDCANCEL);
            if (self->m_cancelWindow && IsWindowEnabled(cancel)) {
                PostMessageA(self->m_cancelWindow, self->m_cancelMessage, 0, self->m_batch);
                SetText(hwnd, *state, IDCANCEL, "Cancelling...");
                EnableWindow(cancel, FALSE);
            }
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == kClockTimer && state->running) {
            Refresh(hwnd, *state, self->m_files);
        } else if (wParam == kHideTimer) {
            KillTimer(hwnd, kHideTimer);
            if (!state->running)
                ShowWindow(hwnd, SW_HIDE);
        }
        return TRUE;
    case WM_CLOSE:
        // The close box means cancel while a batch runs; otherwise it only hides the dialog.
        if (self->m_batch)
            SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        else
            ShowWindow(hwnd, SW_HIDE);
        return TRUE;
    case WM_NCDESTROY:
        quorgui::DetachDialogKeyboard(hwnd);
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        delete state;
        return FALSE;
    default:
        return FALSE;
    }
}
