// The session component's registration, connection texts and connection events.
#include "SessionTestSupport.h"

#include <olectl.h>

using namespace sessiontest;

namespace {

class SessionConnect : public SessionFixture {};

} // namespace

TEST_F(SessionConnect, RegisteredByNameWithItsTypeLibrary) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Quor.Session.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_QuorSession));
    // Not proved by creating it here: the tests' own sessions come from the module's class object.
    char model[32] = "";
    DWORD size = sizeof model;
    RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{2BCD7AC2-7681-4CDD-B702-7CC4AAEC83CB}\\InprocServer32",
                 "ThreadingModel", RRF_RT_REG_SZ, nullptr, model, &size);
    EXPECT_STREQ(model, "Apartment");

    // The registered type library describes the events with the parameter types they are fired with.
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_QuorSessionLib, 1, 1, 0, &lib), S_OK);
    ITypeInfo* events = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__IQuorSessionEvents, &events), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(events->GetTypeAttr(&attr), S_OK);
    bool foundComplete = false;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(events->GetFuncDesc(i, &f), S_OK);
        if (f->memid == 2) {
            foundComplete = true;
            ASSERT_EQ(f->cParams, 5);
            EXPECT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_I4);
            EXPECT_EQ(f->lprgelemdescParam[2].tdesc.vt, VT_BOOL);
            EXPECT_EQ(f->lprgelemdescParam[3].tdesc.vt, VT_PTR); // the answer array, by reference
        }
        events->ReleaseFuncDesc(f);
    }
    events->ReleaseTypeAttr(attr);
    events->Release();
    lib->Release();
    EXPECT_TRUE(foundComplete);

    // Created the way the control creates it.
    IUnknown* unknown = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_QuorSession, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              S_OK);
    IQuorSession2* session = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IQuorSession2, reinterpret_cast<void**>(&session)), S_OK);
    IProvideClassInfo2* info = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info)), S_OK);
    GUID source = GUID_NULL;
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(IsEqualGUID(source, DIID__IQuorSessionEvents));
    info->Release();
    if (session)
        session->Release();
    unknown->Release();
}

TEST_F(SessionConnect, ConnectionStatusArrivesAfterTheCallOnConnectAndDisconnect) {
    CTempFolder device("connect");
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1) << client.ErrorText();
    EXPECT_TRUE(client.sink.events.empty()) << "an event arrived inside Connect";
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(5).size() == 1; }));
    const Event status = client.sink.Of(5)[0];
    ASSERT_EQ(status.args.size(), 1u);
    EXPECT_EQ(status.args[0].type, VT_I2);
    EXPECT_EQ(status.Long(0), 1);

    EXPECT_EQ(client.Disconnect(), 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(5).size() == 2; }));
    EXPECT_EQ(client.sink.Of(5)[1].Long(0), 0);
    for (const Event& e : client.sink.events)
        EXPECT_FALSE(e.duringCall);

    // Disconnected, the device is out of reach with a clear reason.
    CParamBlock in, out;
    Texts(in, {"\\"});
    long code = 0;
    EXPECT_EQ(client.Execute(kListDir, in, out), 0);
    EXPECT_NE(client.ErrorText(&code).find("not connected"), std::string::npos);
    EXPECT_EQ(code, 1);
}

TEST_F(SessionConnect, BadConnectionTextsAreRefusedWithAReason) {
    CTempFolder device("badtext");
    const struct {
        std::string text;
        long code;
    } cases[] = {
        {"", 2},
        {"relative\\folder", 2},
        {"folder=", 2},
        {device.Path() + ";latency=abc", 2},
        {device.Path() + ";fail=0x1009@x", 2},
        {device.Path() + ";nonsense", 2},
        {device / "missing", 3},
        {"folder=" + device.Path() + "\\missing", 3},
        {device.Path() + ";refuse", 4},
    };
    CSessionClient client;
    for (const auto& c : cases) {
        EXPECT_EQ(client.Connect(c.text), 0) << c.text;
        long code = 0;
        const std::string text = client.ErrorText(&code);
        EXPECT_EQ(code, c.code) << c.text << ": " << text;
        EXPECT_GT(text.size(), 10u) << c.text;
    }
    Pump(50);
    EXPECT_TRUE(client.sink.Of(5).empty()) << "a refused connection reported a status";
    // The accepted forms.
    EXPECT_EQ(client.Connect("folder=\"" + device.Path() + "\""), 1) << client.ErrorText();
    EXPECT_EQ(client.Connect(device.Path() + "\\;latency=0x10;throttle=1000000;program=*.abc"), 1)
        << client.ErrorText();
}

TEST_F(SessionConnect, DemoDeviceIsSeededOnceInTheUsersFolder) {
    CTempFolder appData("appdata");
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("LOCALAPPDATA", saved, MAX_PATH);
    SetEnvironmentVariableA("LOCALAPPDATA", appData.Path().c_str());
    {
        CSessionClient client;
        ASSERT_EQ(client.Connect("demo"), 1) << client.ErrorText();
        const std::string root = appData / "Dorvex\\DemoDevice";
        ASSERT_TRUE(DirExists(root));
        const auto all = Snapshot(root);
        size_t files = 0, emptyDirs = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].back() != '\\')
                ++files;
            else if (i + 1 == all.size() || all[i + 1].rfind(all[i], 0) != 0)
                ++emptyDirs;
        }
        EXPECT_GE(files, 200u);
        EXPECT_LE(files, 600u);
        EXPECT_GE(emptyDirs, 1u);

        CParamBlock in, out;
        Texts(in, {"\\"});
        ASSERT_EQ(client.Execute(kListDir, in, out), 1) << client.ErrorText();
        std::string names;
        for (const Entry& e : Entries(out))
            names += e.name + (e.directory ? "/ " : " ");
        EXPECT_EQ(names, "cf0/ nvram/ SYS/ USER/ ");
        Texts(in, {"\\SYS\\FIRMWARE\\"});
        ASSERT_EQ(client.Execute(kListDir, in, out), 1);
        EXPECT_GE(Entries(out).size(), 2u);

        // A device the user changed stays changed: it is seeded only when it does not exist.
        WriteFileText(root + "\\USER\\mine.txt", "kept");
        EXPECT_EQ(client.Disconnect(), 1);
        EXPECT_EQ(client.Connect("DEMO"), 1);
        EXPECT_EQ(ReadFileText(root + "\\USER\\mine.txt"), "kept");
    }
    SetEnvironmentVariableA("LOCALAPPDATA", saved[0] ? saved : nullptr);
}

TEST_F(SessionConnect, AutomationClientsReachTheSessionByName) {
    CTempFolder device("byname");
    CSessionClient client;
    ASSERT_EQ(client.Connect(device / "missing"), 0);
    // As the host's standard error display asks for the last error.
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(client->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    OLECHAR name[] = L"GetLastErrorInfo";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 8);
    BSTR text = nullptr;
    long code = 0;
    VARIANTARG args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&args[1]) = &text;
    V_VT(&args[0]) = VT_I4 | VT_BYREF;
    V_I4REF(&args[0]) = &code;
    DISPPARAMS params = {args, nullptr, 2, 0};
    ASSERT_EQ(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                               nullptr),
              S_OK);
    EXPECT_EQ(code, 3);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::wstring(text).find(L"missing"), std::wstring::npos);
    SysFreeString(text);
    dispatch->Release();

    // The connection point is found only for the event interface, and enumerated as the only one.
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(client->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)),
              S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
    IEnumConnectionPoints* all = nullptr;
    ASSERT_EQ(container->EnumConnectionPoints(&all), S_OK);
    IConnectionPoint* points[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(all->Next(2, points, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    IID iid = IID_NULL;
    points[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(iid, DIID__IQuorSessionEvents));
    EXPECT_EQ(points[0]->Unadvise(12345), CONNECT_E_NOCONNECTION);
    points[0]->Release();
    all->Release();
    container->Release();
}
