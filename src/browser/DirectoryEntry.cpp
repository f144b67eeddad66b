#include "browser/DirectoryEntry.h"
#include "paramblock/ParamBlock.h"

bool IsPathItemName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string_view::npos;
}

bool DirectoryEntry::HasAddressableName() const {
    const std::string_view name = Name();
    return name.size() < kNameSize && IsPathItemName(name);
}

EntryRows ReadListing(CParamBlock& answer, size_t* skipped) {
    const size_t count = answer.Count();
    EntryRows rows;
    rows.reserve(count);
    size_t left = 0;
    for (size_t i = 0; i < count; ++i) {
        const CParamValue& value = answer.At(i);
        if (value.Kind() != PK_RECORD5 || value.Length() != DirectoryEntry::kSize || !value.Data()) {
            ++left;
            continue;
        }
        auto entry = std::make_unique_for_overwrite<DirectoryEntry>();
        std::memcpy(entry->bytes, value.Data(), DirectoryEntry::kSize);
        if (!entry->HasAddressableName()) {
            ++left;
            continue;
        }
        rows.push_back(std::move(entry));
    }
    if (skipped)
        *skipped = left;
    return rows;
}
