// VarnelHost.exe as a program: the headless tour with its screenshots and record, and the host
// application object that a plug-in without an environment uses to start the host (a local server COM
// starts on demand).
#include <windows.h>

#include <gtest/gtest.h>
#include <ole2.h>
#include <oleauto.h>

#include <fstream>
#include <string>
#include <vector>

#include "SessionTestSupport.h"
#include "VarnelHost_h.h"
#include "framework/Handles.h"
#include "hostenv/HostApplication.h"

namespace {

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
                             "09-error.bmp", "10-summary.bmp", "11-progress.bmp"})
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
    wchar_t title[128] = L"";
    GetWindowTextW(hwnd, title, 128);
    if (owner == found->first && IsWindowVisible(hwnd) && wcsncmp(title, L"Varnel Host", 11) == 0)
        found->second = hwnd;
    return !found->second;
}

// COM starts the registered host on demand (VarnelHost.exe -Embedding), as for a plug-in without an
// environment. This needs the prefix's RpcSs, which cmake/wine-run makes sure can start.
TEST(HostProcess, TheApplicationObjectStartsAHostForAPluginAndAddress) {
    // The control finds the object by its own copy of the class: it must be the one the host registers.
    EXPECT_TRUE(IsEqualCLSID(kClsidHostApplication, CLSID_VarnelApplication));
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    // As the plug-in does it when it holds no environment.
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CoCreateInstance(kClsidHostApplication, nullptr,
                               CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&unknown)),
              S_OK)
        << "VarnelHost.exe /RegServer must have registered the object";
    ASSERT_EQ(OleRun(unknown), S_OK);
    // Called through the control's own declaration of the interface.
    IHostApplication* application = nullptr;
    ASSERT_EQ(unknown->QueryInterface(kIidHostApplication, reinterpret_cast<void**>(&application)), S_OK);
    unknown->Release();

    // Only the plug-in form is accepted: no registration or tour through the back door.
    long process = 0;
    for (const wchar_t* refused : {L"/RegServer", L"--tour C:\\x"}) {
        CBstr line(refused);
        process = 0;
        EXPECT_EQ(application->RunCommandLine(line.Get(), &process), E_INVALIDARG) << refused;
        if (process)
            StartedProcess{static_cast<DWORD>(process)}; // started by mistake: ended at once
    }
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
    wchar_t title[128] = L"";
    GetWindowTextW(host, title, 128);
    EXPECT_STREQ(title, L"Varnel Host - Dorvex");
    PostMessageW(host, WM_CLOSE, 0, 0);
    EXPECT_EQ(started.Wait(20000), 0u) << "the started host did not close cleanly";
    CoUninitialize();
}

} // namespace
