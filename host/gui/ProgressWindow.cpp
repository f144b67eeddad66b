#include "ProgressWindow.h"

#include <cstdio>

#include "GuiModule.h"

namespace quorgui {
namespace {

const wchar_t kKeyboardProperty[] = L"QuorGuiKeyboard";

// One hook per thread that has attached dialogs; the dialogs carry a window property.
thread_local HHOOK t_hook = nullptr;
thread_local int t_attached = 0;

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->hwnd && msg->message >= WM_KEYFIRST &&
        msg->message <= WM_KEYLAST) {
        HWND root = GetAncestor(msg->hwnd, GA_ROOT);
        if (root && GetPropW(root, kKeyboardProperty) && IsDialogMessageW(root, msg)) {
            // Used: the loop that fetched it must not dispatch it again.
            msg->message = WM_NULL;
            msg->wParam = 0;
            msg->lParam = 0;
        }
    }
    return CallNextHookEx(t_hook, code, wParam, lParam);
}

} // namespace

// The property says the dialog is attached (1) and whether it counts for the hook (2: shown).
void AttachDialogKeyboard(HWND dialog) {
    if (GetPropW(dialog, kKeyboardProperty))
        return;
    SetPropW(dialog, kKeyboardProperty, reinterpret_cast<HANDLE>(1));
    if (IsWindowVisible(dialog))
        DialogKeyboardShown(dialog, true);
}

void DialogKeyboardShown(HWND dialog, bool shown) {
    const auto state = reinterpret_cast<uintptr_t>(GetPropW(dialog, kKeyboardProperty));
    if (!state || (state == 2) == shown)
        return;
    SetPropW(dialog, kKeyboardProperty, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(shown ? 2 : 1)));
    if (shown && t_attached++ == 0)
        t_hook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());
    if (!shown && --t_attached == 0 && t_hook) {
        UnhookWindowsHookEx(t_hook);
        t_hook = nullptr;
    }
}

void DetachDialogKeyboard(HWND dialog) {
    DialogKeyboardShown(dialog, false);
    RemovePropW(dialog, kKeyboardProperty);
}

void ShowProgressWindow(HWND dialog) {
    if (WindowsDisabled() || IsWindowVisible(dialog))
        return;
    CenterOnOwner(dialog, GetWindow(dialog, GW_OWNER));
    DWORD foregroundProcess = 0;
    if (HWND foreground = GetForegroundWindow())
        GetWindowThreadProcessId(foreground, &foregroundProcess);
    ShowWindow(dialog, foregroundProcess == GetCurrentProcessId() ? SW_SHOW : SW_SHOWNA);
}

std::string FormatDuration(DWORD milliseconds) {
    const unsigned long seconds = milliseconds / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lu:%02lu", seconds / 60, seconds % 60);
    return text;
}

std::string FormatBytes(long long bytes) {
    if (bytes < 0)
        bytes = 0;
    char text[32];
    const double value = static_cast<double>(bytes);
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%lld bytes", bytes);
    else if (bytes < 1024LL * 1024)
        std::snprintf(text, sizeof text, "%.1f KB", value / 1024);
    else if (bytes < 1024LL * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB", value / (1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.2f GB", value / (1024 * 1024 * 1024));
    return text;
}

std::string FormatTimeLine(DWORD elapsedMs, double fraction, long long bytesDone) {
    std::string line = "Elapsed " + FormatDuration(elapsedMs);
    // An estimate from the first instants or the first percent jumps about; wait for both.
    if (elapsedMs >= 2000 && fraction >= 0.02 && fraction < 1.0) {
        const double remaining = elapsedMs * (1.0 - fraction) / fraction;
        line += ", about " + FormatDuration(static_cast<DWORD>(remaining + 999)) + " remaining";
    }
    if (bytesDone > 0 && elapsedMs >= 1000)
        line += " (" + FormatBytes(bytesDone * 1000 / elapsedMs) + "/s)";
    return line;
}

} // namespace quorgui
