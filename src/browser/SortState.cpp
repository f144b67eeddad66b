#include "browser/SortState.h"
#include "paramblock/AsciiCase.h"
#include <algorithm>
#include <new>

void SortState::ClickColumn(int column) {
    if (!keys.empty() && keys.front() == column) {
        ascending = !ascending;
        return;
    }
    keys.insert(keys.begin(), column);
    if (keys.size() > kMaxKeys)
        keys.resize(kMaxKeys);
}

namespace {

int CompareNames(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// Files after directories in the top bit, then the first seven folded bytes of the name, big-endian and
// padded with zeros: most pairs of names are told apart by this number alone. A name holds no NUL, so
// the padding orders a name before the longer ones it begins.
uint64_t NamePrefixKey(const DirectoryEntry& entry) {
    uint64_t key = entry.directory ? 0 : uint64_t{1} << 63;
    const size_t n = std::min<size_t>(entry.nameLength, 7);
    for (size_t i = 0; i < n; ++i)
        key |= uint64_t{static_cast<unsigned char>(AsciiLower(entry.name[i]))} << (48 - 8 * i);
    return key;
}

} // namespace

void RankNames(std::vector<DirectoryEntry>& entries) {
    struct Keyed {
        uint64_t prefix;
        DirectoryEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (DirectoryEntry& entry : entries)
        keyed.push_back({NamePrefixKey(entry), &entry});
    const auto compare = [](const Keyed& a, const Keyed& b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix ? -1 : 1;
        return CompareNames(a.entry->Name(), b.entry->Name());
    };
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) { return compare(a, b) < 0; });
    uint32_t rank = 0;
    for (size_t i = 0; i < keyed.size(); ++i) {
        if (i > 0 && compare(keyed[i - 1], keyed[i]) != 0)
            ++rank;
        keyed[i].entry->nameRank = rank;
    }
}

bool SortRows(EntryRows& rows, const SortState& state) {
    // The keys of each row made once, as numbers, so that a comparison is a few integer compares.
    struct Keyed {
        uint64_t key[SortState::kMaxKeys];
        const DirectoryEntry* row;
    };
    const size_t keyCount = std::min(state.keys.size(), SortState::kMaxKeys);
    std::vector<Keyed> keyed;
    try {
        keyed.reserve(rows.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (const DirectoryEntry* row : rows) {
        if (!row)
            continue;
        Keyed& k = keyed.emplace_back();
        k.row = row;
        for (size_t i = 0; i < SortState::kMaxKeys; ++i) {
            const int column = i < keyCount ? state.keys[i] : -1;
            k.key[i] = column == kColumnName ? row->nameRank
                       : column == kColumnSize ? row->size
                       : column == kColumnTime ? row->time
                                               : 0;
        }
    }
    const auto before = [&](const Keyed& a, const Keyed& b) {
        const Keyed& x = state.ascending ? a : b;
        const Keyed& y = state.ascending ? b : a;
        for (size_t i = 0; i < keyCount; ++i)
            if (x.key[i] != y.key[i])
                return x.key[i] < y.key[i];
        return false;
    };
    // Devices mostly answer in name order already: one pass finds out.
    if (!std::is_sorted(keyed.begin(), keyed.end(), before))
        std::stable_sort(keyed.begin(), keyed.end(), before);
    size_t at = 0;
    for (const Keyed& k : keyed)
        rows[at++] = k.row;
    for (; at < rows.size(); ++at)
        rows[at] = nullptr;
    return true;
}
