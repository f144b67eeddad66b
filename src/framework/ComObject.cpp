#include "framework/ComObject.h"

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
