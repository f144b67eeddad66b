// The transfer batches: "&Send File(s) To..." (and a drag out or a paste) walks the selected directories
// on the device and builds a download batch; a drop or paste of shell files builds an upload batch, or for
// one file of a known kind runs the typed operation the user picks. The list hands them to the main window.
// Here too the list's side of the shell: drags out, the clipboard's copy and paste, and the list as a drop
// target.
#include "browser/DeviceListing.h"
#include "browser/DorvexListView.h"
#include "browser/LocalName.h"
#include "browser/RemotePath.h"
#include "browser/ShellTransfer.h"
#include "browser/TransferBatches.h"
#include "browser/TypedPatterns.h"
#include "browser/resource.h"
#include "framework/Module.h"
#include "framework/Prompts.h"
#include "framework/WaitCursor.h"
#include "session/TransferList.h"
#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t kQuietListings = 200; // a walk longer than this shows its progress and can be cancelled

// True when the local code page holds `name` exactly: every byte a character of it, and the way back
// gives the same bytes (no best-fit substitutes).
bool FitsLocalCodePage(std::string_view name) {
    const UINT codePage = GetACP();
    const int length = static_cast<int>(name.size());
    const int wideLength = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
    if (wideLength <= 0)
        return false;
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name.data(), length, wide.data(), wideLength);
    const bool utf8 = codePage == CP_UTF8;
    BOOL defaulted = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int back = WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0, nullptr,
                                         utf8 ? nullptr : &defaulted);
    std::string again(static_cast<size_t>(back > 0 ? back : 0), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), wideLength, again.data(), back, nullptr,
                        utf8 ? nullptr : &defaulted);
    return !defaulted && again == name;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The download walk: local directories first (empty ones too), one item per remote file.
class CSendWalk {
public:
    enum Outcome { kGo, kFailed, kAbandon, kCancelled };

    CSendWalk(IDeviceRequests& device, CTransferList& list, HWND owner)
        : m_device(device), m_list(list), m_owner(owner), m_root(GetAncestor(owner, GA_ROOT)) {}
    ~CSendWalk() {
        // The host's window first, so that activation goes back to it and not to another program.
        if (m_disabledRoot)
            EnableWindow(m_root, TRUE);
        if (m_progress)
            DestroyWindow(m_progress);
    }
    CSendWalk(const CSendWalk&) = delete;
    CSendWalk& operator=(const CSendWalk&) = delete;

    // One entry `name` of remote directory `remoteDir` into local directory `localDir`. A selected
    // directory whose local directory cannot be made abandons the batch quietly; deeper down it fails,
    // and Refusal() says why.
    Outcome Entry(const std::string& remoteDir, const std::string& localDir, std::string_view name,
                  bool directory, bool selected) {
        const std::string remote = JoinPath(remoteDir, name);
        if (const char* problem = LocalNameProblem(name))
            return Skip(remote, problem);
        if (!FitsLocalCodePage(name))
            return Skip(remote, "the local code page cannot hold the name");
        const std::string local = JoinPath(localDir, name);
        if (local.size() > kLocalPathLimit)
            return Skip(remote, "the local path would be longer than 259 characters");
        if (!directory) {
            m_list.items.push_back({remote, WithFinalBackslash(localDir)});
            return kGo;
        }
        if (!Exists(local) && !CreateDirectoryA(local.c_str(), nullptr))
            return selected ? kAbandon : kFailed;
        return Walk(remote, local);
    }

    Outcome Walk(const std::string& remote, const std::string& local) {
        if (Cancelled(remote))
            return kCancelled;
        DirectoryListing rows;
        size_t unreadable = 0;
        if (m_refusal = ListDirectory(m_device, remote, CDorvexListView::kListWait, rows, &unreadable); !m_refusal)
            return kFailed;
        if (unreadable)
            m_list.skipped.push_back({WithFinalBackslash(remote), std::to_string(unreadable) +
                                      " entries the device listed could not be read or addressed"});
        for (const auto& row : rows)
            if (const Outcome outcome = Entry(remote, local, row.Name(), row.IsDirectory(), false); outcome != kGo)
                return outcome;
        return kGo;
    }

    const RequestResult& Refusal() const { return m_refusal; }

private:
    Outcome Skip(const std::string& remote, const char* reason) {
        m_list.skipped.push_back({remote, reason});
        return kGo;
    }

    // Before each listing: past the quiet ones, the progress window is up and answers its Cancel (and
    // Escape) between listings. It is modal to the host's window: the user's input for any other window is
    // dropped, not left queued to run once the walk is over; everything else is dispatched as usual.
    bool Cancelled(const std::string& remote) {
        if (++m_listed <= kQuietListings)
            return false;
        if (!m_progress) {
            m_progress = CreateDialogParamA(CModule::Instance(), MAKEINTRESOURCEA(IDD_WALK_PROGRESS), m_root,
                                            ProgressProc, reinterpret_cast<LPARAM>(&m_cancelled));
            if (!m_progress)
                return false;
            CentreOnRoot();
            m_disabledRoot = m_root && !EnableWindow(m_root, FALSE);
            ShowWindow(m_progress, SW_SHOW);
        }
        char text[64];
        std::snprintf(text, sizeof text, "Listing directories on the device: %zu so far", m_listed - 1);
        SetDlgItemTextA(m_progress, IDC_WALK_TEXT, (std::string(text) + "\n" + remote).c_str());
        MSG msg;
        while (!m_cancelled && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // The application is ending: so does the walk, and the application's loop sees the quit.
                PostQuitMessage(static_cast<int>(msg.wParam));
                m_cancelled = true;
            } else if (msg.hwnd == m_progress || IsChild(m_progress, msg.hwnd)) {
                if (!IsDialogMessageA(m_progress, &msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            } else if (!IsUserInput(msg.message)) {
                DispatchMessageA(&msg);
            }
        }
        // A window gone meanwhile (the host closed the control) has no use for the batch.
        return m_cancelled || !IsWindow(m_owner);
    }

    static bool IsUserInput(UINT message) {
        return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
               (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
               (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
    }

    // Over the middle of the host's window, kept on its monitor's work area.
    void CentreOnRoot() {
        RECT box = {}, owner = {};
        if (!GetWindowRect(m_progress, &box) || !GetWindowRect(m_root, &owner))
            return;
        const LONG width = box.right - box.left, height = box.bottom - box.top;
        LONG x = (owner.left + owner.right - width) / 2, y = (owner.top + owner.bottom - height) / 2;
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        if (GetMonitorInfoA(MonitorFromWindow(m_root, MONITOR_DEFAULTTONEAREST), &monitor)) {
            x = std::max(monitor.rcWork.left, std::min(x, monitor.rcWork.right - width));
            y = std::max(monitor.rcWork.top, std::min(y, monitor.rcWork.bottom - height));
        }
        SetWindowPos(m_progress, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    static INT_PTR CALLBACK ProgressProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            return TRUE;
        }
        if ((msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || msg == WM_CLOSE) {
            if (auto* cancelled = reinterpret_cast<bool*>(GetWindowLongPtrA(dialog, DWLP_USER)))
                *cancelled = true;
            return TRUE;
        }
        return FALSE;
    }

    IDeviceRequests& m_device;
    CTransferList& m_list;
    RequestResult m_refusal;
    HWND m_owner;
    HWND m_root; // the host's top-level window, disabled while the progress is up
    bool m_disabledRoot = false;
    size_t m_listed = 0;
    HWND m_progress = nullptr;
    bool m_cancelled = false;
};

// Every file under `directory` (recursively when asked), each going to `base` followed by the part of
// its directory after `parent`.
void AddLocalTree(CTransferList& list, const std::string& parent, const std::string& directory,
                  const std::string& base, bool recursive) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(directory, "*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = JoinPath(directory, name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recursive)
                AddLocalTree(list, parent, path, base, recursive);
        } else {
            list.items.push_back({path, WithFinalBackslash(base + directory.substr(parent.size()))});
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

std::unique_ptr<CTransferList> BuildDownload(IDeviceRequests& device, HWND owner, const RemoteSelection& selection,
                                             const std::string& folder) {
    CWaitCursor wait;
    auto list = std::make_unique<CTransferList>();
    list->direction = 0;
    CSendWalk walk(device, *list, owner);
    for (const RemoteSelection::Entry& entry : selection.entries) {
        switch (walk.Entry(selection.directory, folder, entry.name, entry.directory, true)) {
        case CSendWalk::kGo:
            continue;
        case CSendWalk::kFailed:
            Prompts().MessageBox(ModalOwner(owner), walk.Refusal().text, "Dorvex", MB_OK | MB_ICONEXCLAMATION);
            Prompts().MessageBox(ModalOwner(owner), "Transfer will not be started.", "Dorvex",
                                 MB_OK | MB_ICONEXCLAMATION);
            return nullptr;
        case CSendWalk::kAbandon:
        case CSendWalk::kCancelled:
            return nullptr;
        }
    }
    return list;
}

std::unique_ptr<CTransferList> BuildUpload(const std::vector<std::string>& paths, const std::string& directory,
                                           const CTypedPatterns* patterns, HWND owner, POINT screen) {
    auto list = std::make_unique<CTransferList>();
    list->direction = 1;
    list->targetDirectory = directory;
    const std::string base = WithFinalBackslash(directory);
    for (const std::string& path : paths) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const size_t separator = path.rfind('\\');
            if (separator != std::string::npos)
                AddLocalTree(*list, path.substr(0, separator + 1), path, base, true);
        } else {
            list->items.push_back({path, base});
        }
    }
    if (list->items.size() != 1 || !patterns)
        return list;
    const std::string& source = list->items.front().source;
    const bool firmware = MatchesPattern(patterns->Firmware(), source);
    const bool displayList = MatchesPattern(patterns->DisplayList(), source);
    const bool program = MatchesPattern(patterns->Program(), source);
    if (!firmware && !displayList && !program)
        return list;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, REQ_SEND_FILE, "Transfer File");
    if (firmware)
        AppendMenuA(menu, MF_STRING, REQ_UPDATE_FIRMWARE, "Update Firmware");
    if (displayList)
        AppendMenuA(menu, MF_STRING, REQ_LOAD_DISPLAY_LIST, "Load Display List");
    if (program)
        AppendMenuA(menu, MF_STRING, REQ_LOAD_PROGRAM, "Load Program");
    const UINT command = Prompts().TrackPopupMenu(menu, TPM_LEFTALIGN, screen, ModalOwner(owner));
    DestroyMenu(menu);
    if (!command)
        return nullptr; // the list goes, and with it the drop
    list->operation = command == REQ_SEND_FILE ? 0 : static_cast<long>(command);
    return list;
}

void CDorvexListView::SendSelection() {
    const RemoteSelection selection = Selection();
    if (selection.entries.empty() || !m_device || !m_starter)
        return;
    const std::optional<std::string> folder = Prompts().BrowseForFolder(ModalOwner(m_hWnd), "Select Destination");
    if (!folder)
        return;
    if (auto list = BuildDownload(*m_device, m_hWnd, selection, *folder))
        m_starter->StartTransfer(std::move(list));
}

RemoteSelection CDorvexListView::Selection() const {
    RemoteSelection selection;
    selection.directory = CurrentPath();
    for (const DirectoryEntry* entry : SelectedEntries())
        selection.entries.push_back({std::string(entry->Name()), entry->IsDirectory()});
    return selection;
}

void CDorvexListView::OnDrop(HDROP drop) {
    POINT point = {};
    DragQueryPoint(drop, &point);
    ClientToScreen(m_hWnd, &point);
    const std::vector<std::string> paths = DroppedFiles(drop);
    DragFinish(drop);
    DropFiles(paths, CurrentPath(), point);
}

void CDorvexListView::DropFiles(const std::vector<std::string>& paths, const std::string& directory, POINT screen) {
    if (paths.empty() || directory.empty() || !m_starter)
        return;
    if (auto list = BuildUpload(paths, directory, m_patterns, m_hWnd, screen))
        m_starter->StartTransfer(std::move(list));
}

LRESULT CDorvexListView::OnBeginDrag(int, NMHDR*, BOOL&) {
    // The list view sends this only once the pointer went past the system's drag distance.
    if (m_downloader)
        m_downloader->DragOut(Selection());
    return 0;
}

void CDorvexListView::CopySelection() {
    if (m_downloader)
        m_downloader->CopyToClipboard(Selection());
}

void CDorvexListView::PasteFiles() {
    if (!CurrentPath().empty())
        DropFiles(ClipboardFiles(), CurrentPath(), KeyboardMenuPoint());
}

std::string CDorvexListView::DropDirectoryAt(POINT client) {
    if (CurrentPath().empty())
        return "";
    LVHITTESTINFO hit = {};
    hit.pt = client;
    const int index = ListView_HitTest(m_hWnd, &hit);
    const DirectoryEntry* entry = index >= 0 && (hit.flags & LVHT_ONITEM) ? Row(static_cast<size_t>(index)) : nullptr;
    const int row = entry && entry->IsDirectory() ? index : -1;
    if (row != m_dropRow) {
        EndDropHighlight();
        m_dropRow = row;
        if (row >= 0)
            ListView_RedrawItems(m_hWnd, row, row);
        UpdateWindow(m_hWnd);
    }
    return entry && row >= 0 ? JoinPath(CurrentPath(), entry->Name()) : CurrentPath();
}

void CDorvexListView::EndDropHighlight() {
    const int row = std::exchange(m_dropRow, -1);
    if (row >= 0 && IsWindow())
        ListView_RedrawItems(m_hWnd, row, row);
}
