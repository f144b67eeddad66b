// The type library a module carries as its resource 1, and its registration.
#pragma once
#include <windows.h>
#include <oleauto.h>

HRESULT LoadModuleTypeLib(ITypeLib** lib);
HRESULT RegisterModuleTypeLib();
// Removes the registration of libId major.minor for the locale and platform the library was built for.
HRESULT UnregisterModuleTypeLib(const GUID& libId, WORD major, WORD minor);
