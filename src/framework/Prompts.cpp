#include "framework/Prompts.h"
#include <shlobj.h>

namespace {
CWin32Prompts g_win32;
IPrompts* g_current = &g_win32;
} // namespace

int CWin32Prompts::MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    // The member's own name is MessageBoxA too (windows.h maps MessageBox to it): the system's is global.
    return ::MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

INT_PTR CWin32Prompts::DoModal(HINSTANCE instance, int dialogId, const std::string&, HWND owner, DLGPROC proc,
                               LPARAM param) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(dialogId), owner, proc, param);
}

UINT CWin32Prompts::TrackPopupMenu(HMENU menu, UINT flags, POINT screen, HWND owner) {
    return static_cast<UINT>(
        ::TrackPopupMenu(menu, flags | TPM_RETURNCMD | TPM_NONOTIFY, screen.x, screen.y, 0, owner, nullptr));
}

std::optional<std::string> CWin32Prompts::BrowseForFolder(HWND owner, const std::string& title) {
    constexpr UINT kNewDialogStyle = 0x40; // BIF_NEWDIALOGSTYLE
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.lpszTitle = title.c_str();
    info.ulFlags = kNewDialogStyle;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (!chosen)
        return std::nullopt;
    char path[MAX_PATH] = "";
    const bool hasPath = SHGetPathFromIDListA(chosen, path) != FALSE;
    // The item list is the shell's to free, with its own allocator.
    IMalloc* shellMalloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shellMalloc)) && shellMalloc) {
        shellMalloc->Free(chosen);
        shellMalloc->Release();
    }
    if (!hasPath || !path[0])
        return std::nullopt;
    return std::string(path);
}

HWND ModalOwner(HWND window) {
    HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
    return root ? root : window;
}

void CenterOnOwner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT around = {};
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    if (!owner || !GetWindowRect(owner, &around))
        around = monitor.rcWork;
    RECT rect;
    GetWindowRect(dialog, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const RECT& work = monitor.rcWork;
    int x = around.left + (around.right - around.left - width) / 2;
    int y = around.top + (around.bottom - around.top - height) / 2;
    x = x + width > work.right ? work.right - width : x;
    y = y + height > work.bottom ? work.bottom - height : y;
    x = x < work.left ? work.left : x;
    y = y < work.top ? work.top : y;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

IPrompts& Prompts() { return *g_current; }

IPrompts* SetPrompts(IPrompts* prompts) {
    IPrompts* previous = g_current == &g_win32 ? nullptr : g_current;
    g_current = prompts ? prompts : &g_win32;
    return previous;
}
