// The control's main window, a frame: it holds the session, the transfer runner, the typed-operation
// patterns, the host's progress dialogs and the three panes (splitter, tree, file list), lays the panes
// out and routes the private messages and the session's completions to whoever handles them.
#pragma once
#include "browser/Messages.h"
#include "browser/Navigation.h"
#include "browser/SplitterBar.h"
#include "browser/TypedPatterns.h"
#include "framework/Dpi.h"
#include "framework/Handles.h"
#include "framework/Wnd.h"
#include "hostenv/HostedSession.h"
#include "mainwnd/ProgressDialogs.h"
#include "session/TransferRunner.h"
#include <memory>
#include <string>

class CDeviceDownloader;
class CDorvexTreeView;
class CDorvexListView;

class CDorvexWnd : public CWnd, public ITransferStarter, private ITransferHost, private ISessionListener {
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
    // Without a session component only the views are cleared.
    void ConnectToDevice(const char* connection);
    // Without a session component the control is inert: its panes stay hidden and the window says why.
    bool IsInert() const { return !m_session->HasSession(); }
    bool HasSession() const { return m_session->HasSession(); }
    // The DPI the window is sized for: the screen's, or its monitor's where the system keeps one each.
    int Dpi() const { return m_dpi; }
    // The window moved to a screen of `dpi` (its host went to another monitor): the panes' images are made
    // again at that small-icon size and their font at that DPI, and the bar and the columns keep their
    // sizes in 96-DPI units.
    void ApplyDpi(int dpi);

    // A list a view built: it starts once the view's command has returned.
    void StartTransfer(std::unique_ptr<CTransferList> list) override;

    CHostedSession& Session() { return *m_session; }
    const CTransferRunner& Runner() const { return m_runner; }
    const CTypedPatterns& Patterns() const { return m_patterns; }
    const CNavigation& Navigation() const { return m_navigation; }
    CSplitterBar& Splitter() { return m_splitter; }
    CDorvexTreeView* TreeView() const { return m_treeView.get(); }
    CDorvexListView* ListView() const { return m_listView.get(); }
    // A key the control's container offers while the focus is inside the control: true when a pane took
    // it. `leaves` is set for Tab past the list or Shift+Tab before the tree, which the container handles.
    bool TakeKey(MSG& msg, bool& leaves);
    // Gives the focus to the pane that had it last, the tree the first time (nothing while inert).
    void FocusPane();

    CQuorDialogEventFile* FileDialog() const { return m_dialogs.File(); }
    CQuorDialogEventTask* TaskDialog() const { return m_dialogs.Task(); }

protected:
    BEGIN_MSG_MAP(CDorvexWnd)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_DPICHANGED_AFTERPARENT, OnDpiChanged)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
    MESSAGE_HANDLER(UWM_TRANSFER_START, OnTransferStart)
    MESSAGE_HANDLER(UWM_TRANSFER_STEP, OnTransferStep)
    MESSAGE_HANDLER(UWM_TRANSFER_CANCEL, OnTransferCancel)
    MESSAGE_HANDLER(UWM_CONNECTED, OnConnected)
    MESSAGE_HANDLER(UWM_CONNECT_FAILED, OnConnectFailed)
    MESSAGE_HANDLER(WM_NOTIFY, OnPaneFocus)
    REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    LRESULT OnEraseBackground(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDpiChanged(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnNcDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTransferStart(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTransferStep(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTransferCancel(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnConnected(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnConnectFailed(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnPaneFocus(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

private:
    // ITransferHost
    bool PostStep(std::unique_ptr<CTransferList> list) override;
    void ShowBox(const std::string& text, const std::string& caption, bool warning) override;
    void ListEnded(const CTransferList& list) override;
    // ISessionListener: the connection check, the patterns and the lists' items.
    void RequestCompleted(long requestCode, const RequestResult& result, SAFEARRAY* answer, uintptr_t userData,
                          long eventCode) override;

    // Submits `request` with an empty block, no wait limit and no user data.
    void SubmitEmpty(long request);
    // The bar's place and the list's column widths as the user left them last time, and for next time.
    void RestoreLayout();
    void KeepLayout();
    // The owner of the progress dialogs: the host's top-level window, or none.
    HWND ParentFrame() const;
    // The panes' font made again for `to` DPI from the one they show at `from`, which the system made for
    // the screen's DPI and does not follow a monitor's.
    void ScalePaneFont(int from, int to);

    // The session outlives everything that asks it something.
    std::unique_ptr<CHostedSession> m_session;
    CTransferRunner m_runner;
    CTypedPatterns m_patterns;
    CNavigation m_navigation;
    CProgressDialogs m_dialogs;
    CSplitterBar m_splitter;
    CGdiObject m_paneFont; // after a move to another DPI: the panes' font, which outlives them
    std::unique_ptr<CDorvexTreeView> m_treeView;
    std::unique_ptr<CDorvexListView> m_listView;
    HWND m_focusPane = nullptr; // the pane that had the focus last
    // Shared with the data objects the views hand to the shell, which may outlive this window.
    std::shared_ptr<CDeviceDownloader> m_downloader;
    int m_dpi = 96;
};
