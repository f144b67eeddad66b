// The control's private window messages, the one table for the main window and its views, in the
// application's range (WM_USER belongs to the system controls the views subclass). All are posted (the
// splitter's is sent). A heap object in lParam belongs to the receiver, which frees it also
// when it has nothing to do with it, and a window that goes away frees what is still queued for it.
#pragma once
#include <windows.h>
#include <memory>
#include <string>

class CTransferList;

enum : UINT {
    UWM_LIST_SHOW_DIR = WM_APP + 300,      // list view; lParam: path string, or 0 to re-read
    UWM_VIEW_CLEAR = WM_APP + 301,         // list or tree view; empties the view
    UWM_TREE_FILL_ROOTS = WM_APP + 302,    // tree view; probe the device and insert its drives
    UWM_TREE_SELECT_PATH = WM_APP + 303,   // tree view; lParam: path string
    UWM_TREE_REFRESH_PATH = WM_APP + 304,  // tree view; lParam: path string
    UWM_TRANSFER_START = WM_APP + 305,     // main window; lParam: transfer list
    UWM_TRANSFER_STEP = WM_APP + 306,      // main window; lParam: transfer list
    UWM_TRANSFER_CANCEL = WM_APP + 307,    // main window; lParam: the running request's id, or 0
    UWM_CONNECTED = WM_APP + 308,          // main window; the connection check succeeded
    UWM_CONNECT_FAILED = WM_APP + 309,     // main window; lParam: the check's error code
    UWM_SPLITTER_MOVED = WM_APP + 1000,    // the splitter's parent, sent after a drag
};

// Posts a copy of `path` to `window`; the receiver takes it with TakePath. False, with nothing left
// behind, when the window cannot receive it.
bool PostPath(HWND window, UINT message, const std::string& path);
// The path a message carries, now the receiver's; null for lParam 0.
std::unique_ptr<std::string> TakePath(LPARAM lParam);

bool PostTransferList(HWND window, UINT message, std::unique_ptr<CTransferList> list);
std::unique_ptr<CTransferList> TakeTransferList(LPARAM lParam);

// Removes the private messages still queued for `window` and frees what they carry. For WM_NCDESTROY,
// after which nothing can be posted to the window any more.
void DrainPrivateMessages(HWND window);
