// Self-registration of DORVEX.OCX, with the registry checked after each step.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <string>

#include "DeviceSessionDouble.h"

namespace {

const std::string kControl = "CLSID\\{1E5F1674-CA8A-4223-BA08-F1CE3137AF82}";
const std::string kPage = "CLSID\\{64951383-E244-487E-86EA-EB6B5A5AC732}";
const GUID kLibGuid = {0x1d9b42bd, 0x2ab1, 0x454b, {0xa2, 0x31, 0x6a, 0xf0, 0x7f, 0x1f, 0xde, 0x5b}};
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
        EXPECT_EQ(LoadRegTypeLib(kLibGuid, 1, 0, 0x409, &lib) == S_OK, registered);
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
    ASSERT_EQ(UnRegisterTypeLib(kLibGuid, 1, 0, 0x409, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32), S_OK);
    EXPECT_EQ(unregister_(), SELFREG_E_TYPELIB);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kControl + "\\ProgID"), "DORVEX.DorvexCtrl.1");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "DORVEX.DorvexPropPage.1\\CLSID"));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPluginKey, "Registrations"), "1")
        << "the host was asked to withdraw";
}

} // namespace
