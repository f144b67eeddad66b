// The whole system over device folders with the real session component: the control in the system's
// container, long runs that leave nothing, and transfer lists run by the main window.
#include <windows.h>
#include <ole2.h>
#include <oleidl.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "FileDragSource.h"
#include "SessionHost.h"
#include "framework/ClassFactory.h"
#include "framework/ComPtr.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/ShellTransfer.h"
#include "session/TransferList.h"
#include "mainwnd/DorvexWnd.h"
#include "browser/Messages.h"
#include "browser/resource.h"
#include "module/DorvexCtrl.h"
#include "paramblock/ParamBlock.h"
#include "contracts/EnvironmentMethods.h"
#include "contracts/QuorGui.h"
#include "Dorvex_h.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <oleacc.h>
#include <shlobj.h>

using namespace sessiontest;

namespace {

using Patterns = std::list<std::string>;

// Creates `relative` in `folder` (directories end with a backslash) with `size` bytes for a file.
void Add(const CTempFolder& folder, const std::string& relative, size_t size = 0) {
    if (relative.back() == '\\')
        MakeDirs(folder / relative);
    else
        WriteFileText(folder / relative, std::string(size, 'd'));
}

// Two small devices, A with SYS and cf0 and B with USER and nvram, and an environment recording the calls.
class CTwoDevicesTest : public COleTest {
protected:
    CTwoDevicesTest() {
        Add(deviceA, "SYS\\config.txt", 120);
        Add(deviceA, "cf0\\data\\a.txt", 4000);
        Add(deviceB, "nvram\\b.bin", 64);
        Add(deviceB, "USER\\");
    }
    CTempFolder deviceA{"device-a"}, deviceB{"device-b"};
    CRecordingEnvironment environment{{EnvironmentMethodName(ENV_UPDATE_CONNECTION_STATUS),
                                       EnvironmentMethodName(ENV_UPDATE_CONNECTION_PARAMS)}};
    std::vector<SeenMessage> seen;
};

// Pumps until the tree has been asked to fill its roots `count` times in all (seen collects everything).
bool WaitForFillRoots(HWND tree, std::vector<SeenMessage>& seen, size_t count, DWORD ms) {
    auto fills = [&] {
        return static_cast<size_t>(std::count_if(seen.begin(), seen.end(), [&](const SeenMessage& m) {
            return m.window == tree && m.message == UWM_TREE_FILL_ROOTS;
        }));
    };
    Pump(ms, [&] { return fills() >= count; }, &seen);
    return fills() >= count;
}

// The control class served from this program, so that the container creates the linked classes.
CObjectFactory g_linkedControl(CLSID_Dorvex, &CDorvexCtrl::CreateInstance, nullptr);

// The environment calls as "Name(value)", in order.
std::vector<std::wstring> Calls(const CRecordingEnvironment& environment) {
    std::vector<std::wstring> calls;
    for (const auto& call : environment.calls)
        calls.push_back(call.name + L"(" + (call.args.empty() ? std::wstring() : call.args[0].value) + L")");
    return calls;
}

// The linked control behind a container's control object.
CDorvexCtrl* LinkedControl(IUnknown* unknown) {
    IOleObject* object = nullptr;
    if (!unknown || FAILED(unknown->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object))))
        return nullptr;
    object->Release();
    return static_cast<CDorvexCtrl*>(object);
}

class SessionEndToEnd : public CTwoDevicesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        ASSERT_EQ(CoRegisterClassObject(CLSID_Dorvex, &g_linkedControl, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        ASSERT_EQ(Embed(), S_OK) << "the container could not create the control";
        control = LinkedControl(host.Control());
        ASSERT_NE(control, nullptr);
        ASSERT_NE(control->MainWindow(), nullptr);
        ASSERT_TRUE(control->MainWindow()->HasSession()) << "no session component registered";
    }
    void TearDown() override {
        host.Close();
        CoRevokeClassObject(cookie);
        prompts.VerifyDone();
        COleTest::TearDown();
    }
    // The container's part: the control made, given the environment and shown.
    virtual HRESULT Embed() { return host.Start(&environment); }
    CDorvexWnd& Main() { return *control->MainWindow(); }

    // The names of the device's root directory, as the control's own session lists it.
    std::string RootEntries() {
        CParamBlock output;
        EXPECT_TRUE(Main().Session().List("\\", 5000, output));
        return Names(output);
    }

    CScriptedPrompts prompts;
    DWORD cookie = 0;
    CContainerHost host;
    CDorvexCtrl* control = nullptr;
};

TEST_F(SessionEndToEnd, ConnectingReportsTheStatusFetchesTheDevicesPatternsAndFillsTheTree) {
    // The next device: the patterns are the new device's alone, and the session is on that device.
    const std::string withPatterns = deviceA.Path() + ";firmware=*.fwq|*.fwr;program=*.prq;displaylist=*.dlq";
    const struct {
        std::string connection;
        Patterns firmware, program, displayList;
        std::string roots;
    } steps[] = {{withPatterns, {"*.fwq", "*.fwr"}, {"*.prq"}, {"*.dlq"}, "cf0/ SYS/ "},
                 {deviceB.Path(), {"*.fwx", "*.fwb"}, {"*.prgx"}, {"*.dlx"}, "nvram/ USER/ "}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(steps[i].connection);
        ASSERT_EQ(host.Connect(steps[i].connection), S_OK);
        ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, i + 1, 5000)) << "the tree was never asked";
        Pump(3000, [&] { return !Main().Patterns().DisplayList().empty(); }, &seen);
        const auto calls = Calls(environment);
        EXPECT_GE(std::count(calls.begin(), calls.end(), L"VNLENVUpdateConnectionStatus(1)"),
                  static_cast<std::ptrdiff_t>(i + 1));
        EXPECT_EQ(Main().Patterns().Firmware(), steps[i].firmware);
        EXPECT_EQ(Main().Patterns().Program(), steps[i].program);
        EXPECT_EQ(Main().Patterns().DisplayList(), steps[i].displayList);
        EXPECT_EQ(RootEntries(), steps[i].roots);
    }
}

TEST_F(SessionEndToEnd, ADeviceAskingForAnotherAddressIsReconnectedAndTheHostHearsTheNewText) {
    ASSERT_EQ(host.Connect(deviceA.Path() + ";moveto=" + deviceB.Path()), S_OK);
    ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, 1, 5000));
    const std::wstring moved =
        L"VNLENVUpdateConnectionParams(" + std::wstring(deviceB.Path().begin(), deviceB.Path().end()) + L")";
    // The host hears the new address, and a connection after it.
    std::vector<std::wstring> calls;
    EXPECT_TRUE(Pump(3000, [&] {
        calls = Calls(environment);
        const auto params = std::find(calls.begin(), calls.end(), moved);
        return params != calls.end() &&
               std::find(params, calls.end(), L"VNLENVUpdateConnectionStatus(1)") != calls.end();
    }, &seen)) << "heard: " << calls.size() << " calls";
    EXPECT_EQ(RootEntries(), "nvram/ USER/ ") << "the session did not move";
    Pump(200, nullptr, &seen);
    EXPECT_FALSE(WaitForFillRoots(host.Tree(), seen, 2, 0))
        << "a reconnect the device asked for is not checked again";
}

// The file's own data as the list must show it: name, size in bytes, UTC time as M/dd/yy hh:mm:ss tt.
std::vector<std::string> FolderRows(const std::string& folder) {
    std::vector<std::string> rows;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return rows;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const bool directory = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        SYSTEMTIME t;
        FileTimeToSystemTime(&found.ftLastWriteTime, &t);
        char time[40];
        snprintf(time, sizeof time, "%u/%02u/%02u %02u:%02u:%02u %s", t.wMonth, t.wDay, t.wYear % 100,
                 (t.wHour + 11) % 12 + 1, t.wMinute, t.wSecond, t.wHour < 12 ? "AM" : "PM");
        rows.push_back(name + "|" + (directory ? "" : std::to_string(found.nFileSizeLow)) + "|" + time);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(rows.begin(), rows.end());
    return rows;
}

TEST_F(SessionEndToEnd, TheBrowserShowsTheDeviceAsItIsOnDiskAndKeepsTheBarWhereItWasLeft) {
    Add(deviceA, "SYS\\big.bin", 70000);
    Add(deviceA, "SYS\\empty.txt", 0);
    Add(deviceA, "SYS\\Logs\\");
    ASSERT_EQ(host.Connect(deviceA.Path()), S_OK);
    CDorvexTreeView& tree = *Main().TreeView();
    CDorvexListView& list = *Main().ListView();
    ASSERT_TRUE(Pump(5000, [&] { return list.CurrentPath() == "\\" && list.RowCount() == 2; }, &seen));

    // A directory chosen by its path (how the tree finds it is BrowserTest's): the list shows the folder.
    ASSERT_TRUE(PostPath(tree.m_hWnd, UWM_TREE_SELECT_PATH, "\\SYS\\"));
    ASSERT_TRUE(Pump(5000, [&] { return list.CurrentPath() == "\\SYS\\"; }, &seen));
    std::vector<std::string> shown;
    for (size_t i = 0; i < list.RowCount(); ++i)
        shown.push_back(list.CellText(i, 0) + "|" + list.CellText(i, 1) + "|" + list.CellText(i, 2));
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, FolderRows(deviceA.Path() + "\\SYS"));

    // The bar dragged as a person drags it (how the panes follow is the splitter's own test).
    HWND bar = GetDlgItem(Main().m_hWnd, 1701);
    RECT before, after;
    GetWindowRect(bar, &before);
    POINT grab = {(before.left + before.right) / 2, before.top + 5};
    ScreenToClient(bar, &grab);
    PostMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(grab.x, grab.y));
    PostMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(grab.x + 30, grab.y));
    PostMessageA(bar, WM_LBUTTONUP, 0, MAKELPARAM(grab.x + 60, grab.y));
    const auto moved = [&] { return GetWindowRect(bar, &after) && after.left >= before.left + 60; };
    ASSERT_TRUE(Pump(2000, moved, &seen)) << "the bar did not follow the drag";
    ListView_SetColumnWidth(list.m_hWnd, 0, 150);

    // The next control comes up with the bar and the columns where this one left them.
    RECT main;
    GetWindowRect(Main().m_hWnd, &main);
    const int kept = after.left - main.left;
    host.Close();
    ASSERT_TRUE(host.Open());
    ASSERT_EQ(host.ShowAtPreferredSize(), S_OK);
    GetWindowRect(host.MainWindow(), &main);
    GetWindowRect(GetDlgItem(host.MainWindow(), 1701), &after);
    EXPECT_EQ(after.left - main.left, kept);
    EXPECT_EQ(ListView_GetColumnWidth(GetDlgItem(host.MainWindow(), 1702), 0), 150);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dorvex");
}

TEST_F(SessionEndToEnd, DeletingATreeAndMakingAFolderLandOnTheDevicesDisk) {
    Add(deviceA, "SYS\\Old\\a.bin", 100);
    Add(deviceA, "SYS\\Old\\Deeper\\b.bin", 100);
    ASSERT_EQ(host.Connect(deviceA.Path()), S_OK);
    CDorvexListView& list = *Main().ListView();
    ASSERT_TRUE(Pump(5000, [&] { return list.CurrentPath() == "\\" && list.RowCount() == 2; }, &seen));
    ASSERT_TRUE(PostPath(list.m_hWnd, UWM_LIST_SHOW_DIR, "\\SYS\\"));
    ASSERT_TRUE(Pump(5000, [&] { return list.CurrentPath() == "\\SYS\\" && list.RowCount() == 2; }, &seen));
    ASSERT_EQ(list.CellText(0, 0), "Old");
    ListView_SetItemState(list.m_hWnd, 0, LVIS_SELECTED, LVIS_SELECTED);
    prompts.ExpectDialog("Confirm", "Delete Old?", IDC_CONFIRM_YES);
    prompts.ExpectBox("Delete Directory Old and all sub directories and files?", "Confirm", MB_YESNO, IDYES);
    SendMessageA(list.m_hWnd, WM_KEYDOWN, VK_DELETE, 0);
    ASSERT_TRUE(Pump(5000, [&] { return list.RowCount() == 1; }, &seen));
    EXPECT_FALSE(DirExists(deviceA / "SYS\\Old"));
    EXPECT_TRUE(FileExists(deviceA / "SYS\\config.txt"));

    list.BeginNewDirectory();
    HWND edit = ListView_GetEditControl(list.m_hWnd);
    ASSERT_NE(edit, nullptr);
    SetWindowTextA(edit, "Fresh");
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(Pump(5000, [&] { return list.RowCount() == 2 && list.Row(0); }, &seen));
    EXPECT_EQ(list.CellText(0, 0), "Fresh");
    EXPECT_TRUE(DirExists(deviceA / "SYS\\Fresh"));
}

// Long runs in one process: what they leave must not grow with their number; 50 pile a leak past bounds.
constexpr int kRuns = 50;
constexpr int kWarmUp = 8;
// Heap growth allowed per run: a leak of a few hundred bytes per run already exceeds it.
constexpr size_t kHeapPerRun = 640;

// Runs `run` to settle, then `runs` times, leaving less than `heap` bytes more and at most two handles (one
// open a moment in the session's worker; a leak per run would be dozens).
void RunMeasured(const char* what, const std::function<void(int)>& run, int runs = kRuns,
                 size_t heap = kRuns * kHeapPerRun) {
    auto usage = [] {
        Pump(50);
        return std::vector<size_t>{static_cast<size_t>(ThreadWindowCount()), HeapBytesInUse(),
                                   ProcessHandleCount(), GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
                                   GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)};
    };
    std::vector<size_t> before;
    const DWORD start = GetTickCount();
    for (int i = -kWarmUp; i < runs && !::testing::Test::HasFatalFailure(); ++i) {
        if (i == 0)
            before = usage();
        run(i);
    }
    if (::testing::Test::HasFatalFailure())
        return;
    const std::vector<size_t> after = usage();
    std::cout << what << ": " << runs << " runs in " << GetTickCount() - start << " ms; windows, heap bytes, "
              << "handles, USER and GDI objects (0: not reported by this system):";
    for (size_t i = 0; i < after.size(); ++i)
        std::cout << " " << before[i] << " -> " << after[i];
    std::cout << std::endl;
    EXPECT_EQ(after[0], before[0]) << "windows";
    EXPECT_LT(after[1], before[1] + heap) << "heap";
    EXPECT_GT(before[2], 0u) << "handles are not counted";
    EXPECT_LE(after[2], before[2] + 2) << "handles";
    EXPECT_LE(after[3], before[3]) << "USER objects";
    EXPECT_LE(after[4], before[4]) << "GDI objects";
}

// The control as a dialog-based host embeds it: an edit box, the control, a default OK button and Cancel,
// with the loop such hosts run (the active control's TranslateAccelerator first, then IsDialogMessage),
// driven by real keys.
class DialogHost : public SessionEndToEnd {
protected:
    HRESULT Embed() override {
        dialog = CreateWindowExA(WS_EX_CONTROLPARENT, MAKEINTATOM(0x8002), "Dialog host",
                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 760, 520, nullptr, nullptr,
                                 nullptr, nullptr);
        SetWindowLongPtrA(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&DialogProc));
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&commands));
        edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 200, 24,
                               dialog, reinterpret_cast<HMENU>(100), nullptr, nullptr);
        if (!dialog || !host.Open(dialog, RECT{10, 44, 730, 424}))
            return E_FAIL;
        ok = CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 540, 440, 90,
                             26, dialog, reinterpret_cast<HMENU>(IDOK), nullptr, nullptr);
        CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 640, 440, 90, 26, dialog,
                        reinterpret_cast<HMENU>(IDCANCEL), nullptr, nullptr);
        HRESULT hr = host.GiveEnvironment(&environment);
        if (SUCCEEDED(hr))
            hr = host.ShowAtPreferredSize();
        SetWindowPos(host.Container(), nullptr, 0, 0, 720, 380, SWP_NOMOVE | SWP_NOZORDER);
        return hr;
    }
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SessionEndToEnd::SetUp());
        ASSERT_EQ(host.Control()->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active)),
                  S_OK);
        SetForegroundWindow(dialog);
        SetFocus(edit);
    }
    void TearDown() override {
        active.Release();
        SessionEndToEnd::TearDown();
        DestroyWindow(dialog);
    }
    static INT_PTR CALLBACK DialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM) {
        if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
            reinterpret_cast<std::vector<int>*>(GetWindowLongPtrA(window, DWLP_USER))->push_back(LOWORD(wParam));
        return FALSE;
    }
    // The dialog host's loop while `hand` types on a thread of its own.
    bool Type(const std::function<void()>& hand) {
        HANDLE thread = StartHand(hand);
        const DWORD end = GetTickCount() + 20000;
        while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT && GetTickCount() < end) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (active->TranslateAccelerator(&msg) == S_OK || IsDialogMessageA(dialog, &msg))
                    continue;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        const bool done = JoinHand(thread, 1000);
        Pump(200);
        return done;
    }
    static void Press(std::initializer_list<WORD> keys) {
        for (WORD key : keys)
            Key(key, true);
        for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
            Key(*key, false);
        Sleep(60);
    }
    static void Letters(const char* text) {
        for (; *text; ++text)
            Press({static_cast<WORD>(*text)});
    }
    std::string FocusedRow() {
        CDorvexListView& list = *control->MainWindow()->ListView();
        const int row = ListView_GetNextItem(list.m_hWnd, -1, LVNI_FOCUSED);
        return row >= 0 && list.Row(row) ? std::string(list.Row(row)->Name()) : "";
    }

    CComPtr<IOleInPlaceActiveObject> active;
    HWND dialog = nullptr, edit = nullptr, ok = nullptr;
    std::vector<int> commands;
};

TEST_F(DialogHost, KeysReachTheFocusedPaneTabPassesThroughAndTheHostKeepsItsOwn) {
    for (const char* name : {"SYS\\ALPHA\\", "SYS\\beta.txt", "SYS\\bravo.txt", "SYS\\zeta.txt"})
        Add(deviceA, name, 10);
    ASSERT_EQ(host.Connect(deviceA.Path()), S_OK);
    CDorvexWnd& main = *control->MainWindow();
    HWND tree = main.TreeView()->m_hWnd, list = main.ListView()->m_hWnd;
    ASSERT_TRUE(Pump(5000, [&] { return main.ListView()->CurrentPath() == "\\" && main.ListView()->RowCount() == 2; }));
    ASSERT_TRUE(PostPath(tree, UWM_TREE_SELECT_PATH, "\\SYS\\"));
    ASSERT_TRUE(Pump(5000, [&] { return main.ListView()->CurrentPath() == "\\SYS\\"; }));

    // Tab from the edit box enters the control on the tree, the next Tab moves to the list.
    ASSERT_TRUE(Type([] { Press({VK_TAB}); }));
    EXPECT_EQ(GetFocus(), tree);
    ASSERT_TRUE(Type([] { Press({VK_TAB}); }));
    ASSERT_EQ(GetFocus(), list);

    // Typed letters move the focus by the names' first letters (a pause starts a new search): a letter, the
    // same letter again (the next name it begins, wrapping round), a prefix.
    ASSERT_TRUE(Type([] { Letters("Z"); }));
    EXPECT_EQ(FocusedRow(), "zeta.txt");
    Sleep(1000);
    ASSERT_TRUE(Type([] { Letters("BB"); }));
    EXPECT_EQ(FocusedRow(), "bravo.txt");
    Sleep(1000);
    ASSERT_TRUE(Type([] { Letters("BE"); }));
    EXPECT_EQ(FocusedRow(), "beta.txt");
    Sleep(1000);
    ASSERT_TRUE(Type([] { Letters("A"); }));
    ASSERT_EQ(FocusedRow(), "ALPHA");

    // Enter opens the directory; the dialog's default button stays unpressed.
    ASSERT_TRUE(Type([] { Press({VK_RETURN}); }));
    EXPECT_TRUE(Pump(5000, [&] { return main.ListView()->CurrentPath() == "\\SYS\\ALPHA\\"; }));
    EXPECT_TRUE(commands.empty()) << "Enter pressed the host's default button";
    EXPECT_TRUE(IsWindow(dialog));

    // F5 reads the directory again.
    Add(deviceA, "SYS\\ALPHA\\new.txt", 10);
    ASSERT_TRUE(Type([] { Press({VK_F5}); }));
    ASSERT_TRUE(Pump(5000, [&] { return main.ListView()->RowCount() == 1; }));

    // Delete asks, and the host is disabled while the question is up.
    ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    bool hostDisabled = false;
    prompts.onDialog = [&](HWND) { hostDisabled = !IsWindowEnabled(dialog); };
    prompts.ExpectDialog("Confirm", "Delete new.txt?", IDC_CONFIRM_NO);
    ASSERT_TRUE(Type([] { Press({VK_DELETE}); }));
    EXPECT_TRUE(hostDisabled);
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_NE(GetFileAttributesA((deviceA / "SYS\\ALPHA\\new.txt").c_str()), INVALID_FILE_ATTRIBUTES);

    // Tab past the list leaves the control for the next control of the dialog; Shift+Tab comes back
    // to the pane last used.
    ASSERT_TRUE(Type([] { Press({VK_TAB}); }));
    EXPECT_EQ(GetFocus(), ok);
    ASSERT_TRUE(Type([] { Press({VK_SHIFT, VK_TAB}); }));
    EXPECT_EQ(GetFocus(), list);
    ASSERT_TRUE(Type([] { Press({VK_SHIFT, VK_TAB}); }));
    EXPECT_EQ(GetFocus(), tree);
    ASSERT_TRUE(Type([] { Press({VK_SHIFT, VK_TAB}); }));
    EXPECT_EQ(GetFocus(), edit);

    // Escape is the host's: its dialog cancels.
    ASSERT_TRUE(Type([] { Press({VK_TAB}); }));
    EXPECT_EQ(GetFocus(), tree) << "the control's focus returns to the pane last used";
    ASSERT_TRUE(Type([] { Press({VK_ESCAPE}); }));
    EXPECT_EQ(commands, std::vector<int>{IDCANCEL});
}

// What a screen reader hears of `window`: the name and role of its client area.
std::pair<std::wstring, long> Heard(HWND window) {
    CComPtr<IAccessible> accessible;
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&accessible))))
        return {L"(no accessible object)", 0};
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    VARIANT role;
    VariantInit(&role);
    accessible->get_accName(self, &name);
    accessible->get_accRole(self, &role);
    std::pair<std::wstring, long> heard{name ? name : L"", role.vt == VT_I4 ? role.lVal : 0};
    SysFreeString(name);
    VariantClear(&role);
    return heard;
}

TEST_F(DialogHost, AScreenReaderHearsWhatEachPaneIsAndWhichDirectoryTheListShows) {
    ASSERT_EQ(host.Connect(deviceA.Path()), S_OK);
    CDorvexWnd& main = *control->MainWindow();
    ASSERT_TRUE(Pump(5000, [&] { return main.ListView()->CurrentPath() == "\\" && main.ListView()->RowCount() == 2; }));
    ASSERT_TRUE(PostPath(main.TreeView()->m_hWnd, UWM_TREE_SELECT_PATH, "\\SYS\\"));
    ASSERT_TRUE(Pump(5000, [&] { return main.ListView()->CurrentPath() == "\\SYS\\"; }));
    using Heard_ = std::pair<std::wstring, long>;
    EXPECT_EQ(Heard(main.TreeView()->m_hWnd), (Heard_{L"Device folders", ROLE_SYSTEM_OUTLINE}));
    EXPECT_EQ(Heard(main.ListView()->m_hWnd), (Heard_{L"Files: \\SYS\\", ROLE_SYSTEM_LIST}));
    EXPECT_EQ(Heard(main.Splitter().m_hWnd), (Heard_{L"Divider between folders and files", ROLE_SYSTEM_SEPARATOR}));
    // Cleared, the list names no directory.
    SendMessageA(main.ListView()->m_hWnd, UWM_VIEW_CLEAR, 0, 0);
    EXPECT_EQ(Heard(main.ListView()->m_hWnd).first, L"Files");
}

class Reliability : public CTwoDevicesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        environment.keepCalls = false;
        // Room for every message of the run, so that the record itself does not grow the heap.
        seen.reserve(100000);
    }
    // Connects to the device of this run and waits for the tree's `fills`th fill.
    void ConnectAndWait(CContainerHost& host, HWND tree, int run, size_t fills) {
        ASSERT_EQ(host.Connect(run % 2 ? deviceB.Path() : deviceA.Path()), S_OK);
        ASSERT_TRUE(WaitForFillRoots(tree, seen, fills, 5000)) << "run " << run;
    }
};

TEST_F(Reliability, ManyControlsCreatedAndDestroyedLeaveNothingBehind) {
    RunMeasured("controls", [&](int run) {
        CContainerHost host;
        ASSERT_EQ(host.Start(&environment), S_OK) << "run " << run;
        seen.clear();
        ConnectAndWait(host, host.Tree(), run, 1);
    });
}

// Containers deactivate a control they hide and activate it again when they show it; each time the one
// long-lived control then connects to the other device, so neither may leave anything behind.
TEST_F(Reliability, DeactivatedActivatedAndReconnectedTheControlKeepsOneMainWindowAndLeavesNothingBehind) {
    CContainerHost host;
    ASSERT_EQ(host.Start(&environment), S_OK);
    size_t fills = 0;
    ConnectAndWait(host, host.Tree(), 0, ++fills);
    const HWND main = host.MainWindow();
    CComPtr<IOleObject> ole;
    CComPtr<IOleInPlaceObject> inPlace;
    CComPtr<IOleClientSite> site;
    ASSERT_EQ(host.Control()->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
    ASSERT_EQ(ole.QueryInterface(IID_IOleInPlaceObject, inPlace), S_OK);
    ASSERT_EQ(ole->GetClientSite(&site), S_OK);
    RECT area;
    GetClientRect(host.Container(), &area);
    const size_t calls = environment.callCount;
    RunMeasured("deactivations and connections", [&](int run) {
        HWND before = nullptr;
        inPlace->GetWindow(&before);
        ASSERT_EQ(inPlace->InPlaceDeactivate(), S_OK);
        ASSERT_FALSE(IsWindow(before)) << "run " << run;
        ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, host.Container(), &area), S_OK);
        HWND control = nullptr;
        inPlace->GetWindow(&control);
        ASSERT_EQ(GetDlgItem(control, 1700), main) << "run " << run << ": not the same main window";
        ASSERT_TRUE(IsWindowVisible(main)) << "run " << run;
        // The same session and host; the control's window is new, so the tree is found from the main one.
        ConnectAndWait(host, GetDlgItem(main, 1703), run, ++fills);
    });
    EXPECT_GE(environment.callCount - calls, static_cast<size_t>(kRuns)) << "the host heard no status";
    site.Release();
    inPlace.Release();
    ole.Release();
    host.Close();
    EXPECT_EQ(environment.refs, 1) << "the control kept the environment";
}

// A list that says when the main window is done with it.
struct CWatchedList : CTransferList {
    explicit CWatchedList(bool& freed) : m_freed(freed) { m_freed = false; }
    ~CWatchedList() override { m_freed = true; }
    bool& m_freed;
};

// Every file below `root` by its path relative to root, with the hash of its bytes.
std::map<std::string, uint64_t> Digest(const std::string& root) {
    std::map<std::string, uint64_t> files;
    for (const std::string& entry : Snapshot(root))
        if (entry.back() != '\\') {
            const std::string relative = entry.substr(0, entry.rfind(' '));
            files[relative] = HashFile(root + relative);
        }
    return files;
}

class TransferEndToEnd : public COleTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", nullptr);
        frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 400, nullptr, nullptr,
                                nullptr, nullptr);
        main = std::make_unique<CDorvexWnd>();
        ASSERT_TRUE(main->Create(nullptr, "Dorvex", WS_CHILD, RECT{0, 0, 600, 300}, frame, 1700));
        ASSERT_TRUE(main->HasSession()) << "no session component registered";
        main->PrepareForDisplay();
        Connect(device.Path());
    }
    void TearDown() override {
        main.reset();
        DestroyWindow(frame);
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", nullptr);
        prompts.VerifyDone();
        COleTest::TearDown();
    }

    // Connected once the device's patterns have arrived.
    void Connect(const std::string& text) {
        main->ConnectToDevice(text.c_str());
        ASSERT_TRUE(Pump(5000, [&] { return !main->Patterns().DisplayList().empty(); })) << text;
    }

    std::unique_ptr<CWatchedList> List(uint8_t direction, uint32_t operation = 0) {
        auto list = std::make_unique<CWatchedList>(freed);
        list->direction = direction;
        list->operation = operation;
        return list;
    }
    static void Add(CTransferList& list, const std::string& source, const std::string& destination) {
        list.items.push_back({source, destination});
    }
    // Posts the list as the file list does and runs the message loop until the main window has freed it.
    bool Run(std::unique_ptr<CWatchedList> list, DWORD ms = 120000) {
        freed = false;
        if (!PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::move(list)))
            return false;
        return Pump(ms, [&] { return freed; });
    }
    // Whether another session could reserve the device now.
    bool DeviceFree() {
        CSessionClient probe;
        const bool free = probe.Connect(device.Path()) == 1 && probe.Reserve(0) == 1;
        return free && probe.ReleaseDevice() == 1;
    }

    CTempFolder device{"dorvex-xfer-device"};
    CTempFolder local{"dorvex-xfer-local"};
    CScriptedPrompts prompts;
    HWND frame = nullptr;
    std::unique_ptr<CDorvexWnd> main;
    bool freed = false;
};

TEST_F(TransferEndToEnd, AThousandFileTreeAndALargeFileGoDownAndUpByteForByte) {
    // File f of directory d of the tree, below `root` ("" for the device's own paths).
    const auto file = [](const std::string& root, const char* tree, int d, int f) {
        const std::string dir = root + "\\" + tree + "\\d" + std::to_string(d) + "\\";
        return f < 0 ? dir : dir + "f" + std::to_string(f) + ".bin";
    };
    for (int d = 0; d < 10; ++d) {
        MakeDirs(file(local.Path(), "tree", d, -1));
        for (int f = 0; f < 100; ++f)
            WritePatternFile(file(device.Path(), "tree", d, f), static_cast<uint64_t>(d * 997 + f * 31),
                             static_cast<uint32_t>(d * 100 + f + 1));
    }
    WritePatternFile(device / "cf0\\large.bin", 50ull << 20, 99);
    const std::map<std::string, uint64_t> tree = Digest(device / "tree");
    const uint64_t large = HashFile(device / "cf0\\large.bin");

    // Down as the send-to walk lists them, and up again as a drop of the local folder does, to another place.
    auto down = List(0), up = List(1);
    for (int d = 0; d < 10; ++d)
        for (int f = 0; f < 100; ++f) {
            Add(*down, file("", "tree", d, f), file(local.Path(), "tree", d, -1));
            Add(*up, file(local.Path(), "tree", d, f), file("", "back", d, -1));
        }
    Add(*down, "\\cf0\\large.bin", local.Path() + "\\");
    Add(*up, local / "large.bin", "\\back\\");
    ASSERT_TRUE(Run(std::move(down)));
    EXPECT_EQ(Digest(local / "tree"), tree);
    EXPECT_EQ(HashFile(local / "large.bin"), large);
    // A device left reserved would refuse this as busy, and any prompt, unexpected here, fails the script.
    ASSERT_TRUE(Run(std::move(up)));
    std::map<std::string, uint64_t> back = Digest(device / "back");
    EXPECT_EQ(back["\\large.bin"], large);
    back.erase("\\large.bin");
    EXPECT_EQ(back, tree);
}

TEST_F(TransferEndToEnd, TypedOperationsInstallTheFileWhereTheDeviceKeepsItsKind) {
    const struct {
        uint32_t operation;
        const char* file;
        const char* installed;
    } cases[] = {{REQ_UPDATE_FIRMWARE, "main.fwx", "SYS\\FIRMWARE\\main.fwx"},
                 {REQ_LOAD_PROGRAM, "line.prgx", "USER\\PROGRAMS\\line.prgx"},
                 {REQ_LOAD_DISPLAY_LIST, "panel.dlx", "USER\\DISPLAY\\panel.dlx"}};
    for (const auto& c : cases) {
        WritePatternFile(local / c.file, 200000, c.operation);
        auto list = List(1, c.operation);
        Add(*list, local / c.file, "\\");
        ASSERT_TRUE(Run(std::move(list))) << c.file;
        EXPECT_EQ(HashFile(device / c.installed), HashFile(local / c.file)) << c.installed;
    }
}

// A download; a cancelled upload leaves nothing on the device in the session component's test.
TEST_F(TransferEndToEnd, CancelStopsTheRunningFileAtOnceLeavesNothingPartialAndStartsNoOther) {
    Connect(device.Path() + ";throttle=4194304"); // 2 s for the first file
    WritePatternFile(device / "a.bin", 8 << 20, 1);
    WritePatternFile(device / "b.bin", 1 << 20, 2);
    MakeDirs(local / "in");
    auto list = List(0);
    Add(*list, "\\a.bin", local / "in\\");
    Add(*list, "\\b.bin", local / "in\\");
    prompts.ExpectBox("The transfer was cancelled after 0 of 2 files; 2 were left.", "Dorvex",
                      MB_OK | MB_ICONINFORMATION);
    ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::move(list)));
    // Once the first file is on its way: its partial copy is on the receiving side.
    ASSERT_TRUE(Pump(5000, [&] {
        for (const std::string& entry : Snapshot(local.Path()))
            if (entry.find(".part ") != std::string::npos)
                return true;
        return false;
    }));
    // The batch's start, reported before the partial file was made, may have come after the last
    // dispatch: the dialog knows its batch only once that report is in, as it is for a user's click.
    Pump(0);
    // The user's click on the progress dialog's Cancel.
    SendMessageA(main->FileDialog()->GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
    const ULONGLONG clicked = GetTickCount64();
    ULONGLONG released = 0;
    ASSERT_TRUE(Pump(5000, [&] {
        if (!released && main->Runner().CurrentRequestId() == 0 && DeviceFree())
            released = GetTickCount64();
        return freed;
    }));
    EXPECT_LT(released - clicked, 1000u) << "the device stayed reserved after the cancel";
    prompts.VerifyDone();
    EXPECT_TRUE(Snapshot(local / "in").empty()) << "a partial or further file was left";
}

// The session asks before it replaces a file on either side; "No" keeps the old one.
TEST_F(TransferEndToEnd, OverwritesAreAskedBothWaysAndNoKeepsTheOldFile) {
    WriteFileText(device / "cfg.ini", "new");
    WriteFileText(local / "cfg.ini", "old");
    for (const char* answer : {"No", "Yes"}) {
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", answer);
        auto list = List(0);
        Add(*list, "\\cfg.ini", local.Path() + "\\");
        ASSERT_TRUE(Run(std::move(list)));
        EXPECT_EQ(ReadFileText(local / "cfg.ini"), answer[0] == 'N' ? "old" : "new");
    }
    EXPECT_EQ(Snapshot(local.Path()).size(), 1u) << "nothing but the file itself";
    WriteFileText(local / "cfg.ini", "newer");
    for (const char* answer : {"No", "Yes"}) {
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", answer);
        auto list = List(1);
        Add(*list, local / "cfg.ini", "\\");
        ASSERT_TRUE(Run(std::move(list)));
        EXPECT_EQ(ReadFileText(device / "cfg.ini"), answer[0] == 'N' ? "new" : "newer");
    }
}

TEST_F(TransferEndToEnd, ManyMixedBatchesLeaveHeapWindowsAndHandlesWhereTheyWere) {
    // Every request waits a little, so a cancel right after the submit always finds its file still waiting.
    Connect(device.Path() + ";latency=15");
    SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", "Yes");
    for (int f = 0; f < 3; ++f) {
        WritePatternFile(local / ("u" + std::to_string(f) + ".bin"), 30000, f + 1);
        WritePatternFile(device / ("d" + std::to_string(f) + ".bin"), 30000, f + 7);
    }
    MakeDirs(local / "in");
    const auto batch = [&](int run) {
        // 0: an upload over the files of the last one; 1: a download; 2: one cancelled while its first file
        // waits; 3: files the device does not have, so the first failure, then the summary.
        const int kind = run % 4;
        auto list = List(kind == 0 ? 1 : 0);
        for (int f = 0; f < 3; ++f) {
            const std::string name = std::to_string(f) + ".bin";
            if (kind == 0)
                Add(*list, local / ("u" + name), "\\up\\");
            else
                Add(*list, (kind == 3 ? "\\missing" : "\\d") + name, local / "in\\");
        }
        if (kind == 2) {
            prompts.ExpectBox("*", "Dorvex", MB_OK | MB_ICONINFORMATION);
            ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::move(list)));
            ASSERT_TRUE(Pump(3000, [&] { return main->Runner().CurrentRequestId() != 0; }));
            PostMessageA(main->m_hWnd, UWM_TRANSFER_CANCEL, 0, main->Runner().CurrentRequestId());
            ASSERT_TRUE(Pump(5000, [&] { return freed; }));
        } else {
            if (kind == 3) {
                prompts.ExpectBox("*", "Error", MB_OK | MB_ICONEXCLAMATION);
                prompts.ExpectBox("*", "Dorvex", MB_OK | MB_ICONEXCLAMATION);
            }
            ASSERT_TRUE(Run(std::move(list), 10000)) << "run " << run;
        }
        prompts.VerifyDone();
        prompts.shown.clear();
        prompts.owners.clear();
    };
    // The eight runs to settle are two of each kind; less than 41 bytes a batch may stay.
    RunMeasured("batches", [&](int run) { batch(run + kWarmUp); }, 100, 4096);
    EXPECT_EQ(main->Runner().RunningLists(), 0u);
    EXPECT_TRUE(DeviceFree()) << "the device stayed reserved after the last batch";
}


// What the shell does with files dropped on a folder window: the data object read as Explorer reads it
// (formats enumerated, CF_HDROP taken, the files copied from it into `into`).
std::string FormatName(CLIPFORMAT format) {
    char name[128] = "";
    return format == CF_HDROP ? "CF_HDROP" : GetClipboardFormatNameA(format, name, sizeof name) ? name : "?";
}

void CopyTree(const std::string& from, const std::string& to) {
    if (!(GetFileAttributesA(from.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
        CopyFileA(from.c_str(), to.c_str(), FALSE);
        return;
    }
    CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((from + "\\*").c_str(), &found);
    do {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            CopyTree(from + "\\" + found.cFileName, to + "\\" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Reads `data` as a shell target does; the formats offered and the files' paths, copied into `into`.
std::vector<std::string> TakeFiles(IDataObject* data, const std::string& into, std::vector<std::string>& formats) {
    IEnumFORMATETC* each = nullptr;
    if (SUCCEEDED(data->EnumFormatEtc(DATADIR_GET, &each))) {
        FORMATETC format;
        while (each->Next(1, &format, nullptr) == S_OK)
            formats.push_back(FormatName(format.cfFormat));
        each->Release();
    }
    const std::vector<std::string> paths = DataFiles(data);
    for (const std::string& path : paths)
        CopyTree(path, into + path.substr(path.rfind('\\')));
    return paths;
}

class CShellTarget : public IDropTarget {
public:
    explicit CShellTarget(std::string into) : m_into(std::move(into)) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = iid == IID_IUnknown || iid == IID_IDropTarget ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override {
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        paths = TakeFiles(data, m_into, formats);
        *effect = DROPEFFECT_COPY;
        return S_OK;
    }
    std::vector<std::string> formats, paths;

private:
    std::string m_into;
};

POINT Centre(HWND window, RECT client) {
    POINT centre = {(client.left + client.right) / 2, (client.top + client.bottom) / 2};
    ClientToScreen(window, &centre);
    return centre;
}

// The control on screen, a shell folder window beside it, and the device's root in the list.
class ShellTransfer : public TransferEndToEnd {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TransferEndToEnd::SetUp());
        SetWindowPos(frame, HWND_TOP, 0, 0, 700, 400, SWP_SHOWWINDOW);
        ShowWindow(main->m_hWnd, SW_SHOW);
        SetForegroundWindow(frame);
        // A window of its own class: a static control is transparent to the pointer, so no drag finds it.
        WNDCLASSA type = {};
        type.lpfnWndProc = DefWindowProcA;
        type.lpszClassName = "DorvexTestShell";
        RegisterClassA(&type);
        shell = CreateWindowExA(WS_EX_TOPMOST, "DorvexTestShell", "shell", WS_POPUP | WS_VISIBLE | WS_BORDER, 800,
                                100, 300, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_EQ(RegisterDragDrop(shell, &target), S_OK);
    }
    void TearDown() override {
        RevokeDragDrop(shell);
        DestroyWindow(shell);
        TransferEndToEnd::TearDown();
    }
    // Connects again to the device as the test made it, shows its root and selects the rows named.
    void ShowRootSelecting(const std::vector<std::string>& names) {
        Connect(device.Path());
        CDorvexListView& list = *main->ListView();
        ASSERT_TRUE(Pump(5000, [&] { return list.RowCount() > 0; }));
        for (size_t i = 0; i < list.RowCount(); ++i)
            if (std::find(names.begin(), names.end(), list.Row(i)->Name()) != names.end())
                ListView_SetItemState(list.m_hWnd, static_cast<int>(i), LVIS_SELECTED, LVIS_SELECTED);
    }
    // The centre of row `name`, on screen.
    POINT RowPoint(const std::string& name) {
        CDorvexListView& list = *main->ListView();
        for (size_t i = 0; i < list.RowCount(); ++i) {
            RECT row = {};
            if (list.Row(i) && list.Row(i)->Name() == name && ListView_GetItemRect(list.m_hWnd, i, &row, LVIR_LABEL))
                return Centre(list.m_hWnd, row);
        }
        ADD_FAILURE() << name << " is not shown";
        return {};
    }
    // A press on `from`, a move past the drag distance, then `then` (over the target, with its pauses).
    void DragFrom(POINT from, const std::function<void()>& then) {
        ASSERT_TRUE(WithHand([&] {
            MoveTo(from);
            Sleep(100);
            LeftButton(true);
            Sleep(100);
            for (int step = 1; step <= 4; ++step, Sleep(60))
                MoveTo({from.x + 8 * step, from.y + 4 * step});
            then();
        }));
    }
    static void Over(POINT to) {
        for (int step = 0; step < 3; ++step, Sleep(100))
            MoveTo({to.x + step, to.y});
    }
    std::string StagingRoot() {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        return std::string(temp) + "Dorvex-" + std::to_string(GetCurrentProcessId());
    }

    CTempFolder dropped{"dorvex-shell"};
    CShellTarget target{dropped.Path()};
    HWND shell = nullptr;
};

// The walk's own limits on hostile names are the browser test's; here the bytes and when they are made.
TEST_F(ShellTransfer, DraggedOutOrPastedTheFilesAreMadeOnlyWhenTakenAndArriveByteForByte) {
    for (int d = 0; d < 10; ++d)
        for (int f = 0; f < 100; ++f)
            WritePatternFile(device / ("tree\\d" + std::to_string(d) + "\\f" + std::to_string(f) + ".bin"),
                             static_cast<uint64_t>(d * 997 + f * 31), static_cast<uint32_t>(d * 100 + f + 1));
    WritePatternFile(device / "large.bin", 50ull << 20, 99);
    WriteFileText(device / "other.txt", "not selected");
    const std::map<std::string, uint64_t> tree = Digest(device / "tree");
    const uint64_t large = HashFile(device / "large.bin");
    ASSERT_NO_FATAL_FAILURE(ShowRootSelecting({"tree", "large.bin"}));
    const POINT from = RowPoint("large.bin");
    const POINT to = Centre(shell, RECT{0, 0, 300, 300});

    // Abandoned with Escape over the target: nothing downloaded, nothing dropped.
    DragFrom(from, [&] {
        Over(to);
        Key(VK_ESCAPE, true);
        Key(VK_ESCAPE, false);
        Sleep(100);
        LeftButton(false);
    });
    // Released over the control's own tree: its files are on the device already, so nothing happens.
    RECT root = {};
    TreeView_GetItemRect(main->TreeView()->m_hWnd, TreeView_GetRoot(main->TreeView()->m_hWnd), &root, TRUE);
    DragFrom(from, [&] {
        Over(Centre(main->TreeView()->m_hWnd, root));
        LeftButton(false);
    });
    EXPECT_TRUE(target.paths.empty());
    EXPECT_TRUE(Snapshot(StagingRoot()).empty()) << "an abandoned drag downloaded something";
    EXPECT_FALSE(FileExists(device / "large.bin\\large.bin"));

    // Dropped on the target: the files are there when it reads them, and gone once it has let go.
    DragFrom(from, [&] {
        Over(to);
        LeftButton(false);
    });
    EXPECT_EQ(target.formats, (std::vector<std::string>{"CF_HDROP", "Preferred DropEffect",
                                                        "Dorvex Device Items"}));
    ASSERT_EQ(target.paths.size(), 2u);
    EXPECT_EQ(target.paths[0].rfind(StagingRoot(), 0), 0u) << target.paths[0];
    EXPECT_EQ(Digest(dropped / "tree"), tree);
    EXPECT_EQ(HashFile(dropped / "large.bin"), large);
    EXPECT_FALSE(DirExists(StagingRoot())) << "the copies outlived the drop";

    // Ctrl+C, then the shell's paste: made only when read.
    CTempFolder pasted{"dorvex-paste"};
    SetFocus(main->ListView()->m_hWnd);
    ASSERT_TRUE(WithHand([] {
        Key(VK_CONTROL, true);
        Key('C', true);
        Key('C', false);
        Key(VK_CONTROL, false);
        Sleep(200);
    }));
    CComPtr<IDataObject> clip;
    ASSERT_EQ(OleGetClipboard(&clip), S_OK);
    ASSERT_TRUE(IsDeviceData(clip.Get())) << "Ctrl+C put nothing on the clipboard";
    EXPECT_TRUE(Snapshot(StagingRoot()).empty()) << "copying downloaded before a paste";
    std::vector<std::string> formats;
    EXPECT_EQ(TakeFiles(clip.Get(), pasted.Path(), formats).size(), 2u);
    EXPECT_EQ(Digest(pasted / "tree"), tree);
    EXPECT_EQ(HashFile(pasted / "large.bin"), large);
    // The control going takes its copy off the clipboard, and the files with it.
    clip.Release();
    main.reset();
    ASSERT_EQ(OleGetClipboard(&clip), S_OK);
    EXPECT_TRUE(DataFiles(clip.Get()).empty());
    EXPECT_FALSE(DirExists(StagingRoot()));
}

TEST_F(ShellTransfer, ShellFilesDroppedOnATreeFolderOrADirectoryRowLandThereAndAFolderRestedOnOpens) {
    MakeDirs(device / "logs\\old");
    MakeDirs(device / "recipes");
    WriteFileText(local / "a.txt", "alpha");
    WriteFileText(local / "pack\\b.txt", "beta");
    CFileDragSource source({local / "a.txt", local / "pack"});
    ASSERT_NO_FATAL_FAILURE(ShowRootSelecting({}));
    CDorvexTreeView& tree = *main->TreeView();
    ASSERT_TRUE(Pump(5000, [&] { return tree.FindChild(TreeView_GetRoot(tree.m_hWnd), "logs") != nullptr; }));
    HTREEITEM logs = tree.FindChild(TreeView_GetRoot(tree.m_hWnd), "logs");
    RECT item = {};
    TreeView_GetItemRect(tree.m_hWnd, logs, &item, TRUE);
    const struct {
        POINT at;
        const char* lands;
    } drops[] = {{Centre(tree.m_hWnd, item), "logs"}, {RowPoint("recipes"), "recipes"}};
    int recipes = 0;
    while (main->ListView()->Row(static_cast<size_t>(recipes))->Name() != "recipes")
        ++recipes;
    for (const auto& drop : drops) {
        UINT highlighted = 0;
        // The drag starts in the shell's window, as a drag of files out of a folder window does.
        MoveTo(Centre(shell, RECT{0, 0, 300, 300}));
        LeftButton(true);
        Pump(100);
        const std::function<void()> hand = [&] {
            Sleep(200); // the drag's loop is running
            Over(drop.at);
            Sleep(drop.lands[0] == 'l' ? 1200 : 200);
            Over(drop.at);
            highlighted = drop.lands[0] == 'l'
                              ? static_cast<UINT>(SendMessageA(tree.m_hWnd, TVM_GETITEMSTATE,
                                                               reinterpret_cast<WPARAM>(logs), TVIS_DROPHILITED))
                              : ListView_GetItemState(main->ListView()->m_hWnd, recipes, LVIS_DROPHILITED);
            LeftButton(false);
        };
        HANDLE moving = StartHand(hand);
        DWORD effect = DROPEFFECT_NONE;
        EXPECT_EQ(source.Drag(&effect), DRAGDROP_S_DROP) << drop.lands;
        ASSERT_TRUE(JoinHand(moving));
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY)) << drop.lands;
        EXPECT_NE(highlighted, 0u) << drop.lands << " was not shown as the drop target";
        ASSERT_TRUE(Pump(10000, [&] { return FileExists(device / (std::string(drop.lands) + "\\pack\\b.txt")); }))
            << drop.lands;
        EXPECT_EQ(ReadFileText(device / (std::string(drop.lands) + "\\a.txt")), "alpha");
        Pump(300);
    }
    EXPECT_TRUE(TreeView_GetItemState(tree.m_hWnd, logs, TVIS_EXPANDED) & TVIS_EXPANDED)
        << "a folder rested on did not open";
    // The folder the files went to was read again: the tree shows the directory the drop made there.
    EXPECT_NE(tree.FindChild(logs, "pack"), nullptr);

    // A tree folder dragged out to the shell arrives whole.
    TreeView_GetItemRect(tree.m_hWnd, logs, &item, TRUE);
    DragFrom(Centre(tree.m_hWnd, item), [&] {
        Over(Centre(shell, RECT{0, 0, 300, 300}));
        LeftButton(false);
    });
    EXPECT_EQ(target.paths.size(), 1u);
    EXPECT_EQ(ReadFileText(dropped / "logs\\pack\\b.txt"), "beta");
    EXPECT_TRUE(DirExists(dropped / "logs\\old"));

    // Ctrl+V pastes the shell's files into the directory shown, as a drop there does.
    ASSERT_EQ(OleSetClipboard(&source), S_OK);
    SetFocus(main->ListView()->m_hWnd);
    ASSERT_TRUE(WithHand([] {
        Key(VK_CONTROL, true);
        Key('V', true);
        Key('V', false);
        Key(VK_CONTROL, false);
        Sleep(200);
    }));
    EXPECT_TRUE(Pump(10000, [&] { return FileExists(device / "pack\\b.txt"); })) << "Ctrl+V pasted nothing";
    EXPECT_EQ(ReadFileText(device / "a.txt"), "alpha");
    OleSetClipboard(nullptr);
}

} // namespace
