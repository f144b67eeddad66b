// The control hosted by a container none of us wrote (the system's AtlAxWin), registered with the real
// regsvr32, driven only through IDispatch by name, as a host application drives it.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <algorithm>
#include <string>

#include "DeviceSessionDouble.h"
#include "SessionHost.h"

namespace {

class ContainerTest : public COleTest {
protected:
    void SetUp() override {
        DeleteFileA(logPath_.c_str());
        SetEnvironmentVariableA("QUORGUI_CALL_LOG", logPath_.c_str());
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        ASSERT_TRUE(host_.Open()) << "the container did not create the registered control";
        ASSERT_TRUE(IsWindow(host_.ControlWindow())) << "the control was not activated in place";
    }
    void TearDown() override {
        host_.Close();
        COleTest::TearDown();
    }

    CContainerHost host_;
    const std::string logPath_ = ProgramDirectory() + "container-help.log";
};

bool Shown(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

TEST_F(ContainerTest, HostSequenceShowsTheMainWindowAndFollowsTheContainer) {
    HWND main = host_.MainWindow();
    ASSERT_TRUE(IsWindow(main));
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

    // Destroying the container releases everything: the environment, the control, the module's locks.
    auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("DORVEX.OCX"), "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE) << "a live control keeps the module loaded";
    host_.Close();
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(environment.refs, 1) << "the environment outlived the control";
    EXPECT_EQ(canUnload(), S_OK) << "a control object or lock outlived its container";
}

TEST_F(ContainerTest, AboutBoxIsModalAndClosesWithOk) {
    CBoxCloser closer("About Dorvex Control"); // answers OK from inside the box's own message loop
    EXPECT_EQ(host_.Call(L"AboutBox", {}), S_OK);
    EXPECT_TRUE(closer.Closed()) << "no \"About Dorvex Control\" dialog appeared";
}

TEST_F(ContainerTest, F1AsksTheHostForHelpWithItsContext) {
    HELPINFO info = {};
    info.cbSize = sizeof info;
    SendMessageA(host_.ControlWindow(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    const std::string all = sessiontest::ReadFileText(logPath_);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1) << all;
    EXPECT_NE(all.find("|15|1005|"), std::string::npos) << all;
}

} // namespace
