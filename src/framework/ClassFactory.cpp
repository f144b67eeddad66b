#include "framework/ClassFactory.h"
#include "framework/ComError.h"
#include "framework/Handles.h"
#include "framework/Module.h"
#include <string>

namespace {
CObjectFactory* g_factories = nullptr;

std::string GuidText(const GUID& guid) {
    wchar_t wide[64] = L"";
    StringFromGUID2(guid, wide, 64);
    return NarrowFromWide(wide);
}

std::string LoadText(int id) {
    char buffer[256] = "";
    LoadStringA(CModule::Instance(), id, buffer, sizeof buffer);
    return buffer;
}

bool SetValue(const std::string& key, const char* name, const std::string& value) {
    HKEY hkey = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hkey, nullptr))
        return false;
    CRegKey guard(hkey);
    return RegSetValueExA(hkey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool DeleteKey(const std::string& key) {
    LSTATUS status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        status = RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// The entries every in-process class has: type name, server path, threading model, ProgID.
bool RegisterCommon(const std::string& clsidKey, const std::string& clsid, const char* progId,
                    const std::string& typeName) {
    return SetValue(clsidKey, nullptr, typeName) && SetValue(clsidKey + "\\InprocServer32", nullptr, CModule::Path()) &&
           SetValue(clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment") &&
           SetValue(clsidKey + "\\ProgID", nullptr, progId) && SetValue(progId, nullptr, typeName) &&
           SetValue(std::string(progId) + "\\CLSID", nullptr, clsid);
}
} // namespace

CObjectFactory::CObjectFactory(const CLSID& clsid, Creator create, Registrar registrar)
    : m_clsid(clsid), m_create(create), m_registrar(registrar), m_next(g_factories) {
    g_factories = this;
}

HRESULT CObjectFactory::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    for (CObjectFactory* f = g_factories; f; f = f->m_next)
        if (IsEqualCLSID(clsid, f->m_clsid))
            return f->QueryInterface(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

bool CObjectFactory::UpdateRegistryAll(bool registering) {
    for (CObjectFactory* f = g_factories; f; f = f->m_next)
        if (f->m_registrar && !f->m_registrar(registering))
            return false;
    return true;
}

STDMETHODIMP CObjectFactory::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

// A static factory lives as long as the module; a reference on it keeps the module loaded.
STDMETHODIMP_(ULONG) CObjectFactory::AddRef() {
    CModule::Lock();
    return 2;
}
STDMETHODIMP_(ULONG) CObjectFactory::Release() {
    CModule::Unlock();
    return 1;
}

STDMETHODIMP CObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return ComBoundary([&] { return m_create(iid, out); });
}

STDMETHODIMP CObjectFactory::LockServer(BOOL lock) {
    lock ? CModule::Lock() : CModule::Unlock();
    return S_OK;
}

bool RegisterControlClass(const CControlClassInfo& info) {
    const std::string clsid = GuidText(*info.clsid), key = "CLSID\\" + clsid;
    char version[32], misc[32], bitmap[MAX_PATH + 16];
    wsprintfA(version, "%u.%u", info.verMajor, info.verMinor);
    wsprintfA(misc, "%lu", static_cast<unsigned long>(info.miscStatus));
    wsprintfA(bitmap, "%s, %d", CModule::Path(), info.bitmapId);
    return RegisterCommon(key, clsid, info.progId, LoadText(info.typeNameId)) && SetValue(key + "\\Control", nullptr, "") &&
           SetValue(key + "\\ToolboxBitmap32", nullptr, bitmap) && SetValue(key + "\\MiscStatus", nullptr, "0") &&
           SetValue(key + "\\MiscStatus\\1", nullptr, misc) && SetValue(key + "\\TypeLib", nullptr, GuidText(*info.libId)) &&
           SetValue(key + "\\Version", nullptr, version);
}

bool RegisterPropertyPageClass(const CLSID& clsid, const char* progId, int typeNameId) {
    const std::string text = GuidText(clsid);
    return RegisterCommon("CLSID\\" + text, text, progId, LoadText(typeNameId));
}

bool RegisterInprocClass(const CLSID& clsid, const char* progId, const char* typeName) {
    const std::string text = GuidText(clsid);
    return RegisterCommon("CLSID\\" + text, text, progId, typeName);
}

bool UnregisterClassKeys(const CLSID& clsid, const char* progId) {
    return DeleteKey("CLSID\\" + GuidText(clsid)) && DeleteKey(progId);
}
