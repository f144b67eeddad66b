#include "GuiModule.h"

#include <commctrl.h>

namespace quorgui {
namespace {
HINSTANCE g_instance = nullptr;
}

HINSTANCE ModuleInstance() {
    return g_instance;
}

bool ReadEnvironment(const char* name, char* out, DWORD size) {
    const DWORD n = GetEnvironmentVariableA(name, out, size);
    return n > 0 && n < size;
}

bool WindowsDisabled() {
    char value[8];
    return ReadEnvironment("QUORGUI_NO_WINDOWS", value, sizeof value) && lstrcmpA(value, "1") == 0;
}

void AppendCallLog(const char* line) {
    char path[MAX_PATH];
    if (!ReadEnvironment("QUORGUI_CALL_LOG", path, sizeof path))
        return;
    // Opened per call and shared, so a test can read the file while the library is loaded.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

void CenterOnOwner(HWND window, HWND owner) {
    RECT area;
    if (!owner || !IsWindow(owner) || !GetWindowRect(owner, &area))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT own;
    GetWindowRect(window, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void InitProgressControls() {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
}

} // namespace quorgui

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        quorgui::g_instance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded while the process goes on: no window may keep a procedure that is about to vanish.
        quorgui::CloseHelpWindow();
    }
    return TRUE;
}
