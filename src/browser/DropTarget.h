// The views as OLE drop targets for shell files: the pane names the device directory under the pointer (and
// shows it as the drop target), the target takes the effect, the drag image (the system's drop-target
// helper), scrolling near the edges and the drop itself. Files that come from a control of this kind are
// on a device already: they are refused.
#pragma once
#include "framework/ComPtr.h"
#include <windows.h>
#include <ole2.h>
#include <string>
#include <vector>

class IFileDropPane {
public:
    virtual ~IFileDropPane() = default;
    // The device directory files dropped at `client` would go to, shown as the drop target; "" where no
    // file can go (nothing is shown then).
    virtual std::string DropDirectoryAt(POINT client) = 0;
    // The drag left, or dropped: no drop target is shown any more.
    virtual void EndDropHighlight() = 0;
    // Shell `paths` dropped into `directory`; a menu the drop needs shows at `screen`.
    virtual void DropFiles(const std::vector<std::string>& paths, const std::string& directory, POINT screen) = 0;
};

// One view's registration as a drop target, from its creation to its destruction.
class CDropRegistration {
public:
    CDropRegistration() = default;
    CDropRegistration(const CDropRegistration&) = delete;
    CDropRegistration& operator=(const CDropRegistration&) = delete;
    ~CDropRegistration() { Revoke(); }

    // False when the thread has no OLE (the view still takes WM_DROPFILES).
    bool Register(HWND window, IFileDropPane* pane);
    void Revoke();

private:
    HWND m_window = nullptr;
    CComPtr<IDropTarget> m_target;
};

// How near the top or bottom edge (in pixels at 96 DPI) the pointer scrolls a view, and how often.
constexpr int kDropScrollMargin = 16;
constexpr DWORD kDropScrollInterval = 100;
// How long the pointer rests on a closed tree folder before it opens.
constexpr DWORD kDropHoverOpen = 1000;
