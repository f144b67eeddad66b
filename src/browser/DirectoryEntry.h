// One entry of a directory listing as the device sends it: a 784-byte little-endian record. The views
// read the name, the directory flag, the size and the UTC time stamp; the rest is kept as received.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class CParamBlock;

struct DirectoryEntry {
    static constexpr size_t kSize = 784;
    static constexpr size_t kNameSize = 256;
    static constexpr size_t kDirectoryOffset = 256;
    static constexpr size_t kSizeOffset = 260;
    static constexpr size_t kTimeOffset = 264;

    uint8_t bytes[kSize];

    // The name up to its NUL, or the whole field when it has none.
    std::string_view Name() const {
        const char* text = reinterpret_cast<const char*>(bytes);
        return {text, strnlen(text, kNameSize)};
    }
    // Only for entries whose name is terminated (every entry a listing keeps).
    const char* NameText() const { return reinterpret_cast<const char*>(bytes); }
    bool IsDirectory() const { return bytes[kDirectoryOffset] != 0; }
    uint32_t Size() const {
        uint32_t value;
        std::memcpy(&value, bytes + kSizeOffset, sizeof value);
        return value;
    }
    // 100-ns intervals since 1601-01-01, UTC.
    uint64_t Time() const {
        uint32_t low, high;
        std::memcpy(&low, bytes + kTimeOffset, sizeof low);
        std::memcpy(&high, bytes + kTimeOffset + 4, sizeof high);
        return (static_cast<uint64_t>(high) << 32) | low;
    }
    // A name the device could be asked about again: terminated inside its field, and one item of a path.
    bool HasAddressableName() const;
};

// True for a name that can stand as one item of a remote path: not empty, not "." or "..", no separator.
bool IsPathItemName(std::string_view name);

using EntryRows = std::vector<std::unique_ptr<DirectoryEntry>>;

// The entries of a listing answer, in the order received. Elements that are not whole directory records
// and entries whose names could never be addressed again are left out; `skipped` counts them.
EntryRows ReadListing(CParamBlock& answer, size_t* skipped = nullptr);
