// Where the user left the browser's panes and columns, kept per user in
// HKEY_CURRENT_USER\Software\Dorvex\Browser. A value that is missing, of the wrong type or size, or out of
// a sane range is taken as never stored: the browser comes up with its default for it. A column stored too
// narrow to see gets its default width, the other columns keep theirs. Everything is kept in 96-DPI units
// (pixels at 96 DPI), so a layout comes back the same size on a screen of another density.
#pragma once
#include <array>

// The file list's Name, Size and Time columns as wide as they come before the user sets them (96-DPI units).
constexpr std::array<int, 3> kDefaultColumnWidths = {200, 75, 125};

// The browser's layout as the user left it, kept per user.
struct BrowserLayout {
    int splitterPosition = -1; // the bar's left edge in 96-DPI units; -1: the default place
    std::array<int, 3> columnWidths = kDefaultColumnWidths;
};

BrowserLayout LoadBrowserLayout(); // defaults for anything missing or damaged
void SaveBrowserLayout(const BrowserLayout& layout);
