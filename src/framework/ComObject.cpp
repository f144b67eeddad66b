#include "framework/ComObject.h"
#include "framework/ComPtr.h"
#include <ole2.h>

HRESULT QITableQuery(void* object, const QITableEntry* table, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const QITableEntry* hit = nullptr;
    if (IsEqualIID(iid, IID_IUnknown))
        hit = table;
    else
        for (const QITableEntry* e = table; e->iid; ++e)
            if (IsEqualIID(iid, *e->iid)) {
                hit = e;
                break;
            }
    if (!hit || !hit->iid)
        return E_NOINTERFACE;
    auto* itf = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + hit->offset);
    itf->AddRef();
    *out = itf;
    return S_OK;
}

HRESULT CreateRunningObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    CComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  IID_PPV_ARGS(&unknown));
    if (SUCCEEDED(hr))
        hr = OleRun(unknown.Get());
    if (SUCCEEDED(hr))
        hr = unknown->QueryInterface(iid, out);
    return hr;
}
