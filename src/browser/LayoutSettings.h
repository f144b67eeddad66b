// Where the user left the browser's panes and columns, kept per user in
// HKEY_CURRENT_USER\Software\Dorvex\Browser. A value that is missing, of the wrong type or size, or out of
// a sane range is taken as never stored: the browser comes up with its default for it. A column stored too
// narrow to see gets its default width, the other columns keep theirs.
#pragma once

// The browser's layout as the user left it, kept per user.
struct BrowserLayout {
    int splitterPosition = -1;            // the bar's left edge; -1: the default place
    int columnWidths[3] = {200, 75, 125}; // the file list's Name, Size, Time columns
};

BrowserLayout LoadBrowserLayout(); // defaults for anything missing or damaged
void SaveBrowserLayout(const BrowserLayout& layout);
