#include "QuorSession.h"

#include "BlockArrays.h"
#include "CancelToken.h"
#include "DemoDevice.h"
#include "DeviceConnection.h"
#include "DeviceReservations.h"
#include "DeviceError.h"

#include "framework/ClassFactory.h"
#include "framework/Handles.h"
#include "framework/TypeLibrary.h"

#include <olectl.h>

#include <atomic>

namespace {

const char kProgId[] = "Quor.Session.1";
const char kTypeName[] = "Quor device session";

// Request ids are unique in the process, so an id can never name another session's request.
std::atomic<long> g_lastRequestId{0};

long NextRequestId() {
    const long id = ++g_lastRequestId;
    // 2^31 requests later the ids start again at 1; the first ones are long finished by then.
    return id > 0 ? id : (g_lastRequestId = 1);
}

// The connection text travels as UTF-8 through the portable parser, so folder names keep every character.
std::string Utf8FromBstr(BSTR text) {
    if (!text)
        return {};
    const int length = static_cast<int>(SysStringLen(text));
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring WideFromUtf8(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    full.resize(n < full.size() ? n : 0);
    return full;
}

} // namespace

const QITableEntry CQuorSession::s_interfaces[] = {
    QI_ENTRY(CQuorSession, IQuorSession2),
    QI_ENTRY2(CQuorSession, IDispatch, IQuorSession2),
    QI_ENTRY(CQuorSession, IConnectionPointContainer),
    QI_ENTRY2(CQuorSession, IProvideClassInfo, IProvideClassInfo2),
    QI_ENTRY(CQuorSession, IProvideClassInfo2),
    QI_END,
};

HRESULT CQuorSession::CreateInstance(REFIID iid, void** out) {
    auto* session = new CQuorSession();
    const HRESULT hr = session->QueryInterface(iid, out);
    session->Release();
    return hr;
}

bool CQuorSession::UpdateRegistry(bool registering) {
    return registering ? RegisterInprocClass(CLSID_QuorSession, kProgId, kTypeName)
                       : UnregisterClassKeys(CLSID_QuorSession, kProgId);
}

CQuorSession::CQuorSession()
    : m_point(static_cast<IConnectionPointContainer*>(this), DIID__IQuorSessionEvents), m_events(m_point),
      m_pump(std::make_unique<CEventPump>(static_cast<IQuorSession2*>(this))) {}

CQuorSession::~CQuorSession() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_stopping = true;
        for (auto& request : m_queue)
            request->cancel->Cancel(SE_DISCONNECTED);
        if (m_running)
            m_running->cancel->Cancel(SE_DISCONNECTED);
    }
    m_queueSignal.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    if (m_reserved)
        CDeviceReservations::Release(m_reservedDevice, this);
    m_point.UnadviseAll();
    m_pump.reset(); // reports still queued go with it: nobody is left to hear them
}

template <class Body> HRESULT CQuorSession::Operation(LONG* result, Body body) {
    if (!result)
        return E_POINTER;
    *result = 0;
    try {
        body();
        *result = 1;
        SetLastError(SE_OK, "");
    } catch (const CDeviceError& error) {
        SetLastError(error.Code(), error.Text());
    } catch (const std::bad_alloc&) {
        SetLastError(SE_DEVICE_IO, "The session ran out of memory.");
    } catch (...) {
        SetLastError(SE_DEVICE_IO, "The session failed unexpectedly.");
    }
    return S_OK;
}

void CQuorSession::SetLastError(long code, const std::string& text) {
    m_lastErrorCode = code;
    m_lastErrorText = text;
}

CDeviceConnection& CQuorSession::Connected() const {
    if (!m_connection)
        throw CDeviceError(SE_NOT_CONNECTED, "The session is not connected to a device.");
    if (m_connection->Lost())
        throw CDeviceError(SE_CONNECTION_LOST, "The connection to the device was lost.");
    return *m_connection;
}

// IDispatch ---------------------------------------------------------------------------------------

HRESULT CQuorSession::LoadTypeInfo(const GUID& guid, ITypeInfo** info) {
    CComPtr<ITypeLib> lib;
    RETURN_IF_FAILED(LoadModuleTypeLib(&lib));
    return lib->GetTypeInfoOfGuid(guid, info);
}

STDMETHODIMP CQuorSession::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CQuorSession::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    if (!m_typeInfo)
        RETURN_IF_FAILED(LoadTypeInfo(IID_IQuorSession2, &m_typeInfo));
    *info = m_typeInfo.Get();
    (*info)->AddRef();
    return S_OK;
}

STDMETHODIMP CQuorSession::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
    CComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetTypeInfo(0, lcid, &info));
    return DispGetIDsOfNames(info.Get(), names, count, ids);
}

STDMETHODIMP CQuorSession::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    CComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetTypeInfo(0, lcid, &info));
    return DispInvoke(static_cast<IQuorSession2*>(this), info.Get(), id, flags, params, result, exception,
                      badArgument);
}

// IProvideClassInfo2 ------------------------------------------------------------------------------

STDMETHODIMP CQuorSession::GetClassInfo(ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return LoadTypeInfo(CLSID_QuorSession, info);
}

STDMETHODIMP CQuorSession::GetGUID(DWORD kind, GUID* guid) {
    if (!guid)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID__IQuorSessionEvents;
    return S_OK;
}

// IConnectionPointContainer -----------------------------------------------------------------------

STDMETHODIMP CQuorSession::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return CSinglePointEnum::Create(&m_point, false, points);
}

STDMETHODIMP CQuorSession::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, m_point.EventsIid()))
        return CONNECT_E_NOCONNECTION;
    *point = &m_point;
    m_point.AddRef();
    return S_OK;
}

// IQuorSession2 -----------------------------------------------------------------------------------

STDMETHODIMP CQuorSession::Connect(BSTR connection, BSTR, LONG* result) {
    return Operation(result, [&] {
        DisconnectNow(); // a new connection replaces the old one
        ConnectionSettings settings;
        std::string error;
        if (!ParseConnectionText(Utf8FromBstr(connection), settings, error))
            throw CDeviceError(SE_BAD_CONNECTION_TEXT, error);
        const std::wstring folder =
            settings.demo ? DemoDeviceFolder() : FullPath(WideFromUtf8(settings.folder));
        const DWORD attributes =
            folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            throw CDeviceError(SE_DEVICE_NOT_FOUND,
                               "There is no device at " + NarrowFromWide(folder.c_str()) + ".");
        if (settings.refuse)
            throw CDeviceError(SE_CONNECTION_REFUSED, "The device refused the connection.");
        m_connection = std::make_shared<CDeviceConnection>(settings, folder);
        m_pump->Post([this] { m_events.ConnectionStatus(1); });
        if (settings.moveTo) {
            const std::string address = NarrowFromWide(WideFromUtf8(settings.moveToText).c_str());
            m_pump->Post([this, address] { m_events.ConnectionParamsChanged(address); });
        }
    });
}

STDMETHODIMP CQuorSession::Disconnect(LONG* result) {
    return Operation(result, [&] { DisconnectNow(); });
}

void CQuorSession::DisconnectNow() {
    if (!m_connection)
        return;
    AbandonRequests(SE_DISCONNECTED);
    if (m_reserved)
        CDeviceReservations::Release(m_reservedDevice, this);
    m_reserved = false;
    m_connection.reset();
    m_pump->Post([this] { m_events.ConnectionStatus(0); });
}

void CQuorSession::AbandonRequests(long reason) {
    // Requests end in the order they were submitted: the worker completes each with the reason.
    std::lock_guard<std::mutex> lock(m_queueLock);
    for (auto& request : m_queue)
        request->cancel->Cancel(reason);
    if (m_running)
        m_running->cancel->Cancel(reason);
}

STDMETHODIMP CQuorSession::Execute(LONG request, SAFEARRAY** input, SAFEARRAY** output, LONG wait, LONG,
                                   LONG* result) {
    CParamBlock answer;
    const HRESULT hr = Operation(result, [&] {
        CDeviceConnection& connection = Connected();
        CParamBlock in;
        BlockFromByteArray(input ? *input : nullptr, in);
        if (!CDeviceConnection::IsImmediate(request))
            throw CDeviceError(CDeviceConnection::IsKnown(request) ? SE_BAD_INPUT : SE_UNKNOWN_REQUEST,
                               CDeviceConnection::IsKnown(request)
                                   ? "Request " + RequestName(request) + " reports progress: submit it."
                                   : "The device does not know request " + RequestName(request) + ".");
        CDeviceConnection::CheckInput(request, in);
        connection.AwaitAnswer(wait, nullptr);
        connection.CheckInjectedFailure(request);
        connection.RunImmediate(request, in, answer, this);
    });
    if (SUCCEEDED(hr) && output) {
        if (*result == 0)
            answer.Clear(true);
        // The caller's array is replaced by the answer (never the input array, should both be one).
        if (*output && !(input && *input == *output))
            SafeArrayDestroy(*output);
        *output = ByteArrayFromBlock(answer);
    }
    return hr;
}

STDMETHODIMP CQuorSession::Submit(LONG request, SAFEARRAY** block, LONG wait, LONG* requestId,
                                  LONG_PTR userData, LONG, LONG* result) {
    if (requestId)
        *requestId = 0;
    return Operation(result, [&] {
        if (!requestId)
            throw CDeviceError(SE_BAD_INPUT, "Submit needs a place for the request id.");
        auto submitted = std::make_unique<CRequest>();
        Connected();
        submitted->connection = m_connection;
        BlockFromByteArray(block ? *block : nullptr, submitted->input);
        if (!CDeviceConnection::IsKnown(request))
            throw CDeviceError(SE_UNKNOWN_REQUEST,
                               "The device does not know request " + RequestName(request) + ".");
        CDeviceConnection::CheckInput(request, submitted->input);
        submitted->id = NextRequestId();
        submitted->code = request;
        submitted->wait = wait;
        submitted->userData = userData;
        submitted->cancel = std::make_shared<CCancelToken>();
        if (!m_worker.joinable())
            m_worker = std::thread(&CQuorSession::WorkerLoop, this);
        const long id = submitted->id;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_queue.push_back(std::move(submitted));
        }
        m_queueSignal.notify_one();
        *requestId = id;
    });
}

STDMETHODIMP CQuorSession::ReserveDevice(LONG wait, LONG* result) {
    return Operation(result, [&] {
        CDeviceConnection& connection = Connected();
        if (!CDeviceReservations::Reserve(connection.DeviceKey(), this, wait))
            throw CDeviceError(SE_BUSY, "The device is reserved by another session.");
        m_reserved = true;
        m_reservedDevice = connection.DeviceKey();
    });
}

STDMETHODIMP CQuorSession::ReleaseDevice(LONG* result) {
    return Operation(result, [&] {
        if (!m_reserved || !CDeviceReservations::Release(m_reservedDevice, this))
            throw CDeviceError(SE_NOT_RESERVED, "This session does not hold the device's reservation.");
        m_reserved = false;
    });
}

STDMETHODIMP CQuorSession::CancelRequest(LONG requestId, LONG mode, LONG* result) {
    return Operation(result, [&] {
        if (mode != 1 && mode != 2)
            throw CDeviceError(SE_BAD_INPUT,
                               "Cancel mode " + std::to_string(mode) +
                                   " is not known: 2 stops a request, 1 only one that has not started.");
        std::lock_guard<std::mutex> lock(m_queueLock);
        for (auto& request : m_queue)
            if (request->id == requestId) {
                request->cancel->Cancel(SE_CANCELLED);
                return;
            }
        if (m_running && m_running->id == requestId) {
            if (mode == 1)
                throw CDeviceError(SE_NO_SUCH_REQUEST,
                                   "Request " + std::to_string(requestId) + " has already started.");
            m_running->cancel->Cancel(SE_CANCELLED);
            return;
        }
        throw CDeviceError(SE_NO_SUCH_REQUEST,
                           "No request " + std::to_string(requestId) + " is waiting or running.");
    });
}

STDMETHODIMP CQuorSession::GetLastErrorInfo(BSTR* text, LONG* code) {
    return ComBoundary([&]() -> HRESULT {
        if (text) {
            SysFreeString(*text);
            *text = SysAllocString(WideFromNarrow(m_lastErrorText.c_str()).c_str());
            if (!*text)
                return E_OUTOFMEMORY;
        }
        if (code)
            *code = m_lastErrorCode;
        return S_OK;
    });
}

STDMETHODIMP CQuorSession::SetOptions(BSTR options) {
    return ComBoundary([&] {
        m_options = options ? NarrowFromWide(options, static_cast<int>(SysStringLen(options))) : "";
        return S_OK;
    });
}

// The worker and what it reports -----------------------------------------------------------------

void CQuorSession::WorkerLoop() {
    for (;;) {
        std::unique_ptr<CRequest> request;
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            m_queueSignal.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            request = std::move(m_queue.front());
            m_queue.pop_front();
            m_running = request.get();
        }
        try {
            RunRequest(*request, *this, this);
        } catch (...) {
            // RunRequest reports its own failures; nothing may end the worker thread.
        }
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_running = nullptr;
    }
}

void CQuorSession::Report(std::function<void(CSessionEvents&)> event) {
    m_pump->Post([this, event = std::move(event)] { event(m_events); });
}

bool CQuorSession::Ask(std::function<bool(CSessionEvents&)> question,
                       const std::shared_ptr<CCancelToken>& cancel) {
    struct Answer {
        bool given = false;
        bool yes = false;
    };
    auto answer = std::make_shared<Answer>();
    m_pump->Post([this, question = std::move(question), answer, cancel] {
        bool yes = false;
        try {
            yes = !cancel->Cancelled() && question(m_events);
        } catch (...) {
        }
        cancel->Notify([&] {
            answer->given = true;
            answer->yes = yes;
        });
    });
    return cancel->Wait([&] { return answer->given; }) && answer->yes;
}

void CQuorSession::ConnectionLost(const std::shared_ptr<CDeviceConnection>& connection) {
    m_pump->Post([this, connection] {
        if (m_connection != connection)
            return; // already replaced by a newer connection
        AbandonRequests(SE_CONNECTION_LOST);
        if (m_reserved)
            CDeviceReservations::Release(m_reservedDevice, this);
        m_reserved = false;
        m_connection.reset();
        m_events.ConnectionStatus(0);
    });
}

void CQuorSession::Complete(const CRequest& request, long error, const std::string& text,
                            std::unique_ptr<CParamBlock> answer) {
    const long code = request.code;
    const LONG_PTR userData = request.userData;
    std::shared_ptr<CParamBlock> block(std::move(answer));
    m_pump->Post([this, error, text, code, userData, block] {
        // The client reads the failure with GetLastErrorInfo while handling the event.
        SetLastError(error, text);
        m_events.RequestComplete(error, code, error == SE_OK, *block, userData);
    });
}
