// Files for the session component's tests and benchmark: deterministic contents of any size, and the
// removal of a whole tree. Wide paths, so the long-path form works too.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace sessionfiles {

// Bytes from a small generator seeded by `seed`, written a megabyte at a time; false when the file
// cannot be written whole.
inline bool WritePattern(const std::wstring& path, uint64_t size, uint32_t seed) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(size, 1), 1 << 20)));
    uint32_t state = seed | 1;
    bool ok = true;
    for (uint64_t left = size; left && ok;) {
        for (auto& b : block) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b = static_cast<uint8_t>(state);
        }
        const DWORD n = static_cast<DWORD>(std::min<uint64_t>(left, block.size()));
        DWORD written = 0;
        ok = WriteFile(file, block.data(), n, &written, nullptr) && written == n;
        left -= n;
    }
    CloseHandle(file);
    return ok;
}

// Deletes a directory with everything in it, read-only entries included.
inline void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace sessionfiles
