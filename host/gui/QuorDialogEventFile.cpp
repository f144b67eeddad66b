#include "contracts/QuorGui.h"

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
constexpr UINT_PTR kShowTimer = 3;
constexpr UINT kClockMs = 500;
// The window shows the newest state at most this often: a list of small files sends thousands of events
// a second, nobody can read that fast, and every text set is a trip to the window system.
constexpr DWORD kShowEveryMs = 50;
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
};

// What the window is to show and what it shows, by control id (0: the caption). Events change the
// wanted texts; the window takes them over at most every kShowEveryMs, only what differs.
struct Display {
    std::map<int, std::string> wanted = {}, shown = {};
    std::map<int, int> wantedBars = {}, bars = {};
    // The controls by id: a lookup by id is a trip to the window system too.
    std::map<int, HWND> items = {};
    DWORD lastShown = 0;
    bool showPending = false;
    bool clockRunning = false;
    // The hide waits for a grace after the last batch; its timer is set once, not for every batch.
    DWORD finishedAt = 0;
    bool hidePending = false;
};

struct FileWindow {
    CQuorDialogEventFile* dialog;
    FileProgress batch = {};
    Display display = {};
};

// Set when a dialog window took over its state, so that a failed creation knows whether to free it.
thread_local bool t_stateTaken = false;

FileWindow* State(HWND dialog) {
    return dialog ? reinterpret_cast<FileWindow*>(GetWindowLongPtrW(dialog, DWLP_USER)) : nullptr;
}

double Fraction(long long done, long long total) {
    if (total <= 0 || done <= 0)
        return 0.0;
    return done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
}

int BarPosition(double fraction) {
    return static_cast<int>(fraction * kBarRange);
}

HWND Item(HWND dialog, Display& display, int id) {
    auto known = display.items.find(id);
    if (known != display.items.end())
        return known->second;
    HWND item = GetDlgItem(dialog, id);
    if (item)
        display.items[id] = item;
    return item;
}

void SetText(FileWindow& window, int id, const char* text) {
    window.display.wanted[id] = text;
}

void SetBar(FileWindow& window, int id, int position) {
    window.display.wantedBars[id] = position;
}

// The wanted state onto the window, what differs only.
void ShowNow(HWND dialog, Display& display) {
    display.lastShown = GetTickCount();
    if (display.showPending) {
        KillTimer(dialog, kShowTimer);
        display.showPending = false;
    }
    quorgui::NoThrow([&] {
        for (const auto& [id, text] : display.wanted) {
            auto known = display.shown.find(id);
            if (known != display.shown.end() && known->second == text)
                continue;
            display.shown[id] = text;
            SetWindowTextA(id == 0 ? dialog : Item(dialog, display, id), text.c_str());
        }
        for (const auto& [id, position] : display.wantedBars) {
            auto known = display.bars.find(id);
            if (known != display.bars.end() && known->second == position)
                continue;
            display.bars[id] = position;
            SendMessageA(Item(dialog, display, id), PBM_SETPOS, position, 0);
        }
    });
}

// At once when the window has not been updated for a while, else once the while is over.
void Show(HWND dialog, Display& display) {
    const DWORD since = GetTickCount() - display.lastShown;
    if (since >= kShowEveryMs) {
        ShowNow(dialog, display);
    } else if (!display.showPending) {
        display.showPending = SetTimer(dialog, kShowTimer, kShowEveryMs - since, nullptr) != 0;
        if (!display.showPending)
            ShowNow(dialog, display);
    }
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
void Refresh(HWND dialog, FileWindow& window, long files) {
    quorgui::NoThrow([&] {
        const FileProgress& state = window.batch;
        char line[128];
        if (state.fileRunning) {
            SetBar(window, IDC_FILE_BAR, BarPosition(Fraction(state.fileDone, state.fileTotal)));
            if (state.fileTotal > 0)
                std::snprintf(line, sizeof line, "%s of %s", quorgui::FormatBytes(state.fileDone).c_str(),
                              quorgui::FormatBytes(state.fileTotal).c_str());
            else
                std::snprintf(line, sizeof line, "%s", quorgui::FormatBytes(state.fileDone).c_str());
            SetText(window, IDC_FILE_BYTES, line);
        }
        const double fraction = BatchFraction(state, files);
        if (files > 0) {
            const long shown = state.completed < files ? state.completed + 1 : files;
            std::snprintf(line, sizeof line, "File %ld of %ld (%d%%)", shown, files,
                          static_cast<int>(fraction * 100));
            SetText(window, IDC_BATCH_TEXT, line);
        } else {
            SetText(window, IDC_BATCH_TEXT, "");
        }
        SetBar(window, IDC_BATCH_BAR, BarPosition(fraction));
        if (state.started)
            SetText(window, IDC_TIME,
                    quorgui::FormatTimeLine(GetTickCount() - state.started, fraction,
                                            state.movedBefore + (state.fileRunning ? state.fileDone : 0))
                        .c_str());
    });
    Show(dialog, window.display);
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
    auto* state = new (std::nothrow) FileWindow{this};
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
    FileWindow* window = State(m_hWnd);
    if (!window)
        return;
    window->batch = FileProgress{};
    window->batch.started = GetTickCount();
    window->batch.running = true;

    quorgui::NoThrow([&] {
        std::string heading = Safe(title);
        if (totalKB > 0)
            heading += " (" + quorgui::FormatBytes(static_cast<long long>(totalKB) * 1024) + ")";
        SetText(*window, IDC_TITLE, heading.c_str());
        SetText(*window, 0, "File Transfer");
        for (int id : {IDC_FILE_NAME, IDC_SOURCE, IDC_DESTINATION, IDC_FILE_BYTES})
            SetText(*window, id, "");
        SetText(*window, IDCANCEL, "Cancel");
    });
    SetBar(*window, IDC_FILE_BAR, 0);
    // Cancel works again for every new batch, and only when someone listens for it.
    HWND cancel = Item(m_hWnd, window->display, IDCANCEL);
    if ((IsWindowEnabled(cancel) != FALSE) != (m_cancelWindow != nullptr))
        EnableWindow(cancel, m_cancelWindow != nullptr);
    // The clock runs from the first batch until the dialog hides: batches of one file each follow one
    // another, and timers set and killed for each would cost more than the files. A hide timer still
    // pending finds the batch running and leaves the dialog up.
    if (!window->display.clockRunning)
        window->display.clockRunning = SetTimer(m_hWnd, kClockTimer, kClockMs, nullptr) != 0;
    Refresh(m_hWnd, *window, m_files);
    // A window that appears shows this batch, not the last one.
    if (!IsWindowVisible(m_hWnd) && !quorgui::WindowsDisabled()) {
        ShowNow(m_hWnd, window->display);
        quorgui::ShowProgressWindow(m_hWnd);
    }
}

void CQuorDialogEventFile::OnFileXferFileStart(long batch, const char* source, const char* destination,
                                               long sizeBytes, BYTE upload, const char* name) {
    m_batch = batch;
    FileWindow* window = State(m_hWnd);
    if (!window)
        return;
    FileProgress& state = window->batch;
    state.fileRunning = true;
    state.fileDone = 0;
    state.fileTotal = sizeBytes > 0 ? sizeBytes : 0;
    const char* shown = name && *name ? name : NamePart(source);
    quorgui::NoThrow([&] {
        char caption[300];
        std::snprintf(caption, sizeof caption, "%s %s", upload ? "Sending" : "Receiving",
                      *shown ? shown : "file");
        SetText(*window, 0, caption);
        SetText(*window, IDC_FILE_NAME, shown);
        SetText(*window, IDC_SOURCE, Safe(source));
        SetText(*window, IDC_DESTINATION, Safe(destination));
    });
    Refresh(m_hWnd, *window, m_files);
}

void CQuorDialogEventFile::OnFileXferFileProgress(long batch, long fileIndex, long files, long bytesDone,
                                                  long bytesTotal) {
    m_batch = batch;
    if (files > 0)
        m_files = files;
    FileWindow* window = State(m_hWnd);
    if (!window)
        return;
    FileProgress& state = window->batch;
    // The session's numbers are taken as hints: a later file means the earlier ones are done, sizes
    // are never negative and never less than what is done.
    if (fileIndex > state.completed && (m_files == 0 || fileIndex < m_files))
        state.completed = fileIndex;
    state.fileRunning = true;
    state.fileTotal = bytesTotal > 0 ? bytesTotal : state.fileTotal;
    state.fileDone = bytesDone > 0 ? bytesDone : 0;
    if (state.fileTotal > 0 && state.fileDone > state.fileTotal)
        state.fileDone = state.fileTotal;
    Refresh(m_hWnd, *window, m_files);
}

void CQuorDialogEventFile::OnFileXferFileFinish(long batch, BYTE success) {
    m_batch = batch;
    FileWindow* window = State(m_hWnd);
    if (!window || !window->batch.fileRunning)
        return;
    FileProgress& state = window->batch;
    if (success)
        state.fileDone = state.fileTotal > state.fileDone ? state.fileTotal : state.fileDone;
    // The finished file's bar and bytes stay until the next one starts.
    Refresh(m_hWnd, *window, m_files);
    state.movedBefore += state.fileDone;
    state.fileRunning = false;
    state.fileDone = state.fileTotal = 0;
    if (m_files == 0 || state.completed < m_files)
        ++state.completed;
    Refresh(m_hWnd, *window, m_files);
}

void CQuorDialogEventFile::OnFileXferBatchFinish(long batch, BYTE success) {
    (void)batch;
    (void)success;
    m_batch = 0;
    FileWindow* window = State(m_hWnd);
    if (!window)
        return;
    window->batch.running = false;
    window->display.finishedAt = GetTickCount();
    if (!window->display.hidePending)
        window->display.hidePending = SetTimer(m_hWnd, kHideTimer, kHideDelayMs, nullptr) != 0;
}

INT_PTR CALLBACK CQuorDialogEventFile::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        t_stateTaken = true;
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        quorgui::AttachDialogKeyboard(hwnd);
        return TRUE;
    }
    FileWindow* window = State(hwnd);
    if (!window)
        return FALSE;
    CQuorDialogEventFile* self = window->dialog;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            // The owner cancels the request; the dialog says so once per batch and waits for its end.
            HWND cancel = Item(hwnd, window->display, IDCANCEL);
            if (self->m_cancelWindow && IsWindowEnabled(cancel)) {
                PostMessageA(self->m_cancelWindow, self->m_cancelMessage, 0, self->m_batch);
                SetText(*window, IDCANCEL, "Cancelling...");
                ShowNow(hwnd, window->display);
                EnableWindow(cancel, FALSE);
            }
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == kClockTimer && window->batch.running) {
            Refresh(hwnd, *window, self->m_files);
        } else if (wParam == kShowTimer) {
            ShowNow(hwnd, window->display);
        } else if (wParam == kHideTimer) {
            Display& display = window->display;
            KillTimer(hwnd, kHideTimer);
            display.hidePending = false;
            if (window->batch.running)
                return TRUE;
            // A batch that ran and ended since the timer was set starts the grace again.
            const DWORD since = GetTickCount() - display.finishedAt;
            if (since < kHideDelayMs)
                display.hidePending = SetTimer(hwnd, kHideTimer, kHideDelayMs - since, nullptr) != 0;
            if (!display.hidePending) {
                KillTimer(hwnd, kClockTimer);
                display.clockRunning = false;
                ShowNow(hwnd, display);
                ShowWindow(hwnd, SW_HIDE);
            }
        }
        return TRUE;
    case WM_CLOSE:
        // The close box means cancel while a batch runs; otherwise it only hides the dialog.
        if (self->m_batch)
            SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        else
            ShowWindow(hwnd, SW_HIDE);
        return TRUE;
    case WM_SHOWWINDOW:
        quorgui::DialogKeyboardShown(hwnd, wParam != FALSE);
        return FALSE;
    case WM_NCDESTROY:
        quorgui::DetachDialogKeyboard(hwnd);
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        delete window;
        return FALSE;
    default:
        return FALSE;
    }
}
