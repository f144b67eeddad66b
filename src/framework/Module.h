// The module the framework is linked into: its instance handle and the counts that decide whether
// it may be unloaded.
#pragma once
#include <windows.h>

class CModule {
public:
    static HINSTANCE Instance();
    // Full path of this module's file, e.g. for registration.
    static const char* Path();
    static void Lock();
    static void Unlock();
    static void ObjectCreated();
    static void ObjectDestroyed();
    static bool CanUnload();
    // The module's lock for process-wide state shared by its objects.
    static CRITICAL_SECTION& CriticalSection();
};

// Holds the module's lock for a scope.
class CModuleLock {
public:
    CModuleLock() { EnterCriticalSection(&CModule::CriticalSection()); }
    ~CModuleLock() { LeaveCriticalSection(&CModule::CriticalSection()); }
    CModuleLock(const CModuleLock&) = delete;
    CModuleLock& operator=(const CModuleLock&) = delete;
};
