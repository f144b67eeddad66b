// Host queries: message boxes for the choices, a small dialog for text entry.
//
// QUORGUI_QUERY_ANSWER scripts the answer: when it is set, the query is answered with its value without
// showing anything, so callers can be tested end to end.
#include "session/QuorGui.h"

#include "GuiModule.h"
#include "resource.h"

namespace {

void CopyAnswer(const char* text, char* answer, int answerSize) {
    if (answer && answerSize > 0)
        lstrcpynA(answer, text, answerSize);
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
        const bool proposal = query->answer && query->answerSize > 0;
        SetDlgItemTextA(hwnd, IDC_ANSWER, proposal ? query->answer : "");
        SendDlgItemMessageA(hwnd, IDC_ANSWER, EM_LIMITTEXT, proposal ? query->answerSize - 1 : 0, 0);
        return TRUE;
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
