// The connect sequence of the whole system: the control in the system's container and the real session
// component over temporary device folders, so the events the component really fires are the ones the
// control understands. The control's classes are those of the module, hosted from this program so the
// test can look at what the main window keeps. The outcomes of a failed check and of a device asking for
// another address are proven on each side separately: the control's in MainWndTest, the component's in
// the session component's tests.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "SessionHost.h"
#include "mainwnd/DorvexWnd.h"
#include "module/DorvexCtrl.h"
#include "paramblock/ParamBlock.h"
#include "Dorvex_h.h"

#include <algorithm>
#include <memory>

namespace {

using Patterns = std::list<std::string>;

const std::vector<std::wstring> kEnvironmentMethods = {
    L"VNLENVUpdateConnectionStatus", L"VNLENVUpdateConnectionParams", L"VNLENVLaunchPlugin",
    L"VNLENVSetPluginWindowSize",    L"VNLENVGetCurrentAddress",      L"VNLENVShowFrameFooter",
    L"VNLENVAppendToWindowTitle",    L"VNLENVSetWindowTitleTool"};

// The control class served from this program, so that the container creates the linked classes.
class CLinkedControlFactory : public IClassFactory {
public:
    HRESULT Register() {
        return CoRegisterClassObject(CLSID_Dorvex, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
    }
    void Revoke() {
        if (m_cookie)
            CoRevokeClassObject(m_cookie);
        m_cookie = 0;
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : CDorvexCtrl::CreateInstance(iid, out);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    DWORD m_cookie = 0;
};

// The environment calls as "Name(value)", in order.
std::vector<std::wstring> Calls(const CRecordingEnvironment& environment) {
    std::vector<std::wstring> calls;
    for (const auto& call : environment.calls)
        calls.push_back(call.name + L"(" + (call.args.empty() ? L"" : call.args[0].value) + L")");
    return calls;
}

class SessionEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        ASSERT_EQ(factory.Register(), S_OK);
        ASSERT_TRUE(host.Open()) << "the container could not create the control";
        IOleObject* object = nullptr;
        ASSERT_EQ(host.Control()->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
        control = static_cast<CDorvexCtrl*>(object);
        object->Release();
        ASSERT_NE(control->MainWindow(), nullptr);
        ASSERT_TRUE(control->MainWindow()->HasSession()) << "no session component registered";
        ASSERT_EQ(host.GiveEnvironment(&environment), S_OK);
        ASSERT_EQ(host.ShowAtPreferredSize(), S_OK);
    }
    void TearDown() override {
        host.Close();
        factory.Revoke();
        prompts.VerifyDone();
        OleUninitialize();
    }
    CDorvexWnd& Main() { return *control->MainWindow(); }

    // The names of the device's root directory, as the control's own session lists it.
    std::vector<std::string> RootEntries() {
        CParamBlock input, output;
        input.At(0).SetText("\\");
        Main().Session()->Execute(0x1009, input.ExportArray(), output.ExportArray(), 5000, 0,
                                  &Main().lastResult);
        std::vector<std::string> names;
        for (size_t i = 0; i < output.Count(); ++i)
            if (output.At(i).Kind() == PK_RECORD5)
                names.emplace_back(reinterpret_cast<const char*>(output.At(i).Data()));
        std::sort(names.begin(), names.end());
        return names;
    }

    CTwoDevices devices;
    const CTempFolder& deviceA = devices.a;
    const CTempFolder& deviceB = devices.b;
    CScriptedPrompts prompts;
    CRecordingEnvironment environment{kEnvironmentMethods};
    CLinkedControlFactory factory;
    CContainerHost host;
    CDorvexCtrl* control = nullptr;
    std::vector<SeenMessage> seen;
};

TEST_F(SessionEndToEnd, ConnectingReportsTheStatusFetchesTheDevicesPatternsAndFillsTheTree) {
    ASSERT_EQ(host.Connect(deviceA.Path() + ";firmware=*.fwq|*.fwr;program=*.prq;displaylist=*.dlq"), S_OK);
    ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, 1, 5000)) << "the tree was never asked for its roots";
    Pump(
        3000, [&] { return !Main().DisplayListPatterns().empty(); }, &seen);
    EXPECT_EQ(Main().FirmwarePatterns(), (Patterns{"*.fwq", "*.fwr"}));
    EXPECT_EQ(Main().ProgramPatterns(), Patterns{"*.prq"});
    EXPECT_EQ(Main().DisplayListPatterns(), Patterns{"*.dlq"});
    const auto calls = Calls(environment);
    EXPECT_NE(std::find(calls.begin(), calls.end(), L"VNLENVUpdateConnectionStatus(1)"), calls.end());
    EXPECT_EQ(RootEntries(), (std::vector<std::string>{"SYS", "cf0"}));

    // The next device: the patterns are the new device's alone, and the session is on that device.
    ASSERT_EQ(host.Connect(deviceB.Path()), S_OK);
    ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, 2, 5000));
    Pump(
        3000, [&] { return !Main().DisplayListPatterns().empty(); }, &seen);
    EXPECT_EQ(Main().FirmwarePatterns(), (Patterns{"*.fwx", "*.fwb"}));
    EXPECT_EQ(Main().ProgramPatterns(), Patterns{"*.prgx"});
    EXPECT_EQ(Main().DisplayListPatterns(), Patterns{"*.dlx"});
    EXPECT_EQ(RootEntries(), (std::vector<std::string>{"USER", "nvram"}));
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SessionEndToEnd, ADeviceThatFailsTheCheckShowsTheSessionsTextThenTheStandardError) {
    prompts.ExpectBox("*", "Error", MB_OK | MB_ICONEXCLAMATION);
    SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", nullptr);
    CBoxCloser display("Error");
    ASSERT_EQ(host.Connect(deviceA.Path() + ";checkfail"), S_OK);
    Pump(
        5000, [&] { return display.Closed(); }, &seen);
    SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
    prompts.VerifyDone();
    ASSERT_EQ(prompts.shown.size(), 1u);
    const std::string sessionText = prompts.shown[0];
    EXPECT_FALSE(sessionText.empty()) << "the failure box said nothing";
    EXPECT_NE(display.text.find(sessionText), std::string::npos) << display.text;
    EXPECT_NE(display.text.find("5"), std::string::npos)
        << "the standard error names the check's code: " << display.text;
    Pump(100, nullptr, &seen);
    EXPECT_FALSE(WaitForFillRoots(host.Tree(), seen, 1, 0)) << "a failed check went on to the tree";
    EXPECT_EQ(Main().FirmwarePatterns(), Patterns{});
}

TEST_F(SessionEndToEnd, ADeviceAskingForAnotherAddressIsReconnectedAndTheHostHearsTheNewText) {
    ASSERT_EQ(host.Connect(deviceA.Path() + ";moveto=" + deviceB.Path()), S_OK);
    ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, 1, 5000));
    const std::wstring moved =
        L"VNLENVUpdateConnectionParams(" + std::wstring(deviceB.Path().begin(), deviceB.Path().end()) + L")";
    Pump(
        3000,
        [&] {
            const auto calls = Calls(environment);
            auto params = std::find(calls.begin(), calls.end(), moved);
            return params != calls.end() &&
                   std::find(params, calls.end(), L"VNLENVUpdateConnectionStatus(1)") != calls.end();
        },
        &seen);
    const auto calls = Calls(environment);
    auto params = std::find(calls.begin(), calls.end(), moved);
    ASSERT_NE(params, calls.end()) << "the host never heard the new address";
    EXPECT_NE(std::find(params, calls.end(), L"VNLENVUpdateConnectionStatus(1)"), calls.end())
        << "no connection after the move";
    EXPECT_EQ(RootEntries(), (std::vector<std::string>{"USER", "nvram"})) << "the session did not move";
    Pump(200, nullptr, &seen);
    EXPECT_FALSE(WaitForFillRoots(host.Tree(), seen, 2, 0))
        << "a reconnect the device asked for is not checked again";
}

} // namespace
