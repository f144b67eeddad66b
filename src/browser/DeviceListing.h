// The one way the views ask the device for a directory's entries.
#pragma once
#include "browser/DirectoryEntry.h"
#include <string>

class CDeviceSession;

// REQ_LIST_DIR for `path`, waiting at most `wait` ms. False when the session refuses (its result is in
// the session's lastResult); on success `rows` holds the entries that can be shown (see ReadListing) and
// `skipped`, when given, counts those left out.
// Raises a COM error carrying E_POINTER when there is no session.
bool ListDirectory(CDeviceSession& session, const std::string& path, long wait, EntryRows& rows,
                   size_t* skipped = nullptr);
