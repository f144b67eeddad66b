#include "HostApplication.h"

#include <oleauto.h>

#include "HostCommandLine.h"
#include "framework/ComError.h"
#include "framework/ComPtr.h"

namespace {

const wchar_t kProgId[] = L"Varnel.Application.1";
const wchar_t kIndependentProgId[] = L"Varnel.Application";
const wchar_t kTypeName[] = L"Varnel host application";
constexpr size_t kMaxCommandLine = 4096;

LONG g_applications = 0; // live CHostApplication objects
LONG g_serverLocks = 0;
bool g_quitWhenUnused = false;

void QuitIfUnused() {
    if (g_quitWhenUnused && g_applications == 0 && g_serverLocks == 0)
        PostQuitMessage(0);
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[64] = L"";
    StringFromGUID2(guid, text, 64);
    return text;
}

// The interface's type information, from the type library in the program's resources.
HRESULT ApplicationTypeInfo(ITypeInfo** info) {
    static ITypeInfo* cached = nullptr;
    if (!cached) {
        CComPtr<ITypeLib> library;
        RETURN_IF_FAILED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library));
        RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_IVarnelApplication, &cached));
    }
    cached->AddRef();
    *info = cached;
    return S_OK;
}

class CHostClassFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: the class table's references do not decide its life.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return ComBoundary([&] {
            auto* application = new CHostApplication;
            const HRESULT hr = application->QueryInterface(iid, out);
            application->Release();
            return hr;
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ++g_serverLocks;
        } else if (g_serverLocks > 0) {
            --g_serverLocks;
            QuitIfUnused();
        }
        return S_OK;
    }
};

CHostClassFactory g_factory;

LSTATUS SetKey(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY hkey = nullptr;
    LSTATUS status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hkey, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExW(hkey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
    return status;
}

LSTATUS DeleteKey(const std::wstring& key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return status;
    const LSTATUS removed = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
}

// Where an installed host records its folder, for plug-in installers to find it (the registry view of
// the program's own bitness). The value is the folder without a trailing backslash.
const wchar_t kInstallKey[] = L"Software\\Varnel\\Host";
const wchar_t kInstallValue[] = L"InstallDir";

std::wstring ProgramFolder() {
    const std::wstring path = ModulePath();
    return path.substr(0, path.find_last_of(L'\\'));
}

LSTATUS RecordInstallDir() {
    return SetKey(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, ProgramFolder());
}

// Withdraws the record only when it names this program's folder: another installation of the host
// keeps its own.
void ForgetInstallDir() {
    HKEY hkey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | KEY_WRITE, &hkey) != ERROR_SUCCESS)
        return;
    wchar_t recorded[MAX_PATH] = L"";
    DWORD size = sizeof(recorded) - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(hkey, kInstallValue, nullptr, &type, reinterpret_cast<BYTE*>(recorded), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ && lstrcmpiW(recorded, ProgramFolder().c_str()) == 0)
        RegDeleteValueW(hkey, kInstallValue);
    DWORD subkeys = 0, values = 0;
    const bool empty = RegQueryInfoKeyW(hkey, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                        nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    RegCloseKey(hkey);
    if (empty)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kInstallKey);
}

} // namespace

const QITableEntry CHostApplication::kInterfaces[] = {
    QI_ENTRY(CHostApplication, IVarnelApplication),
    QI_ENTRY2(CHostApplication, IDispatch, IVarnelApplication), QI_END};

CHostApplication::CHostApplication() {
    ++g_applications;
}

CHostApplication::~CHostApplication() {
    --g_applications;
    QuitIfUnused();
}

STDMETHODIMP CHostApplication::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CHostApplication::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return index == 0 ? ApplicationTypeInfo(info) : DISP_E_BADINDEX;
}

STDMETHODIMP CHostApplication::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    CComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(ApplicationTypeInfo(&info));
    return DispGetIDsOfNames(info.Get(), names, count, ids);
}

STDMETHODIMP CHostApplication::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    CComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(ApplicationTypeInfo(&info));
    return DispInvoke(static_cast<IVarnelApplication*>(this), info.Get(), id, flags, params, result,
                      exception, argError);
}

STDMETHODIMP CHostApplication::RunCommandLine(BSTR commandLine, long* processId) {
    if (processId)
        *processId = 0;
    return ComBoundary([&]() -> HRESULT {
        if (!commandLine || SysStringLen(commandLine) > kMaxCommandLine)
            return E_INVALIDARG;
        const HostOptions options = ParseHostCommandLine(SplitCommandLine(commandLine));
        if (!options.error.empty() || options.mode != HostMode::Window)
            return E_INVALIDARG;
        const std::wstring arguments = LaunchArguments(options.plugin, options.connection);
        if (arguments.empty())
            return E_INVALIDARG;
        DWORD started = 0;
        RETURN_IF_FAILED(LaunchHostInstance(arguments, started));
        if (processId)
            *processId = static_cast<long>(started);
        return S_OK;
    });
}

HRESULT LaunchHostInstance(const std::wstring& arguments, DWORD& processId) {
    processId = 0;
    const std::wstring program = ModulePath();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return HRESULT_FROM_WIN32(GetLastError());
    processId = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return S_OK;
}

HRESULT CHostServer::Register(bool quitWhenUnused) {
    Revoke();
    g_quitWhenUnused = quitWhenUnused;
    RETURN_IF_FAILED(CoRegisterClassObject(CLSID_VarnelApplication, &g_factory, CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE, &m_classCookie));
    if (!quitWhenUnused) {
        // A host window is also findable as the running host application (GetActiveObject). Weakly
        // registered: the table must not keep the process alive.
        auto* running = new CHostApplication;
        if (SUCCEEDED(RegisterActiveObject(static_cast<IVarnelApplication*>(running), CLSID_VarnelApplication,
                                           ACTIVEOBJECT_WEAK, &m_runningCookie)))
            m_running = static_cast<IVarnelApplication*>(running);
        else
            running->Release();
    }
    return S_OK;
}

void CHostServer::Revoke() {
    if (m_runningCookie) {
        RevokeActiveObject(m_runningCookie, nullptr);
        m_runningCookie = 0;
    }
    if (m_running) {
        CoDisconnectObject(m_running, 0);
        m_running->Release();
        m_running = nullptr;
    }
    if (m_classCookie) {
        CoRevokeClassObject(m_classCookie);
        m_classCookie = 0;
    }
}

HRESULT RegisterHostServer() {
    const std::wstring clsid = GuidText(CLSID_VarnelApplication);
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring progId = kProgId, independent = kIndependentProgId;
    const struct {
        std::wstring key;
        std::wstring value;
    } entries[] = {
        {key, kTypeName},
        {key + L"\\LocalServer32", L"\"" + ModulePath() + L"\""},
        {key + L"\\ProgID", progId},
        {key + L"\\VersionIndependentProgID", independent},
        {key + L"\\TypeLib", GuidText(LIBID_VarnelHostLib)},
        {progId, kTypeName},
        {progId + L"\\CLSID", clsid},
        {independent, kTypeName},
        {independent + L"\\CLSID", clsid},
        {independent + L"\\CurVer", progId},
    };
    for (const auto& entry : entries)
        if (const LSTATUS status = SetKey(HKEY_CLASSES_ROOT, entry.key, nullptr, entry.value))
            return HRESULT_FROM_WIN32(status);
    if (const LSTATUS status = RecordInstallDir())
        return HRESULT_FROM_WIN32(status);
    // The type library makes the interface callable from other processes (automation marshalling).
    CComPtr<ITypeLib> library;
    const std::wstring path = ModulePath();
    return LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library);
}

HRESULT UnregisterHostServer() {
    ForgetInstallDir();
    UnRegisterTypeLib(LIBID_VarnelHostLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
#ifdef _WIN64
    UnRegisterTypeLib(LIBID_VarnelHostLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
#endif
    for (const std::wstring& key : {L"CLSID\\" + GuidText(CLSID_VarnelApplication), std::wstring(kProgId),
                                    std::wstring(kIndependentProgId)})
        if (const LSTATUS status = DeleteKey(key))
            return HRESULT_FROM_WIN32(status);
    return S_OK;
}
