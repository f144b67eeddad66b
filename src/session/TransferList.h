// One transfer batch: the (source, destination) pairs to run, their direction and the typed operation
// chosen for a dropped file. Built by the file list, then owned, run and ended by the transfer runner.
// Portable: whoever waits for the batch (a drag-out that renders its files) hears of its end through
// `onEnd` when the list goes, whatever became of it.
#pragma once
#include <functional>
#include <list>
#include <memory>
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
    virtual ~CTransferList() {
        if (onEnd)
            onEnd(*this);
    }

    std::list<TransferItem> items;
    unsigned direction = 0; // 1: to the device, 0: from the device
    std::list<TransferItem>::iterator cursor = items.end();
    long operation = 0; // 0: plain transfer, else the typed operation's request code
    // Entries left out while the list was built (a device name that cannot be a local one, a local path
    // too long): what, and why. The batch's summary names them.
    std::list<std::pair<std::string, std::string>> skipped;
    // Set by the runner when every item ran (there may be none) and none failed.
    bool completed = false;
    // The device directory an upload goes to: read again once it has run.
    std::string targetDirectory;
    std::function<void(const CTransferList&)> onEnd;
};

// Where the views hand a list they built: it starts from the message loop, after the view's own
// command (or the shell's drop) has returned.
class ITransferStarter {
public:
    virtual ~ITransferStarter() = default;
    virtual void StartTransfer(std::unique_ptr<CTransferList> list) = 0;
};
