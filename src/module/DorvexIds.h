// Identifiers of the module's classes and type library (the generated type-library header has the
// ones the library describes; the property page is the module's own).
#pragma once
#include <windows.h>
#include <ole2.h>
#include "Dorvex_h.h"

// {64951383-E244-487E-86EA-EB6B5A5AC732}
extern const CLSID CLSID_DorvexPropPage;

constexpr WORD kDorvexLibMajor = 1;
constexpr WORD kDorvexLibMinor = 0;
constexpr DWORD kDorvexMiscStatus = 0x20191;
constexpr const char* kControlProgId = "DORVEX.DorvexCtrl.1";
constexpr const char* kPropPageProgId = "DORVEX.DorvexPropPage.1";
constexpr const char* kPluginName = "Dorvex";
