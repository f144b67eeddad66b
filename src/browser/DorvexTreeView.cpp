#include "browser/DorvexTreeView.h"
#include "framework/Accessible.h"
#include "framework/SelectionColours.h"
#include <oleacc.h>
#include "browser/DeviceListing.h"
#include "browser/ShellTransfer.h"
#include "browser/resource.h"
#include "framework/Dpi.h"
#include "framework/ImageList.h"
#include "session/TransferList.h"
#include "framework/WaitCursor.h"

namespace {
constexpr int kFixedImages = 2; // the two folder images; drive images follow them
} // namespace

CDorvexTreeView::CDorvexTreeView() : m_driveTable(SecondaryDrives()) {}

CDorvexTreeView::~CDorvexTreeView() {
    // The window first, while the items' roots can still be freed by this class's handlers.
    DestroyWindow();
}

bool CDorvexTreeView::Create(const char*, const char* windowName, DWORD style, const RECT& rect, HWND parent,
                             UINT id, DWORD exStyle) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&init);
    const bool created = CWnd::Create(WC_TREEVIEWA, windowName,
                                      style | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                      rect, parent, id, exStyle);
    if (!created)
        return false;
    m_images.Create(SystemMetricForDpi(SM_CXSMICON, WindowDpi(m_hWnd)), ILC_COLOR32);
    m_folderImage = m_images.Add(IDI_FOLDER);
    m_selectedFolderImage = m_images.Add(IDI_FOLDER_OPEN);
    TreeView_SetImageList(m_hWnd, m_images.Handle(), TVSIL_NORMAL);
    m_dropRegistration.Register(m_hWnd, this);
    return true;
}

void CDorvexTreeView::ApplyDpi(int dpi) {
    if (!IsWindow())
        return;
    m_images.Resize(SystemMetricForDpi(SM_CXSMICON, dpi));
    // Set again, so that the items take the images' new height.
    TreeView_SetImageList(m_hWnd, nullptr, TVSIL_NORMAL);
    TreeView_SetImageList(m_hWnd, m_images.Handle(), TVSIL_NORMAL);
}

HTREEITEM CDorvexTreeView::InsertItem(HTREEITEM parent, const char* text, int image, int selectedImage,
                                      LPARAM data, bool button) {
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    insert.item.cChildren = button ? 1 : 0;
    insert.item.pszText = const_cast<char*>(text);
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    insert.item.lParam = data;
    return TreeView_InsertItem(m_hWnd, &insert);
}

void CDorvexTreeView::SetButton(HTREEITEM item, bool button) {
    TVITEMA change = {};
    change.mask = TVIF_CHILDREN;
    change.hItem = item;
    change.cChildren = button ? 1 : 0;
    TreeView_SetItem(m_hWnd, &change);
}

std::string CDorvexTreeView::ItemText(HTREEITEM item) const {
    char text[MAX_PATH] = "";
    TVITEMA query = {};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = sizeof text;
    return item && TreeView_GetItem(m_hWnd, &query) ? text : "";
}

const std::string* CDorvexTreeView::DriveRoot(HTREEITEM item) const {
    TVITEMA query = {};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    if (!item || !TreeView_GetItem(m_hWnd, &query))
        return nullptr;
    return reinterpret_cast<const std::string*>(query.lParam);
}

bool CDorvexTreeView::IsUnlisted(HTREEITEM item) const {
    TVITEMA query = {};
    query.mask = TVIF_CHILDREN;
    query.hItem = item;
    return item && !TreeView_GetChild(m_hWnd, item) && TreeView_GetItem(m_hWnd, &query) && query.cChildren == 1;
}

void CDorvexTreeView::DeleteChildren(HTREEITEM item) {
    while (HTREEITEM child = TreeView_GetChild(m_hWnd, item))
        TreeView_DeleteItem(m_hWnd, child);
}

void CDorvexTreeView::ClearTree() {
    if (!IsWindow())
        return;
    m_clearing = true;
    for (HTREEITEM item = TreeView_GetRoot(m_hWnd); item; item = TreeView_GetNextSibling(m_hWnd, item)) {
        TVITEMA data = {};
        data.mask = TVIF_PARAM;
        data.hItem = item;
        if (TreeView_GetItem(m_hWnd, &data) && data.lParam) {
            delete reinterpret_cast<std::string*>(data.lParam);
            data.lParam = 0;
            TreeView_SetItem(m_hWnd, &data);
        }
    }
    m_dropItem = nullptr;
    TreeView_DeleteAllItems(m_hWnd);
    // The drives of the last fill leave their images behind otherwise, one set per connection.
    m_images.Truncate(kFixedImages);
    m_clearing = false;
}

void CDorvexTreeView::FillRoots() {
    if (!IsWindow() || !m_device)
        return;
    RequestResult probed;
    {
        CWaitCursor wait;
        probed = m_device->Probe(kListWait);
    }
    if (!probed) {
        InsertItem(TVI_ROOT, kNoFileSystemText, I_IMAGENONE, I_IMAGENONE, 0);
        return;
    }
    HTREEITEM flash = AddDriveItem("\\", kInternalFlashName, IDI_DRIVE, false);
    if (!flash)
        return;
    ListChildren(flash, "\\");
    InvalidateRect(m_hWnd, nullptr, TRUE);
    // The person sees the device at once: the root open and its files in the list.
    TreeView_Expand(m_hWnd, flash, TVE_EXPAND);
    TreeView_SelectItem(m_hWnd, flash);
}

bool CDorvexTreeView::DriveShown(const std::string& root) const {
    for (HTREEITEM item = TreeView_GetRoot(m_hWnd); item; item = TreeView_GetNextSibling(m_hWnd, item))
        if (const std::string* shown = DriveRoot(item); shown && *shown == root)
            return true;
    return false;
}

void CDorvexTreeView::ListChildren(HTREEITEM parent, const std::string& path) {
    if (!m_device)
        return;
    CWaitCursor wait;
    DirectoryListing rows;
    if (!ListDirectory(*m_device, path, kListWait, rows))
        return;
    // Ten thousand folders go in at once, with their buttons but not their children: a folder's own are
    // listed when it is opened. Nothing is drawn until they are all in (a hidden tree stays hidden).
    const bool visible = IsWindowVisible(m_hWnd);
    if (visible)
        SendMessageA(m_hWnd, WM_SETREDRAW, FALSE, 0);
    for (const DirectoryEntry& entry : rows) {
        if (!entry.IsDirectory())
            continue;
        const std::string_view name = entry.Name();
        if (const DriveRow* drive = MatchDrive(m_driveTable, path, name)) {
            // Listing the root again must not show a drive twice.
            if (!DriveShown(drive->root))
                AddDriveItem(drive->root, drive->displayName, drive->icon, true);
            continue;
        }
        InsertItem(parent, entry.NameText(), m_folderImage, m_selectedFolderImage, 0, true);
    }
    SetButton(parent, TreeView_GetChild(m_hWnd, parent) != nullptr);
    if (visible) {
        SendMessageA(m_hWnd, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
}

HTREEITEM CDorvexTreeView::AddDriveItem(const std::string& root, const std::string& name, int icon,
                                        bool unlisted) {
    const int image = m_images.Add(icon);
    auto data = std::make_unique<std::string>(root);
    HTREEITEM item =
        InsertItem(TVI_ROOT, name.c_str(), image, image, reinterpret_cast<LPARAM>(data.get()), unlisted);
    if (!item)
        return nullptr;
    data.release(); // the item's now, freed by ClearTree
    return item;
}

std::string CDorvexTreeView::BuildPath(HTREEITEM item) const {
    std::string path;
    for (; item; item = TreeView_GetParent(m_hWnd, item)) {
        if (const std::string* root = DriveRoot(item))
            return WithFinalBackslash(*root) + path;
        path = ItemText(item) + "\\" + path;
    }
    return "\\" + path;
}

HTREEITEM CDorvexTreeView::FindDriveItem(const std::string& path) const {
    const std::string folded = WithFinalBackslash(FoldLower(path));
    HTREEITEM best = nullptr;
    size_t bestLength = 0;
    for (HTREEITEM item = TreeView_GetRoot(m_hWnd); item; item = TreeView_GetNextSibling(m_hWnd, item)) {
        const std::string itemPath = BuildPath(item);
        if (folded.compare(0, itemPath.size(), itemPath) == 0 && itemPath.size() > bestLength) {
            best = item;
            bestLength = itemPath.size();
        }
    }
    return best;
}

HTREEITEM CDorvexTreeView::FindItemForPath(const std::string& path) {
    if (path.empty())
        return nullptr;
    const std::string folded = WithFinalBackslash(FoldLower(path));
    HTREEITEM item = FindDriveItem(path);
    if (!item)
        return nullptr;
    std::string itemPath = BuildPath(item);
    if (itemPath == folded)
        return item;
    for (;;) {
        if (itemPath.compare(0, path.size(), path) == 0)
            return item;
        const size_t start = itemPath.size();
        if (start >= path.size())
            return nullptr;
        const size_t end = path.find('\\', start);
        const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        HTREEITEM child = FindChild(item, name);
        if (!child) {
            // The directory may be newer than the listing: list once more before giving up.
            DeleteChildren(item);
            ListChildren(item, BuildPath(item));
            child = FindChild(item, name);
            if (!child)
                return nullptr;
        }
        TreeView_Expand(m_hWnd, child, TVE_EXPAND);
        item = child;
        itemPath = BuildPath(child);
    }
}

HTREEITEM CDorvexTreeView::FindChild(HTREEITEM item, const std::string& name) {
    if (IsUnlisted(item))
        ListChildren(item, BuildPath(item));
    for (HTREEITEM child = TreeView_GetChild(m_hWnd, item); child; child = TreeView_GetNextSibling(m_hWnd, child))
        if (EqualsIgnoreCase(ItemText(child), name))
            return child;
    return nullptr;
}

void CDorvexTreeView::RefreshItem(HTREEITEM item) {
    DeleteChildren(item);
    SetButton(item, true);
    if (TreeView_GetItemState(m_hWnd, item, TVIS_EXPANDED) & TVIS_EXPANDED)
        ListChildren(item, BuildPath(item));
}

LRESULT CDorvexTreeView::OnSelectionChanged(int, NMHDR* header, BOOL&) {
    HTREEITEM item = reinterpret_cast<NMTREEVIEWA*>(header)->itemNew.hItem;
    // Nothing to show for a vanished selection or the message that there is no file system.
    if (m_clearing || !item)
        return 0;
    if (!DriveRoot(item) && !TreeView_GetParent(m_hWnd, item))
        return 0;
    if (m_navigation)
        m_navigation->Show(BuildPath(item));
    return 0;
}

LRESULT CDorvexTreeView::OnItemExpanding(int, NMHDR* header, BOOL&) {
    HTREEITEM item = reinterpret_cast<NMTREEVIEWA*>(header)->itemNew.hItem;
    if ((reinterpret_cast<NMTREEVIEWA*>(header)->action & TVE_EXPAND) && IsUnlisted(item))
        ListChildren(item, BuildPath(item));
    return 0;
}

RemoteSelection CDorvexTreeView::FolderSelection(HTREEITEM item) const {
    RemoteSelection selection;
    HTREEITEM parent = item ? TreeView_GetParent(m_hWnd, item) : nullptr;
    if (!parent || DriveRoot(item))
        return selection;
    selection.directory = BuildPath(parent);
    selection.entries.push_back({ItemText(item), true});
    return selection;
}

LRESULT CDorvexTreeView::OnBeginDrag(int, NMHDR* header, BOOL&) {
    const RemoteSelection selection = FolderSelection(reinterpret_cast<NMTREEVIEWA*>(header)->itemNew.hItem);
    if (m_downloader && !selection.entries.empty())
        m_downloader->DragOut(selection);
    return 0;
}

std::string CDorvexTreeView::DropDirectoryAt(POINT client) {
    TVHITTESTINFO hit = {};
    hit.pt = client;
    HTREEITEM item = TreeView_HitTest(m_hWnd, &hit);
    // A drive or a folder under one; not the text that says there is no file system.
    if (!(hit.flags & TVHT_ONITEM) || (item && !DriveRoot(item) && !TreeView_GetParent(m_hWnd, item)))
        item = nullptr;
    if (item != m_dropItem) {
        TreeView_SelectDropTarget(m_hWnd, item);
        UpdateWindow(m_hWnd);
        m_dropItem = item;
        m_dropSince = GetTickCount();
    } else if (item && GetTickCount() - m_dropSince >= kDropHoverOpen &&
               !(TreeView_GetItemState(m_hWnd, item, TVIS_EXPANDED) & TVIS_EXPANDED) &&
               (TreeView_GetChild(m_hWnd, item) || IsUnlisted(item))) {
        TreeView_Expand(m_hWnd, item, TVE_EXPAND);
        UpdateWindow(m_hWnd);
    }
    return item ? BuildPath(item) : "";
}

void CDorvexTreeView::EndDropHighlight() {
    if (m_dropItem && IsWindow())
        TreeView_SelectDropTarget(m_hWnd, nullptr);
    m_dropItem = nullptr;
}

void CDorvexTreeView::DropFiles(const std::vector<std::string>& paths, const std::string& directory, POINT screen) {
    if (paths.empty() || directory.empty() || !m_starter)
        return;
    if (auto list = BuildUpload(paths, directory, m_patterns, m_hWnd, screen))
        m_starter->StartTransfer(std::move(list));
}

LRESULT CDorvexTreeView::OnKeyDown(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (wParam == VK_TAB && m_listWindow) {
        SetFocus(m_listWindow);
        return 0;
    }
    const bool control = GetKeyState(VK_CONTROL) & 0x8000;
    if (m_downloader && control && (wParam == 'C' || wParam == VK_INSERT)) {
        m_downloader->CopyToClipboard(FolderSelection(TreeView_GetSelection(m_hWnd)));
        return 0;
    }
    handled = FALSE;
    return 0;
}

LRESULT CDorvexTreeView::OnCustomDraw(int, NMHDR* header, BOOL&) {
    auto* draw = reinterpret_cast<NMTVCUSTOMDRAW*>(header);
    return KeepSelectionVisible(draw->nmcd, draw->clrText, draw->clrTextBk);
}

LRESULT CDorvexTreeView::OnGetObject(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    return AnswerAccessibleObject(m_hWnd, wParam, lParam, ROLE_SYSTEM_OUTLINE, handled);
}

LRESULT CDorvexTreeView::OnViewClear(UINT, WPARAM, LPARAM, BOOL&) {
    ClearTree();
    return 0;
}

LRESULT CDorvexTreeView::OnFillRoots(UINT, WPARAM, LPARAM, BOOL&) {
    FillRoots();
    return 0;
}

void CDorvexTreeView::SelectDirectory(const std::string& path) {
    PostPath(m_hWnd, UWM_TREE_SELECT_PATH, path);
}

void CDorvexTreeView::RefreshDirectory(const std::string& path) {
    PostPath(m_hWnd, UWM_TREE_REFRESH_PATH, path);
}

LRESULT CDorvexTreeView::OnSelectPath(UINT, WPARAM, LPARAM lParam, BOOL&) {
    std::unique_ptr<std::string> path = TakePath(lParam);
    if (path)
        if (HTREEITEM item = FindItemForPath(*path))
            TreeView_SelectItem(m_hWnd, item);
    return 0;
}

LRESULT CDorvexTreeView::OnRefreshPath(UINT, WPARAM, LPARAM lParam, BOOL&) {
    std::unique_ptr<std::string> path = TakePath(lParam);
    if (path)
        if (HTREEITEM item = FindItemForPath(*path))
            RefreshItem(item);
    return 0;
}

LRESULT CDorvexTreeView::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    m_dropRegistration.Revoke();
    ClearTree();
    handled = FALSE;
    return 0;
}

LRESULT CDorvexTreeView::OnNcDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    DrainPrivateMessages(m_hWnd);
    handled = FALSE;
    return 0;
}
