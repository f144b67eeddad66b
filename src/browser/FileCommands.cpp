// The commands on the list's rows: the context menu, delete with its four-answer confirmation, the new
// directory made by editing a temporary row in place, and the clipboard's copy and paste.
#include "browser/ConfirmDialog.h"
#include "browser/DorvexListView.h"
#include "browser/RemotePath.h"
#include "browser/ShellTransfer.h"
#include "framework/Prompts.h"
#include "framework/WaitCursor.h"

namespace {

// What a delete command needs of a row, copied: the boxes it shows let posted messages run, and a reload
// among them would replace the rows.
struct DeleteTarget {
    std::string name;
    bool directory;
};

} // namespace

void CDorvexListView::ShowContextMenu(POINT screen) {
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    if (!SelectedEntries().empty()) {
        AppendMenuA(menu, MF_STRING, kDeleteCommand, "&Delete File(s)");
        AppendMenuA(menu, MF_STRING, kSendCommand, "&Send File(s) To...");
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    }
    AppendMenuA(menu, MF_STRING, kNewDirectoryCommand, "&New Directory");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | (SelectedEntries().empty() ? MF_GRAYED : 0), kCopyCommand, "&Copy");
    AppendMenuA(menu, MF_STRING | (CurrentPath().empty() || !ClipboardHasFiles() ? MF_GRAYED : 0), kPasteCommand,
                "&Paste");
    const UINT command = Prompts().TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen, m_hWnd);
    DestroyMenu(menu);
    if (command)
        SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

LRESULT CDorvexListView::OnCommand(WORD, WORD id, HWND control, BOOL& handled) {
    // Only the menu's commands: a child control that happens to use these ids is the list control's.
    if (control) {
        handled = FALSE;
        return 0;
    }
    switch (id) {
    case kDeleteCommand:
        DeleteSelection();
        PostMessageA(m_hWnd, UWM_LIST_SHOW_DIR, 0, 0);
        break;
    case kSendCommand:
        SendSelection();
        break;
    case kNewDirectoryCommand:
        BeginNewDirectory();
        break;
    case kCopyCommand:
        CopySelection();
        break;
    case kPasteCommand:
        PasteFiles();
        break;
    default:
        handled = FALSE;
        break;
    }
    return 0;
}

void CDorvexListView::ShowRefusal(const RequestResult& refusal) {
    Prompts().MessageBox(ModalOwner(m_hWnd), refusal.text, "Dorvex", MB_OK | MB_ICONEXCLAMATION);
}

void CDorvexListView::DeleteSelection() {
    if (!m_device)
        return;
    CWaitCursor wait;
    // The questions let messages run: whatever the list shows meanwhile, the run stays in its directory.
    const std::string directory = CurrentPath();
    std::vector<DeleteTarget> targets;
    for (const DirectoryEntry* entry : SelectedEntries())
        targets.push_back({std::string(entry->Name()), entry->IsDirectory()});
    bool yesToAll = false;
    for (const DeleteTarget& target : targets) {
        if (!yesToAll) {
            const int answer = CConfirmDialog("Delete " + target.name + "?").DoModal(m_hWnd);
            if (answer == CConfirmDialog::kNoToAll)
                return;
            if (answer == CConfirmDialog::kYesToAll)
                yesToAll = true;
            else if (answer != CConfirmDialog::kYes)
                continue;
        }
        const std::string path = JoinPath(directory, target.name);
        RequestResult done;
        if (target.directory) {
            // A whole tree goes: asked again every time, "Yes to ALL" or not.
            if (Prompts().MessageBox(ModalOwner(m_hWnd), "Delete Directory " + target.name + " and all sub directories and files?",
                                     "Confirm", MB_YESNO) != IDYES)
                continue;
            done = m_device->RemoveDir(path, kListWait);
        } else {
            done = m_device->RemoveFile(path, kListWait);
        }
        if (!done)
            ShowRefusal(done);
    }
    if (m_navigation)
        m_navigation->Changed(directory);
}

void CDorvexListView::BeginNewDirectory() {
    // One temporary row at a time: a second command edits the one already there.
    int index = -1;
    for (size_t i = 0; i < m_rows.size() && index < 0; ++i)
        if (!m_rows[i])
            index = static_cast<int>(i);
    if (index < 0) {
        m_rows.push_back(nullptr);
        index = static_cast<int>(m_rows.size() - 1);
        ListView_SetItemCountEx(m_hWnd, static_cast<int>(m_rows.size()), LVSICF_NOSCROLL);
    }
    ListView_EnsureVisible(m_hWnd, index, FALSE);
    SetFocus(m_hWnd);
    if (HWND edit = ListView_EditLabel(m_hWnd, index)) {
        SendMessageA(edit, EM_SETSEL, 0, -1);
        SendMessageA(edit, EM_SCROLLCARET, 0, 0);
    }
}

void CDorvexListView::RemoveTemporaryRow(int index) {
    const size_t row = static_cast<size_t>(index);
    if (index < 0 || row >= m_rows.size() || m_rows[row])
        return;
    m_rows.erase(m_rows.begin() + index);
    ListView_SetItemState(m_hWnd, -1, 0, LVIS_SELECTED);
    ListView_SetItemCountEx(m_hWnd, static_cast<int>(m_rows.size()), LVSICF_NOSCROLL);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool CDorvexListView::FinishNewDirectory(int index, const char* name) {
    if (!name) {
        RemoveTemporaryRow(index);
        return false;
    }
    // The name goes to the device as typed: the device decides what a directory may be called.
    const std::string directory = CurrentPath();
    RequestResult made = m_device ? m_device->ChangeDir(directory, kListWait) : RequestResult{};
    if (made)
        made = m_device->MakeDir(name, kListWait);
    if (!made) {
        ShowRefusal(made);
        RemoveTemporaryRow(index);
        return false;
    }
    if (m_navigation)
        m_navigation->Changed(directory);
    PostMessageA(m_hWnd, UWM_LIST_SHOW_DIR, 0, 0);
    return true;
}

LRESULT CDorvexListView::OnEndLabelEdit(int, NMHDR* header, BOOL&) {
    auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
    const int index = info->item.iItem;
    if (index < 0 || static_cast<size_t>(index) >= m_rows.size() || m_rows[static_cast<size_t>(index)])
        return FALSE;
    if (header->code == LVN_ENDLABELEDITW) {
        const auto* wide = reinterpret_cast<const wchar_t*>(info->item.pszText);
        if (!wide)
            return FinishNewDirectory(index, nullptr);
        const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        std::string name(static_cast<size_t>(size > 0 ? size : 1), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide, -1, name.data(), size, nullptr, nullptr);
        return FinishNewDirectory(index, name.c_str());
    }
    return FinishNewDirectory(index, info->item.pszText);
}
