#include "framework/ConnectionPoint.h"

#include "framework/Handles.h"
#include "framework/Module.h"

#include <olectl.h>

CEventArgs::~CEventArgs() {
    for (VARIANTARG& arg : m_args)
        if (V_VT(&arg) == VT_BSTR)
            SysFreeString(V_BSTR(&arg));
}

VARIANTARG& CEventArgs::Add(VARTYPE type) {
    VARIANTARG arg;
    VariantInit(&arg);
    V_VT(&arg) = type;
    m_args.push_back(arg);
    return m_args.back();
}

CEventArgs& CEventArgs::Long(long value) {
    V_I4(&Add(VT_I4)) = value;
    return *this;
}

CEventArgs& CEventArgs::Short(short value) {
    V_I2(&Add(VT_I2)) = value;
    return *this;
}

CEventArgs& CEventArgs::Bool(bool value) {
    V_BOOL(&Add(VT_BOOL)) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
}

CEventArgs& CEventArgs::Byte(BYTE value) {
    V_UI1(&Add(VT_UI1)) = value;
    return *this;
}

CEventArgs& CEventArgs::Text(const std::string& narrow) {
    BSTR text = SysAllocString(WideFromNarrow(narrow.c_str()).c_str());
    if (!text)
        throw std::bad_alloc();
    V_BSTR(&Add(VT_BSTR)) = text;
    return *this;
}

CEventArgs& CEventArgs::PointerSized(LONG_PTR value) {
#ifdef _WIN64
    V_I8(&Add(VT_I8)) = value;
#else
    V_I4(&Add(VT_I4)) = value;
#endif
    return *this;
}

CEventArgs& CEventArgs::ByteArrayRef(SAFEARRAY** slot) {
    V_ARRAYREF(&Add(VT_ARRAY | VT_UI1 | VT_BYREF)) = slot;
    return *this;
}

CEventArgs& CEventArgs::TextRef(BSTR* slot) {
    V_BSTRREF(&Add(VT_BSTR | VT_BYREF)) = slot;
    return *this;
}

DISPPARAMS CEventArgs::Params() {
    m_reversed.assign(m_args.rbegin(), m_args.rend());
    return {m_reversed.data(), nullptr, static_cast<UINT>(m_reversed.size()), 0};
}

CConnectionPoint::CConnectionPoint(IConnectionPointContainer* container, const IID& events)
    : m_container(container), m_events(events) {}

CConnectionPoint::~CConnectionPoint() = default;

STDMETHODIMP CConnectionPoint::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CConnectionPoint::AddRef() {
    return m_container->AddRef();
}
STDMETHODIMP_(ULONG) CConnectionPoint::Release() {
    return m_container->Release();
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid)
        return E_POINTER;
    *iid = m_events;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container)
        return E_POINTER;
    *container = m_container;
    m_container->AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    return ComBoundary([&]() -> HRESULT {
        if (!sink || !cookie)
            return E_POINTER;
        *cookie = 0;
        // Sinks are called through IDispatch; one that knows the event interface by its IID is preferred.
        CComPtr<IDispatch> dispatch;
        if (FAILED(sink->QueryInterface(m_events, reinterpret_cast<void**>(&dispatch))) || !dispatch)
            if (FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch))) || !dispatch)
                return CONNECT_E_CANNOTCONNECT;
        m_sinks.emplace_back(m_nextCookie, std::move(dispatch));
        *cookie = m_nextCookie++;
        return S_OK;
    });
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD cookie) {
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it)
        if (it->first == cookie) {
            CComPtr<IDispatch> sink = std::move(it->second); // released after the list is consistent
            m_sinks.erase(it);
            return S_OK;
        }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

std::vector<CComPtr<IDispatch>> CConnectionPoint::Sinks() const {
    std::vector<CComPtr<IDispatch>> sinks;
    for (const auto& entry : m_sinks)
        sinks.push_back(entry.second);
    return sinks;
}

HRESULT CConnectionPoint::Call(IDispatch* sink, DISPID id, CEventArgs& args, VARIANT* result) {
    DISPPARAMS params = args.Params();
    EXCEPINFO exception = {};
    UINT badArgument = 0;
    const HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                                    &exception, &badArgument);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return hr;
}

long CConnectionPoint::Fire(DISPID id, CEventArgs& args) {
    long answer = 0;
    for (const CComPtr<IDispatch>& sink : Sinks()) {
        CVariant result;
        if (SUCCEEDED(Call(sink.Get(), id, args, &result)) && answer == 0 &&
            SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4)))
            answer = V_I4(&result);
    }
    return answer;
}

HRESULT CSinglePointEnum::Create(IConnectionPoint* point, bool atEnd, IEnumConnectionPoints** out) {
    if (!out)
        return E_POINTER;
    *out = new (std::nothrow) CSinglePointEnum(point, atEnd);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CSinglePointEnum::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumConnectionPoints)) {
        *out = static_cast<IEnumConnectionPoints*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CSinglePointEnum::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) CSinglePointEnum::Release() {
    const LONG n = InterlockedDecrement(&m_refs);
    if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP CSinglePointEnum::Next(ULONG count, IConnectionPoint** points, ULONG* fetched) {
    if (!points || (count > 1 && !fetched))
        return E_POINTER;
    ULONG n = 0;
    if (count > 0 && !m_atEnd) {
        points[0] = m_point.Get();
        points[0]->AddRef();
        m_atEnd = true;
        n = 1;
    }
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP CSinglePointEnum::Skip(ULONG count) {
    if (count == 0)
        return S_OK;
    const bool had = !m_atEnd;
    m_atEnd = true;
    return had && count == 1 ? S_OK : S_FALSE;
}

STDMETHODIMP CSinglePointEnum::Reset() {
    m_atEnd = false;
    return S_OK;
}

STDMETHODIMP CSinglePointEnum::Clone(IEnumConnectionPoints** out) {
    return Create(m_point.Get(), m_atEnd, out);
}
