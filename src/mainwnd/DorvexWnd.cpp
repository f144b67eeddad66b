#include "mainwnd/DorvexWnd.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/LayoutSettings.h"
#include "browser/TransferList.h"
#include "framework/Handles.h"
#include "framework/Prompts.h"
#include "paramblock/ParamBlock.h"
#include "session/QuorGui.h"
#include <commctrl.h>

namespace {

constexpr DWORD kSplitterStyle = WS_CHILD | WS_VISIBLE | WS_DLGFRAME; // 0x50400000
constexpr DWORD kPaneStyle = WS_CHILD | WS_VISIBLE | WS_BORDER;       // 0x50800000
constexpr RECT kPaneRect = {0, 0, 200, 100};
constexpr long kNoWaitLimit = -1;

const char kClientName[] = "Dorvex Varnel Plugin";
const char kInertNotice[] =
    "Dorvex cannot reach any device: the host's device session component is not installed or could not "
    "be started.\r\n\r\nReinstall the host application, then open this window again.";

// The texts of an answer block, or only its first element's (an empty block still gives one, empty).
void AppendPatterns(std::list<std::string>& patterns, SAFEARRAY* answer, bool everyElement) {
    CParamBlock block;
    block.ImportArray(answer);
    if (everyElement) {
        for (size_t i = 0; i < block.Count(); ++i)
            patterns.push_back(block.At(i).GetText());
    } else {
        patterns.push_back(block.At(0).GetText());
    }
}

} // namespace

CDorvexWnd::CDorvexWnd() = default;

CDorvexWnd::~CDorvexWnd() {
    // While this is still a CDorvexWnd, so that the destroy handler runs and frees the dialogs.
    DestroyWindow();
    DestroyDialogs();
}

bool CDorvexWnd::Create(const char* className, const char* windowName, DWORD style, const RECT& rect,
                        HWND parent, UINT id, DWORD exStyle) {
    if (!CWnd::Create(className, windowName, style, rect, parent, id, exStyle))
        return false;
    const bool splitter = m_splitter.Create(kSplitterStyle, RECT{}, m_hWnd, kSplitterId, false);
    m_listView = new CDorvexListView();
    m_treeView = new CDorvexTreeView();
    const bool list = m_listView->Create(kPaneStyle, kPaneRect, m_hWnd, kListViewId);
    const bool tree = m_treeView->Create(nullptr, "", kPaneStyle, kPaneRect, m_hWnd, kTreeViewId);
    // A view without a window never gets its final message, which is what deletes it.
    if (!list) {
        delete m_listView;
        m_listView = nullptr;
    }
    if (!tree) {
        delete m_treeView;
        m_treeView = nullptr;
    }
    const bool all = splitter && list && tree;
    if (all) {
        m_splitter.SetPanes(m_treeView, m_listView);
        m_treeView->SetListWindow(m_listView->m_hWnd);
        m_listView->SetTreeWindow(m_treeView->m_hWnd);
        m_treeView->SetSession(this);
        m_listView->SetSession(this);
        RestoreLayout();
    }
    if (IsInert()) {
        // Nothing to browse: the notice painted in the window takes the panes' place.
        for (UINT child : {kSplitterId, kListViewId, kTreeViewId})
            if (HWND window = GetDlgItem(m_hWnd, child))
                ShowWindow(window, SW_HIDE);
    }
    ownerWindow = m_hWnd;
    return all;
}

void CDorvexWnd::RestoreLayout() {
    const BrowserLayout layout = LoadBrowserLayout();
    if (layout.splitterPosition != -1) {
        // The panes still have their first size: they span the client area first, so that the bar may
        // go anywhere in it.
        RECT client;
        GetClientRect(m_hWnd, &client);
        m_splitter.OnParentSize(client.right, client.bottom);
        m_splitter.SetPosition(layout.splitterPosition);
    }
    // Columns the list does not have yet are left alone by the control.
    for (int column = 0; column < 3; ++column)
        ListView_SetColumnWidth(m_listView->m_hWnd, column, layout.columnWidths[column]);
}

void CDorvexWnd::KeepLayout() {
    if (!m_splitter.FirstPane() || !m_listView || !m_listView->IsWindow())
        return;
    BrowserLayout layout = LoadBrowserLayout();
    // The place the user chose, not where a narrow window last pushed the bar.
    if (m_splitter.ChosenPosition() >= 0)
        layout.splitterPosition = m_splitter.ChosenPosition();
    int widths[3] = {};
    bool allColumns = true;
    for (int column = 0; column < 3; ++column) {
        widths[column] = ListView_GetColumnWidth(m_listView->m_hWnd, column);
        allColumns = allColumns && widths[column] > 0;
    }
    // A missing column reads as 0: then the widths stored before stay.
    if (allColumns)
        for (int column = 0; column < 3; ++column)
            layout.columnWidths[column] = widths[column];
    SaveBrowserLayout(layout);
}

HWND CDorvexWnd::ParentFrame() const {
    HWND root = m_hWnd ? GetAncestor(m_hWnd, GA_ROOT) : nullptr;
    return root != m_hWnd ? root : nullptr;
}

void CDorvexWnd::PrepareForDisplay() {
    DestroyDialogs();
    const HWND frame = ParentFrame();
    m_taskDialog = new CQuorDialogEventTask();
    m_taskDialog->Create(frame);
    m_fileDialog = new CQuorDialogEventFile();
    m_fileDialog->SetCancelInfo(m_hWnd, UWM_TRANSFER_CANCEL);
    m_fileDialog->Create(frame);
    if (IsWindow()) {
        RECT rect;
        GetWindowRect(m_hWnd, &rect);
        m_splitter.OnParentSize(rect.right - rect.left, rect.bottom - rect.top);
    }
}

void CDorvexWnd::DestroyDialogs() {
    // The library's destructors destroy the dialogs' windows.
    delete m_fileDialog;
    m_fileDialog = nullptr;
    delete m_taskDialog;
    m_taskDialog = nullptr;
}

void CDorvexWnd::ConnectToDevice(const char* connection) {
    CBstr text(connection ? connection : "");
    // Nothing of the previous device may stay on screen, whatever happens next.
    if (m_listView)
        m_listView->Clear();
    if (m_treeView)
        m_treeView->ClearTree();
    Session()->Disconnect(&lastResult);
    CBstr client(kClientName);
    Session()->Connect(text.Get(), client.Get(), &lastResult);
    if (!lastResult) {
        Prompts().MessageBox(m_hWnd, GetErrorText(), "Error", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    SubmitEmpty(REQ_CONNECT_CHECK);
}

const char* CDorvexWnd::InertNotice() {
    return kInertNotice;
}

void CDorvexWnd::SubmitEmpty(long request) {
    CParamBlock block;
    long requestId = 0;
    Session()->Submit(request, block.ExportArray(), kNoWaitLimit, &requestId, 0, 0, &lastResult);
}

void CDorvexWnd::ShowCompletionFailure() {
    long code = 0;
    const std::string& text = GetErrorText(&code);
    if (code != kSessionErrorCancelled && code != kSessionErrorConnectionLost)
        Prompts().MessageBox(m_hWnd, text, "Error", MB_OK | MB_ICONEXCLAMATION);
}

long CDorvexWnd::RequestComplete(long errorCode, long requestCode, bool success, SAFEARRAY** answer,
                                 LONG_PTR) {
    SAFEARRAY* block = answer ? *answer : nullptr;
    switch (requestCode) {
    case REQ_CONNECT_CHECK:
        if (IsWindow())
            PostMessageA(m_hWnd, success ? UWM_CONNECTED : UWM_CONNECT_FAILED, 0, success ? 0 : errorCode);
        break;
    case REQ_FIRMWARE_SPECS:
        if (success)
            AppendPatterns(m_firmwarePatterns, block, true);
        return 0;
    case REQ_PROGRAM_SPEC:
        if (success)
            AppendPatterns(m_programPatterns, block, false);
        return 0;
    case REQ_DISPLAY_LIST_SPEC:
        if (success)
            AppendPatterns(m_displayListPatterns, block, false);
        return 0;
    default:
        break;
    }
    if (!success)
        ShowCompletionFailure();
    return 0;
}

LRESULT CDorvexWnd::OnConnected(UINT, WPARAM, LPARAM, BOOL&) {
    // Every check starts the patterns afresh: a reconnection must not add to the last device's.
    m_firmwarePatterns.clear();
    m_programPatterns.clear();
    m_displayListPatterns.clear();
    SubmitEmpty(REQ_FIRMWARE_SPECS);
    SubmitEmpty(REQ_PROGRAM_SPEC);
    SubmitEmpty(REQ_DISPLAY_LIST_SPEC);
    if (m_treeView && m_treeView->IsWindow())
        PostMessageA(m_treeView->m_hWnd, UWM_TREE_FILL_ROOTS, 0, 0);
    return 0;
}

LRESULT CDorvexWnd::OnConnectFailed(UINT, WPARAM, LPARAM lParam, BOOL&) {
    ShowStandardError(m_hWnd, static_cast<long>(lParam));
    return 0;
}

LRESULT CDorvexWnd::OnTransferList(UINT, WPARAM, LPARAM lParam, BOOL&) {
    // Ours now. Running the list item by item comes with the transfer runner; until then it is freed.
    std::unique_ptr<CTransferList> list = TakeTransferList(lParam);
    return 0;
}

LRESULT CDorvexWnd::OnTransferCancel(UINT, WPARAM, LPARAM lParam, BOOL&) {
    m_cancelRequested = true;
    if (lParam)
        Session()->CancelRequest(static_cast<long>(lParam), 2, &lastResult);
    return 0;
}

LRESULT CDorvexWnd::OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    DefWindowProc(msg, wParam, lParam);
    m_splitter.OnParentSize(LOWORD(lParam), HIWORD(lParam));
    return 0;
}

LRESULT CDorvexWnd::OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    DefWindowProc(msg, wParam, lParam);
    KeepLayout();
    // The views delete themselves with their windows' last message.
    if (m_listView && m_listView->IsWindow())
        m_listView->DestroyWindow();
    m_listView = nullptr;
    if (m_treeView && m_treeView->IsWindow())
        m_treeView->DestroyWindow();
    m_treeView = nullptr;
    DestroyDialogs();
    return 0;
}

LRESULT CDorvexWnd::OnNcDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    DrainPrivateMessages(m_hWnd);
    handled = FALSE;
    return 0;
}

LRESULT CDorvexWnd::OnPaint(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (!IsInert()) {
        handled = FALSE;
        return 0;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    RECT area;
    GetClientRect(m_hWnd, &area);
    InflateRect(&area, -12, -12);
    HGDIOBJ font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextA(dc, kInertNotice, -1, &area, DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, font);
    EndPaint(m_hWnd, &paint);
    return 0;
}

LRESULT CDorvexWnd::OnEraseBackground(UINT, WPARAM wParam, LPARAM, BOOL&) {
    RECT client;
    GetClientRect(m_hWnd, &client);
    FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
}
