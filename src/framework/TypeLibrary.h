// The type library a module carries as its resource 1, its registration, and how its types read as
// VARIANT types.
#pragma once
#include <windows.h>
#include <oleauto.h>

HRESULT LoadModuleTypeLib(ITypeLib** lib);
HRESULT RegisterModuleTypeLib();
// Removes the registration of libId major.minor for the locale and platform the library was built for.
HRESULT UnregisterModuleTypeLib(const GUID& libId, WORD major, WORD minor);

// The VARIANT type of a parameter described by `desc` in `info`: aliases followed, an enumeration as a
// long, a pointer as VT_BYREF, a SAFEARRAY as VT_ARRAY, int and pointer-sized integers as their fixed
// sizes. False for what a VARIANT cannot carry; the depth bound keeps a malformed library from recursing
// without end.
bool VarTypeOfTypeDesc(ITypeInfo* info, const TYPEDESC& desc, VARTYPE& out, int depth = 0);
