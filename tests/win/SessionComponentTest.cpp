// QuorSession.dll driven through COM as a client drives it: connection texts, requests with their answers
// and failure codes, what keeps the device to itself, transfers and tasks with their events, blocks' arrays.
#include "SessionTestSupport.h"

#include "framework/ComPtr.h"
#include "session/DemoTree.h"

#include <olectl.h>

#include <algorithm>
#include <cstring>
#include <thread>

using namespace sessiontest;

using SessionConnect = SessionFixture;
using SessionRequest = SessionFixture;
using SessionSafety = SessionFixture;

// A failed completion with its code, also given as the last error.
static void ExpectFailed(CSessionClient& client, const Event& done, long code) {
    EXPECT_EQ(done.Long(0), code);
    EXPECT_EQ(done.args[2].number, VARIANT_FALSE);
    long last = 0;
    EXPECT_FALSE(client.ErrorText(&last).empty());
    EXPECT_EQ(last, code);
}

// Its event descriptions are read by the control's sink and its last error by the standard error display in
// the end-to-end tests; the enumerator of its one connection point is the control's.
TEST_F(SessionConnect, NamesItsEventsAsItsSourceAndOffersOnlyThem) {
    CComPtr<IProvideClassInfo2> info;
    ASSERT_EQ(CoCreateInstance(CLSID_QuorSession, nullptr, CLSCTX_INPROC_SERVER, IID_IProvideClassInfo2,
                               reinterpret_cast<void**>(&info)),
              S_OK);
    GUID source = GUID_NULL;
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(IsEqualGUID(source, DIID__IQuorSessionEvents));
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(info.QueryInterface(IID_IConnectionPointContainer, container), S_OK);
    CComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(container->FindConnectionPoint(DIID__IQuorSessionEvents, &point), S_OK);
}

// Refused texts report no status; an accepted one reports it after the call, and 0 after Disconnect.
TEST_F(SessionConnect, BadTextsAreRefusedWithAReasonAndAConnectionReportsItsStatusAfterTheCall) {
    const std::string d = device.Path();
    const struct {
        std::string text;
        long code;
    } cases[] = {{"", 2}, {d + ";latency=abc", 2}, {"folder=" + d + "\\missing", 3}, {d + ";refuse", 4}};
    CSessionClient client;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(client.Connect(c.text), 0);
        long code = 0;
        const std::string text = client.ErrorText(&code);
        EXPECT_EQ(code, c.code) << text;
        EXPECT_GT(text.size(), 10u);
        EXPECT_TRUE(c.code != 3 || text.find("missing") != std::string::npos) << "the folder is not named";
    }
    Pump(50);
    EXPECT_TRUE(client.sink.events.empty()) << "a refused connection reported a status";

    ASSERT_EQ(client.Connect("folder=\"" + d + "\""), 1) << client.ErrorText();
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(5).size() == 1; }));
    const Event status = client.sink.Of(5)[0];
    ASSERT_EQ(status.args.size(), 1u);
    EXPECT_EQ(status.args[0].type, VT_I2);
    EXPECT_EQ(status.Long(0), 1);
    EXPECT_EQ(client.Disconnect(), 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(5).size() == 2; }));
    EXPECT_EQ(client.sink.Of(5)[1].Long(0), 0);
    for (const Event& e : client.sink.events)
        EXPECT_FALSE(e.duringCall);
    // Disconnected, the device is out of reach with a clear reason.
    EXPECT_EQ(client.Refused(REQ_LIST_DIR, {"\\"}), 1);
    EXPECT_NE(client.ErrorText().find("not connected"), std::string::npos);
    EXPECT_EQ(client.Connect(d + "\\;latency=0x10;throttle=1000000;program=*.abc"), 1) << client.ErrorText();
}

TEST_F(SessionConnect, DemoDeviceIsSeededOnceInTheUsersFolder) {
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("LOCALAPPDATA", saved, MAX_PATH);
    SetEnvironmentVariableA("LOCALAPPDATA", local.Path().c_str());
    {
        CSessionClient client("demo");
        const std::string root = local / "Dorvex\\DemoDevice";
        // On disk exactly as planned (the plan itself is checked with the portable code).
        std::vector<std::string> planned;
        for (const DemoItem& item : DemoDeviceItems())
            planned.push_back("\\" + item.path + (item.directory ? "\\" : " " + std::to_string(item.size)));
        std::sort(planned.begin(), planned.end());
        EXPECT_EQ(Snapshot(root), planned);
        ASSERT_EQ(client.Exec(REQ_LIST_DIR, {"\\"}), 1) << client.ErrorText();
        EXPECT_EQ(Names(client.out), "cf0/ nvram/ SYS/ USER/ ");

        // A device the user changed stays changed: it is seeded only when it does not exist.
        WriteFileText(root + "\\USER\\mine.txt", "kept");
        EXPECT_EQ(client.Disconnect(), 1);
        EXPECT_EQ(client.Connect("DEMO"), 1);
        EXPECT_EQ(ReadFileText(root + "\\USER\\mine.txt"), "kept");
    }
    SetEnvironmentVariableA("LOCALAPPDATA", saved[0] ? saved : nullptr);
}

TEST_F(SessionRequest, ListingHasOneRecordPerChild) {
    MakeDirs(device / "CF0\\data");
    MakeDirs(device / "SYS");
    WriteFileText(device / "readme.txt", std::string(1234, 'r'));
    WriteFileText(device / "empty.bin", "");
    const std::string longName(255, 'L');
    WriteFileText(device / longName, "x");
    CSessionClient client(device.Path());

    // Never "." or ".."; sizes and times as on disk are compared with the folder in the end-to-end test.
    ASSERT_EQ(client.Exec(REQ_LIST_DIR, {"\\"}), 1) << client.ErrorText();
    EXPECT_EQ(Names(client.out), "CF0/ empty.bin " + longName + " readme.txt SYS/ ");
    // The drive root in any case, with or without the final backslash.
    for (const char* path : {"\\cf0", "\\CF0\\"}) {
        ASSERT_EQ(client.Exec(REQ_LIST_DIR, {path}), 1) << path << ": " << client.ErrorText();
        EXPECT_EQ(Names(client.out), "data/ ");
    }
    ASSERT_EQ(client.Exec(REQ_LIST_DIR, {"\\cf0\\data\\"}), 1);
    EXPECT_EQ(client.out.Count(), 0u);

    EXPECT_EQ(client.Refused(REQ_LIST_DIR, {"\\nothing\\"}), 13);
    EXPECT_NE(client.ErrorText().find("\\nothing\\"), std::string::npos);
    EXPECT_EQ(client.out.Count(), 0u) << "a failed request leaves an empty answer";
}

TEST_F(SessionRequest, DirectoriesAreMadeInTheCurrentOneAndDeletedWholeButNeverRootsOrDrives) {
    WriteFileText(device / "USER\\taken.txt", "t");
    MakeDirs(device / "keep\\inner");
    WriteFileText(device / "cf0\\logs\\a.log", "a");
    WriteFileText(device / "cf0\\logs\\old\\older\\b.log", "b");
    WriteFileText(device / "cf0\\logs\\old\\locked.log", "c");
    SetFileAttributesA((device / "cf0\\logs\\old\\locked.log").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileText(device / "file.txt", "f");
    CSessionClient client(device.Path());

    // Without a change of directory the root is current.
    ASSERT_EQ(client.Exec(REQ_MAKE_DIR, {"Top"}), 1) << client.ErrorText();
    EXPECT_TRUE(DirExists(device / "Top"));
    ASSERT_EQ(client.Exec(REQ_CHANGE_DIR, {"\\USER\\"}), 1);
    ASSERT_EQ(client.Exec(REQ_MAKE_DIR, {"New Folder"}), 1) << client.ErrorText();
    const auto made = Snapshot(device.Path());
    EXPECT_EQ(client.Refused(REQ_MAKE_DIR, {"New Folder"}), 14);
    EXPECT_NE(client.ErrorText().find("New Folder"), std::string::npos);
    EXPECT_EQ(client.Refused(REQ_MAKE_DIR, {"TAKEN.TXT"}), 14) << "a file of that name, in another case";
    EXPECT_EQ(Snapshot(device.Path()), made) << "a refused directory left something";
    // A failed change keeps the current directory.
    EXPECT_EQ(client.Refused(REQ_CHANGE_DIR, {"\\nowhere"}), 13);
    ASSERT_EQ(client.Exec(REQ_MAKE_DIR, {"Second"}), 1);
    EXPECT_TRUE(DirExists(device / "USER\\Second"));

    ASSERT_EQ(client.Exec(REQ_DELETE_FILE, {"\\file.txt"}), 1) << client.ErrorText();
    EXPECT_FALSE(FileExists(device / "file.txt"));
    EXPECT_EQ(client.Refused(REQ_DELETE_FILE, {"\\file.txt"}), 13);
    EXPECT_EQ(client.Exec(REQ_DELETE_FILE, {"\\keep"}), 0) << "a directory is not deleted as a file";

    // Contents go only when the request says so; never the root or a drive.
    const auto deleteDir = [&](const char* path, bool contents) {
        CParamBlock in;
        Texts(in, {path});
        in.At(1).SetBool(contents);
        return client.Execute(REQ_DELETE_DIR, in) == 1 ? 0 : client.ErrorCode();
    };
    EXPECT_EQ(deleteDir("\\keep", false), 16);
    EXPECT_TRUE(DirExists(device / "keep\\inner"));
    ASSERT_EQ(deleteDir("\\cf0\\logs\\", true), 0) << client.ErrorText();
    EXPECT_FALSE(DirExists(device / "cf0\\logs"));
    for (const char* path : {"\\", "\\CF0\\"})
        EXPECT_EQ(deleteDir(path, true), 12) << path;
    EXPECT_TRUE(DirExists(device / "cf0"));
    EXPECT_TRUE(DirExists(device / "keep\\inner"));
}

TEST_F(SessionRequest, SubmittedRequestsCompleteLaterInOrderWithTheirUserData) {
    CSessionClient client(device.Path());
    Pump(10000, [&] { return !client.sink.events.empty(); });
    client.sink.events.clear();
    // As the control does after a successful check: three requests at once, no waiting between them.
    const long codes[] = {REQ_CONNECT_CHECK, REQ_FIRMWARE_SPECS, REQ_PROGRAM_SPEC, REQ_DISPLAY_LIST_SPEC};
    // Pointer-sized user data: above 32 bits where pointers are.
    const LONG_PTR base = sizeof(LONG_PTR) > 4 ? static_cast<LONG_PTR>(0x123456789A0ll) : 0x1230;
    CParamBlock empty;
    long ids[4] = {};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(client.Submit(codes[i], empty, ids[i], base + i), 1);
        EXPECT_GT(ids[i], 0);
        EXPECT_TRUE(i == 0 || ids[i] != ids[i - 1]);
    }
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(2).size() == 4; }));
    const auto done = client.sink.Of(2);
    const std::vector<VARTYPE> types = {VT_I4, VT_I4, VT_BOOL, VT_ARRAY | VT_UI1 | VT_BYREF,
                                        sizeof(LONG_PTR) > 4 ? VT_I8 : VT_I4};
    for (size_t a = 0; a < types.size(); ++a)
        EXPECT_EQ(done[0].args.at(a).type, types[a]) << "argument " << a;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(done[i].Long(1), codes[i]) << "out of order";
        EXPECT_EQ(done[i].args[4].number, base + i);
        EXPECT_FALSE(done[i].duringCall);
    }

    // A request submitted from inside a completion event completes after that event has returned.
    bool inside = false;
    client.sink.onEvent = [&](const Event& e) {
        if (e.id != 2 || e.args[4].number != 1)
            return;
        long id = 0;
        inside = true;
        EXPECT_EQ(client.Submit(REQ_FS_PROBE, empty, id, 2), 1);
        inside = false;
    };
    client.sink.events.clear();
    long id = 0;
    ASSERT_EQ(client.Submit(REQ_FS_PROBE, empty, id, 1), 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(2).size() == 2; }));
    EXPECT_FALSE(inside);
    EXPECT_EQ(client.sink.Of(2)[1].args[4].number, 2);
}

TEST_F(SessionRequest, UnknownCodesMisusedCallsAndMalformedBlocksAreRefusedAtOnceAndNothingIsMade) {
    CSessionClient client(device.Path());
    CParamBlock in;
    long id = -1;
    EXPECT_EQ(client.Submit(0x9999, in, id), 0);
    EXPECT_EQ(client.ErrorCode(), 10);
    EXPECT_EQ(id, 0);
    // Transfers and tasks report progress, so they are only submitted.
    EXPECT_EQ(client.Refused(REQ_SEND_FILE, {"C:\\x.txt", "\\"}), 11);
    LONG result = -1;
    EXPECT_EQ(client->CancelRequest(987654, 2, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.ErrorCode(), 22);
    // An element more or less than the request takes: a typed operation given a destination, a directory
    // delete without its flag.
    Texts(in, {"C:\\a.fwx", "\\"});
    EXPECT_EQ(client.Submit(REQ_UPDATE_FIRMWARE, in, id), 0);
    EXPECT_EQ(client.ErrorCode(), 11);
    EXPECT_EQ(client.Refused(REQ_DELETE_DIR, {"\\cf0"}), 11);
    EXPECT_TRUE(Snapshot(device.Path()).empty());
    Pump(30);
    EXPECT_TRUE(client.sink.Of(2).empty()) << "a refused request must not complete later";
}

TEST_F(SessionRequest, LatencyIsHonouredAndAShorterWaitTimesOut) {
    CSessionClient client(device.Path() + ";latency=300");
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(client.Refused(REQ_FS_PROBE, {}, 100), 31);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 90u);
    EXPECT_LT(took, 280u) << "waited for the device beyond the wait";

    start = GetTickCount64();
    EXPECT_EQ(client.Exec(REQ_FS_PROBE, {}, 1000), 1);
    EXPECT_GE(GetTickCount64() - start, 280u);

    // Submitted: the answer comes after the latency, the call returns at once.
    CParamBlock empty;
    long id = 0;
    start = GetTickCount64();
    ASSERT_EQ(client.Submit(REQ_FS_PROBE, empty, id, 5), 1);
    EXPECT_LT(GetTickCount64() - start, 100u);
    ASSERT_TRUE(Pump(10000, [&] { return !client.Completions(5).empty(); }));
    EXPECT_GE(client.Completions(5)[0].tick - start, 280u);
}

TEST_F(SessionSafety, HostilePathsAndNamesAreRefusedAndNothingOutsideChanges) {
    // <sandbox>\device is the device; everything else in the sandbox must stay as it is.
    const std::string sandbox = local.Path(), device = local / "device", outside = local / "outside";
    MakeDirs(local / "device2");
    WriteFileText(device + "\\SYS\\file.txt", "inside");
    WriteFileText(outside + "\\victim.txt", "outside");
    WriteFileText(local / "upload.txt", "payload");
    const auto before = Snapshot(sandbox);

    CSessionClient client(device);
    // Remote paths pass one check whose rules the portable code tests one by one; here a way out, the staging
    // directory and a NUL the block reader refuses, each by every request that takes a remote path.
    const std::string paths[] = {"\\SYS\\..\\..\\outside\\victim.txt", "\\~dvxstage\\x",
                                 std::string("\\SYS\\file.txt\0\\..\\..\\outside", 29)};
    CParamBlock in;
    LONG_PTR user = 0x5000;
    for (const std::string& path : paths) {
        // Every request that takes a remote path, with this path in the remote place.
        for (const long code : {REQ_LIST_DIR, REQ_DELETE_FILE, REQ_DELETE_DIR, REQ_CHANGE_DIR, REQ_SEND_FILE,
                                REQ_RECEIVE_FILE}) {
            SCOPED_TRACE(std::to_string(code) + " " + path.c_str());
            if (code == REQ_SEND_FILE)
                Texts(in, {local / "upload.txt", path});
            else if (code == REQ_RECEIVE_FILE)
                Texts(in, {path, outside});
            else
                Texts(in, {path});
            if (code == REQ_DELETE_DIR)
                in.At(1).SetBool(true);
            if (code == REQ_SEND_FILE || code == REQ_RECEIVE_FILE) {
                // A malformed block is refused by Submit itself; anything accepted must fail on completion.
                long id = 0;
                if (client.Submit(code, in, id, user) == 1) {
                    ASSERT_TRUE(Pump(10000, [&] { return !client.Completions(user).empty(); }));
                    EXPECT_EQ(client.Completions(user)[0].args[2].number, VARIANT_FALSE);
                }
            } else {
                EXPECT_EQ(client.Execute(code, in), 0);
            }
            long error = -1;
            const std::string text = client.ErrorText(&error);
            // Refused as a path (12), or as malformed input (11: the embedded NUL); never a success.
            EXPECT_TRUE(error == 12 || error == 11) << error << " " << text;
            EXPECT_GT(text.size(), 10u);
            ++user;
        }
    }
    // Names typed for a new directory; the device's own staging directory cannot be made at the root.
    ASSERT_EQ(client.Exec(REQ_CHANGE_DIR, {"\\"}), 1);
    EXPECT_EQ(client.Refused(REQ_MAKE_DIR, {"~DVXSTAGE"}), 12);
    ASSERT_EQ(client.Exec(REQ_CHANGE_DIR, {"\\SYS\\"}), 1);
    for (const char* name : {"..\\..\\outside\\x", "C:\\x", "x:stream", "aux.txt"})
        EXPECT_EQ(client.Refused(REQ_MAKE_DIR, {name}), 12) << name;
    // A name the device takes is still fine, and lands inside.
    EXPECT_EQ(client.Exec(REQ_MAKE_DIR, {"fine name"}), 1) << client.ErrorText();
    EXPECT_TRUE(DirExists(device + "\\SYS\\fine name"));
    RemoveDirectoryA((device + "\\SYS\\fine name").c_str());

    EXPECT_EQ(Snapshot(sandbox), before) << "something changed";
    EXPECT_EQ(ReadFileText(outside + "\\victim.txt"), "outside");
}

TEST_F(SessionSafety, OneSessionAtATimeHoldsADevice) {
    WriteFileText(device / "a.txt", "a");
    // The same folder under another spelling is the same device.
    std::string other = device.Path() + "\\";
    CharUpperBuffA(other.data(), static_cast<DWORD>(other.size()));
    CSessionClient first(device.Path()), second(other), third(local.Path());

    EXPECT_EQ(first.Reserve(1000), 1);
    EXPECT_EQ(first.Reserve(1000), 1) << "holding it already counts";
    // The holder is on this very thread and cannot let go while we wait: refused at once.
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(second.Reserve(1000), 0);
    EXPECT_LT(GetTickCount64() - start, 500u);
    long code = 0;
    EXPECT_NE(second.ErrorText(&code).find("reserved"), std::string::npos);
    EXPECT_EQ(code, 20);
    EXPECT_EQ(third.Reserve(0), 1) << "another device is free";

    // While reserved, the other session may look but not change.
    EXPECT_EQ(second.Exec(REQ_LIST_DIR, {"\\"}), 1);
    EXPECT_EQ(second.Refused(REQ_DELETE_FILE, {"\\a.txt"}), 20);
    EXPECT_TRUE(FileExists(device / "a.txt"));
    EXPECT_EQ(first.Exec(REQ_DELETE_FILE, {"\\a.txt"}), 1) << "the holder may";

    EXPECT_EQ(second.ReleaseDevice(), 0) << "only the holder releases";
    EXPECT_EQ(first.ReleaseDevice(), 1);
    EXPECT_EQ(second.Reserve(0), 1);

    // A session on another thread waits for the holder to let go.
    std::thread waiter([&] {
        CoInitialize(nullptr);
        {
            CSessionClient fourth(device.Path());
            const ULONGLONG begin = GetTickCount64();
            EXPECT_EQ(fourth.Reserve(5000), 1);
            EXPECT_GE(GetTickCount64() - begin, 150u);
            fourth.ReleaseDevice();
        }
        CoUninitialize();
    });
    Sleep(300);
    second.ReleaseDevice();
    waiter.join();

    // Disconnecting, or going away, ends a reservation.
    ASSERT_EQ(first.Reserve(0), 1);
    EXPECT_EQ(first.Disconnect(), 1);
    EXPECT_EQ(second.Reserve(0), 1);
    {
        CSessionClient gone(local.Path());
        third.ReleaseDevice();
        ASSERT_EQ(gone.Reserve(0), 1);
    }
    EXPECT_EQ(third.Reserve(0), 1);
}

TEST_F(SessionSafety, ASessionReleasedWhileItsTransferRunsStopsCleanly) {
    WritePatternFile(local / "f.bin", 2 << 20, 8);
    {
        CSessionClient client(device.Path() + ";throttle=1000000");
        CParamBlock in;
        Texts(in, {local / "f.bin", "\\"});
        long id = 0;
        ASSERT_EQ(client.Submit(REQ_SEND_FILE, in, id), 1);
        Pump(10000, [&] { return !client.sink.Of(22).empty(); });
    } // the client releases the session mid-transfer
    Pump(100);
    EXPECT_TRUE(Snapshot(device.Path()).size() <= 1u) << "only the empty staging directory may remain";
    EXPECT_FALSE(FileExists(device / "f.bin"));
}

constexpr DISPID kComplete = 2, kTaskStart = 10, kTaskProgress = 11, kTaskComplete = 12, kBatchStart = 20,
                 kFileStart = 21, kFileProgress = 22, kFileFinish = 23, kBatchFinish = 24, kHostQuery = 40;

class SessionTransfer : public SessionFixture {
protected:
    // The events of one request, by its batch or task number, followed by its completion.
    static std::vector<DISPID> Sequence(const CEventSink& sink, long id) {
        std::vector<DISPID> out;
        for (const Event& e : sink.events)
            if ((e.id >= 10 && e.id <= 24 && !e.args.empty() && e.Long(0) == id) || e.id == kComplete ||
                e.id == kHostQuery)
                out.push_back(e.id);
        return out;
    }
    // No temporary file is left behind, neither in place nor in the device's (empty) staging directory.
    static void ExpectNoPartialFiles(const std::string& dir) {
        for (const std::string& entry : Snapshot(dir))
            EXPECT_TRUE(entry == "\\~dvxstage\\" || entry.find("~dvx") == std::string::npos) << entry;
    }
};

TEST_F(SessionTransfer, UploadReportsBatchFileProgressAndCompletionInOrder) {
    const uint64_t size = 300 * 1024 + 17;
    WritePatternFile(local / "data.bin", size, 7);
    CSessionClient client(device.Path());
    long id = 0;
    const Event done =
        client.Run(REQ_SEND_FILE, {local / "data.bin", "\\USER\\new\\"}, &id); // a missing directory is made
    EXPECT_EQ(done.Long(0), 0) << client.ErrorText();
    ExpectNoPartialFiles(device.Path());
    ASSERT_EQ(client.Exec(REQ_LIST_DIR, {"\\"}), 1);
    EXPECT_EQ(Names(client.out), "USER/ ") << "the device's staging directory is never listed";

    // Batch start, file start, progress only, file finish, batch finish, completion.
    std::vector<DISPID> expected(Sequence(client.sink, id).size(), kFileProgress);
    ASSERT_GE(expected.size(), 6u);
    expected[0] = kBatchStart;
    expected[1] = kFileStart;
    expected.end()[-3] = kFileFinish;
    expected.end()[-2] = kBatchFinish;
    expected.back() = kComplete;
    EXPECT_EQ(Sequence(client.sink, id), expected);

    EXPECT_EQ(client.sink.Of(kBatchStart)[0].Long(3), 301); // KiB, rounded up
    const Event file = client.sink.Of(kFileStart)[0];
    ASSERT_EQ(file.args.size(), 7u);
    EXPECT_EQ(file.Text(2), "\\USER\\new\\data.bin");
    EXPECT_EQ(file.args[4].type, VT_UI1);
    EXPECT_EQ(file.Long(4), 1);
    // Progress from the first 64 KiB on, rising to the whole size, never more than 1 MiB apart.
    long last = 0;
    const auto progress = client.sink.Of(kFileProgress);
    EXPECT_LE(progress.at(0).Long(3), 65536);
    for (const Event& p : progress) {
        EXPECT_EQ(p.Long(0), id);
        EXPECT_EQ(p.Long(4), static_cast<long>(size));
        EXPECT_GT(p.Long(3), last);
        EXPECT_LE(p.Long(3) - last, 1 << 20);
        last = p.Long(3);
    }
    EXPECT_EQ(last, static_cast<long>(size));
    EXPECT_EQ(client.sink.Of(kFileFinish)[0].Long(1), 1);
    EXPECT_EQ(client.sink.Of(kBatchFinish)[0].Long(1), 1);
    for (const Event& e : client.sink.events)
        EXPECT_FALSE(e.duringCall);
}

// Overwrites are asked on both sides; that a handled "No" keeps and "Yes" replaces, both ways, is
// TransferEndToEnd's.
TEST_F(SessionTransfer, OverwritesAreAskedNamingTheFileAndOnlyAHandledYesReplacesIt) {
    WriteFileText(device / "cf0\\data\\trend.csv", "1;2;3\r\n4;5;6\r\n");
    WriteFileText(local / "trend.csv", "old and longer content that must go");
    WriteFileText(device / "prog.txt", "device copy");
    WriteFileText(local / "prog.txt", "new copy");
    CSessionClient client(device.Path());
    client.sink.queryAnswer = "yes";
    EXPECT_EQ(client.Run(REQ_RECEIVE_FILE, {"\\cf0\\data\\trend.csv", local.Path() + "\\"}).Long(0), 0)
        << client.ErrorText();
    ASSERT_EQ(client.sink.Of(kHostQuery).size(), 1u);
    EXPECT_NE(client.sink.Of(kHostQuery)[0].Text(2).find(local / "trend.csv"), std::string::npos);
    const Event file = client.sink.Of(kFileStart).at(0);
    EXPECT_EQ(file.Text(1), "\\cf0\\data\\trend.csv");
    EXPECT_EQ(file.Text(2), local / "trend.csv");
    EXPECT_EQ(file.Long(4), 0) << "not an upload";

    // Up: a "Yes" the host did not handle does not count; a skip is what the user asked for, so the file
    // and the request succeed.
    client.sink.events.clear();
    client.sink.queryResult = 1;
    EXPECT_EQ(client.Run(REQ_SEND_FILE, {local / "prog.txt", "\\"}).args[2].number, VARIANT_TRUE);
    EXPECT_EQ(ReadFileText(device / "prog.txt"), "device copy");
    ASSERT_EQ(client.sink.Of(kHostQuery).size(), 1u);
    const Event query = client.sink.Of(kHostQuery)[0];
    ASSERT_EQ(query.args.size(), 5u);
    EXPECT_EQ(query.Long(1), 1); // yes/no
    EXPECT_NE(query.Text(2).find("\\prog.txt"), std::string::npos) << query.Text(2);
    EXPECT_EQ(query.args[3].type, VT_BSTR | VT_BYREF);
    EXPECT_EQ(client.sink.Of(kFileFinish).back().Long(1), 0);
    ExpectNoPartialFiles(device.Path());

    // Refused before anything starts: only the completion, with the reason.
    const struct {
        std::vector<std::string> args;
        long code;
    } refusals[] = {
        {{"\\cf0\\data\\missing.csv", local.Path()}, 13},
        {{"\\cf0\\data\\trend.csv", local / "nowhere"}, 17},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.args[0] + " " + std::to_string(r.code));
        client.sink.events.clear();
        ExpectFailed(client, client.Run(REQ_RECEIVE_FILE, r.args), r.code);
        EXPECT_EQ(client.sink.events.size(), 1u) << "transfer events for a refused request";
    }
}

// Throttled, a transfer takes its time and still reports every 100 ms. A cancelled download, through the
// control, leaves nothing in the end-to-end transfer test.
TEST_F(SessionTransfer, ThrottledTransfersReportEvery100MsAndCancelStopsThemQuicklyLeavingNoFile) {
    WritePatternFile(local / "big.bin", 4 << 20, 3);
    CSessionClient client(device.Path() + ";throttle=1048576"); // 4 s at full length
    long id = 0;
    ULONGLONG cancelledAt = 0;
    client.sink.onEvent = [&](const Event& e) {
        if (e.id == kFileProgress && e.Long(3) >= 200000 && !cancelledAt) {
            LONG result = 0;
            cancelledAt = GetTickCount64();
            client->CancelRequest(id, 2, &result); // as the progress dialog's Cancel leads to
            EXPECT_EQ(result, 1);
        }
    };
    const ULONGLONG start = GetTickCount64();
    const Event done = client.Run(REQ_SEND_FILE, {local / "big.bin", "\\"}, &id);
    ASSERT_NE(cancelledAt, 0u);
    EXPECT_GE(cancelledAt - start, 150u) << "200 KB at 1 MB/s came too soon";
    EXPECT_LE(done.tick - cancelledAt, 100u) << "the transfer went on after the cancel";
    ULONGLONG previous = start;
    for (const Event& p : client.sink.Of(kFileProgress)) {
        EXPECT_LE(p.tick - previous, 150u) << "progress gap";
        previous = p.tick;
    }
    ExpectFailed(client, done, 33);
    EXPECT_FALSE(FileExists(device / "big.bin"));
    ExpectNoPartialFiles(device.Path());
    const std::vector<DISPID> seq = Sequence(client.sink, id);
    ASSERT_GE(seq.size(), 3u);
    EXPECT_EQ(seq[seq.size() - 3], kFileFinish);
    EXPECT_EQ(client.sink.Of(kFileFinish).back().Long(1), 0);
    EXPECT_EQ(client.sink.Of(kBatchFinish).back().Long(1), 0);
}

TEST_F(SessionTransfer, WaitingRequestsCanBeCancelledBeforeTheyStart) {
    WritePatternFile(local / "a.bin", 512 * 1024, 5);
    CSessionClient client(device.Path() + ";throttle=2097152");
    CParamBlock first, second;
    Texts(first, {local / "a.bin", "\\one"});
    Texts(second, {local / "a.bin", "\\two"});
    long running = 0, waiting = 0;
    ASSERT_EQ(client.Submit(REQ_SEND_FILE, first, running, 1), 1);
    ASSERT_EQ(client.Submit(REQ_SEND_FILE, second, waiting, 2), 1);
    LONG result = 0;
    Pump(10000, [&] { return !client.sink.Of(kFileProgress).empty(); });
    EXPECT_EQ(client->CancelRequest(waiting, 2, &result), S_OK); // the control's only mode
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(kComplete).size() == 2; }));
    EXPECT_EQ(client.Completions(1)[0].Long(0), 0);
    EXPECT_EQ(client.Completions(2)[0].Long(0), 33);
    EXPECT_TRUE(FileExists(device / "one\\a.bin"));
    EXPECT_FALSE(DirExists(device / "two"));
    // Completions keep the order of submission.
    EXPECT_EQ(client.sink.Of(kComplete)[0].args[4].number, 1);
}

// Where each kind is installed is checked end to end (TransferEndToEnd); here the task's own events.
TEST_F(SessionTransfer, TasksReportTheirEventsRefuseTheWrongKindAndStopWhenTheHostAsks) {
    WritePatternFile(local / "ctrl_5_0.fwb", 200000, 11);
    WriteFileText(local / "line2.prgx", "program");
    WriteFileText(local / "notes.txt", "text");
    CSessionClient client(device.Path());
    long id = 0;
    EXPECT_EQ(client.Run(REQ_UPDATE_FIRMWARE, {local / "ctrl_5_0.fwb"}, &id).Long(0), 0)
        << client.ErrorText();
    const std::vector<DISPID> seq = Sequence(client.sink, id);
    ASSERT_GE(seq.size(), 4u);
    EXPECT_EQ(seq.front(), kTaskStart);
    EXPECT_EQ(seq[seq.size() - 2], kTaskComplete);
    EXPECT_EQ(client.sink.Of(kTaskStart)[0].Text(1), "Update Firmware");
    EXPECT_EQ(client.sink.Of(kTaskStart)[0].Text(2), "ctrl_5_0.fwb");
    long percent = -1;
    for (const Event& p : client.sink.Of(kTaskProgress)) {
        EXPECT_GE(p.Long(1), percent);
        percent = p.Long(1);
        EXPECT_FALSE(p.Text(2).empty());
    }
    EXPECT_EQ(percent, 100);
    EXPECT_EQ(client.sink.Of(kTaskComplete)[0].Long(1), 1);
    EXPECT_TRUE(client.sink.Of(kBatchStart).empty()) << "tasks are not file transfers";

    // A file of the wrong kind is refused before the task starts.
    client.sink.events.clear();
    EXPECT_EQ(client.Run(REQ_UPDATE_FIRMWARE, {local / "notes.txt"}).Long(0), 18);
    EXPECT_NE(client.ErrorText().find("*.fwx"), std::string::npos);
    EXPECT_EQ(client.sink.events.size(), 1u);

    // The host can stop a task from its start or its progress events; nothing is installed then.
    for (int stopAt : {kTaskStart, kTaskProgress}) {
        SCOPED_TRACE(stopAt);
        client.sink.events.clear();
        client.sink.taskStartResult = stopAt == kTaskStart;
        client.sink.taskProgressResult = stopAt == kTaskProgress;
        EXPECT_EQ(client.Run(REQ_LOAD_PROGRAM, {local / "line2.prgx"}).Long(0), 33);
        EXPECT_EQ(client.sink.Of(kTaskComplete).at(0).Long(1), 0);
        EXPECT_FALSE(FileExists(device / "USER\\PROGRAMS\\line2.prgx"));
        EXPECT_TRUE(stopAt != kTaskStart || client.sink.Of(kTaskProgress).empty())
            << "went on after the start";
    }
}

// The blocks' arrays with the real SAFEARRAY functions (the block's own handling is checked natively).
// [integer 77, text "ok"], as a session component makes an answer: SafeArrayCreate with a lower bound.
static SAFEARRAY* MakeAnswer(LONG lowerBound) {
    const unsigned char bytes[] = {2, 0, 0, 0, 8, 0, 0, 0, 77,  0,   0, 0,    0, 0, 0, 0,
                                   3, 0, 0, 0, 3, 0, 0, 0, 'o', 'k', 0, 0xFF, 0, 0, 0};
    SAFEARRAYBOUND bound{sizeof bytes, lowerBound};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes, sizeof bytes);
        SafeArrayUnaccessData(array);
    }
    return array;
}

TEST(ParamBlockArrayTest, ExportGivesTheCalleeAOneDimensionalByteArrayAndReadsWhatItLeft) {
    CParamBlock block;
    block.At(0).SetInt(5);
    block.At(1).SetText("abc");
    SAFEARRAY** field = block.ExportArray();
    ASSERT_NE(*field, nullptr);
    VARTYPE type = VT_EMPTY;
    EXPECT_TRUE(SUCCEEDED(SafeArrayGetVartype(*field, &type)));
    EXPECT_EQ(type, VT_UI1);
    EXPECT_EQ(SafeArrayGetDim(*field), 1u);
    EXPECT_EQ((*field)->rgsabound[0].lLbound, 0);
    std::vector<uint8_t> expected;
    block.Encode(expected);
    ASSERT_EQ((*field)->rgsabound[0].cElements, expected.size());
    EXPECT_EQ(std::memcmp((*field)->pvData, expected.data(), expected.size()), 0);

    // The callee replaces the request with its answer, the way a [in, out] SAFEARRAY* parameter works;
    // a lower bound other than 0 changes nothing.
    ASSERT_TRUE(SUCCEEDED(SafeArrayDestroy(*field)));
    *field = MakeAnswer(3);
    ASSERT_EQ(block.Count(), 2u);
    EXPECT_EQ(block.At(0).GetInt(), 77);
    EXPECT_EQ(block.At(1).GetText(), "ok");
}

// An imported array staying its owner's is the block's logic, checked natively; here the real functions
// refuse arrays not of single bytes, and a locked array, so the callee gets no array.
TEST(ParamBlockArrayTest, ArraysNotOfBytesAreNotReadAndALockedArrayIsNotHandedOutAgain) {
    CParamBlock block;
    SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 8);
    block.ImportArray(longs);
    EXPECT_EQ(block.Count(), 0u);
    EXPECT_TRUE(SUCCEEDED(SafeArrayDestroy(longs)));

    block.At(0).SetBool(true);
    SAFEARRAY* held = *block.ExportArray();
    ASSERT_TRUE(SUCCEEDED(SafeArrayLock(held)));
    EXPECT_EQ(*block.ExportArray(), nullptr);
    EXPECT_EQ(block.Count(), 1u);
    SafeArrayUnlock(held);
    EXPECT_TRUE(SUCCEEDED(SafeArrayDestroy(held)));
}
