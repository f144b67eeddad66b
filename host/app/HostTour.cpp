#include "HostTour.h"
#include "FileDragSource.h"
#include "framework/Dpi.h"
#include "framework/Handles.h"

#include <algorithm>

#include "HostWindow.h"
#include "Screenshot.h"
#include "resource.h"

#include <commctrl.h>
#include <shlobj.h>

namespace {

constexpr UINT kTickMs = 100;
constexpr DWORD kSettleMs = 400; // painting after a change, before a screenshot
constexpr DWORD kDialogWaitMs = 5000;
constexpr DWORD kTourLimitMs = 75000;
constexpr DWORD kTransferWaitMs = 20000; // the batch, start to end
constexpr int kConfirmNo = 207; // the plug-in's "No" in its delete confirmation
// What the transfer steps leave in the tour's folder and on the device's USER\PROGRAMS.
const wchar_t* const kProgramFile = L"tour.prgx";
const wchar_t* const kBatchFiles[] = {L"tour-1.txt", L"tour-2.txt", L"tour-3.txt"};
// A file that takes a few seconds on a throttled connection: long enough to photograph its progress.
const wchar_t* const kLargeFile = L"tour-large.dat";
constexpr LONGLONG kLargeBytes = 12LL << 20;
const wchar_t* const kThrottled = L"demo;throttle=4194304";

CHostTour* g_tour = nullptr; // thread timers carry no context

std::wstring WindowText(HWND hwnd) {
    wchar_t text[512] = L"";
    GetWindowTextW(hwnd, text, 512);
    return text;
}

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    wchar_t cls[16] = L"";
    GetClassNameW(child, cls, 16);
    if (lstrcmpiW(cls, L"Static") == 0) {
        const std::wstring text = WindowText(child);
        if (!text.empty())
            *reinterpret_cast<std::wstring*>(param) += L" | " + text;
    }
    return TRUE;
}

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
    wchar_t cls[16] = L"";
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && lstrcmpW(cls, L"#32770") == 0)
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

// The visible dialog boxes of this thread, owned or not (a plug-in may open its boxes without owner).
std::vector<HWND> VisibleDialogs() {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

} // namespace

CHostTour::CHostTour(CHostWindow& host, std::wstring folder) : m_host(host), m_folder(std::move(folder)) {
    while (!m_folder.empty() && (m_folder.back() == L'\\' || m_folder.back() == L'/'))
        m_folder.pop_back();
}

CHostTour::~CHostTour() {
    if (m_record != INVALID_HANDLE_VALUE)
        RemoveTransferFiles();
    if (m_timer)
        KillTimer(nullptr, m_timer);
    if (g_tour == this)
        g_tour = nullptr;
    m_host.SetLog(nullptr);
    if (m_record != INVALID_HANDLE_VALUE)
        CloseHandle(m_record);
}

bool CHostTour::Open() {
    CreateDirectoryW(m_folder.c_str(), nullptr);
    const std::wstring path = m_folder + L"\\tour.log";
    m_record = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_record == INVALID_HANDLE_VALUE)
        return false;
    m_host.SetLog([this](const std::wstring& line) { Log(line); });
    Log(L"tour start");
    return true;
}

void CHostTour::Start() {
    g_tour = this;
    // A previous tour's uploads would turn this one's into overwrite questions.
    RemoveTransferFiles();
    m_before = VisibleDialogs();
    m_start = m_stepStart = GetTickCount();
    m_timer = SetTimer(nullptr, 0, kTickMs, OnTimer);
}

void CHostTour::Log(const std::wstring& line) {
    if (m_record == INVALID_HANDLE_VALUE)
        return;
    // One line per event, written at once, so a tour that dies still leaves its trace.
    std::wstring text = line;
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n')
            c = L' ';
    const std::string utf8 = [&] {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
        std::string out(n > 0 ? n : 0, '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                                nullptr, nullptr);
        return out + "\n";
    }();
    DWORD written = 0;
    WriteFile(m_record, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void CALLBACK CHostTour::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    try {
        if (g_tour)
            g_tour->Tick();
    } catch (...) {
        // Nothing leaves a timer callback; the tour's time limit ends a tour that cannot go on.
    }
}

void CHostTour::Next(Step step) {
    m_step = step;
    m_stepStart = GetTickCount();
    m_seenDialog = nullptr;
    m_shotTaken = false;
}

void CHostTour::Fail(const std::wstring& why) {
    Log(L"tour failed: " + why);
    if (m_result == 0)
        m_result = 1;
}

bool CHostTour::Shot(const wchar_t* name) {
    HWND host = m_host.Window();
    const RECT area = AreaWithThreadWindows(host);
    const bool saved = SaveScreenshot(host, area, m_folder + L"\\" + name);
    Log(std::wstring(saved ? L"shot " : L"shot failed ") + name + L" " +
        std::to_wstring(area.right - area.left) + L"x" + std::to_wstring(area.bottom - area.top));
    if (!saved)
        Fail(std::wstring(L"no screenshot ") + name);
    return saved;
}

int CHostTour::Scaled(int pixels) const {
    return MulDiv(pixels, WindowDpi(m_host.Window()), 96);
}

HWND CHostTour::NewDialog() const {
    for (HWND dialog : VisibleDialogs())
        if (std::find(m_before.begin(), m_before.end(), dialog) == m_before.end())
            return dialog;
    return nullptr;
}

void CHostTour::CloseDialog(HWND dialog, int preferred) {
    // A button the dialog has, in order of harmlessness.
    for (int id : {preferred, IDCANCEL, IDNO, IDOK})
        if (HWND button = GetDlgItem(dialog, id); button && IsWindowEnabled(button)) {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            return;
        }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}

namespace {

struct ClassSearch {
    const wchar_t* name;
    HWND found;
};

// A named function, not a lambda: a lambda does not convert to the 32-bit build's stdcall WNDENUMPROC.
BOOL CALLBACK MatchClass(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<ClassSearch*>(data);
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    if (lstrcmpiW(name, search->name) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND ChildOfClass(HWND parent, const wchar_t* className) {
    ClassSearch search = {className, nullptr};
    EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HTREEITEM ChildItem(HWND tree, HTREEITEM parent, const wchar_t* text) {
    for (HTREEITEM item = TreeView_GetChild(tree, parent); item; item = TreeView_GetNextSibling(tree, item)) {
        wchar_t buffer[MAX_PATH] = L"";
        TVITEMW query = {};
        query.mask = TVIF_TEXT;
        query.hItem = item;
        query.pszText = buffer;
        query.cchTextMax = MAX_PATH;
        if (SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query)) && lstrcmpW(buffer, text) == 0)
            return item;
    }
    return nullptr;
}

void Click(HWND window, int x, int y) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

} // namespace

HWND CHostTour::NewDialogTitled(const wchar_t* caption) const {
    for (HWND dialog : VisibleDialogs())
        if (std::find(m_before.begin(), m_before.end(), dialog) == m_before.end() && WindowText(dialog) == caption)
            return dialog;
    return nullptr;
}

bool CHostTour::ShootDialog(const wchar_t* caption, const wchar_t* shot, int answer, DWORD wait) {
    HWND dialog = NewDialogTitled(caption);
    if (!dialog) {
        if (InStep() > wait) {
            Fail(std::wstring(L"no ") + caption + L" box");
            return true;
        }
        return false;
    }
    if (!Settled(dialog))
        return false;
    ShootWithTexts(dialog, shot);
    CloseDialog(dialog, answer);
    return true;
}

bool CHostTour::Settled(HWND window) {
    if (window != m_seenDialog) {
        m_seenDialog = window;
        m_seenAt = GetTickCount();
        return false;
    }
    return GetTickCount() - m_seenAt >= kSettleMs;
}

void CHostTour::ShootWithTexts(HWND dialog, const wchar_t* shot) {
    std::wstring text = WindowText(dialog);
    EnumChildWindows(dialog, CollectText, reinterpret_cast<LPARAM>(&text));
    Log(L"dialog " + text);
    Shot(shot);
}

bool CHostTour::WriteLocalFile(const wchar_t* name, LONGLONG size) {
    HANDLE file = CreateFileW(LocalFile(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // Zeros to the size without writing them: the file system keeps the file sparse.
    static const char kText[] = "Dorvex tour\r\n";
    DWORD written = 0;
    bool ok = WriteFile(file, kText, sizeof kText - 1, &written, nullptr) != FALSE;
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (ok && size > static_cast<LONGLONG>(written))
        ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

bool CHostTour::DropOnList(const std::vector<std::wstring>& files) {
    HWND list = ChildOfClass(m_host.Window(), WC_LISTVIEWW);
    if (!list)
        return false;
    // What the shell hands a window that accepts files: DROPFILES, then the ANSI paths, each with its
    // NUL, and one more NUL.
    std::string paths;
    for (const std::wstring& file : files) {
        const int n = WideCharToMultiByte(CP_ACP, 0, file.c_str(), -1, nullptr, 0, nullptr, nullptr);
        if (n <= 1)
            return false;
        std::string path(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_ACP, 0, file.c_str(), -1, path.data(), n, nullptr, nullptr);
        paths += path; // with its NUL
    }
    paths += '\0';
    HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + paths.size());
    if (!drop)
        return false;
    auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
    header->pFiles = sizeof(DROPFILES);
    header->pt = {60, 60}; // client coordinates of the list: where the menu opens
    header->fNC = FALSE;
    header->fWide = FALSE;
    memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), paths.data(), paths.size());
    GlobalUnlock(drop);
    // The receiver finishes the drop (DragFinish frees it); one that never came is ours to free.
    if (!PostMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0)) {
        GlobalFree(drop);
        return false;
    }
    return true;
}

void CHostTour::RemoveTransferFiles() {
    for (HANDLE lock : m_locks)
        CloseHandle(lock);
    m_locks.clear();
    std::vector<const wchar_t*> names(std::begin(kBatchFiles), std::end(kBatchFiles));
    names.push_back(kProgramFile);
    names.push_back(kLargeFile);
    // The uploads, when the device is the session component's demo device (other devices keep them):
    // in USER\\PROGRAMS, or at the root where the list stands after the throttled reconnection.
    std::wstring device;
    const std::wstring& connection = m_host.Connection();
    if (_wcsicmp(connection.c_str(), L"demo") == 0 || connection == kThrottled) {
        wchar_t local[MAX_PATH] = L"";
        if (GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH) - 1 < MAX_PATH - 1)
            device = std::wstring(local) + L"\\Dorvex\\DemoDevice\\";
    }
    for (const wchar_t* name : names) {
        DeleteFileW(LocalFile(name).c_str());
        if (!device.empty()) {
            DeleteFileW((device + L"USER\\PROGRAMS\\" + name).c_str());
            DeleteFileW((device + name).c_str());
        }
    }
}

bool CHostTour::ShootMenu(const wchar_t* shot, const wchar_t* what) {
    // The menu is the plug-in's modal loop; the thread timer goes on inside it.
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu && !IsWindowVisible(menu))
        menu = nullptr;
    if (m_menuAnswered) {
        if (!menu)
            return true;
        if (InStep() > kDialogWaitMs) {
            Fail(std::wstring(L"the ") + what + L" did not take the keyboard");
            return true;
        }
        return false;
    }
    if (!menu) {
        if (InStep() > kDialogWaitMs) {
            Fail(std::wstring(L"no ") + what);
            return true;
        }
        return false;
    }
    if (!Settled(menu))
        return false;
    Shot(shot);
    // Dismissed with Escape; the menu loop reads the thread's queue.
    PostMessageW(ChildOfClass(m_host.Window(), WC_LISTVIEWW), WM_KEYDOWN, VK_ESCAPE, 1);
    Log(std::wstring(what) + L" dismissed");
    m_menuAnswered = true;
    m_stepStart = GetTickCount();
    return false;
}

void CHostTour::DragOverTree() {
    HWND tree = ChildOfClass(m_host.Window(), WC_TREEVIEWW);
    HTREEITEM folder = tree ? ChildItem(tree, TreeView_GetRoot(tree), L"SYS") : nullptr;
    RECT item = {};
    if (!folder || !TreeView_GetItemRect(tree, folder, &item, TRUE) || !WriteLocalFile(kProgramFile, 0)) {
        Fail(L"no tree folder to drag over");
        return;
    }
    m_dragTarget = {(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    ClientToScreen(tree, &m_dragTarget);
    // The hand: onto the folder, resting there until the shot is taken, then Escape and the button up.
    struct Hand {
        static DWORD WINAPI Run(void* tour) {
            auto* self = static_cast<CHostTour*>(tour);
            Sleep(200);
            for (int step = 0; step < 4; ++step, Sleep(100))
                MoveTo({self->m_dragTarget.x + step, self->m_dragTarget.y});
            WaitForSingleObject(self->m_dragShot, 10000);
            Key(VK_ESCAPE, true);
            Key(VK_ESCAPE, false);
            Sleep(100);
            LeftButton(false);
            return 0;
        }
    };
    m_dragShot = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Pressed in a window of its own in the screen's corner, as files are dragged out of a folder window.
    WNDCLASSW type = {};
    type.lpfnWndProc = DefWindowProcW;
    type.lpszClassName = L"VarnelTourFolder";
    RegisterClassW(&type);
    const int right = GetSystemMetrics(SM_CXSCREEN), bottom = GetSystemMetrics(SM_CYSCREEN);
    HWND source = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, type.lpszClassName, L"", WS_POPUP | WS_VISIBLE,
                                  right - 60, bottom - 60, 60, 60, nullptr, nullptr, nullptr, nullptr);
    MoveTo({right - 30, bottom - 30});
    LeftButton(true);
    // The press reaches the system before the drag reads the button (the tour waits meanwhile).
    Next(Step::DragEnding);
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 150; Sleep(10)) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    ShowWindow(source, SW_HIDE); // the button is down: the drag needs the window no more, the shot never
    HANDLE hand = CreateThread(nullptr, 0, Hand::Run, this, 0, nullptr);
    Next(Step::ShotDragOver);
    CFileDragSource files({NarrowFromWide(LocalFile(kProgramFile).c_str())});
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT ended = hand ? files.Drag(&effect) : E_FAIL;
    if (hand) {
        WaitForSingleObject(hand, INFINITE);
        CloseHandle(hand);
    } else {
        LeftButton(false);
    }
    CloseHandle(m_dragShot);
    m_dragShot = nullptr;
    DestroyWindow(source);
    Log(ended == DRAGDROP_S_CANCEL ? L"drag cancelled with Escape" : L"the drag did not end with Escape");
    if (ended != DRAGDROP_S_CANCEL)
        Fail(L"the drag over the tree was not cancelled");
}

bool CHostTour::HandleUnexpectedDialog() {
    HWND dialog = NewDialog();
    if (!dialog)
        return false;
    if (!Settled(dialog))
        return true;
    const std::wstring name = L"unexpected-" + std::to_wstring(++m_unexpected) + L".bmp";
    ShootWithTexts(dialog, name.c_str());
    CloseDialog(dialog, IDOK);
    m_seenDialog = nullptr;
    return true;
}

bool CHostTour::Browse(Step step) {
    HWND host = m_host.Window();
    HWND tree = ChildOfClass(host, WC_TREEVIEWW);
    HWND list = ChildOfClass(host, WC_LISTVIEWW);
    if (!tree || !list)
        return false;
    switch (step) {
    case Step::Browse: {
        // The device's programs: open USER in the tree, then select PROGRAMS.
        HTREEITEM user = ChildItem(tree, TreeView_GetRoot(tree), L"USER");
        if (!user)
            return false;
        TreeView_Expand(tree, user, TVE_EXPAND);
        HTREEITEM programs = ChildItem(tree, user, L"PROGRAMS");
        if (!programs)
            return false;
        TreeView_SelectItem(tree, programs);
        Log(L"browse USER\\PROGRAMS");
        return true;
    }
    case Step::SortBySize: {
        // A click on the middle of the Size column's header, as the mouse gives it.
        HWND header = ListView_GetHeader(list);
        RECT column = {};
        if (!header || !Header_GetItemRect(header, 1, &column))
            return false;
        Click(header, (column.left + column.right) / 2, (column.top + column.bottom) / 2);
        Log(L"sort by size");
        return true;
    }
    case Step::MoveSplitter: {
        // The bar between the panes, dragged to 280 pixels from the plug-in's left edge (wherever a
        // remembered layout put it, so that every tour shows the same).
        HWND bar = GetDlgItem(GetParent(tree), 1701);
        if (!bar)
            return false;
        RECT before = {}, after = {};
        GetWindowRect(bar, &before);
        // The bar is mostly frame: grab its middle, which lies outside its (empty) client area.
        POINT grab = {(before.left + before.right) / 2, (before.top + before.bottom) / 2};
        POINT drop = {Scaled(280), 0};
        ClientToScreen(GetParent(bar), &drop);
        drop.y = grab.y;
        ScreenToClient(bar, &grab);
        ScreenToClient(bar, &drop);
        SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(grab.x, grab.y));
        SendMessageW(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((grab.x + drop.x) / 2, grab.y));
        SendMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(drop.x, drop.y));
        GetWindowRect(bar, &after);
        Log(L"splitter moved " + std::to_wstring(after.left - before.left) + L" pixels");
        return true;
    }
    default:
        return false;
    }
}

void CHostTour::Tick() {
    HWND host = m_host.Window();
    if (m_step == Step::Done)
        return;
    if (!host) {
        // The tour starts before the window, so that a box the plug-in opens while the host sets it up
        // is handled too.
        if (m_hostSeen) {
            Log(L"tour ended: the window was closed");
            Next(Step::Done);
        }
        return;
    }
    m_hostSeen = true;
    if (GetTickCount() - m_start > kTourLimitMs) {
        Log(L"tour timed out");
        m_result = 2;
        Next(Step::Done);
        PostMessageW(host, WM_CLOSE, 0, 0);
        return;
    }

    switch (m_step) {
    case Step::WaitForStatus:
        if (HandleUnexpectedDialog())
            return;
        if (m_host.StatusReported() || !m_host.Problem().empty() || InStep() >= kStatusWait) {
            Log(L"status " + m_host.StatusText(0) + (m_host.StatusReported() ? L"" : L" (none reported)"));
            Next(Step::ShotHost);
        }
        return;
    case Step::ShotHost:
        if (HandleUnexpectedDialog() || InStep() < kSettleMs)
            return;
        Log(L"dpi " + std::to_wstring(WindowDpi(host)));
        Shot(L"01-host.bmp");
        Next(Step::OpenConnect);
        return;
    case Step::OpenConnect:
        if (HandleUnexpectedDialog())
            return;
        PostMessageW(host, WM_COMMAND, ID_FILE_CONNECT, 0);
        Next(Step::ShotConnect);
        return;
    case Step::ShotConnect:
    case Step::ShotAbout: {
        const bool connect = m_step == Step::ShotConnect;
        HWND dialog = NewDialog();
        if (!dialog) {
            if (InStep() > kDialogWaitMs) {
                Fail(connect ? L"no Connect dialog" : L"no about box");
                Next(connect ? Step::OpenAbout : Step::Resize);
            }
            return;
        }
        if (dialog != m_seenDialog)
            Log(L"dialog " + WindowText(dialog));
        if (!Settled(dialog))
            return;
        Shot(connect ? L"02-connect.bmp" : L"03-about.bmp");
        CloseDialog(dialog, connect ? IDCANCEL : IDOK);
        Next(connect ? Step::OpenAbout : Step::Resize);
        return;
    }
    case Step::OpenAbout:
        // The Connect dialog closes first; anything else still open counts as unexpected.
        if (HandleUnexpectedDialog())
            return;
        PostMessageW(host, WM_COMMAND, ID_HELP_ABOUT_PLUGIN, 0);
        Next(Step::ShotAbout);
        return;
    case Step::Resize:
        if (HandleUnexpectedDialog())
            return;
        // Also to the screen's corner: where the window system put it, the right part could be off the
        // screen, and the screenshot would show less than the window.
        SetWindowPos(host, nullptr, 0, 0, Scaled(860), Scaled(540), SWP_NOZORDER);
        Next(Step::ShotResized);
        return;
    case Step::ShotResized:
        if (InStep() < kSettleMs)
            return;
        Shot(L"04-resized.bmp");
        Next(Step::Browse);
        return;
    case Step::Browse:
    case Step::SortBySize:
    case Step::MoveSplitter:
        if (HandleUnexpectedDialog() || InStep() < kSettleMs)
            return;
        if (!Browse(m_step))
            Fail(L"no browser panes to use");
        Next(m_step == Step::Browse ? Step::SortBySize : m_step == Step::SortBySize ? Step::MoveSplitter : Step::ShotBrowser);
        return;
    case Step::ShotBrowser:
        if (HandleUnexpectedDialog() || InStep() < kSettleMs)
            return;
        Shot(L"05-browser.bmp");
        Next(Step::PressDelete);
        return;
    case Step::PressDelete: {
        if (HandleUnexpectedDialog())
            return;
        // The first row selected and focused, then the Delete key as the keyboard gives it to the list.
        HWND list = ChildOfClass(host, WC_LISTVIEWW);
        if (!list || ListView_GetItemCount(list) < 1) {
            Fail(L"no file row to delete");
            Next(Step::DropProgram);
            return;
        }
        SetFocus(list);
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        wchar_t name[MAX_PATH] = L"";
        LVITEMW item = {};
        item.pszText = name;
        item.cchTextMax = MAX_PATH;
        SendMessageW(list, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
        Log(std::wstring(L"delete key on ") + name);
        PostMessageW(list, WM_KEYDOWN, VK_DELETE, 1);
        Next(Step::ShotConfirm);
        return;
    }
    case Step::ShotConfirm:
        if (ShootDialog(L"Confirm", L"06-confirm.bmp", kConfirmNo, kDialogWaitMs))
            Next(Step::DropProgram);
        return;
    case Step::DropProgram:
        if (HandleUnexpectedDialog() || InStep() < kSettleMs)
            return;
        if (!WriteLocalFile(kProgramFile, 0) || !DropOnList({LocalFile(kProgramFile)})) {
            Fail(L"no drop of the program file");
            Next(Step::DropBatch);
            return;
        }
        Log(std::wstring(L"drop ") + kProgramFile);
        m_menuAnswered = false;
        Next(Step::ShotDropMenu);
        return;
    case Step::ShotDropMenu:
        if (ShootMenu(L"07-drop-menu.bmp", L"drop menu"))
            Next(Step::DragOverTree);
        return;
    case Step::DragOverTree:
        if (HandleUnexpectedDialog() || InStep() < kSettleMs)
            return;
        DragOverTree();
        Next(Step::ContextMenu);
        return;
    case Step::ShotDragOver: {
        // Inside the drag's own loop: the folder under the pointer shows as the drop target.
        HWND tree = ChildOfClass(host, WC_TREEVIEWW);
        TVHITTESTINFO hit = {};
        hit.pt = m_dragTarget;
        ScreenToClient(tree, &hit.pt);
        HTREEITEM item = TreeView_HitTest(tree, &hit);
        const bool shown = item && (TreeView_GetItemState(tree, item, TVIS_DROPHILITED) & TVIS_DROPHILITED);
        if (shown && Settled(tree)) {
            Shot(L"08-drag-over-tree.bmp");
            Log(L"drag over the tree: folder shown as the drop target");
        } else if (InStep() > kDialogWaitMs) {
            Fail(L"no drop target shown under the drag");
        } else {
            return;
        }
        SetEvent(m_dragShot);
        Next(Step::DragEnding);
        return;
    }
    case Step::DragEnding:
        return;
    case Step::ContextMenu: {
        if (HandleUnexpectedDialog() || InStep() < kSettleMs)
            return;
        // A row selected and files on the clipboard, so that Copy and Paste are both offered.
        HWND list = ChildOfClass(host, WC_LISTVIEWW);
        CFileDragSource files({NarrowFromWide(LocalFile(kProgramFile).c_str())});
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        if (list && SUCCEEDED(files.GetData(&format, &medium)) && OpenClipboard(host)) {
            EmptyClipboard();
            if (!SetClipboardData(CF_HDROP, medium.hGlobal))
                GlobalFree(medium.hGlobal);
            CloseClipboard();
        }
        ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        PostMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(-1, -1));
        Log(L"context menu on the first row");
        m_menuAnswered = false;
        Next(Step::ShotContextMenu);
        return;
    }
    case Step::ShotContextMenu:
        if (ShootMenu(L"12-context-menu.bmp", L"context menu")) {
            if (OpenClipboard(host)) {
                EmptyClipboard();
                CloseClipboard();
            }
            Next(Step::DropBatch);
        }
        return;
    case Step::DropBatch: {
        if (HandleUnexpectedDialog() || InStep() < kSettleMs)
            return;
        // Three files; the last two held open without sharing, so that the session cannot read them.
        std::vector<std::wstring> files;
        bool ok = true;
        for (const wchar_t* name : kBatchFiles) {
            ok = ok && WriteLocalFile(name, 0);
            files.push_back(LocalFile(name));
        }
        for (size_t i = 1; ok && i < files.size(); ++i) {
            HANDLE lock = CreateFileW(files[i].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            ok = lock != INVALID_HANDLE_VALUE;
            if (ok)
                m_locks.push_back(lock);
        }
        if (!ok || !DropOnList(files)) {
            Fail(L"no drop of the batch");
            Next(Step::ShrinkBelowMinimum);
            return;
        }
        Log(L"drop tour-1.txt, tour-2.txt, tour-3.txt (the last two locked)");
        Next(Step::ShotError);
        return;
    }
    case Step::ShotError:
        if (ShootDialog(L"Error", L"09-error.bmp", IDOK, kTransferWaitMs))
            Next(Step::ShotSummary);
        return;
    case Step::ShotSummary:
        if (ShootDialog(L"Dorvex", L"10-summary.bmp", IDOK, kTransferWaitMs)) {
            for (HANDLE lock : m_locks)
                CloseHandle(lock);
            m_locks.clear();
            Next(Step::Throttle);
        }
        return;
    case Step::Throttle:
        // Only the demo device is known to take the option; another device is left as it is.
        if (_wcsicmp(m_host.Connection().c_str(), L"demo") != 0) {
            Log(L"no progress shot: not the demo device");
            Next(Step::ShrinkBelowMinimum);
            return;
        }
        m_host.Connect(kThrottled);
        Next(Step::DropLarge);
        return;
    case Step::DropLarge:
        if (HandleUnexpectedDialog())
            return;
        // The connection and the list it fills first, then the drop.
        if (!m_host.StatusReported() || InStep() < 4 * kSettleMs) {
            if (InStep() > kDialogWaitMs) {
                Fail(L"no throttled connection");
                Next(Step::ShrinkBelowMinimum);
            }
            return;
        }
        if (!WriteLocalFile(kLargeFile, kLargeBytes) || !DropOnList({LocalFile(kLargeFile)})) {
            Fail(L"no drop of the large file");
            Next(Step::ShrinkBelowMinimum);
            return;
        }
        Log(std::wstring(L"drop ") + kLargeFile + L" on " + kThrottled);
        Next(Step::ShotProgress);
        return;
    case Step::ShotProgress: {
        const std::wstring caption = std::wstring(L"Sending ") + kLargeFile;
        HWND dialog = NewDialogTitled(caption.c_str());
        if (m_shotTaken || !dialog) {
            // Before the shot: the dialog is awaited. After it: the upload is left to run to its end.
            if (m_shotTaken && !dialog) {
                Next(Step::ShrinkBelowMinimum);
            } else if (InStep() > kTransferWaitMs) {
                Fail(m_shotTaken ? L"the large file's upload did not end" : L"no progress dialog");
                Next(Step::ShrinkBelowMinimum);
            }
            return;
        }
        if (!Settled(dialog))
            return;
        ShootWithTexts(dialog, L"11-progress.bmp");
        m_shotTaken = true;
        return;
    }
    case Step::ShrinkBelowMinimum: {
        if (HandleUnexpectedDialog())
            return;
        // Smaller than the plug-in allows: the window must stop at the plug-in's minimum.
        SetWindowPos(host, nullptr, 0, 0, 40, 40, SWP_NOMOVE | SWP_NOZORDER);
        RECT rect;
        GetWindowRect(host, &rect);
        const long* sizes = m_host.PluginSizes();
        const SIZE minimum = m_host.FrameSizeFor(sizes[0], sizes[1]);
        Log(L"resize 40x40 -> " + std::to_wstring(rect.right - rect.left) + L"x" +
            std::to_wstring(rect.bottom - rect.top) + L" (minimum " + std::to_wstring(minimum.cx) + L"x" +
            std::to_wstring(minimum.cy) + L")");
        Next(Step::Exit);
        return;
    }
    case Step::Exit:
        Log(L"tour exit");
        Next(Step::Done);
        PostMessageW(host, WM_CLOSE, 0, 0);
        return;
    case Step::Done:
        return;
    }
}
