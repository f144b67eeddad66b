// The transfer lists the views build: a download of device entries (directory trees walked on the device)
// and an upload of shell files. Both are run by the main window's transfer runner.
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

class CTransferList;
class CTypedPatterns;
class IDeviceRequests;

// Entries of one device directory, as the user selected them.
struct RemoteSelection {
    struct Entry {
        std::string name;
        bool directory = false;
    };
    std::string directory;
    std::vector<Entry> entries;
};

// The download of `selection` into the local `folder`: its local directories are made first (empty ones
// too), one item per device file; names a local file system cannot hold are left out and named. Null when
// nothing is to run: the walk was cancelled or abandoned, or the device refused it (told in a box first).
// The walk's progress, past its first listings, is modal to `owner`'s top-level window.
std::unique_ptr<CTransferList> BuildDownload(IDeviceRequests& device, HWND owner, const RemoteSelection& selection,
                                             const std::string& folder);

// The upload of shell `paths` (folders with everything under them) into the device's `directory`. For one
// file of a kind the device knows, the user picks the typed operation from a menu at `screen`; null when
// the menu is dismissed.
std::unique_ptr<CTransferList> BuildUpload(const std::vector<std::string>& paths, const std::string& directory,
                                           const CTypedPatterns* patterns, HWND owner, POINT screen);
