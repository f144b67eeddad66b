// The one way the views ask the device for a directory's entries.
#pragma once
#include "browser/DirectoryEntry.h"
#include "session/DeviceRequests.h"
#include <string>

// REQ_LIST_DIR for `path`, waiting at most `wait` ms. On success `rows` holds the entries that can be
// shown (see ReadListing) and `skipped`, when given, counts those left out; a refusal leaves `rows` empty.
RequestResult ListDirectory(IDeviceRequests& device, const std::string& path, long wait, DirectoryListing& rows,
                            size_t* skipped = nullptr);
