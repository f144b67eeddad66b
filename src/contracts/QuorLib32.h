// The host's plug-in registration library "QuorLib32.dll", as the control calls it.
//
// Both functions take the plug-in name and the COM ProgID of the plug-in's control as narrow text and
// report success as a boolean. They are exported undecorated (no @N) in the 32- and 64-bit builds, so
// they can also be found with GetProcAddress by their plain names.
#pragma once

#include <windows.h>

#ifdef QUORLIB32_BUILD
// The DLL exports through its .def file, which also strips the 32-bit stdcall decoration.
#define QUORLIB32_API
#else
#define QUORLIB32_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Enrols the plug-in with the host. Registering the same plug-in again succeeds and leaves one record.
QUORLIB32_API BOOL WINAPI QuorRegisterPlugin(const char* name, const char* progId);

// Withdraws the plug-in. Succeeds when no record of the plug-in remains afterwards.
QUORLIB32_API BOOL WINAPI QuorUnRegisterPlugin(const char* name, const char* progId);

#ifdef __cplusplus
}
#endif
