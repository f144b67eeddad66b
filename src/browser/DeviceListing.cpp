#include "browser/DeviceListing.h"

RequestResult ListDirectory(IDeviceRequests& device, const std::string& path, long wait, DirectoryListing& rows,
                            size_t* skipped) {
    CParamBlock answer;
    RequestResult result = device.List(path, wait, answer);
    if (result)
        rows = ReadListing(answer, skipped);
    else
        rows = {};
    return result;
}
