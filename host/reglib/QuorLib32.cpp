// Plug-in registration kept in the registry, one key per plug-in:
//
//   HKEY_LOCAL_MACHINE\Software\Varnel\Plugins\<name>
//       ProgID         REG_SZ     the ProgID of the plug-in's control
//       Registrations  REG_DWORD  how many times the plug-in was registered since its record was created
//
// The host lists its plug-ins from these keys. A 32-bit module writes the 32-bit registry view, which is
// the one the 32-bit host reads.
//
// QUORLIB32_ANSWER=false (or 0) in the environment makes both functions leave the registry alone and
// answer FALSE, so callers can be tried against a refusing library.
#include "contracts/QuorLib32.h"

namespace {

const char kPluginsKey[] = "Software\\Varnel\\Plugins";

bool Refusing() {
    char value[16] = "";
    const DWORD n = GetEnvironmentVariableA("QUORLIB32_ANSWER", value, sizeof value);
    if (n == 0 || n >= sizeof value)
        return false;
    return lstrcmpiA(value, "false") == 0 || lstrcmpA(value, "0") == 0;
}

// A name becomes one subkey: it must not be empty, name a path, or exceed a key name's length.
bool ValidName(const char* name) {
    if (!name || !*name)
        return false;
    const int length = lstrlenA(name);
    if (length > 255)
        return false;
    for (const char* p = name; *p; ++p)
        if (*p == '\\')
            return false;
    return true;
}

bool ValidProgId(const char* progId) {
    return progId && *progId && lstrlenA(progId) < 40;
}

// Reads the ProgID value of an open plug-in key; false when it is missing or not text.
bool ReadProgId(HKEY key, char* out, DWORD size) {
    DWORD type = 0;
    DWORD bytes = size - 1;
    if (RegQueryValueExA(key, "ProgID", nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    out[bytes < size ? bytes : size - 1] = '\0';
    return true;
}

BOOL Register(const char* name, const char* progId) {
    if (Refusing() || !ValidName(name) || !ValidProgId(progId))
        return FALSE;
    HKEY plugins = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPluginsKey, 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr, &plugins,
                        nullptr) != ERROR_SUCCESS)
        return FALSE;
    HKEY key = nullptr;
    const LONG created = RegCreateKeyExA(plugins, name, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                         nullptr, &key, nullptr);
    RegCloseKey(plugins);
    if (created != ERROR_SUCCESS)
        return FALSE;

    // The latest registration wins: a plug-in that moved to another ProgID is found under the new one.
    BOOL ok = RegSetValueExA(key, "ProgID", 0, REG_SZ, reinterpret_cast<const BYTE*>(progId),
                             static_cast<DWORD>(lstrlenA(progId) + 1)) == ERROR_SUCCESS;
    DWORD count = 0;
    DWORD type = 0;
    DWORD bytes = sizeof count;
    if (RegQueryValueExA(key, "Registrations", nullptr, &type, reinterpret_cast<BYTE*>(&count), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof count)
        count = 0;
    ++count;
    if (RegSetValueExA(key, "Registrations", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                       sizeof count) != ERROR_SUCCESS)
        ok = FALSE;
    RegCloseKey(key);
    return ok;
}

BOOL Unregister(const char* name, const char* progId) {
    if (Refusing() || !ValidName(name) || !ValidProgId(progId))
        return FALSE;
    HKEY plugins = nullptr;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPluginsKey, 0, KEY_ALL_ACCESS, &plugins);
    if (opened == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (opened != ERROR_SUCCESS)
        return FALSE;

    HKEY key = nullptr;
    opened = RegOpenKeyExA(plugins, name, 0, KEY_QUERY_VALUE, &key);
    if (opened != ERROR_SUCCESS) {
        RegCloseKey(plugins);
        return opened == ERROR_FILE_NOT_FOUND;
    }
    // Another module that took over the name keeps its record: only the owner withdraws it.
    char stored[64];
    const bool owner = ReadProgId(key, stored, sizeof stored) && lstrcmpiA(stored, progId) == 0;
    RegCloseKey(key);
    BOOL ok = FALSE;
    if (owner)
        ok = RegDeleteTreeA(plugins, name) == ERROR_SUCCESS;
    RegCloseKey(plugins);
    return ok;
}

} // namespace

// Only Win32 calls are made below, none of which throws; the handlers keep it that way if that changes.
extern "C" BOOL WINAPI QuorRegisterPlugin(const char* name, const char* progId) {
    try {
        return Register(name, progId);
    } catch (...) {
        return FALSE;
    }
}

extern "C" BOOL WINAPI QuorUnRegisterPlugin(const char* name, const char* progId) {
    try {
        return Unregister(name, progId);
    } catch (...) {
        return FALSE;
    }
}
