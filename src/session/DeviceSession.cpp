#include "session/DeviceSession.h"
#include "contracts/QuorGui.h"
#include "framework/ComError.h"
#include "framework/ComObject.h"
#include "framework/DispatchCall.h"
#include "framework/Handles.h"
#include <algorithm>
#include <array>
#include <cwchar>
#include <utility>

namespace {

// Texts from the session are untrusted: they end at their first NUL and are cut to a sane length.
constexpr UINT kMaxSessionText = 4096;
// Events have at most this many parameters.
constexpr size_t kMaxEventParams = 8;

} // namespace

std::string CDeviceSession::SessionText(BSTR text) {
    if (!text)
        return {};
    const UINT length = SysStringLen(text);
    return NarrowFromWide(
        text, static_cast<int>(wcsnlen(text, length < kMaxSessionText ? length : kMaxSessionText)));
}

namespace {

// One row of the sink table: the event, how its handler is called (null: answered 0), the handler's
// parameter types, and whether the event's types are the handler's own rather than the type library's.
struct SinkEntry {
    DISPID id;
    long (*call)(CDeviceSession& session, const VARIANT* args);
    EventParamTypes (*types)();
    bool ownTypes;
};

template <class... A> struct HandlerCall {
    template <long (CDeviceSession::*Handler)(A...), size_t... I>
    static long Call(CDeviceSession& session, const VARIANT* args, std::index_sequence<I...>) {
        return (session.*Handler)(SinkArg<A>::Get(args[I])...);
    }
    static EventParamTypes Types() { return {SinkArg<A>::type...}; }
};

template <class M> struct HandlerTraits;
template <class... A> struct HandlerTraits<long (CDeviceSession::*)(A...)> {
    using Call = HandlerCall<A...>;
    static constexpr size_t arity = sizeof...(A);
};

template <auto Handler> long CallHandler(CDeviceSession& session, const VARIANT* args) {
    using Traits = HandlerTraits<decltype(Handler)>;
    return Traits::Call::template Call<Handler>(session, args, std::make_index_sequence<Traits::arity>{});
}

template <auto Handler> SinkEntry Entry(DISPID id, bool ownTypes = false) {
    static_assert(HandlerTraits<decltype(Handler)>::arity <= kMaxEventParams);
    return {id, &CallHandler<Handler>, &HandlerTraits<decltype(Handler)>::Call::Types, ownTypes};
}

// An event the control has no use for: its arguments are checked as for a handler taking `A...`, and a
// source that fits is answered 0.
template <class... A> SinkEntry Ignored(DISPID id) {
    return {id, nullptr, &HandlerCall<A...>::Types, false};
}

const SinkEntry* FindEntry(DISPID id) {
    using S = CDeviceSession;
    static const SinkEntry table[] = {
        Ignored<long, long, long>(1),
        Entry<&S::RequestComplete>(2),
        Ignored<long, long, long, long, long>(3),
        Entry<&S::UpdateConnectionStatus>(5),
        Entry<&S::OnNotify6>(6),
        Ignored<long, long>(7),
        Entry<&S::UpdateConnectionParams>(8),
        Entry<&S::TaskStart>(10),
        Entry<&S::TaskProgress>(11),
        Entry<&S::TaskComplete>(12),
        Entry<&S::FileXferBatchStart>(20),
        Entry<&S::FileXferFileStart>(21),
        Entry<&S::FileXferFileProgress>(22),
        Entry<&S::FileXferFileFinish>(23),
        Entry<&S::FileXferBatchFinish>(24),
        Entry<&S::OnNotify29>(29, true),
        Entry<&S::HostQuery>(40, true),
        Ignored<long, long, long>(50),
        Entry<&S::OnNotify51>(51),
        Ignored<long, long>(30),
    };
    for (const SinkEntry& entry : table)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

// A reconnect waiting for its asynchronous procedure call.
struct ReconnectRecord {
    ReconnectRecord(std::weak_ptr<int> owner, CDeviceSession* target, BSTR text)
        : life(std::move(owner)), session(target), connection(text ? text : L""), clientName(L"") {}
    std::weak_ptr<int> life;
    CDeviceSession* session;
    CBstr connection;
    CBstr clientName;
};

void CALLBACK ReconnectTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    // The alertable wait is what lets the queued reconnect run.
    SleepEx(10, TRUE);
}

} // namespace

CDeviceSession::CDeviceSession() : m_libId(LIBID_QuorSessionLib), m_eventsIid(DIID__IQuorSessionEvents) {
    CEventTypeCache::AddUser(m_libId, m_libMajor, m_libMinor, m_eventsIid);
    // No session component, or one we cannot subscribe to: the holder stays empty.
    if (FAILED(CreateSession()) || (m_session && FAILED(Subscribe())))
        m_session.Release();
}

HRESULT CDeviceSession::CreateSession() {
    // An object that is not a session leaves the holder empty without a failure.
    const HRESULT hr = CreateRunningObject(CLSID_QuorSession, IID_PPV_ARGS(&m_session));
    return hr == E_NOINTERFACE ? S_OK : hr;
}

HRESULT CDeviceSession::Subscribe() {
    CComPtr<IConnectionPointContainer> container;
    HRESULT hr = m_session->QueryInterface(IID_PPV_ARGS(&container));
    CComPtr<IConnectionPoint> point;
    if (SUCCEEDED(hr))
        hr = container->FindConnectionPoint(m_eventsIid, &point);
    if (FAILED(hr))
        return hr;
    DWORD cookie = kNoCookie;
    if (SUCCEEDED(point->Advise(static_cast<IDispatch*>(this), &cookie)))
        m_cookie = cookie;
    return S_OK;
}

void CDeviceSession::UnsubscribeAndDisconnect() {
    CComPtr<IConnectionPointContainer> container;
    CComPtr<IConnectionPoint> point;
    if (m_cookie != kNoCookie && SUCCEEDED(m_session->QueryInterface(IID_PPV_ARGS(&container))) &&
        SUCCEEDED(container->FindConnectionPoint(m_eventsIid, &point)))
        point->Unadvise(m_cookie);
    m_cookie = kNoCookie;
    LONG result = 0;
    m_session->Disconnect(&result);
}

CDeviceSession::~CDeviceSession() {
    if (m_session)
        UnsubscribeAndDisconnect();
    m_cookie = kNoCookie;
    CEventTypeCache::RemoveUser();
    m_session.Release();
}

STDMETHODIMP CDeviceSession::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, m_eventsIid)) {
        *out = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CDeviceSession::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CDeviceSession::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CDeviceSession::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

bool CDeviceSession::EventParameterTypes(DISPID id, EventParamTypes& types) {
    const SinkEntry* entry = FindEntry(id);
    if (!entry)
        return false;
    if (entry->ownTypes) {
        types = entry->types();
        return true;
    }
    return CEventTypeCache::Lookup(id, types);
}

STDMETHODIMP CDeviceSession::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO*, UINT*) {
    return ComBoundary([&]() -> HRESULT {
        if (params && params->cNamedArgs)
            return DISP_E_NONAMEDARGS;
        // An event this sink cannot deliver is accepted and ignored: the source could do nothing about it.
        const SinkEntry* entry = FindEntry(id);
        EventParamTypes declared;
        if (!entry || !EventParameterTypes(id, declared))
            return S_OK;
        const EventParamTypes wanted = entry->types();
        const UINT count = params ? params->cArgs : 0;
        if (declared.size() != wanted.size() || count != wanted.size() || (count && !params->rgvarg))
            return S_OK;
        std::array<CVariant, kMaxEventParams> args;
        for (UINT i = 0; i < count; ++i) {
            // Automation passes the arguments last first.
            if (!DeclarationFits(declared[i], wanted[i]) ||
                BindArgument(params->rgvarg[count - 1 - i], wanted[i], args[i]) != S_OK)
                return S_OK;
        }
        const long answer = entry->call ? entry->call(*this, args.data()) : 0;
        if (result) {
            VariantClear(result);
            result->vt = VT_I4;
            result->lVal = answer;
        }
        return S_OK;
    });
}

long CDeviceSession::RequestComplete(long errorCode, long requestCode, bool success, SAFEARRAY** answer,
                                     LONG_PTR userData) {
    // Read now: whatever the listeners ask of the session next would replace it.
    const RequestResult result = success ? RequestResult::Success() : LastFailure();
    SAFEARRAY* block = answer ? *answer : nullptr;
    for (ISessionListener* listener : std::vector<ISessionListener*>(m_listeners))
        listener->RequestCompleted(requestCode, result, block, static_cast<uintptr_t>(userData), errorCode);
    return 0;
}
long CDeviceSession::UpdateConnectionStatus(short) {
    return 0;
}
long CDeviceSession::OnNotify6(long, long) {
    return 0;
}
long CDeviceSession::UpdateConnectionParams(BSTR connection) {
    return ScheduleReconnect(connection);
}
long CDeviceSession::TaskStart(long task, BSTR title, BSTR file, long) {
    return FirstAnswer([&](ISessionListener& l) { return l.TaskStart(task, SessionText(title), SessionText(file)); });
}
long CDeviceSession::TaskProgress(long task, long percent, BSTR text, long step, long) {
    return FirstAnswer([&](ISessionListener& l) { return l.TaskProgress(task, percent, SessionText(text), step); });
}
long CDeviceSession::TaskComplete(long task, BYTE success, long) {
    return Tell([&](ISessionListener& l) { l.TaskComplete(task, success); });
}
long CDeviceSession::FileXferBatchStart(long batch, BSTR title, long files, long totalKB, long) {
    return Tell([&](ISessionListener& l) { l.FileXferBatchStart(batch, SessionText(title), files, totalKB); });
}
long CDeviceSession::FileXferFileStart(long batch, BSTR source, BSTR destination, long sizeBytes, BYTE upload,
                                       BSTR name, long) {
    return Tell([&](ISessionListener& l) {
        l.FileXferFileStart(batch, SessionText(source), SessionText(destination), sizeBytes, upload,
                            SessionText(name));
    });
}
long CDeviceSession::FileXferFileProgress(long batch, long fileIndex, long files, long bytesDone,
                                          long bytesTotal, long) {
    return Tell([&](ISessionListener& l) { l.FileXferFileProgress(batch, fileIndex, files, bytesDone, bytesTotal); });
}
long CDeviceSession::FileXferFileFinish(long batch, BYTE success, long) {
    return Tell([&](ISessionListener& l) { l.FileXferFileFinish(batch, success); });
}
long CDeviceSession::FileXferBatchFinish(long batch, BYTE success, long) {
    return Tell([&](ISessionListener& l) { l.FileXferBatchFinish(batch, success); });
}
long CDeviceSession::OnNotify29(long, long, long, long, BSTR, long) {
    return 0;
}
long CDeviceSession::OnNotify51() {
    return 0;
}

long CDeviceSession::HostQuery(long, long queryType, BSTR prompt, BSTR* answer, long) {
    // Which kinds of query exist is the host library's business: every one goes to it, and the answer
    // travels as the event gave it.
    const std::string question = SessionText(prompt);
    return QuorGUIHandleQuery(static_cast<_EQuorQueryType>(queryType), question.c_str(), answer, QueryOwner())
               ? S_OK
               : S_FALSE;
}

HWND CDeviceSession::QueryOwner() const {
    HWND foreground = GetForegroundWindow();
    DWORD process = 0;
    if (foreground)
        GetWindowThreadProcessId(foreground, &process);
    if (foreground && process == GetCurrentProcessId())
        return foreground;
    return ownerWindow ? ownerWindow : GetDesktopWindow();
}

RequestResult CDeviceSession::LastFailure() {
    LONG code = 0;
    BSTR text = nullptr;
    std::string narrow;
    if (m_session && SUCCEEDED(m_session->GetLastErrorInfo(&text, &code)))
        narrow = SessionText(text);
    SysFreeString(text);
    return RequestResult::Failure(code, std::move(narrow));
}

RequestResult CDeviceSession::Outcome(HRESULT hr, LONG result) {
    return SUCCEEDED(hr) && result ? RequestResult::Success() : LastFailure();
}

RequestResult CDeviceSession::Execute(long request, CParamBlock& input, CParamBlock* answer, long wait) {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    // The session may always write an answer; one nobody reads goes with this block.
    CParamBlock unread;
    CParamBlock& output = answer ? *answer : unread;
    LONG result = 0;
    const HRESULT hr = m_session->Execute(request, input.ExportArray(), output.ExportArray(), wait, 0, &result);
    return Outcome(hr, result);
}

RequestResult CDeviceSession::Submit(long request, CParamBlock& input, long wait, uintptr_t userData,
                                     long& requestId) {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    LONG result = 0;
    LONG id = 0;
    const HRESULT hr = m_session->Submit(request, input.ExportArray(), wait, &id,
                                         static_cast<LONG_PTR>(userData), 0, &result);
    requestId = id;
    return Outcome(hr, result);
}

RequestResult CDeviceSession::ReserveDevice(long wait) {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    LONG result = 0;
    const HRESULT hr = m_session->ReserveDevice(wait, &result);
    return Outcome(hr, result);
}

RequestResult CDeviceSession::ReleaseDevice() {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    LONG result = 0;
    const HRESULT hr = m_session->ReleaseDevice(&result);
    return Outcome(hr, result);
}

RequestResult CDeviceSession::Cancel(long requestId, long mode) {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    LONG result = 0;
    const HRESULT hr = m_session->CancelRequest(requestId, mode, &result);
    return Outcome(hr, result);
}

RequestResult CDeviceSession::Connect(const std::string& connection, const std::string& clientName) {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    CBstr text(connection.c_str());
    CBstr client(clientName.c_str());
    LONG result = 0;
    const HRESULT hr = m_session->Connect(text.Get(), client.Get(), &result);
    return Outcome(hr, result);
}

RequestResult CDeviceSession::Disconnect() {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    LONG result = 0;
    // Nothing to tell about a disconnection that fails: the next connection says what matters.
    m_session->Disconnect(&result);
    return RequestResult::Success();
}

RequestResult CDeviceSession::SetOptions(const wchar_t* options) {
    if (!m_session)
        return RequestResult::Failure(E_POINTER, "");
    CBstr text(options);
    return SUCCEEDED(m_session->SetOptions(text.Get())) ? RequestResult::Success() : LastFailure();
}

void CDeviceSession::AddListener(ISessionListener* listener) {
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void CDeviceSession::RemoveListener(ISessionListener* listener) {
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void CDeviceSession::ShowStandardError(HWND window, long code) {
    QuorShowStandardError(m_session.Get(), window, code);
}

long CDeviceSession::ScheduleReconnect(BSTR connection) {
    // Nothing to reconnect without a session.
    if (!m_session)
        return E_POINTER;
    auto record = std::make_unique<ReconnectRecord>(m_life, this, connection);
    if (!QueueUserAPC(&CDeviceSession::RunReconnect, GetCurrentThread(),
                      reinterpret_cast<ULONG_PTR>(record.get())))
        return static_cast<long>(HRESULT_FROM_WIN32(GetLastError()));
    record.release(); // the procedure call owns it now
    SetTimer(nullptr, 0, 10, ReconnectTimer);
    return 0;
}

void CALLBACK CDeviceSession::RunReconnect(ULONG_PTR parameter) {
    std::unique_ptr<ReconnectRecord> record(reinterpret_cast<ReconnectRecord*>(parameter));
    if (record->life.expired())
        return;
    CDeviceSession& self = *record->session;
    if (!self.m_session)
        return;
    LONG result = 0;
    self.m_session->Disconnect(&result);
    self.m_session->Connect(record->connection.Get(), record->clientName.Get(), &result);
}
