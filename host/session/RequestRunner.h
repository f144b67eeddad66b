// Runs one submitted request on the session's worker thread: the immediate requests after the
// device's latency, and the transfers and tasks that stream a file block by block with progress.
// Everything the client sees goes through IRequestReport to the creating thread.
#pragma once

#include <windows.h>

#include "paramblock/ParamBlock.h"

#include <functional>
#include <memory>
#include <string>

class CCancelToken;
class CDeviceConnection;
class CSessionEvents;

struct CRequest {
    long id = 0;
    long code = 0;
    long wait = -1;
    LONG_PTR userData = 0;
    CParamBlock input;
    std::shared_ptr<CDeviceConnection> connection;
    std::shared_ptr<CCancelToken> cancel;
};

class IRequestReport {
public:
    // An event for the creating thread; it runs there later, after everything reported before it.
    virtual void Report(std::function<void(CSessionEvents&)> event) = 0;
    // Puts a question on the creating thread and waits for the answer; false when the request is
    // cancelled first.
    virtual bool Ask(std::function<bool(CSessionEvents&)> question,
                     const std::shared_ptr<CCancelToken>& cancel) = 0;
    // The device dropped the connection under this request.
    virtual void ConnectionLost(const std::shared_ptr<CDeviceConnection>& connection) = 0;
    // The request is over: RequestComplete follows with this outcome.
    virtual void Complete(const CRequest& request, long error, const std::string& text,
                          std::unique_ptr<CParamBlock> answer) = 0;

protected:
    ~IRequestReport() = default;
};

// `session` identifies the submitting session for the device's reservation.
void RunRequest(CRequest& request, IRequestReport& report, const void* session);
