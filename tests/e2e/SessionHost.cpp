#include "SessionHost.h"
#include "DeviceSessionDouble.h"
#include <algorithm>
#include <vector>

namespace {

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

std::string BinDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/") + 1);
}

CTempFolder::CTempFolder(const std::string& stem) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    m_path = std::string(base) + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(GetTickCount());
    RemoveTree(m_path);
    CreateDirectoryA(m_path.c_str(), nullptr);
}

CTempFolder::~CTempFolder() {
    RemoveTree(m_path);
}

void CTempFolder::Add(const std::string& relative, size_t size) const {
    // Every directory on the way first.
    for (size_t slash = relative.find('\\'); slash != std::string::npos;
         slash = relative.find('\\', slash + 1))
        CreateDirectoryA((m_path + "\\" + relative.substr(0, slash)).c_str(), nullptr);
    if (relative.empty() || relative.back() == '\\')
        return;
    HANDLE file = CreateFileA((m_path + "\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::vector<char> bytes(size, 'd');
    DWORD written = 0;
    if (size)
        WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
}

CTwoDevices::CTwoDevices() {
    a.Add("SYS\\config.txt", 120);
    a.Add("cf0\\data\\a.txt", 4000);
    b.Add("nvram\\b.bin", 64);
    b.Add("USER\\");
}

bool CContainerHost::Open() {
    m_atl = LoadLibraryA("atl.dll");
    auto init = m_atl ? reinterpret_cast<BOOL(WINAPI*)()>(
                            reinterpret_cast<void*>(GetProcAddress(m_atl, "AtlAxWinInit")))
                      : nullptr;
    auto getControl = m_atl ? reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(
                                  reinterpret_cast<void*>(GetProcAddress(m_atl, "AtlAxGetControl")))
                            : nullptr;
    // A second registration of the container's window class is refused: once is enough.
    WNDCLASSEXA registered = {};
    registered.cbSize = sizeof registered;
    if (!init || !getControl || (!init() && !GetClassInfoExA(nullptr, "AtlAxWin", &registered)))
        return false;
    m_frame = CreateWindowExA(0, "STATIC", "Session host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 700,
                              420, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    m_container = CreateWindowExA(0, "AtlAxWin", "DORVEX.DorvexCtrl.1", WS_CHILD | WS_VISIBLE, 0, 0, 640, 360,
                                  m_frame, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!m_container || FAILED(getControl(m_container, &m_control)) || !m_control)
        return false;
    IOleWindow* window = nullptr;
    if (FAILED(m_control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window))))
        return false;
    window->GetWindow(&m_controlWindow);
    window->Release();
    return SUCCEEDED(m_control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_dispatch)));
}

void CContainerHost::Close() {
    if (m_dispatch)
        m_dispatch->Release();
    m_dispatch = nullptr;
    if (m_control)
        m_control->Release();
    m_control = nullptr;
    if (m_frame && IsWindow(m_frame))
        DestroyWindow(m_frame);
    m_frame = m_container = m_controlWindow = nullptr;
}

HRESULT CContainerHost::Call(const wchar_t* name, std::initializer_list<VARIANT> args) {
    if (!m_dispatch)
        return E_POINTER;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = m_dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    return m_dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                              nullptr);
}

HRESULT CContainerHost::GiveEnvironment(IDispatch* environment) {
    IStream* stream = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (FAILED(hr))
        return hr;
    hr = CoMarshalInterface(stream, IID_IDispatch, environment, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    VARIANT pointer;
    VariantInit(&pointer);
    pointer.vt = VT_I8;
    pointer.llVal = reinterpret_cast<LONG_PTR>(stream);
    if (SUCCEEDED(hr))
        hr = Call(L"VNLSetEnvIDispatchViaStream", {pointer});
    stream->Release();
    return hr;
}

HRESULT CContainerHost::ShowAtPreferredSize() {
    short sizes[6] = {};
    std::vector<VARIANT> outs(6);
    for (int i = 0; i < 6; ++i) {
        VariantInit(&outs[i]);
        outs[i].vt = VT_BYREF | VT_I2;
        outs[i].piVal = &sizes[i];
    }
    HRESULT hr = Call(L"VNLGetWindowSizes", {outs[0], outs[1], outs[2], outs[3], outs[4], outs[5]});
    if (SUCCEEDED(hr)) {
        SetWindowPos(m_container, nullptr, 0, 0, sizes[4], sizes[5], SWP_NOMOVE | SWP_NOZORDER);
        ShowWindow(m_frame, SW_SHOWNOACTIVATE);
    }
    return hr;
}

HRESULT CContainerHost::Connect(const std::string& connection) {
    std::wstring wide(connection.begin(), connection.end());
    BSTR text = SysAllocString(wide.c_str());
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_BSTR;
    arg.pbstrVal = &text;
    HRESULT hr = Call(L"VNLSetConnectionParameters", {arg});
    SysFreeString(text);
    return hr;
}

bool WaitForFillRoots(HWND tree, std::vector<SeenMessage>& seen, size_t count, DWORD ms) {
    auto fills = [&] {
        return static_cast<size_t>(std::count_if(seen.begin(), seen.end(), [&](const SeenMessage& m) {
            return m.window == tree && m.message == WM_USER + 302;
        }));
    };
    Pump(
        ms, [&] { return fills() >= count; }, &seen);
    return fills() >= count;
}
