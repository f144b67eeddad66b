#include "SessionTestSupport.h"

#include "SessionFiles.h"
#include "framework/ComPtr.h"
#include "framework/Handles.h"

#include <algorithm>
#include <cstring>

namespace sessiontest {

namespace {

// Set while the test is inside a call of the session: events must never arrive then.
bool g_insideCall = false;

IClassFactory* SessionFactory() {
    static IClassFactory* factory = [] {
        HMODULE module = LoadLibraryA((ProgramDirectory() + "QuorSession.dll").c_str());
        auto get = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            module ? reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")) : nullptr);
        IClassFactory* f = nullptr;
        if (!get || FAILED(get(CLSID_QuorSession, IID_IClassFactory, reinterpret_cast<void**>(&f))))
            return static_cast<IClassFactory*>(nullptr);
        return f; // kept for the whole run, like the module
    }();
    return factory;
}

// The session's connection point for its events, or null.
CComPtr<IConnectionPoint> EventsPoint(IQuorSession2* session) {
    CComPtr<IConnectionPointContainer> container;
    CComPtr<IConnectionPoint> point;
    if (SUCCEEDED(
            session->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
        container->FindConnectionPoint(DIID__IQuorSessionEvents, &point);
    return point;
}

// Runs a call of the session with g_insideCall set.
template <class F> long Inside(F call) {
    LONG result = -1;
    g_insideCall = true;
    call(&result);
    g_insideCall = false;
    return result;
}

// Test paths may be longer than MAX_PATH (the device supports it), so files are reached in the long form.
std::wstring Long(const std::string& path) {
    const std::wstring wide = WideFromNarrow(path.c_str());
    return path.rfind("\\\\", 0) == 0 ? wide : L"\\\\?\\" + wide;
}

} // namespace

STDMETHODIMP CEventSink::QueryInterface(REFIID iid, void** out) {
    const bool ours = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                      IsEqualIID(iid, DIID__IQuorSessionEvents);
    *out = ours ? static_cast<IDispatch*>(this) : nullptr;
    if (ours)
        AddRef();
    return ours ? S_OK : E_NOINTERFACE;
}

STDMETHODIMP CEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO*, UINT*) {
    Event event{id, {}, g_insideCall, GetTickCount64()};
    for (UINT i = params->cArgs; i-- > 0;) { // the last argument comes first
        VARIANTARG& v = params->rgvarg[i];
        Arg arg;
        arg.type = V_VT(&v);
        CVariant number;
        if (SUCCEEDED(VariantChangeType(&number, &v, 0, VT_I8)))
            arg.number = V_I8(&number);
        if (arg.type == VT_BSTR) {
            arg.text = NarrowFromWide(V_BSTR(&v));
        } else if (arg.type == (VT_BSTR | VT_BYREF)) {
            arg.text = NarrowFromWide(*V_BSTRREF(&v));
            SysFreeString(*V_BSTRREF(&v));
            *V_BSTRREF(&v) = SysAllocString(WideFromNarrow(queryAnswer.c_str()).c_str());
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
    std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                 [&](const Event& e) { return e.id == id; });
    return out;
}

CSessionClient::CSessionClient(const std::string& connection) {
    IClassFactory* factory = SessionFactory();
    if (!factory ||
        FAILED(factory->CreateInstance(nullptr, IID_IQuorSession2, reinterpret_cast<void**>(&m_session)))) {
        ADD_FAILURE() << "no session from QuorSession.dll in " << ProgramDirectory();
        return;
    }
    const CComPtr<IConnectionPoint> point = EventsPoint(m_session);
    EXPECT_EQ(point ? point->Advise(&sink, &m_cookie) : E_NOINTERFACE, S_OK) << "the events are not advised";
    EXPECT_TRUE(connection.empty() || Connect(connection) == 1) << connection << ": " << ErrorText();
}

CSessionClient::~CSessionClient() {
    if (!m_session)
        return;
    if (const CComPtr<IConnectionPoint> point = EventsPoint(m_session))
        point->Unadvise(m_cookie);
    Disconnect();
    m_session->Release();
}

long CSessionClient::Connect(const std::string& text) {
    const CBstr connection(text.c_str()), client(L"Dorvex Varnel Plugin");
    return Inside([&](LONG* r) { EXPECT_EQ(m_session->Connect(connection.Get(), client.Get(), r), S_OK); });
}

long CSessionClient::Disconnect() {
    return Inside([&](LONG* r) { m_session->Disconnect(r); });
}

long CSessionClient::Execute(long request, CParamBlock& input, long wait) {
    return Inside(
        [&](LONG* r) { m_session->Execute(request, input.ExportArray(), out.ExportArray(), wait, 0, r); });
}

long CSessionClient::Exec(long request, const std::vector<std::string>& texts, long wait) {
    CParamBlock in;
    Texts(in, texts);
    return Execute(request, in, wait);
}

long CSessionClient::Refused(long request, const std::vector<std::string>& texts, long wait) {
    const long result = Exec(request, texts, wait);
    return result == 0 ? ErrorCode() : -1;
}

long CSessionClient::Submit(long request, CParamBlock& input, long& id, LONG_PTR userData, long wait) {
    LONG requestId = -1;
    const long result = Inside(
        [&](LONG* r) { m_session->Submit(request, input.ExportArray(), wait, &requestId, userData, 0, r); });
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

Event CSessionClient::Run(long request, const std::vector<std::string>& texts, long* id) {
    CParamBlock in;
    Texts(in, texts);
    return Run(request, in, id);
}

std::vector<Event> CSessionClient::Completions(LONG_PTR userData) const {
    std::vector<Event> out;
    for (const Event& e : sink.Of(2))
        if (e.args.size() == 5 && e.args[4].number == userData)
            out.push_back(e);
    return out;
}

std::string CSessionClient::ErrorText(long* code) {
    CBstr text;
    LONG value = -1;
    m_session->GetLastErrorInfo(&text, &value);
    if (code)
        *code = value;
    return text.Narrow();
}

long CSessionClient::Reserve(long wait) {
    return Inside([&](LONG* r) { EXPECT_EQ(m_session->ReserveDevice(wait, r), S_OK); });
}

long CSessionClient::ReleaseDevice() {
    return Inside([&](LONG* r) { EXPECT_EQ(m_session->ReleaseDevice(r), S_OK); });
}

void Texts(CParamBlock& block, const std::vector<std::string>& texts) {
    block.Clear(true);
    for (size_t i = 0; i < texts.size(); ++i)
        block.At(i).SetText(texts[i].c_str(), texts[i].size());
}

std::string Names(CParamBlock& answer) {
    std::string names;
    for (size_t i = 0; i < answer.Count(); ++i) {
        const CParamValue& v = answer.At(i);
        EXPECT_EQ(v.Kind(), 5u);
        EXPECT_EQ(v.Length(), 784u);
        if (v.Kind() != 5 || v.Length() != 784)
            continue;
        const char* r = reinterpret_cast<const char*>(v.Data());
        EXPECT_NE(std::memchr(r, 0, 256), nullptr) << "unterminated name";
        names += std::string(r, strnlen(r, 256)) + (r[256] ? "/ " : " ");
    }
    return names;
}

CTempFolder::CTempFolder(const char* tag) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    m_path = std::string(base) + "dvx-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(++counter);
    sessionfiles::RemoveTree(Long(m_path));
    CreateDirectoryA(m_path.c_str(), nullptr);
}

CTempFolder::~CTempFolder() {
    sessionfiles::RemoveTree(Long(m_path));
}

void MakeDirs(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

void WriteFileText(const std::string& path, const std::string& content) {
    MakeDirs(path.substr(0, path.rfind('\\')));
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
    std::vector<char> buffer(1 << 20);
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got)
        out.append(buffer.data(), got);
    CloseHandle(file);
    return out;
}

// 0 for nothing there, 1 for a file, 2 for a directory.
static int Kind(const std::string& path) {
    const DWORD a = GetFileAttributesW(Long(path).c_str());
    return a == INVALID_FILE_ATTRIBUTES ? 0 : (a & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}
bool FileExists(const std::string& path) {
    return Kind(path) == 1;
}
bool DirExists(const std::string& path) {
    return Kind(path) == 2;
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
            const bool directory = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            out.push_back(rel + "\\" + name + (directory ? "\\" : " " + std::to_string(found.nFileSizeLow)));
            if (directory)
                pending.push_back(rel + "\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void WritePatternFile(const std::string& path, uint64_t size, uint32_t seed) {
    MakeDirs(path.substr(0, path.rfind('\\')));
    ASSERT_TRUE(sessionfiles::WritePattern(Long(path), size, seed)) << path;
}

uint64_t HashFile(const std::string& path) {
    if (!FileExists(path))
        return 0;
    uint64_t hash = 1469598103934665603ull;
    for (const char c : ReadFileText(path))
        hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    return hash;
}

} // namespace sessiontest
