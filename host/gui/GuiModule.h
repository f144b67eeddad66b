// What the parts of QuorGui.dll share: the module, the test switches read from the environment, and
// window placement.
#pragma once

#include <windows.h>

namespace quorgui {

HINSTANCE ModuleInstance();

// QUORGUI_NO_WINDOWS=1: nothing is shown and no modal loop runs, so tests never wait for a person.
bool WindowsDisabled();

// Copies environment variable `name` into `out`; false when it is not set or does not fit.
bool ReadEnvironment(const char* name, char* out, DWORD size);

// Appends `line` and a line break to the file named by QUORGUI_CALL_LOG, when that is set.
void AppendCallLog(const char* line);

// Moves a top-level window to the middle of its owner (or of the work area without one).
void CenterOnOwner(HWND window, HWND owner);

// Registers the progress bar class once for the process.
void InitProgressControls();

// Closes the help window if it is open (module unload).
void CloseHelpWindow();

// Runs `f` and drops whatever it raises (a failed allocation for a text): the library's callers and
// its window procedures never see an exception.
template <class F> void NoThrow(F&& f) noexcept {
    try {
        f();
    } catch (...) {
    }
}

} // namespace quorgui
