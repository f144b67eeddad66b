#include "DeviceSessionDouble.h"
#include "browser/DirectoryEntry.h"
#include "framework/Handles.h"
#include "paramblock/ParamBlock.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <utility>

namespace {

std::vector<BSTR> g_testStrings;

std::string Hex(long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

std::string Narrow(BSTR text) {
    return text ? NarrowFromWide(text, static_cast<int>(SysStringLen(text))) : "<null>";
}

} // namespace

std::string BlockText(SAFEARRAY* array) {
    CParamBlock block;
    block.ImportArray(array);
    std::string out = "[";
    for (size_t i = 0; i < block.Count(); ++i) {
        const CParamValue& value = block.At(i);
        out += i ? "," : "";
        out += value.Kind() == PK_TEXT   ? value.GetText()
               : value.Kind() == PK_INT  ? std::to_string(value.GetInt())
               : value.Kind() == PK_BOOL ? (value.GetBool() ? "true" : "false")
                                         : "?";
    }
    return out + "]";
}

// ---- session double ----

CSessionDouble::~CSessionDouble() {
    for (auto& entry : m_sinks)
        entry.second->Release();
}

void CSessionDouble::VerifyDone() {
    if (!m_script.empty()) {
        std::string left;
        for (const SessionStep& step : m_script) {
            left += "  " + step.call + "\n";
            if (step.output)
                SafeArrayDestroy(step.output);
        }
        ADD_FAILURE() << "expected session calls that never came:\n" << left << "trace:\n" << Trace();
    }
    m_script.clear();
    m_trace.clear();
}

std::string CSessionDouble::Trace() const {
    std::string out;
    for (const std::string& line : m_trace)
        out += "  " + line + "\n";
    return out;
}

SessionStep CSessionDouble::Answer(const std::string& call) {
    if (onCall)
        onCall(call);
    m_trace.push_back(call);
    if (m_script.empty()) {
        ADD_FAILURE() << "unexpected session call " << call << "\ntrace:\n" << Trace();
        SessionStep refused;
        refused.result = 0;
        return refused;
    }
    SessionStep step = m_script.front();
    m_script.pop_front();
    if (step.call != call) {
        ADD_FAILURE() << "session call " << m_trace.size() << ": expected " << step.call << ", got " << call
                      << "\ntrace:\n"
                      << Trace();
        step.result = 0;
    }
    return step;
}

STDMETHODIMP CSessionDouble::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IQuorSession2) || IsEqualIID(iid, IID_IDispatch))
        *out = static_cast<IQuorSession2*>(this);
    else if (offerConnectionPoints && IsEqualIID(iid, IID_IConnectionPointContainer))
        *out = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPoint))
        *out = static_cast<IConnectionPoint*>(this);
    if (!*out)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP CSessionDouble::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count != 1 || wcscmp(names[0], L"GetLastErrorInfo") != 0) {
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = 8;
    return S_OK;
}

STDMETHODIMP CSessionDouble::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                    UINT*) {
    if (id != 8)
        return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 2 || params->rgvarg[1].vt != (VT_BYREF | VT_BSTR) ||
        params->rgvarg[0].vt != (VT_BYREF | VT_I4))
        return DISP_E_TYPEMISMATCH;
    return GetLastErrorInfo(params->rgvarg[1].pbstrVal, params->rgvarg[0].plVal);
}

STDMETHODIMP CSessionDouble::Connect(BSTR connection, BSTR clientName, LONG* result) {
    return Reply("Connect(" + Narrow(connection) + "," + Narrow(clientName) + ")", result);
}

STDMETHODIMP CSessionDouble::Execute(LONG request, SAFEARRAY** input, SAFEARRAY** output, LONG wait, LONG,
                                     LONG* result) {
    SessionStep step = Answer("Execute(" + Hex(request) + "," + BlockText(input ? *input : nullptr) + "," +
                              std::to_string(wait) + ")");
    // The component replaces the caller's output array with its answer, as the interface allows.
    if (step.output && output)
        std::swap(*output, step.output); // the caller's array, if any, is destroyed below
    if (step.output)
        SafeArrayDestroy(step.output);
    *result = step.result;
    return step.hr;
}

STDMETHODIMP CSessionDouble::Submit(LONG request, SAFEARRAY** block, LONG wait, LONG* requestId,
                                    LONG_PTR userData, LONG, LONG* result) {
    SessionStep step = Answer("Submit(" + Hex(request) + "," + BlockText(block ? *block : nullptr) + "," +
                              std::to_string(wait) + "," + std::to_string(userData) + ")");
    *requestId = step.result ? m_nextRequestId++ : 0;
    *result = step.result;
    return step.hr;
}

STDMETHODIMP CSessionDouble::GetLastErrorInfo(BSTR* text, LONG* code) {
    SessionStep step = Answer("GetLastErrorInfo");
    SysFreeString(*text);
    *text = step.text ? SysAllocStringLen(step.text, static_cast<UINT>(wcslen(step.text))) : nullptr;
    *code = step.code;
    return step.hr;
}

STDMETHODIMP CSessionDouble::SetOptions(BSTR options) {
    return Answer("SetOptions(" + Narrow(options) + ")").hr;
}

STDMETHODIMP CSessionDouble::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    *point = nullptr;
    if (!IsEqualIID(iid, DIID__IQuorSessionEvents))
        return CONNECT_E_NOCONNECTION;
    *point = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP CSessionDouble::Advise(IUnknown* newSink, DWORD* cookie) {
    SessionStep step = Answer("Advise");
    if (FAILED(step.hr))
        return step.hr;
    IDispatch* dispatch = nullptr;
    if (FAILED(newSink->QueryInterface(DIID__IQuorSessionEvents, reinterpret_cast<void**>(&dispatch))))
        return CONNECT_E_CANNOTCONNECT;
    *cookie = static_cast<DWORD>(step.result);
    m_sinks.push_back({*cookie, dispatch});
    sink = dispatch;
    return S_OK;
}

STDMETHODIMP CSessionDouble::Unadvise(DWORD cookie) {
    SessionStep step = Answer("Unadvise(" + std::to_string(cookie) + ")");
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it)
        if (it->first == cookie) {
            it->second->Release();
            m_sinks.erase(it);
            break;
        }
    sink = m_sinks.empty() ? nullptr : m_sinks.back().second;
    return step.hr;
}

HRESULT CSessionDouble::Fire(DISPID id, std::vector<VARIANT> args, VARIANT* result) {
    if (m_sinks.empty())
        return E_UNEXPECTED;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    UINT argError = 0;
    HRESULT hr = S_OK;
    // A sink may unsubscribe while it handles the event.
    const auto sinks = m_sinks;
    for (const auto& entry : sinks)
        hr = entry.second->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                                  nullptr, &argError);
    return hr;
}

HRESULT CSessionDouble::FireComplete(long errorCode, long request, bool success, SAFEARRAY* answer,
                                     LONG_PTR userData, VARIANT* result) {
    SAFEARRAY* block = answer;
    HRESULT hr = Fire(
        2, {VI4(errorCode), VI4(request), VBool(success), VArrayRef(&block), VUserData(userData)}, result);
    if (block)
        SafeArrayDestroy(block);
    return hr;
}

// ---- factory ----

HRESULT CSessionFactory::Register() {
    return CoRegisterClassObject(CLSID_QuorSession, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                 &m_cookie);
}

void CSessionFactory::Revoke() {
    if (m_cookie)
        CoRevokeClassObject(m_cookie);
    m_cookie = 0;
}

STDMETHODIMP CSessionFactory::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = this;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CSessionFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (FAILED(createResult))
        return createResult;
    return m_session.QueryInterface(iid, out);
}

// ---- prompts ----

void CScriptedPrompts::VerifyDone() {
    for (const Box& box : m_expected)
        ADD_FAILURE() << "expected prompt never shown: \"" << box.text << "\" (" << box.caption << ")";
    m_expected.clear();
}

bool CScriptedPrompts::Next(Kind kind, const std::string& what, Box& box) {
    if (m_expected.empty()) {
        ADD_FAILURE() << "unexpected " << what;
        return false;
    }
    box = m_expected.front();
    m_expected.pop_front();
    if (box.kind != kind) {
        ADD_FAILURE() << "expected prompt \"" << box.text << "\" (" << box.caption << "), got " << what;
        return false;
    }
    return true;
}

int CScriptedPrompts::MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    owners.push_back(owner);
    shown.push_back(text);
    Box box;
    if (!Next(Kind::Box, "message box \"" + text + "\" (" + caption + ")", box))
        return IDCANCEL;
    if (box.text != "*") {
        EXPECT_EQ(text, box.text);
    }
    EXPECT_EQ(caption, box.caption);
    EXPECT_EQ(type, box.type) << "box \"" << text << "\"";
    return box.answer;
}

namespace {

// The scripted dialog that is up, seen from the thread timer that answers it.
struct PendingDialog {
    CScriptedPrompts::Box box;
    std::function<void(HWND)> inspect;
    std::string text;
    bool answered = false;
};
PendingDialog* g_pendingDialog = nullptr;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770" && IsWindowEnabled(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FirstStatic(HWND child, LPARAM text) {
    char name[16] = "";
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") != 0 || GetWindowTextLengthA(child) == 0)
        return TRUE;
    std::string value(static_cast<size_t>(GetWindowTextLengthA(child)) + 1, '\0');
    value.resize(static_cast<size_t>(GetWindowTextA(child, value.data(), static_cast<int>(value.size()))));
    *reinterpret_cast<std::string*>(text) = value;
    return FALSE;
}

} // namespace

void CALLBACK CScriptedPrompts::DialogTick(HWND, UINT, UINT_PTR, DWORD) {
    PendingDialog* pending = g_pendingDialog;
    if (!pending || pending->answered)
        return;
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return;
    pending->answered = true;
    EnumChildWindows(dialog, FirstStatic, reinterpret_cast<LPARAM>(&pending->text));
    if (pending->inspect)
        pending->inspect(dialog);
    const int click = pending->box.answer;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(click, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, click)));
}

INT_PTR CScriptedPrompts::DoModal(HINSTANCE instance, int dialogId, const std::string& name, HWND owner,
                                  DLGPROC proc, LPARAM param) {
    PendingDialog pending;
    if (!Next(Kind::Dialog, "dialog " + name + " (" + std::to_string(dialogId) + ")", pending.box))
        return IDCANCEL;
    EXPECT_EQ(name, pending.box.caption);
    pending.inspect = onDialog;
    g_pendingDialog = &pending;
    // The real dialog in its real modal loop; a thread timer inside that loop gives the answer.
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, DialogTick);
    const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(dialogId), owner, proc, param);
    KillTimer(nullptr, timer);
    g_pendingDialog = nullptr;
    EXPECT_TRUE(pending.answered) << "dialog " << name << " ended before it was answered";
    shown.push_back(pending.text);
    if (pending.box.text != "*") {
        EXPECT_EQ(pending.text, pending.box.text);
    }
    return result;
}

UINT CScriptedPrompts::TrackPopupMenu(HMENU menu, UINT, POINT, HWND owner) {
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[256] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_STATE;
        info.dwTypeData = text;
        info.cch = sizeof text;
        GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        items.push_back(info.fType & MFT_SEPARATOR ? "-" : text + std::string(info.fState & MFS_GRAYED ? " (greyed)" : ""));
    }
    std::string what = "menu";
    for (const std::string& item : items)
        what += " [" + item + "]";
    owners.push_back(owner);
    Box box;
    if (!Next(Kind::Menu, what, box))
        return 0;
    EXPECT_EQ(items, box.items);
    return static_cast<UINT>(box.answer);
}

std::optional<std::string> CScriptedPrompts::BrowseForFolder(HWND owner, const std::string& title) {
    owners.push_back(owner);
    Box box;
    if (!Next(Kind::Folder, "folder browser \"" + title + "\"", box))
        return std::nullopt;
    EXPECT_EQ(title, box.text);
    return box.path;
}

// ---- environment ----

STDMETHODIMP CRecordingEnvironment::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *out = this;
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CRecordingEnvironment::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ++lookups;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (size_t n = 0; n < m_names.size(); ++n)
            if (m_names[n] == names[i])
                ids[i] = static_cast<DISPID>(n + 1);
        if (ids[i] == DISPID_UNKNOWN)
            return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
}

STDMETHODIMP CRecordingEnvironment::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                           VARIANT* result, EXCEPINFO*, UINT*) {
    if (id < 1 || static_cast<size_t>(id) > m_names.size())
        return DISP_E_MEMBERNOTFOUND;
    ++callCount;
    if (!keepCalls)
        return S_OK;
    Call call{m_names[id - 1], flags, IsEqualIID(iid, IID_NULL) != 0, {}};
    size_t reply = 0;
    for (UINT i = 0; i < params->cArgs; ++i) {
        const VARIANT& arg = params->rgvarg[i];
        const bool byRef = arg.vt & VT_BYREF;
        Arg seen{arg.vt, {}, byRef ? arg.byref : nullptr};
        switch (arg.vt & ~VT_BYREF) {
        case VT_I2:
            seen.value = std::to_wstring(byRef ? *arg.piVal : arg.iVal);
            break;
        case VT_I4:
            seen.value = std::to_wstring(byRef ? *arg.plVal : arg.lVal);
            break;
        case VT_BSTR: {
            const BSTR text = byRef ? *arg.pbstrVal : arg.bstrVal;
            seen.value = text ? text : L"<null>";
            seen.pointer = byRef ? arg.byref : text;
            break;
        }
        case VT_DISPATCH:
        case VT_UNKNOWN:
            seen.pointer = byRef ? arg.byref : arg.punkVal;
            break;
        default:
            seen.value = L"?";
        }
        call.args.push_back(seen);
    }
    // By-reference texts are answered in argument order (the last array element is the first argument).
    for (UINT i = params->cArgs; i-- > 0;) {
        VARIANT& arg = params->rgvarg[i];
        if (arg.vt == (VT_BYREF | VT_BSTR) && reply < replies.size()) {
            SysFreeString(*arg.pbstrVal);
            *arg.pbstrVal = SysAllocString(replies[reply++].c_str());
        }
    }
    calls.push_back(std::move(call));
    if (result) {
        VariantClear(result);
        result->vt = VT_I4;
        result->lVal = 1;
    }
    return S_OK;
}

// ---- real boxes ----

namespace {
CBoxCloser* g_closer = nullptr;
}

CBoxCloser::CBoxCloser(const char* caption) : m_caption(caption) {
    g_closer = this;
    m_timer = SetTimer(nullptr, 0, 20, Tick);
}

CBoxCloser::~CBoxCloser() {
    KillTimer(nullptr, m_timer);
    g_closer = nullptr;
}

void CALLBACK CBoxCloser::Tick(HWND, UINT, UINT_PTR, DWORD) {
    CBoxCloser* self = g_closer;
    HWND box = self && !self->m_closed ? FindWindowA("#32770", self->m_caption.c_str()) : nullptr;
    if (!box)
        return;
    char text[1024] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    self->text = text;
    self->owner = GetWindow(box, GW_OWNER);
    self->m_closed = true;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// ---- arguments ----

namespace {
template <class Set> VARIANT Make(VARTYPE type, Set set) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    set(v);
    return v;
}
} // namespace

VARIANT VI4(long value) {
    return Make(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}
VARIANT VI2(short value) {
    return Make(VT_I2, [&](VARIANT& v) { v.iVal = value; });
}
VARIANT VBool(bool value) {
    return Make(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}
VARIANT VUI1(BYTE value) {
    return Make(VT_UI1, [&](VARIANT& v) { v.bVal = value; });
}
VARIANT VText(const wchar_t* text) {
    g_testStrings.push_back(SysAllocString(text));
    return VBstr(g_testStrings.back());
}
VARIANT VBstr(BSTR text) {
    return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = text; });
}
VARIANT VTextRef(BSTR* text) {
    return Make(VT_BYREF | VT_BSTR, [&](VARIANT& v) { v.pbstrVal = text; });
}
VARIANT VI2Ref(short* value) {
    return Make(VT_BYREF | VT_I2, [&](VARIANT& v) { v.piVal = value; });
}
VARIANT VVariantRef(VARIANT* variable) {
    return Make(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = variable; });
}
VARIANT VArrayRef(SAFEARRAY** array) {
    return Make(VT_BYREF | VT_ARRAY | VT_UI1, [&](VARIANT& v) { v.pparray = array; });
}
VARIANT VUserData(LONG_PTR value) {
#ifdef _WIN64
    return Make(VT_I8, [&](VARIANT& v) { v.llVal = value; });
#else
    return VI4(value);
#endif
}

void FreeTestStrings() {
    for (BSTR text : g_testStrings)
        SysFreeString(text);
    g_testStrings.clear();
}

namespace {
// The block's own array, taken over by the caller.
SAFEARRAY* ArrayOf(CParamBlock& block) {
    return std::exchange(*block.ExportArray(), nullptr);
}
} // namespace

SAFEARRAY* MakeBlock(std::initializer_list<const char*> texts, std::initializer_list<int> numbers) {
    CParamBlock block;
    size_t i = 0;
    for (const char* text : texts)
        block.At(i++).SetText(text);
    for (int number : numbers)
        block.At(i++).SetInt(number);
    return ArrayOf(block);
}

DirectoryRecord TestEntry(const std::string& name, bool directory, uint32_t size, uint64_t time) {
    DirectoryRecord entry{};
    memcpy(entry.bytes, name.data(), std::min(name.size(), DirectoryRecord::kNameSize));
    entry.bytes[DirectoryRecord::kDirectoryOffset] = directory;
    memcpy(entry.bytes + DirectoryRecord::kSizeOffset, &size, sizeof size);
    memcpy(entry.bytes + DirectoryRecord::kTimeOffset, &time, sizeof time);
    return entry;
}

SAFEARRAY* MakeListing(const std::vector<DirectoryRecord>& entries) {
    CParamBlock block;
    for (size_t i = 0; i < entries.size(); ++i)
        block.At(i).SetTypedRecord(PK_RECORD5, entries[i].bytes);
    return ArrayOf(block);
}

IStream* MarshalledStream(IDispatch* object) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
        return nullptr;
    if (FAILED(CoMarshalInterface(stream, IID_IDispatch, object, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL))) {
        stream->Release();
        return nullptr;
    }
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

// ---- environment of the test program ----

bool EnsureSessionTypeLibrary() {
    ITypeLib* library = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(LIBID_QuorSessionLib, 1, 1, LOCALE_NEUTRAL, &library))) {
        library->Release();
        return true;
    }
    const std::wstring path = WideFromNarrow((ProgramDirectory() + "QuorSession.tlb").c_str());
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library)))
        return false;
    library->Release();
    return true;
}
