// Every immediate request of the session component against a device folder, through Execute and Submit,
// with the answers read by the record layout and the failures by their codes.
#include "SessionTestSupport.h"

using namespace sessiontest;

using SessionRequest = SessionFixture;

TEST_F(SessionRequest, ListingHasOneRecordPerChild) {
    MakeDirs(device / "CF0\\data");
    MakeDirs(device / "SYS");
    WriteFileText(device / "readme.txt", std::string(1234, 'r'));
    WriteFileText(device / "empty.bin", "");
    const std::string longName(255, 'L');
    WriteFileText(device / longName, "x");
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1) << client.ErrorText();

    // Never "." or ".."; sizes and times as on disk are compared with the folder in the end-to-end test.
    ASSERT_EQ(client.Exec(kListDir, {"\\"}), 1) << client.ErrorText();
    EXPECT_EQ(Names(client.out), "CF0/ empty.bin " + longName + " readme.txt SYS/ ");
    // The drive root in any case, with or without the final backslash.
    for (const char* path : {"\\cf0", "\\CF0\\"}) {
        ASSERT_EQ(client.Exec(kListDir, {path}), 1) << path << ": " << client.ErrorText();
        EXPECT_EQ(Names(client.out), "data/ ");
    }
    ASSERT_EQ(client.Exec(kListDir, {"\\cf0\\data\\"}), 1);
    EXPECT_EQ(client.out.Count(), 0u);

    EXPECT_EQ(client.Refused(kListDir, {"\\nothing\\"}), 13);
    EXPECT_NE(client.ErrorText().find("\\nothing\\"), std::string::npos);
    EXPECT_EQ(client.out.Count(), 0u) << "a failed request leaves an empty answer";
}

TEST_F(SessionRequest, DirectoriesAreMadeInTheCurrentOneAndDeletedWholeButNeverRootsOrDrives) {
    MakeDirs(device / "USER");
    WriteFileText(device / "USER\\taken.txt", "t");
    MakeDirs(device / "cf0\\logs\\old\\older");
    MakeDirs(device / "keep\\inner");
    WriteFileText(device / "cf0\\logs\\a.log", "a");
    WriteFileText(device / "cf0\\logs\\old\\older\\b.log", "b");
    WriteFileText(device / "cf0\\logs\\old\\locked.log", "c");
    SetFileAttributesA((device / "cf0\\logs\\old\\locked.log").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileText(device / "file.txt", "f");
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1);

    // Without a change of directory the root is current.
    ASSERT_EQ(client.Exec(kMakeDir, {"Top"}), 1) << client.ErrorText();
    EXPECT_TRUE(DirExists(device / "Top"));
    ASSERT_EQ(client.Exec(kChangeDir, {"\\USER\\"}), 1);
    ASSERT_EQ(client.Exec(kMakeDir, {"New Folder"}), 1) << client.ErrorText();
    const auto made = Snapshot(device.Path());
    EXPECT_EQ(client.Refused(kMakeDir, {"New Folder"}), 14);
    EXPECT_NE(client.ErrorText().find("New Folder"), std::string::npos);
    EXPECT_EQ(client.Refused(kMakeDir, {"TAKEN.TXT"}), 14) << "a file of that name, in another case";
    EXPECT_EQ(Snapshot(device.Path()), made) << "a refused directory left something";
    // A failed change keeps the current directory.
    EXPECT_EQ(client.Refused(kChangeDir, {"\\nowhere"}), 13);
    ASSERT_EQ(client.Exec(kMakeDir, {"Second"}), 1);
    EXPECT_TRUE(DirExists(device / "USER\\Second"));

    ASSERT_EQ(client.Exec(kDeleteFile, {"\\file.txt"}), 1) << client.ErrorText();
    EXPECT_FALSE(FileExists(device / "file.txt"));
    EXPECT_EQ(client.Refused(kDeleteFile, {"\\file.txt"}), 13);
    EXPECT_EQ(client.Exec(kDeleteFile, {"\\keep"}), 0) << "a directory is not deleted as a file";

    // Contents go only when the request says so; never the root or a drive.
    const auto deleteDir = [&](const char* path, bool contents) {
        CParamBlock in;
        Texts(in, {path});
        in.At(1).SetBool(contents);
        return client.Execute(kDeleteDir, in) == 1 ? 0 : client.ErrorCode();
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
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1);
    Pump(10000, [&] { return !client.sink.events.empty(); });
    client.sink.events.clear();
    // As the control does after a successful check: three requests at once, no waiting between them.
    const long codes[] = {kConnectCheck, kFirmwareSpecs, kProgramSpec, kDisplayListSpec};
    // Pointer-sized user data: above 32 bits where pointers are.
    const LONG_PTR base = sizeof(LONG_PTR) > 4 ? static_cast<LONG_PTR>(0x123456789A0ll) : 0x1230;
    CParamBlock empty;
    long ids[4] = {};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(client.Submit(codes[i], empty, ids[i], base + i), 1);
        EXPECT_GT(ids[i], 0);
        EXPECT_TRUE(i == 0 || ids[i] != ids[i - 1]);
    }
    EXPECT_TRUE(client.sink.events.empty()) << "completed inside Submit";
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
        EXPECT_EQ(client.Submit(kProbe, empty, id, 2), 1);
        inside = false;
    };
    client.sink.events.clear();
    long id = 0;
    ASSERT_EQ(client.Submit(kProbe, empty, id, 1), 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(2).size() == 2; }));
    EXPECT_FALSE(inside);
    EXPECT_EQ(client.sink.Of(2)[1].args[4].number, 2);
}

TEST_F(SessionRequest, UnknownCodesMisusedCallsAndMalformedBlocksAreRefusedAtOnceAndNothingIsMade) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path()), 1);
    CParamBlock in;
    long id = -1;
    EXPECT_EQ(client.Submit(0x9999, in, id), 0);
    EXPECT_EQ(client.ErrorCode(), 10);
    EXPECT_EQ(id, 0);
    // Transfers and tasks report progress, so they are only submitted.
    EXPECT_EQ(client.Refused(kSend, {"C:\\x.txt", "\\"}), 11);
    LONG result = -1;
    EXPECT_EQ(client->CancelRequest(987654, 2, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.ErrorCode(), 22);
    EXPECT_EQ(client.ReleaseDevice(), 0);
    EXPECT_EQ(client.ErrorCode(), 21);
    EXPECT_EQ(client->Execute(kProbe, nullptr, nullptr, 0, 0, nullptr), E_POINTER);
    // A NUL inside a text, and an array that is not of bytes at all.
    const std::vector<std::vector<uint8_t>> blocks = {
        {3, 0, 0, 0, 5, 0, 0, 0, 'a', 0, '.', '.', 0, 0xFF, 0, 0, 0}, {}};
    for (const auto& bytes : blocks) {
        SAFEARRAY* input = bytes.empty() ? SafeArrayCreateVector(VT_I4, 0, 4)
                                         : SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* data = nullptr;
        SafeArrayAccessData(input, &data);
        std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(data));
        SafeArrayUnaccessData(input);
        SAFEARRAY* output = nullptr;
        EXPECT_EQ(client->Execute(kMakeDir, &input, &output, 1000, 0, &result), S_OK);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(client.ErrorCode(), 11);
        SafeArrayDestroy(input);
        SafeArrayDestroy(output);
    }
    // An element more or less than the request takes: a typed operation given a destination, a directory
    // delete without its flag.
    Texts(in, {"C:\\a.fwx", "\\"});
    EXPECT_EQ(client.Submit(0x5404, in, id), 0);
    EXPECT_EQ(client.ErrorCode(), 11);
    EXPECT_EQ(client.Refused(kDeleteDir, {"\\cf0"}), 11);
    EXPECT_TRUE(Snapshot(device.Path()).empty());
    Pump(30);
    EXPECT_TRUE(client.sink.Of(2).empty()) << "a refused request must not complete later";
}

TEST_F(SessionRequest, LatencyIsHonouredAndAShorterWaitTimesOut) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(device.Path() + ";latency=300"), 1);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(client.Refused(kProbe, {}, 100), 31);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 90u);
    EXPECT_LT(took, 280u) << "waited for the device beyond the wait";

    start = GetTickCount64();
    EXPECT_EQ(client.Exec(kProbe, {}, 1000), 1);
    EXPECT_GE(GetTickCount64() - start, 280u);

    // Submitted: the answer comes after the latency, the call returns at once.
    CParamBlock empty;
    long id = 0;
    start = GetTickCount64();
    ASSERT_EQ(client.Submit(kProbe, empty, id, 5), 1);
    EXPECT_LT(GetTickCount64() - start, 100u);
    ASSERT_TRUE(Pump(10000, [&] { return !client.Completions(5).empty(); }));
    EXPECT_GE(client.Completions(5)[0].tick - start, 280u);
}

// The injected faults: a failing connection check, and a request code that fails after its successes.
// (A passed check is what the end-to-end connect sequence waits for.)
TEST_F(SessionRequest, InjectedFaultsFailOnlyTheirRequestsAndOnlyAfterTheirSuccesses) {
    MakeDirs(device / "d");
    CSessionClient client, checkFails;
    ASSERT_EQ(checkFails.Connect(device.Path() + ";checkfail"), 1);
    const Event done = checkFails.Run(kConnectCheck, {});
    EXPECT_EQ(done.args[2].number, VARIANT_FALSE);
    EXPECT_EQ(done.Long(0), 5);
    long code = 0;
    EXPECT_NE(checkFails.ErrorText(&code).find("check"), std::string::npos);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(checkFails.Exec(kProbe, {}), 1) << "only the check fails";

    ASSERT_EQ(client.Connect(device.Path() + ";fail=0x1009@2;fail=0x1002"), 1);
    EXPECT_EQ(client.Exec(kListDir, {"\\"}), 1);
    EXPECT_EQ(client.Exec(kListDir, {"\\d"}), 1);
    EXPECT_EQ(client.Refused(kListDir, {"\\"}), 30);
    EXPECT_NE(client.ErrorText().find("0x1009"), std::string::npos);
    EXPECT_EQ(client.Refused(kListDir, {"\\"}), 30) << "it goes on failing";
    EXPECT_EQ(client.Run(kProbe, {}).Long(0), 30) << "submitted too";
    EXPECT_EQ(client.Exec(kChangeDir, {"\\d"}), 1) << "other requests are not affected";
    // A new connection starts counting again.
    ASSERT_EQ(client.Connect(device.Path() + ";fail=0x1009@1"), 1);
    EXPECT_EQ(client.Exec(kListDir, {"\\"}), 1);
    EXPECT_EQ(client.Exec(kListDir, {"\\"}), 0);
}
