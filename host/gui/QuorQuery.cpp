// Host queries: message boxes for the choices, a small dialog for text entry.
//
// QUORGUI_QUERY_ANSWER scripts the answer: when it is set, the query is answered with its value without
// showing anything, so callers can be tested end to end. QUORGUI_CALL_LOG records every query.
#include "contracts/QuorGui.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <oleauto.h>
#include <string>

#include "GuiModule.h"
#include "resource.h"

namespace {

std::string Narrow(BSTR text) {
    if (!text || !*text)
        return {};
    const int length = static_cast<int>(SysStringLen(text));
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], size, nullptr, nullptr);
    return out.substr(0, out.find('\0'));
}

// Replaces the caller's text with `text`; the old one is freed only once the new one exists.
bool Reply(const char* text, BSTR* answer) {
    if (!answer)
        return true;
    const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    BSTR reply = SysAllocStringLen(nullptr, size > 0 ? size - 1 : 0);
    if (!reply)
        return false;
    if (size > 1)
        MultiByteToWideChar(CP_ACP, 0, text, -1, reply, size);
    SysFreeString(*answer);
    *answer = reply;
    return true;
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
    std::string answer; // the proposal on entry, what was typed on OK
};

INT_PTR CALLBACK TextQueryProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* query = reinterpret_cast<TextQuery*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        SetDlgItemTextA(hwnd, IDC_PROMPT, query->prompt ? query->prompt : "");
        FitPrompt(hwnd, query->prompt ? query->prompt : "");
        quorgui::CenterOnOwner(hwnd, GetWindow(hwnd, GW_OWNER));
        SetDlgItemTextA(hwnd, IDC_ANSWER, query->answer.c_str());
        // The proposal selected, so typing replaces it.
        SendDlgItemMessageA(hwnd, IDC_ANSWER, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(hwnd, IDC_ANSWER));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto* query = reinterpret_cast<TextQuery*>(GetWindowLongPtrA(hwnd, DWLP_USER));
            HWND edit = GetDlgItem(hwnd, IDC_ANSWER);
            query->answer.assign(static_cast<size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
            GetWindowTextA(edit, &query->answer[0], static_cast<int>(query->answer.size()));
            query->answer.resize(query->answer.find('\0'));
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

BOOL Ask(_EQuorQueryType type, const char* prompt, BSTR* answer, HWND owner) {
    const char* text = prompt ? prompt : "";
    char line[160];
    std::snprintf(line, sizeof line, "query|%ld|%.100s|%llu", static_cast<long>(type), text,
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(owner)));
    quorgui::AppendCallLog(line);
    if (type != eQuorQueryInform && type != eQuorQueryYesNo && type != eQuorQueryOkCancel &&
        type != eQuorQueryText)
        return FALSE;

    char scripted[1024];
    if (quorgui::ReadEnvironment("QUORGUI_QUERY_ANSWER", scripted, sizeof scripted))
        return Reply(type == eQuorQueryInform ? "" : scripted, answer);
    if (quorgui::WindowsDisabled())
        return FALSE;

    switch (type) {
    case eQuorQueryInform:
        MessageBoxA(owner, text, "Information", MB_OK | MB_ICONINFORMATION);
        return Reply("", answer);
    case eQuorQueryYesNo: {
        const int pressed = MessageBoxA(owner, text, "Question", MB_YESNO | MB_ICONQUESTION);
        return Reply(pressed == IDYES ? "Yes" : "No", answer);
    }
    case eQuorQueryOkCancel: {
        const int pressed = MessageBoxA(owner, text, "Question", MB_OKCANCEL | MB_ICONQUESTION);
        return Reply(pressed == IDOK ? "OK" : "Cancel", answer);
    }
    case eQuorQueryText: {
        TextQuery query = {prompt, answer ? Narrow(*answer) : std::string()};
        const INT_PTR ended = DialogBoxParamA(quorgui::ModuleInstance(), MAKEINTRESOURCEA(IDD_QUERY_TEXT),
                                              owner, TextQueryProc, reinterpret_cast<LPARAM>(&query));
        return ended == IDOK && Reply(query.answer.c_str(), answer);
    }
    }
    return FALSE;
}

} // namespace

extern "C" BOOL QuorGUIHandleQuery(_EQuorQueryType type, const char* prompt, BSTR* answer, HWND owner) {
    try {
        return Ask(type, prompt, answer, owner);
    } catch (...) {
        return FALSE;
    }
}
