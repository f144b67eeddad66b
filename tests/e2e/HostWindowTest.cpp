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
#include "HostWindow.h"
#include "SessionHost.h"
#include "framework/Handles.h"

namespace {
using namespace host_test;

// The client area as "WxH".
std::string Size(HWND hwnd) {
    RECT rect = {};
    GetClientRect(hwnd, &rect);
    return std::to_string(rect.right) + "x" + std::to_string(rect.bottom);
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

class HostWindowTest : public COleTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        window_.SetLog([this](const std::wstring& line) { log_.push_back(line); });
        g_strayBoxes.clear();
        strayTimer_ = SetTimer(nullptr, 0, 200, CloseStrayBoxes);
    }
    void TearDown() override {
        window_.Destroy();
        KillTimer(nullptr, strayTimer_);
        EXPECT_TRUE(g_strayBoxes.empty())
            << "the plug-in opened a box: " << std::string(g_strayBoxes[0].begin(), g_strayBoxes[0].end());
        FreeTestStrings();
        COleTest::TearDown();
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
};

TEST_F(HostWindowTest, HandsOverTheEnvironmentTakesTheSizesConnectsAndFollowsEnvironmentCalls) {
    ASSERT_TRUE(Create());
    ASSERT_TRUE(window_.Problem().empty()) << window_.Problem().c_str();
    EXPECT_EQ(Lines(L"host "), (std::vector<std::wstring>{
                                   L"host create DORVEX.DorvexCtrl.1 -> 0x00000000",
                                   L"host VNLSetEnvIDispatchViaStream -> 0x00000000",
                                   L"host VNLGetWindowSizes -> 0x00000000 100 100 10000 10000 600 300",
                                   L"host VNLSetConnectionParameters(\"demo\") -> 0x00000000"}));

    // The plug-in's area has its preferred size and its main window is shown in it.
    HWND area = window_.PluginWindow();
    ASSERT_TRUE(IsWindow(area));
    EXPECT_EQ(Size(area), "600x300");
    HWND control = GetWindow(area, GW_CHILD);
    ASSERT_TRUE(IsWindow(control));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(control, 1700)));
    EXPECT_EQ(window_.StatusText(1), L"demo");
    EXPECT_EQ(Title(window_.Window()), L"Varnel Host - Dorvex");

    // Dragging the frame smaller than the plug-in allows stops at the plug-in's minimum; larger is fine.
    SetWindowPos(window_.Window(), nullptr, 0, 0, 30, 30, SWP_NOMOVE | SWP_NOZORDER);
    RECT small = {};
    GetClientRect(area, &small);
    EXPECT_GE(small.right, 100);
    EXPECT_GE(small.bottom, 100);
    SetWindowPos(window_.Window(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    GetClientRect(area, &small);
    EXPECT_GT(small.right, 600);
    EXPECT_EQ(Size(GetDlgItem(control, 1700)), Size(area)) << "the control follows its area";

    // What environment calls do to title, status, footer and size.
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
    EXPECT_EQ(Env(L"VNLENVShowFrameFooter", {VI4(0)}), S_OK);
    EXPECT_FALSE(window_.FooterVisible());
    EXPECT_EQ(Size(area), Size(window_.Window()));

    EXPECT_EQ(Env(L"VNLENVSetPluginWindowSize", {VI4(0), VI4(0), VI4(0), VI4(0), VI4(500), VI4(250)}), S_OK);
    EXPECT_EQ(Size(area), "500x250");
    EXPECT_EQ(window_.PluginSizes()[0], 100) << "a 0 keeps the plug-in's minimum";

    EXPECT_EQ(Lines(L"env ").size() - pluginCalls, 7u) << "every call is recorded";
}

TEST_F(HostWindowTest, ConnectDialogSendsTheNewConnectionAndCancelSendsNothing) {
    // A device folder of the test's own, so that connecting succeeds.
    const sessiontest::CTempFolder folder("hostwindow-device");
    const std::wstring device = WideFromNarrow(folder.Path().c_str());
    ASSERT_TRUE(Create());
    // The dialog runs for real: emptied first (OK must not allow that), then typed into and answered.
    CScriptedPrompts prompts;
    std::wstring typed;
    bool okWhenEmpty = true;
    prompts.onDialog = [&](HWND dialog) {
        SetDlgItemTextW(dialog, 1000, L"");
        okWhenEmpty = IsWindowEnabled(GetDlgItem(dialog, IDOK));
        SetDlgItemTextW(dialog, 1000, typed.c_str());
    };
    typed = L"  " + device + L"  ";
    prompts.ExpectDialog("Connect", "*", IDOK);
    window_.ChooseConnection();
    EXPECT_FALSE(okWhenEmpty) << "OK with nothing to connect to";
    EXPECT_EQ(window_.Connection(), device) << "blanks around the text are dropped";
    EXPECT_EQ(Lines(L"host VNLSetConnectionParameters").back(),
              L"host VNLSetConnectionParameters(\"" + device + L"\") -> 0x00000000");

    typed = L"C:\\elsewhere";
    prompts.ExpectDialog("Connect", "*", IDCANCEL);
    window_.ChooseConnection();
    EXPECT_EQ(window_.Connection(), device);
    EXPECT_EQ(Lines(L"host VNLSetConnectionParameters").size(), 2u);

    // Ctrl+O through the host's keyboard handling opens it too.
    typed = L"demo";
    prompts.ExpectDialog("Connect", "*", IDOK);
    MSG key = {window_.Window(), WM_KEYDOWN, 'O', 0, 0, {}};
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    EXPECT_TRUE(window_.PreTranslateMessage(key));
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    prompts.VerifyDone();
    EXPECT_EQ(window_.Connection(), L"demo");
}

TEST_F(HostWindowTest, APluginThatIsNotRegisteredIsExplainedAndNothingIsCalled) {
    CScriptedPrompts prompts;
    prompts.ExpectBox("The plug-in \"NoSuchPlugin\" is not registered with the host. Register its module "
                      "(regsvr32) and start again.",
                      "Varnel Host", MB_OK | MB_ICONEXCLAMATION);
    ASSERT_TRUE(Create(L"NoSuchPlugin", HostMode::Window));
    prompts.VerifyDone();
    EXPECT_EQ(window_.PluginWindow(), nullptr);
    EXPECT_TRUE(Lines(L"host VNL").empty());
    EXPECT_EQ(window_.StatusText(0), L"No plug-in");
    // The menu still works and does nothing harmful without a plug-in.
    window_.ShowPluginAbout();
    EXPECT_TRUE(IsWindow(window_.Window()));
}

} // namespace
