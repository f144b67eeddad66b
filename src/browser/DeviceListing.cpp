#include "browser/DeviceListing.h"

RequestResult ListDirectory(IDeviceRequests& device, const std::string& path, long wait, EntryRows& rows,
                            size_t* skipped) {
    CParamBlock answer;
    RequestResult result = device.List(path, wait, answer);
    if (result)
        rows = ReadListing(answer, skipped);
    else
        rows.clear();
    return result;
}
