// The control's type library as hosts see it: names, DISPIDs and parameter types of _DDorvex, in the
// 64-bit module and, when the 32-bit tree has been built, in the type library users ship.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <string>
#include <vector>

#include "DeviceSessionDouble.h"
#include "framework/Handles.h"

namespace {

const GUID kDispatchIid = {0x5d4f695a, 0xac94, 0x44f1, {0xb8, 0xe8, 0xd3, 0xf7, 0xb7, 0x71, 0x10, 0x28}};
const GUID kEventsIid = {0x16cbb4b7, 0xc0aa, 0x4f22, {0xa6, 0x97, 0x63, 0x28, 0xe4, 0xda, 0x31, 0x94}};
const GUID kControlClsid = {0x1e5f1674, 0xca8a, 0x4223, {0xba, 0x08, 0xf1, 0xce, 0x31, 0x37, 0xaf, 0x82}};

// Each method as "name #id (param vt, ...)"; a pointer's vt is written as "*" and the pointee's.
std::vector<std::string> Methods(ITypeLib* lib, const GUID& guid) {
    std::vector<std::string> out;
    ITypeInfo* info = nullptr;
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, &info), S_OK);
    if (!info || FAILED(info->GetTypeAttr(&attr)))
        return out;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f)))
            continue;
        BSTR names[16] = {};
        UINT count = 0;
        info->GetNames(f->memid, names, 16, &count);
        std::string method = NarrowFromWide(names[0] ? names[0] : L"") + " #" + std::to_string(f->memid);
        for (SHORT p = 0; p < f->cParams; ++p) {
            const TYPEDESC& t = f->lprgelemdescParam[p].tdesc;
            const std::string name = UINT(p + 1) < count && names[p + 1] ? NarrowFromWide(names[p + 1]) : "";
            method += (p ? ", " : " (") + name + " " +
                      (t.vt == VT_PTR ? "*" + std::to_string(t.lptdesc->vt) : std::to_string(t.vt));
        }
        out.push_back(method + (f->cParams ? ")" : ""));
        for (UINT n = 0; n < count; ++n)
            SysFreeString(names[n]);
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
    return out;
}

// The dispatch interface's shape, with the stream pointer's integer type as the one difference.
void CheckLibrary(ITypeLib* lib, VARTYPE streamType) {
    const std::string i2 = " *" + std::to_string(VT_I2);
    EXPECT_EQ(Methods(lib, kDispatchIid),
              (std::vector<std::string>{
                  "VNLSetEnvIDispatchViaStream #1 (pStream " + std::to_string(streamType) + ")",
                  "VNLGetWindowSizes #2 (pMinCX" + i2 + ", pMinCY" + i2 + ", pMaxCX" + i2 + ", pMaxCY" + i2 +
                      ", pPreferredCX" + i2 + ", pPreferredCY" + i2 + ")",
                  "VNLSetConnectionParameters #3 (ppszwParamerters *" + std::to_string(VT_BSTR) + ")",
                  "AboutBox #" + std::to_string(DISPID_ABOUTBOX)}));
    EXPECT_TRUE(Methods(lib, kEventsIid).empty());

    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kControlClsid, &coclass), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCONTROL);
    ASSERT_EQ(attr->cImplTypes, 2);
    coclass->ReleaseTypeAttr(attr);
    INT flags[2] = {};
    coclass->GetImplTypeFlags(0, &flags[0]);
    coclass->GetImplTypeFlags(1, &flags[1]);
    EXPECT_EQ(flags[0], IMPLTYPEFLAG_FDEFAULT);
    EXPECT_EQ(flags[1], IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    coclass->Release();
}

TEST(TypeLibTest, TheModulesTypeLibraryDescribesThePointerSizedStream) {
    ITypeLib* lib = nullptr;
    const std::wstring path = WideFromNarrow((ProgramDirectory() + "DORVEX.OCX").c_str());
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib), S_OK) << "no type library resource 1";
    CheckLibrary(lib, sizeof(void*) == 8 ? VT_I8 : VT_I4);
    lib->Release();
}

TEST(TypeLibTest, TheShipped32BitTypeLibraryTakesALong) {
    std::wstring path = L"Z:" DORVEX_WIN32_TLB;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the win32 tree has not been built";
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(attr);
    CheckLibrary(lib, VT_I4);
    lib->Release();
}

} // namespace
