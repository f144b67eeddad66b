// Host queries: message boxes for the choices, a small dialog for text entry.
//
// QUORGUI_QUERY_ANSWER scripts the answer: when it is set, the query is answered with its value without
// showing anything, so callers can be tested end to end.
#include "session/QuorGui.h"

#include <algorithm>

#include "GuiModule.h"
#include "resource.h"

namespace {

void CopyAnswer(const char* text, char* answer, int answerSize) {
    if (answer && answerSize > 0)
        lstrcpynA(answer, text, answerSize);
}

// Moves a window of the dialog down by `dy` pixels.
void MoveDown(HWND dialog, int id, int dy) {
    HWND item = GetDlgItem(dialog, id);
    RECT rect;
    GetWindowRect(item, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    SetWindowPos(item, nullptr, rect.left, rect.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A long prompt makes the dialog taller instead of being cut off; at most to half the work area.
void FitPrompt(HWND dialog, const char* prompt) {
    HWND label = GetDlgItem(dialog, IDC_PROMPT);
    RECT rect;
    GetClientRect(label, &rect);
    const int shown = rect.bottom;
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0)));
    DrawTextA(dc, prompt, -1, &rect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int wanted = std::min<int>(rect.bottom, (work.bottom - work.top) / 2);
    if (wanted <= shown)
        return;
    const int dy = wanted - shown;
    RECT labelRect;
    GetWindowRect(label, &labelRect);
    SetWindowPos(label, nullptr, 0, 0, labelRect.right - labelRect.left,
                 labelRect.bottom - labelRect.top + dy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int id : {IDC_ANSWER, IDOK, IDCANCEL})
        MoveDown(dialog, id, dy);
    RECT frame;
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

struct TextQuery {
    const char* prompt;
    char* answer;
    int answerSize;
};

INT_PTR CALLBACK TextQueryProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* query = reinterpret_cast<TextQuery*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        SetDlgItemTextA(hwnd, IDC_PROMPT, query->prompt ? query->prompt : "");
        FitPrompt(hwnd, query->prompt ? query->prompt : "");
        quorgui::CenterOnOwner(hwnd, GetWindow(hwnd, GW_OWNER));
        const bool proposal = query->answer && query->answerSize > 0;
        SetDlgItemTextA(hwnd, IDC_ANSWER, proposal ? query->answer : "");
        SendDlgItemMessageA(hwnd, IDC_ANSWER, EM_LIMITTEXT, proposal ? query->answerSize - 1 : 0, 0);
        // The proposal selected, so typing replaces it.
        SendDlgItemMessageA(hwnd, IDC_ANSWER, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(hwnd, IDC_ANSWER));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto* query = reinterpret_cast<TextQuery*>(GetWindowLongPtrA(hwnd, DWLP_USER));
            if (query->answer && query->answerSize > 0)
                GetDlgItemTextA(hwnd, IDC_ANSWER, query->answer, query->answerSize);
            EndDialog(hwnd, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hwnd, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL Ask(_EQuorQueryType type, const char* prompt, char* answer, int answerSize, HWND owner) {
    if ((!answer && answerSize != 0) || answerSize < 0)
        return FALSE;
    if (type != eQuorQueryInform && type != eQuorQueryYesNo && type != eQuorQueryOkCancel &&
        type != eQuorQueryText)
        return FALSE;

    char scripted[1024];
    if (quorgui::ReadEnvironment("QUORGUI_QUERY_ANSWER", scripted, sizeof scripted)) {
        CopyAnswer(type == eQuorQueryInform ? "" : scripted, answer, answerSize);
        return TRUE;
    }
    if (quorgui::WindowsDisabled())
        return FALSE;

    const char* text = prompt ? prompt : "";
    switch (type) {
    case eQuorQueryInform:
        MessageBoxA(owner, text, "Information", MB_OK | MB_ICONINFORMATION);
        CopyAnswer("", answer, answerSize);
        return TRUE;
    case eQuorQueryYesNo: {
        const int pressed = MessageBoxA(owner, text, "Question", MB_YESNO | MB_ICONQUESTION);
        CopyAnswer(pressed == IDYES ? "Yes" : "No", answer, answerSize);
        return TRUE;
    }
    case eQuorQueryOkCancel: {
        const int pressed = MessageBoxA(owner, text, "Question", MB_OKCANCEL | MB_ICONQUESTION);
        CopyAnswer(pressed == IDOK ? "OK" : "Cancel", answer, answerSize);
        return TRUE;
    }
    case eQuorQueryText: {
        TextQuery query = {prompt, answer, answerSize};
        const INT_PTR ended = DialogBoxParamA(quorgui::ModuleInstance(), MAKEINTRESOURCEA(IDD_QUERY_TEXT),
                                              owner, TextQueryProc, reinterpret_cast<LPARAM>(&query));
        return ended == IDOK;
    }
    }
    return FALSE;
}

} // namespace

extern "C" BOOL QuorGUIHandleQuery(_EQuorQueryType type, const char* prompt, char* answer, int answerSize,
                                   HWND owner) {
    try {
        return Ask(type, prompt, answer, answerSize, owner);
    } catch (...) {
        return FALSE;
    }
}
