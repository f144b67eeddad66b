// The file list's sort state: up to three column keys, most recent first, and one direction shared by
// all of them. Portable, so that the order of a listing is tested and measured natively.
#pragma once
#include "browser/DirectoryEntry.h"
#include <vector>

enum ListColumn : int { kColumnName = 0, kColumnSize = 1, kColumnTime = 2, kColumnCount = 3 };

struct SortState {
    static constexpr size_t kMaxKeys = 3;
    std::vector<int> keys{kColumnName};
    bool ascending = true;

    // A header click: the primary column again inverts the direction; another column becomes the
    // primary key (duplicates further back are kept, the oldest beyond three is dropped).
    void ClickColumn(int column);
    int PrimaryKey() const { return keys.empty() ? -1 : keys.front(); }
};

// The rows of the file list in display order; null stands for the temporary row of a new folder.
using EntryRows = std::vector<const DirectoryEntry*>;

// Numbers the entries in name order, the name column's sort key: directories before files, then the
// names compared byte by byte with ASCII letters folded; equal names get equal numbers.
void RankNames(std::vector<DirectoryEntry>& entries);
// Sorts rows by the state (stable: ties keep their order), their names by the numbers RankNames gave.
// The direction reverses the whole order, ties aside; rows without an entry go last. Without the memory
// for the sort keys the rows stay as they are (false).
bool SortRows(EntryRows& rows, const SortState& state);
