// The session's events with the parameter types of its event interface, fired at every advised sink.
// Creating thread only.
#pragma once

#include "framework/ConnectionPoint.h"

#include <string>

class CParamBlock;

enum SessionEventId : DISPID {
    EV_REQUEST_COMPLETE = 2,
    EV_CONNECTION_STATUS = 5,
    EV_CONNECTION_PARAMS_CHANGED = 8,
    EV_TASK_START = 10,
    EV_TASK_PROGRESS = 11,
    EV_TASK_COMPLETE = 12,
    EV_XFER_BATCH_START = 20,
    EV_XFER_FILE_START = 21,
    EV_XFER_FILE_PROGRESS = 22,
    EV_XFER_FILE_FINISH = 23,
    EV_XFER_BATCH_FINISH = 24,
    EV_HOST_QUERY = 40,
};

class CSessionEvents {
public:
    explicit CSessionEvents(CConnectionPoint& point) : m_point(point) {}

    void RequestComplete(long error, long request, bool success, const CParamBlock& answer,
                         LONG_PTR userData);
    void ConnectionStatus(short status);
    void ConnectionParamsChanged(const std::string& connection);
    // Task events answer with a long: non-zero asks the device to stop the task.
    long TaskStart(long task, const std::string& title, const std::string& file);
    long TaskProgress(long task, long percent, const std::string& text, long step);
    void TaskComplete(long task, bool success);
    void BatchStart(long batch, const std::string& title, long files, long totalKB);
    void FileStart(long batch, const std::string& source, const std::string& destination, long sizeBytes,
                   bool upload, const std::string& name);
    void FileProgress(long batch, long fileIndex, long files, long bytesDone, long bytesTotal);
    void FileFinish(long batch, bool success);
    void BatchFinish(long batch, bool success);
    // Puts a query to the sinks in turn until one handles it (returns 0); false when none does.
    bool HostQuery(long queryType, const std::string& prompt, std::string& answer);

private:
    CConnectionPoint& m_point;
};
