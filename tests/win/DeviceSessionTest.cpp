// The session holder against a scripted session (subscription, event types, error text, host queries, the
// deferred reconnect) and the environment calls (InvokeByName, the stream, the eight operations, the launch).
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "MainWindowFixture.h"
#include "SessionTestSupport.h"
#include "VarnelHost_h.h"
#include "contracts/EnvironmentMethods.h"
#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "hostenv/EnvDispatch.h"
#include "hostenv/HostedSession.h"
#include "paramblock/ParamBlock.h"
#include "session/DeviceSession.h"

#include <iterator>
#include <memory>
#include <type_traits>

namespace {

// One handler argument as the record shows it.
template <class T> std::string Show(T v) {
    if constexpr (std::is_same_v<T, bool>)
        return v ? "true" : "false";
    else if constexpr (std::is_same_v<T, BSTR>)
        return v ? NarrowFromWide(v, static_cast<int>(SysStringLen(v))) : "<null>";
    else if constexpr (std::is_same_v<T, BSTR*>)
        return std::string(1, '&').append(Show(*v)); // not "&" + ...: a false -Wrestrict at -O3
    else if constexpr (std::is_same_v<T, SAFEARRAY**>)
        return BlockText(*v);
    else
        return std::to_string(v);
}

// Notes every handler call as Name(arguments) and answers with `answer`, which no handler gives by chance.
class CRecordingSession : public CDeviceSession {
public:
    std::vector<std::string> calls;
    long answer = 42;

    template <class... A> long Note(const char* name, A... args) {
        std::string line = std::string(name) + "(";
        [[maybe_unused]] const char* comma = "";
        ((line.append(comma).append(Show(args)), comma = ","), ...);
        calls.push_back(line + ")");
        return answer;
    }
    long RequestComplete(long e, long r, bool s, SAFEARRAY** a, LONG_PTR u) override {
        return Note("RequestComplete", e, r, s, a, u);
    }
    long UpdateConnectionStatus(short s) override { return Note("ConnectionStatus", s); }
    long OnNotify6(long a, long b) override { return Note("Notify6", a, b); }
    long UpdateConnectionParams(BSTR c) override { return Note("ConnectionParams", c); }
    long TaskComplete(long t, BYTE s, long u) override { return Note("TaskComplete", t, s, u); }
    long FileXferFileStart(long b, BSTR s, BSTR d, long n, BYTE up, BSTR name, long u) override {
        return Note("FileStart", b, s, d, n, up, name, u);
    }
    long OnNotify29(long a, long b, long c, long d, BSTR t, long e) override {
        return Note("Notify29", a, b, c, d, t, e);
    }
    long HostQuery(long a, long q, BSTR p, BSTR* r, long b) override {
        return Note("HostQuery", a, q, p, r, b);
    }
    long OnNotify51() override { return Note("Notify51"); }
};

using DeviceSessionTest = ScriptedSessionFixture;

TEST_F(DeviceSessionTest, EachHolderSubscribesUnsubscribesBeforeDisconnectingAndTheLastUnloadsTheTypes) {
    session.Expect("Advise", 7);
    session.Expect("Advise", 2);
    auto holder = std::make_unique<CDeviceSession>();
    auto second = std::make_unique<CDeviceSession>();
    ASSERT_TRUE(holder->HasSession());
    EXPECT_EQ(holder->Cookie(), 7u);
    EXPECT_EQ(CEventTypeCache::Users(), 2);

    // The sink is the holder itself (the session asked it for the events interface) and is not counted.
    IDispatch* sink = static_cast<IDispatch*>(holder.get());
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(sink->QueryInterface(IID_IConnectionPoint, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(sink->AddRef(), 1u);
    EXPECT_EQ(sink->Release(), 1u);

    session.ExpectDestruction(7);
    holder.reset();
    EXPECT_EQ(session.sink, static_cast<IDispatch*>(second.get()));
    EXPECT_TRUE(CEventTypeCache::Loaded());
    session.ExpectDestruction(2);
    second.reset();
    EXPECT_EQ(session.sink, nullptr);
    EXPECT_EQ(session.refs, 1) << "a holder kept a reference to the session";
    EXPECT_EQ(CEventTypeCache::Users(), 0);
    EXPECT_FALSE(CEventTypeCache::Loaded());
}

TEST_F(DeviceSessionTest, AComponentThatCannotServeLeavesTheHolderEmptyAndQuiet) {
    // A class that is not registered: EnvDispatchTest's holder without a session.
    for (const bool kept : {false, true}) {
        SCOPED_TRACE(kept ? "advise refused: the session is kept" : "no connection points");
        session.offerConnectionPoints = kept;
        if (kept) {
            session.Expect("Advise", 9, nullptr, CONNECT_E_ADVISELIMIT);
            session.Expect("SetOptions(%D)");
            session.ExpectErrorInfo(L"", 0);
            // Without a subscription there is nothing to unsubscribe, but a session is still disconnected.
            session.Expect("Disconnect");
        }
        auto holder = std::make_unique<CHostedSession>();
        EXPECT_EQ(holder->HasSession(), kept);
        EXPECT_EQ(holder->Cookie(), CDeviceSession::kNoCookie);
        // Asking for the error text never raises, with or without a session.
        EXPECT_EQ(holder->LastFailure().text, "");
        holder.reset();
        session.VerifyDone();
        EXPECT_EQ(session.refs, 1) << "a reference to the component was kept";
    }
}

TEST_F(DeviceSessionTest, EveryEventReachesItsHandlerConvertedToWhatItTakesOrIsIgnored) {
    session.Expect("Advise", 7);
    CRecordingSession holder;
    VARIANT inner = VText(L"proposal");
    SAFEARRAY* none = nullptr;
    struct Case {
        const char* what;
        DISPID id;
        std::vector<VARIANT> args;
        const char* expected; // null: accepted and ignored
    };
    const std::vector<Case> cases = {
        {"texts mixed with numbers and a byte",
         21,
         {VI4(9), VText(L"a.txt"), VText(L"\\cf0\\"), VI4(100), VUI1(1), VText(L"a.txt"), VI4(0)},
         "FileStart(9,a.txt,\\cf0\\,100,1,a.txt,0)"},
        {"no arguments at all", 51, {}, "Notify51()"},
        {"a DISPID outside the table", 4, {VI4(1)}, nullptr},
        {"a numeric text where a short is declared", 5, {VText(L"12")}, "ConnectionStatus(12)"},
        {"a boolean as a long",
         2,
         {VI4(0), VI4(1), VI4(0), VArrayRef(&none), VI4(0)},
         "RequestComplete(0,1,false,[],0)"},
        {"a word where a short is declared", 5, {VText(L"many")}, nullptr},
        {"a short out of range", 5, {VI4(70000)}, nullptr},
        {"too few arguments", 6, {VI4(1)}, nullptr},
        {"an answer by value", 40, {VI4(0), VI4(1), VText(L"q"), VText(L"a"), VI4(0)}, nullptr},
        {"an answer through a variant reference",
         40,
         {VI4(0), VI4(1), VText(L"q"), VVariantRef(&inner), VI4(0)},
         "HostQuery(0,1,q,&proposal,0)"},
        {"an answer pointing nowhere", 40, {VI4(0), VI4(1), VText(L"q"), VTextRef(nullptr), VI4(0)}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        holder.calls.clear();
        CVariant result;
        EXPECT_EQ(session.Fire(c.id, c.args, &result), S_OK);
        if (c.expected) {
            ASSERT_EQ(holder.calls.size(), 1u);
            EXPECT_EQ(holder.calls[0], c.expected);
            EXPECT_EQ(result.vt, VT_I4);
            EXPECT_EQ(result.lVal, 42) << "the handler's result is the event's";
        } else {
            EXPECT_TRUE(holder.calls.empty()) << holder.calls[0];
        }
    }
    // Named arguments are not part of any event.
    VARIANT arg = VI2(1);
    DISPID named = 0;
    DISPPARAMS params = {&arg, &named, 1, 1};
    EXPECT_EQ(session.sink->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    session.ExpectDestruction(7);
}

// One event as a type library declares it; VT_BYREF and VT_ARRAY mean a pointer and a SAFEARRAY of the rest.
struct DeclaredEvent {
    DISPID id;
    const wchar_t* name;
    std::vector<VARTYPE> types;
};

// The session's type library as another version of the host might register it, with these events only.
bool RegisterForeignTypeLibrary(const std::wstring& path, const std::vector<DeclaredEvent>& declared) {
    CComPtr<ICreateTypeLib2> library;
    CComPtr<ICreateTypeInfo> events;
    CComPtr<ITypeLib> stdole, saved;
    CComPtr<ITypeInfo> dispatch;
    HREFTYPE base = 0;
    if (FAILED(CreateTypeLib2(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, path.c_str(), &library)) ||
        FAILED(
            library->CreateTypeInfo(const_cast<LPOLESTR>(L"_IQuorSessionEvents"), TKIND_DISPATCH, &events)) ||
        FAILED(LoadTypeLib(L"stdole2.tlb", &stdole)) ||
        FAILED(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch)) ||
        FAILED(events->AddRefTypeInfo(dispatch.Get(), &base)))
        return false;
    library->SetGuid(LIBID_QuorSessionLib);
    library->SetVersion(1, 1);
    library->SetLcid(LOCALE_NEUTRAL);
    events->SetGuid(DIID__IQuorSessionEvents);
    events->AddImplType(0, base);
    bool ok = true;
    for (UINT index = 0; index < declared.size(); ++index) {
        const DeclaredEvent& event = declared[index];
        std::vector<ELEMDESC> params(event.types.size());
        std::vector<TYPEDESC> inner(2 * event.types.size());
        for (size_t i = 0; i < event.types.size(); ++i) {
            TYPEDESC* desc = &params[i].tdesc;
            const VARTYPE type = event.types[i];
            if (type & VT_BYREF) {
                desc->vt = VT_PTR;
                desc = desc->lptdesc = &inner[2 * i];
            }
            if (type & VT_ARRAY) {
                desc->vt = VT_SAFEARRAY;
                desc = desc->lptdesc = &inner[2 * i + 1];
            }
            desc->vt = type & ~(VT_BYREF | VT_ARRAY);
        }
        FUNCDESC desc = {};
        desc.memid = event.id;
        desc.funckind = FUNC_DISPATCH;
        desc.invkind = INVOKE_FUNC;
        desc.callconv = CC_STDCALL;
        desc.cParams = static_cast<SHORT>(event.types.size());
        desc.lprgelemdescParam = params.data();
        desc.elemdescFunc.tdesc.vt = VT_I4;
        std::vector<LPOLESTR> names(event.types.size() + 1, const_cast<LPOLESTR>(L"p"));
        names[0] = const_cast<LPOLESTR>(event.name);
        ok = ok && SUCCEEDED(events->AddFuncDesc(index, &desc)) &&
             SUCCEEDED(events->SetFuncAndParamNames(index, names.data(), static_cast<UINT>(names.size())));
    }
    return ok && SUCCEEDED(events->LayOut()) && SUCCEEDED(library->SaveAllChanges()) &&
           SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &saved));
}

TEST_F(DeviceSessionTest, EventsReachTheirHandlersWhateverCompatibleTypesTheHostLibraryDeclares) {
    ASSERT_EQ(CEventTypeCache::Users(), 0) << "another holder would keep the cached type information";
    const std::wstring foreign = WideFromNarrow((ProgramDirectory() + "ForeignSession.tlb").c_str());
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    const VARTYPE block = VT_BYREF | VT_ARRAY | VT_UI1;
    struct Case {
        const char* what;
        std::vector<DeclaredEvent> declared; // empty: no library registered
        std::vector<std::string> expected;   // handler calls for the events fired below
    };
    const Case cases[] = {
        {"no type library registered", {}, {}},
        {"a library that does not fit: a text for a short, a parameter less, a value for a reference",
         {{5, L"ConnectionStatus", {VT_BSTR}},
          {2, L"RequestComplete", {VT_I4, VT_I4, VT_BOOL, VT_I4}},
          {12, L"TaskComplete", {VT_I4, VT_UI1, VT_I4}},
          {8, L"ConnectionParamsChanged", {VT_I4}}},
         {"TaskComplete(3,1,0)"}},
        {"a library with other, compatible types",
         {{5, L"ConnectionStatus", {VT_I4}},
          {2, L"RequestComplete", {VT_I2, VT_I4, VT_UI1, block, VT_I4}},
          {12, L"TaskComplete", {VT_I2, VT_I4, VT_VARIANT}},
          {8, L"ConnectionParamsChanged", {VT_BYREF | VT_BSTR}}},
         {"ConnectionStatus(1)", "RequestComplete(4,20483,true,[],9)", "TaskComplete(3,1,0)",
          "ConnectionParams(dev9)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UnRegisterTypeLib(LIBID_QuorSessionLib, 1, 1, LOCALE_NEUTRAL, kind);
        if (!c.declared.empty()) {
            ASSERT_TRUE(RegisterForeignTypeLibrary(foreign, c.declared));
        }
        session.Expect("Advise", 7);
        {
            CRecordingSession holder;
            EXPECT_EQ(CEventTypeCache::Loaded(), !c.declared.empty());
            // Each event as a source built on that library sends it.
            SAFEARRAY* none = nullptr;
            VARIANT connection = VText(L"dev9");
            EXPECT_EQ(session.Fire(5, {VI4(1)}), S_OK);
            EXPECT_EQ(session.Fire(2, {VI2(4), VI4(0x5003), VUI1(1), VArrayRef(&none), VI4(9)}), S_OK);
            EXPECT_EQ(session.Fire(12, {VI2(3), VI4(1), VI4(0)}), S_OK);
            EXPECT_EQ(session.Fire(8, {VTextRef(&connection.bstrVal)}), S_OK);
            EXPECT_EQ(holder.calls, c.expected);
            // The two events that carry their own parameter lists arrive whatever the library says.
            holder.calls.clear();
            BSTR reply = nullptr;
            EXPECT_EQ(session.Fire(40, {VI4(0), VI4(0), VText(L"Note"), VTextRef(&reply), VI4(0)}), S_OK);
            EXPECT_EQ(session.Fire(29, {VI4(1), VI4(2), VI4(3), VI4(4), VText(L"x"), VI4(5)}), S_OK);
            EXPECT_EQ(holder.calls,
                      (std::vector<std::string>{"HostQuery(0,0,Note,&<null>,0)", "Notify29(1,2,3,4,x,5)"}));
            session.ExpectDestruction(7);
        }
        UnRegisterTypeLib(LIBID_QuorSessionLib, 1, 1, LOCALE_NEUTRAL, kind);
        ASSERT_TRUE(EnsureSessionTypeLibrary());
        session.VerifyDone();
    }
    DeleteFileW(foreign.c_str());
}

TEST_F(DeviceSessionTest, ErrorTextIsTheSessionsFirstLineOfDefenceAgainstOddAnswers) {
    session.Expect("Advise", 7);
    CDeviceSession holder;
    const std::wstring huge(10000, L'x');
    const wchar_t withNul[] = L"before\0after";
    struct Case {
        const char* what;
        const wchar_t* text;
        long code;
        std::string expected;
    };
    const Case cases[] = {
        {"no text at all", nullptr, 45, ""},
        {"a text longer than anyone reads", huge.c_str(), 3, std::string(4096, 'x')},
        {"a NUL ends the text", withNul, 1, "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        session.ExpectErrorInfo(c.text, c.code);
        const RequestResult failure = holder.LastFailure();
        EXPECT_EQ(failure.text, c.expected);
        EXPECT_EQ(failure.code, c.code);
    }
    session.ExpectDestruction(7);
}

TEST_F(DeviceSessionTest, HostQueriesReachTheHostLibraryWithTheirOwnerAndReportWhetherTheyWereHandled) {
    session.Expect("Advise", 7);
    CDeviceSession holder;
    const sessiontest::CTempFolder folder("queries");
    const std::string log = folder / "calls.log";
    SetEnvironmentVariableA("QUORGUI_CALL_LOG", log.c_str());
    struct Case {
        const char* what;
        const char* scripted; // the library's scripted answer, or none
        long type;
        const wchar_t* proposal;
        long expectedResult;
        const wchar_t* expectedAnswer;
    };
    const Case cases[] = {
        {"a text answer replaces the proposal", "renamed.dat", 3, L"proposal", S_OK, L"renamed.dat"},
        {"an answer where there was no text", "OK", 2, nullptr, S_OK, L"OK"},
        {"nobody to ask", nullptr, 1, L"proposal", S_FALSE, L"proposal"},
        {"a kind of query only the library can judge", "Yes", 17, L"proposal", S_FALSE, L"proposal"},
    };
    std::string expectedLog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", c.scripted);
        BSTR answer = c.proposal ? SysAllocString(c.proposal) : nullptr;
        CVariant result;
        EXPECT_EQ(session.Fire(
                      40, {VI4(0), VI4(c.type), VText(L"Overwrite \\cf0\\a.txt?"), VTextRef(&answer), VI4(0)},
                      &result),
                  S_OK);
        EXPECT_EQ(result.lVal, c.expectedResult);
        EXPECT_STREQ(answer, c.expectedAnswer);
        SysFreeString(answer);
        // Every kind reaches the library, with the owner as the owner.
        expectedLog += "query|" + std::to_string(c.type) + "|Overwrite \\cf0\\a.txt?|" +
                       std::to_string(reinterpret_cast<uintptr_t>(holder.QueryOwner())) + "\r\n";
    }
    SetEnvironmentVariableA("QUORGUI_CALL_LOG", nullptr);
    SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", nullptr);
    EXPECT_EQ(sessiontest::ReadFileText(log), expectedLog);

    // The owner is our foreground window, else the main window, else the desktop.
    HWND desktop = GetDesktopWindow();
    HWND main =
        CreateWindowExA(0, "STATIC", "main", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    // Nothing of ours in front (the desktop, another process's or none: the system decides), ours, none.
    SetForegroundWindow(desktop);
    Pump(50);
    DWORD process = 0;
    if (HWND foreground = GetForegroundWindow())
        GetWindowThreadProcessId(foreground, &process);
    ASSERT_NE(process, GetCurrentProcessId());
    EXPECT_EQ(holder.QueryOwner(), desktop) << "no main window yet: the desktop";
    holder.ownerWindow = main;
    EXPECT_EQ(holder.QueryOwner(), main);

    HWND front = CreateWindowExA(0, "STATIC", "front", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(SetForegroundWindow(front));
    Pump(20, [&] { return GetForegroundWindow() == front; });
    ASSERT_EQ(GetForegroundWindow(), front);
    EXPECT_EQ(holder.QueryOwner(), front);
    DestroyWindow(front);
    Pump(20, [] { return GetForegroundWindow() == nullptr; });
    ASSERT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(holder.QueryOwner(), main);
    DestroyWindow(main);
    session.ExpectDestruction(7);
}

TEST_F(DeviceSessionTest, AReconnectRunsAfterTheEventFromTheTimersAlertableWait) {
    session.Expect("Advise", 7);
    CDeviceSession holder;
    session.VerifyDone();
    // Two requests in quick succession run in the order they came.
    session.Expect("Disconnect");
    session.Expect("Connect(dev2,)");
    session.Expect("Disconnect");
    session.Expect("Connect(dev3;latency=5,)");
    CVariant result;
    EXPECT_EQ(session.Fire(8, {VText(L"dev2")}, &result), S_OK);
    EXPECT_EQ(result.lVal, 0);
    EXPECT_EQ(session.Fire(8, {VText(L"dev3;latency=5")}), S_OK);
    EXPECT_EQ(session.Trace(), "") << "the reconnect ran inside the event";
    // This pump never waits alertably itself: only the timer's wait can run the reconnect.
    Pump(2000, [&] { return session.Trace().find("dev3") != std::string::npos; });
    session.VerifyDone();

    // A holder that goes away before its reconnect runs leaves the reconnect nothing to do.
    session.Expect("Advise", 8);
    auto shortLived = std::make_unique<CDeviceSession>();
    EXPECT_EQ(shortLived->ScheduleReconnect(CBstr(L"dev4").Get()), 0);
    session.ExpectDestruction(8);
    shortLived.reset();
    Pump(100);
    session.VerifyDone();
    session.ExpectDestruction(7);
}

// The host's methods and one of the tests' own.
const std::vector<std::wstring> kEnvironmentMethods = [] {
    std::vector<std::wstring> names(std::begin(kEnvironmentMethodNames), std::end(kEnvironmentMethodNames));
    names.push_back(L"Method");
    return names;
}();

using Arg = CRecordingEnvironment::Arg;

// One field of a recorded call's arguments (&Arg::type, &Arg::value), in the method's parameter order.
template <class T> std::vector<T> Args(const CRecordingEnvironment::Call& call, T Arg::*field) {
    std::vector<T> out;
    for (auto it = call.args.rbegin(); it != call.args.rend(); ++it)
        out.push_back((*it).*field);
    return out;
}

// The host application object as the host registers it; records the command line it is given.
class CHostApplicationDouble : public IVarnelApplication, public IClassFactory {
public:
    std::wstring commandLine;
    HRESULT answer = S_OK;
    bool offerInterface = true;
    int launches = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || (offerInterface && IsEqualIID(iid, IID_IVarnelApplication)))
            *out = static_cast<IVarnelApplication*>(this);
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
        ASSERT_EQ(CoRegisterClassObject(CLSID_VarnelApplication, static_cast<IClassFactory*>(&application),
                                        CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                        &cookie),
                  S_OK);
    }
    void TearDown() override {
        CoRevokeClassObject(cookie);
        ScriptedSessionFixture::TearDown();
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
    // Types outside the accepted ones, by value or by reference, are refused before the environment is asked.
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
    EXPECT_EQ(Args(all, &Arg::type),
              (std::vector<VARTYPE>{VT_I2, VT_I4, VT_BSTR, VT_DISPATCH, VT_UNKNOWN, VT_BYREF | VT_I2,
                                    VT_BYREF | VT_I4, VT_BYREF | VT_BSTR}));
    EXPECT_EQ(Args(all, &Arg::value)[0], L"-7");
    EXPECT_EQ(Args(all, &Arg::value)[1], L"70000");
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
    for (CRecordingEnvironment* given : {&environment, &second}) {
        IStream* stream = MarshalledStream(given);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(holder.SetFromStream(stream), S_OK);
        stream->Release();
    }
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
    session.ExpectCreation();
    CHostedSession holder;
    // Without an environment nothing is sent and the calls that have a result say E_FAIL.
    char buffer[8] = "keep";
    EXPECT_FALSE(holder.HasEnvironment());
    EXPECT_EQ(holder.UpdateConnectionStatus(1), 0);
    EXPECT_EQ(holder.SetPluginWindowSize(1, 2, 3, 4, 5, 6), E_FAIL);
    EXPECT_EQ(holder.GetCurrentAddress(buffer, buffer, buffer, 8), E_FAIL);
    EXPECT_STREQ(buffer, "keep");

    holder.SetEnvironment(&environment);
    environment.replies = {L"10.0.0.5", L"502", L"unit 3"};
    CBstr plugin(L"Other"), address(L"10.0.0.7"), third(L"x");
    char first[5] = "????", second[5] = "????";
    EXPECT_EQ(holder.UpdateConnectionStatus(2), 0);
    EXPECT_EQ(holder.LaunchPlugin(plugin.Get(), address.Get(), third.Get()), S_OK);
    EXPECT_EQ(holder.SetPluginWindowSize(1, 2, 3, 4, 5, 6), S_OK);
    EXPECT_EQ(holder.GetCurrentAddress(first, nullptr, second, 5), S_OK);
    EXPECT_EQ(holder.ShowFrameFooter(9), S_OK);
    EXPECT_EQ(holder.AppendToWindowTitle(" - device 2"), S_OK);
    EXPECT_EQ(holder.SetWindowTitleTool("Files"), S_OK);
    // New connection parameters are sent when the reconnect is queued.
    session.Expect("Disconnect");
    session.Expect("Connect(dev6;port=7,)");
    EXPECT_EQ(holder.UpdateConnectionParams(CBstr(L"dev6;port=7").Get()), 0);
    Pump(1000, [&] { return session.Trace().find("Connect") != std::string::npos; });
    session.VerifyDone();
    EXPECT_TRUE(holder.HasEnvironment());
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
        EXPECT_EQ(Args(environment.calls[i], &Arg::type), expected[i].types);
        EXPECT_EQ(Args(environment.calls[i], &Arg::value), expected[i].values);
    }
    // At most five bytes each, terminated within them; a null buffer is skipped.
    EXPECT_STREQ(first, "10.0");
    EXPECT_STREQ(second, "unit");

    holder.SetEnvironment(nullptr);
    session.ExpectDestruction();
}

TEST_F(EnvDispatchTest, WithoutASessionOrEnvironmentLaunchGoesThroughTheHostApplicationAndAReconnectFails) {
    factory.createResult = REGDB_E_CLASSNOTREG;
    CHostedSession holder;
    EXPECT_FALSE(holder.HasSession());
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
