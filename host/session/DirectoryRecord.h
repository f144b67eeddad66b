// The 784-byte listing record of one directory entry, as REQ_LIST_DIR answers it: the name with its NUL
// at 0, the directory flag at 256, the size (32 bits) at 260 and the UTC FILETIME at 264; the rest is zero.
#pragma once

#include <cstdint>
#include <string_view>

constexpr uint32_t kDirectoryRecordSize = 784;

struct DirectoryRecordFields {
    std::string_view name;
    bool directory = false;
    uint64_t size = 0;     // sizes beyond 32 bits are reported as 0xFFFFFFFF
    uint64_t fileTime = 0; // 100-ns intervals since 1601-01-01 UTC
};

// False (record untouched) for a name that does not fit the field or holds a NUL.
bool EncodeDirectoryRecord(const DirectoryRecordFields& fields, uint8_t (&record)[kDirectoryRecordSize]);
