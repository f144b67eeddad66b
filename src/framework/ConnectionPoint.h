// A connection point for one event interface: the advised sinks and the calls that reach them through
// IDispatch::Invoke. It lives inside its container (a control, a session) and shares its lifetime.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "framework/ComPtr.h"

#include <string>
#include <utility>
#include <vector>

// The arguments of one event call, in the order the event declares them. Owns the BSTRs it makes; the
// by-reference slots stay the caller's.
class CEventArgs {
public:
    CEventArgs() = default;
    CEventArgs(const CEventArgs&) = delete;
    CEventArgs& operator=(const CEventArgs&) = delete;
    ~CEventArgs();

    CEventArgs& Long(long value);
    CEventArgs& Short(short value);
    CEventArgs& Bool(bool value);
    CEventArgs& Byte(BYTE value);
    CEventArgs& Text(const std::string& narrow);
    // A pointer-sized integer, as the type library declares LONG_PTR for this platform.
    CEventArgs& PointerSized(LONG_PTR value);
    CEventArgs& ByteArrayRef(SAFEARRAY** slot);
    CEventArgs& TextRef(BSTR* slot);

    // Invoke wants the last argument first.
    DISPPARAMS Params();

private:
    VARIANTARG& Add(VARTYPE type);
    std::vector<VARIANTARG> m_args;
    std::vector<VARIANTARG> m_reversed;
};

class CConnectionPoint : public IConnectionPoint {
public:
    CConnectionPoint(IConnectionPointContainer* container, const IID& events);
    ~CConnectionPoint();
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    // Enumeration is optional for a connection point; nothing that uses the session needs it.
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    const IID& EventsIid() const { return m_events; }
    // The sinks as they are now, each held: a sink may unadvise while it is being called.
    std::vector<CComPtr<IDispatch>> Sinks() const;
    // Calls every sink; the first non-zero long that a sink returns (0 when none does).
    long Fire(DISPID id, CEventArgs& args);
    // Calls one sink; its HRESULT, with its return value in `result`.
    static HRESULT Call(IDispatch* sink, DISPID id, CEventArgs& args, VARIANT* result);
    void UnadviseAll() { m_sinks.clear(); }

private:
    IConnectionPointContainer* m_container; // not held: it owns this point
    IID m_events;
    std::vector<std::pair<DWORD, CComPtr<IDispatch>>> m_sinks;
    DWORD m_nextCookie = 1;
};

// IConnectionPointContainer::EnumConnectionPoints for a container with one point.
class CSinglePointEnum final : public IEnumConnectionPoints {
public:
    static HRESULT Create(IConnectionPoint* point, bool atEnd, IEnumConnectionPoints** out);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumConnectionPoints** out) override;

private:
    CSinglePointEnum(IConnectionPoint* point, bool atEnd) : m_point(point), m_atEnd(atEnd) {}
    ~CSinglePointEnum() = default;
    LONG m_refs = 1;
    CComPtr<IConnectionPoint> m_point;
    bool m_atEnd;
};
