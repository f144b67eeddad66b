// The host's side of a plug-in: its environment object, the launch command line, the host window with the
// real control in it, and VarnelHost.exe as a program (the tour, the application object COM starts).

// GCC takes `delete this` in the framework's base for a delete at an offset; the destructor is virtual.
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"

#include <windows.h>

#include <gtest/gtest.h>
#include <ole2.h>
#include <oleauto.h>

#include <fstream>
#include <string>
#include <vector>

#include "HostCommandLine.h"
#include "HostEnvironment.h"
#include "HostWindow.h"
#include "SessionHost.h"
#include "VarnelHost_h.h"
#include "framework/Handles.h"

namespace {
using namespace host_test;

// A frame that records what reaches it.
class RecordingFrame : public IHostFrame {
public:
    std::wstring plugin, address, extra;
    std::vector<std::wstring> calls;

    // Status, parameters, sizes, footer and title: in the call record and the host window test.
    void OnConnectionStatus(short) override {}
    void OnConnectionParams(const std::wstring&) override {}
    void SetPluginWindowSize(const long[6]) override {}
    void ShowFrameFooter(bool) override {}
    void AppendToWindowTitle(const std::wstring&) override {}
    void SetWindowTitleTool(const std::wstring&) override {}
    HRESULT LaunchPlugin(const std::wstring& p, const std::wstring& a, const std::wstring& e,
                         DWORD& processId) override {
        plugin = p, address = a, extra = e;
        processId = 4321;
        return S_OK;
    }
    void GetCurrentAddress(std::wstring& a, std::wstring& p, std::wstring& h) override {
        a = L"C:\\devices\\one", p = L"Dorvex", h = L"VarnelHost";
    }
    void OnEnvironmentCall(const std::wstring& call) override { calls.push_back(call); }
};

class EnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        object_ = new CHostEnvironment(&frame_);
        // The plug-in's view of it: unmarshalled from a stream, as it arrives.
        IStream* stream = MarshalledStream(static_cast<IDispatch*>(object_));
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(CoUnmarshalInterface(stream, IID_IDispatch, reinterpret_cast<void**>(&env_)), S_OK);
        stream->Release();
    }
    void TearDown() override {
        if (env_)
            env_->Release();
        object_->Release();
        FreeTestStrings();
        CoUninitialize();
    }

    HRESULT Call(const wchar_t* name, std::vector<VARIANT> args, VARIANT* result = nullptr) {
        return CallByName(env_, name, std::move(args), result);
    }

    RecordingFrame frame_;
    CHostEnvironment* object_ = nullptr;
    IDispatch* env_ = nullptr;
};

// Effects on the window: HostWindowTest below; here the process id, out-texts, sizes' order and call record.
TEST_F(EnvironmentTest, EveryMethodTakesTheArgumentTypesPluginsSend) {
    EXPECT_EQ(Call(L"VNLENVUpdateConnectionStatus", {VI2(1)}), S_OK);
    CVariant result;
    EXPECT_EQ(Call(L"VNLENVLaunchPlugin", {VText(L"Dorvex"), VText(L"demo"), VText(L"x")}, &result), S_OK);
    EXPECT_EQ(frame_.plugin + L"|" + frame_.address + L"|" + frame_.extra, L"Dorvex|demo|x");
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 4321);

    EXPECT_EQ(Call(L"VNLENVSetPluginWindowSize", {VI4(1), VI4(2), VI4(3), VI4(4), VI4(5), VI4(6)}), S_OK);

    // Out-texts: null slots are filled; a slot that already holds a text gets it replaced (and freed).
    BSTR out[3] = {nullptr, nullptr, SysAllocString(L"stale")};
    EXPECT_EQ(Call(L"VNLENVGetCurrentAddress", {VTextRef(&out[0]), VTextRef(&out[1]), VTextRef(&out[2])}),
              S_OK);
    EXPECT_STREQ(out[0], L"C:\\devices\\one");
    EXPECT_STREQ(out[1], L"Dorvex");
    EXPECT_STREQ(out[2], L"VarnelHost");
    for (BSTR b : out)
        SysFreeString(b);
    ASSERT_EQ(frame_.calls.size(), 4u);
    EXPECT_EQ(frame_.calls[0], L"VNLENVUpdateConnectionStatus(1)");
    EXPECT_EQ(frame_.calls[2], L"VNLENVSetPluginWindowSize(1, 2, 3, 4, 5, 6)");

    // Once the host window is gone the object only says so.
    object_->Detach();
    EXPECT_EQ(Call(L"VNLENVUpdateConnectionStatus", {VI2(0)}), RPC_E_DISCONNECTED);
    EXPECT_EQ(frame_.calls.size(), 4u) << "a call reached the host after it went";
}

// The launch command line survives the trip through CommandLineToArgvW in every awkward case; the modes.
TEST(HostCommandLine, PluginLaunchFormRoundTripsAndModesAndMistakesAreTold) {
    auto parse = [](const wchar_t* line) { return ParseHostCommandLine(SplitCommandLine(line)); };
    for (const std::wstring address : {L"C:\\my devices\\one", L"", L"a b\\\\"}) {
        const std::wstring arguments = LaunchArguments(L"Dorvex", address);
        ASSERT_FALSE(arguments.empty()) << address;
        const HostOptions options = parse(arguments.c_str());
        EXPECT_TRUE(options.error.empty()) << options.error;
        EXPECT_EQ(options.mode, HostMode::Window);
        EXPECT_EQ(options.plugin, L"Dorvex");
        EXPECT_EQ(options.connection, address) << arguments;
    }
    // What the plug-in's own fallback sends: /plugin:P /"connect:A", with no escaping of its own.
    EXPECT_EQ(parse(L"/plugin:Dorvex /\"connect:C:\\dev dir\\\"").connection, L"C:\\dev dir\\");
    EXPECT_TRUE(LaunchArguments(L"Dorvex", L"bad\"quote").empty());
    EXPECT_TRUE(LaunchArguments(L"Two words", L"demo").empty());

    EXPECT_EQ(parse(L"").connection + L"|" + parse(L"").plugin, L"demo|Dorvex");
    EXPECT_EQ(parse(L"C:\\devices\\one").connection, L"C:\\devices\\one");
    const std::pair<const wchar_t*, HostMode> modes[] = {{L"/regserver", HostMode::RegServer},
        {L"-UnregServer", HostMode::UnregServer}, {L"-Embedding", HostMode::Embedding}, {L"/?", HostMode::Usage}};
    for (const auto& [line, mode] : modes)
        EXPECT_EQ(parse(line).mode, mode) << line;
}

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

// Boxes the plug-in opens on its own (a failed connection, say) would stop a test for good: noted and closed.
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

    bool Create() {
        HostOptions options;
        options.mode = HostMode::Tour;
        options.plugin = L"Dorvex";
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

    // The plug-in's area has its preferred size (the main window shown at it: ContainerTest).
    HWND area = window_.PluginWindow();
    ASSERT_TRUE(IsWindow(area));
    EXPECT_EQ(Size(area), "600x300");
    HWND control = GetWindow(area, GW_CHILD);
    ASSERT_TRUE(IsWindow(control));
    EXPECT_EQ(window_.StatusText(1), L"demo");
    EXPECT_EQ(Title(window_.Window()), L"Varnel Host - Dorvex");

    // A larger frame gives the plug-in more room, and the control follows its area.
    SetWindowPos(window_.Window(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    RECT large = {};
    GetClientRect(area, &large);
    EXPECT_GT(large.right, 600);
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

// A process the test started, directly or not; ended by force if it is still there at the end of the test.
class StartedProcess {
public:
    explicit StartedProcess(HANDLE handle) : handle_(handle) {}
    explicit StartedProcess(DWORD id)
        : handle_(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id)) {}
    ~StartedProcess() {
        if (handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT)
            TerminateProcess(handle_, 9);
        if (handle_)
            CloseHandle(handle_);
    }
    // The exit code, or STILL_ACTIVE when it did not end in time.
    DWORD Wait(DWORD ms) {
        DWORD code = STILL_ACTIVE;
        if (handle_ && WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(handle_, &code);
        return code;
    }

private:
    HANDLE handle_;
};

// Runs the program and waits for it: its exit code, STILL_ACTIVE when it did not end in time.
DWORD RunHost(const std::wstring& arguments, DWORD timeoutMs) {
    const std::wstring program = WideFromNarrow(ProgramDirectory().c_str()) + L"VarnelHost.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return static_cast<DWORD>(-2);
    CloseHandle(process.hThread);
    return StartedProcess(process.hProcess).Wait(timeoutMs);
}

// Whether a 24-bit BMP as the tour writes it is at least `minWidth` x 100 and not of one colour.
::testing::AssertionResult IsScreenshot(const std::string& path, int minWidth = 101) {
    std::ifstream in(path.c_str(), std::ios::binary);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    in.read(reinterpret_cast<char*>(&file), sizeof file);
    in.read(reinterpret_cast<char*>(&info), sizeof info);
    if (!in || file.bfType != 0x4D42 || info.biBitCount != 24 || info.biWidth < minWidth || info.biHeight <= 100)
        return ::testing::AssertionFailure() << path << ": not a screenshot " << info.biWidth << " wide";
    const size_t stride = (static_cast<size_t>(info.biWidth) * 3 + 3) & ~static_cast<size_t>(3);
    std::vector<char> pixels(stride * info.biHeight);
    in.seekg(file.bfOffBits);
    in.read(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    for (int y = 0; in && y < info.biHeight; ++y)
        for (int x = 0; x < info.biWidth * 3; ++x)
            if (pixels[y * stride + x] != pixels[x % 3])
                return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << ": an empty picture";
}

TEST(HostProcess, TourTakesItsScreenshotsAndRecordsTheCallsBetweenHostAndPlugin) {
    const sessiontest::CTempFolder dir("tour");
    ASSERT_EQ(RunHost(L"--tour \"" + WideFromNarrow(dir.Path().c_str()) + L"\" demo", 90000), 0u)
        << "see tour.log in the temporary folder";
    for (const char* name : {"01-host.bmp", "02-connect.bmp", "03-about.bmp", "06-confirm.bmp", "07-drop-menu.bmp",
                             "08-drag-over-tree.bmp", "09-error.bmp", "10-summary.bmp", "11-progress.bmp",
                             "12-context-menu.bmp"})
        EXPECT_TRUE(IsScreenshot(dir / name));
    EXPECT_TRUE(IsScreenshot(dir / "04-resized.bmp", 860)) << "the resize shows in the screenshot";

    const std::string all = "\n" + sessiontest::ReadFileText(dir / "tour.log");
    // A status on the status bar can only have come through the environment.
    if (all.find("\nstatus Connecting...") == std::string::npos &&
        all.find("\nstatus Not connected") == std::string::npos) {
        EXPECT_NE(all.find("\nenv VNLENVUpdateConnectionStatus("), std::string::npos) << all;
    }
}

TEST(HostProcess, BadCommandLinesEndAtOnceWithoutAWindow) {
    EXPECT_EQ(RunHost(L"--tour", 20000), 2u);
    EXPECT_EQ(RunHost(L"--tour C:\\x --frobnicate", 20000), 2u);
}

// The visible host window of the process in `found`, once there.
BOOL CALLBACK MatchHostWindow(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == found->first && IsWindowVisible(hwnd) && Title(hwnd).rfind(L"Varnel Host", 0) == 0)
        found->second = hwnd;
    return !found->second;
}

// COM starts the registered host on demand (VarnelHost.exe -Embedding), as for a plug-in without an
// environment. This needs the prefix's RpcSs, which cmake/wine-run makes sure can start.
TEST(HostProcess, TheApplicationObjectStartsAHostForAPluginAndAddress) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    // As the plug-in does it when it holds no environment.
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_VarnelApplication, nullptr,
                               CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&unknown)),
              S_OK)
        << "VarnelHost.exe /RegServer must have registered the object";
    ASSERT_EQ(OleRun(unknown), S_OK);
    IVarnelApplication* application = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IVarnelApplication, reinterpret_cast<void**>(&application)), S_OK);
    unknown->Release();

    long process = 0;
    CBstr line(L"/plugin:Dorvex /\"connect:demo\"");
    ASSERT_EQ(application->RunCommandLine(line.Get(), &process), S_OK);
    application->Release();
    ASSERT_NE(process, 0);
    // Whatever happens below, the started host does not outlive the test.
    StartedProcess started(static_cast<DWORD>(process));

    std::pair<DWORD, HWND> found = {static_cast<DWORD>(process), nullptr};
    Pump(30000, [&] { return !EnumWindows(MatchHostWindow, reinterpret_cast<LPARAM>(&found)) && found.second; });
    HWND host = found.second;
    ASSERT_NE(host, nullptr) << "no host window appeared";
    EXPECT_EQ(Title(host), L"Varnel Host - Dorvex");
    PostMessageW(host, WM_CLOSE, 0, 0);
    EXPECT_EQ(started.Wait(20000), 0u) << "the started host did not close cleanly";
    CoUninitialize();
}

} // namespace
