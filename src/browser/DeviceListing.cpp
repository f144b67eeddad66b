#include "browser/DeviceListing.h"
#include "paramblock/ParamBlock.h"
#include "session/DeviceSession.h"

bool ListDirectory(CDeviceSession& session, const std::string& path, long wait, EntryRows& rows,
                   size_t* skipped) {
    CParamBlock input;
    CParamBlock output;
    input.At(0).SetText(path.c_str());
    session.Session()->Execute(REQ_LIST_DIR, input.ExportArray(), output.ExportArray(), wait, 0,
                               &session.lastResult);
    if (!session.lastResult) {
        rows.clear();
        return false;
    }
    rows = ReadListing(output, skipped);
    return true;
}
