#include "session/DeviceSession.h"
#include "framework/ComError.h"
#include "framework/Handles.h"
#include "session/QuorGui.h"
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

// One row of the sink table: the event, how its handler is called, the handler's parameter types, and
// whether the event's types are the handler's own rather than the type library's.
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

const SinkEntry* FindEntry(DISPID id) {
    using S = CDeviceSession;
    static const SinkEntry table[] = {
        Entry<&S::OnNotify1>(1),
        Entry<&S::RequestComplete>(2),
        Entry<&S::OnNotify3>(3),
        Entry<&S::UpdateConnectionStatus>(5),
        Entry<&S::OnNotify6>(6),
        Entry<&S::OnNotify7>(7),
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
        Entry<&S::OnNotify50>(50),
        Entry<&S::OnNotify51>(51),
        Entry<&S::OnNotify30>(30),
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
    try {
        CreateSession();
        if (m_session)
            Subscribe();
    } catch (const CComError&) {
        // No session component, or one we cannot subscribe to: the holder stays empty.
        m_session.Release();
    }
}

void CDeviceSession::CreateSession() {
    CComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_QuorSession, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (hr == E_NOINTERFACE)
        return;
    ThrowIfFailed(hr);
    ThrowIfFailed(OleRun(unknown.Get()));
    hr = unknown.QueryInterface(IID_IQuorSession2, m_session);
    if (hr != E_NOINTERFACE)
        ThrowIfFailed(hr);
}

void CDeviceSession::Subscribe() {
    CComPtr<IUnknown> unknown;
    ThrowIfFailed(m_session.QueryInterface(IID_IUnknown, unknown));
    CComPtr<IConnectionPointContainer> container;
    ThrowIfFailed(unknown.QueryInterface(IID_IConnectionPointContainer, container));
    CComPtr<IConnectionPoint> point;
    ThrowIfFailed(container->FindConnectionPoint(m_eventsIid, &point));
    DWORD cookie = kNoCookie;
    if (SUCCEEDED(point->Advise(static_cast<IDispatch*>(this), &cookie)))
        m_cookie = cookie;
}

void CDeviceSession::UnsubscribeAndDisconnect() {
    CComPtr<IUnknown> unknown;
    if (FAILED(m_session.QueryInterface(IID_IUnknown, unknown)))
        return;
    CComPtr<IConnectionPointContainer> container;
    CComPtr<IConnectionPoint> point;
    if (m_cookie != kNoCookie &&
        SUCCEEDED(unknown.QueryInterface(IID_IConnectionPointContainer, container)) &&
        SUCCEEDED(container->FindConnectionPoint(m_eventsIid, &point)))
        point->Unadvise(m_cookie);
    m_cookie = kNoCookie;
    m_session->Disconnect(&lastResult);
}

CDeviceSession::~CDeviceSession() {
    try {
        if (m_session)
            UnsubscribeAndDisconnect();
    } catch (...) {
        // Destruction goes on whatever the session does.
    }
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
                !CoerceEventArgument(params->rgvarg[count - 1 - i], wanted[i], args[i]))
                return S_OK;
        }
        const long answer = entry->call(*this, args.data());
        if (result) {
            VariantClear(result);
            result->vt = VT_I4;
            result->lVal = answer;
        }
        return S_OK;
    });
}

long CDeviceSession::OnNotify1(long, long, long) {
    return 0;
}
long CDeviceSession::RequestComplete(long, long, bool, SAFEARRAY**, LONG_PTR) {
    return 0;
}
long CDeviceSession::OnNotify3(long, long, long, long, long) {
    return 0;
}
long CDeviceSession::UpdateConnectionStatus(short) {
    return 0;
}
long CDeviceSession::OnNotify6(long, long) {
    return 0;
}
long CDeviceSession::OnNotify7(long, long) {
    return 0;
}
long CDeviceSession::UpdateConnectionParams(BSTR connection) {
    return ScheduleReconnect(connection);
}
long CDeviceSession::TaskStart(long, BSTR, BSTR, long) {
    return 0;
}
long CDeviceSession::TaskProgress(long, long, BSTR, long, long) {
    return 0;
}
long CDeviceSession::TaskComplete(long, BYTE, long) {
    return 0;
}
long CDeviceSession::FileXferBatchStart(long, BSTR, long, long, long) {
    return 0;
}
long CDeviceSession::FileXferFileStart(long, BSTR, BSTR, long, BYTE, BSTR, long) {
    return 0;
}
long CDeviceSession::FileXferFileProgress(long, long, long, long, long, long) {
    return 0;
}
long CDeviceSession::FileXferFileFinish(long, BYTE, long) {
    return 0;
}
long CDeviceSession::FileXferBatchFinish(long, BYTE, long) {
    return 0;
}
long CDeviceSession::OnNotify29(long, long, long, long, BSTR, long) {
    return 0;
}
long CDeviceSession::OnNotify50(long, long, long) {
    return 0;
}
long CDeviceSession::OnNotify51() {
    return 0;
}
long CDeviceSession::OnNotify30(long, long) {
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

const std::string& CDeviceSession::GetErrorText(long* code) {
    long privateCode = 0;
    long* slot = code ? code : &privateCode;
    *slot = 0;
    BSTR text = nullptr;
    try {
        m_session->GetLastErrorInfo(&text, slot);
        m_text = SessionText(text);
    } catch (...) {
        m_text.clear();
    }
    SysFreeString(text);
    return m_text;
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
    try {
        self.m_session->Disconnect(&self.lastResult);
        self.m_session->Connect(record->connection.Get(), record->clientName.Get(), &self.lastResult);
    } catch (...) {
        // The session went away in the meantime; there is nobody to tell.
    }
}
