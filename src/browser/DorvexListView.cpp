#include "browser/DorvexListView.h"
#include "browser/DeviceListing.h"
#include "browser/DpiScale.h"
#include "browser/LayoutSettings.h"
#include "browser/PaneKeys.h"
#include "paramblock/AsciiCase.h"
#include "browser/RemotePath.h"
#include "browser/resource.h"
#include "framework/Accessible.h"
#include "framework/Dpi.h"
#include "framework/Handles.h"
#include "framework/SelectionColours.h"
#include "framework/ImageList.h"
#include "framework/Prompts.h"
#include "framework/WaitCursor.h"
#include <oleacc.h>
#include <windowsx.h>
#include <algorithm>
#include <new>
#include <cstdio>
#include <unordered_set>
#include <utility>

namespace {

constexpr size_t kTimeTextSize = 32;
constexpr size_t kTimeTextCache = 512; // a few screens of rows
constexpr const char* kHeadings[kColumnCount] = {"Name", "Size", "Time (GMT)"};
constexpr char kUnnamedList[] = "Files";

bool KeyDown(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

} // namespace

CDorvexListView::~CDorvexListView() {
    DestroyWindow();
}

bool CDorvexListView::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    // Clipping its children keeps a repaint of the rows off the header, whose drawing costs as much as the
    // rows'.
    style = (style | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_EDITLABELS | LVS_OWNERDATA | LVS_SHAREIMAGELISTS |
             WS_CLIPCHILDREN) &
            ~LVS_SMALLICON;
    // The window text is what a screen reader calls the list.
    if (!CWnd::Create(WC_LISTVIEWA, kUnnamedList, style, rect, parent, id, WS_EX_TRANSPARENT))
        return false;
    m_dpi = WindowDpi(m_hWnd);
    m_images.Create(SystemMetricForDpi(SM_CXSMICON, m_dpi), ILC_COLOR);
    m_folderIcon = m_images.Add(IDI_FOLDER);
    m_documentIcon = m_images.Add(IDI_DOCUMENT);
    ListView_SetImageList(m_hWnd, m_images.Handle(), LVSIL_SMALL);
    for (int column = 0; column < kColumnCount; ++column) {
        LVCOLUMNA heading = {};
        heading.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        heading.fmt = LVCFMT_LEFT;
        heading.cx = ToPixels(kDefaultColumnWidths[column], m_dpi);
        heading.pszText = const_cast<char*>(kHeadings[column]);
        heading.iSubItem = column;
        ListView_InsertColumn(m_hWnd, column, &heading);
    }
    UpdateSortArrows();
    // The rows are the list's own: it answers for the drop target's highlight as it does for the texts.
    ListView_SetCallbackMask(m_hWnd, LVIS_DROPHILITED);
    m_dropRegistration.Register(m_hWnd, this);
    return true;
}

std::string CDorvexListView::TimeText(uint64_t fileTime) {
    FILETIME time = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    SYSTEMTIME fields;
    char text[kTimeTextSize] = "";
    // The column says GMT: no conversion to local time.
    if (!FileTimeToSystemTime(&time, &fields))
        return "";
    const int date = GetDateFormatA(LOCALE_USER_DEFAULT, 0, &fields, "M'/'dd'/'yy' '", text, kTimeTextSize);
    const int used = date > 0 ? date - 1 : 0;
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &fields, "hh':'mm':'ss tt", text + used,
                   static_cast<int>(kTimeTextSize) - used);
    return text;
}

std::string CDorvexListView::CellText(size_t row, int column) const {
    const DirectoryEntry* entry = Row(row);
    if (!entry)
        return row < m_rows.size() && column == kColumnName ? kNewFolderText : "";
    switch (column) {
    case kColumnName:
        return entry->NameText();
    case kColumnSize:
        return entry->IsDirectory() ? "" : std::to_string(entry->Size());
    case kColumnTime: {
        // The list asks for the visible rows' cells at every paint; the locale's formatting is not cheap.
        auto cached = m_timeTexts.find(entry);
        if (cached != m_timeTexts.end())
            return cached->second;
        if (m_timeTexts.size() >= kTimeTextCache)
            m_timeTexts.clear();
        return m_timeTexts.emplace(entry, TimeText(entry->Time())).first->second;
    }
    default:
        return "";
    }
}

void CDorvexListView::ClearRows() {
    m_dropRow = -1;
    m_timeTexts.clear();
    m_rows.clear();
    m_initials.clear();
    m_listing = {};
    // An empty list is left alone: setting its count again makes the list view lay out its scroll bars and
    // move its header, six window moves that change nothing.
    if (IsWindow() && ListView_GetItemCount(m_hWnd) > 0) {
        ClearSelection();
        ListView_SetItemCountEx(m_hWnd, 0, 0);
    }
}

void CDorvexListView::ClearSelection() {
    // The list control visits every row for a state change of all rows: only when there is one.
    if (ListView_GetSelectedCount(m_hWnd) > 0)
        ListView_SetItemState(m_hWnd, -1, 0, LVIS_SELECTED);
    if (ListView_GetNextItem(m_hWnd, -1, LVNI_FOCUSED) >= 0)
        ListView_SetItemState(m_hWnd, -1, 0, LVIS_FOCUSED);
}

const std::string& CDorvexListView::CurrentPath() const {
    static const std::string none;
    return m_navigation ? m_navigation->Current() : none;
}

void CDorvexListView::Clear() {
    ClearRows();
    if (IsWindow())
        DragAcceptFiles(m_hWnd, FALSE);
    if (m_navigation)
        m_navigation->Clear();
    if (IsWindow())
        SetWindowTextA(m_hWnd, kUnnamedList);
}

void CDorvexListView::ListDirectory(const std::string& path) {
    if (!IsWindow())
        return;
    SetWindowTextA(m_hWnd, (std::string(kUnnamedList) + ": " + path).c_str());
    DragAcceptFiles(m_hWnd, TRUE);
    ClearRows();
    Fill();
}

void CDorvexListView::Fill() {
    if (!IsWindow() || !m_device)
        return;
    CWaitCursor wait;
    DirectoryListing listing;
    EntryRows rows;
    if (const RequestResult listed = ListRows(*m_device, CurrentPath(), kListWait, listing, rows); !listed) {
        ClearRows();
        ShowRefusal(listed);
        return;
    }
    m_timeTexts.clear(); // keyed by the entries about to go
    m_rows = std::move(rows);
    m_listing = std::move(listing); // the entries stay where the rows point
    SortAndShow(false);
}

void CDorvexListView::ApplyDpi(int dpi) {
    if (dpi == m_dpi || !IsWindow())
        return;
    for (int column = 0; column < kColumnCount; ++column)
        ListView_SetColumnWidth(m_hWnd, column, Rescale(ListView_GetColumnWidth(m_hWnd, column), m_dpi, dpi));
    m_dpi = dpi;
    m_images.Resize(SystemMetricForDpi(SM_CXSMICON, dpi));
    // Set again, so that the rows take the images' new height.
    ListView_SetImageList(m_hWnd, nullptr, LVSIL_SMALL);
    ListView_SetImageList(m_hWnd, m_images.Handle(), LVSIL_SMALL);
}

void CDorvexListView::SortByColumn(int column) {
    m_sort.ClickColumn(column);
    UpdateSortArrows();
    SortAndShow(true);
}

void CDorvexListView::SortAndShow(bool keepSelection) {
    std::unordered_set<const DirectoryEntry*> selected;
    const DirectoryEntry* focused = nullptr;
    if (keepSelection) {
        for (int i = ListView_GetNextItem(m_hWnd, -1, LVNI_SELECTED); i >= 0;
             i = ListView_GetNextItem(m_hWnd, i, LVNI_SELECTED))
            selected.insert(Row(static_cast<size_t>(i)));
        focused = Row(static_cast<size_t>(ListView_GetNextItem(m_hWnd, -1, LVNI_FOCUSED)));
    }
    SortRows(m_rows, m_sort);
    try {
        m_initials.resize(m_rows.size());
        for (size_t i = 0; i < m_rows.size(); ++i)
            m_initials[i] = m_rows[i] && !m_rows[i]->Name().empty() ? AsciiLower(m_rows[i]->Name()[0]) : '\0';
    } catch (const std::bad_alloc&) {
        m_initials.clear(); // the search then reads every name
    }
    ClearSelection();
    if (ListView_GetItemCount(m_hWnd) != static_cast<int>(m_rows.size()))
        ListView_SetItemCountEx(m_hWnd, static_cast<int>(m_rows.size()), 0);
    if (!selected.empty() || focused) {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            UINT state = (selected.count(m_rows[i]) ? LVIS_SELECTED : 0) |
                         (focused && m_rows[i] == focused ? LVIS_FOCUSED : 0);
            if (state)
                ListView_SetItemState(m_hWnd, static_cast<int>(i), state, state);
        }
    }
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CDorvexListView::UpdateSortArrows() {
    HWND header = ListView_GetHeader(m_hWnd);
    if (!header)
        return;
    // Setting an item makes the header draw itself whole, as long as drawing all the rows takes: only the
    // headings whose arrow changed are drawn again, with whatever was due before.
    HRGN due = CreateRectRgn(0, 0, 0, 0);
    const bool keep = due && GetUpdateRgn(header, due, FALSE) != ERROR;
    RECT changed[kColumnCount] = {};
    int count = 0;
    for (int column = 0; column < kColumnCount; ++column) {
        HDITEMA item = {};
        item.mask = HDI_FORMAT;
        if (!Header_GetItem(header, column, &item))
            continue;
        int format = item.fmt & ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == m_sort.PrimaryKey())
            format |= m_sort.ascending ? HDF_SORTUP : HDF_SORTDOWN;
        if (format == item.fmt)
            continue;
        item.fmt = format;
        Header_SetItem(header, column, &item);
        Header_GetItemRect(header, column, &changed[count++]);
    }
    if (keep && count > 0) {
        ValidateRect(header, nullptr);
        InvalidateRgn(header, due, TRUE);
        for (int i = 0; i < count; ++i)
            InvalidateRect(header, &changed[i], TRUE);
    }
    if (due)
        DeleteObject(due);
}

std::vector<const DirectoryEntry*> CDorvexListView::SelectedEntries() const {
    std::vector<const DirectoryEntry*> entries;
    for (int i = ListView_GetNextItem(m_hWnd, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(m_hWnd, i, LVNI_SELECTED))
        if (const DirectoryEntry* entry = Row(static_cast<size_t>(i)))
            entries.push_back(entry);
    return entries;
}

void CDorvexListView::OpenRow(int index) {
    const DirectoryEntry* entry = index >= 0 ? Row(static_cast<size_t>(index)) : nullptr;
    if (entry && entry->IsDirectory() && m_navigation)
        m_navigation->Open(entry->Name());
}

LRESULT CDorvexListView::OnShowDirectory(UINT, WPARAM, LPARAM lParam, BOOL&) {
    const std::unique_ptr<std::string> path = TakePath(lParam);
    if (!m_navigation)
        return 0;
    if (path)
        m_navigation->Show(*path);
    else
        m_navigation->Reload();
    return 0;
}

LRESULT CDorvexListView::OnViewClear(UINT, WPARAM, LPARAM, BOOL&) {
    Clear();
    return 0;
}

LRESULT CDorvexListView::OnKeyDown(UINT msg, WPARAM wParam, LPARAM, BOOL& handled) {
    const bool shift = KeyDown(VK_SHIFT);
    // F10 comes as a system key; Alt with anything else is the system's (menus, the host's accelerators).
    if (msg == WM_SYSKEYDOWN && !(wParam == VK_F10 && shift)) {
        handled = FALSE;
        return 0;
    }
    switch (wParam) {
    case VK_F5:
        PostMessageA(m_hWnd, UWM_LIST_SHOW_DIR, 0, 0);
        return 0;
    case VK_DELETE:
        DeleteSelection();
        PostMessageA(m_hWnd, UWM_LIST_SHOW_DIR, 0, 0);
        return 0;
    case VK_RETURN:
        OpenRow(ListView_GetNextItem(m_hWnd, -1, LVNI_FOCUSED));
        return 0;
    case VK_BACK:
        // Up one directory; a drive's root has nothing above it in the tree.
        if (m_navigation)
            m_navigation->Up(SecondaryDrives());
        return 0;
    case VK_TAB:
        if (m_treeWindow)
            SetFocus(m_treeWindow);
        return 0;
    case 'A':
        if (!KeyDown(VK_CONTROL))
            break;
        ListView_SetItemState(m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
        return 0;
    case 'C':
        if (!KeyDown(VK_CONTROL))
            break;
        CopySelection();
        return 0;
    case 'V':
        if (!KeyDown(VK_CONTROL))
            break;
        PasteFiles();
        return 0;
    case VK_INSERT: // the older clipboard keys: Ctrl+Insert copies, Shift+Insert pastes
        if (KeyDown(VK_CONTROL))
            CopySelection();
        else if (shift)
            PasteFiles();
        return 0;
    case VK_APPS:
        SendMessageA(m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_hWnd), MAKELPARAM(-1, -1));
        return 0;
    case VK_F10:
        if (!shift)
            break;
        SendMessageA(m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_hWnd), MAKELPARAM(-1, -1));
        return 0;
    default:
        break;
    }
    handled = FALSE;
    return 0;
}

LRESULT CDorvexListView::OnGetDialogCode(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    // Enter opens the focused row: a dialog host must hand it over rather than press its default button.
    LRESULT code = DefWindowProc(msg, wParam, lParam);
    const auto* key = reinterpret_cast<const MSG*>(lParam);
    if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN)
        code |= DLGC_WANTMESSAGE;
    return code;
}

LRESULT CDorvexListView::OnCustomDraw(int, NMHDR* header, BOOL&) {
    auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
    return KeepSelectionVisible(draw->nmcd, draw->clrText, draw->clrTextBk);
}

LRESULT CDorvexListView::OnGetObject(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    return AnswerAccessibleObject(m_hWnd, wParam, lParam, ROLE_SYSTEM_LIST, handled);
}

POINT CDorvexListView::KeyboardMenuPoint() const {
    // At the focused row, or the list's corner when there is none.
    RECT row = {};
    POINT point = {0, 0};
    const int focused = ListView_GetNextItem(m_hWnd, -1, LVNI_FOCUSED);
    if (focused >= 0 && ListView_GetItemRect(m_hWnd, focused, &row, LVIR_LABEL))
        point = {row.left, row.bottom};
    ClientToScreen(m_hWnd, &point);
    return point;
}

LRESULT CDorvexListView::OnContextMenu(UINT, WPARAM, LPARAM lParam, BOOL&) {
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (point.x == -1 && point.y == -1)
        point = KeyboardMenuPoint();
    ShowContextMenu(point);
    return 0;
}

LRESULT CDorvexListView::OnDropFiles(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    OnDrop(reinterpret_cast<HDROP>(wParam));
    handled = FALSE; // the control's own processing sees the drop too
    return 0;
}

LRESULT CDorvexListView::OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&) {
    return 1; // filled with the rows, in the buffer (OnPaint)
}

LRESULT CDorvexListView::OnPaint(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (wParam) { // into the caller's DC, as the list view draws
        handled = FALSE;
        return 0;
    }
    // The background and the rows are drawn into a kept bitmap and copied to the screen in one go. Drawn
    // onto the window itself, each row's image makes the system look up the display's format several
    // times, a round trip to the window server each under Wine: most of what a repaint cost.
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (!dc)
        return 0;
    RECT client;
    GetClientRect(m_hWnd, &client);
    HDC buffer = m_paintBuffer.Begin(paint.rcPaint, client.right, client.bottom);
    DefWindowProc(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(buffer ? buffer : dc), PRF_ERASEBKGND | PRF_CLIENT);
    if (buffer)
        BitBlt(dc, paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right - paint.rcPaint.left,
               paint.rcPaint.bottom - paint.rcPaint.top, buffer, paint.rcPaint.left, paint.rcPaint.top, SRCCOPY);
    EndPaint(m_hWnd, &paint);
    // Kept while the list is being worked with; a list left alone gives its 4 bytes a pixel back (a
    // maximised list on a large screen holds tens of megabytes, much for a 32-bit host).
    if (buffer)
        SetTimer(m_hWnd, kPaintBufferTimer, kPaintBufferKeepMs, nullptr);
    return 0;
}

LRESULT CDorvexListView::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (wParam != kPaintBufferTimer) { // the list view's own
        handled = FALSE;
        return 0;
    }
    KillTimer(m_hWnd, kPaintBufferTimer);
    m_paintBuffer.Release();
    return 0;
}

LRESULT CDorvexListView::OnGetDisplayInfo(int, NMHDR* header, BOOL&) {
    auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
    LVITEMA& item = info->item;
    const size_t row = static_cast<size_t>(item.iItem);
    if (item.iItem < 0 || row >= m_rows.size())
        return 0;
    if (item.mask & LVIF_STATE)
        item.state = (item.state & ~LVIS_DROPHILITED) | (item.iItem == m_dropRow ? LVIS_DROPHILITED : 0);
    if (item.mask & LVIF_IMAGE) {
        const DirectoryEntry* entry = m_rows[row];
        item.iImage = !entry || entry->IsDirectory() ? m_folderIcon : m_documentIcon;
    }
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
        m_cellText = CellText(row, item.iSubItem);
        if (header->code == LVN_GETDISPINFOW) {
            // Converted whole and then cut: a conversion into a buffer that is too small gives nothing.
            const int length = MultiByteToWideChar(CP_ACP, 0, m_cellText.data(),
                                                   static_cast<int>(m_cellText.size()), nullptr, 0);
            std::wstring text(static_cast<size_t>(std::max(length, 0)), L'\0');
            MultiByteToWideChar(CP_ACP, 0, m_cellText.data(), static_cast<int>(m_cellText.size()), text.data(),
                                length);
            size_t kept = std::min(text.size(), static_cast<size_t>(item.cchTextMax - 1));
            // Never half of a surrogate pair at the cut.
            if (kept > 0 && kept < text.size() && IS_HIGH_SURROGATE(text[kept - 1]))
                --kept;
            auto* wide = reinterpret_cast<wchar_t*>(item.pszText);
            std::copy_n(text.data(), kept, wide);
            wide[kept] = 0;
        } else {
            lstrcpynA(item.pszText, m_cellText.c_str(), item.cchTextMax);
        }
    }
    return 0;
}

LRESULT CDorvexListView::OnFindItem(int, NMHDR* header, BOOL&) {
    // Typing a name's first letters moves to it, as in any file list.
    // The list asks in the form its parent's notify format or the platform picks: answered in both.
    auto* find = reinterpret_cast<NMLVFINDITEMA*>(header);
    if (!(find->lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find->lvfi.psz || m_rows.empty())
        return -1;
    const std::string prefix = header->code == LVN_ODFINDITEMW
                                   ? NarrowFromWide(reinterpret_cast<const wchar_t*>(find->lvfi.psz))
                                   : std::string(find->lvfi.psz);
    const size_t count = m_rows.size();
    const size_t found = FindTyped(count, find->iStart >= 0 ? static_cast<size_t>(find->iStart) : 0, prefix,
                                      [&](size_t i) { return m_rows[i] ? m_rows[i]->Name() : std::string_view(); },
                                      m_initials);
    if (found < count)
        return static_cast<LRESULT>(found);
    return -1;
}

LRESULT CDorvexListView::OnColumnClick(int, NMHDR* header, BOOL&) {
    const int column = reinterpret_cast<NMLISTVIEW*>(header)->iSubItem;
    if (column >= 0 && column < kColumnCount)
        SortByColumn(column);
    return 0;
}

LRESULT CDorvexListView::OnDoubleClick(int, NMHDR* header, BOOL&) {
    OpenRow(reinterpret_cast<NMITEMACTIVATE*>(header)->iItem);
    return 0;
}

LRESULT CDorvexListView::OnBeginLabelEdit(int, NMHDR* header, BOOL&) {
    // Only the temporary row of a new folder has a name to edit; a device entry is renamed nowhere.
    const int index = reinterpret_cast<NMLVDISPINFOA*>(header)->item.iItem;
    return index < 0 || Row(static_cast<size_t>(index)) != nullptr ? TRUE : FALSE;
}

LRESULT CDorvexListView::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    m_dropRegistration.Revoke();
    Clear();
    handled = FALSE;
    return 0;
}

LRESULT CDorvexListView::OnNcDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    DrainPrivateMessages(m_hWnd);
    handled = FALSE;
    return 0;
}
