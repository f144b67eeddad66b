// The GUI library's progress dialogs: what they show of a batch or a task, when they appear and go,
// Cancel (button, close box and Esc through the host's ordinary message loop) and numbers from the
// session that do not add up.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "QuorGuiTestSupport.h"
#include "session/QuorGui.h"

namespace {
using namespace quorgui_test;

// Control ids of the dialogs, as their resources lay them out.
constexpr int kFileBar = 1003, kBatchText = 1004, kBatchBar = 1005, kTaskBar = 1008, kFileName = 1011,
              kFileBytes = 1012, kTime = 1013;
constexpr UINT kCancel = WM_USER + 31; // the owner's cancel message, as the control registers it
constexpr DWORD kBeyondHideDelay = 400;

std::string ItemText(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
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
        dialog_.SetCancelInfo(owner_.get(), kCancel);
        ASSERT_TRUE(dialog_.Create(owner_.get()));
        hwnd_ = dialog_.GetSafeHwnd();
    }

    ScopedEnv windows_{"QUORGUI_NO_WINDOWS", nullptr};
    TestWindow owner_;
    CQuorDialogEventFile dialog_;
    HWND hwnd_ = nullptr;
};

TEST_F(FileDialogTest, FollowsABatchFileByFileAndGoesShortlyAfterItEnds) {
    EXPECT_EQ(GetWindow(hwnd_, GW_OWNER), owner_.get());
    EXPECT_FALSE(dialog_.Create(owner_.get())) << "a second window for the same dialog";
    EXPECT_FALSE(IsWindowVisible(hwnd_)) << "created hidden, shown by the first batch";

    dialog_.OnFileXferBatchStart(4711, "Sending to the device", 2, 3);
    EXPECT_TRUE(IsWindowVisible(hwnd_));
    EXPECT_NE(ItemText(hwnd_, 1000).find("Sending to the device"), std::string::npos);
    EXPECT_EQ(ItemText(hwnd_, kBatchText), "File 1 of 2 (0%)");

    dialog_.OnFileXferFileStart(4711, "C:\\data\\a.bin", "\\cf0\\data\\", 2048, 1, "a.bin");
    EXPECT_EQ(ItemText(hwnd_, kFileName), "a.bin");
    EXPECT_NE(Caption(hwnd_).find("Sending a.bin"), std::string::npos) << Caption(hwnd_);
    dialog_.OnFileXferFileProgress(4711, 0, 2, 1024, 2048);
    EXPECT_EQ(BarPosition(hwnd_, kFileBar), 500);
    EXPECT_EQ(BarPosition(hwnd_, kBatchBar), 250) << "half of the first of two files";
    EXPECT_EQ(ItemText(hwnd_, kFileBytes), "1.0 KB of 2.0 KB");
    EXPECT_EQ(ItemText(hwnd_, kTime).rfind("Elapsed 0:0", 0), 0u) << ItemText(hwnd_, kTime);
    dialog_.OnFileXferFileFinish(4711, 1);
    EXPECT_EQ(BarPosition(hwnd_, kBatchBar), 500);

    // A file without a name of its own is named after its source path; a download says so.
    dialog_.OnFileXferFileStart(4711, "\\cf0\\logs\\b.txt", "C:\\out\\", 100, 0, "");
    EXPECT_EQ(ItemText(hwnd_, kFileName), "b.txt");
    EXPECT_NE(Caption(hwnd_).find("Receiving b.txt"), std::string::npos) << Caption(hwnd_);
    dialog_.OnFileXferFileProgress(4711, 1, 2, 100, 100);
    EXPECT_EQ(ItemText(hwnd_, kBatchText), "File 2 of 2 (100%)");
    EXPECT_EQ(ItemText(hwnd_, kFileBytes), "100 bytes of 100 bytes");
    dialog_.OnFileXferFileFinish(4711, 1);
    dialog_.OnFileXferBatchFinish(4711, 1);

    // The next item of a list starts at once: the dialog stays up instead of flashing.
    dialog_.OnFileXferBatchStart(4712, "Sending to the device", 1, 1);
    Pump(kBeyondHideDelay);
    EXPECT_TRUE(IsWindowVisible(hwnd_));
    EXPECT_EQ(BarPosition(hwnd_, kBatchBar), 0) << "a new batch starts from nothing";
    EXPECT_EQ(ItemText(hwnd_, kFileName), "");

    dialog_.OnFileXferBatchFinish(4712, 1);
    Pump(kBeyondHideDelay);
    EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(FileDialogTest, CancelPostsTheRunningBatchOnceFromButtonCloseBoxOrEsc) {
    dialog_.OnFileXferBatchStart(4711, "Sending", 2, 10);
    SendMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    SendMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(CancelsPosted(owner_.get()), std::vector<LPARAM>{4711});
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd_, IDCANCEL)));
    dialog_.OnFileXferBatchFinish(4711, 0);

    // The close box cancels while a batch runs.
    dialog_.OnFileXferBatchStart(4712, "Receiving", 1, 0);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd_, IDCANCEL))) << "Cancel works again for a new batch";
    SendMessageA(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_EQ(CancelsPosted(owner_.get()), std::vector<LPARAM>{4712});
    dialog_.OnFileXferBatchFinish(4712, 0);

    // Esc reaches the dialog through a plain loop that knows nothing of it, as a host's loop is.
    dialog_.OnFileXferBatchStart(4713, "Receiving", 1, 0);
    PostMessageA(hwnd_, WM_KEYDOWN, VK_ESCAPE, 0);
    MSG msg;
    while (PeekMessageA(&msg, hwnd_, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(CancelsPosted(owner_.get()), std::vector<LPARAM>{4713});
}

TEST(QuorGuiFileDialog, WithoutAListenerCancelIsOffAndTheCloseBoxOnlyHides) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    TestWindow owner;
    CQuorDialogEventFile dialog;
    ASSERT_TRUE(dialog.Create(owner.get()));
    HWND hwnd = dialog.GetSafeHwnd();
    dialog.OnFileXferBatchStart(1, "Sending", 1, 1);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDCANCEL)));
    dialog.OnFileXferBatchFinish(1, 1);
    // Between batches the close box just hides it at once.
    dialog.OnFileXferBatchStart(2, "Sending", 1, 1);
    dialog.OnFileXferBatchFinish(2, 1);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(FileDialogTest, NumbersThatDoNotAddUpKeepTheBarsInRange) {
    dialog_.OnFileXferBatchStart(7, nullptr, -3, -1);
    dialog_.OnFileXferFileStart(7, nullptr, nullptr, -100, 1, nullptr);
    EXPECT_EQ(ItemText(hwnd_, kFileName), "");
    dialog_.OnFileXferFileProgress(7, 0, 0, 5000, 1000);
    EXPECT_EQ(BarPosition(hwnd_, kFileBar), 1000) << "more done than the size: full, not beyond";
    EXPECT_EQ(ItemText(hwnd_, kFileBytes), "1000 bytes of 1000 bytes");
    dialog_.OnFileXferFileProgress(7, 9, 2, -20, 0);
    EXPECT_EQ(BarPosition(hwnd_, kFileBar), 0);
    EXPECT_LE(BarPosition(hwnd_, kBatchBar), 1000);
    EXPECT_EQ(ItemText(hwnd_, kBatchText).rfind("File 1 of 2", 0), 0u)
        << "a file index past the batch is ignored: " << ItemText(hwnd_, kBatchText);
    // Finishing twice, or more files than announced, never counts past the batch.
    for (int i = 0; i < 3; ++i) {
        dialog_.OnFileXferFileStart(7, "C:\\a", "\\", 10, 1, "a");
        dialog_.OnFileXferFileFinish(7, 1);
        dialog_.OnFileXferFileFinish(7, 1);
    }
    EXPECT_EQ(ItemText(hwnd_, kBatchText), "File 2 of 2 (100%)");
    EXPECT_EQ(BarPosition(hwnd_, kBatchBar), 1000);
}

TEST(QuorGuiFileDialog, SurvivesItsWindowBeingDestroyedFirst) {
    TestWindow owner;
    CQuorDialogEventFile dialog;
    ASSERT_TRUE(dialog.Create(owner.get()));
    DestroyWindow(dialog.GetSafeHwnd());
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    // Events after the window is gone are ignored.
    dialog.OnFileXferBatchStart(1, "t", 1, 1);
    dialog.OnFileXferFileProgress(1, 0, 1, 1, 1);
    dialog.OnFileXferBatchFinish(1, 1);
    Pump(50);
}

TEST(QuorGuiTaskDialog, ShowsATaskAndLetsThePersonStopIt) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    TestWindow owner;
    CQuorDialogEventTask dialog;
    EXPECT_EQ(dialog.OnTaskStart(1, "before", "create"), 0);
    ASSERT_TRUE(dialog.Create(owner.get()));
    HWND hwnd = dialog.GetSafeHwnd();
    EXPECT_FALSE(IsWindowVisible(hwnd));

    EXPECT_EQ(dialog.OnTaskStart(9, "Update Firmware", "C:\\fw\\image.fwx"), 0);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(dialog.OnTaskProgress(9, 140, "Writing", 3), 0);
    EXPECT_EQ(BarPosition(hwnd, kTaskBar), 100);
    EXPECT_EQ(dialog.OnTaskProgress(9, -5, nullptr, 3), 0);
    EXPECT_EQ(BarPosition(hwnd, kTaskBar), 0);
    EXPECT_EQ(dialog.OnTaskProgress(9, 40, "Writing", 3), 0);
    EXPECT_NE(ItemText(hwnd, kTime).find("40%"), std::string::npos) << ItemText(hwnd, kTime);

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

TEST(QuorGuiProgress, NothingShowsWhenWindowsAreOff) {
    ScopedEnv quiet("QUORGUI_NO_WINDOWS", "1");
    TestWindow owner;
    CQuorDialogEventFile files;
    CQuorDialogEventTask task;
    ASSERT_TRUE(files.Create(owner.get()));
    ASSERT_TRUE(task.Create(owner.get()));
    files.OnFileXferBatchStart(1, "Sending", 1, 1);
    EXPECT_EQ(task.OnTaskStart(2, "Update Firmware", "x.fwx"), 0);
    EXPECT_FALSE(IsWindowVisible(files.GetSafeHwnd()));
    EXPECT_FALSE(IsWindowVisible(task.GetSafeHwnd()));
    files.OnFileXferBatchFinish(1, 1);
    task.OnTaskComplete(2, 1);
}

} // namespace
