// The right pane: the entries of one remote directory, with the columns Name, Size and Time (GMT), sorted
// by up to three columns. The list owns its rows (one compact entry of the listing each, null for the
// temporary row of a new folder) and the list control only asks for what it draws, so showing and sorting
// a directory of 100,000 entries costs no more than the listing itself.
#pragma once
#include "browser/DirectoryEntry.h"
#include "browser/DropTarget.h"
#include "browser/Navigation.h"
#include "browser/TransferBatches.h"
#include "browser/SortState.h"
#include "browser/Messages.h"
#include "framework/ImageList.h"
#include "framework/PaintBuffer.h"
#include "framework/Wnd.h"
#include "session/DeviceRequests.h"
#include <commctrl.h>
#include <shellapi.h>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CDeviceDownloader;
class CTypedPatterns;
class ITransferStarter;

class CDorvexListView : public CWnd, public IListPane, public IFileDropPane {
public:
    static constexpr long kListWait = 10000;
    // The context menu's commands (the module's string table has a prompt under each).
    static constexpr UINT kDeleteCommand = 201;
    static constexpr UINT kSendCommand = 202;
    static constexpr UINT kNewDirectoryCommand = 203;
    static constexpr UINT kCopyCommand = 204;
    static constexpr UINT kPasteCommand = 205;
    static constexpr const char* kNewFolderText = "New Folder";

    CDorvexListView() = default;
    ~CDorvexListView() override;

    // A report list that shows its selection without focus, edits labels in place and asks its owner
    // for every cell; then its icons and columns.
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
    using CWnd::Create;

    void SetTreeWindow(HWND tree) { m_treeWindow = tree; }
    void SetDevice(IDeviceRequests* device) { m_device = device; }
    void SetNavigation(CNavigation* navigation) { m_navigation = navigation; }
    void SetPatterns(const CTypedPatterns* patterns) { m_patterns = patterns; }
    void SetTransferStarter(ITransferStarter* starter) { m_starter = starter; }
    void SetDownloader(std::shared_ptr<CDeviceDownloader> downloader) { m_downloader = std::move(downloader); }
    // The directory the list shows, "" when none.
    const std::string& CurrentPath() const;
    const SortState& Sort() const { return m_sort; }
    HIMAGELIST ImageList() const { return m_images.Handle(); }
    // The DPI the list is sized for: its images at the system's small-icon size, its columns.
    int Dpi() const { return m_dpi; }
    // The list moved to a screen of `dpi`: its images are made again at that small-icon size and its
    // columns keep their widths in 96-DPI units.
    void ApplyDpi(int dpi);

    // Forgets the directory, removes every row and refuses drops.
    virtual void Clear();
    // Lists the directory shown again into the rows, sorted; a refusal shows the session's text once.
    virtual void Fill();
    // The navigation's: the rows of `path` replace the rows shown, and drops are taken.
    void ListDirectory(const std::string& path) override;
    // As a click on column `column`'s header.
    void SortByColumn(int column);

    // Rows in display order; the record is null for the temporary row.
    // What the list's paint bitmap holds now (given back a while after the last paint).
    size_t PaintBufferBytes() const { return m_paintBuffer.Bytes(); }
    size_t RowCount() const { return m_rows.size(); }
    const DirectoryEntry* Row(size_t index) const { return index < m_rows.size() ? m_rows[index] : nullptr; }
    // The selected rows that have a record, in ascending row order.
    std::vector<const DirectoryEntry*> SelectedEntries() const;
    // The cell texts as the list shows them.
    std::string CellText(size_t row, int column) const;
    // "M/dd/yy hh:mm:ss tt" in the user's locale, without any time-zone conversion.
    static std::string TimeText(uint64_t fileTime);

    // Deletes the selected entries, asking about each (FileCommands.cpp); the caller reloads the list.
    void DeleteSelection();
    // Appends the temporary "New Folder" row and edits its name in place; the end of the edit creates it.
    void BeginNewDirectory();
    // Copies the selected entries, directory trees included, to a local folder the user picks, through a
    // transfer list handed to the main window (TransferCommands.cpp).
    void SendSelection();
    // The selected entries of the directory shown.
    RemoteSelection Selection() const;
    // Puts the selection on the clipboard as files; pasted in the shell, they are downloaded then.
    void CopySelection();
    // Uploads the clipboard's files into the directory shown, as a drop there would.
    void PasteFiles();

    // IFileDropPane: a directory row under the pointer, or the directory shown.
    std::string DropDirectoryAt(POINT client) override;
    void EndDropHighlight() override;
    void DropFiles(const std::vector<std::string>& paths, const std::string& directory, POINT screen) override;

protected:
    BEGIN_MSG_MAP(CDorvexListView)
    MESSAGE_HANDLER(UWM_LIST_SHOW_DIR, OnShowDirectory)
    MESSAGE_HANDLER(UWM_VIEW_CLEAR, OnViewClear)
    MESSAGE_HANDLER(WM_KEYDOWN, OnKeyDown)
    MESSAGE_HANDLER(WM_SYSKEYDOWN, OnKeyDown)
    MESSAGE_HANDLER(WM_GETDLGCODE, OnGetDialogCode)
    MESSAGE_HANDLER(WM_GETOBJECT, OnGetObject)
    MESSAGE_HANDLER(WM_CONTEXTMENU, OnContextMenu)
    MESSAGE_HANDLER(WM_DROPFILES, OnDropFiles)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    COMMAND_ID_HANDLER(kDeleteCommand, OnCommand)
    COMMAND_ID_HANDLER(kSendCommand, OnCommand)
    COMMAND_ID_HANDLER(kNewDirectoryCommand, OnCommand)
    COMMAND_ID_HANDLER(kCopyCommand, OnCommand)
    COMMAND_ID_HANDLER(kPasteCommand, OnCommand)
    MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_GETDISPINFOA, OnGetDisplayInfo)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_GETDISPINFOW, OnGetDisplayInfo)
    REFLECTED_NOTIFY_CODE_HANDLER(NM_CUSTOMDRAW, OnCustomDraw)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_ODFINDITEMA, OnFindItem)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_ODFINDITEMW, OnFindItem)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_COLUMNCLICK, OnColumnClick)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_BEGINDRAG, OnBeginDrag)
    REFLECTED_NOTIFY_CODE_HANDLER(NM_DBLCLK, OnDoubleClick)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_BEGINLABELEDITA, OnBeginLabelEdit)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_BEGINLABELEDITW, OnBeginLabelEdit)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_ENDLABELEDITA, OnEndLabelEdit)
    REFLECTED_NOTIFY_CODE_HANDLER(LVN_ENDLABELEDITW, OnEndLabelEdit)
    END_MSG_MAP()

    LRESULT OnShowDirectory(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnViewClear(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnGetDialogCode(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnGetObject(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnContextMenu(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDropFiles(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnEraseBackground(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNcDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnGetDisplayInfo(int id, NMHDR* header, BOOL& handled);
    LRESULT OnFindItem(int id, NMHDR* header, BOOL& handled);
    LRESULT OnColumnClick(int id, NMHDR* header, BOOL& handled);
    LRESULT OnBeginDrag(int id, NMHDR* header, BOOL& handled);
    LRESULT OnCustomDraw(int id, NMHDR* header, BOOL& handled);
    LRESULT OnDoubleClick(int id, NMHDR* header, BOOL& handled);
    LRESULT OnBeginLabelEdit(int id, NMHDR* header, BOOL& handled);
    LRESULT OnEndLabelEdit(int id, NMHDR* header, BOOL& handled);
    LRESULT OnCommand(WORD code, WORD id, HWND control, BOOL& handled);

    // The context menu at `screen`: the commands on the selection, "&New Directory", then "&Copy" and
    // "&Paste" (greyed when they have nothing to work on).
    virtual void ShowContextMenu(POINT screen);
    // Files and folders dropped from the shell while a directory is shown: an upload batch, or for one
    // file of a known kind the typed operation the user picks.
    virtual void OnDrop(HDROP drop);

private:
    void ClearRows();
    void ClearSelection();
    // Puts the rows on screen again after they changed, keeping the selected and focused records.
    void SortAndShow(bool keepSelection);
    void UpdateSortArrows();
    // Where a menu asked for from the keyboard shows, in screen coordinates.
    POINT KeyboardMenuPoint() const;
    void OpenRow(int index);
    // The end of the new folder's name edit: `name` null when it was cancelled. True keeps the label.
    bool FinishNewDirectory(int index, const char* name);
    void RemoveTemporaryRow(int index);
    // Shows a refusal's text in the application's box.
    void ShowRefusal(const RequestResult& refusal);

    HWND m_treeWindow = nullptr;
    IDeviceRequests* m_device = nullptr;
    const CTypedPatterns* m_patterns = nullptr;
    ITransferStarter* m_starter = nullptr;
    std::shared_ptr<CDeviceDownloader> m_downloader;
    CDropRegistration m_dropRegistration;
    int m_dropRow = -1; // the directory row shown as the drop target
    CNavigation* m_navigation = nullptr;
    CImageList m_images;
    CPaintBuffer m_paintBuffer;
    static constexpr UINT_PTR kPaintBufferTimer = 0x44504254; // apart from the list view's own ids
    static constexpr UINT kPaintBufferKeepMs = 2000;
    int m_dpi = 96;
    int m_folderIcon = -1;
    int m_documentIcon = -1;
    SortState m_sort;
    DirectoryListing m_listing; // what the rows point into
    EntryRows m_rows;
    // Each row's first character, folded, in the order shown: the type-ahead reads only rows it could find.
    std::string m_initials;
    // What LVN_GETDISPINFO hands out lives until the next request.
    std::string m_cellText;
    mutable std::unordered_map<const DirectoryEntry*, std::string> m_timeTexts;
};
