// The four-answer question asked about each entry a delete command meets. A question longer than the
// text field's two lines makes the field, and the dialog with it, as tall as the wrapped text needs, so
// the whole entry name is always seen and nothing is drawn over the buttons.
#pragma once
#include <windows.h>
#include <string>

class CConfirmDialog {
public:
    enum Answer { kClosed = 0, kNo = 1, kNoToAll = 2, kYes = 3, kYesToAll = 4 };

    explicit CConfirmDialog(std::string question) : m_question(std::move(question)) {}
    // Shows the dialog owned by and centred on `owner` (its top-level window, which it disables while it is
    // up) and returns the answer; Escape leaves kClosed.
    int DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
    void FitQuestion(HWND dialog) const;

    std::string m_question;
    int m_answer = kClosed;
};
