// The host's top-level window: a menu, the plug-in's control filling the client area, a status bar
// with the connection state. It is the environment's frame: the plug-in's calls change its title,
// status bar and size limits.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "HostCommandLine.h"
#include "HostEnvironment.h"
#include "PluginSite.h"

class CHostWindow : public IHostFrame {
public:
    CHostWindow() = default;
    CHostWindow(const CHostWindow&) = delete;
    CHostWindow& operator=(const CHostWindow&) = delete;
    ~CHostWindow() override;

    // Creates the window and runs the host's sequence: embed the plug-in, hand over the environment,
    // take the plug-in's sizes, show the window, connect. A plug-in that cannot be embedded leaves the
    // window up with the reason in it (and in `Problem()`). False only when no window could be made.
    bool Create(const HostOptions& options, int show);
    void Destroy();
    // Closing the window ends the thread's message loop (WM_QUIT): the program's main window.
    void QuitOnDestroy() { m_quitOnDestroy = true; }

    HWND Window() const { return m_hwnd; }
    HWND PluginWindow() const { return m_site.Window(); }
    // Keyboard messages of the thread's loop: the host's accelerators, then the control's. True when
    // the message was used and must not be dispatched.
    bool PreTranslateMessage(MSG& msg);

    // The menu's commands, and the connection they end in (the tour uses it too).
    void ChooseConnection();
    void Connect(const std::wstring& connection);
    void ShowPluginAbout();

    // What the window shows, for the tour and tests.
    const std::wstring& Connection() const { return m_connection; }
    const std::wstring& Problem() const { return m_problem; }
    std::wstring StatusText(int part) const;
    bool StatusReported() const { return m_statusReported; }
    bool FooterVisible() const { return m_footerVisible; }
    // minCX, minCY, maxCX, maxCY, preferredCX, preferredCY as last set; zeros when unknown.
    const long* PluginSizes() const { return m_sizes; }
    // The frame size whose plug-in area is cx by cy.
    SIZE FrameSizeFor(long cx, long cy) const;

    // Every host call and environment call, as one line each.
    void SetLog(std::function<void(const std::wstring&)> log) { m_log = std::move(log); }

    // IHostFrame
    void OnConnectionStatus(short status) override;
    void OnConnectionParams(const std::wstring& connection) override;
    HRESULT LaunchPlugin(const std::wstring& plugin, const std::wstring& address, const std::wstring& extra,
                         DWORD& processId) override;
    void SetPluginWindowSize(const long sizes[6]) override;
    void GetCurrentAddress(std::wstring& address, std::wstring& plugin, std::wstring& host) override;
    void ShowFrameFooter(bool show) override;
    void AppendToWindowTitle(const std::wstring& text) override;
    void SetWindowTitleTool(const std::wstring& tool) override;
    void OnEnvironmentCall(const std::wstring& call) override;

    // How a connection status number reads in the status bar.
    static std::wstring StatusName(short status);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(UINT id);
    void OnPaint();

    HRESULT EmbedPlugin();
    // The control first, then the environment, cut off from this frame.
    void ReleasePlugin();
    void Layout();
    // The status bar's first part, as wide as the window's DPI makes it.
    void SetStatusParts();
    void UpdateTitle();
    void SetStatus(int part, const std::wstring& text);
    void ResizeToPreferred();
    void Log(const std::wstring& line);
    void ReportProblem(const std::wstring& problem);

    HWND m_hwnd = nullptr;
    HWND m_statusBar = nullptr;
    HACCEL m_accelerators = nullptr;
    CPluginSite m_site;
    CHostEnvironment* m_environment = nullptr;
    std::function<void(const std::wstring&)> m_log;

    std::wstring m_plugin;
    std::wstring m_progId;
    std::wstring m_connection;
    std::wstring m_tool;
    std::wstring m_appended;
    std::wstring m_problem;
    long m_sizes[6] = {};
    bool m_footerVisible = true;
    bool m_statusReported = false;
    bool m_interactive = true;
    bool m_quitOnDestroy = false;
};

// The ProgID a plug-in name is registered under with the host (empty when it is not registered).
std::wstring PluginProgId(const std::wstring& plugin);
