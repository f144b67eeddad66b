// The main window against a scripted session component and scripted prompts: its children and their
// wiring, the connect sequence, the connection check's outcomes, the pattern answers, the reconnect the
// session asks for, and the private messages' heap objects when there is nothing to do with them.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/TransferList.h"
#include "framework/Handles.h"
#include "mainwnd/DorvexWnd.h"
#include "mainwnd/Messages.h"
#include "session/QuorGui.h"

#include <memory>

namespace {

using Patterns = std::list<std::string>;
constexpr UINT kErrorBox = MB_OK | MB_ICONEXCLAMATION;

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

RECT RectIn(HWND window, HWND parent) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Transfer lists that count their own destruction.
int g_listsFreed = 0;
struct CCountedList : CTransferList {
    ~CCountedList() override { ++g_listsFreed; }
};

class MainWndTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The bar starts where the last main window left it; here always from its default place.
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dorvex\\Browser");
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        ASSERT_TRUE(EnsureSessionTypeLibrary());
        ASSERT_EQ(factory.Register(), S_OK);
        frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 700, 400,
                                nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override {
        if (main) {
            if (main->HasSession())
                session.ExpectDestruction();
            main.reset();
        }
        session.VerifyDone();
        prompts.VerifyDone();
        DestroyWindow(frame);
        factory.Revoke();
        FreeTestStrings();
        OleUninitialize();
    }

    // The main window as the control creates it: hidden child 1700 of the control's window.
    void CreateMain(bool expectSession = true) {
        if (expectSession)
            session.ExpectCreation();
        main = std::make_unique<CDorvexWnd>();
        RECT client;
        GetClientRect(frame, &client);
        ASSERT_TRUE(main->Create(nullptr, "Dorvex", WS_CHILD, client, frame, 1700));
        session.VerifyDone();
        tree = GetDlgItem(main->m_hWnd, 1703);
        list = GetDlgItem(main->m_hWnd, 1702);
    }

    void Connect(const char* text) {
        session.Expect("Disconnect");
        session.Expect(std::string("Connect(") + text + ",Dorvex Varnel Plugin)");
        session.Expect("Submit(0x5003,[],-1,0)");
        main->ConnectToDevice(text);
        session.VerifyDone();
    }

    // The check succeeds: the three pattern requests go out and the tree is asked to fill its roots (here
    // the device has no file system, so that is all).
    void PassCheck(std::vector<SeenMessage>* seen = nullptr) {
        session.Expect("Submit(0x5400,[],-1,0)");
        session.Expect("Submit(0x740A,[],-1,0)");
        session.Expect("Submit(0x8804,[],-1,0)");
        session.Expect("Execute(0x1002,[],5000)", 0);
        EXPECT_EQ(session.FireComplete(0, 0x5003, true, nullptr), S_OK);
        Pump(
            500, [&] { return session.Trace().find("0x1002") != std::string::npos; }, seen);
        Pump(20, nullptr, seen);
        session.VerifyDone();
    }

    void AnswerPatterns(const char* firmware, const char* program, const char* displayList) {
        EXPECT_EQ(session.FireComplete(0, 0x5400, true, MakeBlock({firmware, "*.fwb"})), S_OK);
        EXPECT_EQ(session.FireComplete(0, 0x740A, true, MakeBlock({program})), S_OK);
        EXPECT_EQ(session.FireComplete(0, 0x8804, true, MakeBlock({displayList})), S_OK);
    }

    CSessionDouble session;
    CSessionFactory factory{session};
    CScriptedPrompts prompts;
    HWND frame = nullptr;
    std::unique_ptr<CDorvexWnd> main;
    HWND tree = nullptr;
    HWND list = nullptr;
};

TEST_F(MainWndTest, CreatesItsThreeChildrenAndWiresThemTogether) {
    CreateMain();
    HWND splitter = GetDlgItem(main->m_hWnd, 1701);
    ASSERT_TRUE(IsWindow(splitter) && IsWindow(list) && IsWindow(tree));
    EXPECT_EQ(ClassOf(list), WC_LISTVIEWA);
    EXPECT_EQ(ClassOf(tree), WC_TREEVIEWA);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(splitter, GWL_STYLE)) & 0xFFFF0000u, 0x50400000u);
    constexpr DWORD kPane = WS_CHILD | WS_VISIBLE | WS_BORDER; // scroll bars come and go with the contents
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(list, GWL_STYLE)) & 0xFF800000u, kPane);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(tree, GWL_STYLE)) & 0xFF800000u, kPane);
    EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_EQ(GetWindowLongA(tree, GWL_STYLE) & 0x27, 0x27);

    // Each view knows the other and the session part; the session's queries are owned by this window.
    EXPECT_EQ(main->TreeView()->ListWindow(), list);
    EXPECT_EQ(main->ListView()->TreeWindow(), tree);
    EXPECT_EQ(main->TreeView()->SessionHolder(), static_cast<CHostedSession*>(main.get()));
    EXPECT_EQ(main->ListView()->SessionHolder(), static_cast<CDeviceSession*>(main.get()));
    EXPECT_EQ(main->ownerWindow, main->m_hWnd);
    EXPECT_EQ(main->Splitter().FirstPane(), static_cast<CWnd*>(main->TreeView()));
    EXPECT_EQ(main->Splitter().SecondPane(), static_cast<CWnd*>(main->ListView()));
    // The bar is centred on the tree's right edge (200) and both panes reach under it.
    const int half = GetSystemMetrics(SM_CYFRAME) / 2;
    const RECT bar = RectIn(splitter, main->m_hWnd);
    EXPECT_EQ(bar.left, 200 - half);
    EXPECT_EQ(RectIn(tree, main->m_hWnd).right, bar.left + GetSystemMetrics(SM_CYBORDER));
    EXPECT_EQ(RectIn(list, main->m_hWnd).left, bar.right - GetSystemMetrics(SM_CYBORDER));

    // A splitter's notification changes nothing.
    EXPECT_EQ(SendMessageA(main->m_hWnd, UWM_SPLITTER_MOVED, 0, 0), 0);
    EXPECT_EQ(RectIn(splitter, main->m_hWnd).left, bar.left);
}

TEST_F(MainWndTest, PreparingForDisplayMakesTheDialogsAndFollowsTheSize) {
    CreateMain();
    EXPECT_EQ(main->FileDialog(), nullptr);
    EXPECT_EQ(main->TaskDialog(), nullptr);
    main->PrepareForDisplay();
    ASSERT_NE(main->FileDialog(), nullptr);
    ASSERT_NE(main->TaskDialog(), nullptr);
    HWND file = main->FileDialog()->GetSafeHwnd();
    HWND task = main->TaskDialog()->GetSafeHwnd();
    ASSERT_TRUE(IsWindow(file) && IsWindow(task));
    EXPECT_EQ(GetWindow(file, GW_OWNER), frame) << "owned by the host's window, above which they must stay";
    EXPECT_EQ(GetWindow(task, GW_OWNER), frame);
    // The file dialog's Cancel reaches this window as the cancel message.
    main->FileDialog()->OnFileXferBatchStart(101, "Upload", 1, 1);
    SendMessageA(file, WM_COMMAND, IDCANCEL, 0);
    session.Expect("CancelRequest(101,2)");
    Pump(300, [&] { return main->CancelRequested(); });
    session.VerifyDone();
    EXPECT_TRUE(main->CancelRequested());

    // A second call keeps only the new pair.
    main->PrepareForDisplay();
    EXPECT_FALSE(IsWindow(file));
    EXPECT_FALSE(IsWindow(task));
    EXPECT_TRUE(IsWindow(main->FileDialog()->GetSafeHwnd()));

    // Sizing stretches the panes over the client area.
    SetWindowPos(main->m_hWnd, nullptr, 0, 0, 640, 330, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(RectIn(list, main->m_hWnd).right, 640);
    EXPECT_EQ(RectIn(list, main->m_hWnd).bottom, 330);
    EXPECT_EQ(RectIn(tree, main->m_hWnd).left, 0);
    EXPECT_EQ(RectIn(tree, main->m_hWnd).bottom, 330);

    // Destroying the window takes the dialogs with it; later transfer events find none.
    file = main->FileDialog()->GetSafeHwnd();
    main->DestroyWindow();
    EXPECT_FALSE(IsWindow(file));
    EXPECT_EQ(main->FileDialog(), nullptr);
    EXPECT_EQ(main->TaskDialog(), nullptr);
    EXPECT_EQ(session.Fire(21, {VI4(1), VText(L"a"), VText(L"b"), VI4(1), VUI1(1), VText(L"a"), VI4(0)}),
              S_OK);
}

TEST_F(MainWndTest, ConnectClearsBothViewsBeforeTheSessionHearsAnything) {
    CreateMain();
    LVITEMA row = {};
    row.mask = LVIF_TEXT;
    row.pszText = const_cast<char*>("old.txt");
    ListView_InsertItem(list, &row);
    TVINSERTSTRUCTA item = {};
    item.hInsertAfter = TVI_LAST;
    item.item.mask = TVIF_TEXT;
    item.item.pszText = const_cast<char*>("Old Drive");
    SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    int rowsSeen = -1, itemsSeen = -1;
    session.onCall = [&](const std::string& call) {
        if (rowsSeen < 0) {
            rowsSeen = ListView_GetItemCount(list);
            itemsSeen = static_cast<int>(TreeView_GetCount(tree));
        }
        (void)call;
    };
    Connect("dev1");
    EXPECT_EQ(rowsSeen, 0);
    EXPECT_EQ(itemsSeen, 0);
    EXPECT_EQ(main->lastResult, 1);
}

TEST_F(MainWndTest, AConnectTheSessionRefusesShowsItsTextAndChecksNothing) {
    CreateMain();
    LVITEMA row = {};
    ListView_InsertItem(list, &row);
    session.Expect("Disconnect");
    session.Expect("Connect(nowhere,Dorvex Varnel Plugin)", 0);
    session.ExpectErrorInfo(L"No device answers at this address.", 12);
    prompts.ExpectBox("No device answers at this address.", "Error", kErrorBox);
    main->ConnectToDevice("nowhere");
    EXPECT_EQ(ListView_GetItemCount(list), 0) << "the views are cleared also when the connect fails";
    EXPECT_EQ(prompts.owners.back(), main->m_hWnd);
}

TEST_F(MainWndTest, APassedCheckFetchesThePatternsInOrderThenFillsTheTree) {
    CreateMain();
    Connect("dev1");
    std::vector<SeenMessage> seen;
    PassCheck(&seen);
    size_t connected = seen.size(), fill = seen.size();
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i].message == UWM_CONNECTED && seen[i].window == main->m_hWnd)
            connected = i;
        if (seen[i].message == UWM_TREE_FILL_ROOTS && seen[i].window == tree)
            fill = i;
    }
    ASSERT_LT(connected, seen.size());
    ASSERT_LT(fill, seen.size()) << "the tree was never asked to fill its roots";
    EXPECT_GT(fill, connected);

    // Every element of the firmware answer counts (a value that is not text as an empty one); the other two
    // take element 0 only.
    EXPECT_EQ(session.FireComplete(0, 0x5400, true, MakeBlock({"*.fwx", "*.fwb"}, {5})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x740A, true, MakeBlock({"*.prgx", "*.prgy"})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x8804, true, MakeBlock({"*.dlx"})), S_OK);
    EXPECT_EQ(main->FirmwarePatterns(), (Patterns{"*.fwx", "*.fwb", ""}));
    EXPECT_EQ(main->ProgramPatterns(), (Patterns{"*.prgx"}));
    EXPECT_EQ(main->DisplayListPatterns(), (Patterns{"*.dlx"}));
}

TEST_F(MainWndTest, PatternAnswersEmptyFailedOrRepeated) {
    CreateMain();
    Connect("dev1");
    PassCheck();
    // An empty block adds nothing to the firmware list but an empty text to the other two.
    EXPECT_EQ(session.FireComplete(0, 0x5400, true, MakeBlock({})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x740A, true, MakeBlock({})), S_OK);
    EXPECT_EQ(session.FireComplete(0, 0x8804, true, nullptr), S_OK);
    EXPECT_EQ(main->FirmwarePatterns(), Patterns{});
    EXPECT_EQ(main->ProgramPatterns(), Patterns{""});
    EXPECT_EQ(main->DisplayListPatterns(), Patterns{""});
    // A failed pattern request changes nothing and shows nothing.
    EXPECT_EQ(session.FireComplete(3, 0x5400, false, MakeBlock({"*.bad"})), S_OK);
    EXPECT_EQ(session.FireComplete(3, 0x740A, false, MakeBlock({"*.bad"})), S_OK);
    EXPECT_EQ(main->FirmwarePatterns(), Patterns{});
    EXPECT_EQ(main->ProgramPatterns(), Patterns{""});

    // Reconnecting starts the lists afresh: patterns do not pile up across checks.
    Connect("dev2");
    PassCheck();
    AnswerPatterns("*.fwx", "*.prgx", "*.dlx");
    Connect("dev1");
    PassCheck();
    AnswerPatterns("*.fwz", "*.prgz", "*.dlz");
    EXPECT_EQ(main->FirmwarePatterns(), (Patterns{"*.fwz", "*.fwb"}));
    EXPECT_EQ(main->ProgramPatterns(), Patterns{"*.prgz"});
    EXPECT_EQ(main->DisplayListPatterns(), Patterns{"*.dlz"});
}

TEST_F(MainWndTest, AFailedCheckShowsTheTextUnlessCancelledOrLostThenTheStandardError) {
    CreateMain();
    struct Case {
        long sessionCode;
        bool box;
    };
    for (const Case& c : {Case{12, true}, Case{33, false}, Case{45, false}}) {
        SCOPED_TRACE("session code " + std::to_string(c.sessionCode));
        Connect("dev1");
        session.ExpectErrorInfo(L"The device did not answer the check.", c.sessionCode);
        if (c.box)
            prompts.ExpectBox("The device did not answer the check.", "Error", kErrorBox);
        EXPECT_EQ(session.FireComplete(7, 0x5003, false, nullptr), S_OK);
        prompts.VerifyDone();
        session.VerifyDone();

        // Then the host's standard error display, for the event's own code, owned by this window.
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", nullptr);
        CBoxCloser display("Error");
        session.ExpectErrorInfo(L"The device did not answer the check.", c.sessionCode);
        std::vector<SeenMessage> seen;
        Pump(
            3000, [&] { return display.Closed(); }, &seen);
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        session.VerifyDone();
        bool failed = false;
        for (const SeenMessage& m : seen)
            failed |= m.window == main->m_hWnd && m.message == UWM_CONNECT_FAILED && m.lParam == 7;
        EXPECT_TRUE(failed) << "no UWM_CONNECT_FAILED carrying the event's code";
        EXPECT_NE(display.text.find("The device did not answer the check."), std::string::npos)
            << display.text;
        EXPECT_NE(display.text.find('7'), std::string::npos) << display.text;
        EXPECT_EQ(display.owner, frame) << "the standard error belongs to the control's window";
        EXPECT_EQ(main->FirmwarePatterns(), Patterns{}) << "a failed check fetches no patterns";
    }
}

TEST_F(MainWndTest, ASessionAskingForAnotherAddressIsReconnectedAndTheHostTold) {
    CreateMain();
    CRecordingEnvironment environment({L"VNLENVUpdateConnectionStatus", L"VNLENVUpdateConnectionParams"});
    main->SetEnvironment(&environment);
    Connect("dev1");
    PassCheck();

    EXPECT_EQ(session.Fire(5, {VI2(3)}), S_OK);
    session.Expect("Disconnect");
    session.Expect("Connect(dev2;port=2,)");
    EXPECT_EQ(session.Fire(8, {VText(L"dev2;port=2")}), S_OK);
    Pump(1000, [&] { return session.Trace().find("Connect(") != std::string::npos; });
    Pump(30);
    session.VerifyDone(); // no connection check follows a reconnect the session asked for

    ASSERT_EQ(environment.calls.size(), 2u);
    EXPECT_EQ(environment.calls[0].name, L"VNLENVUpdateConnectionStatus");
    ASSERT_EQ(environment.calls[0].args.size(), 1u);
    EXPECT_EQ(environment.calls[0].args[0].type, VT_I2);
    EXPECT_EQ(environment.calls[0].args[0].value, L"3");
    EXPECT_EQ(environment.calls[1].name, L"VNLENVUpdateConnectionParams");
    ASSERT_EQ(environment.calls[1].args.size(), 1u);
    EXPECT_EQ(environment.calls[1].args[0].type, VT_BYREF | VT_BSTR);
    EXPECT_EQ(environment.calls[1].args[0].value, L"dev2;port=2");
    main->SetEnvironment(nullptr);
    EXPECT_EQ(environment.refs, 1);
}

TEST_F(MainWndTest, CancelForwardsTheRequestIdOnlyWhenThereIsOne) {
    CreateMain();
    PostMessageA(main->m_hWnd, UWM_TRANSFER_CANCEL, 0, 0);
    Pump(50, [&] { return main->CancelRequested(); });
    EXPECT_TRUE(main->CancelRequested());
    session.Expect("CancelRequest(55,2)");
    PostMessageA(main->m_hWnd, UWM_TRANSFER_CANCEL, 0, 55);
    Pump(300, [&] { return !session.Trace().empty(); });
}

TEST_F(MainWndTest, HeapObjectsInPrivateMessagesAreFreedHandledOrNot) {
    CreateMain();
    const std::string big(64 * 1024, 'p');
    const size_t before = HeapBytesInUse();
    g_listsFreed = 0;

    // Handled: each receiver frees what it gets, even with nothing to do with it. The list shows the path
    // once (the same path again is not listed again) and re-reads it once.
    session.Expect("Execute(0x1009,[" + big + "],10000)");
    session.Expect("Execute(0x1009,[" + big + "],10000)");
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(PostPath(list, UWM_LIST_SHOW_DIR, big));
        ASSERT_TRUE(PostPath(tree, UWM_TREE_SELECT_PATH, big));
        ASSERT_TRUE(PostPath(tree, UWM_TREE_REFRESH_PATH, big));
        ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::make_unique<CCountedList>()));
        ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_STEP, std::make_unique<CCountedList>()));
    }
    PostMessageA(list, UWM_LIST_SHOW_DIR, 0, 0); // "re-read": no object at all
    Pump(200);
    EXPECT_EQ(g_listsFreed, 80);
    EXPECT_LT(HeapBytesInUse(), before + 256 * 1024) << "posted paths were not freed by their receivers";

    // Still queued when the windows go: drained and freed on the way out.
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(PostPath(list, UWM_LIST_SHOW_DIR, big));
        ASSERT_TRUE(PostPath(tree, UWM_TREE_REFRESH_PATH, big));
        ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::make_unique<CCountedList>()));
    }
    EXPECT_GT(HeapBytesInUse(), before + 4 * 1024 * 1024);
    HWND oldList = list;
    main->DestroyWindow();
    EXPECT_EQ(g_listsFreed, 120);
    EXPECT_LT(HeapBytesInUse(), before + 256 * 1024) << "queued paths died with their windows unfreed";
    // Nothing can be posted to a window that is gone, and nothing is left behind trying.
    EXPECT_FALSE(PostPath(oldList, UWM_LIST_SHOW_DIR, big));
    EXPECT_FALSE(PostTransferList(oldList, UWM_TRANSFER_START, std::make_unique<CCountedList>()));
    EXPECT_EQ(g_listsFreed, 121);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, UWM_LIST_SHOW_DIR, UWM_CONNECT_FAILED, PM_NOREMOVE));
}

TEST_F(MainWndTest, WithoutASessionComponentTheWindowStaysInertAndSaysWhy) {
    factory.createResult = REGDB_E_CLASSNOTREG;
    CreateMain(false);
    EXPECT_TRUE(main->IsInert());
    EXPECT_FALSE(IsWindowVisible(list));
    EXPECT_FALSE(IsWindowVisible(tree));
    LVITEMA row = {};
    ListView_InsertItem(list, &row);
    // Connecting clears the views and then finds no session: a COM error the control's caller catches.
    try {
        main->ConnectToDevice("dev1");
        ADD_FAILURE() << "connecting without a session raised nothing";
    } catch (const CComError& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
    EXPECT_EQ(ListView_GetItemCount(list), 0);
    // The notice is painted where the panes would be.
    ShowWindow(frame, SW_SHOW);
    ShowWindow(main->m_hWnd, SW_SHOW);
    UpdateWindow(main->m_hWnd);
    HDC screen = GetDC(main->m_hWnd);
    RECT client;
    GetClientRect(main->m_hWnd, &client);
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    int inked = 0;
    for (int y = 12; y < 40; ++y)
        for (int x = 12; x < client.right - 12; x += 2)
            inked += GetPixel(screen, x, y) != background;
    ReleaseDC(main->m_hWnd, screen);
    EXPECT_GT(inked, 20) << "no notice in the window";
    EXPECT_NE(std::string(CDorvexWnd::InertNotice()).find("session component"), std::string::npos);
}

} // namespace
