#include "framework/Prompts.h"

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

IPrompts& Prompts() { return *g_current; }

IPrompts* SetPrompts(IPrompts* prompts) {
    IPrompts* previous = g_current == &g_win32 ? nullptr : g_current;
    g_current = prompts ? prompts : &g_win32;
    return previous;
}
