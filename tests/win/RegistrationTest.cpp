// The module as installers and hosts see it: its self-registration with the registry checked after each
// step, the host library's plug-in record it writes, its type library, and the resources no other test opens.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <string>
#include <vector>

#include "DeviceSessionDouble.h"
#include "browser/resource.h"
#include "framework/Handles.h"
#include "module/DorvexIds.h"

namespace {

const std::string kControl = "CLSID\\{1E5F1674-CA8A-4223-BA08-F1CE3137AF82}";
const std::string kPage = "CLSID\\{64951383-E244-487E-86EA-EB6B5A5AC732}";
const char kPluginKey[] = "Software\\Varnel\\Plugins\\Dorvex";

// A key's value as text (a number in decimal), or "<missing>".
std::string Value(HKEY root, const std::string& key, const char* value = nullptr) {
    char buffer[1024] = "";
    DWORD size = sizeof buffer, type = 0;
    if (RegGetValueA(root, key.c_str(), value, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, buffer, &size))
        return "<missing>";
    return type == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(buffer)) : buffer;
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY h = nullptr;
    const bool found = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS;
    if (found)
        RegCloseKey(h);
    return found;
}

class RegistrationTest : public ::testing::Test {
protected:
    using Entry = HRESULT(WINAPI*)();
    void SetUp() override {
        CoInitialize(nullptr);
        module_ = LoadLibraryA(path_.c_str());
        ASSERT_NE(module_, nullptr) << path_;
        register_ =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregister_ =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
        ASSERT_TRUE(register_ && unregister_);
        // Start from nothing registered and no host record.
        unregister_();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kPluginKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPluginKey);
    }
    void TearDown() override {
        SetEnvironmentVariableA("QUORLIB32_ANSWER", nullptr);
        // Other tests of the tree rely on the module being registered.
        if (register_)
            register_();
        CoUninitialize();
    }

    // What a container needs to create both classes, or none of it.
    void ExpectClasses(bool registered) {
        const std::string server = Value(HKEY_CLASSES_ROOT, kControl + "\\InprocServer32");
        EXPECT_EQ(lstrcmpiA(server.c_str(), (registered ? path_ : "<missing>").c_str()), 0) << server;
        const auto expected = [&](const std::string& value) { return registered ? value : "<missing>"; };
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kControl + "\\InprocServer32", "ThreadingModel"),
                  expected("Apartment"));
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "DORVEX.DorvexCtrl.1\\CLSID"), expected(kControl.substr(6)));
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "DORVEX.DorvexPropPage.1\\CLSID"), expected(kPage.substr(6)));
        ITypeLib* lib = nullptr;
        EXPECT_EQ(LoadRegTypeLib(LIBID_DORVEXLib, 1, 0, 0x409, &lib) == S_OK, registered);
        if (lib)
            lib->Release();
        for (const std::string& key :
             {kControl, kPage, std::string("DORVEX.DorvexCtrl.1"), std::string("DORVEX.DorvexPropPage.1"),
              std::string("TypeLib\\{1D9B42BD-2AB1-454B-A231-6AF07F1FDE5B}\\1.0"),
              std::string("Interface\\{5D4F695A-AC94-44F1-B8E8-D3F7B7711028}")})
            EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, key), registered) << key;
    }

    const std::string path_ = ProgramDirectory() + "DORVEX.OCX";
    HMODULE module_ = nullptr;
    Entry register_ = nullptr, unregister_ = nullptr;
};

TEST_F(RegistrationTest, EnrolsOncePerCallUnregisteringRemovesEveryKeyAndARefusingHostFailsNeither) {
    ASSERT_EQ(register_(), S_OK);
    ExpectClasses(true);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPluginKey, "ProgID"), "DORVEX.DorvexCtrl.1");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPluginKey, "Registrations"), "1");
    ASSERT_EQ(register_(), S_OK);
    ExpectClasses(true);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPluginKey, "Registrations"), "2")
        << "the host saw one call, not two";

    ASSERT_EQ(unregister_(), S_OK);
    ExpectClasses(false);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey)) << "the host still lists the plug-in";

    // A host library answering false fails neither step.
    SetEnvironmentVariableA("QUORLIB32_ANSWER", "false");
    ASSERT_EQ(register_(), S_OK);
    ExpectClasses(true);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey));
    EXPECT_EQ(unregister_(), S_OK);
    ExpectClasses(false);
}

TEST_F(RegistrationTest, UnregisteringWithoutTheTypeLibraryStopsBeforeTheClasses) {
    ASSERT_EQ(register_(), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(LIBID_DORVEXLib, 1, 0, 0x409, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32),
              S_OK);
    EXPECT_EQ(unregister_(), SELFREG_E_TYPELIB);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kControl + "\\ProgID"), "DORVEX.DorvexCtrl.1");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "DORVEX.DorvexPropPage.1\\CLSID"));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPluginKey, "Registrations"), "1")
        << "the host was asked to withdraw";
}

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

// The type library in the file at `path`: its system, and the dispatch interface's names, DISPIDs and
// parameter types as hosts see them, with the stream pointer's integer type as the one difference.
void CheckLibrary(const std::wstring& path, SYSKIND kind, VARTYPE streamType) {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib), S_OK) << "no type library resource 1";
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
    EXPECT_EQ(libAttr->syskind, kind);
    lib->ReleaseTLibAttr(libAttr);
    const std::string i2 = " *" + std::to_string(VT_I2);
    EXPECT_EQ(Methods(lib, DIID__DDorvex),
              (std::vector<std::string>{
                  "VNLSetEnvIDispatchViaStream #1 (pStream " + std::to_string(streamType) + ")",
                  "VNLGetWindowSizes #2 (pMinCX" + i2 + ", pMinCY" + i2 + ", pMaxCX" + i2 + ", pMaxCY" + i2 +
                      ", pPreferredCX" + i2 + ", pPreferredCY" + i2 + ")",
                  "VNLSetConnectionParameters #3 (ppszwParamerters *" + std::to_string(VT_BSTR) + ")",
                  "AboutBox #" + std::to_string(DISPID_ABOUTBOX)}));
    EXPECT_TRUE(Methods(lib, DIID__DDorvexEvents).empty());

    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Dorvex, &coclass), S_OK);
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
    lib->Release();
}

TEST(TypeLibTest, TheModulesTypeLibraryDescribesThePointerSizedStream) {
    CheckLibrary(WideFromNarrow((ProgramDirectory() + "DORVEX.OCX").c_str()),
                 sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, sizeof(void*) == 8 ? VT_I8 : VT_I4);
}

// The type library users ship, when the 32-bit tree has been built (only 64-bit programs run here).
TEST(TypeLibTest, TheShipped32BitTypeLibraryTakesALong) {
    const std::wstring path = L"Z:" DORVEX_WIN32_TLB;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the win32 tree has not been built";
    CheckLibrary(path, SYS_WIN32, VT_I4);
}

// The about box's icon and the toolbox bitmap. The list's and the tree's icons are counted in the browser
// test, the version block is read by the packaging, the property page is shown in the control object test.
TEST(ResourcesTest, TheAboutIconAndTheToolboxBitmapAreInTheModule) {
    HMODULE module =
        LoadLibraryExA((ProgramDirectory() + "DORVEX.OCX").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, 16, 16, 0));
    EXPECT_NE(icon, nullptr);
    if (icon)
        DestroyIcon(icon);
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(32000), MAKEINTRESOURCEA(2) /* RT_BITMAP */), nullptr);

    // The views' icons carry an image drawn for each small-icon size (96 to 192 DPI): the system's choice
    // for each size is an image of exactly that size, and one with pixels (its mask not all transparent).
    auto resource = [&](LPCSTR name, LPCSTR type) {
        HRSRC found = FindResourceA(module, name, type);
        return found ? static_cast<BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    };
    for (int iconId : {IDI_FOLDER, IDI_FOLDER_OPEN, IDI_DOCUMENT, IDI_DRIVE})
        for (int size : {16, 20, 24, 32}) {
            SCOPED_TRACE("icon " + std::to_string(iconId) + " at " + std::to_string(size));
            BYTE* directory = resource(MAKEINTRESOURCEA(iconId), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
            ASSERT_NE(directory, nullptr);
            const int imageId = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
            const auto* image = reinterpret_cast<const BITMAPINFOHEADER*>(
                resource(MAKEINTRESOURCEA(imageId), MAKEINTRESOURCEA(3) /* RT_ICON */));
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(image->biWidth, size);
            // 4 bits a pixel after the header and 16 colours, then the mask's rows of 32 bits (0: drawn).
            const BYTE* mask = reinterpret_cast<const BYTE*>(image + 1) + 16 * 4 + size * size / 2;
            int drawn = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    drawn += !(mask[y * 4 + x / 8] & (0x80 >> (x % 8)));
            EXPECT_GT(drawn, size * size / 4);
        }
    FreeLibrary(module);
}

} // namespace
