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

// A row's value in one column, as the sort compares it: a name by its rank.
uint64_t SortField(const DirectoryEntry& entry, int column) {
    return column == kColumnName ? entry.nameRank : column == kColumnSize ? entry.size : entry.time;
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
    int columns[SortState::kMaxKeys];
    size_t columnCount = 0;
    for (size_t i = 0; i < state.keys.size() && columnCount < SortState::kMaxKeys; ++i) {
        const int column = state.keys[i]; // one met again further back can never break a tie
        if ((column == kColumnName || column == kColumnSize || column == kColumnTime) &&
            std::find(columns, columns + columnCount, column) == columns + columnCount)
            columns[columnCount++] = column;
    }
    // Devices mostly answer in name order already: one pass over the entries finds out, before any key is
    // made.
    const auto inOrder = [&](const DirectoryEntry* a, const DirectoryEntry* b) {
        if (!a || !b)
            return a || !b; // rows without an entry last
        for (size_t i = 0; i < columnCount; ++i) {
            const uint64_t x = SortField(*a, columns[i]), y = SortField(*b, columns[i]);
            if (x != y)
                return (x < y) == state.ascending;
        }
        return true;
    };
    const auto outOfOrder = [&](const DirectoryEntry* a, const DirectoryEntry* b) { return !inOrder(a, b); };
    if (std::adjacent_find(rows.begin(), rows.end(), outOfOrder) == rows.end())
        return true;

    // Each row's keys packed once into one 128-bit number, most significant first (a time takes 64 bits, a
    // size and a name's rank 32 each; a column met again further back can never break a tie, so three
    // distinct columns fit), with the row's place after it: no two rows compare equal, so a sort needs no
    // merge buffer (fresh memory costs a page fault every 4 KB) and still gives the stable order.
    struct Keyed {
        uint64_t high, low;
        uint32_t at;
        const DirectoryEntry* row;
    };
    std::vector<Keyed> keyed;
    try {
        keyed.reserve(rows.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    // The direction inverts the keys, not the places: ties keep the order they had.
    const uint64_t flip = state.ascending ? 0 : ~uint64_t{0};
    for (size_t at = 0; at < rows.size(); ++at) {
        const DirectoryEntry* row = rows[at];
        if (!row)
            continue;
        uint32_t words[4] = {};
        size_t word = 0;
        for (size_t i = 0; i < columnCount; ++i) {
            if (columns[i] == kColumnTime) {
                words[word++] = static_cast<uint32_t>(row->time >> 32);
                words[word++] = static_cast<uint32_t>(row->time);
            } else {
                words[word++] = static_cast<uint32_t>(SortField(*row, columns[i]));
            }
        }
        const uint64_t high = uint64_t{words[0]} << 32 | words[1], low = uint64_t{words[2]} << 32 | words[3];
        keyed.push_back({high ^ flip, low ^ flip, static_cast<uint32_t>(at), row});
    }
    const auto before = [](const Keyed& a, const Keyed& b) {
        if (a.high != b.high)
            return a.high < b.high;
        if (a.low != b.low)
            return a.low < b.low;
        return a.at < b.at;
    };
    std::sort(keyed.begin(), keyed.end(), before);
    size_t at = 0;
    for (const Keyed& k : keyed)
        rows[at++] = k.row;
    for (; at < rows.size(); ++at)
        rows[at] = nullptr;
    return true;
}
