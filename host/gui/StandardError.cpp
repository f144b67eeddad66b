// The standard error display: the session's own text for its last failure, with the code the caller
// reports. The session is asked through its automation interface, by name, so the display works with
// any session that offers GetLastErrorInfo(text, code).
#include "contracts/QuorGui.h"

#include <oleauto.h>

#include <cwchar>

#include "GuiModule.h"

namespace {

// The session's last error text, or an empty BSTR (null) when it cannot tell.
BSTR SessionErrorText(IUnknown* session) {
    if (!session)
        return nullptr;
    IDispatch* dispatch = nullptr;
    if (FAILED(session->QueryInterface(IID_PPV_ARGS(&dispatch))) || !dispatch)
        return nullptr;
    BSTR text = nullptr;
    OLECHAR name[] = L"GetLastErrorInfo";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    if (SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
        long code = 0;
        VARIANTARG args[2];
        VariantInit(&args[0]);
        VariantInit(&args[1]);
        // Arguments go in reverse order: args[1] is the text, args[0] the code.
        V_VT(&args[1]) = VT_BSTR | VT_BYREF;
        V_BSTRREF(&args[1]) = &text;
        V_VT(&args[0]) = VT_I4 | VT_BYREF;
        V_I4REF(&args[0]) = &code;
        DISPPARAMS params = {args, nullptr, 2, 0};
        if (FAILED(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                    nullptr, nullptr))) {
            SysFreeString(text);
            text = nullptr;
        }
    }
    dispatch->Release();
    return text;
}

void ShowError(IUnknown* session, HWND window, long code) {
    if (quorgui::WindowsDisabled())
        return;
    BSTR text = SessionErrorText(session);
    wchar_t message[1200];
    if (text && *text)
        std::swprintf(message, sizeof message / sizeof message[0], L"%.1000ls\r\n\r\nError code: %ld", text,
                      code);
    else
        std::swprintf(message, sizeof message / sizeof message[0], L"The device reported error %ld.", code);
    SysFreeString(text);
    MessageBoxW(window, message, L"Error", MB_OK | MB_ICONERROR);
}

} // namespace

extern "C" void QuorShowStandardError(IUnknown* session, HWND window, long code) {
    try {
        ShowError(session, window, code);
    } catch (...) {
    }
}
