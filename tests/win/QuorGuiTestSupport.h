// What the GUI library's tests share: scoped environment switches, a window to own dialogs, and a look
// at the windows of the test's thread.
#pragma once

#include <windows.h>

#include "DeviceSessionDouble.h" // Pump

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace quorgui_test {

// Sets an environment variable for one scope and puts the previous state back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        char old[1024];
        const DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
        had_ = n > 0 && n < sizeof old;
        if (had_)
            old_ = old;
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedEnv() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

inline BOOL CALLBACK CollectVisible(HWND hwnd, LPARAM list) {
    if (IsWindowVisible(hwnd))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

inline std::vector<HWND> VisibleThreadWindows() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectVisible, reinterpret_cast<LPARAM>(&found));
    return found;
}

inline std::string Caption(HWND hwnd) {
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

inline HWND FindVisibleWindowWithCaption(const std::string& part) {
    for (HWND hwnd : VisibleThreadWindows())
        if (Caption(hwnd).find(part) != std::string::npos)
            return hwnd;
    return nullptr;
}

inline std::string TempFile(const char* stem) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string path = std::string(dir) + stem + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(path.c_str());
    return path;
}

inline std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// An ordinary window to own dialogs and receive their posted messages.
class TestWindow {
public:
    TestWindow() {
        hwnd_ = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
    }
    ~TestWindow() { DestroyWindow(hwnd_); }
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_;
};

// The first visible dialog box (message boxes included) of this thread, or null.
inline HWND FirstVisibleDialog() {
    for (HWND hwnd : VisibleThreadWindows()) {
        char cls[32] = "";
        GetClassNameA(hwnd, cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") == 0)
            return hwnd;
    }
    return nullptr;
}

} // namespace quorgui_test
