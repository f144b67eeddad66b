// The control's one holder of the host's device session: it creates the session component, subscribes to
// its events and turns each event into a call of a virtual handler, answers every request with its
// outcome (a failure's text read at the failing call), hands the events to its listeners, answers host
// queries and reconnects when the session asks for it. It is not reference-counted as a sink: it lives
// exactly as long as the main window that holds it.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include "QuorSession_h.h"
#include "framework/ComPtr.h"
#include "session/DeviceRequests.h"
#include "session/EventSink.h"
#include <memory>
#include <string>
#include <vector>

// What the session's events bring to the rest of the control. Texts arrive narrow; by default nothing
// is done and 0 answered.
class ISessionListener {
public:
    virtual ~ISessionListener() = default;
    // A submitted request completed; a failure carries the session's code and text read at the event.
    // `eventCode` is the error code the event itself carried.
    virtual void RequestCompleted(long /*requestCode*/, const RequestResult& /*result*/, SAFEARRAY* /*answer*/, uintptr_t /*userData*/, long /*eventCode*/) {}
    virtual long TaskStart(long /*task*/, const std::string& /*title*/, const std::string& /*file*/) { return 0; }
    virtual long TaskProgress(long /*task*/, long /*percent*/, const std::string& /*text*/, long /*step*/) { return 0; }
    virtual void TaskComplete(long /*task*/, BYTE /*success*/) {}
    virtual void FileXferBatchStart(long /*batch*/, const std::string& /*title*/, long /*files*/, long /*totalKB*/) {}
    virtual void FileXferFileStart(long /*batch*/, const std::string& /*source*/, const std::string& /*destination*/, long /*sizeBytes*/, BYTE /*upload*/, const std::string& /*name*/) {}
    virtual void FileXferFileProgress(long /*batch*/, long /*fileIndex*/, long /*files*/, long /*bytesDone*/, long /*bytesTotal*/) {}
    virtual void FileXferFileFinish(long /*batch*/, BYTE /*success*/) {}
    virtual void FileXferBatchFinish(long /*batch*/, BYTE /*success*/) {}
};

class CDeviceSession : public IDispatch, public IDeviceRequests {
public:
    static constexpr DWORD kNoCookie = 0xFEFEFEFE;

    CDeviceSession();
    CDeviceSession(const CDeviceSession&) = delete;
    CDeviceSession& operator=(const CDeviceSession&) = delete;

    // The sink: AddRef and Release answer 1, QueryInterface knows IUnknown, IDispatch and the event IID.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    // Dispatches an event to its handler, each argument converted from what the event carries to what the
    // handler takes. An unknown event, one whose parameter types are unknown or declared in kinds its
    // handler cannot take, and one whose arguments cannot be converted, are accepted and ignored.
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;
    // The parameter types event `id` is declared with: the host's type library, except for the events that
    // carry their own list. False when they cannot be found.
    virtual bool EventParameterTypes(DISPID id, EventParamTypes& types);

    // Event handlers, one per event in the order of their DISPIDs 2, 5, 6, 8, 10, 11, 12, 20 to 24, 29, 40,
    // 51; the events 1, 3, 7, 30 and 50 are checked like the others and answered 0. The result goes back to
    // the session. By default the completion, task and transfer events go to the listeners (the first
    // non-zero answer wins) and the others do nothing and return 0.
    virtual long RequestComplete(long errorCode, long requestCode, bool success, SAFEARRAY** answer,
                                 LONG_PTR userData);
    virtual long UpdateConnectionStatus(short status);
    virtual long OnNotify6(long a, long b);
    // By default: ScheduleReconnect.
    virtual long UpdateConnectionParams(BSTR connection);
    virtual long TaskStart(long task, BSTR title, BSTR file, long unused);
    virtual long TaskProgress(long task, long percent, BSTR text, long step, long unused);
    virtual long TaskComplete(long task, BYTE success, long unused);
    virtual long FileXferBatchStart(long batch, BSTR title, long files, long totalKB, long unused);
    virtual long FileXferFileStart(long batch, BSTR source, BSTR destination, long sizeBytes, BYTE upload,
                                   BSTR name, long unused);
    virtual long FileXferFileProgress(long batch, long fileIndex, long files, long bytesDone, long bytesTotal,
                                      long unused);
    virtual long FileXferFileFinish(long batch, BYTE success, long unused);
    virtual long FileXferBatchFinish(long batch, BYTE success, long unused);
    virtual long OnNotify29(long a, long b, long c, long d, BSTR text, long e);
    // Puts the session's query to the user through the host GUI library: 0 (S_OK) when it was handled,
    // 1 (S_FALSE) otherwise.
    virtual long HostQuery(long a, long queryType, BSTR prompt, BSTR* answer, long b);
    virtual long OnNotify51();

    // Unsubscribes, disconnects and releases the session.
    virtual ~CDeviceSession();

    // The session's requests. Without a session component every request fails with code E_POINTER and no
    // text, and nothing is called.
    RequestResult Execute(long request, CParamBlock& input, CParamBlock* answer, long wait) override;
    RequestResult Submit(long request, CParamBlock& input, long wait, uintptr_t userData,
                         long& requestId) override;
    RequestResult ReserveDevice(long wait) override;
    RequestResult ReleaseDevice() override;
    RequestResult Cancel(long requestId, long mode) override;
    RequestResult Connect(const std::string& connection, const std::string& clientName);
    RequestResult Disconnect();
    RequestResult SetOptions(const wchar_t* options);
    // The session's last failure: its code and text ("" when it cannot be asked). Never raises.
    RequestResult LastFailure();
    void ShowStandardError(HWND window, long code);

    // Listeners are not owned; one that goes away removes itself first.
    void AddListener(ISessionListener* listener);
    void RemoveListener(ISessionListener* listener);
    // Reconnects with `connection` soon, on this thread, but never inside the calling event: the work runs
    // as an asynchronous procedure call from the alertable wait of a 10 ms thread timer. 0 when queued.
    long ScheduleReconnect(BSTR connection);
    // Owner of host queries: the foreground window when it belongs to this process, else ownerWindow, else
    // the desktop.
    HWND QueryOwner() const;

    // A text from the session as narrow text: up to its first NUL, cut to a sane length.
    static std::string SessionText(BSTR text);

    bool HasSession() const { return static_cast<bool>(m_session); }
    IUnknown* SessionObject() const { return m_session.Get(); }
    DWORD Cookie() const { return m_cookie; }

    HWND ownerWindow = nullptr;

private:
    // The outcome of a call that returned `hr` and set `result`.
    RequestResult Outcome(HRESULT hr, LONG result);
    HRESULT CreateSession();
    HRESULT Subscribe();
    // Calls `tell` on each listener, a copy of the list so that a listener may leave meanwhile.
    template <class F> long Tell(F&& tell) {
        for (ISessionListener* listener : std::vector<ISessionListener*>(m_listeners))
            tell(*listener);
        return 0;
    }
    // The same, answering the first non-zero answer.
    template <class F> long FirstAnswer(F&& ask) {
        long answer = 0;
        for (ISessionListener* listener : std::vector<ISessionListener*>(m_listeners))
            if (const long given = ask(*listener); !answer)
                answer = given;
        return answer;
    }
    void UnsubscribeAndDisconnect();
    static void CALLBACK RunReconnect(ULONG_PTR record);

    GUID m_libId;
    IID m_eventsIid;
    WORD m_libMajor = 1;
    WORD m_libMinor = 1;
    DWORD m_cookie = kNoCookie;
    CComPtr<IQuorSession2> m_session;
    std::vector<ISessionListener*> m_listeners;
    // Lets a queued reconnect find out that this object is gone.
    std::shared_ptr<int> m_life = std::make_shared<int>(0);
};
