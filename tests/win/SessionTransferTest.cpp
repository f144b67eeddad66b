// Transfers and tasks of the session component: their events in order, progress, overwrite questions,
// cancel, a lost connection, throttling, and files compared byte for byte.
#include "SessionTestSupport.h"

using namespace sessiontest;

namespace {

constexpr DISPID kComplete = 2, kStatus = 5, kTaskStart = 10, kTaskProgress = 11, kTaskComplete = 12,
                 kBatchStart = 20, kFileStart = 21, kFileProgress = 22, kFileFinish = 23, kBatchFinish = 24,
                 kHostQuery = 40;

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
    // A failed completion with its code, also given as the last error.
    static void ExpectFailed(CSessionClient& client, const Event& done, long code) {
        EXPECT_EQ(done.Long(0), code);
        EXPECT_EQ(done.args[2].number, VARIANT_FALSE);
        long last = 0;
        EXPECT_FALSE(client.ErrorText(&last).empty());
        EXPECT_EQ(last, code);
    }
};

} // namespace

TEST_F(SessionTransfer, UploadReportsBatchFileProgressAndCompletionInOrder) {
    const uint64_t size = 300 * 1024 + 17;
    WritePatternFile(local / "data.bin", size, 7);
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1);
    long id = 0;
    const Event done =
        client.Run(kSend, {local / "data.bin", "\\USER\\new\\"}, &id); // a missing directory is made
    EXPECT_EQ(done.Long(0), 0) << client.ErrorText();
    EXPECT_EQ(HashFile(device / "USER\\new\\data.bin"), HashFile(local / "data.bin"));
    ExpectNoPartialFiles(device.Path());
    ASSERT_EQ(client.Exec(kListDir, {"\\"}), 1);
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
    MakeDirs(device / "cf0\\data");
    WriteFileText(device / "cf0\\data\\trend.csv", "1;2;3\r\n4;5;6\r\n");
    WriteFileText(local / "trend.csv", "old and longer content that must go");
    WriteFileText(device / "prog.txt", "device copy");
    WriteFileText(local / "prog.txt", "new copy");
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1);
    client.sink.queryAnswer = "yes";
    EXPECT_EQ(client.Run(kReceive, {"\\cf0\\data\\trend.csv", local.Path() + "\\"}).Long(0), 0)
        << client.ErrorText();
    ASSERT_EQ(client.sink.Of(kHostQuery).size(), 1u);
    EXPECT_NE(client.sink.Of(kHostQuery)[0].Text(2).find(local / "trend.csv"), std::string::npos);
    EXPECT_EQ(ReadFileText(local / "trend.csv"), "1;2;3\r\n4;5;6\r\n");
    ExpectNoPartialFiles(local.Path());
    const Event file = client.sink.Of(kFileStart).at(0);
    EXPECT_EQ(file.Text(1), "\\cf0\\data\\trend.csv");
    EXPECT_EQ(file.Text(2), local / "trend.csv");
    EXPECT_EQ(file.Long(4), 0) << "not an upload";

    // Up: a "Yes" the host did not handle does not count; a skip is what the user asked for, so the file
    // and the request succeed.
    client.sink.events.clear();
    client.sink.queryResult = 1;
    EXPECT_EQ(client.Run(kSend, {local / "prog.txt", "\\"}).args[2].number, VARIANT_TRUE);
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
        ExpectFailed(client, client.Run(kReceive, r.args), r.code);
        EXPECT_EQ(client.sink.events.size(), 1u) << "transfer events for a refused request";
    }
}

// A cancelled download, through the control, leaves nothing in the end-to-end transfer test.
TEST_F(SessionTransfer, CancelStopsARunningTransferQuicklyAndLeavesNoFile) {
    WritePatternFile(local / "big.bin", 4 << 20, 3);
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path() + ";throttle=1048576"), 1); // 4 s at full length
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
    const Event done = client.Run(kSend, {local / "big.bin", "\\"}, &id);
    ASSERT_NE(cancelledAt, 0u);
    EXPECT_LE(done.tick - cancelledAt, 100u) << "the transfer went on after the cancel";
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
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path() + ";throttle=2097152"), 1);
    CParamBlock first, second;
    Texts(first, {local / "a.bin", "\\one"});
    Texts(second, {local / "a.bin", "\\two"});
    long running = 0, waiting = 0;
    ASSERT_EQ(client.Submit(kSend, first, running, 1), 1);
    ASSERT_EQ(client.Submit(kSend, second, waiting, 2), 1);
    LONG result = 0;
    Pump(10000, [&] { return !client.sink.Of(kFileProgress).empty(); });
    EXPECT_EQ(client->CancelRequest(running, 1, &result), S_OK);
    EXPECT_EQ(result, 0) << "mode 1 leaves a running request alone";
    EXPECT_EQ(client.ErrorCode(), 22);
    EXPECT_EQ(client->CancelRequest(waiting, 1, &result), S_OK);
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(kComplete).size() == 2; }));
    EXPECT_EQ(client.Completions(1)[0].Long(0), 0);
    EXPECT_EQ(client.Completions(2)[0].Long(0), 33);
    EXPECT_TRUE(FileExists(device / "one\\a.bin"));
    EXPECT_FALSE(DirExists(device / "two"));
    // Completions keep the order of submission.
    EXPECT_EQ(client.sink.Of(kComplete)[0].args[4].number, 1);
}

TEST_F(SessionTransfer, ALostConnectionEndsTheTransferAndTheSession) {
    WritePatternFile(local / "drop.bin", 1 << 20, 9);
    CSessionClient client, other;
    ASSERT_EQ(client.Connect(device.Path() + ";drop=0x1800@65536"), 1);
    ASSERT_EQ(other.Connect(device.Path()), 1);
    ASSERT_EQ(client.Reserve(1000), 1);
    Pump(10000, [&] { return !client.sink.Of(kStatus).empty(); });
    client.sink.events.clear();

    CParamBlock in, queued;
    Texts(in, {local / "drop.bin", "\\"});
    long id = 0, behind = 0;
    ASSERT_EQ(client.Submit(kSend, in, id, 1), 1);
    ASSERT_EQ(client.Submit(kProbe, queued, behind, 2), 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(kComplete).size() == 2; }));
    std::vector<DISPID> seq;
    for (const Event& e : client.sink.events)
        seq.push_back(e.id);
    // ... progress up to the drop, then the file and batch fail, the status drops, the request completes.
    ASSERT_GE(seq.size(), 6u);
    EXPECT_EQ(std::vector<DISPID>(seq.end() - 5, seq.end()),
              (std::vector<DISPID>{kFileFinish, kBatchFinish, kStatus, kComplete, kComplete}));
    EXPECT_EQ(client.sink.Of(kStatus)[0].Long(0), 0);
    EXPECT_EQ(client.Completions(1)[0].Long(0), 45);
    EXPECT_EQ(client.Completions(2)[0].Long(0), 45) << "a request behind the drop fails the same way";
    EXPECT_LE(client.sink.Of(kFileProgress).back().Long(3), 65536);
    EXPECT_FALSE(FileExists(device / "drop.bin"));
    ExpectNoPartialFiles(device.Path());

    // The session is disconnected, and its reservation went with the connection.
    EXPECT_EQ(client.Refused(kProbe, {}), 1);
    EXPECT_EQ(other.Reserve(0), 1);
}

TEST_F(SessionTransfer, ThrottledTransfersTakeTheirTimeAndStillReportEvery100Ms) {
    WritePatternFile(local / "slow.bin", 400000, 2);
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path() + ";throttle=500000"), 1);
    const ULONGLONG start = GetTickCount64();
    const Event done = client.Run(kSend, {local / "slow.bin", "\\"});
    EXPECT_EQ(done.Long(0), 0);
    EXPECT_GE(done.tick - start, 700u);
    ULONGLONG previous = start;
    for (const Event& p : client.sink.Of(kFileProgress)) {
        EXPECT_LE(p.tick - previous, 150u) << "progress gap";
        previous = p.tick;
    }
}

// Where each kind is installed is checked end to end (TransferTest); here the task's own events.
TEST_F(SessionTransfer, TasksReportTheirEventsRefuseTheWrongKindAndStopWhenTheHostAsks) {
    WritePatternFile(local / "ctrl_5_0.fwb", 200000, 11);
    WriteFileText(local / "line2.prgx", "program");
    WriteFileText(local / "notes.txt", "text");
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1);
    long id = 0;
    EXPECT_EQ(client.Run(kUpdateFirmware, {local / "ctrl_5_0.fwb"}, &id).Long(0), 0) << client.ErrorText();
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
    EXPECT_EQ(client.Run(kUpdateFirmware, {local / "notes.txt"}).Long(0), 18);
    EXPECT_NE(client.ErrorText().find("*.fwx"), std::string::npos);
    EXPECT_EQ(client.sink.events.size(), 1u);

    // The host can stop a task from its start or its progress events; nothing is installed then.
    for (int stopAt : {kTaskStart, kTaskProgress}) {
        SCOPED_TRACE(stopAt);
        client.sink.events.clear();
        client.sink.taskStartResult = stopAt == kTaskStart;
        client.sink.taskProgressResult = stopAt == kTaskProgress;
        EXPECT_EQ(client.Run(kLoadProgram, {local / "line2.prgx"}).Long(0), 33);
        EXPECT_EQ(client.sink.Of(kTaskComplete).at(0).Long(1), 0);
        EXPECT_FALSE(FileExists(device / "USER\\PROGRAMS\\line2.prgx"));
        EXPECT_TRUE(stopAt != kTaskStart || client.sink.Of(kTaskProgress).empty())
            << "went on after the start";
    }
}
