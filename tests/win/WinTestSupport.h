// What Windows test programs and benchmarks share, without the test framework: the program's folder, a
// clock, a message pump and the process's heap and window counts.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// The folder of this program, with its final backslash.
std::string ProgramDirectory();
// Seconds from a fixed point, for timings.
double Seconds();

// Dispatches this thread's messages for `ms` milliseconds, or until `until` holds (then true); every
// message seen is recorded first.
struct SeenMessage {
    HWND window;
    UINT message;
    LPARAM lParam;
};
bool Pump(DWORD ms, const std::function<bool()>& until = nullptr, std::vector<SeenMessage>* seen = nullptr);

// Bytes allocated and not freed in all of the process's heaps.
size_t HeapBytesInUse();
// `window`'s rectangle in `parent`'s client coordinates.
RECT RectIn(HWND window, HWND parent);
// Handles the process holds open.
DWORD ProcessHandleCount();
// Windows of this thread, children included.
int ThreadWindowCount();
