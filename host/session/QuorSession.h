// The device session component: IQuorSession2 over a device kept in a local folder, with the session
// events through one connection point. Apartment-threaded: the client calls on the creating thread,
// a worker thread runs submitted requests one after another, and everything the client sees arrives
// as events on the creating thread, after the call that started it has returned.
#pragma once

#include <windows.h>

#include "framework/ConnectionPoint.h"
#include "EventPump.h"
#include "RequestRunner.h"
#include "SessionEvents.h"

#include "framework/ComObject.h"
#include "QuorSession_h.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CDeviceConnection;
class CDeviceError;

class CQuorSession : public CComObjectBase,
                     public IQuorSession2,
                     public IConnectionPointContainer,
                     public IProvideClassInfo2,
                     private IRequestReport {
public:
    static HRESULT CreateInstance(REFIID iid, void** out);
    static bool UpdateRegistry(bool registering);

    DECLARE_IUNKNOWN(s_interfaces)

    // IDispatch, through the component's own type library.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* badArgument) override;

    // IQuorSession2
    STDMETHODIMP Connect(BSTR connection, BSTR clientName, LONG* result) override;
    STDMETHODIMP Disconnect(LONG* result) override;
    STDMETHODIMP Execute(LONG request, SAFEARRAY** input, SAFEARRAY** output, LONG wait, LONG reserved,
                         LONG* result) override;
    STDMETHODIMP Submit(LONG request, SAFEARRAY** block, LONG wait, LONG* requestId, LONG_PTR userData,
                        LONG reserved, LONG* result) override;
    STDMETHODIMP ReserveDevice(LONG wait, LONG* result) override;
    STDMETHODIMP ReleaseDevice(LONG* result) override;
    STDMETHODIMP CancelRequest(LONG requestId, LONG mode, LONG* result) override;
    STDMETHODIMP GetLastErrorInfo(BSTR* text, LONG* code) override;
    STDMETHODIMP SetOptions(BSTR options) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IProvideClassInfo2: lets script hosts find the event interface.
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

private:
    CQuorSession();
    ~CQuorSession() override;

    static const QITableEntry s_interfaces[];

    // IRequestReport, called by the worker.
    void Report(std::function<void(CSessionEvents&)> event) override;
    bool Ask(std::function<bool(CSessionEvents&)> question,
             const std::shared_ptr<CCancelToken>& cancel) override;
    void ConnectionLost(const std::shared_ptr<CDeviceConnection>& connection) override;
    void Complete(const CRequest& request, long error, const std::string& text,
                  std::unique_ptr<CParamBlock> answer) override;

    // Runs a method body: its outcome goes to *result and to the last error; never raises.
    template <class Body> HRESULT Operation(LONG* result, Body body);
    void SetLastError(long code, const std::string& text);
    CDeviceConnection& Connected() const;
    void DisconnectNow();
    // Ends queued and running requests of the current connection with `reason`.
    void AbandonRequests(long reason);
    void WorkerLoop();
    HRESULT LoadTypeInfo(const GUID& guid, ITypeInfo** info);

    CConnectionPoint m_point;
    CSessionEvents m_events;
    std::unique_ptr<CEventPump> m_pump;
    CComPtr<ITypeInfo> m_typeInfo;

    // Creating thread only.
    std::shared_ptr<CDeviceConnection> m_connection;
    bool m_reserved = false;
    std::wstring m_reservedDevice;
    long m_lastErrorCode = 0;
    std::string m_lastErrorText;
    std::string m_options;

    // Shared with the worker.
    std::mutex m_queueLock;
    std::condition_variable m_queueSignal;
    std::deque<std::unique_ptr<CRequest>> m_queue;
    CRequest* m_running = nullptr;
    bool m_stopping = false;
    std::thread m_worker;
};
