// Plain reference counting and a static interface table for QueryInterface, and the creation of another
// server's object.
#pragma once
#include "framework/Module.h"
#include <cstddef>
#include <unknwn.h>

struct QITableEntry {
    const IID* iid; // null ends the table
    std::ptrdiff_t offset;
};

// Offset of interface base I inside class C, for table entries.
template <class I, class C> std::ptrdiff_t InterfaceOffset() {
    alignas(C) static char probe[sizeof(C)];
    C* c = reinterpret_cast<C*>(probe);
    return reinterpret_cast<char*>(static_cast<I*>(c)) - reinterpret_cast<char*>(c);
}
#define QI_ENTRY(Class, Itf) {&IID_##Itf, InterfaceOffset<Itf, Class>()}
// An interface reached through one of its derived interfaces (IOleWindow through IOleInPlaceObject).
#define QI_ENTRY2(Class, Itf, Via) {&IID_##Itf, InterfaceOffset<Via, Class>()}
#define QI_END {nullptr, 0}

// IUnknown is always answered with the first entry's interface.
HRESULT QITableQuery(void* object, const QITableEntry* table, REFIID iid, void** out);

// Base of every heap COM object of the module: counts live objects for DllCanUnloadNow.
class CComObjectBase {
protected:
    CComObjectBase() { CModule::ObjectCreated(); }
    virtual ~CComObjectBase() { CModule::ObjectDestroyed(); }
    ULONG InternalAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG InternalRelease() {
        LONG n = InterlockedDecrement(&m_refs);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }

private:
    LONG m_refs = 1; // the creator holds the first reference
};

// Creates the object of class `clsid` wherever it is served (in process, through a handler or in a local
// server), puts it in its running state and asks it for `iid`. The first step's failure, or S_OK.
HRESULT CreateRunningObject(REFCLSID clsid, REFIID iid, void** out);

// The three IUnknown methods of a class derived from CComObjectBase with a static QI table.
#define DECLARE_IUNKNOWN(Table)                                                                              \
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return QITableQuery(this, Table, iid, out); } \
    STDMETHODIMP_(ULONG) AddRef() override { return InternalAddRef(); }                                      \
    STDMETHODIMP_(ULONG) Release() override { return InternalRelease(); }
