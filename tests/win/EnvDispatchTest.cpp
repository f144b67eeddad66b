// The host environment calls: InvokeByName's argument order and type rules and its three failures, the
// environment's arrival through a marshalled stream, the eight operations as the host receives them, and
// the launch fallback through the host application object.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "MainWindowFixture.h"
#include "framework/Handles.h"
#include "hostenv/EnvDispatch.h"
#include "hostenv/HostApplication.h"
#include "hostenv/HostedSession.h"

#include <memory>

namespace {

const std::vector<std::wstring> kEnvironmentMethods = {
    L"VNLENVUpdateConnectionStatus", L"VNLENVUpdateConnectionParams", L"VNLENVLaunchPlugin",
    L"VNLENVSetPluginWindowSize",    L"VNLENVGetCurrentAddress",      L"VNLENVShowFrameFooter",
    L"VNLENVAppendToWindowTitle",    L"VNLENVSetWindowTitleTool",     L"Method"};

// The types of a recorded call's arguments, in the method's parameter order.
std::vector<VARTYPE> TypesOf(const CRecordingEnvironment::Call& call) {
    std::vector<VARTYPE> types;
    for (auto it = call.args.rbegin(); it != call.args.rend(); ++it)
        types.push_back(it->type);
    return types;
}

std::vector<std::wstring> ValuesOf(const CRecordingEnvironment::Call& call) {
    std::vector<std::wstring> values;
    for (auto it = call.args.rbegin(); it != call.args.rend(); ++it)
        values.push_back(it->value);
    return values;
}

// The host application object as the host registers it; records the command line it is given.
class CHostApplicationDouble : public IHostApplication, public IClassFactory {
public:
    std::wstring commandLine;
    HRESULT answer = S_OK;
    bool offerInterface = true;
    int launches = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || (offerInterface && IsEqualIID(iid, kIidHostApplication)))
            *out = static_cast<IHostApplication*>(this);
        else if (IsEqualIID(iid, IID_IClassFactory))
            *out = static_cast<IClassFactory*>(this);
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    STDMETHODIMP RunCommandLine(BSTR line, long* value) override {
        ++launches;
        commandLine = line ? line : L"<null>";
        *value = 4242;
        return answer;
    }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID iid, void** out) override {
        return QueryInterface(iid, out);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

// Also serves the session class and the host application object, for the session holder's calls.
class EnvDispatchTest : public ScriptedSessionFixture {
protected:
    void SetUp() override {
        ScriptedSessionFixture::SetUp();
        ASSERT_EQ(CoRegisterClassObject(kClsidHostApplication, static_cast<IClassFactory*>(&application),
                                        CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                        &cookie),
                  S_OK);
    }
    void TearDown() override {
        CoRevokeClassObject(cookie);
        ScriptedSessionFixture::TearDown();
    }
    std::unique_ptr<CHostedSession> MakeHolder() {
        session.ExpectCreation();
        auto holder = std::make_unique<CHostedSession>();
        session.VerifyDone();
        return holder;
    }
    CRecordingEnvironment environment{kEnvironmentMethods};
    CHostApplicationDouble application;
    DWORD cookie = 0;
};

TEST_F(EnvDispatchTest, ArgumentsArriveReversedWithTheirTypesAndUncopiedAndEachFailureHasItsOwnResult) {
    CEnvDispatch holder;
    CVariant result;
    EXPECT_EQ(holder.InvokeByName(L"Method", &result, 1, VT_I4, 1L), E_FAIL) << "no environment";
    holder.Set(&environment);
    // Types outside the accepted ones, by value or by reference, are refused before the environment is
    // asked anything.
    for (VARTYPE type : {VARTYPE(VT_R8), VARTYPE(VT_BYREF | VT_VARIANT)}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(holder.InvokeByName(L"Method", &result, 2, VT_I4, 1L, static_cast<int>(type), nullptr),
                  E_INVALIDARG);
    }
    EXPECT_EQ(environment.lookups, 0);
    EXPECT_EQ(holder.InvokeByName(L"NoSuchMethod", &result, 1, VT_I4, 1L), E_NOINTERFACE);
    EXPECT_EQ(environment.lookups, 1);
    EXPECT_TRUE(environment.calls.empty());

    // Every accepted type, values taken as given; the first pair becomes the last array element.
    CBstr text(L"text");
    short shortValue = 3;
    long longValue = 4;
    BSTR byRef = SysAllocString(L"ref");
    EXPECT_EQ(holder.InvokeByName(L"Method", &result, 8, VT_I2, -7, VT_I4, 70000L, VT_BSTR, text.Get(),
                                  VT_DISPATCH, static_cast<IDispatch*>(&environment), VT_UNKNOWN,
                                  static_cast<IUnknown*>(&environment), VT_BYREF | VT_I2, &shortValue,
                                  VT_BYREF | VT_I4, &longValue, VT_BYREF | VT_BSTR, &byRef),
              S_OK);
    SysFreeString(byRef);
    ASSERT_EQ(environment.calls.size(), 1u);
    const auto& all = environment.calls[0];
    EXPECT_EQ(TypesOf(all), (std::vector<VARTYPE>{VT_I2, VT_I4, VT_BSTR, VT_DISPATCH, VT_UNKNOWN,
                                                  VT_BYREF | VT_I2, VT_BYREF | VT_I4, VT_BYREF | VT_BSTR}));
    EXPECT_EQ(ValuesOf(all)[0], L"-7");
    EXPECT_EQ(ValuesOf(all)[1], L"70000");
    EXPECT_EQ(all.args[5].pointer, text.Get()) << "the text was copied";
    EXPECT_EQ(all.args[4].pointer, static_cast<IDispatch*>(&environment));
    EXPECT_EQ(all.args[2].pointer, &shortValue);
    EXPECT_EQ(all.args[1].pointer, &longValue);
    EXPECT_EQ(all.flags, DISPATCH_METHOD);
    EXPECT_TRUE(all.iidNull);
    EXPECT_EQ(result.vt, VT_I4) << "the environment's result reaches the caller's variant";
    holder.Set(nullptr);
    EXPECT_EQ(environment.refs, 1);
}

// Arrival and release with the control around it: the container test; here replacement and bad streams.
TEST_F(EnvDispatchTest, AMarshalledEnvironmentReplacesTheOneBeforeAndABadStreamLeavesNone) {
    CRecordingEnvironment second{kEnvironmentMethods};
    CEnvDispatch holder;
    IStream* stream = MarshalledStream(&environment);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(holder.SetFromStream(stream), S_OK);
    stream->Release();
    stream = MarshalledStream(&second);
    EXPECT_EQ(holder.SetFromStream(stream), S_OK);
    stream->Release();
    EXPECT_EQ(environment.refs, 1) << "the old environment is released first";
    EXPECT_EQ(second.refs, 2);

    // A stream with nothing marshalled in it: the old one is gone all the same, and nothing is held.
    IStream* empty = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &empty), S_OK);
    EXPECT_TRUE(FAILED(holder.SetFromStream(empty)));
    empty->Release();
    EXPECT_FALSE(holder.Held());
    EXPECT_EQ(second.refs, 1);
    EXPECT_EQ(holder.SetFromStream(nullptr), E_POINTER);
}

TEST_F(EnvDispatchTest, TheEightOperationsReachTheHostByNameWithTheirArgumentsOnlyWithAnEnvironment) {
    auto holder = MakeHolder();
    // Without an environment nothing is sent and the calls that have a result say E_FAIL.
    char buffer[8] = "keep";
    EXPECT_FALSE(holder->HasEnvironment());
    EXPECT_EQ(holder->UpdateConnectionStatus(1), 0);
    EXPECT_EQ(holder->SetPluginWindowSize(1, 2, 3, 4, 5, 6), E_FAIL);
    EXPECT_EQ(holder->GetCurrentAddress(buffer, buffer, buffer, 8), E_FAIL);
    EXPECT_STREQ(buffer, "keep");

    holder->SetEnvironment(&environment);
    environment.replies = {L"10.0.0.5", L"502", L"unit 3"};
    CBstr plugin(L"Other"), address(L"10.0.0.7"), third(L"x");
    char first[5] = "????", second[5] = "????";
    EXPECT_EQ(holder->UpdateConnectionStatus(2), 0);
    EXPECT_EQ(holder->LaunchPlugin(plugin.Get(), address.Get(), third.Get()), S_OK);
    EXPECT_EQ(holder->SetPluginWindowSize(1, 2, 3, 4, 5, 6), S_OK);
    EXPECT_EQ(holder->GetCurrentAddress(first, nullptr, second, 5), S_OK);
    EXPECT_EQ(holder->ShowFrameFooter(9), S_OK);
    EXPECT_EQ(holder->AppendToWindowTitle(" - device 2"), S_OK);
    EXPECT_EQ(holder->SetWindowTitleTool("Files"), S_OK);
    // New connection parameters are sent when the reconnect is queued.
    session.Expect("Disconnect");
    session.Expect("Connect(dev6;port=7,)");
    EXPECT_EQ(holder->UpdateConnectionParams(CBstr(L"dev6;port=7").Get()), 0);
    Pump(1000, [&] { return session.Trace().find("Connect") != std::string::npos; });
    session.VerifyDone();
    EXPECT_TRUE(holder->HasEnvironment());
    EXPECT_EQ(application.launches, 0) << "with an environment the host application is not asked";

    struct Expected {
        const wchar_t* name;
        std::vector<VARTYPE> types;
        std::vector<std::wstring> values;
    };
    const VARTYPE text = VT_BSTR, ref = VT_BYREF | VT_BSTR;
    const Expected expected[] = {
        {L"VNLENVUpdateConnectionStatus", {VT_I2}, {L"2"}},
        {L"VNLENVLaunchPlugin", {text, text, text}, {L"Other", L"10.0.0.7", L"x"}},
        {L"VNLENVSetPluginWindowSize", std::vector<VARTYPE>(6, VT_I4), {L"1", L"2", L"3", L"4", L"5", L"6"}},
        {L"VNLENVGetCurrentAddress", {ref, ref, ref}, {L"<null>", L"<null>", L"<null>"}},
        {L"VNLENVShowFrameFooter", {VT_I4}, {L"9"}},
        {L"VNLENVAppendToWindowTitle", {text}, {L" - device 2"}},
        {L"VNLENVSetWindowTitleTool", {text}, {L"Files"}},
        {L"VNLENVUpdateConnectionParams", {ref}, {L"dev6;port=7"}},
    };
    ASSERT_EQ(environment.calls.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(environment.calls[i].name, expected[i].name);
        EXPECT_EQ(TypesOf(environment.calls[i]), expected[i].types);
        EXPECT_EQ(ValuesOf(environment.calls[i]), expected[i].values);
    }
    // At most five bytes each, terminated within them; a null buffer is skipped.
    EXPECT_STREQ(first, "10.0");
    EXPECT_STREQ(second, "unit");

    holder->SetEnvironment(nullptr);
    session.ExpectDestruction();
}

TEST_F(EnvDispatchTest, WithoutASessionOrEnvironmentLaunchGoesThroughTheHostApplicationAndAReconnectFails) {
    factory.createResult = REGDB_E_CLASSNOTREG; // the session plays no part here
    CHostedSession holder;
    CBstr plugin(L"Dorvex"), address(L"C:\\devices\\unit 2"), third(L"ignored");
    application.answer = S_FALSE;
    EXPECT_EQ(holder.LaunchPlugin(plugin.Get(), address.Get(), third.Get()), S_FALSE);
    EXPECT_EQ(application.commandLine, L"/plugin:Dorvex /\"connect:C:\\devices\\unit 2\"");

    // An object that is not the host application: nothing to call.
    application.offerInterface = false;
    try {
        holder.LaunchPlugin(plugin.Get(), address.Get(), third.Get());
        ADD_FAILURE() << "a launch without the host application's interface raised nothing";
    } catch (const CComError& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
    EXPECT_EQ(application.launches, 1);

    // No session to reconnect: the failure comes back and the host hears nothing.
    holder.SetEnvironment(&environment);
    EXPECT_NE(holder.UpdateConnectionParams(CBstr(L"dev7").Get()), 0);
    EXPECT_TRUE(environment.calls.empty());
    holder.SetEnvironment(nullptr);
}

} // namespace
