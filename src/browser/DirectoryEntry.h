// A directory listing: the device sends each entry as a 784-byte little-endian record, of which the views
// and the commands use the name, the directory flag, the size and the UTC time stamp. Only those are kept,
// so that a listing of 100,000 entries costs a few megabytes instead of the answer's eighty.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class CParamBlock;

// Where the fields lie in the device's record.
struct DirectoryRecord {
    static constexpr size_t kSize = 784;
    static constexpr size_t kNameSize = 256;
    static constexpr size_t kDirectoryOffset = 256;
    static constexpr size_t kSizeOffset = 260;
    static constexpr size_t kTimeOffset = 264;

    uint8_t bytes[kSize];
};

// One entry, as the rows of the views hold it. The name is the device's bytes up to their NUL, unchanged.
struct DirectoryEntry {
    const char* name = ""; // NUL-terminated, in the listing's name store
    uint64_t time = 0;     // 100-ns intervals since 1601-01-01, UTC
    uint32_t size = 0;
    uint32_t nameRank = 0; // the entry's place in name order (RankNames), equal for equal names
    uint8_t nameLength = 0;
    bool directory = false;

    std::string_view Name() const { return {name, nameLength}; }
    const char* NameText() const { return name; }
    bool IsDirectory() const { return directory; }
    uint32_t Size() const { return size; }
    uint64_t Time() const { return time; }
};

// The entries of one listing answer in the order received, and the one block their names live in (moving
// the listing keeps every name where it is).
struct DirectoryListing {
    std::vector<DirectoryEntry> entries;
    std::unique_ptr<char[]> names;

    size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }
    auto begin() const { return entries.begin(); }
    auto end() const { return entries.end(); }
};

// True for a name that can stand as one item of a remote path: not empty, not "." or "..", no separator.
bool IsPathItemName(std::string_view name);

// The entries of a listing answer, read straight from it. Elements that are not whole directory records
// and entries whose names could never be addressed again (no NUL in the name field, or not one item of a
// path) are left out; `skipped` counts them. Throws std::bad_alloc when the entries cannot be held.
DirectoryListing ReadListing(CParamBlock& answer, size_t* skipped = nullptr);
