// The GUI library: help and scripted queries with windows off (as the control's tests run it), the standard
// error box, and the progress dialogs: what they show, when they go, and Cancel.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SessionTestSupport.h" // CTempFolder, ReadFileText
#include "gui/resource.h"
#include "contracts/QuorGui.h"

namespace {

constexpr UINT kCancel = WM_USER + 31; // the owner's cancel message, as the control registers it
constexpr DWORD kBeyondHideDelay = 400;
constexpr DWORD kCaughtUp = 80; // the file dialog shows what came at most every 50 ms

// Sets an environment variable for one scope and puts the previous state back.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name(name) {
        char old[1024];
        const DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
        had = n > 0 && n < sizeof old;
        previous = had ? old : "";
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedEnv() { SetEnvironmentVariableA(name, had ? previous.c_str() : nullptr); }
    const char* name;
    bool had = false;
    std::string previous;
};

std::string Caption(HWND hwnd) {
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// The first visible window of this thread whose caption holds `part`, or null.
HWND FindVisible(const std::string& part) {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, nullptr, nullptr)) != nullptr;)
        if (GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId() && IsWindowVisible(w) &&
            Caption(w).find(part) != std::string::npos)
            return w;
    return nullptr;
}

// An ordinary window to own dialogs and receive their posted messages.
struct TestWindow {
    HWND hwnd = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
    ~TestWindow() { DestroyWindow(hwnd); }
};

// With windows off help is only recorded and queries take the scripted answer (other kinds: the holder's).
TEST(QuorGui, WithWindowsOffHelpIsRecordedAndQueriesTakeTheScriptedAnswer) {
    sessiontest::CTempFolder folder("gui");
    const std::string log = folder / "help.log";
    ScopedEnv logEnv("QUORGUI_CALL_LOG", log.c_str());
    ScopedEnv quiet("QUORGUI_NO_WINDOWS", "1");
    TestWindow owner;
    QuorGUIShowHelp(nullptr, 15, 1005, nullptr);
    QuorGUIShowHelp("Dorvex.hlp", -1, 0, owner.hwnd);
    EXPECT_EQ(sessiontest::ReadFileText(log),
              "|15|1005|0\r\nDorvex.hlp|-1|0|" +
                  std::to_string(reinterpret_cast<std::uintptr_t>(owner.hwnd)) + "\r\n");
    EXPECT_EQ(FindVisible("Help"), nullptr);
    CQuorDialogEventFile files;
    ASSERT_TRUE(files.Create(owner.hwnd));
    files.OnFileXferBatchStart(1, "Sending", 1, 1);
    EXPECT_FALSE(IsWindowVisible(files.GetSafeHwnd()));
    files.OnFileXferBatchFinish(1, 1);

    BSTR answer = SysAllocString(L"keep");
    ScopedEnv script("QUORGUI_QUERY_ANSWER", "new-name.txt");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryInform, "Done.", &answer, nullptr));
    EXPECT_STREQ(answer, L"");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryOkCancel, "Go?", nullptr, nullptr));
    SysFreeString(answer);
}

// The session's text is asked for by name, as the real session answers it; without a session (and no
// text left from the last box) the message still names the code.
TEST(QuorGuiStandardError, ShowsTheSessionsTextWithTheReportedCode) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    CSessionDouble session;
    session.ExpectErrorInfo(L"Disk full", 33);
    IQuorSession2* const sessions[] = {&session, nullptr};
    for (IQuorSession2* from : sessions) {
        CBoxCloser box("Error");
        QuorShowStandardError(from, nullptr, from ? 45 : 12);
        ASSERT_TRUE(box.Closed());
        EXPECT_NE(box.text.find(from ? "45" : "12"), std::string::npos) << box.text;
        EXPECT_EQ(box.text.find("Disk full") != std::string::npos, from != nullptr) << box.text;
    }
    session.VerifyDone();
}

// --- progress ---

std::string ItemText(HWND dialog, int id) {
    return Caption(GetDlgItem(dialog, id));
}

LRESULT BarPosition(HWND dialog, int id) {
    return SendDlgItemMessageA(dialog, id, PBM_GETPOS, 0, 0);
}

// Takes the owner's pending cancel messages; the lParam of each.
std::vector<LPARAM> CancelsPosted(HWND owner) {
    std::vector<LPARAM> found;
    MSG msg;
    while (PeekMessageA(&msg, owner, kCancel, kCancel, PM_REMOVE))
        found.push_back(msg.lParam);
    return found;
}

class FileDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dialog_.Create(owner_.hwnd));
        hwnd_ = dialog_.GetSafeHwnd();
    }

    ScopedEnv windows_{"QUORGUI_NO_WINDOWS", nullptr};
    TestWindow owner_;
    CQuorDialogEventFile dialog_;
    HWND hwnd_ = nullptr;
};

TEST_F(FileDialogTest, FollowsABatchFileByFileAndGoesShortlyAfterItEnds) {
    EXPECT_FALSE(dialog_.Create(owner_.hwnd)) << "a second window for the same dialog";
    EXPECT_FALSE(IsWindowVisible(hwnd_)) << "created hidden, shown by the first batch";

    dialog_.OnFileXferBatchStart(4711, "Sending to the device", 2, 3);
    EXPECT_TRUE(IsWindowVisible(hwnd_));
    EXPECT_NE(ItemText(hwnd_, IDC_TITLE).find("Sending to the device"), std::string::npos);
    EXPECT_EQ(ItemText(hwnd_, IDC_BATCH_TEXT), "File 1 of 2 (0%)");

    dialog_.OnFileXferFileStart(4711, "C:\\data\\a.bin", "\\cf0\\data\\", 2048, 1, "a.bin");
    Pump(kCaughtUp);
    EXPECT_EQ(ItemText(hwnd_, IDC_FILE_NAME), "a.bin");
    EXPECT_NE(Caption(hwnd_).find("Sending a.bin"), std::string::npos) << Caption(hwnd_);
    dialog_.OnFileXferFileProgress(4711, 0, 2, 1024, 2048);
    Pump(kCaughtUp);
    EXPECT_EQ(BarPosition(hwnd_, IDC_FILE_BAR), 500);
    EXPECT_EQ(BarPosition(hwnd_, IDC_BATCH_BAR), 250) << "half of the first of two files";
    EXPECT_EQ(ItemText(hwnd_, IDC_FILE_BYTES), "1.0 KB of 2.0 KB");
    EXPECT_EQ(ItemText(hwnd_, IDC_TIME).rfind("Elapsed 0:0", 0), 0u) << ItemText(hwnd_, IDC_TIME);
    dialog_.OnFileXferFileFinish(4711, 1);
    Pump(kCaughtUp);
    EXPECT_EQ(BarPosition(hwnd_, IDC_BATCH_BAR), 500);
    dialog_.OnFileXferBatchFinish(4711, 1);

    // The next item of a list starts at once: the dialog stays up instead of flashing.
    dialog_.OnFileXferBatchStart(4712, "Sending to the device", 1, 1);
    Pump(kBeyondHideDelay);
    EXPECT_TRUE(IsWindowVisible(hwnd_));
    EXPECT_EQ(BarPosition(hwnd_, IDC_BATCH_BAR), 0) << "a new batch starts from nothing";
    dialog_.OnFileXferBatchFinish(4712, 1);
    Pump(kBeyondHideDelay);
    EXPECT_FALSE(IsWindowVisible(hwnd_));

    // Events after the window is gone (with its owner, say) are ignored.
    DestroyWindow(hwnd_);
    EXPECT_EQ(dialog_.GetSafeHwnd(), nullptr);
    dialog_.OnFileXferBatchStart(3, "t", 1, 1);
    dialog_.OnFileXferFileProgress(3, 0, 1, 1, 1);
    dialog_.OnFileXferBatchFinish(3, 1);
    Pump(50);
}

TEST_F(FileDialogTest, CancelPostsTheRunningBatchOnceFromButtonCloseBoxOrEsc) {
    dialog_.SetCancelInfo(owner_.hwnd, kCancel);
    const std::function<void()> cancels[] = {
        [&] { SendMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); },
        [&] { SendMessageA(hwnd_, WM_CLOSE, 0, 0); },
        // Esc reaches the dialog through a plain loop that knows nothing of it, as a host's loop is.
        [&] {
            PostMessageA(hwnd_, WM_KEYDOWN, VK_ESCAPE, 0);
            MSG msg;
            while (PeekMessageA(&msg, hwnd_, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        },
    };
    LPARAM batch = 4711;
    for (const auto& cancel : cancels) {
        dialog_.OnFileXferBatchStart(batch, "Receiving", 2, 10);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd_, IDCANCEL))) << "Cancel works again for a new batch";
        cancel();
        cancel();
        EXPECT_EQ(CancelsPosted(owner_.hwnd), std::vector<LPARAM>{batch});
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd_, IDCANCEL)));
        dialog_.OnFileXferBatchFinish(batch++, 0);
    }
}

TEST(QuorGuiTaskDialog, ShowsATaskAndLetsThePersonStopIt) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    TestWindow owner;
    CQuorDialogEventTask dialog;
    ASSERT_TRUE(dialog.Create(owner.hwnd));
    HWND hwnd = dialog.GetSafeHwnd();
    EXPECT_FALSE(IsWindowVisible(hwnd));

    EXPECT_EQ(dialog.OnTaskStart(9, "Update Firmware", "C:\\fw\\image.fwx"), 0);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(dialog.OnTaskProgress(9, 40, "Writing", 3), 0);
    EXPECT_EQ(BarPosition(hwnd, IDC_TASK_BAR), 40);
    EXPECT_NE(ItemText(hwnd, IDC_TIME).find("40%"), std::string::npos) << ItemText(hwnd, IDC_TIME);

    // Cancel is the answer to the task's next event; asking twice changes nothing.
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_NE(dialog.OnTaskProgress(9, 50, "Writing", 4), 0);
    EXPECT_TRUE(IsWindowVisible(hwnd)) << "the dialog stays until the task completes";
    dialog.OnTaskComplete(9, 0);
    EXPECT_FALSE(IsWindowVisible(hwnd));

    // The next task starts afresh; the close box asks to stop it too.
    EXPECT_EQ(dialog.OnTaskStart(10, "Load Program", "C:\\p\\main.pgx"), 0);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDCANCEL)));
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_NE(dialog.OnTaskProgress(10, 10, "Checking", 1), 0);
    dialog.OnTaskComplete(10, 0);
}

} // namespace
