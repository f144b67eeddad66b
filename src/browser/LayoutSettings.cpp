#include "browser/LayoutSettings.h"
#include "framework/Handles.h"

namespace {

const char kKey[] = "Software\\Dorvex\\Browser";
const char kPosition[] = "SplitterPosition";
const char kWidths[] = "ColumnWidths";
constexpr int kMaxPosition = 10000;
constexpr int kMaxWidth = 4000;
constexpr int kMinWidth = 10; // narrower, a column is as good as hidden

// Exactly `size` bytes of type `type`, or nothing.
bool Read(HKEY key, const char* name, DWORD type, void* data, DWORD size) {
    DWORD storedType = 0;
    DWORD storedSize = size;
    return RegQueryValueExA(key, name, nullptr, &storedType, static_cast<BYTE*>(data), &storedSize) ==
               ERROR_SUCCESS &&
           storedType == type && storedSize == size;
}

} // namespace

BrowserLayout LoadBrowserLayout() {
    BrowserLayout layout;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return layout;
    CRegKey key(opened);
    DWORD position = 0;
    if (Read(key.Get(), kPosition, REG_DWORD, &position, sizeof position) && position <= kMaxPosition)
        layout.splitterPosition = static_cast<int>(position);
    INT32 widths[3] = {};
    if (Read(key.Get(), kWidths, REG_BINARY, widths, sizeof widths)) {
        bool sane = true;
        for (INT32 width : widths)
            sane = sane && width >= 0 && width <= kMaxWidth;
        if (sane)
            for (int i = 0; i < 3; ++i)
                if (widths[i] >= kMinWidth)
                    layout.columnWidths[i] = widths[i];
    }
    return layout;
}

void SaveBrowserLayout(const BrowserLayout& layout) {
    HKEY created = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &created, nullptr) !=
        ERROR_SUCCESS)
        return;
    CRegKey key(created);
    const DWORD position = static_cast<DWORD>(layout.splitterPosition);
    RegSetValueExA(key.Get(), kPosition, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&position),
                   sizeof position);
    const INT32 widths[3] = {layout.columnWidths[0], layout.columnWidths[1], layout.columnWidths[2]};
    RegSetValueExA(key.Get(), kWidths, 0, REG_BINARY, reinterpret_cast<const BYTE*>(widths), sizeof widths);
}
