// The control object before in-place activation, and registered by regsvr32 in the system's container
// (AtlAxWin), driven only through IDispatch by name as a host application drives it.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <string>

#include "SessionHost.h"
#include "framework/ComPtr.h"
#include "framework/Handles.h"

namespace {

const CLSID kControlClsid = {0x1e5f1674, 0xca8a, 0x4223, {0xba, 0x08, 0xf1, 0xce, 0x31, 0x37, 0xaf, 0x82}};
const CLSID kPageClsid = {0x64951383, 0xe244, 0x487e, {0x86, 0xea, 0xeb, 0x6b, 0x5a, 0x5a, 0xc7, 0x32}};
const IID kEventsIid = {0x16cbb4b7, 0xc0aa, 0x4f22, {0xa6, 0x97, 0x63, 0x28, 0xe4, 0xda, 0x31, 0x94}};

HWND Frame() {
    return CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr, nullptr,
                           nullptr);
}

class ControlObjectTest : public COleTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        ASSERT_EQ(CoCreateInstance(kControlClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&control_)),
                  S_OK);
    }
    void TearDown() override {
        control_.Release();
        COleTest::TearDown();
    }
    template <class T> CComPtr<T> As(REFIID iid) {
        CComPtr<T> p;
        EXPECT_EQ(control_->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
        return p;
    }
    CComPtr<IUnknown> control_;
};

// A property bag that keeps what it is given.
class Bag : public IPropertyBag {
public:
    CVariant version;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override {
        return lstrcmpW(name, L"_Version") || version.vt == VT_EMPTY ? E_INVALIDARG : VariantCopy(v, &version);
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* v) override {
        return lstrcmpW(name, L"_Version") ? S_OK : VariantCopy(&version, v);
    }
};

TEST_F(ControlObjectTest, PersistsVersionOneZeroAndConvertsOlderStreams) {
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    EXPECT_EQ(persist->InitNew(), S_OK);
    // A new size is something to save, for a container that saves only what is dirty.
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    SIZEL size = {5000, 3000};
    ASSERT_EQ(As<IOleObject>(IID_IOleObject)->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);

    CComPtr<IStream> stream, tiny;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    const LARGE_INTEGER zero = {};
    DWORD saved[3] = {};
    for (int save = 0; save < 2; ++save) {
        SCOPED_TRACE(save ? "after loading an older stream" : "new");
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        ULONG read = 0;
        stream->Read(saved, sizeof saved, &read);
        EXPECT_EQ(read, sizeof saved);
        EXPECT_EQ(saved[0], 0x10000u) << "version 1.0: minor version in the low word";
        // A stream written by an older version loads, and the next save writes the current version.
        saved[0] = 0x00001;
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        stream->Write(saved, sizeof saved, nullptr);
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        EXPECT_EQ(persist->Load(stream.Get()), S_OK);
    }

    // A truncated stream is refused rather than half read.
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &tiny), S_OK);
    tiny->Write(saved, 2, nullptr);
    tiny->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(persist->Load(tiny.Get())));

    auto bagPersist = As<IPersistPropertyBag>(IID_IPersistPropertyBag);
    Bag bag;
    EXPECT_EQ(bagPersist->Save(&bag, TRUE, TRUE), S_OK);
    EXPECT_EQ(bag.version.vt, VT_I4);
    EXPECT_EQ(bag.version.lVal, 0x10000);
    EXPECT_EQ(bagPersist->Load(&bag, nullptr), S_OK);
}

TEST_F(ControlObjectTest, NamesItsEventInterfaceAndItsPropertyPageWhichShowsItsDialog) {
    CAUUID list = {};
    ASSERT_EQ(As<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages)->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_TRUE(IsEqualCLSID(list.pElems[0], kPageClsid));
    CoTaskMemFree(list.pElems);

    GUID source = {};
    EXPECT_EQ(As<IProvideClassInfo2>(IID_IProvideClassInfo2)->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source),
              S_OK);
    EXPECT_TRUE(IsEqualIID(source, kEventsIid));

    DWORD misc = 0;
    EXPECT_EQ(As<IOleObject>(IID_IOleObject)->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, 0x20191u);

    auto points = As<IConnectionPointContainer>(IID_IConnectionPointContainer);
    CComPtr<IConnectionPoint> point;
    EXPECT_EQ(points->FindConnectionPoint(kEventsIid, &point), S_OK);
    EXPECT_EQ(points->FindConnectionPoint(IID_IPropertyNotifySink, &point), CONNECT_E_NOCONNECTION);
    // Enumerated, the one point is the event interface's.
    CComPtr<IEnumConnectionPoints> all;
    ASSERT_EQ(points->EnumConnectionPoints(&all), S_OK);
    IConnectionPoint* found[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(all->Next(2, found, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    IID iid = {};
    EXPECT_EQ(found[0]->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, kEventsIid));
    found[0]->Release();

    // The page shows its dialog under the General caption.
    CComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(kPageClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                               reinterpret_cast<void**>(&page)),
              S_OK);
    PROPPAGEINFO info = {};
    info.cb = sizeof info;
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"General");
    EXPECT_GT(info.size.cx, 0);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);

    HWND frame = Frame();
    RECT rect = {0, 0, 400, 120};
    ASSERT_EQ(page->Activate(frame, &rect, TRUE), S_OK);
    ASSERT_NE(GetWindow(frame, GW_CHILD), nullptr);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(GetWindow(frame, GW_CHILD), nullptr);
    DestroyWindow(frame);
}

// A script engine's late-bound calls: its variables by reference as VARIANTs holding whatever they hold,
// numbers of any type, texts by value, a named argument; and the platform's errors for what does not fit.
TEST_F(ControlObjectTest, ScriptClientsGetTheStandardCoercionsAndErrors) {
    CLSID clsid = {};
    ASSERT_EQ(CLSIDFromProgID(L"DORVEX.DorvexCtrl.1", &clsid), S_OK);
    CComPtr<IDispatch> script;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&script)),
              S_OK);
    auto call = [&](const wchar_t* name, std::vector<VARIANT> args, UINT* argError = nullptr,
                    WORD flags = DISPATCH_METHOD) {
        return host_test::CallByName(script.Get(), name, std::move(args), nullptr, argError, flags);
    };
    CVariant vars[6];
    std::vector<VARIANT> refs;
    for (CVariant& v : vars)
        refs.push_back(VVariantRef(&v));
    vars[1].vt = VT_I4;
    vars[1].lVal = 7;
    vars[2].vt = VT_R8;
    vars[2].dblVal = 2.5;
    vars[3].vt = VT_BSTR;
    vars[3].bstrVal = SysAllocString(L"12");
    vars[4].vt = VT_I2;
    vars[4].iVal = -1;
    EXPECT_EQ(call(L"VNLGetWindowSizes", refs), S_OK);
    const short expected[6] = {100, 100, 10000, 10000, 600, 300};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(vars[i].vt, VT_I2) << "variable " << i;
        EXPECT_EQ(vars[i].iVal, expected[i]) << "variable " << i;
    }

    // A text by value, through a variable, and as a named argument.
    CVariant text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"demo");
    EXPECT_EQ(call(L"VNLSetConnectionParameters", {text}), S_OK);
    EXPECT_EQ(call(L"VNLSetConnectionParameters", {VVariantRef(&text)}), S_OK);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"VNLSetConnectionParameters"),
                        const_cast<LPOLESTR>(L"ppszwParamerters")};
    DISPID ids[3] = {0, 0, 4};
    ASSERT_EQ(script->GetIDsOfNames(IID_NULL, names, 2, 0x800, ids), S_OK);
    EXPECT_EQ(ids[1], 0);
    DISPPARAMS params = {&text, &ids[1], 1, 1};
    EXPECT_EQ(script->Invoke(ids[0], IID_NULL, 0x400, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    params.rgdispidNamedArgs = &ids[2];
    EXPECT_EQ(script->Invoke(ids[0], IID_NULL, 0x400, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_PARAMNOTFOUND);

    // What does not fit gets the platform's answer and touches no variable.
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    long wrongType = 0;
    VARIANT longRef;
    longRef.vt = VT_BYREF | VT_I4;
    longRef.plVal = &wrongType;
    const VARIANT v = refs[0];
    UINT argError = 99;
    EXPECT_EQ(call(L"VNLGetWindowSizes", {v, v, missing, v, v, v}), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(call(L"VNLGetWindowSizes", {v, v, v, v, v}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(L"VNLGetWindowSizes", {v, longRef, v, v, v, v}, &argError), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 4u) << "the index of the argument in the array, last argument first";
    EXPECT_EQ(wrongType, 0);
    EXPECT_EQ(call(L"VNLSetConnectionParameters", {text}, nullptr, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND);
}

// A host that loads the module, lets it go and loads it again (perhaps elsewhere) gets working controls each
// time, talked to before activation: nothing of the first load, its window class least of all, is left over.
TEST(ControlModule, UnloadedAndLoadedAgainItCreatesWorkingControls) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_EQ(GetModuleHandleA("DORVEX.OCX"), nullptr) << "someone else holds the module";
    const auto attach = reinterpret_cast<HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**)>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("atl.dll"), "AtlAxAttachControl")));
    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    for (int load = 0; load < 2; ++load) {
        SCOPED_TRACE("load " + std::to_string(load));
        HMODULE ocx = LoadLibraryA("DORVEX.OCX");
        auto getClass = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(GetProcAddress(ocx, "DllGetClassObject")));
        auto canUnload =
            reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(ocx, "DllCanUnloadNow")));
        ASSERT_TRUE(getClass && canUnload);
        HWND parent = Frame();
        {
            CComPtr<IClassFactory> factory;
            CComPtr<IOleObject> ole;
            CComPtr<IUnknown> site;
            ASSERT_EQ(getClass(kControlClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
            ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
            CComPtr<IDispatch> dispatch;
            ASSERT_EQ(ole.QueryInterface(IID_IDispatch, dispatch), S_OK);
            short s[6] = {};
            EXPECT_EQ(host_test::CallByName(dispatch.Get(), L"VNLGetWindowSizes", {VI2Ref(&s[0]), VI2Ref(&s[1]),
                                            VI2Ref(&s[2]), VI2Ref(&s[3]), VI2Ref(&s[4]), VI2Ref(&s[5])}),
                      S_OK);
            BSTR text = SysAllocString(L"demo");
            EXPECT_EQ(host_test::CallByName(dispatch.Get(), L"VNLSetConnectionParameters", {VTextRef(&text)}), S_OK);
            SysFreeString(text);
            ASSERT_EQ(attach(ole.Get(), parent, &site), S_OK);
            CComPtr<IOleWindow> window;
            HWND controlWindow = nullptr;
            ASSERT_EQ(ole.QueryInterface(IID_IOleWindow, window), S_OK);
            window->GetWindow(&controlWindow);
            ASSERT_TRUE(IsWindow(GetDlgItem(controlWindow, 1700))) << "no main window in the control";
            EXPECT_TRUE(GetWindowLongA(GetDlgItem(controlWindow, 1700), GWL_STYLE) & WS_VISIBLE)
                << "the size request was forgotten";
            EXPECT_TRUE(GetClassInfoExA(ocx, "DorvexFrameworkWnd", &info));
            // Letting go of the site, with no Close before it, takes the control out of the container.
            ole->SetClientSite(nullptr);
            EXPECT_FALSE(IsWindow(controlWindow)) << "the control stayed active without a site";
        }
        DestroyWindow(parent);
        ASSERT_EQ(canUnload(), S_OK) << "a control object or lock outlived its container";
        FreeLibrary(ocx);
        ASSERT_EQ(GetModuleHandleA("DORVEX.OCX"), nullptr);
        EXPECT_FALSE(GetClassInfoExA(ocx, "DorvexFrameworkWnd", &info))
            << "the window class outlived the code of its window procedure";
    }
    OleUninitialize();
}

class ContainerTest : public COleTest {
protected:
    void SetUp() override {
        DeleteFileA(logPath_.c_str());
        SetEnvironmentVariableA("QUORGUI_CALL_LOG", logPath_.c_str());
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        ASSERT_TRUE(host_.Open()) << "the container did not create the registered control";
        ASSERT_TRUE(IsWindow(host_.ControlWindow())) << "the control was not activated in place";
    }
    void TearDown() override {
        host_.Close();
        COleTest::TearDown();
    }

    CContainerHost host_;
    const std::string logPath_ = ProgramDirectory() + "container-help.log";
};

bool Shown(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

TEST_F(ContainerTest, HostSequenceShowsTheMainWindowAndFollowsTheContainer) {
    HWND main = host_.MainWindow();
    ASSERT_TRUE(IsWindow(main));
    EXPECT_FALSE(Shown(main)) << "the main window is created hidden";

    // The environment travels marshalled in a stream; the control must hold on to it.
    CRecordingEnvironment environment{std::vector<std::wstring>{}};
    EXPECT_EQ(host_.GiveEnvironment(&environment), S_OK);
    EXPECT_EQ(environment.refs, 2) << "the control holds exactly one reference to the environment";

    EXPECT_EQ(host_.ShowAtPreferredSize(), S_OK); // the sizes themselves: the control object test
    EXPECT_TRUE(Shown(main));
    EXPECT_EQ(host_.Connect("demo"), S_OK);

    // The container resizes its window; the control and its main window follow.
    MoveWindow(host_.Container(), 0, 0, 500, 250, TRUE);
    RECT client;
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, 500);
    EXPECT_EQ(client.bottom, 250);

    // Destroying the container releases everything: the environment, the control, the module's locks.
    auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("DORVEX.OCX"), "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE) << "a live control keeps the module loaded";
    host_.Close();
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(environment.refs, 1) << "the environment outlived the control";
    EXPECT_EQ(canUnload(), S_OK) << "a control object or lock outlived its container";
}

TEST_F(ContainerTest, AboutBoxIsModalAndClosesWithOk) {
    CBoxCloser closer("About Dorvex Control"); // answers OK from inside the box's own message loop
    EXPECT_EQ(host_.Call(L"AboutBox", {}), S_OK);
    EXPECT_TRUE(closer.Closed()) << "no \"About Dorvex Control\" dialog appeared";
}

TEST_F(ContainerTest, F1AsksTheHostForHelpWithItsContext) {
    HELPINFO info = {};
    info.cbSize = sizeof info;
    SendMessageA(host_.ControlWindow(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    const std::string all = sessiontest::ReadFileText(logPath_);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1) << all;
    EXPECT_NE(all.find("|15|1005|"), std::string::npos) << all;
}

} // namespace
