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

std::wstring OcxPath() {
    return WideFromNarrow((ProgramDirectory() + "DORVEX.OCX").c_str());
}

struct Method {
    std::wstring name;
    MEMBERID id;
    std::vector<VARTYPE> params; // VT_PTR entries carry the pointee in the high byte: VT_PTR | (t << 8)
    std::vector<std::wstring> paramNames;
};

VARTYPE Describe(const TYPEDESC& t) {
    if (t.vt == VT_PTR)
        return static_cast<VARTYPE>(VT_PTR | (t.lptdesc->vt << 8));
    return t.vt;
}

std::vector<Method> Methods(ITypeInfo* info) {
    std::vector<Method> out;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        return out;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f)))
            continue;
        Method m;
        m.id = f->memid;
        BSTR names[16] = {};
        UINT count = 0;
        info->GetNames(f->memid, names, 16, &count);
        for (UINT n = 0; n < count; ++n) {
            (n == 0 ? m.name : m.paramNames.emplace_back()) = names[n] ? names[n] : L"";
            SysFreeString(names[n]);
        }
        for (SHORT p = 0; p < f->cParams; ++p)
            m.params.push_back(Describe(f->lprgelemdescParam[p].tdesc));
        info->ReleaseFuncDesc(f);
        out.push_back(m);
    }
    info->ReleaseTypeAttr(attr);
    return out;
}

// The dispatch interface's shape, with the stream pointer's integer type as the one difference.
void CheckLibrary(ITypeLib* lib, VARTYPE streamType) {
    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kDispatchIid, &dispatch), S_OK);
    std::vector<Method> methods = Methods(dispatch);
    dispatch->Release();
    ASSERT_EQ(methods.size(), 4u);
    EXPECT_EQ(methods[0].name, L"VNLSetEnvIDispatchViaStream");
    EXPECT_EQ(methods[0].id, 1);
    EXPECT_EQ(methods[0].params, std::vector<VARTYPE>{streamType});
    EXPECT_EQ(methods[0].paramNames, std::vector<std::wstring>{L"pStream"});
    EXPECT_EQ(methods[1].name, L"VNLGetWindowSizes");
    EXPECT_EQ(methods[1].id, 2);
    EXPECT_EQ(methods[1].params, std::vector<VARTYPE>(6, VT_PTR | (VT_I2 << 8)));
    EXPECT_EQ(methods[1].paramNames, (std::vector<std::wstring>{L"pMinCX", L"pMinCY", L"pMaxCX", L"pMaxCY",
                                                                L"pPreferredCX", L"pPreferredCY"}));
    EXPECT_EQ(methods[2].name, L"VNLSetConnectionParameters");
    EXPECT_EQ(methods[2].id, 3);
    EXPECT_EQ(methods[2].params, std::vector<VARTYPE>{VT_PTR | (VT_BSTR << 8)});
    EXPECT_EQ(methods[2].paramNames, std::vector<std::wstring>{L"ppszwParamerters"});
    EXPECT_EQ(methods[3].name, L"AboutBox");
    EXPECT_EQ(methods[3].id, DISPID_ABOUTBOX);
    EXPECT_TRUE(methods[3].params.empty());

    ITypeInfo* events = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kEventsIid, &events), S_OK);
    EXPECT_TRUE(Methods(events).empty());
    events->Release();

    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kControlClsid, &coclass), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCONTROL);
    ASSERT_EQ(attr->cImplTypes, 2);
    coclass->ReleaseTypeAttr(attr);
    INT flags0 = 0, flags1 = 0;
    coclass->GetImplTypeFlags(0, &flags0);
    coclass->GetImplTypeFlags(1, &flags1);
    EXPECT_EQ(flags0, IMPLTYPEFLAG_FDEFAULT);
    EXPECT_EQ(flags1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    coclass->Release();
}

TEST(TypeLibTest, TheModulesTypeLibraryDescribesThePointerSizedStream) {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(OcxPath().c_str(), REGKIND_NONE, &lib), S_OK) << "no type library resource 1";
    CheckLibrary(lib, sizeof(void*) == 8 ? VT_I8 : VT_I4);
    lib->Release();
}

TEST(TypeLibTest, TheShipped32BitTypeLibraryTakesALong) {
#ifdef DORVEX_WIN32_TLB
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
#else
    GTEST_SKIP() << "no 32-bit type library path configured";
#endif
}

} // namespace
