// The control hosted by a container none of us wrote (the system's AtlAxWin), registered with the real
// regsvr32, driven only through IDispatch by name, as a host application drives it.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <fstream>
#include <string>

#include "DeviceSessionDouble.h"
#include "SessionHost.h"

namespace {

class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        logPath_ = ProgramDirectory() + "container-help.log";
        DeleteFileA(logPath_.c_str());
        SetEnvironmentVariableA("QUORGUI_CALL_LOG", logPath_.c_str());
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_TRUE(host_.Open()) << "the container did not create the registered control";
        control_ = host_.ControlWindow();
        ASSERT_TRUE(IsWindow(control_)) << "the control was not activated in place";
        ocx_ = GetModuleHandleA("DORVEX.OCX");
    }

    void TearDown() override {
        host_.Close();
        OleUninitialize();
    }

    CContainerHost host_;
    HMODULE ocx_ = nullptr;
    HWND control_ = nullptr;
    std::string logPath_;
};

bool Shown(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// Confirms the modal about box from inside its own message loop.
bool g_aboutSeen = false;
void CALLBACK CloseAbout(HWND, UINT, UINT_PTR id, DWORD) {
    HWND about = FindWindowA(nullptr, "About Dorvex Control");
    if (!about)
        return;
    KillTimer(nullptr, id);
    g_aboutSeen = GetDlgItem(about, IDOK) != nullptr;
    PostMessageA(about, WM_COMMAND, IDOK, 0);
}

TEST_F(ContainerTest, HostSequenceShowsTheMainWindowAndFollowsTheContainer) {
    HWND main = host_.MainWindow();
    ASSERT_TRUE(IsWindow(main));
    char name[32] = "";
    GetWindowTextA(main, name, sizeof name);
    EXPECT_STREQ(name, "Dorvex");
    EXPECT_FALSE(Shown(main)) << "the main window is created hidden";

    // The environment travels marshalled in a stream; the control must hold on to it.
    CRecordingEnvironment environment{std::vector<std::wstring>{}};
    EXPECT_EQ(host_.GiveEnvironment(&environment), S_OK);
    EXPECT_EQ(environment.refs, 2) << "the control holds exactly one reference to the environment";

    EXPECT_EQ(host_.ShowAtPreferredSize(), S_OK); // the sizes themselves: the control object test
    EXPECT_TRUE(Shown(main));
    EXPECT_EQ(host_.Connect("demo"), S_OK);

    // The container resizes its window; the control and its main window follow.
    MoveWindow(host_.Container(), 0, 0, 500, 250, TRUE);
    RECT client;
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, 500);
    EXPECT_EQ(client.bottom, 250);

    host_.Close();
    EXPECT_EQ(environment.refs, 1) << "the environment outlived the control";
}

TEST_F(ContainerTest, AboutBoxIsModalAndClosesWithOk) {
    g_aboutSeen = false;
    SetTimer(nullptr, 0, 50, CloseAbout);
    EXPECT_EQ(host_.Call(L"AboutBox", {}), S_OK);
    EXPECT_TRUE(g_aboutSeen) << "no \"About Dorvex Control\" dialog with an OK button appeared";
}

TEST_F(ContainerTest, F1AsksTheHostForHelpWithItsContext) {
    HELPINFO info = {};
    info.cbSize = sizeof info;
    SendMessageA(control_, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    std::ifstream log(logPath_);
    std::string line, all;
    int calls = 0;
    while (std::getline(log, line)) {
        all += line + "\n";
        ++calls;
    }
    EXPECT_EQ(calls, 1) << all;
    EXPECT_NE(all.find("|15|1005|"), std::string::npos) << all;
}

TEST_F(ContainerTest, DestroyingTheContainerReleasesEverything) {
    ASSERT_NE(ocx_, nullptr);
    auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(ocx_, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE) << "a live control keeps the module loaded";
    host_.Close();
    EXPECT_FALSE(IsWindow(control_));
    EXPECT_EQ(canUnload(), S_OK) << "a control object or lock outlived its container";
}

} // namespace
