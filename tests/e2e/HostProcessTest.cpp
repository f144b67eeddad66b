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

#include "DeviceSessionDouble.h"
#include "VarnelHost_h.h"
#include "framework/Handles.h"
#include "hostenv/HostApplication.h"

namespace {

std::wstring FreshTempDir(const wchar_t* stem) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    const std::wstring dir = std::wstring(base) + stem + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// Runs the program and waits for it; the exit code, or -1 when it did not end in time.
long RunHost(const std::wstring& arguments, DWORD timeoutMs) {
    const std::wstring program = WideFromNarrow(ProgramDirectory().c_str()) + L"VarnelHost.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -2;
    CloseHandle(process.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 9);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::ifstream in(path.c_str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0)
            return true;
    return false;
}

struct Bitmap {
    int width = 0, height = 0;
    bool oneColour = true;
};

// Reads a 24-bit BMP as the tour writes it; width 0 when it is not one.
Bitmap ReadBmp(const std::wstring& path) {
    Bitmap bmp;
    std::ifstream in(path.c_str(), std::ios::binary);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    in.read(reinterpret_cast<char*>(&file), sizeof file);
    in.read(reinterpret_cast<char*>(&info), sizeof info);
    if (!in || file.bfType != 0x4D42 || info.biBitCount != 24 || info.biWidth <= 0 || info.biHeight <= 0)
        return bmp;
    const size_t stride = (static_cast<size_t>(info.biWidth) * 3 + 3) & ~static_cast<size_t>(3);
    std::vector<char> pixels(stride * info.biHeight);
    in.seekg(file.bfOffBits);
    in.read(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    if (!in)
        return bmp;
    bmp.width = info.biWidth;
    bmp.height = info.biHeight;
    for (int y = 0; y < bmp.height && bmp.oneColour; ++y)
        for (int x = 0; x < bmp.width * 3; ++x)
            if (pixels[y * stride + x] != pixels[x % 3]) {
                bmp.oneColour = false;
                break;
            }
    return bmp;
}

TEST(HostProcess, TourTakesItsScreenshotsAndRecordsTheCallsBetweenHostAndPlugin) {
    const std::wstring dir = FreshTempDir(L"varnelhost-tour-");
    ASSERT_EQ(RunHost(L"--tour \"" + dir + L"\" demo", 90000), 0) << "see tour.log in the temporary folder";

    for (const wchar_t* name : {L"01-host.bmp", L"02-connect.bmp", L"03-about.bmp", L"04-resized.bmp", L"06-confirm.bmp",
                                L"07-drop-menu.bmp", L"09-error.bmp", L"10-summary.bmp"}) {
        const Bitmap bmp = ReadBmp(dir + L"\\" + name);
        EXPECT_GT(bmp.width, 100) << "not a screenshot: " << std::string(name, name + wcslen(name));
        EXPECT_GT(bmp.height, 100);
        EXPECT_FALSE(bmp.oneColour) << "an empty picture";
    }
    EXPECT_GE(ReadBmp(dir + L"\\04-resized.bmp").width, 860) << "the resize shows in the last screenshot";

    const std::vector<std::string> log = ReadLines(dir + L"\\tour.log");
    std::string all;
    for (const std::string& line : log)
        all += line + "\n";
    // The host's calls before it are the window's, checked line by line in the host window test.
    EXPECT_TRUE(HasLine(log, "host AboutBox -> 0x00000000")) << all;
    // A status on the status bar can only have come through the environment.
    if (!HasLine(log, "status Connecting...") && !HasLine(log, "status Not connected")) {
        EXPECT_TRUE(HasLine(log, "env VNLENVUpdateConnectionStatus(")) << all;
    }

    // The window stopped at the plug-in's minimum: "resize 40x40 -> WxH (minimum AxB)".
    int w = 0, h = 0, minW = 0, minH = 0;
    for (const std::string& line : log)
        if (std::sscanf(line.c_str(), "resize 40x40 -> %dx%d (minimum %dx%d)", &w, &h, &minW, &minH) == 4)
            break;
    EXPECT_GT(minW, 100) << all;
    EXPECT_GE(w, minW);
    EXPECT_GE(h, minH);
}

TEST(HostProcess, BadCommandLinesEndAtOnceWithoutAWindow) {
    EXPECT_EQ(RunHost(L"--tour", 20000), 2);
    EXPECT_EQ(RunHost(L"--tour C:\\x --frobnicate", 20000), 2);
}

// A process the test started indirectly; ended by force if it is still there at the end of the test.
class StartedProcess {
public:
    explicit StartedProcess(DWORD id)
        : handle_(
              OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id)) {}
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

struct FoundWindow {
    DWORD process;
    HWND window;
};

BOOL CALLBACK FindHostWindow(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<FoundWindow*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    wchar_t title[128] = L"";
    GetWindowTextW(hwnd, title, 128);
    if (process == found->process && IsWindowVisible(hwnd) && wcsncmp(title, L"Varnel Host", 11) == 0) {
        found->window = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForHostWindow(DWORD process, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        FoundWindow found = {process, nullptr};
        EnumWindows(FindHostWindow, reinterpret_cast<LPARAM>(&found));
        if (found.window)
            return found.window;
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
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
    for (const wchar_t* refused :
         {L"/RegServer", L"--tour C:\\x", L"/plugin:Two words /\"connect:demo\"", L"/bogus"}) {
        BSTR line = SysAllocString(refused);
        process = 0;
        EXPECT_EQ(application->RunCommandLine(line, &process), E_INVALIDARG) << refused;
        SysFreeString(line);
        if (process)
            StartedProcess{static_cast<DWORD>(process)}; // started by mistake: ended at once
    }

    BSTR line = SysAllocString(L"/plugin:Dorvex /\"connect:demo\"");
    ASSERT_EQ(application->RunCommandLine(line, &process), S_OK);
    SysFreeString(line);
    application->Release();
    ASSERT_NE(process, 0);
    // Whatever happens below, the started host does not outlive the test.
    StartedProcess started(static_cast<DWORD>(process));

    HWND host = WaitForHostWindow(static_cast<DWORD>(process), 30000);
    ASSERT_NE(host, nullptr) << "no host window appeared";
    wchar_t title[128] = L"";
    GetWindowTextW(host, title, 128);
    EXPECT_STREQ(title, L"Varnel Host - Dorvex");
    PostMessageW(host, WM_CLOSE, 0, 0);
    EXPECT_EQ(started.Wait(20000), 0u) << "the started host did not close cleanly";
    CoUninitialize();
}

} // namespace
