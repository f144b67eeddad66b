// The main window against a scripted session and prompts: connect and check, patterns, private messages,
// transfer lists; its splitter bar and layout; the framework window's final message.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include "MainWindowFixture.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/resource.h"
#include "browser/LayoutSettings.h"
#include "framework/ComPtr.h"
#include "session/TransferList.h"
#include "browser/Messages.h"
#include "gui/resource.h"
#include "contracts/QuorGui.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Patterns = std::list<std::string>;
constexpr UINT kErrorBox = MB_OK | MB_ICONEXCLAMATION;

// Transfer lists that count their own destruction.
int g_listsFreed = 0;
struct CCountedList : CTransferList {
    ~CCountedList() override { ++g_listsFreed; }
};

class MainWndTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        CreateMainWindow();
        g_listsFreed = 0;
    }
    void Connect(const char* text) {
        session.Expect("Disconnect");
        session.Expect(std::string("Connect(") + text + ",Dorvex Varnel Plugin)");
        session.Expect("Submit(0x5003,[],-1,0)");
        main->ConnectToDevice(text);
        session.VerifyDone();
    }

    // The check passes: the three pattern requests, then the tree fills its roots (no file system: no more).
    void PassCheck(std::vector<SeenMessage>* seen = nullptr) {
        session.Expect("Submit(0x5400,[],-1,0)");
        session.Expect("Submit(0x740A,[],-1,0)");
        session.Expect("Submit(0x8804,[],-1,0)");
        session.Expect("Execute(0x1002,[],5000)", 0);
        session.ExpectErrorInfo(L"No file system.", 4);
        EXPECT_EQ(session.FireComplete(0, 0x5003, true, nullptr), S_OK);
        PumpUntil("0x1002", seen);
        session.VerifyDone();
    }

    // A batch as the file list builds it (\\d\\f1.txt ...), posted; its address as the session's user data.
    std::string StartList(int items, uint8_t direction, int skipped = 0) {
        auto batch = std::make_unique<CCountedList>();
        for (int i = 1; i <= items; ++i)
            batch->items.push_back({"\\d\\f" + std::to_string(i) + ".txt", "C:\\dl\\"});
        batch->direction = direction;
        for (int i = 1; i <= skipped; ++i)
            batch->skipped.emplace_back("\\d\\bad" + std::to_string(i) + "?", "no such local name");
        userData = reinterpret_cast<LONG_PTR>(batch.get());
        EXPECT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::move(batch)));
        return std::to_string(userData);
    }
    std::string Download(int item, const std::string& data) {
        return "Submit(0x1801,[\\d\\f" + std::to_string(item) + ".txt,C:\\dl\\],1000," + data + ")";
    }
    // Pumps until the session has seen `call` (and a little more, for what the call leads to).
    void PumpUntil(const std::string& call, std::vector<SeenMessage>* seen = nullptr) {
        Pump(
            1000, [&] { return session.Trace().find(call) != std::string::npos; }, seen);
        Pump(20, nullptr, seen);
    }
    bool Reloaded(const std::vector<SeenMessage>& seen) const {
        return Find(seen, list, UWM_LIST_SHOW_DIR, 0) < seen.size();
    }
    // Pumps until `lists` lists are freed; whether they all were and the list view was asked to reload.
    bool FreedAndReloaded(int lists, bool reloaded = true) {
        std::vector<SeenMessage> seen;
        Pump(
            300, [&] { return g_listsFreed == lists; }, &seen);
        return g_listsFreed == lists && Reloaded(seen) == reloaded;
    }
    // Where `message` to `window` (with `lParam` unless it is -1) is first in `seen`; its size if nowhere.
    static size_t Find(const std::vector<SeenMessage>& seen, HWND window, UINT message, LPARAM lParam = -1) {
        for (size_t i = 0; i < seen.size(); ++i)
            if (seen[i].window == window && seen[i].message == message &&
                (lParam == -1 || seen[i].lParam == lParam))
                return i;
        return seen.size();
    }

    LONG_PTR userData = 0;
};

TEST_F(MainWndTest, ConnectClearsTheViewsFirstAndAPassedCheckFetchesThePatternsThenFillsTheTree) {
    LVITEMA row = {};
    ListView_InsertItem(list, &row);
    TVINSERTSTRUCTA item = {};
    item.hInsertAfter = TVI_LAST;
    SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    int rowsSeen = -1, itemsSeen = -1;
    session.onCall = [&](const std::string&) {
        if (rowsSeen < 0) {
            rowsSeen = ListView_GetItemCount(list);
            itemsSeen = static_cast<int>(TreeView_GetCount(tree));
        }
    };
    Connect("dev1");
    EXPECT_EQ(rowsSeen, 0);
    EXPECT_EQ(itemsSeen, 0);
    session.onCall = nullptr;
    std::vector<SeenMessage> seen;
    PassCheck(&seen);
    const size_t connected = Find(seen, main->m_hWnd, UWM_CONNECTED),
                 fill = Find(seen, tree, UWM_TREE_FILL_ROOTS);
    ASSERT_LT(connected, seen.size());
    ASSERT_LT(fill, seen.size()) << "the tree was never asked to fill its roots";
    EXPECT_GT(fill, connected);

    const auto lists = [&] {
        return std::vector<Patterns>{main->Patterns().Firmware(), main->Patterns().Program(),
                                     main->Patterns().DisplayList()};
    };
    // Each element of the firmware answer counts (one that is not text as empty); the other two, element 0.
    EXPECT_EQ(session.FireComplete(0, 0x5400, true, MakeBlock({"*.fwx", "*.fwb"}, {5})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x740A, true, MakeBlock({"*.prgx", "*.prgy"})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x8804, true, MakeBlock({"*.dlx"})), S_OK);
    EXPECT_EQ(lists(), (std::vector<Patterns>{{"*.fwx", "*.fwb", ""}, {"*.prgx"}, {"*.dlx"}}));

    // An empty block adds nothing to the firmware list but an empty text to the other two; a failed pattern
    // request changes nothing and shows nothing. (A new device's lists start afresh: SessionEndToEnd.)
    EXPECT_EQ(session.FireComplete(0, 0x5400, true, MakeBlock({})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x740A, true, MakeBlock({})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x8804, true, nullptr), S_OK);
    session.ExpectErrorInfo(L"No patterns.", 3);
    EXPECT_EQ(session.FireComplete(3, 0x5400, false, MakeBlock({"*.bad"})), S_OK);
    EXPECT_EQ(lists(), (std::vector<Patterns>{{"*.fwx", "*.fwb", ""}, {"*.prgx", ""}, {"*.dlx", ""}}));

    // A refused connect shows the session's text, owned by this window, and checks nothing.
    session.Expect("Disconnect");
    session.Expect("Connect(nowhere,Dorvex Varnel Plugin)", 0);
    session.ExpectErrorInfo(L"No device answers at this address.", 12);
    prompts.ExpectBox("No device answers at this address.", "Error", kErrorBox);
    main->ConnectToDevice("nowhere");
    EXPECT_EQ(prompts.owners.back(), frame) << "the question is the top-level window's";
}

TEST_F(MainWndTest, AFailedCheckShowsTheTextUnlessCancelledOrLostThenTheStandardError) {
    // Code 33 (cancelled) is as quiet as 45 (connection lost): the end-to-end cancel completes with it.
    for (const long code : {12, 45}) {
        SCOPED_TRACE("session code " + std::to_string(code));
        Connect("dev1");
        session.ExpectErrorInfo(L"The device did not answer the check.", code);
        if (code != 45)
            prompts.ExpectBox("The device did not answer the check.", "Error", kErrorBox);
        EXPECT_EQ(session.FireComplete(7, 0x5003, false, nullptr), S_OK);
        prompts.VerifyDone();
        session.VerifyDone();

        // Then the host's standard error display, for the event's own code, owned by this window.
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", nullptr);
        CBoxCloser display("Error");
        session.ExpectErrorInfo(L"The device did not answer the check.", code);
        std::vector<SeenMessage> seen;
        Pump(
            3000, [&] { return display.Closed(); }, &seen);
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        session.VerifyDone();
        EXPECT_LT(Find(seen, main->m_hWnd, UWM_CONNECT_FAILED, 7), seen.size())
            << "no UWM_CONNECT_FAILED carrying the event's code";
        EXPECT_NE(display.text.find('7'), std::string::npos) << display.text;
        EXPECT_EQ(display.owner, frame) << "the standard error belongs to the control's window";
    }
}

// What the runner does with a list is its own test's (TransferRunnerTest); here, that the window feeds it:
// posted lists, the session's completions, the file dialog's cancel, the reload and the boxes' owner.
TEST_F(MainWndTest, PostedListsRunThroughTheSessionsEventsAndTheCancelMessage) {
    // What was left out while a list was built is told even when nothing is sent: the device is busy, or
    // every entry was left out.
    session.Expect("ReserveDevice(1000)", 0);
    session.ExpectErrorInfo(L"Reserved by another session.", 5);
    prompts.ExpectBox("Device is busy.", "Dorvex", kErrorBox);
    prompts.ExpectBox("The transfer stopped after 0 of 2 files; 2 were left.\n\nNot transferred:\n"
                      "\\d\\bad1?: no such local name",
                      "Dorvex", kErrorBox);
    StartList(2, 0, 1);
    prompts.ExpectBox("0 of 0 files were transferred.\n\nNot transferred:\n\\d\\bad1?: no such local name",
                      "Dorvex", kErrorBox);
    StartList(0, 0, 1);
    Pump(300, [&] { return g_listsFreed == 2; });
    EXPECT_EQ(g_listsFreed, 2) << "a list the device refused and an empty one are freed";
    EXPECT_EQ(prompts.owners.back(), frame) << "the box is the top-level window's";
    session.VerifyDone();

    session.Expect("ReserveDevice(1000)");
    const std::string data = StartList(2, 0);
    session.Expect(Download(1, data));
    PumpUntil("Submit(");
    session.Expect(Download(2, data));
    EXPECT_EQ(session.FireComplete(0, 0x1801, true, nullptr, userData), S_OK);
    PumpUntil(Download(2, data));
    session.Expect("CancelRequest(101,2)");
    PostMessageA(main->m_hWnd, UWM_TRANSFER_CANCEL, 0, main->Runner().CurrentRequestId());
    PumpUntil("CancelRequest(");
    session.ExpectErrorInfo(L"Cancelled.", 33);
    session.Expect("ReleaseDevice");
    EXPECT_EQ(session.FireComplete(33, 0x1801, false, nullptr, userData), S_OK);
    prompts.ExpectBox("The transfer was cancelled after 1 of 2 files; 1 was left.", "Dorvex",
                      MB_OK | MB_ICONINFORMATION);
    // A download changed nothing on the device: the rows and their selection stay.
    EXPECT_TRUE(FreedAndReloaded(3, false));
}

TEST_F(MainWndTest, TheDialogsMadeForDisplayShowTheEventsInOrderAndGoWithTheWindow) {
    EXPECT_EQ(main->FileDialog(), nullptr);
    EXPECT_EQ(main->TaskDialog(), nullptr);
    main->PrepareForDisplay();
    ASSERT_NE(main->FileDialog(), nullptr);
    ASSERT_NE(main->TaskDialog(), nullptr);
    HWND file = main->FileDialog()->GetSafeHwnd();
    HWND task = main->TaskDialog()->GetSafeHwnd();
    EXPECT_EQ(GetWindow(file, GW_OWNER), frame) << "owned by the host's window, above which they must stay";
    EXPECT_EQ(GetWindow(task, GW_OWNER), frame);
    // A second call keeps only the new pair.
    main->PrepareForDisplay();
    EXPECT_FALSE(IsWindow(file));
    EXPECT_FALSE(IsWindow(task));
    file = main->FileDialog()->GetSafeHwnd();
    task = main->TaskDialog()->GetSafeHwnd();

    const auto text = [](HWND dialog, int id) {
        char buffer[256] = "";
        GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
        return std::string(buffer);
    };
    // Every event is taken (S_OK); what the session gets back is its answer. What the dialogs make of the
    // events is the library's test (QuorGuiTest); here, that each reaches its dialog.
    const auto fire = [&](DISPID id, std::vector<VARIANT> args) {
        VARIANT answer = {};
        EXPECT_EQ(session.Fire(id, std::move(args), &answer), S_OK) << "event " << id;
        return answer.lVal;
    };
    fire(20, {VI4(7), VText(L"Receiving"), VI4(2), VI4(3), VI4(0)});
    fire(21, {VI4(7), VText(L"\\d\\a.txt"), VText(L"C:\\dl\\a.txt"), VI4(2048), VUI1(0), VText(L"a.txt"),
              VI4(0)});
    Pump(80); // the file dialog shows what came at most every 50 ms
    EXPECT_EQ(text(file, IDC_SOURCE), "\\d\\a.txt");
    fire(24, {VI4(7), VUI1(1), VI4(0)});

    // The task dialog's answers go back to the session: 0 to go on, 1 once its Cancel was pressed.
    EXPECT_EQ(fire(10, {VI4(9), VText(L"Update Firmware"), VText(L"main.fwx"), VI4(0)}), 0);
    EXPECT_EQ(fire(11, {VI4(9), VI4(40), VText(L"Transferring main.fwx"), VI4(2), VI4(0)}), 0);
    EXPECT_EQ(text(task, IDC_TASK_FILE), "main.fwx");
    EXPECT_EQ(text(task, IDC_TASK_TEXT), "Transferring main.fwx");
    SendMessageA(task, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(fire(11, {VI4(9), VI4(50), VText(L"Transferring"), VI4(2), VI4(0)}), 1);
    fire(12, {VI4(9), VUI1(0), VI4(0)});

    // An item running when the window goes: cancelled, the device released, the list freed, the dialogs
    // gone; its late completion (a failure, even) and every later event touch nothing and are answered 0.
    session.Expect("ReserveDevice(1000)");
    const std::string data = StartList(2, 0);
    session.Expect(Download(1, data));
    PumpUntil("Submit(");
    EXPECT_EQ(session.FireComplete(0, 0x1801, true, nullptr, 0x5A5A5A50), S_OK) << "not a list of ours";
    EXPECT_EQ(main->Runner().CurrentRequestId(), 100);
    session.Expect("CancelRequest(100,2)");
    session.Expect("ReleaseDevice");
    main->DestroyWindow();
    EXPECT_EQ(g_listsFreed, 1);
    EXPECT_FALSE(IsWindow(file));
    EXPECT_EQ(main->FileDialog(), nullptr);
    EXPECT_EQ(main->TaskDialog(), nullptr);
    session.ExpectErrorInfo(L"Cancelled.", 33);
    EXPECT_EQ(session.FireComplete(33, 0x1801, false, nullptr, userData), S_OK);
    EXPECT_EQ(fire(10, {VI4(9), VText(L"Load Program"), VText(L"p.prgx"), VI4(0)}), 0);
    EXPECT_EQ(fire(21, {VI4(1), VText(L"a"), VText(L"b"), VI4(1), VUI1(1), VText(L"a"), VI4(0)}), 0);
    EXPECT_EQ(fire(22, {VI4(7), VI4(0), VI4(1), VI4(1), VI4(2), VI4(0)}), 0);
}

TEST_F(MainWndTest, HeapObjectsInPrivateMessagesAreFreedHandledOrNot) {
    const std::string big(64 * 1024, 'p');
    const size_t before = HeapBytesInUse();

    const auto post40 = [&](bool select) {
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(PostPath(list, UWM_LIST_SHOW_DIR, big));
            ASSERT_TRUE(!select || PostPath(tree, UWM_TREE_SELECT_PATH, big));
            ASSERT_TRUE(PostPath(tree, UWM_TREE_REFRESH_PATH, big));
            ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::make_unique<CCountedList>()));
        }
    };
    // Handled: each receiver frees what it gets; the list lists the path once (not again), re-reads it once.
    session.Expect("Execute(0x1009,[" + big + "],10000)");
    session.Expect("Execute(0x1009,[" + big + "],10000)");
    post40(true);
    PostMessageA(list, UWM_LIST_SHOW_DIR, 0, 0); // "re-read": no object at all
    Pump(200);
    EXPECT_EQ(g_listsFreed, 40);
    EXPECT_LT(HeapBytesInUse(), before + 256 * 1024) << "posted paths were not freed by their receivers";

    // Still queued when the windows go: drained and freed on the way out.
    post40(false);
    EXPECT_GT(HeapBytesInUse(), before + 4 * 1024 * 1024);
    HWND oldList = list;
    main->DestroyWindow();
    EXPECT_EQ(g_listsFreed, 80);
    EXPECT_LT(HeapBytesInUse(), before + 256 * 1024) << "queued paths died with their windows unfreed";
    // Nothing can be posted to a window that is gone, and nothing is left behind trying.
    EXPECT_FALSE(PostPath(oldList, UWM_LIST_SHOW_DIR, big));
    EXPECT_FALSE(PostTransferList(oldList, UWM_TRANSFER_START, std::make_unique<CCountedList>()));
    EXPECT_EQ(g_listsFreed, 81);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, UWM_LIST_SHOW_DIR, UWM_CONNECT_FAILED, PM_NOREMOVE));
}

TEST_F(MainWindowFixture, WithoutASessionComponentTheWindowStaysInertAndSaysWhy) {
    factory.createResult = REGDB_E_CLASSNOTREG;
    CreateMainWindow(WS_CHILD, false);
    EXPECT_TRUE(main->IsInert());
    EXPECT_FALSE(IsWindowVisible(list));
    EXPECT_FALSE(IsWindowVisible(tree));
    LVITEMA row = {};
    ListView_InsertItem(list, &row);
    // Connecting clears the views and asks nothing of a session there is not (the script is empty).
    main->ConnectToDevice("dev1");
    EXPECT_EQ(ListView_GetItemCount(list), 0);
    // The notice is painted where the panes would be, in the scheme's colours: its margin in the face
    // colour, its text in the text colour.
    ShowWindow(frame, SW_SHOW);
    ShowWindow(main->m_hWnd, SW_SHOW);
    auto notice = [&] {
        RedrawWindow(main->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        HDC screen = GetDC(main->m_hWnd);
        RECT client;
        GetClientRect(main->m_hWnd, &client);
        int inked = 0;
        for (int y = 12; y < 40; ++y)
            for (int x = 12; x < client.right - 12; x += 2)
                inked += GetPixel(screen, x, y) == GetSysColor(COLOR_BTNTEXT);
        const bool face = GetPixel(screen, 4, 4) == GetSysColor(COLOR_BTNFACE);
        ReleaseDC(main->m_hWnd, screen);
        return std::make_pair(face, inked);
    };
    const auto normal = notice();
    EXPECT_TRUE(normal.first);
    EXPECT_GT(normal.second, 20) << "no notice in the window";
    // Under a high-contrast scheme too: white on black, nothing in a colour of its own.
    const int elements[] = {COLOR_BTNFACE, COLOR_BTNTEXT};
    const COLORREF saved[] = {GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNTEXT)};
    const COLORREF contrast[] = {RGB(0, 0, 0), RGB(255, 255, 255)};
    ASSERT_TRUE(SetSysColors(2, elements, contrast));
    const auto highContrast = notice();
    SetSysColors(2, elements, saved);
    EXPECT_TRUE(highContrast.first);
    EXPECT_GT(highContrast.second, 20) << "the notice is not in the scheme's text colour";
    // A screen reader reads it as the window's name.
    CComPtr<IAccessible> accessible;
    ASSERT_EQ(AccessibleObjectFromWindow(main->m_hWnd, OBJID_CLIENT, IID_IAccessible,
                                         reinterpret_cast<void**>(&accessible)),
              S_OK);
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    ASSERT_EQ(accessible->get_accName(self, &name), S_OK);
    EXPECT_NE(std::wstring(name ? name : L"").find(L"cannot reach any device"), std::wstring::npos);
    SysFreeString(name);
}

// Counts the notifications the main window gets, then lets it handle them as usual.
int g_moved = 0;
WNDPROC g_mainProc = nullptr;
LRESULT CALLBACK CountMoves(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == UWM_SPLITTER_MOVED)
        ++g_moved;
    return CallWindowProcA(g_mainProc, window, msg, wParam, lParam);
}

const char kLayoutKey[] = "Software\\Dorvex\\Browser";

std::vector<int> Values(const BrowserLayout& layout) {
    return {layout.splitterPosition, layout.columnWidths[0], layout.columnWidths[1], layout.columnWidths[2]};
}

// 32-bit values as the registry keeps them.
std::vector<BYTE> Bytes(std::initializer_list<INT32> values) {
    std::vector<BYTE> bytes(values.size() * sizeof(INT32));
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

const RECT kClient = {0, 0, 640, 330};

class SplitterTest : public MainWindowFixture {
protected:
    // The main window as the control makes and shows it, 640 x 330, its notifications counted.
    void SetUp() override {
        MainWindowFixture::SetUp();
        CreateMainWindow(WS_CHILD, true, &kClient);
        main->PrepareForDisplay();
        bar = GetDlgItem(main->m_hWnd, 1701);
        g_moved = 0;
        g_mainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(main->m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountMoves)));
    }

    // A mouse message's point: (x, y) of the main window's client area in the bar's client coordinates.
    LPARAM At(int x, int y = 40) const {
        POINT point = {x, y};
        MapWindowPoints(main->m_hWnd, bar, &point, 1);
        return MAKELPARAM(point.x, point.y);
    }

    // Grabs the bar and lets it go at `x`, moving the mouse on the way as a hand would.
    void Drag(int x) {
        SendMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(RectIn(bar, main->m_hWnd).left + 1));
        ASSERT_EQ(GetCapture(), bar) << "the drag must keep the mouse";
        SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(x / 2));
        SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(x));
        SendMessageA(bar, WM_LBUTTONUP, 0, At(x));
        EXPECT_EQ(GetCapture(), nullptr);
    }

    HWND bar = nullptr;
    const int half = GetSystemMetrics(SM_CYFRAME) / 2;
    const int border = GetSystemMetrics(SM_CYBORDER);
};

TEST_F(SplitterTest, ADragMovesBarAndPanesAndTellsTheParentOnce) {
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 200 - half) << "at first centred on the tree's 200 pixels";
    Drag(350);
    const RECT moved = RectIn(bar, main->m_hWnd);
    EXPECT_EQ(moved.left, 350);
    EXPECT_EQ(moved.right, 350 + 2 * half);
    EXPECT_EQ(moved.bottom, 330);
    EXPECT_EQ(RectIn(tree, main->m_hWnd).right, 350 + border);
    EXPECT_EQ(RectIn(list, main->m_hWnd).left, 350 + 2 * half - border);
    EXPECT_EQ(RectIn(list, main->m_hWnd).right, 640);
    EXPECT_EQ(g_moved, 1);

    // No drag without a button-down on the bar: a lone button-up, or a press outside it (which only a
    // captured mouse could bring), moves nothing and tells nobody.
    SendMessageA(bar, WM_LBUTTONUP, 0, At(500));
    SendMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(100));
    EXPECT_EQ(GetCapture(), nullptr);
    SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(200));
    SendMessageA(bar, WM_LBUTTONUP, 0, At(200));
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 350);
    EXPECT_EQ(g_moved, 1);

    // A drag that loses the mouse to another window ends there, as Escape would end it.
    SendMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, At(351));
    SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(450));
    SetCapture(tree);
    ReleaseCapture();
    SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, At(500));
    SendMessageA(bar, WM_LBUTTONUP, 0, At(500));
    EXPECT_EQ(RectIn(bar, main->m_hWnd).left, 350);
    EXPECT_EQ(g_moved, 1);
}

TEST_F(SplitterTest, TheCursorOverTheBarIsTheResizeCursor) {
    const HCURSOR resize = LoadCursor(nullptr, IDC_SIZEWE);
    // The bar looks where the message it answers was sent from, so the mouse is moved and a message
    // fetched before each question.
    auto cursorAt = [&](int x) {
        POINT screen = {x, 40};
        ClientToScreen(main->m_hWnd, &screen);
        SetCursorPos(screen.x, screen.y);
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
        PostMessageA(main->m_hWnd, WM_NULL, 0, 0);
        MSG msg;
        PeekMessageA(&msg, main->m_hWnd, WM_NULL, WM_NULL, PM_REMOVE);
        const LRESULT answer = SendMessageA(bar, WM_SETCURSOR, reinterpret_cast<WPARAM>(bar),
                                            MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return std::make_pair(answer, GetCursor());
    };
    EXPECT_EQ(cursorAt(RectIn(bar, main->m_hWnd).left + 1), std::make_pair(LRESULT(TRUE), resize));
    EXPECT_NE(cursorAt(400).second, resize) << "over the list the cursor is the list's";
}

TEST_F(SplitterTest, TheLayoutStoreGivesBackWhatWasSavedAndDefaultsForWhatIsDamaged) {
    EXPECT_EQ(Values(LoadBrowserLayout()), (std::vector<int>{-1, 200, 75, 125})) << "nothing stored";
    const BrowserLayout saved{420, {10, 150, 4000}};
    SaveBrowserLayout(saved);
    EXPECT_EQ(Values(LoadBrowserLayout()), Values(saved)) << "the ends of the range are sane";

    // Each damaged value falls back to its default on its own; the other one is still read.
    struct Damage {
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
        std::vector<int> expected;
    };
    const std::vector<int> widthsOnly = {-1, 10, 150, 4000};
    const std::vector<int> positionOnly = {420, 200, 75, 125};
    const Damage cases[] = {
        {"SplitterPosition", REG_DWORD, Bytes({10000}), {10000, 10, 150, 4000}},
        {"SplitterPosition", REG_DWORD, Bytes({10001}), widthsOnly},
        {"SplitterPosition", REG_SZ, {'4', '2', '0', 0}, widthsOnly},
        {"ColumnWidths", REG_BINARY, Bytes({150, 60}), positionOnly},
        {"ColumnWidths", REG_BINARY, Bytes({150, -1, 90}), positionOnly},
        {"ColumnWidths", REG_BINARY, Bytes({150, 9, 0}), {420, 150, 75, 125}}, // too narrow to see
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", type " + std::to_string(c.type) + ", " +
                     std::to_string(c.bytes.size()) + " bytes");
        SaveBrowserLayout(saved);
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kLayoutKey, c.name, c.type, c.bytes.data(),
                                  static_cast<DWORD>(c.bytes.size())),
                  ERROR_SUCCESS);
        EXPECT_EQ(Values(LoadBrowserLayout()), c.expected);
    }

    // A window created empty, as a hidden host makes it, keeps the stored place for its real size.
    session.ExpectDestruction();
    main.reset();
    SaveBrowserLayout(saved);
    const RECT empty = {};
    CreateMainWindow(WS_CHILD, true, &empty);
    MoveWindow(main->m_hWnd, 0, 0, 60, 40, FALSE);
    MoveWindow(main->m_hWnd, 0, 0, 640, 330, FALSE);
    EXPECT_EQ(RectIn(GetDlgItem(main->m_hWnd, 1701), main->m_hWnd).left, 420);
}

TEST_F(SplitterTest, AMoveToADenserScreenScalesTheLayoutAndTheImagesAndStoresNinetySixDpiUnits) {
    auto iconSize = [](HIMAGELIST images) {
        int cx = 0, cy = 0;
        ImageList_GetIconSize(images, &cx, &cy);
        return std::make_pair(cx, cy);
    };
    ASSERT_EQ(main->Dpi(), 96) << "the tests run at 96 DPI";
    EXPECT_EQ(iconSize(TreeView_GetImageList(tree, TVSIL_NORMAL)), std::make_pair(16, 16));

    // What the host's move to a 144-DPI monitor does: images at that small-icon size, every image kept
    // (a drive's too), text, columns and bar half as large again, the bar 6 pixels thick.
    CDorvexTreeView* treeView = main->TreeView();
    treeView->AddDriveItem("\\cf0\\", "Compact Flash A", IDI_DRIVE, false);
    auto fontHeight = [](HWND pane) {
        LOGFONTA font = {};
        const auto current = reinterpret_cast<HGDIOBJ>(SendMessageA(pane, WM_GETFONT, 0, 0));
        GetObjectA(current ? current : GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
        return font.lfHeight;
    };
    const LONG textHeight = fontHeight(list);
    ASSERT_NE(textHeight, 0);
    main->ApplyDpi(144);
    EXPECT_EQ(fontHeight(list), MulDiv(textHeight, 144, 96)) << "the text follows the monitor too";
    EXPECT_EQ(fontHeight(tree), fontHeight(list));
    EXPECT_EQ(iconSize(TreeView_GetImageList(tree, TVSIL_NORMAL)), std::make_pair(24, 24));
    EXPECT_EQ(iconSize(ListView_GetImageList(list, LVSIL_SMALL)), std::make_pair(24, 24));
    EXPECT_EQ(ImageList_GetImageCount(treeView->ImageList()), 3);
    EXPECT_EQ((std::vector<int>{ListView_GetColumnWidth(list, 0), ListView_GetColumnWidth(list, 1),
                                ListView_GetColumnWidth(list, 2)}),
              (std::vector<int>{300, 113, 188}));
    const RECT scaled = RectIn(bar, main->m_hWnd);
    EXPECT_EQ(scaled.left, 297) << "198 at 96 DPI";
    EXPECT_EQ(scaled.right - scaled.left, 6);

    // Stored in 96-DPI units: the place the user chose and the widths come back the same at 96 DPI.
    Drag(450);
    session.ExpectDestruction();
    main.reset();
    EXPECT_EQ(Values(LoadBrowserLayout()), (std::vector<int>{300, 200, 75, 125}));
    CreateMainWindow(WS_CHILD, true, &kClient);
    EXPECT_EQ(RectIn(GetDlgItem(main->m_hWnd, 1701), main->m_hWnd).left, 300);
}

// The framework window's lifetime: the final message waits for the outermost handler of its window.
std::vector<std::string> g_events;

// Deletes itself with its final message, as the views do; destroys itself from inside a nested send.
class CSelfDeleting : public CWnd {
public:
    ~CSelfDeleting() override { g_events.push_back("deleted"); }

protected:
    BEGIN_MSG_MAP(CSelfDeleting)
    MESSAGE_HANDLER(WM_USER, OnOuter)
    MESSAGE_HANDLER(WM_USER + 1, OnInner)
    END_MSG_MAP()

    LRESULT OnOuter(UINT, WPARAM, LPARAM, BOOL&) {
        SendMessageA(m_hWnd, WM_USER + 1, 0, 0);
        // Still this object's memory: the final message has not run yet.
        g_events.push_back("outer returns with " + m_name);
        return 7;
    }
    LRESULT OnInner(UINT, WPARAM, LPARAM, BOOL&) {
        DestroyWindow();
        g_events.push_back("destroyed");
        return 0;
    }
    void OnFinalMessage(HWND) override {
        g_events.push_back("final");
        delete this;
    }

private:
    std::string m_name = "its name";
};

TEST(WndLifetime, TheFinalMessageWaitsForTheOutermostHandler) {
    // A window of the framework's own class, and a system class's window subclassed.
    for (const char* className : {static_cast<const char*>(nullptr), "STATIC"}) {
        SCOPED_TRACE(className ? className : "own class");
        g_events.clear();
        auto* window = new CSelfDeleting();
        ASSERT_TRUE(window->Create(className, "", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
        HWND hwnd = window->m_hWnd;
        EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 7);
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_EQ(g_events,
                  (std::vector<std::string>{"destroyed", "outer returns with its name", "final", "deleted"}));
    }
}

} // namespace
