// The control hosted by a container none of us wrote (the system's AtlAxWin), registered with the real
// regsvr32, driven only through IDispatch by name, as a host application drives it.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string BinDir() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// A host environment object: counts references so the test can see the control keep one.
class TestEnvironment : public IDispatch {
public:
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};

class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        logPath_ = BinDir() + "container-help.log";
        DeleteFileA(logPath_.c_str());
        SetEnvironmentVariableA("QUORGUI_CALL_LOG", logPath_.c_str());
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        atl_ = LoadLibraryA("atl.dll");
        ASSERT_NE(atl_, nullptr);
        auto init = reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(atl_, "AtlAxWinInit")));
        auto getControl = reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(reinterpret_cast<void*>(GetProcAddress(atl_, "AtlAxGetControl")));
        ASSERT_TRUE(init && getControl && init());
        frame_ = CreateWindowExA(0, "STATIC", "Container test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        host_ = CreateWindowExA(0, "AtlAxWin", "DORVEX.DorvexCtrl.1", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, frame_,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(host_, nullptr);
        IUnknown* unk = nullptr;
        ASSERT_EQ(getControl(host_, &unk), S_OK) << "the container did not create the registered control";
        ASSERT_EQ(unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch_)), S_OK);
        IOleWindow* window = nullptr;
        ASSERT_EQ(unk->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)), S_OK);
        window->GetWindow(&control_);
        window->Release();
        unk->Release();
        ASSERT_TRUE(IsWindow(control_)) << "the control was not activated in place";
        ocx_ = GetModuleHandleA("DORVEX.OCX");
    }

    void TearDown() override {
        if (dispatch_)
            dispatch_->Release();
        if (IsWindow(frame_))
            DestroyWindow(frame_);
        OleUninitialize();
    }

    DISPID Id(const wchar_t* name) {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        return id;
    }

    // Arguments in declaration order; Invoke wants them reversed.
    HRESULT Call(const wchar_t* name, std::initializer_list<VARIANT> args) {
        VARIANT reversed[8];
        UINT n = 0;
        for (auto it = args.end(); it != args.begin();)
            reversed[n++] = *--it;
        DISPPARAMS params = {n ? reversed : nullptr, nullptr, n, 0};
        UINT argErr = 0;
        return dispatch_->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                 &argErr);
    }

    HWND MainWindow() const { return GetDlgItem(control_, 1700); }

    HMODULE atl_ = nullptr;
    HMODULE ocx_ = nullptr;
    HWND frame_ = nullptr, host_ = nullptr, control_ = nullptr;
    IDispatch* dispatch_ = nullptr;
    std::string logPath_;
};

VARIANT ShortRef(short* p) {
    VARIANT v;
    v.vt = VT_BYREF | VT_I2;
    v.piVal = p;
    return v;
}

// Confirms the modal about box from inside its own message loop.
bool g_aboutSeen = false;
void CALLBACK CloseAbout(HWND, UINT, UINT_PTR id, DWORD) {
    HWND about = FindWindowA(nullptr, "About Dorvex Control");
    if (!about)
        return;
    KillTimer(nullptr, id);
    g_aboutSeen = GetDlgItem(about, IDOK) != nullptr;
    PostMessageA(about, WM_COMMAND, IDOK, 0);
}

TEST_F(ContainerTest, DispatchNamesMapToTheirIds) {
    EXPECT_EQ(Id(L"VNLSetEnvIDispatchViaStream"), 1);
    EXPECT_EQ(Id(L"VNLGetWindowSizes"), 2);
    EXPECT_EQ(Id(L"VNLSetConnectionParameters"), 3);
    EXPECT_EQ(Id(L"AboutBox"), DISPID_ABOUTBOX);
}

TEST_F(ContainerTest, HostSequenceShowsTheMainWindowAndFollowsTheContainer) {
    HWND main = MainWindow();
    ASSERT_TRUE(IsWindow(main));
    char name[32] = "";
    GetWindowTextA(main, name, sizeof name);
    EXPECT_STREQ(name, "Dorvex");
    EXPECT_FALSE(IsWindowVisible(main)) << "the main window is created hidden";

    // The environment travels marshalled in a stream; the control must hold on to it.
    TestEnvironment environment;
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(CoMarshalInterface(stream, IID_IDispatch, &environment, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL), S_OK);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    VARIANT pointer;
    pointer.vt = VT_I8;
    pointer.llVal = reinterpret_cast<LONG_PTR>(stream);
    EXPECT_EQ(Call(L"VNLSetEnvIDispatchViaStream", {pointer}), S_OK);
    stream->Release();
    EXPECT_EQ(environment.refs, 2) << "the control holds exactly one reference to the environment";

    short sizes[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(Call(L"VNLGetWindowSizes", {ShortRef(&sizes[0]), ShortRef(&sizes[1]), ShortRef(&sizes[2]),
                                          ShortRef(&sizes[3]), ShortRef(&sizes[4]), ShortRef(&sizes[5])}),
              S_OK);
    const short expected[6] = {100, 100, 10000, 10000, 600, 300};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sizes[i], expected[i]) << "size " << i;
    EXPECT_TRUE(IsWindowVisible(main));

    BSTR text = SysAllocString(L"demo");
    VARIANT connection;
    connection.vt = VT_BYREF | VT_BSTR;
    connection.pbstrVal = &text;
    EXPECT_EQ(Call(L"VNLSetConnectionParameters", {connection}), S_OK);
    SysFreeString(text);

    // The container resizes its window; the control and its main window follow.
    MoveWindow(host_, 0, 0, 500, 250, TRUE);
    RECT client;
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, 500);
    EXPECT_EQ(client.bottom, 250);

    // Wrong argument types are refused, not misread.
    VARIANT wrong;
    wrong.vt = VT_I4;
    wrong.lVal = 5;
    EXPECT_EQ(Call(L"VNLGetWindowSizes", {wrong, wrong, wrong, wrong, wrong, wrong}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Call(L"VNLSetConnectionParameters", {}), DISP_E_BADPARAMCOUNT);

    dispatch_->Release();
    dispatch_ = nullptr;
    DestroyWindow(host_);
    EXPECT_EQ(environment.refs, 1) << "the environment outlived the control";
}

TEST_F(ContainerTest, AboutBoxIsModalAndClosesWithOk) {
    g_aboutSeen = false;
    SetTimer(nullptr, 0, 50, CloseAbout);
    EXPECT_EQ(Call(L"AboutBox", {}), S_OK);
    EXPECT_TRUE(g_aboutSeen) << "no \"About Dorvex Control\" dialog with an OK button appeared";
}

TEST_F(ContainerTest, F1AsksTheHostForHelpWithItsContext) {
    HELPINFO info = {};
    info.cbSize = sizeof info;
    SendMessageA(control_, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    std::ifstream log(logPath_);
    std::string line, all;
    int calls = 0;
    while (std::getline(log, line)) {
        all += line + "\n";
        ++calls;
    }
    EXPECT_EQ(calls, 1) << all;
    EXPECT_NE(all.find("|15|1005|"), std::string::npos) << all;
}

TEST_F(ContainerTest, DestroyingTheContainerReleasesEverything) {
    ASSERT_NE(ocx_, nullptr);
    auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(ocx_, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE) << "a live control keeps the module loaded";
    dispatch_->Release();
    dispatch_ = nullptr;
    DestroyWindow(host_);
    EXPECT_FALSE(IsWindow(control_));
    EXPECT_EQ(canUnload(), S_OK) << "a control object or lock outlived its container";
}

} // namespace
