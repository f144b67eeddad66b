// Object factories: one static object per creatable class, found by CLSID for DllGetClassObject and
// asked to write or remove its registry entries for DllRegisterServer / DllUnregisterServer.
#pragma once
#include <unknwn.h>

class CObjectFactory : public IClassFactory {
public:
    using Creator = HRESULT (*)(REFIID iid, void** out);
    using Registrar = bool (*)(bool registering);

    // Factories are static objects; they chain themselves into the module's list.
    CObjectFactory(const CLSID& clsid, Creator create, Registrar registrar);

    static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
    // Runs every factory's registrar; false as soon as one fails.
    static bool UpdateRegistryAll(bool registering);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    const CLSID& m_clsid;
    Creator m_create;
    Registrar m_registrar;
    CObjectFactory* m_next;
};

// Registry entries of the two kinds of class a control module carries.
struct CControlClassInfo {
    const CLSID* clsid;
    const char* progId;
    int typeNameId;   // string resource with the class's type name
    int bitmapId;     // container palette bitmap
    DWORD miscStatus; // OLEMISC_* flags
    const GUID* libId;
    WORD verMajor, verMinor;
};
bool RegisterControlClass(const CControlClassInfo& info);
bool RegisterPropertyPageClass(const CLSID& clsid, const char* progId, int typeNameId);
// A plain in-process class (an automation server, not a control): type name, server path, threading
// model, ProgID.
bool RegisterInprocClass(const CLSID& clsid, const char* progId, const char* typeName);
// Removes the CLSID and ProgID keys; keys already gone count as removed.
bool UnregisterClassKeys(const CLSID& clsid, const char* progId);
