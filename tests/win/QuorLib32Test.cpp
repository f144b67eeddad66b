// The plug-in registration library: the registry record it keeps and its refusing mode.
#include <gtest/gtest.h>

#include <string>

#include "session/QuorLib32.h"

namespace {

class QuorLib32Test : public testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableA("QUORLIB32_ANSWER", nullptr);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
    }
    void TearDown() override { SetUp(); }

    // The record as "ProgID/Registrations", or "none" when there is no key.
    std::string Record() const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "none";
        char progId[128] = "";
        DWORD count = 0, size = sizeof progId, countSize = sizeof count;
        RegGetValueA(key, nullptr, "ProgID", RRF_RT_REG_SZ, nullptr, progId, &size);
        RegGetValueA(key, nullptr, "Registrations", RRF_RT_REG_DWORD, nullptr, &count, &countSize);
        RegCloseKey(key);
        return std::string(progId) + "/" + std::to_string(count);
    }
    bool Register(const char* progId) const { return QuorRegisterPlugin(name_.c_str(), progId); }
    bool Unregister(const char* progId) const { return QuorUnRegisterPlugin(name_.c_str(), progId); }

    const std::string name_ = "QuorLib32Test" + std::to_string(GetCurrentProcessId());
    const std::string key_ = "Software\\Varnel\\Plugins\\" + name_;
};

// Counting two calls under one ProgID is the control's registration test.
TEST_F(QuorLib32Test, RegisteringAgainCountsEachCallAndOnlyTheOwningProgIdWithdrawsTheRecord) {
    EXPECT_TRUE(Register("TEST.PluginCtrl.1"));
    // A plug-in that moved to a new ProgID is found under the new one.
    EXPECT_TRUE(Register("TEST.PluginCtrl.2"));
    EXPECT_EQ(Record(), "TEST.PluginCtrl.2/2");
    EXPECT_FALSE(Unregister("TEST.PluginCtrl.1"));
    EXPECT_EQ(Record(), "TEST.PluginCtrl.2/2");
    // ProgIDs compare without regard to case, as COM treats them.
    EXPECT_TRUE(Unregister("test.pluginctrl.2"));
    EXPECT_EQ(Record(), "none");
    // Nothing left to withdraw is success, so unregistering twice is harmless.
    EXPECT_TRUE(Unregister("TEST.PluginCtrl.2"));
    // A fresh record starts counting again.
    ASSERT_TRUE(Register("TEST.PluginCtrl.1"));
    EXPECT_EQ(Record(), "TEST.PluginCtrl.1/1");
}

TEST_F(QuorLib32Test, RefusingLibraryAnswersFalseAndLeavesTheRegistryAlone) {
    SetEnvironmentVariableA("QUORLIB32_ANSWER", "false");
    EXPECT_FALSE(Register("TEST.PluginCtrl.1"));
    EXPECT_EQ(Record(), "none");
    SetEnvironmentVariableA("QUORLIB32_ANSWER", nullptr);
    ASSERT_TRUE(Register("TEST.PluginCtrl.1"));
    SetEnvironmentVariableA("QUORLIB32_ANSWER", "FALSE");
    EXPECT_FALSE(Unregister("TEST.PluginCtrl.1"));
    EXPECT_FALSE(Register("TEST.PluginCtrl.1"));
    EXPECT_EQ(Record(), "TEST.PluginCtrl.1/1");
    // Any other value is an ordinary library.
    SetEnvironmentVariableA("QUORLIB32_ANSWER", "true");
    EXPECT_TRUE(Unregister("TEST.PluginCtrl.1"));
    EXPECT_EQ(Record(), "none");
}

TEST_F(QuorLib32Test, RejectsTextsThatCannotNameOneRecord) {
    EXPECT_FALSE(QuorRegisterPlugin(nullptr, "TEST.PluginCtrl.1"));
    EXPECT_FALSE(Register(""));
    // A name with a separator would reach outside the plug-ins' key.
    EXPECT_FALSE(QuorRegisterPlugin((name_ + "\\Inner").c_str(), "TEST.PluginCtrl.1"));
    EXPECT_EQ(Record(), "none");
}

} // namespace
