#include "hostenv/HostedSession.h"
#include "VarnelHost_h.h"
#include "contracts/EnvironmentMethods.h"
#include "framework/ComError.h"
#include "framework/ComObject.h"
#include "framework/Handles.h"
#include <cstring>

namespace {

// Frees whatever the environment left in an in/out text argument.
struct CTextSlots {
    BSTR texts[3] = {};
    ~CTextSlots() {
        for (BSTR text : texts)
            SysFreeString(text);
    }
};

void CopyBounded(char* buffer, BSTR text, int maxLength) {
    if (!buffer || maxLength <= 0)
        return;
    const std::string narrow = text ? NarrowFromWide(text, static_cast<int>(SysStringLen(text))) : "";
    strncpy(buffer, narrow.c_str(), static_cast<size_t>(maxLength));
    if (narrow.size() >= static_cast<size_t>(maxLength))
        buffer[maxLength - 1] = '\0';
}

} // namespace

CHostedSession::CHostedSession() {
    // Without a session component there is nothing to set: the control stays inert (see the main window).
    if (HasSession())
        SetOptions(L"%D");
}

long CHostedSession::UpdateConnectionStatus(short status) {
    if (m_environment.Held()) {
        CVariant result;
        m_environment.InvokeByName(EnvironmentMethodName(ENV_UPDATE_CONNECTION_STATUS), &result, 1, VT_I2,
                                   static_cast<int>(status));
    }
    return 0;
}

long CHostedSession::UpdateConnectionParams(BSTR connection) {
    CBstr copy(connection ? connection : L"");
    const long scheduled = ScheduleReconnect(connection);
    if (scheduled == 0 && m_environment.Held()) {
        CVariant result;
        BSTR text = copy.Detach();
        m_environment.InvokeByName(EnvironmentMethodName(ENV_UPDATE_CONNECTION_PARAMS), &result, 1,
                                   VT_BYREF | VT_BSTR, &text);
        // By reference: the environment may have replaced the text with one of its own.
        SysFreeString(text);
    }
    return scheduled;
}

HRESULT CHostedSession::LaunchPlugin(BSTR plugin, BSTR address, BSTR third) {
    if (!m_environment.Held())
        return LaunchThroughHostApplication(plugin, address);
    CVariant result;
    return m_environment.InvokeByName(EnvironmentMethodName(ENV_LAUNCH_PLUGIN), &result, 3, VT_BSTR, plugin,
                                      VT_BSTR, address, VT_BSTR, third);
}

HRESULT CHostedSession::LaunchThroughHostApplication(BSTR plugin, BSTR address) {
    CComPtr<IVarnelApplication> application;
    HRESULT hr = CreateRunningObject(CLSID_VarnelApplication, IID_IVarnelApplication,
                                     reinterpret_cast<void**>(&application));
    if (FAILED(hr) && hr != E_NOINTERFACE)
        throw CComError(hr);

    const std::string name = plugin ? NarrowFromWide(plugin, static_cast<int>(SysStringLen(plugin))) : "";
    const std::string where = address ? NarrowFromWide(address, static_cast<int>(SysStringLen(address))) : "";
    const std::string commandLine = "/plugin:" + name + " /\"connect:" + where + "\"";
    CBstr line(commandLine.c_str());
    long unused = 0;
    hr = application->RunCommandLine(line.Get(), &unused); // an empty pointer raises E_POINTER
    return hr;
}

HRESULT CHostedSession::SetPluginWindowSize(long a, long b, long c, long d, long e, long f) {
    CVariant result;
    return m_environment.InvokeByName(EnvironmentMethodName(ENV_SET_PLUGIN_WINDOW_SIZE), &result, 6, VT_I4, a,
                                      VT_I4, b, VT_I4, c, VT_I4, d, VT_I4, e, VT_I4, f);
}

HRESULT CHostedSession::GetCurrentAddress(char* first, char* second, char* third, int maxLength) {
    CTextSlots slots;
    CVariant result;
    HRESULT hr = m_environment.InvokeByName(EnvironmentMethodName(ENV_GET_CURRENT_ADDRESS), &result, 3,
                                            VT_BYREF | VT_BSTR, &slots.texts[0], VT_BYREF | VT_BSTR,
                                            &slots.texts[1], VT_BYREF | VT_BSTR, &slots.texts[2]);
    if (hr == E_FAIL && !m_environment.Held())
        return hr;
    CopyBounded(first, slots.texts[0], maxLength);
    CopyBounded(second, slots.texts[1], maxLength);
    CopyBounded(third, slots.texts[2], maxLength);
    return hr;
}

HRESULT CHostedSession::ShowFrameFooter(long value) {
    CVariant result;
    return m_environment.InvokeByName(EnvironmentMethodName(ENV_SHOW_FRAME_FOOTER), &result, 1, VT_I4, value);
}

HRESULT CHostedSession::AppendToWindowTitle(const char* text) {
    CBstr title(text ? text : "");
    CVariant result;
    return m_environment.InvokeByName(EnvironmentMethodName(ENV_APPEND_TO_WINDOW_TITLE), &result, 1, VT_BSTR,
                                      title.Get());
}

HRESULT CHostedSession::SetWindowTitleTool(const char* text) {
    CBstr tool(text ? text : "");
    CVariant result;
    return m_environment.InvokeByName(EnvironmentMethodName(ENV_SET_WINDOW_TITLE_TOOL), &result, 1, VT_BSTR,
                                      tool.Get());
}

bool CHostedSession::HasEnvironment() const {
    return m_environment.Held();
}
