// The host's environment object as plug-ins call it (by name, arguments reversed, through the
// marshalled pointer they receive), and the host's command line, in the form plug-ins launch it with.

// GCC sees the object's type where a test creates and releases it, and takes the framework's
// `delete this` in the base part for a delete at an offset; the destructor is virtual.
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"

#include <windows.h>

#include <gtest/gtest.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "HostCommandLine.h"
#include "HostEnvironment.h"
#include "SessionHost.h"

namespace {
using namespace host_test;

// A frame that records what reaches it.
class RecordingFrame : public IHostFrame {
public:
    short status = -1;
    std::wstring plugin, address, extra, appended, tool;
    long sizes[6] = {};
    std::vector<std::wstring> calls;

    // The parameters and the footer are seen in the host window test.
    void OnConnectionStatus(short s) override { status = s; }
    void OnConnectionParams(const std::wstring&) override {}
    HRESULT LaunchPlugin(const std::wstring& p, const std::wstring& a, const std::wstring& e,
                         DWORD& processId) override {
        plugin = p, address = a, extra = e;
        processId = 4321;
        return S_OK;
    }
    void SetPluginWindowSize(const long s[6]) override { std::copy(s, s + 6, sizes); }
    void GetCurrentAddress(std::wstring& a, std::wstring& p, std::wstring& h) override {
        a = L"C:\\devices\\one", p = L"Dorvex", h = L"VarnelHost";
    }
    void ShowFrameFooter(bool) override {}
    void AppendToWindowTitle(const std::wstring& t) override { appended = t; }
    void SetWindowTitleTool(const std::wstring& t) override { tool = t; }
    void OnEnvironmentCall(const std::wstring& call) override { calls.push_back(call); }
};

class EnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        object_ = new CHostEnvironment(&frame_);
        // The plug-in's view of it: unmarshalled from a stream, as it arrives.
        IStream* stream = MarshalledStream(static_cast<IDispatch*>(object_));
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(CoUnmarshalInterface(stream, IID_IDispatch, reinterpret_cast<void**>(&env_)), S_OK);
        stream->Release();
    }
    void TearDown() override {
        if (env_)
            env_->Release();
        object_->Release();
        FreeTestStrings();
        CoUninitialize();
    }

    DISPID Id(const wchar_t* name) {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        const HRESULT hr = env_->GetIDsOfNames(IID_NULL, names, 1, 0x800, &id);
        return SUCCEEDED(hr) ? id : hr;
    }

    HRESULT Call(const wchar_t* name, std::vector<VARIANT> args, VARIANT* result = nullptr,
                 UINT* argError = nullptr, WORD flags = DISPATCH_METHOD) {
        return CallByName(env_, name, std::move(args), result, argError, flags);
    }

    RecordingFrame frame_;
    CHostEnvironment* object_ = nullptr;
    IDispatch* env_ = nullptr;
};

// What each call does to the host window is in the host window test; here what only this side sees: the
// launch's process id, the out-texts, the order of the sizes and the record of the calls.
TEST_F(EnvironmentTest, EveryMethodTakesTheArgumentTypesPluginsSend) {
    EXPECT_EQ(Call(L"VNLENVUpdateConnectionStatus", {VI2(1)}), S_OK);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Call(L"VNLENVLaunchPlugin", {VText(L"Dorvex"), VText(L"demo"), VText(L"x")}, &result), S_OK);
    EXPECT_EQ(frame_.plugin + L"|" + frame_.address + L"|" + frame_.extra, L"Dorvex|demo|x");
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 4321);

    EXPECT_EQ(Call(L"VNLENVSetPluginWindowSize", {VI4(1), VI4(2), VI4(3), VI4(4), VI4(5), VI4(6)}), S_OK);
    EXPECT_EQ(std::vector<long>(frame_.sizes, frame_.sizes + 6), (std::vector<long>{1, 2, 3, 4, 5, 6}));

    // Out-texts: null slots are filled; a slot that already holds a text gets it replaced (and freed).
    BSTR out[3] = {nullptr, nullptr, SysAllocString(L"stale")};
    EXPECT_EQ(Call(L"VNLENVGetCurrentAddress", {VTextRef(&out[0]), VTextRef(&out[1]), VTextRef(&out[2])}),
              S_OK);
    EXPECT_STREQ(out[0], L"C:\\devices\\one");
    EXPECT_STREQ(out[1], L"Dorvex");
    EXPECT_STREQ(out[2], L"VarnelHost");
    for (BSTR b : out)
        SysFreeString(b);
    ASSERT_EQ(frame_.calls.size(), 4u);
    EXPECT_EQ(frame_.calls[0], L"VNLENVUpdateConnectionStatus(1)");
    EXPECT_EQ(frame_.calls[2], L"VNLENVSetPluginWindowSize(1, 2, 3, 4, 5, 6)");
}

// Each of the eight names reaches its own handler in the test above; here the lookup's edges.
TEST_F(EnvironmentTest, KnowsItsMethodsInAnyCaseAndRefusesWhatItCannotReadWithoutReachingTheHost) {
    EXPECT_EQ(Id(L"vnlenvupdateconnectionstatus"), Id(L"VNLENVUpdateConnectionStatus"));
    EXPECT_GT(Id(L"VNLENVUpdateConnectionStatus"), 0);
    DISPID id = 5;
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"VNLENVNoSuchThing")};
    EXPECT_EQ(env_->GetIDsOfNames(IID_NULL, unknown, 1, 0x800, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN) << "plug-ins test the id for a negative value";
    UINT count = 7;
    EXPECT_EQ(env_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);

    UINT argError = 99;
    EXPECT_EQ(Call(L"VNLENVShowFrameFooter", {VI4(1), VI4(1)}), DISP_E_BADPARAMCOUNT);

    const VARIANT word = VText(L"high");
    // The fourth of six parameters is the third element from the end of the reversed array.
    EXPECT_EQ(Call(L"VNLENVSetPluginWindowSize", {VI4(1), VI4(2), VI4(3), word, VI4(5), VI4(6)}, nullptr,
                   &argError),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 2u);
    // A status that does not fit 16 bits is not cut to one that does.
    EXPECT_NE(Call(L"VNLENVUpdateConnectionStatus", {VI4(70000)}), S_OK);
    // Out-texts must be by reference.
    EXPECT_EQ(Call(L"VNLENVGetCurrentAddress", {word, word, word}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Call(L"VNLENVShowFrameFooter", {VI4(1)}, nullptr, nullptr, DISPATCH_PROPERTYGET),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(frame_.calls.empty()) << "a refused call reached the host";

    VARIANT arg = VI4(1);
    DISPID named = 0;
    DISPPARAMS withName = {&arg, &named, 1, 1};
    EXPECT_EQ(env_->Invoke(Id(L"VNLENVShowFrameFooter"), IID_NULL, 0x400, DISPATCH_METHOD, &withName, nullptr,
                           nullptr, nullptr),
              DISP_E_NONAMEDARGS);

    // A text with a NUL inside ends there; an endless one is cut.
    BSTR nul = SysAllocStringLen(L"abc\0def", 7);
    EXPECT_EQ(Call(L"VNLENVAppendToWindowTitle", {VBstr(nul)}), S_OK);
    EXPECT_EQ(frame_.appended, L"abc");
    SysFreeString(nul);
    BSTR huge = SysAllocStringLen(nullptr, 100000);
    std::fill(huge, huge + 100000, L'x');
    EXPECT_EQ(Call(L"VNLENVSetWindowTitleTool", {VBstr(huge)}), S_OK);
    EXPECT_EQ(frame_.tool.size(), CHostEnvironment::kMaxText);
    SysFreeString(huge);

    // Once the host window is gone the object only says so.
    object_->Detach();
    EXPECT_EQ(Call(L"VNLENVUpdateConnectionStatus", {VI2(0)}), RPC_E_DISCONNECTED);
    EXPECT_EQ(frame_.status, -1);
}

// The launch command line survives the trip through CommandLineToArgvW in every awkward case.
TEST(HostCommandLine, PluginLaunchFormRoundTrips) {
    for (const std::wstring address : {L"C:\\my devices\\one", L"", L"a b\\\\"}) {
        const std::wstring arguments = LaunchArguments(L"Dorvex", address);
        ASSERT_FALSE(arguments.empty()) << address;
        const HostOptions options = ParseHostCommandLine(SplitCommandLine(arguments.c_str()));
        EXPECT_TRUE(options.error.empty()) << options.error;
        EXPECT_EQ(options.mode, HostMode::Window);
        EXPECT_EQ(options.plugin, L"Dorvex");
        EXPECT_EQ(options.connection, address) << arguments;
    }
    // What the plug-in's own fallback sends: /plugin:P /"connect:A", with no escaping of its own.
    HostOptions sent = ParseHostCommandLine(SplitCommandLine(L"/plugin:Dorvex /\"connect:C:\\dev dir\\\""));
    EXPECT_EQ(sent.connection, L"C:\\dev dir\\");

    EXPECT_TRUE(LaunchArguments(L"Dorvex", L"bad\"quote").empty());
    EXPECT_TRUE(LaunchArguments(L"Two words", L"demo").empty());
}

TEST(HostCommandLine, ModesAndMistakes) {
    auto parse = [](const wchar_t* line) { return ParseHostCommandLine(SplitCommandLine(line)); };
    EXPECT_EQ(parse(L"").connection + L"|" + parse(L"").plugin, L"demo|Dorvex");
    EXPECT_EQ(parse(L"C:\\devices\\one").connection, L"C:\\devices\\one");
    const std::pair<const wchar_t*, HostMode> modes[] = {{L"/regserver", HostMode::RegServer},
        {L"-UnregServer", HostMode::UnregServer}, {L"-Embedding", HostMode::Embedding}, {L"/?", HostMode::Usage}};
    for (const auto& [line, mode] : modes)
        EXPECT_EQ(parse(line).mode, mode) << line;

    const HostOptions tour = parse(L"--tour \"C:\\out dir\" C:\\dev");
    EXPECT_EQ(tour.mode, HostMode::Tour);
    EXPECT_EQ(tour.tourFolder + L"|" + tour.connection, L"C:\\out dir|C:\\dev");
    // A tour without its folder, and an unknown option: the host process test.
    for (const wchar_t* wrong : {L"/plugin:", L"one two"})
        EXPECT_FALSE(parse(wrong).error.empty()) << wrong;
}

} // namespace
