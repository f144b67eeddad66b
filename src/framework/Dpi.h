// The DPI a window is shown at and the system's metrics for it. Systems that keep a DPI per monitor
// (GetDpiForWindow, GetSystemMetricsForDpi) are asked at run time; older ones have one for the screen.
#pragma once
#include <windows.h>

// Sent to each child after its top-level window moved to a monitor of another DPI; older headers lack it.
#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

// The DPI `window` is shown at: its own where the system keeps one per window, else the screen's.
int WindowDpi(HWND window);
// The system metric `index` as it is at `dpi`.
int SystemMetricForDpi(int index, int dpi);
