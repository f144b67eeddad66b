// Screenshots for the tour: what the screen shows of the host window and of the dialogs over it,
// saved as a 24-bit BMP.
#pragma once

#include <windows.h>

#include <string>

// The smallest rectangle (screen coordinates) around `window` and every other visible top-level window
// of its thread: the dialogs open over it, owned or not.
RECT AreaWithThreadWindows(HWND window);

// Copies `area` of the screen into a bitmap and saves it. When the screen cannot be read (all of the
// copy one colour, as on a display without a real frame buffer) the window is asked to print itself
// instead. False when nothing could be written.
bool SaveScreenshot(HWND window, const RECT& area, const std::wstring& path);
