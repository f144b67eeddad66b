#include "framework/Module.h"

// The linker's symbol for this image's own header: the instance handle of whichever module
// (DLL or program) the framework is linked into, without relying on DllMain.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
LONG g_locks = 0;
LONG g_objects = 0;

struct ModuleLock {
    CRITICAL_SECTION cs;
    ModuleLock() { InitializeCriticalSection(&cs); }
    ~ModuleLock() { DeleteCriticalSection(&cs); }
};
} // namespace

HINSTANCE CModule::Instance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

const char* CModule::Path() {
    static char path[MAX_PATH] = "";
    if (!path[0])
        GetModuleFileNameA(Instance(), path, MAX_PATH);
    return path;
}

void CModule::Lock() { InterlockedIncrement(&g_locks); }
void CModule::Unlock() { InterlockedDecrement(&g_locks); }
void CModule::ObjectCreated() { InterlockedIncrement(&g_objects); }
void CModule::ObjectDestroyed() { InterlockedDecrement(&g_objects); }
bool CModule::CanUnload() { return g_locks == 0 && g_objects == 0; }

CRITICAL_SECTION& CModule::CriticalSection() {
    static ModuleLock lock;
    return lock.cs;
}
