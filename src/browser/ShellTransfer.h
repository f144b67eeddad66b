// Device files for the shell: a data object that any shell target (Explorer, the desktop, the clipboard's
// readers) takes as files, dragged out of the views or put on the clipboard. Its files are downloaded only
// when a target takes them (a drop, a paste), by an ordinary transfer list into a folder of the control's
// own under the user's temporary folder; nothing is downloaded while the user only drags, nothing at all
// when the drag is abandoned. The folder goes when the last reader lets the data object go, and whatever
// is left of the process's folders when the module unloads.
#pragma once
#include "browser/TransferBatches.h"
#include "framework/ComPtr.h"
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>
#include <memory>
#include <string>
#include <vector>

class IDeviceRequests;
class ITransferStarter;

// What the data objects download through; the main window's, detached when it goes (a data object on the
// clipboard or in a target's hands may outlive it, and then has nothing more to give).
class CDeviceDownloader : public std::enable_shared_from_this<CDeviceDownloader> {
public:
    CDeviceDownloader() = default;
    CDeviceDownloader(const CDeviceDownloader&) = delete;
    CDeviceDownloader& operator=(const CDeviceDownloader&) = delete;

    void Attach(IDeviceRequests* device, ITransferStarter* starter, HWND owner);
    // Nothing more is downloaded; the clipboard no longer offers what this control put there.
    void Detach();

    // Downloads `selection` (directories with everything under them) into `folder`, with the host's
    // progress, cancel and summary, and returns once the batch has ended, letting messages run meanwhile.
    // True when every file arrived (names the local file system cannot hold are left out and told).
    bool Download(const RemoteSelection& selection, const std::string& folder);

    // Starts an OLE drag of `selection` (copy only) and returns when it has ended.
    void DragOut(const RemoteSelection& selection);
    // Puts `selection` on the clipboard.
    void CopyToClipboard(const RemoteSelection& selection);

private:
    IDeviceRequests* m_device = nullptr;
    ITransferStarter* m_starter = nullptr;
    HWND m_owner = nullptr;
    bool m_downloading = false;
    CComPtr<IDataObject> m_clipboard;
};

// The data object for `selection`, downloading through `downloader` when a target asks for its files.
CComPtr<IDataObject> MakeDeviceData(const std::shared_ptr<CDeviceDownloader>& downloader, RemoteSelection selection);

// True when `data` came from a control of this kind: its files are on a device already.
bool IsDeviceData(IDataObject* data);
// The files `data` offers as CF_HDROP, in the local code page; empty when it offers none.
std::vector<std::string> DataFiles(IDataObject* data);
// The paths of a shell drop.
std::vector<std::string> DroppedFiles(HDROP drop);
// True when the clipboard holds files that could be pasted onto the device.
bool ClipboardHasFiles();
// The files on the clipboard, or none.
std::vector<std::string> ClipboardFiles();

// The temporary folders of this process: a new empty one, and all of them removed (module unload).
std::string CreateStagingFolder();
void RemoveStagingFolder(const std::string& folder);
void RemoveStagingFolders();
