// The control's main window: it owns everything the user sees (splitter, tree, file list, the host's
// progress dialogs) and it is the session holder, so the session, its events and the host environment
// live in the same object. It runs the connect sequence and is the hub of the private messages.
#pragma once
#include "browser/SplitterBar.h"
#include "browser/TransferList.h"
#include "framework/Wnd.h"
#include "hostenv/HostedSession.h"
#include "mainwnd/Messages.h"
#include <list>
#include <map>
#include <memory>
#include <string>
#include "session/BatchSummary.h"

class CDorvexTreeView;
class CDorvexListView;
class CQuorDialogEventFile;
class CQuorDialogEventTask;

class CDorvexWnd : public CWnd, public CHostedSession {
public:
    static constexpr UINT kSplitterId = 1701;
    static constexpr UINT kListViewId = 1702;
    static constexpr UINT kTreeViewId = 1703;

    CDorvexWnd();
    ~CDorvexWnd() override;

    // Creates the window, then the splitter, the list and the tree inside it, and wires them together.
    // True when all four were created; a failed child leaves the panes unconnected.
    bool Create(const char* className, const char* windowName, DWORD style, const RECT& rect, HWND parent,
                UINT id, DWORD exStyle = 0) override;
    // Before the first show: creates the two progress dialogs (a second call replaces the pair) and lays
    // out the panes.
    void PrepareForDisplay();
    // Clears both views, disconnects and connects with `connection`, then submits the connection check.
    // Raises a COM error carrying E_POINTER when there is no session component.
    void ConnectToDevice(const char* connection);
    // Without a session component the control is inert: its panes stay hidden and the window says why.
    bool IsInert() const { return !HasSession(); }
    static const char* InertNotice();

    // Completions of the lists' items move them on; a user data that is not a list this window runs
    // (one that ended, or any after the window is gone) is never touched.
    long RequestComplete(long errorCode, long requestCode, bool success, SAFEARRAY** answer,
                         LONG_PTR userData) override;
    // The session's transfer and task events go to the progress dialogs as they come; without the
    // dialogs (before display, after the window is gone) they are answered 0.
    long FileXferBatchStart(long batch, BSTR title, long files, long totalKB, long unused) override;
    long FileXferFileStart(long batch, BSTR source, BSTR destination, long sizeBytes, BYTE upload, BSTR name,
                           long unused) override;
    long FileXferFileProgress(long batch, long fileIndex, long files, long bytesDone, long bytesTotal,
                              long unused) override;
    long FileXferFileFinish(long batch, BYTE success, long unused) override;
    long FileXferBatchFinish(long batch, BYTE success, long unused) override;
    long TaskStart(long task, BSTR title, BSTR file, long unused) override;
    long TaskProgress(long task, long percent, BSTR text, long step, long unused) override;
    long TaskComplete(long task, BYTE success, long unused) override;

    const std::list<std::string>& FirmwarePatterns() const { return m_firmwarePatterns; }
    const std::list<std::string>& ProgramPatterns() const { return m_programPatterns; }
    const std::list<std::string>& DisplayListPatterns() const { return m_displayListPatterns; }
    CSplitterBar& Splitter() { return m_splitter; }
    CDorvexTreeView* TreeView() const { return m_treeView; }
    CDorvexListView* ListView() const { return m_listView; }
    CQuorDialogEventFile* FileDialog() const { return m_fileDialog; }
    CQuorDialogEventTask* TaskDialog() const { return m_taskDialog; }
    bool CancelRequested() const { return m_cancelRequested; }
    long CurrentRequestId() const { return m_currentRequestId; }
    // Lists between their start and their end.
    size_t RunningLists() const { return m_batches.size(); }

protected:
    BEGIN_MSG_MAP(CDorvexWnd)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
    MESSAGE_HANDLER(UWM_TRANSFER_START, OnTransferStart)
    MESSAGE_HANDLER(UWM_TRANSFER_STEP, OnTransferStep)
    MESSAGE_HANDLER(UWM_TRANSFER_CANCEL, OnTransferCancel)
    MESSAGE_HANDLER(UWM_CONNECTED, OnConnected)
    MESSAGE_HANDLER(UWM_CONNECT_FAILED, OnConnectFailed)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    LRESULT OnEraseBackground(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNcDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTransferStart(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTransferStep(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTransferCancel(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnConnected(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnConnectFailed(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

private:
    // A list between its start and its end. While one of its items runs the list is kept here;
    // otherwise it travels in a posted step message, which owns it.
    struct CBatchRun {
        std::unique_ptr<CTransferList> waiting;
        long request = 0;   // the running item's request code
        long requestId = 0; // and its id
        bool reserved = false;
        bool cancelled = false;
        CBatchSummary summary;
    };

    // The running item's completion: what it came to, then the next step.
    void CompleteItem(long requestCode, bool success, LONG_PTR userData);
    // Posts the list's next step; a list that cannot be posted ends here.
    void PostStep(std::unique_ptr<CTransferList> list);
    void ReleaseDevice(CBatchRun& run);
    // The list's end: its summary when it has something to tell, then the list is destroyed.
    void EndBatch(std::unique_ptr<CTransferList> list, CBatchSummary::Ending ending);
    // The window is going: running items are cancelled, reservations released, lists freed.
    void AbandonBatches();
    // Submits `request` with an empty block, no wait limit and no user data.
    void SubmitEmpty(long request);
    void DestroyDialogs();
    // The bar's place and the list's column widths as the user left them last time, and for next time.
    void RestoreLayout();
    void KeepLayout();
    // The owner of the progress dialogs: the host's top-level window, or none.
    HWND ParentFrame() const;

    std::list<std::string> m_firmwarePatterns;
    std::list<std::string> m_programPatterns;
    std::list<std::string> m_displayListPatterns;
    CSplitterBar m_splitter;
    CDorvexTreeView* m_treeView = nullptr;
    CDorvexListView* m_listView = nullptr;
    CQuorDialogEventFile* m_fileDialog = nullptr;
    CQuorDialogEventTask* m_taskDialog = nullptr;
    bool m_cancelRequested = false;
    long m_currentRequestId = 0;
    std::map<const CTransferList*, CBatchRun> m_batches;
};
