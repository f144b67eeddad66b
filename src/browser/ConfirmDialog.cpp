#include "browser/ConfirmDialog.h"
#include "browser/resource.h"
#include "framework/Module.h"
#include "framework/Prompts.h"

int CConfirmDialog::DoModal(HWND owner) {
    m_answer = kClosed;
    Prompts().DoModal(CModule::Instance(), IDD_CONFIRM, "Confirm", ModalOwner(owner), DialogProc,
                      reinterpret_cast<LPARAM>(this));
    return m_answer;
}

void CConfirmDialog::FitQuestion(HWND dialog) const {
    HWND text = GetDlgItem(dialog, IDC_CONFIRM_TEXT);
    RECT field;
    GetWindowRect(text, &field);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&field), 2);
    // Measured as the field draws it: word-wrapped, long words broken, '&' shown as it is.
    RECT needed = {0, 0, field.right - field.left, 0};
    HDC dc = GetDC(text);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0)));
    DrawTextA(dc, m_question.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(text, dc);
    const int grow = needed.bottom - (field.bottom - field.top);
    if (grow <= 0)
        return;
    SetWindowPos(text, nullptr, 0, 0, field.right - field.left, needed.bottom, SWP_NOMOVE | SWP_NOZORDER);
    for (int id = IDC_CONFIRM_YES; id <= IDC_CONFIRM_NO_ALL; ++id) {
        HWND button = GetDlgItem(dialog, id);
        RECT place;
        GetWindowRect(button, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(button, nullptr, place.left, place.top + grow, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    RECT frame;
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
                 SWP_NOMOVE | SWP_NOZORDER);
}

INT_PTR CALLBACK CConfirmDialog::DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CConfirmDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        self = reinterpret_cast<CConfirmDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgItemTextA(dialog, IDC_CONFIRM_TEXT, self->m_question.c_str());
        self->FitQuestion(dialog);
        CenterOnOwner(dialog);
        return TRUE;
    case WM_COMMAND: {
        if (!self)
            return FALSE;
        int answer;
        switch (LOWORD(wParam)) {
        case IDC_CONFIRM_YES:
            answer = kYes;
            break;
        case IDC_CONFIRM_YES_ALL:
            answer = kYesToAll;
            break;
        case IDC_CONFIRM_NO:
            answer = kNo;
            break;
        case IDC_CONFIRM_NO_ALL:
            answer = kNoToAll;
            break;
        case IDCANCEL: // Escape
            answer = kClosed;
            break;
        default:
            return FALSE;
        }
        self->m_answer = answer;
        EndDialog(dialog, answer);
        return TRUE;
    }
    default:
        return FALSE;
    }
}
