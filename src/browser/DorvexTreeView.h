// The left pane: the device's drives and directories, loaded lazily. The drives are found after each
// connection, an item's subdirectories on its first expansion; every selection tells the file list which
// directory to show, and the list asks the tree to select or reload a directory by its path.
#pragma once
#include "browser/DropTarget.h"
#include "browser/Navigation.h"
#include "browser/TransferBatches.h"
#include "browser/RemotePath.h"
#include "framework/ImageList.h"
#include "framework/Wnd.h"
#include "browser/Messages.h"
#include <commctrl.h>
#include <memory>
#include <string>
#include <vector>

class CDeviceDownloader;
class CTypedPatterns;
class IDeviceRequests;
class ITransferStarter;

class CDorvexTreeView : public CWnd, public ITreePane, public IFileDropPane {
public:
    static constexpr const char* kInternalFlashName = "Internal Flash";
    static constexpr const char* kNoFileSystemText = "No Filesystem present.";
    static constexpr long kListWait = 5000;

    CDorvexTreeView();
    ~CDorvexTreeView() override;

    // Always a tree control with buttons, lines, lines at the root and the selection always shown; then
    // its image list with the two folder images.
    bool Create(const char* className, const char* windowName, DWORD style, const RECT& rect, HWND parent,
                UINT id, DWORD exStyle = 0) override;

    void SetListWindow(HWND list) { m_listWindow = list; }
    void SetDevice(IDeviceRequests* device) { m_device = device; }
    void SetNavigation(CNavigation* navigation) { m_navigation = navigation; }
    void SetPatterns(const CTypedPatterns* patterns) { m_patterns = patterns; }
    void SetTransferStarter(ITransferStarter* starter) { m_starter = starter; }
    void SetDownloader(std::shared_ptr<CDeviceDownloader> downloader) { m_downloader = std::move(downloader); }
    // The navigation's: each runs once the command that asked for it has returned.
    void SelectDirectory(const std::string& path) override;
    void RefreshDirectory(const std::string& path) override;
    HIMAGELIST ImageList() const { return m_images.Handle(); }
    // The tree moved to a screen of `dpi`: its images are made again at that small-icon size.
    void ApplyDpi(int dpi);

    // Removes every item and frees the drives' roots.
    virtual void ClearTree();
    // Probes the device and inserts its drives, "Internal Flash" listed at once.
    virtual void FillRoots();
    // Inserts the subdirectories of `path` under `parent`; the root's drive directories become drives.
    virtual void ListChildren(HTREEITEM parent, const std::string& path);
    virtual HTREEITEM AddDriveItem(const std::string& root, const std::string& name, int icon, bool unlisted);
    // The item's remote path, ending with a backslash; a single backslash for no item.
    std::string BuildPath(HTREEITEM item) const;
    HTREEITEM FindDriveItem(const std::string& path) const;
    // Finds the directory `path` names, listing and expanding what lies on the way.
    HTREEITEM FindItemForPath(const std::string& path);
    HTREEITEM FindChild(HTREEITEM item, const std::string& name);
    // Lists an expanded item again at once; a collapsed one is listed when it is next opened.
    void RefreshItem(HTREEITEM item);
    std::string ItemText(HTREEITEM item) const;
    // The folder `item` as a selection of its parent directory; none for a drive or no item.
    RemoteSelection FolderSelection(HTREEITEM item) const;

    // IFileDropPane: the folder under the pointer; one the pointer rests on opens.
    std::string DropDirectoryAt(POINT client) override;
    void EndDropHighlight() override;
    void DropFiles(const std::vector<std::string>& paths, const std::string& directory, POINT screen) override;

protected:
    BEGIN_MSG_MAP(CDorvexTreeView)
    MESSAGE_HANDLER(UWM_VIEW_CLEAR, OnViewClear)
    MESSAGE_HANDLER(UWM_TREE_FILL_ROOTS, OnFillRoots)
    MESSAGE_HANDLER(UWM_TREE_SELECT_PATH, OnSelectPath)
    MESSAGE_HANDLER(UWM_TREE_REFRESH_PATH, OnRefreshPath)
    MESSAGE_HANDLER(WM_KEYDOWN, OnKeyDown)
    MESSAGE_HANDLER(WM_GETOBJECT, OnGetObject)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
    REFLECTED_NOTIFY_CODE_HANDLER(TVN_SELCHANGEDA, OnSelectionChanged)
    REFLECTED_NOTIFY_CODE_HANDLER(TVN_SELCHANGEDW, OnSelectionChanged)
    REFLECTED_NOTIFY_CODE_HANDLER(TVN_ITEMEXPANDINGA, OnItemExpanding)
    REFLECTED_NOTIFY_CODE_HANDLER(TVN_ITEMEXPANDINGW, OnItemExpanding)
    REFLECTED_NOTIFY_CODE_HANDLER(TVN_BEGINDRAGA, OnBeginDrag)
    REFLECTED_NOTIFY_CODE_HANDLER(TVN_BEGINDRAGW, OnBeginDrag)
    REFLECTED_NOTIFY_CODE_HANDLER(NM_CUSTOMDRAW, OnCustomDraw)
    END_MSG_MAP()

    LRESULT OnViewClear(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnFillRoots(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSelectPath(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnRefreshPath(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnGetObject(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNcDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSelectionChanged(int id, NMHDR* header, BOOL& handled);
    LRESULT OnItemExpanding(int id, NMHDR* header, BOOL& handled);
    LRESULT OnBeginDrag(int id, NMHDR* header, BOOL& handled);
    LRESULT OnCustomDraw(int id, NMHDR* header, BOOL& handled);

private:
    // `button`: the item shows its button, also before anything under it is known.
    HTREEITEM InsertItem(HTREEITEM parent, const char* text, int image, int selectedImage, LPARAM data,
                         bool button = false);
    void DeleteChildren(HTREEITEM item);
    void SetButton(HTREEITEM item, bool button);
    // An item with its button and no children yet: its directory is listed when it is opened.
    bool IsUnlisted(HTREEITEM item) const;
    const std::string* DriveRoot(HTREEITEM item) const;
    bool DriveShown(const std::string& root) const;

    HWND m_listWindow = nullptr;
    IDeviceRequests* m_device = nullptr;
    CNavigation* m_navigation = nullptr;
    const CTypedPatterns* m_patterns = nullptr;
    ITransferStarter* m_starter = nullptr;
    std::shared_ptr<CDeviceDownloader> m_downloader;
    CDropRegistration m_dropRegistration;
    HTREEITEM m_dropItem = nullptr; // the folder shown as the drop target
    DWORD m_dropSince = 0;          // since when the pointer rests on it
    std::vector<DriveRow> m_driveTable;
    CImageList m_images; // the two folder images, then one per drive shown
    int m_selectedFolderImage = -1;
    int m_folderImage = -1;
    // Items vanish while the tree is cleared: no selection change is announced then.
    bool m_clearing = false;
};
