// The control's one holder of the host's device session: it creates the session component, subscribes to
// its events and turns each event into a call of a virtual handler, keeps the result of every session
// operation, turns the session's last failure into text, answers host queries and reconnects when the
// session asks for it. It is not reference-counted as a sink: it lives exactly as long as the main window.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include "QuorSession_h.h"
#include "framework/ComPtr.h"
#include "session/EventSink.h"
#include "session/RequestCodes.h"
#include <memory>
#include <string>

// Session error codes after which a failed completion shows nothing: the user cancelled, or the
// connection is gone and the host says so itself.
constexpr long kSessionErrorCancelled = 33;
constexpr long kSessionErrorConnectionLost = 45;

class CDeviceSession : public IDispatch {
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

    // Event handlers, one per event in the order of their DISPIDs 1, 2, 3, 5, 6, 7, 8, 10, 11, 12, 20 to 24,
    // 29, 40, 50, 51, 30. The result goes back to the session; by default they do nothing and return 0.
    virtual long OnNotify1(long a, long b, long c);
    virtual long RequestComplete(long errorCode, long requestCode, bool success, SAFEARRAY** answer,
                                 LONG_PTR userData);
    virtual long OnNotify3(long a, long b, long c, long d, long e);
    virtual long UpdateConnectionStatus(short status);
    virtual long OnNotify6(long a, long b);
    virtual long OnNotify7(long a, long b);
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
    virtual long OnNotify50(long a, long b, long c);
    virtual long OnNotify51();
    virtual long OnNotify30(long a, long b);

    // Unsubscribes, disconnects and releases the session.
    virtual ~CDeviceSession();

    // The session's last failure as text ("" when there is none or it cannot be asked); `code` receives its
    // code. The text stays valid until the next call. Never raises.
    const std::string& GetErrorText(long* code = nullptr);
    void ShowStandardError(HWND window, long code);
    // Reconnects with `connection` soon, on this thread, but never inside the calling event: the work runs
    // as an asynchronous procedure call from the alertable wait of a 10 ms thread timer. 0 when queued.
    long ScheduleReconnect(BSTR connection);
    // Owner of host queries: the foreground window when it belongs to this process, else ownerWindow, else
    // the desktop.
    HWND QueryOwner() const;

    // A text from the session as narrow text: up to its first NUL, cut to a sane length.
    static std::string SessionText(BSTR text);

    // The session interface; calling through it while it is empty raises a COM error carrying E_POINTER.
    const CComPtr<IQuorSession2>& Session() const { return m_session; }
    bool HasSession() const { return static_cast<bool>(m_session); }
    DWORD Cookie() const { return m_cookie; }

    HWND ownerWindow = nullptr;
    // Receives the result of every session operation: non-zero is success.
    long lastResult = 0;

private:
    void CreateSession();
    void Subscribe();
    void UnsubscribeAndDisconnect();
    static void CALLBACK RunReconnect(ULONG_PTR record);

    GUID m_libId;
    IID m_eventsIid;
    WORD m_libMajor = 1;
    WORD m_libMinor = 1;
    DWORD m_cookie = kNoCookie;
    std::string m_text;
    CComPtr<IQuorSession2> m_session;
    // Lets a queued reconnect find out that this object is gone.
    std::shared_ptr<int> m_life = std::make_shared<int>(0);
};
