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
// How long the device may take to answer a transfer item, and to grant its reservation.
constexpr long kItemWait = 1000;
constexpr long kReserveWait = 1000;
constexpr long kCancelStop = 2;
// The application's own boxes.
const char kAppCaption[] = "Dorvex";

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
    // The window may still have its creation size (nothing, for a hidden host): the bar keeps the place
    // for the first size that holds it.
    if (layout.splitterPosition != -1)
        m_splitter.RestorePosition(layout.splitterPosition);
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

long CDorvexWnd::RequestComplete(long errorCode, long requestCode, bool success, SAFEARRAY** answer,
                                 LONG_PTR userData) {
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
    // Once the window is gone there is nobody to tell and nothing left running.
    if (IsWindow())
        CompleteItem(requestCode, success, userData);
    return 0;
}

void CDorvexWnd::CompleteItem(long requestCode, bool success, LONG_PTR userData) {
    const auto* key = reinterpret_cast<const CTransferList*>(userData);
    auto batch = m_batches.find(key);
    // The user data must name a list of ours whose item of this request is running: anything else
    // (a list that ended, a stray completion) could be memory that is no longer a list.
    const bool ours = userData && batch != m_batches.end() && batch->second.waiting &&
                      batch->second.request == requestCode;
    if (userData && !ours)
        return;
    if (!success) {
        long code = 0;
        const std::string text = GetErrorText(&code);
        const bool quiet = code == kSessionErrorCancelled || code == kSessionErrorConnectionLost;
        if (!ours) {
            if (!quiet)
                Prompts().MessageBox(m_hWnd, text, "Error", MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        CBatchRun& run = batch->second;
        // A cancelled item counts as left, not as failed.
        if (code != kSessionErrorCancelled)
            run.summary.Failed(run.waiting->cursor->source, text);
        // The batch's first failure is told at once; the others wait for its summary.
        if (!quiet && !run.summary.ErrorShown()) {
            run.summary.MarkErrorShown();
            Prompts().MessageBox(m_hWnd, text, "Error", MB_OK | MB_ICONEXCLAMATION);
            // The box let messages in: the window may have gone and taken the list with it.
            batch = m_batches.find(key);
            if (batch == m_batches.end() || !batch->second.waiting)
                return;
        }
    } else if (ours) {
        batch->second.summary.Succeeded();
    }
    if (!ours)
        return;
    CBatchRun& run = batch->second;
    std::unique_ptr<CTransferList> list = std::move(run.waiting);
    run.requestId = 0;
    ++list->cursor;
    if (list->cursor == list->items.end() || m_cancelRequested || run.cancelled)
        ReleaseDevice(run);
    m_currentRequestId = 0;
    PostStep(std::move(list));
}

void CDorvexWnd::PostStep(std::unique_ptr<CTransferList> list) {
    const CTransferList* key = list.get();
    if (PostTransferList(m_hWnd, UWM_TRANSFER_STEP, std::move(list)))
        return;
    // Not posted, so already freed: only its run is left to end.
    auto batch = m_batches.find(key);
    if (batch != m_batches.end()) {
        ReleaseDevice(batch->second);
        m_batches.erase(batch);
    }
}

void CDorvexWnd::ReleaseDevice(CBatchRun& run) {
    if (!run.reserved)
        return;
    run.reserved = false;
    Session()->ReleaseDevice(&lastResult);
}

void CDorvexWnd::EndBatch(std::unique_ptr<CTransferList> list, CBatchSummary::Ending ending) {
    auto batch = m_batches.find(list.get());
    if (batch == m_batches.end())
        return;
    const CBatchSummary summary = std::move(batch->second.summary);
    m_batches.erase(batch);
    // A cancel that came when every item had run changed nothing.
    if (ending == CBatchSummary::Ending::Cancelled &&
        summary.Done() + summary.FailedCount() >= list->items.size())
        ending = CBatchSummary::Ending::Finished;
    if (!IsWindow() || !summary.WorthShowing(ending, list->skipped.size()))
        return;
    const bool bad = summary.FailedCount() > 0 || !list->skipped.empty() ||
                     ending == CBatchSummary::Ending::Refused;
    Prompts().MessageBox(m_hWnd, summary.Text(ending, list->items.size(), list->skipped), kAppCaption,
                         MB_OK | (bad ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

void CDorvexWnd::AbandonBatches() {
    std::map<const CTransferList*, CBatchRun> batches;
    batches.swap(m_batches);
    if (!HasSession())
        return;
    bool reserved = false;
    for (auto& [list, run] : batches) {
        if (run.waiting && run.requestId)
            Session()->CancelRequest(run.requestId, kCancelStop, &lastResult);
        reserved = reserved || run.reserved;
    }
    if (reserved)
        Session()->ReleaseDevice(&lastResult);
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

LRESULT CDorvexWnd::OnTransferStart(UINT, WPARAM, LPARAM lParam, BOOL&) {
    std::unique_ptr<CTransferList> list = TakeTransferList(lParam);
    m_cancelRequested = false;
    if (!list || list->items.empty() || !HasSession())
        return 0;
    Session()->ReserveDevice(kReserveWait, &lastResult);
    if (!lastResult) {
        Prompts().MessageBox(m_hWnd, "Device is busy.", kAppCaption, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    list->cursor = list->items.begin();
    CBatchRun& run = m_batches[list.get()];
    run = CBatchRun{};
    run.reserved = true;
    PostStep(std::move(list));
    return 0;
}

LRESULT CDorvexWnd::OnTransferStep(UINT, WPARAM, LPARAM lParam, BOOL&) {
    std::unique_ptr<CTransferList> list = TakeTransferList(lParam);
    if (!list || !HasSession())
        return 0;
    const CTransferList* key = list.get();
    // A list posted straight to a step runs from its cursor, without a reservation of its own.
    CBatchRun& run = m_batches[key];
    if (list->cursor == list->items.end() || m_cancelRequested || run.cancelled) {
        const bool cancelled = m_cancelRequested || run.cancelled;
        // A cancel that came after the last completion still ends the reservation.
        ReleaseDevice(run);
        if (m_listView && m_listView->IsWindow())
            PostMessageA(m_listView->m_hWnd, UWM_LIST_SHOW_DIR, 0, 0);
        EndBatch(std::move(list), cancelled ? CBatchSummary::Ending::Cancelled : CBatchSummary::Ending::Finished);
        return 0;
    }
    const TransferItem& item = *list->cursor;
    CParamBlock block;
    long request = list->operation;
    block.At(0).SetText(item.source.c_str());
    if (!request) {
        block.At(1).SetText(item.destination.c_str());
        request = list->direction == 1 ? REQ_SEND_FILE : REQ_RECEIVE_FILE;
    }
    // Kept here before the call, so that a completion can never find its list missing.
    CTransferList* raw = list.get();
    run.waiting = std::move(list);
    run.request = request;
    Session()->Submit(request, block.ExportArray(), kItemWait, &m_currentRequestId,
                      reinterpret_cast<LONG_PTR>(raw), 0, &lastResult);
    auto batch = m_batches.find(key);
    if (batch == m_batches.end() || !batch->second.waiting)
        return 0;
    if (lastResult) {
        batch->second.requestId = m_currentRequestId;
        return 0;
    }
    list = std::move(batch->second.waiting);
    // Read before the release, whose own outcome would replace it.
    const std::string refusal = GetErrorText();
    ReleaseDevice(batch->second);
    Prompts().MessageBox(m_hWnd, refusal, kAppCaption, MB_OK | MB_ICONEXCLAMATION);
    EndBatch(std::move(list), CBatchSummary::Ending::Refused);
    return 0;
}

LRESULT CDorvexWnd::OnTransferCancel(UINT, WPARAM, LPARAM lParam, BOOL&) {
    if (lParam && HasSession())
        Session()->CancelRequest(static_cast<long>(lParam), kCancelStop, &lastResult);
    m_cancelRequested = true;
    // Each list that runs now stops, also when another one starts before it sees the flag.
    for (auto& batch : m_batches)
        batch.second.cancelled = true;
    return 0;
}

long CDorvexWnd::FileXferBatchStart(long batch, BSTR title, long files, long totalKB, long) {
    if (m_fileDialog)
        m_fileDialog->OnFileXferBatchStart(batch, SessionText(title).c_str(), files, totalKB);
    return 0;
}

long CDorvexWnd::FileXferFileStart(long batch, BSTR source, BSTR destination, long sizeBytes, BYTE upload,
                                   BSTR name, long) {
    if (m_fileDialog)
        m_fileDialog->OnFileXferFileStart(batch, SessionText(source).c_str(), SessionText(destination).c_str(),
                                          sizeBytes, upload, SessionText(name).c_str());
    return 0;
}

long CDorvexWnd::FileXferFileProgress(long batch, long fileIndex, long files, long bytesDone, long bytesTotal,
                                      long) {
    if (m_fileDialog)
        m_fileDialog->OnFileXferFileProgress(batch, fileIndex, files, bytesDone, bytesTotal);
    return 0;
}

long CDorvexWnd::FileXferFileFinish(long batch, BYTE success, long) {
    if (m_fileDialog)
        m_fileDialog->OnFileXferFileFinish(batch, success);
    return 0;
}

long CDorvexWnd::FileXferBatchFinish(long batch, BYTE success, long) {
    if (m_fileDialog)
        m_fileDialog->OnFileXferBatchFinish(batch, success);
    return 0;
}

long CDorvexWnd::TaskStart(long task, BSTR title, BSTR file, long) {
    return m_taskDialog ? m_taskDialog->OnTaskStart(task, SessionText(title).c_str(), SessionText(file).c_str())
                        : 0;
}

long CDorvexWnd::TaskProgress(long task, long percent, BSTR text, long step, long) {
    return m_taskDialog ? m_taskDialog->OnTaskProgress(task, percent, SessionText(text).c_str(), step) : 0;
}

long CDorvexWnd::TaskComplete(long task, BYTE success, long) {
    if (m_taskDialog)
        m_taskDialog->OnTaskComplete(task, success);
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
    AbandonBatches();
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
