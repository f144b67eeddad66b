#include "DemoDevice.h"

#include "DeviceError.h"
#include "DeviceFolder.h"
#include "session/DemoTree.h"

#include <windows.h>
#include <shlobj.h>

namespace {

[[noreturn]] void Fail(const std::wstring& where, DWORD error) {
    std::string shown;
    DeviceTextFromWide(where.c_str(), shown);
    throw CDeviceError(SE_DEVICE_NOT_FOUND,
                       "Cannot set up the demo device in " + shown + ": " + SystemErrorText(error));
}

std::wstring LocalAppData() {
    wchar_t buffer[MAX_PATH];
    // The environment first, so that a test or a portable setup can move the demo device.
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        return buffer;
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, buffer)))
        return buffer;
    throw CDeviceError(SE_DEVICE_NOT_FOUND,
                       "The demo device has no place: the local application data folder is unknown.");
}

void RemoveSeedTree(const std::wstring& dir) {
    // Only our own half-made seed is removed, in reverse plan order (files, then their directories).
    const auto items = DemoDeviceItems();
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        std::wstring wide;
        WideFromDeviceText(it->path, wide);
        const std::wstring path = dir + L"\\" + wide;
        it->directory ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(dir.c_str());
}

void WriteItem(const std::wstring& dir, const DemoItem& item) {
    std::wstring wide;
    WideFromDeviceText(item.path, wide);
    const std::wstring path = dir + L"\\" + wide;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(item.fileTime);
    time.dwHighDateTime = static_cast<DWORD>(item.fileTime >> 32);
    if (item.directory) {
        if (!CreateDirectoryW(path.c_str(), nullptr))
            Fail(path, GetLastError());
        return;
    }
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail(path, GetLastError());
    const std::string content = DemoFileContent(item);
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                    written == content.size() && SetFileTime(file, nullptr, nullptr, &time);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok)
        Fail(path, error);
}

} // namespace

std::wstring DemoDeviceFolder() {
    const std::wstring base = LocalAppData() + L"\\Dorvex";
    const std::wstring folder = base + L"\\DemoDevice";
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return folder;
    if (!CreateDirectoryW(base.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        Fail(base, GetLastError());

    // Seeded beside its place and renamed into it, so a half-made device never appears and two
    // processes seeding at once end with one of them.
    const std::wstring seed = folder + L".seed" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetCurrentThreadId());
    if (!CreateDirectoryW(seed.c_str(), nullptr))
        Fail(seed, GetLastError());
    try {
        for (const DemoItem& item : DemoDeviceItems())
            WriteItem(seed, item);
    } catch (...) {
        RemoveSeedTree(seed);
        throw;
    }
    if (!MoveFileW(seed.c_str(), folder.c_str())) {
        const DWORD error = GetLastError();
        RemoveSeedTree(seed);
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
            Fail(folder, error);
    }
    return folder;
}
