#include "HostEnvironment.h"

#include <oleauto.h>

#include <cwchar>
#include <iterator>

#include "contracts/EnvironmentMethods.h"
#include "framework/ComError.h"

namespace {

constexpr VARTYPE kBstrRef = VT_BSTR | VT_BYREF;

// The argument types plug-ins send, in parameter order, by DISPID (index + 1) of the methods' table.
struct Parameters {
    UINT count;
    VARTYPE types[6];
};

const Parameters kParameters[] = {
    {1, {VT_I2}},                                    // ENV_UPDATE_CONNECTION_STATUS
    {1, {kBstrRef}},                                 // ENV_UPDATE_CONNECTION_PARAMS
    {3, {VT_BSTR, VT_BSTR, VT_BSTR}},                // ENV_LAUNCH_PLUGIN
    {6, {VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4}}, // ENV_SET_PLUGIN_WINDOW_SIZE
    {3, {kBstrRef, kBstrRef, kBstrRef}},             // ENV_GET_CURRENT_ADDRESS
    {1, {VT_I4}},                                    // ENV_SHOW_FRAME_FOOTER
    {1, {VT_BSTR}},                                  // ENV_APPEND_TO_WINDOW_TITLE
    {1, {VT_BSTR}},                                  // ENV_SET_WINDOW_TITLE_TOOL
};
static_assert(std::size(kParameters) == kEnvironmentMethodCount);

// Reads the automation arguments of one call: they arrive in reverse order, and a failure names the
// offending argument's index in that array, as Invoke reports it.
class Arguments {
public:
    Arguments(DISPPARAMS& params, UINT* argError) : m_params(params), m_argError(argError) {}

    VARIANT& At(UINT parameter) { return m_params.rgvarg[m_params.cArgs - 1 - parameter]; }

    long Long(UINT parameter) {
        VARIANT value;
        VariantInit(&value);
        Check(parameter, VariantChangeType(&value, &At(parameter), 0, VT_I4));
        return V_I4(&value);
    }

    short Short(UINT parameter) {
        VARIANT value;
        VariantInit(&value);
        Check(parameter, VariantChangeType(&value, &At(parameter), 0, VT_I2));
        return V_I2(&value);
    }

    // A text sent by value or by reference; a null BSTR is the empty text. Embedded NULs end it.
    std::wstring Text(UINT parameter) {
        VARIANT& arg = At(parameter);
        BSTR text = nullptr;
        if (V_VT(&arg) == VT_BSTR)
            text = V_BSTR(&arg);
        else if (V_VT(&arg) == kBstrRef && V_BSTRREF(&arg))
            text = *V_BSTRREF(&arg);
        else
            Check(parameter, DISP_E_TYPEMISMATCH);
        if (!text)
            return {};
        const size_t length = SysStringLen(text);
        std::wstring value(
            text, wcsnlen(text, length < CHostEnvironment::kMaxText ? length : CHostEnvironment::kMaxText));
        return value;
    }

    // The slot of a text answered by reference; the caller's previous text there is freed when the
    // answer is stored.
    BSTR* OutText(UINT parameter) {
        VARIANT& arg = At(parameter);
        if (V_VT(&arg) != kBstrRef || !V_BSTRREF(&arg))
            Check(parameter, DISP_E_TYPEMISMATCH);
        return V_BSTRREF(&arg);
    }

private:
    void Check(UINT parameter, HRESULT hr) {
        if (SUCCEEDED(hr))
            return;
        if (m_argError)
            *m_argError = m_params.cArgs - 1 - parameter;
        throw CComError(hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH);
    }

    DISPPARAMS& m_params;
    UINT* m_argError;
};

HRESULT StoreText(BSTR* slot, const std::wstring& text) {
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy)
        return E_OUTOFMEMORY;
    SysFreeString(*slot);
    *slot = copy;
    return S_OK;
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

} // namespace

const QITableEntry CHostEnvironment::kInterfaces[] = {QI_ENTRY(CHostEnvironment, IDispatch), QI_END};

STDMETHODIMP CHostEnvironment::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CHostEnvironment::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CHostEnvironment::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    // Automation names compare without regard to case. No method has named parameters.
    ids[0] = DISPID_UNKNOWN;
    for (DISPID id = 1; id <= kEnvironmentMethodCount && names[0]; ++id)
        if (CompareStringOrdinal(names[0], -1, kEnvironmentMethodNames[id - 1], -1, TRUE) == CSTR_EQUAL)
            ids[0] = id;
    for (UINT i = 1; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CHostEnvironment::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO*, UINT* argError) {
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || id > kEnvironmentMethodCount || !(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    DISPPARAMS& args = params ? *params : none;
    if (args.cNamedArgs)
        return DISP_E_NONAMEDARGS;
    if (args.cArgs != kParameters[id - 1].count || (args.cArgs && !args.rgvarg))
        return DISP_E_BADPARAMCOUNT;
    if (!m_frame)
        return RPC_E_DISCONNECTED;
    if (result)
        VariantInit(result);
    return ComBoundary([&] { return Call(id, args, result, argError); });
}

HRESULT CHostEnvironment::Call(DISPID id, DISPPARAMS& params, VARIANT* result, UINT* argError) {
    Arguments args(params, argError);
    const std::wstring name = kEnvironmentMethodNames[id - 1];
    // The methods that take one text and hand it on.
    const auto passText = [&](void (IHostFrame::*method)(const std::wstring&)) {
        const std::wstring text = args.Text(0);
        m_frame->OnEnvironmentCall(name + L"(" + Quoted(text) + L")");
        (m_frame->*method)(text);
        return S_OK;
    };
    switch (id) {
    case ENV_UPDATE_CONNECTION_STATUS: {
        const short status = args.Short(0);
        m_frame->OnEnvironmentCall(name + L"(" + std::to_wstring(status) + L")");
        m_frame->OnConnectionStatus(status);
        return S_OK;
    }
    case ENV_UPDATE_CONNECTION_PARAMS:
        return passText(&IHostFrame::OnConnectionParams);
    case ENV_LAUNCH_PLUGIN: {
        const std::wstring plugin = args.Text(0), address = args.Text(1), extra = args.Text(2);
        m_frame->OnEnvironmentCall(name + L"(" + Quoted(plugin) + L", " + Quoted(address) + L", " +
                                   Quoted(extra) + L")");
        DWORD processId = 0;
        const HRESULT hr = m_frame->LaunchPlugin(plugin, address, extra, processId);
        if (SUCCEEDED(hr) && result) {
            V_VT(result) = VT_I4;
            V_I4(result) = static_cast<LONG>(processId);
        }
        return hr;
    }
    case ENV_SET_PLUGIN_WINDOW_SIZE: {
        long sizes[6];
        std::wstring line = name + L"(";
        for (UINT i = 0; i < 6; ++i) {
            sizes[i] = args.Long(i);
            line += (i ? L", " : L"") + std::to_wstring(sizes[i]);
        }
        m_frame->OnEnvironmentCall(line + L")");
        m_frame->SetPluginWindowSize(sizes);
        return S_OK;
    }
    case ENV_GET_CURRENT_ADDRESS: {
        BSTR* slots[3] = {args.OutText(0), args.OutText(1), args.OutText(2)};
        m_frame->OnEnvironmentCall(name + L"()");
        std::wstring texts[3];
        m_frame->GetCurrentAddress(texts[0], texts[1], texts[2]);
        for (int i = 0; i < 3; ++i)
            RETURN_IF_FAILED(StoreText(slots[i], texts[i]));
        return S_OK;
    }
    case ENV_SHOW_FRAME_FOOTER: {
        const long show = args.Long(0);
        m_frame->OnEnvironmentCall(name + L"(" + std::to_wstring(show) + L")");
        m_frame->ShowFrameFooter(show != 0);
        return S_OK;
    }
    case ENV_APPEND_TO_WINDOW_TITLE:
        return passText(&IHostFrame::AppendToWindowTitle);
    case ENV_SET_WINDOW_TITLE_TOOL:
        return passText(&IHostFrame::SetWindowTitleTool);
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}
