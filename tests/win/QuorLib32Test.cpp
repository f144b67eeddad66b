// The plug-in registration library: the registry record it keeps and its refusing mode.
#include <gtest/gtest.h>

#include <string>

#include "session/QuorLib32.h"

namespace {

const char kPlugins[] = "Software\\Varnel\\Plugins";

class QuorLib32Test : public testing::Test {
protected:
    void SetUp() override {
        name_ = "QuorLib32Test" + std::to_string(GetCurrentProcessId());
        SetEnvironmentVariableA("QUORLIB32_ANSWER", nullptr);
        DeleteRecord();
    }
    void TearDown() override {
        SetEnvironmentVariableA("QUORLIB32_ANSWER", nullptr);
        DeleteRecord();
    }

    std::string KeyPath() const { return std::string(kPlugins) + "\\" + name_; }

    void DeleteRecord() const { RegDeleteTreeA(HKEY_LOCAL_MACHINE, KeyPath().c_str()); }

    bool HasRecord() const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    std::string ProgId() const {
        char value[128] = "";
        DWORD size = sizeof value;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, KeyPath().c_str(), "ProgID", RRF_RT_REG_SZ, nullptr, value,
                         &size) != ERROR_SUCCESS)
            return "<missing>";
        return value;
    }

    DWORD Registrations() const {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, KeyPath().c_str(), "Registrations", RRF_RT_REG_DWORD, nullptr,
                         &value, &size) != ERROR_SUCCESS)
            return 0;
        return value;
    }

    std::string name_;
};

TEST_F(QuorLib32Test, RegisteringAgainKeepsOneRecordAndCountsEachCall) {
    EXPECT_TRUE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_TRUE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_EQ(ProgId(), "TEST.PluginCtrl.1");
    EXPECT_EQ(Registrations(), 2u);

    // A plug-in that moved to a new ProgID is found under the new one.
    EXPECT_TRUE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.2"));
    EXPECT_EQ(ProgId(), "TEST.PluginCtrl.2");
    EXPECT_EQ(Registrations(), 3u);
}

TEST_F(QuorLib32Test, OnlyTheOwningProgIdWithdrawsTheRecord) {
    ASSERT_TRUE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));

    EXPECT_FALSE(QuorUnRegisterPlugin(name_.c_str(), "OTHER.PluginCtrl.1"));
    EXPECT_TRUE(HasRecord());

    // ProgIDs compare without regard to case, as COM treats them.
    EXPECT_TRUE(QuorUnRegisterPlugin(name_.c_str(), "test.pluginctrl.1"));
    EXPECT_FALSE(HasRecord());

    // Nothing left to withdraw is success, so unregistering twice is harmless.
    EXPECT_TRUE(QuorUnRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));

    // A fresh record starts counting again.
    ASSERT_TRUE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_EQ(Registrations(), 1u);
}

TEST_F(QuorLib32Test, RefusingLibraryAnswersFalseAndLeavesTheRegistryAlone) {
    SetEnvironmentVariableA("QUORLIB32_ANSWER", "false");
    EXPECT_FALSE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_FALSE(HasRecord());

    SetEnvironmentVariableA("QUORLIB32_ANSWER", nullptr);
    ASSERT_TRUE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));

    SetEnvironmentVariableA("QUORLIB32_ANSWER", "FALSE");
    EXPECT_FALSE(QuorUnRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_FALSE(QuorRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_EQ(Registrations(), 1u);

    // Any other value is an ordinary library.
    SetEnvironmentVariableA("QUORLIB32_ANSWER", "true");
    EXPECT_TRUE(QuorUnRegisterPlugin(name_.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_FALSE(HasRecord());
}

TEST_F(QuorLib32Test, RejectsTextsThatCannotNameOneRecord) {
    EXPECT_FALSE(QuorRegisterPlugin(nullptr, "TEST.PluginCtrl.1"));
    EXPECT_FALSE(QuorRegisterPlugin("", "TEST.PluginCtrl.1"));
    EXPECT_FALSE(QuorRegisterPlugin(name_.c_str(), nullptr));
    EXPECT_FALSE(QuorRegisterPlugin(name_.c_str(), ""));
    EXPECT_FALSE(HasRecord());

    // A name with a separator would reach outside the plug-ins' key.
    const std::string nested = name_ + "\\Inner";
    EXPECT_FALSE(QuorRegisterPlugin(nested.c_str(), "TEST.PluginCtrl.1"));
    EXPECT_FALSE(HasRecord());
}

} // namespace
