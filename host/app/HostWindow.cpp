#include "HostWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "ConnectDialog.h"
#include "HostApplication.h"
#include "framework/Dpi.h"
#include "framework/Handles.h"
#include "framework/Prompts.h"
#include "resource.h"

namespace {

const wchar_t kClassName[] = L"VarnelHostFrame";
const wchar_t kBaseTitle[] = L"Varnel Host";
const wchar_t kPluginsKey[] = L"Software\\Varnel\\Plugins\\";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
// Sizes at 96 DPI, scaled for the screen.
constexpr int kFrameWidth = 700;
constexpr int kFrameHeight = 450;
constexpr int kStatusPartWidth = 180;

bool RegisterFrameClass(WNDPROC proc) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(GetModuleHandleW(nullptr), kClassName, &wc))
        return true;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
}

void CenterOnWorkArea(HWND window) {
    RECT area, own;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window, &own);
    const int x = area.left + std::max<int>(0, (area.right - area.left - (own.right - own.left)) / 2);
    const int y = area.top + std::max<int>(0, (area.bottom - area.top - (own.bottom - own.top)) / 2);
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    wsprintfW(text, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

} // namespace

std::wstring PluginProgId(const std::wstring& plugin) {
    if (plugin.empty() || plugin.find(L'\\') != std::wstring::npos)
        return {};
    wchar_t value[256] = L"";
    DWORD size = sizeof value - sizeof(wchar_t);
    const std::wstring key = kPluginsKey + plugin;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProgID", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    return value;
}

CHostWindow::~CHostWindow() {
    Destroy();
}

bool CHostWindow::Create(const HostOptions& options, int show) {
    m_plugin = options.plugin;
    m_tool = options.plugin;
    m_connection = options.connection;
    m_interactive = options.mode == HostMode::Window;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterFrameClass(WindowProc))
        return false;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    m_accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDR_MAINMENU));
    const int dpi = WindowDpi(nullptr);
    m_hwnd = CreateWindowExW(0, kClassName, kBaseTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                             MulDiv(kFrameWidth, dpi, 96), MulDiv(kFrameHeight, dpi, 96), nullptr, menu,
                             instance, this);
    if (!m_hwnd) {
        if (menu)
            DestroyMenu(menu);
        return false;
    }
    m_statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0,
                                  0, m_hwnd, nullptr, instance, nullptr);
    SetStatusParts();
    SetStatus(0, L"Not connected");
    SetStatus(1, m_connection);
    UpdateTitle();

    const HRESULT embedded = EmbedPlugin();
    CenterOnWorkArea(m_hwnd);
    ShowWindow(m_hwnd, show);
    UpdateWindow(m_hwnd);
    if (SUCCEEDED(embedded))
        Connect(m_connection);
    return true;
}

HRESULT CHostWindow::EmbedPlugin() {
    m_progId = PluginProgId(m_plugin);
    if (m_progId.empty()) {
        ReportProblem(L"The plug-in \"" + m_plugin +
                      L"\" is not registered with the host. Register its module (regsvr32) and start again.");
        return REGDB_E_CLASSNOTREG;
    }
    RECT area;
    GetClientRect(m_hwnd, &area);
    HRESULT hr = m_site.Create(m_hwnd, m_progId, area, IDC_PLUGIN_AREA);
    Log(L"host create " + m_progId + L" -> " + Hex(hr));
    if (FAILED(hr)) {
        ReportProblem(L"The plug-in's control " + m_progId + L" could not be created (" + Hex(hr) +
                      L"). Is its module registered?");
        return hr;
    }

    m_environment = new CHostEnvironment(this);
    hr = m_site.SetEnvironment(m_environment);
    Log(L"host VNLSetEnvIDispatchViaStream -> " + Hex(hr));

    short sizes[6] = {};
    hr = m_site.GetWindowSizes(sizes);
    std::wstring line = L"host VNLGetWindowSizes -> " + Hex(hr);
    if (SUCCEEDED(hr)) {
        for (int i = 0; i < 6; ++i) {
            m_sizes[i] = sizes[i];
            line += L" " + std::to_wstring(sizes[i]);
        }
    }
    Log(line);
    Layout();
    ResizeToPreferred();
    return S_OK;
}

void CHostWindow::Destroy() {
    ReleasePlugin();
    if (m_hwnd && IsWindow(m_hwnd))
        DestroyWindow(m_hwnd);
    m_hwnd = nullptr;
}

void CHostWindow::ReleasePlugin() {
    m_site.Destroy();
    if (m_environment) {
        // The plug-in may still hold the environment (or a copy in another apartment): cut it off from
        // this frame before the frame goes.
        m_environment->Detach();
        CoDisconnectObject(static_cast<IDispatch*>(m_environment), 0);
        m_environment->Release();
        m_environment = nullptr;
    }
}

bool CHostWindow::PreTranslateMessage(MSG& msg) {
    if (!m_hwnd || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST)
        return false;
    // Only for this window and its children: keys in a modeless popup (a progress dialog) are its own.
    if (msg.hwnd != m_hwnd && !IsChild(m_hwnd, msg.hwnd))
        return false;
    if (m_accelerators && TranslateAcceleratorW(m_hwnd, m_accelerators, &msg))
        return true;
    return m_site.TranslateAccelerator(msg);
}

void CHostWindow::ChooseConnection() {
    std::wstring connection = m_connection;
    if (AskForConnection(m_hwnd, connection))
        Connect(connection);
}

void CHostWindow::ShowPluginAbout() {
    if (!m_site.HasControl())
        return;
    const HRESULT hr = m_site.AboutBox();
    Log(L"host AboutBox -> " + Hex(hr));
}

void CHostWindow::Connect(const std::wstring& connection) {
    m_connection = connection;
    SetStatus(1, connection);
    if (!m_site.HasControl())
        return;
    m_statusReported = false;
    SetStatus(0, L"Connecting...");
    const HRESULT hr = m_site.SetConnectionParameters(connection);
    Log(L"host VNLSetConnectionParameters(\"" + connection + L"\") -> " + Hex(hr));
}

std::wstring CHostWindow::StatusText(int part) const {
    if (!m_statusBar)
        return {};
    const LRESULT length = LOWORD(SendMessageW(m_statusBar, SB_GETTEXTLENGTHW, part, 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(m_statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

SIZE CHostWindow::FrameSizeFor(long cx, long cy) const {
    RECT rect = {0, 0, cx, cy};
    if (m_footerVisible && m_statusBar) {
        RECT bar;
        GetWindowRect(m_statusBar, &bar);
        rect.bottom += bar.bottom - bar.top;
    }
    AdjustWindowRectEx(&rect, kStyle, TRUE, 0);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

std::wstring CHostWindow::StatusName(short status) {
    switch (status) {
    case 0:
        return L"Not connected";
    case 1:
        return L"Connected";
    default:
        return L"Connection status " + std::to_wstring(status);
    }
}

void CHostWindow::OnConnectionStatus(short status) {
    m_statusReported = true;
    SetStatus(0, StatusName(status));
}

void CHostWindow::OnConnectionParams(const std::wstring& connection) {
    // The plug-in has already reconnected itself; the host only remembers the new text.
    m_connection = connection;
    SetStatus(1, connection);
}

HRESULT CHostWindow::LaunchPlugin(const std::wstring& plugin, const std::wstring& address,
                                  const std::wstring&, DWORD& processId) {
    const std::wstring arguments = LaunchArguments(plugin, address);
    if (arguments.empty())
        return E_INVALIDARG;
    const HRESULT hr = LaunchHostInstance(arguments, processId);
    Log(L"host launch " + arguments + L" -> " + Hex(hr));
    return hr;
}

void CHostWindow::SetPluginWindowSize(const long sizes[6]) {
    // Zero or less keeps that value.
    for (int i = 0; i < 6; ++i)
        if (sizes[i] > 0)
            m_sizes[i] = sizes[i];
    if (sizes[4] > 0 || sizes[5] > 0)
        ResizeToPreferred();
    else if (m_hwnd)
        // New limits take effect on the next size change; make one that keeps the size, so they apply now.
        SetWindowPos(m_hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

void CHostWindow::GetCurrentAddress(std::wstring& address, std::wstring& plugin, std::wstring& host) {
    address = m_connection;
    plugin = m_plugin;
    host = L"VarnelHost";
}

void CHostWindow::ShowFrameFooter(bool show) {
    m_footerVisible = show;
    if (m_statusBar)
        ShowWindow(m_statusBar, show ? SW_SHOW : SW_HIDE);
    Layout();
}

void CHostWindow::AppendToWindowTitle(const std::wstring& text) {
    // Each call replaces what was appended before: a plug-in that keeps reporting (its current folder,
    // say) must not grow the title without end.
    m_appended = text;
    UpdateTitle();
}

void CHostWindow::SetWindowTitleTool(const std::wstring& tool) {
    m_tool = tool;
    UpdateTitle();
}

void CHostWindow::OnEnvironmentCall(const std::wstring& call) {
    Log(L"env " + call);
}

void CHostWindow::UpdateTitle() {
    std::wstring title = kBaseTitle;
    if (!m_tool.empty())
        title += L" - " + m_tool;
    title += m_appended;
    if (m_hwnd)
        SetWindowTextW(m_hwnd, title.c_str());
}

void CHostWindow::SetStatus(int part, const std::wstring& text) {
    if (m_statusBar)
        SendMessageW(m_statusBar, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(text.c_str()));
}

void CHostWindow::Layout() {
    if (!m_hwnd)
        return;
    RECT area;
    GetClientRect(m_hwnd, &area);
    if (m_statusBar && m_footerVisible) {
        SendMessageW(m_statusBar, WM_SIZE, 0, 0);
        // Its size grip moves with the corner; the old one must not stay painted mid-bar.
        InvalidateRect(m_statusBar, nullptr, TRUE);
        RECT bar;
        GetWindowRect(m_statusBar, &bar);
        area.bottom -= bar.bottom - bar.top;
    }
    if (area.bottom < area.top)
        area.bottom = area.top;
    if (HWND plugin = m_site.Window())
        SetWindowPos(plugin, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
}

void CHostWindow::ResizeToPreferred() {
    if (!m_hwnd || IsZoomed(m_hwnd) || IsIconic(m_hwnd) || m_sizes[4] <= 0 || m_sizes[5] <= 0)
        return;
    const SIZE frame = FrameSizeFor(m_sizes[4], m_sizes[5]);
    SetWindowPos(m_hwnd, nullptr, 0, 0, frame.cx, frame.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CHostWindow::Log(const std::wstring& line) {
    if (m_log)
        m_log(line);
}

void CHostWindow::ReportProblem(const std::wstring& problem) {
    m_problem = problem;
    SetStatus(0, L"No plug-in");
    Log(L"host problem " + problem);
    if (m_hwnd)
        InvalidateRect(m_hwnd, nullptr, TRUE);
    if (m_interactive)
        Prompts().MessageBox(m_hwnd, NarrowFromWide(problem.c_str()), "Varnel Host",
                             MB_OK | MB_ICONEXCLAMATION);
}

void CHostWindow::OnCommand(UINT id) {
    switch (id) {
    case ID_FILE_CONNECT:
        ChooseConnection();
        break;
    case ID_HELP_ABOUT_PLUGIN:
        ShowPluginAbout();
        break;
    case ID_FILE_EXIT:
        PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

void CHostWindow::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hwnd, &paint);
    if (!m_problem.empty()) {
        RECT area;
        GetClientRect(m_hwnd, &area);
        InflateRect(&area, -24, -24);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        DrawTextW(dc, m_problem.c_str(), -1, &area, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
    }
    EndPaint(m_hwnd, &paint);
}

LRESULT CALLBACK CHostWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<CHostWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CHostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        // Whatever a handler raised, the host window stays up.
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void CHostWindow::SetStatusParts() {
    int parts[] = {MulDiv(kStatusPartWidth, WindowDpi(m_hwnd), 96), -1};
    SendMessageW(m_statusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

LRESULT CHostWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DPICHANGED: {
        // Moved to a monitor of another DPI: the size the system suggests for it, the status bar's parts
        // for it; the plug-in is told by the system itself.
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        SetStatusParts();
        return 0;
    }
    case WM_SIZE:
        Layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (m_sizes[0] > 0 || m_sizes[1] > 0) {
            const SIZE minimum = FrameSizeFor(m_sizes[0], m_sizes[1]);
            info->ptMinTrackSize.x = std::max<LONG>(info->ptMinTrackSize.x, minimum.cx);
            info->ptMinTrackSize.y = std::max<LONG>(info->ptMinTrackSize.y, minimum.cy);
        }
        if (m_sizes[2] > 0 && m_sizes[3] > 0) {
            const SIZE maximum = FrameSizeFor(m_sizes[2], m_sizes[3]);
            info->ptMaxTrackSize.x =
                std::max(info->ptMinTrackSize.x, std::min<LONG>(info->ptMaxTrackSize.x, maximum.cx));
            info->ptMaxTrackSize.y =
                std::max(info->ptMinTrackSize.y, std::min<LONG>(info->ptMaxTrackSize.y, maximum.cy));
        }
        return 0;
    }
    case WM_SETFOCUS:
        // Focus belongs to the plug-in, as in any document window.
        if (HWND plugin = m_site.Window())
            SetFocus(GetWindow(plugin, GW_CHILD) ? GetWindow(plugin, GW_CHILD) : plugin);
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_CLOSE:
        DestroyWindow(m_hwnd);
        return 0;
    case WM_DESTROY:
        // The control goes before the frame, while its container window still exists.
        ReleasePlugin();
        if (m_quitOnDestroy)
            PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        HWND hwnd = m_hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        m_hwnd = nullptr;
        m_statusBar = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(m_hwnd, message, wParam, lParam);
    }
}
