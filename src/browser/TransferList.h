// One transfer batch: the (source, destination) pairs to run, their direction, the typed operation
// chosen for a dropped file, and the shell drop that produced them. Built by the file list, then owned,
// run and deleted by the main window.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <cstdint>
#include <list>
#include <string>
#include <utility>

struct TransferItem {
    std::string source;
    std::string destination;
};

class CTransferList {
public:
    CTransferList() = default;
    CTransferList(const CTransferList&) = delete;
    CTransferList& operator=(const CTransferList&) = delete;
    // Finishes the shell drop, if the list came from one.
    virtual ~CTransferList();

    std::list<TransferItem> items;
    uint32_t count = 0;
    uint8_t direction = 0; // 1: to the device, 0: from the device
    HDROP drop = nullptr;
    std::list<TransferItem>::iterator cursor = items.end();
    uint32_t operation = 0; // 0: plain transfer, else the typed operation's request code
    // Entries left out while the list was built (a device name that cannot be a local one, a local path
    // too long): what, and why. The batch's summary names them.
    std::list<std::pair<std::string, std::string>> skipped;
};

// True when the file name of `path` (its first 259 characters, the part after the last separator)
// matches one of `patterns` by the shell's wildcard rules; false for an empty list.
bool MatchesPattern(const std::list<std::string>& patterns, const std::string& path);
