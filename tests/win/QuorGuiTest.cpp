// The GUI library: help and its call record, the progress dialogs' windows and cancel, scripted queries
// and the standard error text taken from the session.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "session/QuorGui.h"

namespace {

// Sets an environment variable for one scope and puts the previous state back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        char old[1024];
        const DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
        had_ = n > 0 && n < sizeof old;
        if (had_)
            old_ = old;
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedEnv() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

BOOL CALLBACK CollectVisible(HWND hwnd, LPARAM list) {
    if (IsWindowVisible(hwnd))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> VisibleThreadWindows() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectVisible, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string Caption(HWND hwnd) {
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

HWND FindVisibleWindowWithCaption(const std::string& part) {
    for (HWND hwnd : VisibleThreadWindows())
        if (Caption(hwnd).find(part) != std::string::npos)
            return hwnd;
    return nullptr;
}

std::string TempFile(const char* stem) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string path = std::string(dir) + stem + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(path.c_str());
    return path;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// An ordinary window to own dialogs and receive their posted messages.
class TestWindow {
public:
    TestWindow() {
        hwnd_ = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
    }
    ~TestWindow() { DestroyWindow(hwnd_); }
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_;
};

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

TEST(QuorGuiFileDialog, ShowsDuringABatchAndPostsCancelWithTheBatchNumber) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    const UINT kCancel = WM_USER + 31;
    TestWindow owner;
    auto* dialog = new CQuorDialogEventFile;
    EXPECT_EQ(dialog->GetSafeHwnd(), nullptr);
    dialog->SetCancelInfo(owner.get(), kCancel);
    ASSERT_TRUE(dialog->Create(owner.get()));
    HWND hwnd = dialog->GetSafeHwnd();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(dialog->Create(owner.get()));
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), owner.get());
    EXPECT_FALSE(IsWindowVisible(hwnd));

    dialog->OnFileXferBatchStart(4711, "Sending files", 2, 10);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    dialog->OnFileXferFileStart(4711, "C:\\data\\a.bin", "\\cf0\\data\\", 2048, 1, "a.bin");
    dialog->OnFileXferFileProgress(4711, 0, 2, 1024, 2048);
    EXPECT_EQ(SendDlgItemMessageA(hwnd, 1003, PBM_GETPOS, 0, 0), 500);
    EXPECT_EQ(SendDlgItemMessageA(hwnd, 1005, PBM_GETPOS, 0, 0), 250);

    // Cancel goes to the owner once, carrying the running batch.
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, owner.get(), kCancel, kCancel, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(msg.lParam, 4711);
    EXPECT_FALSE(PeekMessageA(&msg, owner.get(), kCancel, kCancel, PM_REMOVE));

    dialog->OnFileXferFileFinish(4711, 0);
    dialog->OnFileXferBatchFinish(4711, 0);
    EXPECT_FALSE(IsWindowVisible(hwnd));

    // The next batch can be cancelled again.
    dialog->OnFileXferBatchStart(4712, "Receiving files", 1, 0);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, owner.get(), kCancel, kCancel, PM_REMOVE));
    EXPECT_EQ(msg.lParam, 4712);

    delete dialog;
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(QuorGuiFileDialog, SurvivesItsWindowBeingDestroyedFirst) {
    TestWindow owner;
    CQuorDialogEventFile dialog;
    ASSERT_TRUE(dialog.Create(owner.get()));
    DestroyWindow(dialog.GetSafeHwnd());
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    // Events after the window is gone are ignored.
    dialog.OnFileXferBatchStart(1, "t", 1, 1);
    dialog.OnFileXferBatchFinish(1, 1);
}

TEST(QuorGuiTaskDialog, ShowsWhileATaskRunsAndLetsItGoOn) {
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
    EXPECT_EQ(SendDlgItemMessageA(hwnd, 1008, PBM_GETPOS, 0, 0), 100);
    dialog.OnTaskComplete(9, 1);
    EXPECT_FALSE(IsWindowVisible(hwnd));
}

TEST(QuorGuiQuery, ScriptedAnswersFitTheBufferAndUnknownTypesAreNotHandled) {
    ScopedEnv quiet("QUORGUI_NO_WINDOWS", "1");
    char answer[6] = "keep";

    // No person and no script: not handled, the answer is untouched.
    {
        ScopedEnv none("QUORGUI_QUERY_ANSWER", nullptr);
        EXPECT_FALSE(QuorGUIHandleQuery(eQuorQueryYesNo, "Overwrite?", answer, sizeof answer, nullptr));
        EXPECT_STREQ(answer, "keep");
    }

    ScopedEnv script("QUORGUI_QUERY_ANSWER", "new-name.txt");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryText, "Name?", answer, sizeof answer, nullptr));
    EXPECT_STREQ(answer, "new-n");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryInform, "Done.", answer, sizeof answer, nullptr));
    EXPECT_STREQ(answer, "");
    EXPECT_TRUE(QuorGUIHandleQuery(eQuorQueryOkCancel, "Go?", nullptr, 0, nullptr));

    EXPECT_FALSE(QuorGUIHandleQuery(static_cast<_EQuorQueryType>(42), "?", answer, sizeof answer, nullptr));
    EXPECT_FALSE(QuorGUIHandleQuery(eQuorQueryText, "?", nullptr, 8, nullptr));
}

// A session that only answers GetLastErrorInfo through automation, as the real one does.
class ErrorSession : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count == 1 && lstrcmpW(names[0], L"GetLastErrorInfo") == 0) {
            ids[0] = 8;
            return S_OK;
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (id != 8 || params->cArgs != 2 || V_VT(&params->rgvarg[1]) != (VT_BSTR | VT_BYREF) ||
            V_VT(&params->rgvarg[0]) != (VT_I4 | VT_BYREF))
            return DISP_E_BADPARAMCOUNT;
        *V_BSTRREF(&params->rgvarg[1]) = SysAllocString(L"Disk full");
        *V_I4REF(&params->rgvarg[0]) = 33;
        return S_OK;
    }
};

// Reads every text of the first message box that opens on this thread and presses its button.
std::string g_boxText;

BOOL CALLBACK CollectBoxText(HWND child, LPARAM) {
    g_boxText += Caption(child) + "\n";
    return TRUE;
}

void CALLBACK ReadAndCloseBox(HWND, UINT, UINT_PTR timer, DWORD) {
    for (HWND hwnd : VisibleThreadWindows()) {
        char cls[32] = "";
        GetClassNameA(hwnd, cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") != 0)
            continue;
        g_boxText = Caption(hwnd) + "\n";
        EnumChildWindows(hwnd, CollectBoxText, 0);
        KillTimer(nullptr, timer);
        PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        return;
    }
}

TEST(QuorGuiStandardError, ShowsTheSessionsTextWithTheReportedCode) {
    ScopedEnv windows("QUORGUI_NO_WINDOWS", nullptr);
    ErrorSession session;

    g_boxText.clear();
    SetTimer(nullptr, 0, 50, ReadAndCloseBox);
    QuorShowStandardError(&session, nullptr, 45);
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
