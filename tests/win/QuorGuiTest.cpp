// The GUI library: help and its call record, queries (scripted and answered in their real dialogs) and
// the standard error text taken from the session.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "DeviceSessionDouble.h"
#include "QuorGuiTestSupport.h"
#include "session/QuorGui.h"

namespace {
using namespace quorgui_test;

TEST(QuorGuiHelp, RecordsEveryCallAndShowsNothingWhenWindowsAreOff) {
    const std::string log = TempFile("quorgui-help");
    ScopedEnv logEnv("QUORGUI_CALL_LOG", log.c_str());
    ScopedEnv quiet("QUORGUI_NO_WINDOWS", "1");
    TestWindow owner;
    const size_t before = VisibleThreadWindows().size();

    QuorGUIShowHelp(nullptr, 15, 1005, nullptr);
    QuorGUIShowHelp("Dorvex.hlp", -1, 0, owner.get());

    const std::string ownerNumber = std::to_string(reinterpret_cast<std::uintptr_t>(owner.get()));
    const std::vector<std::string> expected = {"|15|1005|0", "Dorvex.hlp|-1|0|" + ownerNumber};
    EXPECT_EQ(Lines(log), expected);
    EXPECT_EQ(VisibleThreadWindows().size(), before);
    DeleteFileA(log.c_str());
}

TEST(QuorGuiHelp, ShowsOneWindowNamingTheContextThatEscOrCloseDismisses) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);

    QuorGUIShowHelp(nullptr, 15, 1005, nullptr);
    HWND help = FindVisibleWindowWithCaption("context 15, 1005");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(GetParent(help), nullptr);

    // A second call reuses the window for the new context.
    QuorGUIShowHelp("Dorvex.hlp", 2, 30, nullptr);
    EXPECT_EQ(FindVisibleWindowWithCaption("Help"), help);
    EXPECT_NE(Caption(help).find("Dorvex.hlp"), std::string::npos);
    EXPECT_NE(Caption(help).find("context 2, 30"), std::string::npos);

    SendMessageA(help, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(IsWindow(help));

    QuorGUIShowHelp(nullptr, 15, 1005, nullptr);
    help = FindVisibleWindowWithCaption("context 15, 1005");
    ASSERT_NE(help, nullptr);
    SendMessageA(help, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(help));
}

TEST(QuorGuiQuery, ScriptedAnswersReplaceTheText) {
    ScopedEnv quiet("QUORGUI_NO_WINDOWS", "1");
    // No script, and kinds the library does not know, are left to the session holder's test, which asks
    // through the holder.
    BSTR answer = SysAllocString(L"keep");
    ScopedEnv script("QUORGUI_QUERY_ANSWER", "new-name.txt");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryText, "Name?", &answer, nullptr));
    EXPECT_STREQ(answer, L"new-name.txt");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryInform, "Done.", &answer, nullptr));
    EXPECT_STREQ(answer, L"");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryOkCancel, "Go?", nullptr, nullptr));
    SysFreeString(answer);
}

// Answers the next query dialog of this thread from inside its modal loop: types `text` into its edit
// field (when it has one) and presses `button`; records the dialog's height.
struct QueryScript {
    std::string text;
    int button = IDOK;
    int height = 0;
    bool seen = false;
};
QueryScript g_query;

void CALLBACK AnswerQuery(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND hwnd = FirstVisibleDialog();
    if (!hwnd)
        return;
    KillTimer(nullptr, timer);
    g_query.seen = true;
    RECT rect;
    GetWindowRect(hwnd, &rect);
    g_query.height = rect.bottom - rect.top;
    if (HWND edit = GetDlgItem(hwnd, 1010))
        SetWindowTextA(edit, g_query.text.c_str());
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(g_query.button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, g_query.button)));
}

BOOL Ask(_EQuorQueryType type, const char* prompt, BSTR* answer, const char* typed, int button) {
    g_query = {typed, button};
    SetTimer(nullptr, 0, 50, AnswerQuery);
    const BOOL handled = QuorGUIHandleQuery(type, prompt, answer, nullptr);
    EXPECT_TRUE(g_query.seen) << "no dialog appeared for " << prompt;
    return handled;
}

TEST(QuorGuiQuery, AsksInRealDialogsAndReportsTheChoice) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    ScopedEnv noScript("QUORGUI_QUERY_ANSWER", nullptr);
    BSTR answer = SysAllocString(L"old.txt");

    // The text entry proposes the text it is given and returns what was typed.
    EXPECT_TRUE(Ask(eQuorQueryText, "New name?", &answer, "renamed-file-name.txt", IDOK));
    EXPECT_STREQ(answer, L"renamed-file-name.txt");
    const int shortPromptHeight = g_query.height;

    EXPECT_FALSE(Ask(eQuorQueryText, "New name?", &answer, "ignored", IDCANCEL));
    EXPECT_STREQ(answer, L"renamed-file-name.txt") << "a cancelled entry must not change the answer";

    // A long prompt is shown whole: the dialog grows instead of cutting it off.
    const std::string longPrompt(600, 'w');
    std::string spaced;
    for (size_t i = 0; i < longPrompt.size(); ++i)
        spaced += (i % 7 == 6) ? ' ' : longPrompt[i];
    EXPECT_TRUE(Ask(eQuorQueryText, spaced.c_str(), &answer, "x", IDOK));
    EXPECT_GT(g_query.height, shortPromptHeight);

    EXPECT_TRUE(Ask(eQuorQueryYesNo, "Overwrite \\cf0\\a.bin?", &answer, "", IDYES));
    EXPECT_STREQ(answer, L"Yes");
    EXPECT_TRUE(Ask(eQuorQueryYesNo, "Overwrite \\cf0\\a.bin?", &answer, "", IDNO));
    EXPECT_STREQ(answer, L"No");
    EXPECT_TRUE(Ask(eQuorQueryOkCancel, "Go on?", &answer, "", IDCANCEL));
    EXPECT_STREQ(answer, L"Cancel");
    SysFreeString(answer);
}

// Reads every text of the first message box that opens on this thread and presses its button.
std::string g_boxText;

BOOL CALLBACK CollectBoxText(HWND child, LPARAM) {
    g_boxText += Caption(child) + "\n";
    return TRUE;
}

void CALLBACK ReadAndCloseBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND hwnd = FirstVisibleDialog();
    if (!hwnd)
        return;
    g_boxText = Caption(hwnd) + "\n";
    EnumChildWindows(hwnd, CollectBoxText, 0);
    KillTimer(nullptr, timer);
    PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
}

TEST(QuorGuiStandardError, ShowsTheSessionsTextWithTheReportedCode) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    // Asked through automation by name, as the real session answers it.
    CSessionDouble session;
    session.ExpectErrorInfo(L"Disk full", 33);

    g_boxText.clear();
    SetTimer(nullptr, 0, 50, ReadAndCloseBox);
    QuorShowStandardError(static_cast<IQuorSession2*>(&session), nullptr, 45);
    session.VerifyDone();
    EXPECT_NE(g_boxText.find("Error\n"), std::string::npos) << g_boxText;
    EXPECT_NE(g_boxText.find("Disk full"), std::string::npos) << g_boxText;
    EXPECT_NE(g_boxText.find("45"), std::string::npos) << g_boxText;

    // Without a session there is still a message naming the code.
    g_boxText.clear();
    SetTimer(nullptr, 0, 50, ReadAndCloseBox);
    QuorShowStandardError(nullptr, nullptr, 12);
    EXPECT_NE(g_boxText.find("12"), std::string::npos) << g_boxText;
    EXPECT_EQ(g_boxText.find("Disk full"), std::string::npos) << g_boxText;
}

} // namespace
