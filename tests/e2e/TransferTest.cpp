// Transfer lists run by the control's main window against the real session component and GUI library
// over temporary folders: trees and large files both ways byte for byte, the typed operations, cancel,
// the overwrite question, and a long mixed run that must leave nothing behind.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "browser/TransferList.h"
#include "mainwnd/DorvexWnd.h"
#include "mainwnd/Messages.h"
#include "session/QuorGui.h"

#include <iostream>
#include <map>
#include <memory>

using namespace sessiontest;

namespace {

constexpr UINT kErrorBox = MB_OK | MB_ICONEXCLAMATION;

// A list that says when the main window is done with it.
struct CWatchedList : CTransferList {
    explicit CWatchedList(bool& freed) : m_freed(freed) { m_freed = false; }
    ~CWatchedList() override { m_freed = true; }
    bool& m_freed;
};

// Every file below `root` by its path relative to root, with the hash of its bytes.
std::map<std::string, uint64_t> Digest(const std::string& root) {
    std::map<std::string, uint64_t> files;
    for (const std::string& entry : Snapshot(root))
        if (entry.back() != '\\') {
            const std::string relative = entry.substr(0, entry.rfind(' '));
            files[relative] = HashFile(root + relative);
        }
    return files;
}

class TransferEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", nullptr);
        frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 700, 400, nullptr, nullptr,
                                nullptr, nullptr);
        main = std::make_unique<CDorvexWnd>();
        ASSERT_TRUE(main->Create(nullptr, "Dorvex", WS_CHILD, RECT{0, 0, 600, 300}, frame, 1700));
        ASSERT_TRUE(main->HasSession()) << "no session component registered";
        main->PrepareForDisplay();
        Connect(device.Path());
    }
    void TearDown() override {
        main.reset();
        DestroyWindow(frame);
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", nullptr);
        prompts.VerifyDone();
        OleUninitialize();
    }

    // Connected once the device's patterns have arrived.
    void Connect(const std::string& text) {
        main->ConnectToDevice(text.c_str());
        ASSERT_TRUE(Pump(5000, [&] { return !main->DisplayListPatterns().empty(); })) << text;
    }

    std::unique_ptr<CWatchedList> List(uint8_t direction, uint32_t operation = 0) {
        auto list = std::make_unique<CWatchedList>(freed);
        list->direction = direction;
        list->operation = operation;
        return list;
    }
    static void Add(CTransferList& list, const std::string& source, const std::string& destination) {
        list.items.push_back({source, destination});
        ++list.count;
    }
    // Posts the list as the file list does and runs the message loop until the main window has freed it.
    bool Run(std::unique_ptr<CWatchedList> list, DWORD ms = 120000) {
        freed = false;
        if (!PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::move(list)))
            return false;
        return Pump(ms, [&] { return freed; });
    }
    // Whether another session could reserve the device now.
    bool DeviceFree() {
        CSessionClient probe;
        const bool free = probe.Connect(device.Path()) == 1 && probe.Reserve(0) == 1;
        return free && probe.ReleaseDevice() == 1;
    }

    sessiontest::CTempFolder device{"dorvex-xfer-device"};
    sessiontest::CTempFolder local{"dorvex-xfer-local"};
    CScriptedPrompts prompts;
    HWND frame = nullptr;
    std::unique_ptr<CDorvexWnd> main;
    bool freed = false;
};

TEST_F(TransferEndToEnd, AThousandFileTreeAndALargeFileGoDownAndUpByteForByte) {
    // File f of directory d of the tree, below `root` ("" for the device's own paths).
    const auto file = [](const std::string& root, const char* tree, int d, int f) {
        const std::string dir = root + "\\" + tree + "\\d" + std::to_string(d) + "\\";
        return f < 0 ? dir : dir + "f" + std::to_string(f) + ".bin";
    };
    for (int d = 0; d < 10; ++d) {
        MakeDirs(file(device.Path(), "tree", d, -1));
        MakeDirs(file(local.Path(), "tree", d, -1));
        for (int f = 0; f < 100; ++f)
            WritePatternFile(file(device.Path(), "tree", d, f), static_cast<uint64_t>(d * 997 + f * 31),
                             static_cast<uint32_t>(d * 100 + f + 1));
    }
    MakeDirs(device / "cf0");
    WritePatternFile(device / "cf0\\large.bin", 50ull << 20, 99);
    const std::map<std::string, uint64_t> tree = Digest(device / "tree");
    const uint64_t large = HashFile(device / "cf0\\large.bin");

    // Down as the send-to walk lists them, and up again as a drop of the local folder does, to another place.
    auto down = List(0), up = List(1);
    for (int d = 0; d < 10; ++d)
        for (int f = 0; f < 100; ++f) {
            Add(*down, file("", "tree", d, f), file(local.Path(), "tree", d, -1));
            Add(*up, file(local.Path(), "tree", d, f), file("", "back", d, -1));
        }
    Add(*down, "\\cf0\\large.bin", local.Path() + "\\");
    Add(*up, local / "large.bin", "\\back\\");
    ASSERT_TRUE(Run(std::move(down)));
    EXPECT_EQ(Digest(local / "tree"), tree);
    EXPECT_EQ(HashFile(local / "large.bin"), large);
    // A device left reserved would refuse this as busy, and any prompt, unexpected here, fails the script.
    ASSERT_TRUE(Run(std::move(up)));
    std::map<std::string, uint64_t> back = Digest(device / "back");
    EXPECT_EQ(back["\\large.bin"], large);
    back.erase("\\large.bin");
    EXPECT_EQ(back, tree);
}

TEST_F(TransferEndToEnd, TypedOperationsInstallTheFileWhereTheDeviceKeepsItsKind) {
    const struct {
        uint32_t operation;
        const char* file;
        const char* installed;
    } cases[] = {{0x5404, "main.fwx", "SYS\\FIRMWARE\\main.fwx"},
                 {0x7401, "line.prgx", "USER\\PROGRAMS\\line.prgx"},
                 {0x8801, "panel.dlx", "USER\\DISPLAY\\panel.dlx"}};
    for (const auto& c : cases) {
        WritePatternFile(local / c.file, 200000, c.operation);
        auto list = List(1, c.operation);
        Add(*list, local / c.file, "\\");
        ASSERT_TRUE(Run(std::move(list))) << c.file;
        EXPECT_EQ(HashFile(device / c.installed), HashFile(local / c.file)) << c.installed;
    }
}

// A download; a cancelled upload leaves nothing on the device in the session component's test.
TEST_F(TransferEndToEnd, CancelStopsTheRunningFileAtOnceLeavesNothingPartialAndStartsNoOther) {
    Connect(device.Path() + ";throttle=4194304"); // 2 s for the first file
    WritePatternFile(device / "a.bin", 8 << 20, 1);
    WritePatternFile(device / "b.bin", 1 << 20, 2);
    MakeDirs(local / "in");
    auto list = List(0);
    Add(*list, "\\a.bin", local / "in\\");
    Add(*list, "\\b.bin", local / "in\\");
    prompts.ExpectBox("The transfer was cancelled after 0 of 2 files; 2 were left.", "Dorvex",
                      MB_OK | MB_ICONINFORMATION);
    ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::move(list)));
    // Once the first file is on its way: its partial copy is on the receiving side.
    ASSERT_TRUE(Pump(5000, [&] {
        for (const std::string& entry : Snapshot(local.Path()))
            if (entry.find(".part ") != std::string::npos)
                return true;
        return false;
    }));
    // The batch's start, reported before the partial file was made, may have come after the last
    // dispatch: the dialog knows its batch only once that report is in, as it is for a user's click.
    Pump(0);
    // The user's click on the progress dialog's Cancel.
    SendMessageA(main->FileDialog()->GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
    const ULONGLONG clicked = GetTickCount64();
    ULONGLONG released = 0;
    ASSERT_TRUE(Pump(5000, [&] {
        if (!released && main->CurrentRequestId() == 0 && DeviceFree())
            released = GetTickCount64();
        return freed;
    }));
    EXPECT_LT(released - clicked, 1000u) << "the device stayed reserved after the cancel";
    prompts.VerifyDone();
    EXPECT_TRUE(Snapshot(local / "in").empty()) << "a partial or further file was left";
}

// The session asks before it replaces a file on either side; "No" keeps the old one.
TEST_F(TransferEndToEnd, OverwritesAreAskedBothWaysAndNoKeepsTheOldFile) {
    WriteFileText(device / "cfg.ini", "new");
    WriteFileText(local / "cfg.ini", "old");
    for (const char* answer : {"No", "Yes"}) {
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", answer);
        auto list = List(0);
        Add(*list, "\\cfg.ini", local.Path() + "\\");
        ASSERT_TRUE(Run(std::move(list)));
        EXPECT_EQ(ReadFileText(local / "cfg.ini"), answer[0] == 'N' ? "old" : "new");
    }
    EXPECT_EQ(Snapshot(local.Path()).size(), 1u) << "nothing but the file itself";
    WriteFileText(local / "cfg.ini", "newer");
    for (const char* answer : {"No", "Yes"}) {
        SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", answer);
        auto list = List(1);
        Add(*list, local / "cfg.ini", "\\");
        ASSERT_TRUE(Run(std::move(list)));
        EXPECT_EQ(ReadFileText(device / "cfg.ini"), answer[0] == 'N' ? "new" : "newer");
    }
}

TEST_F(TransferEndToEnd, ManyMixedBatchesLeaveHeapWindowsAndHandlesWhereTheyWere) {
    constexpr int kBatches = 100;
    // Every request waits a little, so a cancel right after the submit always finds its file still waiting.
    Connect(device.Path() + ";latency=15");
    SetEnvironmentVariableA("QUORGUI_QUERY_ANSWER", "Yes");
    for (int f = 0; f < 3; ++f) {
        WritePatternFile(local / ("u" + std::to_string(f) + ".bin"), 30000, f + 1);
        WritePatternFile(device / ("d" + std::to_string(f) + ".bin"), 30000, f + 7);
    }
    MakeDirs(local / "in");
    const auto batch = [&](int run) {
        // 0: an upload over the files of the last one; 1: a download; 2: one cancelled while its first file
        // waits; 3: files the device does not have, so the first failure, then the summary.
        const int kind = run % 4;
        auto list = List(kind == 0 ? 1 : 0);
        for (int f = 0; f < 3; ++f) {
            const std::string name = std::to_string(f) + ".bin";
            if (kind == 0)
                Add(*list, local / ("u" + name), "\\up\\");
            else
                Add(*list, (kind == 3 ? "\\missing" : "\\d") + name, local / "in\\");
        }
        if (kind == 2) {
            prompts.ExpectBox("*", "Dorvex", MB_OK | MB_ICONINFORMATION);
            ASSERT_TRUE(PostTransferList(main->m_hWnd, UWM_TRANSFER_START, std::move(list)));
            ASSERT_TRUE(Pump(3000, [&] { return main->CurrentRequestId() != 0; }));
            PostMessageA(main->m_hWnd, UWM_TRANSFER_CANCEL, 0, main->CurrentRequestId());
            ASSERT_TRUE(Pump(5000, [&] { return freed; }));
        } else {
            if (kind == 3) {
                prompts.ExpectBox("*", "Error", kErrorBox);
                prompts.ExpectBox("*", "Dorvex", kErrorBox);
            }
            ASSERT_TRUE(Run(std::move(list), 10000)) << "run " << run;
        }
        prompts.VerifyDone();
        prompts.shown.clear();
        prompts.owners.clear();
    };
    for (int run = 0; run < 8; ++run)
        batch(run);
    Pump(50);
    const int windows = ThreadWindowCount();
    const size_t heap = HeapBytesInUse();
    const DWORD handles = ProcessHandleCount();
    ASSERT_GT(handles, 0u);
    for (int run = 0; run < kBatches && !HasFatalFailure(); ++run)
        batch(run);
    Pump(50);
    const DWORD handlesAfter = ProcessHandleCount();
    std::cout << kBatches << " batches: windows " << windows << " -> " << ThreadWindowCount() << ", heap "
              << heap << " -> " << HeapBytesInUse() << ", handles " << handles << " -> " << handlesAfter
              << std::endl;
    EXPECT_EQ(ThreadWindowCount(), windows);
    EXPECT_LT(HeapBytesInUse(), heap + 4096) << "a leak of 40 bytes or more a batch";
    // One or two may be open a moment in the session's worker; a leak per batch would be dozens.
    EXPECT_LE(handlesAfter, handles + 2);
    EXPECT_EQ(main->RunningLists(), 0u);
    EXPECT_TRUE(DeviceFree()) << "the device stayed reserved after the last batch";
}

} // namespace
