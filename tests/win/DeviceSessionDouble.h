// Scripted stand-ins for the session component, the prompts and the host's environment: expected calls
// with their answers, in order; any difference fails the test with the whole trace.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include "QuorSession_h.h"
#include "framework/Prompts.h"
#include "WinTestSupport.h"
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

// One expected call and what the double answers.
struct SessionStep {
    std::string call;            // e.g. "Connect(dev1,Dorvex Varnel Plugin)", "Submit(0x5003,[],-1,0)"
    long result = 1;             // the operation's result; for Advise the cookie
    HRESULT hr = S_OK;           // what the method itself returns
    const wchar_t* text = L"";   // GetLastErrorInfo: the text (null: none)
    long code = 0;               // GetLastErrorInfo: the code
    SAFEARRAY* output = nullptr; // Execute: the answer block handed back (the script's until then)
};

class CSessionDouble : public IQuorSession2, public IConnectionPointContainer, public IConnectionPoint {
public:
    CSessionDouble() = default;
    CSessionDouble(const CSessionDouble&) = delete;
    CSessionDouble& operator=(const CSessionDouble&) = delete;
    ~CSessionDouble();

    // The script. A synchronous request's answer block (taken over) is `output`, e.g. from MakeListing.
    void Expect(const std::string& call, long result = 1, SAFEARRAY* output = nullptr, HRESULT hr = S_OK) {
        m_script.push_back({call, result, hr, L"", 0, output});
    }
    void ExpectErrorInfo(const wchar_t* text, long code) {
        m_script.push_back({"GetLastErrorInfo", 1, S_OK, text, code});
    }
    // The calls the holder makes when it is created and destroyed.
    void ExpectCreation() {
        Expect("Advise", 7);
        Expect("SetOptions(%D)");
    }
    void ExpectDestruction(long cookie = 7) {
        Expect("Unadvise(" + std::to_string(cookie) + ")");
        Expect("Disconnect");
    }
    // Fails with the trace when expected calls are left over; then starts a fresh script.
    void VerifyDone();
    bool ScriptDone() const { return m_script.empty(); }
    std::string Trace() const;
    // Called before each call is answered, with its text: lets a test look at the world at that moment.
    std::function<void(const std::string&)> onCall;

    // What the test varies about the component.
    bool offerConnectionPoints = true; // answers IConnectionPointContainer
    LONG refs = 1;
    // The sink advised last and still subscribed; events go to every subscribed sink.
    IDispatch* sink = nullptr;

    // Fires an event at the subscribed sinks with arguments in declaration order, as the component does.
    HRESULT Fire(DISPID id, std::vector<VARIANT> args, VARIANT* result = nullptr);
    HRESULT FireComplete(long errorCode, long request, bool success, SAFEARRAY* answer, LONG_PTR userData = 0,
                         VARIANT* result = nullptr);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    // IDispatch: only GetLastErrorInfo, by name, as the host's standard error display asks for it.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override;
    // IQuorSession2
    STDMETHODIMP Connect(BSTR connection, BSTR clientName, LONG* result) override;
    STDMETHODIMP Disconnect(LONG* result) override { return Reply("Disconnect", result); }
    STDMETHODIMP Execute(LONG request, SAFEARRAY** input, SAFEARRAY** output, LONG wait, LONG reserved,
                         LONG* result) override;
    STDMETHODIMP Submit(LONG request, SAFEARRAY** block, LONG wait, LONG* requestId, LONG_PTR userData,
                        LONG reserved, LONG* result) override;
    STDMETHODIMP ReserveDevice(LONG wait, LONG* result) override {
        return Reply("ReserveDevice(" + std::to_string(wait) + ")", result);
    }
    STDMETHODIMP ReleaseDevice(LONG* result) override { return Reply("ReleaseDevice", result); }
    STDMETHODIMP CancelRequest(LONG requestId, LONG mode, LONG* result) override {
        return Reply("CancelRequest(" + std::to_string(requestId) + "," + std::to_string(mode) + ")", result);
    }
    STDMETHODIMP GetLastErrorInfo(BSTR* text, LONG* code) override;
    STDMETHODIMP SetOptions(BSTR options) override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override { return *iid = DIID__IQuorSessionEvents, S_OK; }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    // Records the call, checks it against the script and gives the step that answers it.
    SessionStep Answer(const std::string& call);
    // Answers a call whose only output is the result.
    HRESULT Reply(const std::string& call, LONG* result) {
        const SessionStep step = Answer(call);
        *result = step.result;
        return step.hr;
    }

    std::vector<std::pair<DWORD, IDispatch*>> m_sinks;
    std::deque<SessionStep> m_script;
    std::vector<std::string> m_trace;
    long m_nextRequestId = 100;
};

// The class object CoCreateInstance finds for the session class while a test runs.
class CSessionFactory : public IClassFactory {
public:
    explicit CSessionFactory(CSessionDouble& session) : m_session(session) {}
    HRESULT Register();
    void Revoke();
    HRESULT createResult = S_OK; // a failure here is what CoCreateInstance reports

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    CSessionDouble& m_session;
    DWORD m_cookie = 0;
};

// Expected message boxes, modal dialogs, popup menus and folder browsers, answered in order; anything
// else fails the test.
class CScriptedPrompts : public IPrompts {
public:
    enum class Kind { Box, Dialog, Menu, Folder };
    struct Box {
        std::string text;
        std::string caption;
        UINT type;
        int answer;
        Kind kind = Kind::Box;
        std::vector<std::string> items; // a menu's item texts, "-" for a separator
        std::optional<std::string> path;
    };
    CScriptedPrompts() { m_previous = SetPrompts(this); }
    ~CScriptedPrompts() override { SetPrompts(m_previous); }
    // A text of "*" takes any text; `shown` keeps every text shown.
    void ExpectBox(const std::string& text, const std::string& caption, UINT type, int answer = IDOK) {
        m_expected.push_back({text, caption, type, answer, Kind::Box, {}, std::nullopt});
    }
    // The dialog `name` runs for real; once it is up, its first static text is checked against `text`
    // ("*": any), onDialog sees it, and control `click` is clicked (IDCANCEL: as Escape does).
    void ExpectDialog(const std::string& name, const std::string& text, int click) {
        m_expected.push_back({text, name, 0, click, Kind::Dialog, {}, std::nullopt});
    }
    // A popup menu with exactly these item texts; the command `answer` is chosen (0: dismissed).
    void ExpectMenu(std::vector<std::string> items, UINT answer) {
        m_expected.push_back(
            {"", "", 0, static_cast<int>(answer), Kind::Menu, std::move(items), std::nullopt});
    }
    // The folder browser titled `title`; it answers `path` (nothing: cancelled).
    void ExpectFolder(const std::string& title, std::optional<std::string> path) {
        m_expected.push_back({title, "", 0, 0, Kind::Folder, {}, std::move(path)});
    }
    void VerifyDone();
    std::function<void(HWND)> onDialog; // runs inside a scripted dialog before the click

    int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
    INT_PTR DoModal(HINSTANCE instance, int dialogId, const std::string& name, HWND owner, DLGPROC proc,
                    LPARAM param) override;
    UINT TrackPopupMenu(HMENU menu, UINT flags, POINT screen, HWND owner) override;
    std::optional<std::string> BrowseForFolder(HWND owner, const std::string& title) override;

    std::vector<HWND> owners;
    std::vector<std::string> shown;

private:
    // The next expectation, which must be of `kind`; false (with a failure) when there is none.
    bool Next(Kind kind, const std::string& what, Box& box);
    static void CALLBACK DialogTick(HWND, UINT, UINT_PTR, DWORD);

    IPrompts* m_previous = nullptr;
    std::deque<Box> m_expected;
};

// A host environment object that knows the method names it is given and records every call.
class CRecordingEnvironment : public IDispatch {
public:
    explicit CRecordingEnvironment(std::vector<std::wstring> names) : m_names(std::move(names)) {}
    // One argument as received: its type, its value as text (by-reference ones: what they point at when
    // the call arrives) and the pointer it carries, if any.
    struct Arg {
        VARTYPE type;
        std::wstring value;
        const void* pointer;
    };
    struct Call {
        std::wstring name;
        WORD flags;
        bool iidNull;
        std::vector<Arg> args; // in the order of the array: last argument first
    };
    std::vector<Call> calls;
    // False: calls are only counted, so that long runs do not grow the record.
    bool keepCalls = true;
    size_t callCount = 0;
    int lookups = 0;
    LONG refs = 1;
    // Written through by-reference text arguments, in argument order.
    std::vector<std::wstring> replies;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) override;

private:
    std::vector<std::wstring> m_names;
};

// Closes the next real box with this caption on this thread (a thread timer runs in its modal loop) and
// keeps its text and owner: how a test reads the boxes the host library shows itself.
class CBoxCloser {
public:
    explicit CBoxCloser(const char* caption);
    ~CBoxCloser();
    CBoxCloser(const CBoxCloser&) = delete;
    CBoxCloser& operator=(const CBoxCloser&) = delete;
    bool Closed() const { return m_closed; }
    std::string text;
    HWND owner = nullptr;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    std::string m_caption;
    UINT_PTR m_timer = 0;
    bool m_closed = false;
};

// Variant arguments as the component sends them; BSTRs made here live until the test ends.
VARIANT VI4(long value);
VARIANT VI2(short value);
VARIANT VBool(bool value);
VARIANT VUI1(BYTE value);
VARIANT VText(const wchar_t* text); // a copy, freed by FreeTestStrings
VARIANT VBstr(BSTR text);           // the caller's own text
VARIANT VTextRef(BSTR* text);
VARIANT VI2Ref(short* value);
VARIANT VVariantRef(VARIANT* variable); // a script engine's variable, by reference
VARIANT VArrayRef(SAFEARRAY** array);
VARIANT VUserData(LONG_PTR value);
void FreeTestStrings();

// A stream holding `object` marshalled as the host hands its environment over, read from the start.
IStream* MarshalledStream(IDispatch* object);

// A block as the trace shows it: [text,12,true,...]; values other than texts, integers and booleans as "?".
std::string BlockText(SAFEARRAY* array);

// One listing record, and a listing answer of such records (each as a directory-entry element).
struct DirectoryRecord;
DirectoryRecord TestEntry(const std::string& name, bool directory, uint32_t size = 0, uint64_t time = 0);
SAFEARRAY* MakeListing(const std::vector<DirectoryRecord>& entries);

// A parameter-block byte array with these texts, then these integers.
SAFEARRAY* MakeBlock(std::initializer_list<const char*> texts, std::initializer_list<int> numbers = {});

// Registers the session's type library next to this program unless it is registered already.
bool EnsureSessionTypeLibrary();
