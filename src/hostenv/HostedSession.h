// The session holder as a plug-in of the host: the device session plus the host's environment object,
// through which the control reports the connection status and changed connection parameters, and which
// offers plug-in code the remaining environment operations.
#pragma once
#include "hostenv/EnvDispatch.h"
#include "session/DeviceSession.h"

class CHostedSession : public CDeviceSession {
public:
    // Sets the session's options once it exists.
    CHostedSession();

    // Passes the session's connection status on to the environment; always 0.
    long UpdateConnectionStatus(short status) override;
    // Schedules the reconnect and, only when that worked, tells the environment the new parameters.
    // The result of ScheduleReconnect.
    long UpdateConnectionParams(BSTR connection) override;

    // Without an environment this starts the host application through COM with a command line naming the
    // plug-in and the address; a failure to reach it raises a COM error.
    virtual HRESULT LaunchPlugin(BSTR plugin, BSTR address, BSTR third);
    virtual HRESULT SetPluginWindowSize(long a, long b, long c, long d, long e, long f);
    // Copies at most `maxLength` bytes into each buffer that is not null; a text that does not fit is cut
    // and still terminated within the buffer.
    virtual HRESULT GetCurrentAddress(char* first, char* second, char* third, int maxLength);
    virtual HRESULT ShowFrameFooter(long value);
    virtual HRESULT AppendToWindowTitle(const char* text);
    virtual HRESULT SetWindowTitleTool(const char* text);
    virtual bool HasEnvironment() const;

    HRESULT SetEnvironmentFromStream(IStream* stream) { return m_environment.SetFromStream(stream); }
    void SetEnvironment(IDispatch* environment) { m_environment.Set(environment); }
    CEnvDispatch& Environment() { return m_environment; }

private:
    HRESULT LaunchThroughHostApplication(BSTR plugin, BSTR address);

    CEnvDispatch m_environment;
};
