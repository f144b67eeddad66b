#include "browser/DeviceListing.h"
#include <new>

namespace {

// Made after the listing's memory has gone again; should even the text not fit, the code still says it.
RequestResult TooLarge(const std::string& path) noexcept {
    RequestResult failure;
    failure.code = kListingTooLarge;
    try {
        failure.text = "The directory " + path + " holds more entries than there is memory for. None of them is shown.";
    } catch (const std::bad_alloc&) {
    }
    return failure;
}

} // namespace

RequestResult ListDirectory(IDeviceRequests& device, const std::string& path, long wait, DirectoryListing& rows,
                            size_t* skipped) {
    rows = {};
    try {
        CParamBlock answer;
        RequestResult result = device.List(path, wait, answer);
        if (result)
            rows = ReadListing(answer, skipped);
        return result;
    } catch (const std::bad_alloc&) {
        rows = {};
        return TooLarge(path);
    }
}

RequestResult ListRows(IDeviceRequests& device, const std::string& path, long wait, DirectoryListing& listing,
                       EntryRows& rows) {
    rows.clear();
    RequestResult result = ListDirectory(device, path, wait, listing);
    if (!result)
        return result;
    try {
        RankNames(listing.entries);
        rows.reserve(listing.size());
        for (const DirectoryEntry& entry : listing)
            rows.push_back(&entry);
    } catch (const std::bad_alloc&) {
        rows = {};
        listing = {};
        return TooLarge(path);
    }
    return result;
}
