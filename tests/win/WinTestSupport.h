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

// Runs `hand` (input with pauses between) on a thread of its own while this thread dispatches its
// messages (a drag's loop among them) until the hand is done or `ms` have passed; true when it finished.
bool WithHand(const std::function<void()>& hand, DWORD ms = 60000);
// The same in two steps, for a caller that runs a loop of its own (DoDragDrop) meanwhile.
HANDLE StartHand(const std::function<void()>& hand);
bool JoinHand(HANDLE hand, DWORD ms = 60000);
