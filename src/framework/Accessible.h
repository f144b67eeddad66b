// What a screen reader hears of a window: its standard accessible object (the name is the window's text),
// with the role the window plays where that object does not know it (a window class of our own, or a
// system whose proxies read every control as a plain client area).
#pragma once
#include <windows.h>

// Answers WM_GETOBJECT for `window` playing `role` (ROLE_SYSTEM_*). Leaves `handled` false for requests
// other than the client area's, or when no standard object can be made.
LRESULT AnswerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam, long role, BOOL& handled);
