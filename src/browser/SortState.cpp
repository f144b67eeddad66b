#include "browser/SortState.h"
#include "paramblock/AsciiCase.h"
#include <algorithm>

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

template <class T> int Order(T a, T b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

int CompareKey(int key, const DirectoryEntry& a, const DirectoryEntry& b) {
    switch (key) {
    case kColumnName: {
        // Directories before files, whatever the direction's sign does to the names.
        const int kind = int(b.bytes[DirectoryEntry::kDirectoryOffset]) - int(a.bytes[DirectoryEntry::kDirectoryOffset]);
        return kind ? kind : CompareNames(a.Name(), b.Name());
    }
    case kColumnSize:
        return Order(a.Size(), b.Size());
    case kColumnTime:
        return Order(a.Time(), b.Time());
    default:
        return 0;
    }
}

} // namespace

int CompareEntries(const DirectoryEntry& first, const DirectoryEntry& second, const SortState& state) {
    const DirectoryEntry& a = state.ascending ? first : second;
    const DirectoryEntry& b = state.ascending ? second : first;
    for (int key : state.keys)
        if (int result = CompareKey(key, a, b))
            return result;
    return 0;
}

void SortRows(EntryRows& rows, const SortState& state) {
    auto before = [&](const auto& x, const auto& y) {
        if (!x || !y)
            return x && !y;
        return CompareEntries(*x, *y, state) < 0;
    };
    // Devices mostly answer in name order already: one pass finds out.
    if (!std::is_sorted(rows.begin(), rows.end(), before))
        std::stable_sort(rows.begin(), rows.end(), before);
}
