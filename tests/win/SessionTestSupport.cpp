#include "SessionTestSupport.h"

#include "SessionFiles.h"
#include "DeviceSessionDouble.h"
#include "framework/Handles.h"

#include <algorithm>
#include <cstring>

namespace sessiontest {

bool g_insideCall = false;

namespace {

std::vector<uint8_t> ArrayBytes(SAFEARRAY* array) {
    std::vector<uint8_t> bytes;
    void* data = nullptr;
    if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.assign(p, p + array->rgsabound[0].cElements);
        SafeArrayUnaccessData(array);
    }
    return bytes;
}

IClassFactory* SessionFactory() {
    static IClassFactory* factory = [] {
        HMODULE module = LoadLibraryA((ProgramDirectory() + "QuorSession.dll").c_str());
        if (!module)
            return static_cast<IClassFactory*>(nullptr);
        auto get = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        IClassFactory* f = nullptr;
        if (!get || FAILED(get(CLSID_QuorSession, IID_IClassFactory, reinterpret_cast<void**>(&f))))
            return static_cast<IClassFactory*>(nullptr);
        return f; // kept for the whole run, like the module
    }();
    return factory;
}

// The session's connection point for its events, or null.
IConnectionPoint* EventsPoint(IQuorSession2* session) {
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    if (SUCCEEDED(
            session->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
        container->FindConnectionPoint(DIID__IQuorSessionEvents, &point);
        container->Release();
    }
    return point;
}

// Test paths may be longer than MAX_PATH (the device supports it), so files are reached in the long form.
std::wstring Long(const std::string& path) {
    const std::wstring wide = WideFromNarrow(path.c_str());
    return path.rfind("\\\\", 0) == 0 ? wide : L"\\\\?\\" + wide;
}

uint64_t Fnv(uint64_t hash, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

} // namespace

// The sink ------------------------------------------------------------------------------------------

STDMETHODIMP CEventSink::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, DIID__IQuorSessionEvents)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CEventSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP CEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO*, UINT*) {
    Event event;
    event.id = id;
    event.duringCall = g_insideCall;
    event.tick = GetTickCount64();
    for (UINT i = params->cArgs; i-- > 0;) { // the last argument comes first
        VARIANTARG& v = params->rgvarg[i];
        Arg arg;
        arg.type = V_VT(&v);
        switch (V_VT(&v)) {
        case VT_I4:
            arg.number = V_I4(&v);
            break;
        case VT_I8:
            arg.number = V_I8(&v);
            break;
        case VT_I2:
            arg.number = V_I2(&v);
            break;
        case VT_UI1:
            arg.number = V_UI1(&v);
            break;
        case VT_BOOL:
            arg.number = V_BOOL(&v);
            break;
        case VT_BSTR:
            arg.text = NarrowFromWide(V_BSTR(&v));
            break;
        case VT_BSTR | VT_BYREF:
            arg.text = NarrowFromWide(*V_BSTRREF(&v));
            SysFreeString(*V_BSTRREF(&v));
            *V_BSTRREF(&v) = SysAllocString(std::wstring(queryAnswer.begin(), queryAnswer.end()).c_str());
            break;
        case VT_ARRAY | VT_UI1 | VT_BYREF:
            arg.bytes = ArrayBytes(*V_ARRAYREF(&v));
            break;
        default:
            break;
        }
        event.args.push_back(arg);
    }
    events.push_back(event);
    if (result) {
        VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = id == 40   ? queryResult
                       : id == 10 ? taskStartResult
                       : id == 11 ? taskProgressResult
                                  : 0;
    }
    if (onEvent)
        onEvent(event);
    return S_OK;
}

std::vector<Event> CEventSink::Of(DISPID id) const {
    std::vector<Event> out;
    for (const Event& e : events)
        if (e.id == id)
            out.push_back(e);
    return out;
}

std::vector<DISPID> CEventSink::Ids() const {
    std::vector<DISPID> out;
    for (const Event& e : events)
        out.push_back(e.id);
    return out;
}

// The client ----------------------------------------------------------------------------------------

CSessionClient::CSessionClient() {
    IClassFactory* factory = SessionFactory();
    if (!factory) {
        ADD_FAILURE() << "QuorSession.dll or its class object is missing in " << ProgramDirectory();
        return;
    }
    if (FAILED(factory->CreateInstance(nullptr, IID_IQuorSession2, reinterpret_cast<void**>(&m_session)))) {
        ADD_FAILURE() << "the session could not be created";
        return;
    }
    if (IConnectionPoint* point = EventsPoint(m_session)) {
        EXPECT_EQ(point->Advise(&sink, &m_cookie), S_OK);
        point->Release();
    } else {
        ADD_FAILURE() << "no connection point for the session events";
    }
}

CSessionClient::~CSessionClient() {
    if (!m_session)
        return;
    if (IConnectionPoint* point = EventsPoint(m_session)) {
        point->Unadvise(m_cookie);
        point->Release();
    }
    LONG result = 0;
    m_session->Disconnect(&result);
    m_session->Release();
}

long CSessionClient::Connect(const std::string& text) {
    const std::wstring wide = WideFromNarrow(text.c_str());
    BSTR connection = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    BSTR client = SysAllocString(L"Dorvex Varnel Plugin");
    LONG result = -1;
    g_insideCall = true;
    EXPECT_EQ(m_session->Connect(connection, client, &result), S_OK);
    g_insideCall = false;
    SysFreeString(connection);
    SysFreeString(client);
    return result;
}

long CSessionClient::Disconnect() {
    LONG result = -1;
    g_insideCall = true;
    m_session->Disconnect(&result);
    g_insideCall = false;
    return result;
}

long CSessionClient::Execute(long request, CParamBlock& input, CParamBlock& output, long wait) {
    LONG result = -1;
    g_insideCall = true;
    m_session->Execute(request, input.ExportArray(), output.ExportArray(), wait, 0, &result);
    g_insideCall = false;
    return result;
}

long CSessionClient::Submit(long request, CParamBlock& input, long& id, LONG_PTR userData, long wait) {
    LONG result = -1, requestId = -1;
    g_insideCall = true;
    m_session->Submit(request, input.ExportArray(), wait, &requestId, userData, 0, &result);
    g_insideCall = false;
    id = requestId;
    return result;
}

Event CSessionClient::Run(long request, CParamBlock& input, long* id, DWORD timeoutMs) {
    const LONG_PTR userData = ++m_nextUserData;
    long requestId = 0;
    EXPECT_EQ(Submit(request, input, requestId, userData), 1) << ErrorText();
    if (id)
        *id = requestId;
    EXPECT_TRUE(Pump(timeoutMs, [&] { return !Completions(userData).empty(); }))
        << "no completion of request 0x" << std::hex << request;
    const auto done = Completions(userData);
    return done.empty() ? Event{} : done.front();
}

std::vector<Event> CSessionClient::Completions(LONG_PTR userData) const {
    std::vector<Event> out;
    for (const Event& e : sink.Of(2))
        if (e.args.size() == 5 && e.args[4].number == userData)
            out.push_back(e);
    return out;
}

std::string CSessionClient::ErrorText(long* code) {
    BSTR text = nullptr;
    LONG value = -1;
    m_session->GetLastErrorInfo(&text, &value);
    std::string out = NarrowFromWide(text);
    SysFreeString(text);
    if (code)
        *code = value;
    return out;
}

long CSessionClient::ErrorCode() {
    long code = 0;
    ErrorText(&code);
    return code;
}

// Blocks and records ---------------------------------------------------------------------------------

void Texts(CParamBlock& block, const std::vector<std::string>& texts) {
    block.Clear(true);
    for (size_t i = 0; i < texts.size(); ++i)
        block.At(i).SetText(texts[i].c_str(), texts[i].size());
}

std::vector<Entry> Entries(CParamBlock& answer) {
    std::vector<Entry> out;
    for (size_t i = 0; i < answer.Count(); ++i) {
        const CParamValue& v = answer.At(i);
        EXPECT_EQ(v.Kind(), 5u);
        EXPECT_EQ(v.Length(), 784u);
        if (v.Kind() != 5 || v.Length() != 784)
            continue;
        const uint8_t* r = v.Data();
        Entry e;
        EXPECT_NE(std::memchr(r, 0, 256), nullptr) << "unterminated name";
        e.name.assign(reinterpret_cast<const char*>(r), strnlen(reinterpret_cast<const char*>(r), 256));
        e.directory = r[256] != 0;
        std::memcpy(&e.size, r + 260, 4);
        uint32_t low, high;
        std::memcpy(&low, r + 264, 4);
        std::memcpy(&high, r + 268, 4);
        e.time = (static_cast<uint64_t>(high) << 32) | low;
        out.push_back(e);
    }
    return out;
}

// Files -----------------------------------------------------------------------------------------------

CTempFolder::CTempFolder(const char* tag) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    m_path = std::string(base) + "dvx-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(++counter);
    RemoveTree(m_path);
    CreateDirectoryA(m_path.c_str(), nullptr);
}

CTempFolder::~CTempFolder() {
    RemoveTree(m_path);
}

void RemoveTree(const std::string& path) {
    sessionfiles::RemoveTree(Long(path));
}

void MakeDirs(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

void WriteFileText(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, content.size());
}

std::string ReadFileText(const std::string& path) {
    HANDLE file =
        CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        out.append(buffer, got);
    CloseHandle(file);
    return out;
}

bool FileExists(const std::string& path) {
    const DWORD a = GetFileAttributesW(Long(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string& path) {
    const DWORD a = GetFileAttributesW(Long(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> Snapshot(const std::string& root) {
    std::vector<std::string> out;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string rel = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((Long(root + rel) + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            const std::string name = NarrowFromWide(found.cFileName);
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                out.push_back(rel + "\\" + name + "\\");
                pending.push_back(rel + "\\" + name);
            } else {
                out.push_back(rel + "\\" + name + " " + std::to_string(found.nFileSizeLow));
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void WritePatternFile(const std::string& path, uint64_t size, uint32_t seed) {
    ASSERT_TRUE(sessionfiles::WritePattern(Long(path), size, seed)) << path;
}

uint64_t HashFile(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    uint64_t hash = 1469598103934665603ull;
    std::vector<uint8_t> buffer(1 << 20);
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got)
        hash = Fnv(hash, buffer.data(), got);
    CloseHandle(file);
    return hash;
}

} // namespace sessiontest
