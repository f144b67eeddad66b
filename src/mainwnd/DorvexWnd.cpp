#include "mainwnd/DorvexWnd.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/DpiScale.h"
#include "browser/LayoutSettings.h"
#include "browser/PaneKeys.h"
#include "browser/ShellTransfer.h"
#include "framework/OleControl.h"
#include "framework/Prompts.h"
#include <commctrl.h>

namespace {

constexpr DWORD kSplitterStyle = WS_CHILD | WS_VISIBLE | WS_DLGFRAME; // 0x50400000
constexpr DWORD kPaneStyle = WS_CHILD | WS_VISIBLE | WS_BORDER;       // 0x50800000
// The panes as they are made (at 96 DPI): the bar is centred on the tree's right edge.
constexpr int kPaneWidth = 200;
constexpr int kPaneHeight = 100;
constexpr int kNoticeMargin = 12;
constexpr long kNoWaitLimit = -1;

const char kClientName[] = "Dorvex Varnel Plugin";
const char kInertNotice[] =
    "Dorvex cannot reach any device: the host's device session component is not installed or could not "
    "be started.\r\n\r\nReinstall the host application, then open this window again.";

} // namespace

CDorvexWnd::CDorvexWnd()
    : m_session(std::make_unique<CHostedSession>()), m_runner(*m_session, *this),
      m_downloader(std::make_shared<CDeviceDownloader>()) {
    m_session->AddListener(this);
    m_session->AddListener(&m_dialogs);
}

CDorvexWnd::~CDorvexWnd() {
    // While this is still a CDorvexWnd, so that the destroy handler runs.
    DestroyWindow();
    m_runner.Abandon();
    m_session->RemoveListener(&m_dialogs);
    m_session->RemoveListener(this);
}

bool CDorvexWnd::Create(const char* className, const char* windowName, DWORD style, const RECT& rect,
                        HWND parent, UINT id, DWORD exStyle) {
    if (!CWnd::Create(className, windowName, style, rect, parent, id, exStyle))
        return false;
    m_dpi = WindowDpi(m_hWnd);
    m_splitter.SetDpi(m_dpi);
    const bool splitter = m_splitter.Create(kSplitterStyle, RECT{}, m_hWnd, kSplitterId);
    auto list = std::make_unique<CDorvexListView>();
    auto tree = std::make_unique<CDorvexTreeView>();
    const RECT paneRect = {0, 0, ToPixels(kPaneWidth, m_dpi), ToPixels(kPaneHeight, m_dpi)};
    if (list->Create(kPaneStyle, paneRect, m_hWnd, kListViewId))
        m_listView = std::move(list);
    if (tree->Create(nullptr, "Device folders", kPaneStyle, paneRect, m_hWnd, kTreeViewId))
        m_treeView = std::move(tree);
    const bool all = splitter && m_listView && m_treeView;
    if (all) {
        m_splitter.SetPanes(m_treeView.get(), m_listView.get());
        m_treeView->SetListWindow(m_listView->m_hWnd);
        m_listView->SetTreeWindow(m_treeView->m_hWnd);
        m_treeView->SetDevice(m_session.get());
        m_listView->SetDevice(m_session.get());
        m_listView->SetPatterns(&m_patterns);
        m_listView->SetTransferStarter(this);
        m_treeView->SetPatterns(&m_patterns);
        m_treeView->SetTransferStarter(this);
        m_downloader->Attach(m_session.get(), this, m_hWnd);
        m_listView->SetDownloader(m_downloader);
        m_treeView->SetDownloader(m_downloader);
        m_navigation.SetPanes(m_treeView.get(), m_listView.get());
        m_treeView->SetNavigation(&m_navigation);
        m_listView->SetNavigation(&m_navigation);
        RestoreLayout();
    }
    if (IsInert()) {
        // Nothing to browse: the notice painted in the window takes the panes' place, and is its text
        // for a screen reader.
        SetWindowTextA(m_hWnd, kInertNotice);
        for (UINT child : {kSplitterId, kListViewId, kTreeViewId})
            if (HWND window = GetDlgItem(m_hWnd, child))
                ShowWindow(window, SW_HIDE);
    }
    m_session->ownerWindow = m_hWnd;
    return all;
}

bool CDorvexWnd::TakeKey(MSG& msg, bool& leaves) {
    leaves = false;
    HWND tree = m_treeView ? m_treeView->m_hWnd : nullptr;
    HWND list = m_listView ? m_listView->m_hWnd : nullptr;
    HWND focus = GetFocus();
    if (!focus || IsInert() || (focus != tree && focus != list)) {
        // Inside a pane's own child (the new folder's name box) every key is the box's, Tab and Escape
        // included; on the bare window only Tab means anything: out.
        if (focus && ((tree && IsChild(tree, focus)) || (list && IsChild(list, focus)))) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            return true;
        }
        leaves = msg.message == WM_KEYDOWN && msg.wParam == VK_TAB;
        return false;
    }
    const KeyState state{GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_MENU) < 0};
    const KeyRoute route = RouteKey(msg.message, static_cast<unsigned>(msg.wParam), state);
    switch (route) {
    case KeyRoute::Pane:
        // Translated here: a typed letter's character comes back through the container to the list.
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        return true;
    case KeyRoute::NextPane:
    case KeyRoute::PreviousPane: {
        // The tree comes first, the list second; past either end the container moves on.
        const bool forward = route == KeyRoute::NextPane;
        HWND from = forward ? tree : list, to = forward ? list : tree;
        if (focus == from && IsWindowVisible(to)) {
            SetFocus(to);
            return true;
        }
        leaves = true;
        return false;
    }
    case KeyRoute::Host:
    default:
        return false;
    }
}

void CDorvexWnd::FocusPane() {
    if (IsInert() || !m_treeView || !m_listView)
        return;
    HWND pane = m_focusPane == m_listView->m_hWnd ? m_focusPane : m_treeView->m_hWnd;
    if (IsWindowVisible(pane))
        SetFocus(pane);
}

LRESULT CDorvexWnd::OnPaneFocus(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    // Seen on the way to the pane's own handlers: remembered for the next time the control gets the focus,
    // and the control's window learns that the focus moved.
    handled = FALSE;
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->code != static_cast<UINT>(NM_SETFOCUS) && header->code != static_cast<UINT>(NM_KILLFOCUS))
        return 0;
    if (header->code == static_cast<UINT>(NM_SETFOCUS) &&
        ((m_treeView && header->hwndFrom == m_treeView->m_hWnd) || (m_listView && header->hwndFrom == m_listView->m_hWnd)))
        m_focusPane = header->hwndFrom;
    if (HWND parent = GetParent(m_hWnd))
        PostMessageA(parent, COleControl::FocusMovedMessage(), 0, 0);
    return 0;
}

void CDorvexWnd::RestoreLayout() {
    const BrowserLayout layout = LoadBrowserLayout();
    // The window may still have its creation size (nothing, for a hidden host): the bar keeps the place
    // for the first size that holds it.
    if (layout.splitterPosition != -1)
        m_splitter.RestorePosition(ToPixels(layout.splitterPosition, m_dpi));
    // Columns the list does not have yet are left alone by the control.
    for (int column = 0; column < 3; ++column)
        ListView_SetColumnWidth(m_listView->m_hWnd, column, ToPixels(layout.columnWidths[column], m_dpi));
}

void CDorvexWnd::KeepLayout() {
    if (!m_splitter.FirstPane() || !m_listView || !m_listView->IsWindow())
        return;
    BrowserLayout layout = LoadBrowserLayout();
    // The place the user chose, not where a narrow window last pushed the bar.
    if (m_splitter.ChosenPosition() >= 0)
        layout.splitterPosition = ToUnits(m_splitter.ChosenPosition(), m_dpi);
    int widths[3] = {};
    bool allColumns = true;
    for (int column = 0; column < 3; ++column) {
        widths[column] = ListView_GetColumnWidth(m_listView->m_hWnd, column);
        allColumns = allColumns && widths[column] > 0;
    }
    // A missing column reads as 0: then the widths stored before stay.
    if (allColumns)
        for (int column = 0; column < 3; ++column)
            layout.columnWidths[column] = ToUnits(widths[column], m_dpi);
    SaveBrowserLayout(layout);
}

HWND CDorvexWnd::ParentFrame() const {
    HWND root = m_hWnd ? GetAncestor(m_hWnd, GA_ROOT) : nullptr;
    return root != m_hWnd ? root : nullptr;
}

void CDorvexWnd::PrepareForDisplay() {
    m_dialogs.Create(ParentFrame(), m_hWnd, UWM_TRANSFER_CANCEL);
    if (IsWindow()) {
        RECT rect;
        GetWindowRect(m_hWnd, &rect);
        m_splitter.OnParentSize(rect.right - rect.left, rect.bottom - rect.top);
    }
}

void CDorvexWnd::ConnectToDevice(const char* connection) {
    // Nothing of the previous device may stay on screen, whatever happens next.
    if (m_listView)
        m_listView->Clear();
    if (m_treeView)
        m_treeView->ClearTree();
    if (!m_session->HasSession())
        return;
    m_session->Disconnect();
    const RequestResult connected = m_session->Connect(connection ? connection : "", kClientName);
    if (!connected) {
        Prompts().MessageBox(ModalOwner(m_hWnd), connected.text, "Error", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    SubmitEmpty(REQ_CONNECT_CHECK);
}

void CDorvexWnd::SubmitEmpty(long request) {
    CParamBlock block;
    long requestId = 0;
    m_session->Submit(request, block, kNoWaitLimit, 0, requestId);
}

void CDorvexWnd::StartTransfer(std::unique_ptr<CTransferList> list) {
    PostTransferList(m_hWnd, UWM_TRANSFER_START, std::move(list));
}

bool CDorvexWnd::PostStep(std::unique_ptr<CTransferList> list) {
    return PostTransferList(m_hWnd, UWM_TRANSFER_STEP, std::move(list));
}

void CDorvexWnd::ShowBox(const std::string& text, const std::string& caption, bool warning) {
    // Once the window is gone there is nobody to tell.
    if (IsWindow())
        Prompts().MessageBox(ModalOwner(m_hWnd), text, caption, MB_OK | (warning ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

void CDorvexWnd::ListEnded(const CTransferList& list) {
    // A download changed nothing on the device: the rows, and the user's selection, stay.
    if (list.direction == 0 || !m_listView || !m_listView->IsWindow())
        return;
    PostMessageA(m_listView->m_hWnd, UWM_LIST_SHOW_DIR, 0, 0);
    // Files dropped on a folder may have made new directories there.
    if (!list.targetDirectory.empty())
        m_navigation.Changed(list.targetDirectory);
}

void CDorvexWnd::RequestCompleted(long requestCode, const RequestResult& result, SAFEARRAY* answer,
                                  uintptr_t userData, long eventCode) {
    if (requestCode == REQ_CONNECT_CHECK && IsWindow())
        PostMessageA(m_hWnd, result ? UWM_CONNECTED : UWM_CONNECT_FAILED, 0, result ? 0 : eventCode);
    if (requestCode == REQ_FIRMWARE_SPECS || requestCode == REQ_PROGRAM_SPEC || requestCode == REQ_DISPLAY_LIST_SPEC) {
        if (result) {
            CParamBlock block;
            block.ImportArray(answer);
            m_patterns.Add(requestCode, block);
        }
        return;
    }
    // Once the window is gone nothing is left running.
    if (!IsWindow() || m_runner.Complete(requestCode, result, userData))
        return;
    // A failure of a request that belongs to no list (the connection check) is told here.
    if (!userData && !result && !result.Quiet())
        Prompts().MessageBox(ModalOwner(m_hWnd), result.text, "Error", MB_OK | MB_ICONEXCLAMATION);
}

LRESULT CDorvexWnd::OnConnected(UINT, WPARAM, LPARAM, BOOL&) {
    m_patterns.Clear();
    SubmitEmpty(REQ_FIRMWARE_SPECS);
    SubmitEmpty(REQ_PROGRAM_SPEC);
    SubmitEmpty(REQ_DISPLAY_LIST_SPEC);
    if (m_treeView && m_treeView->IsWindow())
        PostMessageA(m_treeView->m_hWnd, UWM_TREE_FILL_ROOTS, 0, 0);
    return 0;
}

LRESULT CDorvexWnd::OnConnectFailed(UINT, WPARAM, LPARAM lParam, BOOL&) {
    m_session->ShowStandardError(m_hWnd, static_cast<long>(lParam));
    return 0;
}

LRESULT CDorvexWnd::OnTransferStart(UINT, WPARAM, LPARAM lParam, BOOL&) {
    m_runner.Start(TakeTransferList(lParam));
    return 0;
}

LRESULT CDorvexWnd::OnTransferStep(UINT, WPARAM, LPARAM lParam, BOOL&) {
    m_runner.Step(TakeTransferList(lParam));
    return 0;
}

LRESULT CDorvexWnd::OnTransferCancel(UINT, WPARAM, LPARAM lParam, BOOL&) {
    m_runner.Cancel(static_cast<long>(lParam));
    return 0;
}

LRESULT CDorvexWnd::OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    DefWindowProc(msg, wParam, lParam);
    m_splitter.OnParentSize(LOWORD(lParam), HIWORD(lParam));
    return 0;
}

void CDorvexWnd::ApplyDpi(int dpi) {
    if (dpi == m_dpi || !IsWindow())
        return;
    ScalePaneFont(m_dpi, dpi);
    m_dpi = dpi;
    if (m_listView)
        m_listView->ApplyDpi(dpi);
    if (m_treeView)
        m_treeView->ApplyDpi(dpi);
    m_splitter.ApplyDpi(dpi);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CDorvexWnd::ScalePaneFont(int from, int to) {
    const HWND panes[] = {m_treeView ? m_treeView->m_hWnd : nullptr,
                          m_listView ? m_listView->m_hWnd : nullptr};
    HGDIOBJ current =
        panes[1] ? reinterpret_cast<HGDIOBJ>(SendMessageA(panes[1], WM_GETFONT, 0, 0)) : nullptr;
    LOGFONTA font = {};
    if (!GetObjectA(current ? current : GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font))
        return;
    font.lfHeight = Rescale(font.lfHeight, from, to);
    CGdiObject scaled(CreateFontIndirectA(&font));
    if (!scaled)
        return;
    for (HWND pane : panes)
        if (pane)
            SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(scaled.Get()), TRUE);
    // The font made for the last DPI, if any, is no pane's any more.
    m_paneFont = std::move(scaled);
}

LRESULT CDorvexWnd::OnDpiChanged(UINT, WPARAM, LPARAM, BOOL& handled) {
    ApplyDpi(WindowDpi(m_hWnd));
    // The panes are told as well, by the system, and have nothing to add.
    handled = FALSE;
    return 0;
}

LRESULT CDorvexWnd::OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
    DefWindowProc(msg, wParam, lParam);
    KeepLayout();
    // Only the panes' windows go now: a pane's own handler may be what led here (a box it showed let the
    // host destroy the control), so its object stays until this one goes.
    m_navigation.SetPanes(nullptr, nullptr);
    m_downloader->Detach();
    if (m_listView)
        m_listView->DestroyWindow();
    if (m_treeView)
        m_treeView->DestroyWindow();
    m_dialogs.Destroy();
    m_runner.Abandon();
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
    InflateRect(&area, -ToPixels(kNoticeMargin, m_dpi), -ToPixels(kNoticeMargin, m_dpi));
    HGDIOBJ font = SelectObject(dc, m_paneFont ? m_paneFont.Get() : GetStockObject(DEFAULT_GUI_FONT));
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
