// Help: one small top-level window per process that names the help file and context; a second call
// replaces its text. The host's help viewer is not part of these stand-ins, the context is what matters.
#include "contracts/QuorGui.h"

#include <cstdint>
#include <cstdio>

#include "GuiModule.h"

namespace {

const char kHelpClass[] = "QuorGuiHelpWindow";
HWND g_help = nullptr;
char g_helpText[600];

LRESULT CALLBACK HelpProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            DestroyWindow(hwnd);
            return 0;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT area;
        GetClientRect(hwnd, &area);
        InflateRect(&area, -12, -12);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, g_helpText, -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_NCDESTROY:
        if (g_help == hwnd)
            g_help = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool RegisterHelpClass() {
    WNDCLASSEXA existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(quorgui::ModuleInstance(), kHelpClass, &existing))
        return true;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HelpProc;
    wc.hInstance = quorgui::ModuleInstance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kHelpClass;
    return RegisterClassExA(&wc) != 0;
}

void ShowHelpWindow(const char* file, long a, long b, HWND window) {
    const char* shown = file && *file ? file : "the host's help";
    std::snprintf(g_helpText, sizeof g_helpText,
                  "Help file: %s\r\nContext: %ld, %ld\r\n\r\nPress Esc to close.", shown, a, b);
    char caption[400];
    std::snprintf(caption, sizeof caption, "Help - %s - context %ld, %ld", shown, a, b);

    if (g_help && IsWindow(g_help)) {
        SetWindowTextA(g_help, caption);
        InvalidateRect(g_help, nullptr, TRUE);
    } else {
        if (!RegisterHelpClass())
            return;
        HWND owner = window && IsWindow(window) ? GetAncestor(window, GA_ROOT) : nullptr;
        g_help = CreateWindowExA(WS_EX_DLGMODALFRAME, kHelpClass, caption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                 CW_USEDEFAULT, CW_USEDEFAULT, 380, 150, owner, nullptr,
                                 quorgui::ModuleInstance(), nullptr);
        if (!g_help)
            return;
        quorgui::CenterOnOwner(g_help, owner);
    }
    ShowWindow(g_help, SW_SHOW);
    SetForegroundWindow(g_help);
    SetFocus(g_help);
}

} // namespace

namespace quorgui {
void CloseHelpWindow() {
    if (g_help && IsWindow(g_help) && GetWindowThreadProcessId(g_help, nullptr) == GetCurrentThreadId())
        DestroyWindow(g_help);
    UnregisterClassA(kHelpClass, ModuleInstance());
}
} // namespace quorgui

extern "C" void QuorGUIShowHelp(const char* file, long a, long b, HWND window) {
    // The log line is file|a|b|window, with an empty file for none and the window as a number.
    char line[MAX_PATH + 80];
    std::snprintf(line, sizeof line, "%s|%ld|%ld|%llu", file ? file : "", a, b,
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    quorgui::AppendCallLog(line);
    if (!quorgui::WindowsDisabled())
        ShowHelpWindow(file, a, b, window);
}
