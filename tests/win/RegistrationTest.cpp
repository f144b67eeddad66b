// Self-registration of DORVEX.OCX, with the registry checked after each step.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <string>

#include "DeviceSessionDouble.h"

namespace {

const char kControlClsid[] = "{1E5F1674-CA8A-4223-BA08-F1CE3137AF82}";
const char kPageClsid[] = "{64951383-E244-487E-86EA-EB6B5A5AC732}";
const char kLibId[] = "{1D9B42BD-2AB1-454B-A231-6AF07F1FDE5B}";
const char kDispatchIid[] = "{5D4F695A-AC94-44F1-B8E8-D3F7B7711028}";
const GUID kLibGuid = {0x1d9b42bd, 0x2ab1, 0x454b, {0xa2, 0x31, 0x6a, 0xf0, 0x7f, 0x1f, 0xde, 0x5b}};
const char kPluginKey[] = "Software\\Varnel\\Plugins\\Dorvex";

bool KeyExists(HKEY root, const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

std::string Text(HKEY root, const std::string& key, const char* value = nullptr) {
    char buffer[1024] = "";
    DWORD size = sizeof buffer;
    if (RegGetValueA(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return "<missing>";
    return buffer;
}

DWORD Number(HKEY root, const std::string& key, const char* value) {
    DWORD n = 0, size = sizeof n;
    if (RegGetValueA(root, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &n, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return n;
}

class RegistrationTest : public ::testing::Test {
protected:
    using Entry = HRESULT(WINAPI*)();
    void SetUp() override {
        CoInitialize(nullptr);
        path_ = ProgramDirectory() + "DORVEX.OCX";
        module_ = LoadLibraryA(path_.c_str());
        ASSERT_NE(module_, nullptr) << path_;
        register_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        unregister_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
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

    // What a container needs to create both classes; the values' spellings are the module's own table.
    void ExpectClassesRegistered() {
        const std::string c = std::string("CLSID\\") + kControlClsid;
        std::string server = Text(HKEY_CLASSES_ROOT, c + "\\InprocServer32");
        EXPECT_EQ(lstrcmpiA(server.c_str(), path_.c_str()), 0) << server;
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, c + "\\InprocServer32", "ThreadingModel"), "Apartment");
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "DORVEX.DorvexCtrl.1\\CLSID"), kControlClsid);
        EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "DORVEX.DorvexPropPage.1\\CLSID"), kPageClsid);
        ITypeLib* lib = nullptr;
        EXPECT_EQ(LoadRegTypeLib(kLibGuid, 1, 0, 0x409, &lib), S_OK);
        if (lib)
            lib->Release();
    }

    void ExpectClassesGone() {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kControlClsid));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kPageClsid));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "DORVEX.DorvexCtrl.1"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "DORVEX.DorvexPropPage.1"));
    }

    std::string path_;
    HMODULE module_ = nullptr;
    Entry register_ = nullptr, unregister_ = nullptr;
};

TEST_F(RegistrationTest, RegisteringTwiceSucceedsAndEnrolsThePluginTwice) {
    ASSERT_EQ(register_(), S_OK);
    ExpectClassesRegistered();
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kPluginKey, "ProgID"), "DORVEX.DorvexCtrl.1");
    EXPECT_EQ(Number(HKEY_LOCAL_MACHINE, kPluginKey, "Registrations"), 1u);

    ASSERT_EQ(register_(), S_OK);
    ExpectClassesRegistered();
    EXPECT_EQ(Number(HKEY_LOCAL_MACHINE, kPluginKey, "Registrations"), 2u) << "the host saw one call, not two";
}

TEST_F(RegistrationTest, UnregisteringRemovesEveryKeyItWrote) {
    ASSERT_EQ(register_(), S_OK);
    ASSERT_EQ(unregister_(), S_OK);
    ExpectClassesGone();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibId + "\\1.0"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("Interface\\") + kDispatchIid));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey)) << "the host still lists the plug-in";
}

TEST_F(RegistrationTest, UnregisteringWithoutTheTypeLibraryStopsBeforeTheClasses) {
    ASSERT_EQ(register_(), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(kLibGuid, 1, 0, 0x409, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32), S_OK);

    EXPECT_EQ(unregister_(), SELFREG_E_TYPELIB);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kControlClsid + "\\ProgID"), "DORVEX.DorvexCtrl.1");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "DORVEX.DorvexPropPage.1\\CLSID"), kPageClsid);
    EXPECT_EQ(Number(HKEY_LOCAL_MACHINE, kPluginKey, "Registrations"), 1u) << "the host was asked to withdraw";
}

TEST_F(RegistrationTest, AHostLibraryAnsweringFalseDoesNotFailRegistration) {
    SetEnvironmentVariableA("QUORLIB32_ANSWER", "false");
    ASSERT_EQ(register_(), S_OK);
    ExpectClassesRegistered();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey));
    EXPECT_EQ(unregister_(), S_OK);
    ExpectClassesGone();
}

} // namespace
