// The one way the views ask the device for a directory's entries.
#pragma once
#include "browser/DirectoryEntry.h"
#include "browser/SortState.h"
#include "session/DeviceRequests.h"
#include <string>

// The code of the failure a listing gives when the process cannot hold its entries (the value of the
// system's out-of-memory error, which no session code takes).
constexpr long kListingTooLarge = static_cast<long>(0x8007000EL);

// REQ_LIST_DIR for `path`, waiting at most `wait` ms. On success `rows` holds the entries that can be
// shown (see ReadListing) and `skipped`, when given, counts those left out; a refusal, or a listing too
// large to hold (kListingTooLarge, with a text for the user), leaves `rows` empty.
RequestResult ListDirectory(IDeviceRequests& device, const std::string& path, long wait, DirectoryListing& rows,
                            size_t* skipped = nullptr);
// The same for the file list: the names ranked and `rows` pointing at the entries in the order received.
RequestResult ListRows(IDeviceRequests& device, const std::string& path, long wait, DirectoryListing& listing,
                       EntryRows& rows);
