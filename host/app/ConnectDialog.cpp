#include "ConnectDialog.h"

#include "framework/Prompts.h"
#include "resource.h"

namespace {

constexpr int kMaxConnection = 1024;

// Over the middle of the owner, as message boxes open.
void CenterOverOwner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT area, own;
    if (!owner || !GetWindowRect(owner, &area))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(dialog, &own);
    SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - (own.right - own.left)) / 2,
                 area.top + (area.bottom - area.top - (own.bottom - own.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void EnableOk(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDOK), GetWindowTextLengthW(GetDlgItem(dialog, IDC_CONNECTION)) > 0);
}

INT_PTR CALLBACK ConnectProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* connection = reinterpret_cast<std::wstring*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        CenterOverOwner(dialog);
        HWND edit = GetDlgItem(dialog, IDC_CONNECTION);
        SendMessageW(edit, EM_LIMITTEXT, kMaxConnection, 0);
        SetWindowTextW(edit, connection->c_str());
        EnableOk(dialog);
        // The current text selected, so typing replaces it.
        SendMessageW(edit, EM_SETSEL, 0, -1);
        SetFocus(edit);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CONNECTION:
            if (HIWORD(wParam) == EN_CHANGE)
                EnableOk(dialog);
            return TRUE;
        case IDOK: {
            wchar_t text[kMaxConnection + 1] = L"";
            GetDlgItemTextW(dialog, IDC_CONNECTION, text, kMaxConnection + 1);
            if (!*text)
                return TRUE;
            *reinterpret_cast<std::wstring*>(GetWindowLongPtrW(dialog, DWLP_USER)) = text;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

} // namespace

bool AskForConnection(HWND owner, std::wstring& connection) {
    std::wstring text = connection;
    const INT_PTR ended = Prompts().DoModal(GetModuleHandleW(nullptr), IDD_CONNECT, "Connect", owner,
                                            ConnectProc, reinterpret_cast<LPARAM>(&text));
    // Leading and trailing blanks are typing accidents, never part of a folder or device name.
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    if (ended != IDOK || first == std::wstring::npos)
        return false;
    connection = text.substr(first, last - first + 1);
    return true;
}
