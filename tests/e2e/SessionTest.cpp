// The whole system over temporary device folders: the control in the system's container, its classes
// linked into this program to look at what the main window keeps, and the real session component.
// A failed check is proven on each side: the control's and its boxes in MainWndTest, the component's in
// SessionRequestTest.
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "SessionHost.h"
#include "browser/DorvexListView.h"
#include "browser/DorvexTreeView.h"
#include "browser/LayoutSettings.h"
#include "mainwnd/DorvexWnd.h"
#include "module/resource.h"
#include "module/DorvexCtrl.h"
#include "paramblock/ParamBlock.h"
#include "Dorvex_h.h"

#include <algorithm>
#include <memory>

namespace {

using Patterns = std::list<std::string>;

// The control class served from this program, so that the container creates the linked classes.
class CLinkedControlFactory : public IClassFactory {
public:
    HRESULT Register() {
        return CoRegisterClassObject(CLSID_Dorvex, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
    }
    void Revoke() {
        if (m_cookie)
            CoRevokeClassObject(m_cookie);
        m_cookie = 0;
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : CDorvexCtrl::CreateInstance(iid, out);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    DWORD m_cookie = 0;
};

// The environment calls as "Name(value)", in order.
std::vector<std::wstring> Calls(const CRecordingEnvironment& environment) {
    std::vector<std::wstring> calls;
    for (const auto& call : environment.calls)
        calls.push_back(call.name + L"(" + (call.args.empty() ? L"" : call.args[0].value) + L")");
    return calls;
}

class SessionEndToEnd : public COleTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        ASSERT_EQ(factory.Register(), S_OK);
        ASSERT_EQ(host.Start(&environment), S_OK) << "the container could not create the control";
        IOleObject* object = nullptr;
        ASSERT_EQ(host.Control()->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
        control = static_cast<CDorvexCtrl*>(object);
        object->Release();
        ASSERT_NE(control->MainWindow(), nullptr);
        ASSERT_TRUE(control->MainWindow()->HasSession()) << "no session component registered";
    }
    void TearDown() override {
        host.Close();
        factory.Revoke();
        prompts.VerifyDone();
        COleTest::TearDown();
    }
    CDorvexWnd& Main() { return *control->MainWindow(); }

    // The names of the device's root directory, as the control's own session lists it.
    std::string RootEntries() {
        CParamBlock input, output;
        input.At(0).SetText("\\");
        Main().Session()->Execute(0x1009, input.ExportArray(), output.ExportArray(), 5000, 0,
                                  &Main().lastResult);
        return sessiontest::Names(output);
    }

    CTwoDevices devices;
    const sessiontest::CTempFolder& deviceA = devices.a;
    const sessiontest::CTempFolder& deviceB = devices.b;
    CScriptedPrompts prompts;
    CRecordingEnvironment environment{{L"VNLENVUpdateConnectionStatus", L"VNLENVUpdateConnectionParams"}};
    CLinkedControlFactory factory;
    CContainerHost host;
    CDorvexCtrl* control = nullptr;
    std::vector<SeenMessage> seen;
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
        Pump(3000, [&] { return !Main().DisplayListPatterns().empty(); }, &seen);
        const auto calls = Calls(environment);
        EXPECT_GE(std::count(calls.begin(), calls.end(), L"VNLENVUpdateConnectionStatus(1)"),
                  static_cast<std::ptrdiff_t>(i + 1));
        EXPECT_EQ(Main().FirmwarePatterns(), steps[i].firmware);
        EXPECT_EQ(Main().ProgramPatterns(), steps[i].program);
        EXPECT_EQ(Main().DisplayListPatterns(), steps[i].displayList);
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
    EXPECT_EQ(shown.front().substr(0, 5), "Logs|") << "directories first";
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
    EXPECT_EQ(GetFileAttributesA((deviceA.Path() + "\\SYS\\Old").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA((deviceA.Path() + "\\SYS\\config.txt").c_str()), INVALID_FILE_ATTRIBUTES);

    list.BeginNewDirectory();
    HWND edit = ListView_GetEditControl(list.m_hWnd);
    ASSERT_NE(edit, nullptr);
    SetWindowTextA(edit, "Fresh");
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(Pump(5000, [&] { return list.RowCount() == 2 && list.Row(0); }, &seen));
    EXPECT_EQ(list.CellText(0, 0), "Fresh");
    const DWORD made = GetFileAttributesA((deviceA.Path() + "\\SYS\\Fresh").c_str());
    EXPECT_TRUE(made != INVALID_FILE_ATTRIBUTES && (made & FILE_ATTRIBUTE_DIRECTORY));
}

} // namespace
