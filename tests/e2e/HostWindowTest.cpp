// The host window with the real control in it, inside this test process: the host's sequence of calls,
// sizes, the Connect dialog, and what environment calls do to the window.

// GCC sees the object's type where a test creates and releases it, and takes the framework's
// `delete this` in the base part for a delete at an offset; the destructor is virtual.
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"

#include <windows.h>

#include <gtest/gtest.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "HostEnvironment.h"
#include "HostTestSupport.h"
#include "HostWindow.h"
#include "framework/Prompts.h"

namespace {
using namespace host_test;

SIZE ClientSize(HWND hwnd) {
    RECT rect = {};
    GetClientRect(hwnd, &rect);
    return {rect.right, rect.bottom};
}

std::wstring Title(HWND hwnd) {
    wchar_t text[256] = L"";
    GetWindowTextW(hwnd, text, 256);
    return text;
}

// Message boxes the plug-in opens on its own (a failed connection, say) would stop a test for good:
// they are recorded and closed.
std::vector<std::wstring> g_strayBoxes;

void CALLBACK CloseStrayBoxes(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        wchar_t title[128] = L"";
        GetWindowTextW(box, title, 128);
        if (process != GetCurrentProcessId() || !IsWindowVisible(box) || lstrcmpW(title, L"Connect") == 0)
            continue;
        g_strayBoxes.push_back(title);
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

class HostWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        window_.SetLog([this](const std::wstring& line) { log_.push_back(line); });
        g_strayBoxes.clear();
        strayTimer_ = SetTimer(nullptr, 0, 200, CloseStrayBoxes);
        // A device folder of the test's own, so that connecting succeeds.
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        device_ = std::wstring(temp) + L"hostwindow-device-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(device_.c_str(), nullptr);
    }
    void TearDown() override {
        window_.Destroy();
        KillTimer(nullptr, strayTimer_);
        EXPECT_TRUE(g_strayBoxes.empty())
            << "the plug-in opened a box: " << std::string(g_strayBoxes[0].begin(), g_strayBoxes[0].end());
        RemoveDirectoryW(device_.c_str());
        FreeTestStrings();
        OleUninitialize();
    }

    bool Create(const wchar_t* plugin = L"Dorvex", HostMode mode = HostMode::Tour) {
        HostOptions options;
        options.mode = mode;
        options.plugin = plugin;
        options.connection = L"demo";
        return window_.Create(options, SW_SHOW);
    }

    std::vector<std::wstring> Lines(const wchar_t* prefix) const {
        std::vector<std::wstring> found;
        for (const std::wstring& line : log_)
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }

    // Calls the window's environment as a plug-in would, by name with the plug-in's argument types.
    HRESULT Env(const wchar_t* name, std::vector<VARIANT> args) {
        CHostEnvironment* env = new CHostEnvironment(&window_);
        const HRESULT hr = CallByName(env, name, std::move(args));
        env->Release();
        return hr;
    }

    CHostWindow window_;
    std::vector<std::wstring> log_;
    UINT_PTR strayTimer_ = 0;
    std::wstring device_;
};

TEST_F(HostWindowTest, HandsOverTheEnvironmentTakesTheSizesThenConnects) {
    ASSERT_TRUE(Create());
    ASSERT_TRUE(window_.Problem().empty()) << window_.Problem().c_str();
    const std::vector<std::wstring> calls = Lines(L"host ");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], L"host create DORVEX.DorvexCtrl.1 -> 0x00000000");
    EXPECT_EQ(calls[1], L"host VNLSetEnvIDispatchViaStream -> 0x00000000");
    EXPECT_EQ(calls[2], L"host VNLGetWindowSizes -> 0x00000000 100 100 10000 10000 600 300");
    EXPECT_EQ(calls[3], L"host VNLSetConnectionParameters(\"demo\") -> 0x00000000");

    // The plug-in's area has its preferred size and its main window is shown in it.
    HWND area = window_.PluginWindow();
    ASSERT_TRUE(IsWindow(area));
    EXPECT_EQ(ClientSize(area).cx, 600);
    EXPECT_EQ(ClientSize(area).cy, 300);
    HWND control = GetWindow(area, GW_CHILD);
    ASSERT_TRUE(IsWindow(control));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(control, 1700)));
    EXPECT_EQ(window_.StatusText(1), L"demo");
    EXPECT_EQ(Title(window_.Window()), L"Varnel Host - Dorvex");

    // Dragging the frame smaller than the plug-in allows stops at the plug-in's minimum; larger is fine.
    SetWindowPos(window_.Window(), nullptr, 0, 0, 30, 30, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_GE(ClientSize(area).cx, 100);
    EXPECT_GE(ClientSize(area).cy, 100);
    SetWindowPos(window_.Window(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_GT(ClientSize(area).cx, 600);
    EXPECT_EQ(ClientSize(GetDlgItem(control, 1700)).cx, ClientSize(area).cx)
        << "the control follows its area";
}

TEST_F(HostWindowTest, EnvironmentCallsChangeTitleStatusFooterAndSize) {
    ASSERT_TRUE(Create());
    const size_t pluginCalls = Lines(L"env ").size();
    EXPECT_EQ(Env(L"VNLENVSetWindowTitleTool", {VText(L"Files")}), S_OK);
    EXPECT_EQ(Env(L"VNLENVAppendToWindowTitle", {VText(L" [\\cf0\\]")}), S_OK);
    EXPECT_EQ(Env(L"VNLENVAppendToWindowTitle", {VText(L" [\\]")}), S_OK);
    EXPECT_EQ(Title(window_.Window()), L"Varnel Host - Files [\\]") << "appending replaces the earlier part";

    EXPECT_EQ(Env(L"VNLENVUpdateConnectionStatus", {VI2(1)}), S_OK);
    EXPECT_EQ(window_.StatusText(0), L"Connected");
    EXPECT_TRUE(window_.StatusReported());

    BSTR params = SysAllocString(L"C:\\devices\\two");
    EXPECT_EQ(Env(L"VNLENVUpdateConnectionParams", {VTextRef(&params)}), S_OK);
    EXPECT_EQ(window_.Connection(), L"C:\\devices\\two");
    EXPECT_EQ(window_.StatusText(1), L"C:\\devices\\two");
    SysFreeString(params);
    EXPECT_EQ(Lines(L"host VNLSetConnectionParameters").size(), 1u) << "the plug-in reconnected itself";

    // Without the footer the plug-in gets the whole client area.
    HWND area = window_.PluginWindow();
    EXPECT_EQ(Env(L"VNLENVShowFrameFooter", {VI4(0)}), S_OK);
    EXPECT_FALSE(window_.FooterVisible());
    EXPECT_EQ(ClientSize(area).cy, ClientSize(window_.Window()).cy);

    EXPECT_EQ(Env(L"VNLENVSetPluginWindowSize", {VI4(0), VI4(0), VI4(0), VI4(0), VI4(500), VI4(250)}), S_OK);
    EXPECT_EQ(ClientSize(area).cx, 500);
    EXPECT_EQ(ClientSize(area).cy, 250);
    EXPECT_EQ(window_.PluginSizes()[0], 100) << "a 0 keeps the plug-in's minimum";

    EXPECT_EQ(Lines(L"env ").size() - pluginCalls, 7u) << "every call is recorded";
}

// Answers the Connect dialog from inside its modal loop.
struct ConnectScript {
    std::wstring typed;
    int button;
    bool okEnabledWhenEmpty = true;
    bool seen = false;
} g_connect;

void CALLBACK AnswerConnect(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowW(nullptr, L"Connect");
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    g_connect.seen = true;
    HWND edit = GetDlgItem(dialog, 1000);
    SetWindowTextW(edit, L"");
    g_connect.okEnabledWhenEmpty = IsWindowEnabled(GetDlgItem(dialog, IDOK));
    SetWindowTextW(edit, g_connect.typed.c_str());
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(g_connect.button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, g_connect.button)));
}

TEST_F(HostWindowTest, ConnectDialogSendsTheNewConnectionAndCancelSendsNothing) {
    ASSERT_TRUE(Create());
    g_connect = {L"  " + device_ + L"  ", IDOK};
    SetTimer(nullptr, 0, 50, AnswerConnect);
    window_.ChooseConnection();
    ASSERT_TRUE(g_connect.seen);
    EXPECT_FALSE(g_connect.okEnabledWhenEmpty) << "OK with nothing to connect to";
    EXPECT_EQ(window_.Connection(), device_) << "blanks around the text are dropped";
    EXPECT_EQ(Lines(L"host VNLSetConnectionParameters").back(),
              L"host VNLSetConnectionParameters(\"" + device_ + L"\") -> 0x00000000");

    g_connect = {L"C:\\elsewhere", IDCANCEL};
    SetTimer(nullptr, 0, 50, AnswerConnect);
    window_.ChooseConnection();
    ASSERT_TRUE(g_connect.seen);
    EXPECT_EQ(window_.Connection(), device_);
    EXPECT_EQ(Lines(L"host VNLSetConnectionParameters").size(), 2u);

    // Ctrl+O through the host's keyboard handling opens it too.
    g_connect = {L"demo", IDOK};
    SetTimer(nullptr, 0, 50, AnswerConnect);
    MSG key = {};
    key.hwnd = window_.Window();
    key.message = WM_KEYDOWN;
    key.wParam = 'O';
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    EXPECT_TRUE(window_.PreTranslateMessage(key));
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_TRUE(g_connect.seen);
    EXPECT_EQ(window_.Connection(), L"demo");
}

// Records message boxes instead of showing them.
class RecordingPrompts : public IPrompts {
public:
    std::vector<std::string> texts;
    int MessageBox(HWND, const std::string& text, const std::string&, UINT) override {
        texts.push_back(text);
        return IDOK;
    }
    INT_PTR DoModal(HINSTANCE, int, const std::string&, HWND, DLGPROC, LPARAM) override { return IDCANCEL; }
    UINT TrackPopupMenu(HMENU, UINT, POINT, HWND) override { return 0; }
    std::optional<std::string> BrowseForFolder(HWND, const std::string&) override { return std::nullopt; }
};

TEST_F(HostWindowTest, APluginThatIsNotRegisteredIsExplainedAndNothingIsCalled) {
    RecordingPrompts prompts;
    IPrompts* previous = SetPrompts(&prompts);
    ASSERT_TRUE(Create(L"NoSuchPlugin", HostMode::Window));
    SetPrompts(previous);
    ASSERT_EQ(prompts.texts.size(), 1u);
    EXPECT_NE(prompts.texts[0].find("NoSuchPlugin"), std::string::npos) << prompts.texts[0];
    EXPECT_NE(window_.Problem().find(L"not registered"), std::wstring::npos);
    EXPECT_EQ(window_.PluginWindow(), nullptr);
    EXPECT_TRUE(Lines(L"host VNL").empty());
    EXPECT_EQ(window_.StatusText(0), L"No plug-in");
    // The menu still works and does nothing harmful without a plug-in.
    window_.ShowPluginAbout();
    EXPECT_TRUE(IsWindow(window_.Window()));
}

} // namespace
