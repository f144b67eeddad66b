#include "browser/DirectoryEntry.h"
#include "paramblock/ParamBlock.h"

bool IsPathItemName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string_view::npos;
}

namespace {

// The record's name when the entry can be shown, else an empty view.
std::string_view ListedName(uint32_t kind, const uint8_t* data, uint32_t length) {
    if (kind != PK_RECORD5 || length != DirectoryRecord::kSize || !data)
        return {};
    const char* text = reinterpret_cast<const char*>(data);
    const std::string_view name(text, strnlen(text, DirectoryRecord::kNameSize));
    return name.size() < DirectoryRecord::kNameSize && IsPathItemName(name) ? name : std::string_view();
}

uint32_t U32At(const uint8_t* data, size_t offset) {
    uint32_t value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

} // namespace

DirectoryListing ReadListing(CParamBlock& answer, size_t* skipped) {
    // Twice over the answer: first what it holds, so that the rows and the names are each made once at
    // their size, then the rows themselves.
    size_t count = 0, left = 0, nameBytes = 0;
    answer.VisitElements([&](uint32_t kind, const uint8_t* data, uint32_t length) {
        const std::string_view name = ListedName(kind, data, length);
        if (name.empty()) {
            ++left;
            return;
        }
        ++count;
        nameBytes += name.size() + 1;
    });
    DirectoryListing listing;
    listing.entries.reserve(count);
    listing.names = std::make_unique_for_overwrite<char[]>(nameBytes ? nameBytes : 1);
    char* names = listing.names.get();
    answer.VisitElements([&](uint32_t kind, const uint8_t* data, uint32_t length) {
        const std::string_view name = ListedName(kind, data, length);
        if (name.empty() || listing.entries.size() == count)
            return;
        DirectoryEntry& entry = listing.entries.emplace_back();
        std::memcpy(names, name.data(), name.size());
        names[name.size()] = 0;
        entry.name = names;
        entry.nameLength = static_cast<uint8_t>(name.size());
        names += name.size() + 1;
        entry.directory = data[DirectoryRecord::kDirectoryOffset] != 0;
        entry.size = U32At(data, DirectoryRecord::kSizeOffset);
        entry.time = U32At(data, DirectoryRecord::kTimeOffset) |
                     static_cast<uint64_t>(U32At(data, DirectoryRecord::kTimeOffset + 4)) << 32;
    });
    if (skipped)
        *skipped = left;
    return listing;
}
