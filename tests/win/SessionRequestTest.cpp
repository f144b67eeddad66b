// Every immediate request of the session component against a device folder, through Execute and Submit,
// with the answers read by the record layout and the failures by their codes.
#include "SessionTestSupport.h"

using namespace sessiontest;

namespace {

class SessionRequest : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        device_ = std::make_unique<CTempFolder>("requests");
    }
    void TearDown() override {
        device_.reset();
        SessionFixture::TearDown();
    }
    std::string Device(const std::string& name = "") const {
        return name.empty() ? device_->Path() : *device_ / name;
    }

    // Executes a request with text arguments; the answer stays in out_.
    long Exec(CSessionClient& client, long request, const std::vector<std::string>& texts, long wait = 5000) {
        CParamBlock in;
        Texts(in, texts);
        return client.Execute(request, in, out_, wait);
    }

    std::unique_ptr<CTempFolder> device_;
    CParamBlock out_;
};

} // namespace

TEST_F(SessionRequest, ListingHasOneRecordPerChild) {
    MakeDirs(Device("CF0\\data"));
    MakeDirs(Device("SYS"));
    WriteFileText(Device("readme.txt"), std::string(1234, 'r'));
    WriteFileText(Device("empty.bin"), "");
    const std::string longName(255, 'L');
    WriteFileText(Device(longName), "x");
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device()), 1) << client.ErrorText();

    ASSERT_EQ(Exec(client, kListDir, {"\\"}), 1) << client.ErrorText();
    const auto entries = Entries(out_);
    ASSERT_EQ(entries.size(), 5u); // never "." or ".."
    // Sizes and times as on disk are compared with the folder in the end-to-end browser test.
    std::string seen;
    for (const Entry& e : entries)
        seen += e.name + (e.directory ? "/" : "") + " ";
    EXPECT_EQ(seen, "CF0/ empty.bin " + longName + " readme.txt SYS/ ");

    // The drive root in any case, with or without the final backslash.
    for (const char* path : {"\\cf0", "\\cf0\\", "\\CF0\\"}) {
        ASSERT_EQ(Exec(client, kListDir, {path}), 1) << path << ": " << client.ErrorText();
        ASSERT_EQ(Entries(out_).size(), 1u);
        EXPECT_EQ(Entries(out_)[0].name, "data");
    }
    ASSERT_EQ(Exec(client, kListDir, {"\\cf0\\data\\"}), 1);
    EXPECT_EQ(out_.Count(), 0u);

    long code = 0;
    EXPECT_EQ(Exec(client, kListDir, {"\\nothing\\"}), 0);
    EXPECT_NE(client.ErrorText(&code).find("\\nothing\\"), std::string::npos);
    EXPECT_EQ(code, 13);
    EXPECT_EQ(out_.Count(), 0u) << "a failed request leaves an empty answer";
    EXPECT_EQ(Exec(client, kListDir, {"\\readme.txt"}), 0);
    EXPECT_EQ(client.ErrorCode(), 13);
    EXPECT_EQ(Exec(client, kListDir, {}), 0);
    EXPECT_EQ(client.ErrorCode(), 11);
}

TEST_F(SessionRequest, ProbeAndConnectionCheck) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device()), 1);
    EXPECT_EQ(Exec(client, kProbe, {}), 1);
    CParamBlock empty;
    Event done = client.Run(kConnectCheck, empty);
    EXPECT_EQ(done.Long(0), 0);
    EXPECT_EQ(done.Long(1), kConnectCheck);
    EXPECT_EQ(done.args[2].number, VARIANT_TRUE);

    CSessionClient failing;
    ASSERT_EQ(failing.Connect(Device() + ";checkfail"), 1);
    done = failing.Run(kConnectCheck, empty);
    EXPECT_EQ(done.args[2].number, VARIANT_FALSE);
    EXPECT_EQ(done.Long(0), 5);
    long code = 0;
    EXPECT_NE(failing.ErrorText(&code).find("check"), std::string::npos);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(Exec(failing, kProbe, {}), 1) << "only the check fails";
}

TEST_F(SessionRequest, NewDirectoryIsMadeInTheCurrentDirectoryAndRefusedWhenItCannotBe) {
    MakeDirs(Device("USER"));
    WriteFileText(Device("USER\\taken.txt"), "t");
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device()), 1);

    // Without a change of directory the root is current.
    ASSERT_EQ(Exec(client, kMakeDir, {"Top"}), 1) << client.ErrorText();
    EXPECT_TRUE(DirExists(Device("Top")));
    ASSERT_EQ(Exec(client, kChangeDir, {"\\USER\\"}), 1);
    ASSERT_EQ(Exec(client, kMakeDir, {"New Folder"}), 1) << client.ErrorText();
    EXPECT_TRUE(DirExists(Device("USER\\New Folder")));

    long code = 0;
    EXPECT_EQ(Exec(client, kMakeDir, {"New Folder"}), 0);
    EXPECT_NE(client.ErrorText(&code).find("New Folder"), std::string::npos);
    EXPECT_EQ(code, 14);
    EXPECT_EQ(Exec(client, kMakeDir, {"TAKEN.TXT"}), 0);
    EXPECT_EQ(client.ErrorCode(), 14);
    for (const char* bad : {"", "a\\b", "..", "x:y", "CON", "dot.", "what?"}) {
        EXPECT_EQ(Exec(client, kMakeDir, {bad}), 0) << bad;
        EXPECT_EQ(client.ErrorCode(), 12) << bad;
    }
    EXPECT_EQ(Snapshot(Device()).size(), 4u) << "USER, Top, New Folder, taken.txt and nothing else";

    // A failed change keeps the current directory.
    EXPECT_EQ(Exec(client, kChangeDir, {"\\nowhere"}), 0);
    EXPECT_EQ(client.ErrorCode(), 13);
    ASSERT_EQ(Exec(client, kMakeDir, {"Second"}), 1);
    EXPECT_TRUE(DirExists(Device("USER\\Second")));
}

TEST_F(SessionRequest, DeleteRemovesFilesAndWholeTreesButNeverRootsOrDrives) {
    MakeDirs(Device("cf0\\logs\\old\\older"));
    MakeDirs(Device("keep\\inner"));
    WriteFileText(Device("cf0\\logs\\a.log"), "a");
    WriteFileText(Device("cf0\\logs\\old\\older\\b.log"), "b");
    WriteFileText(Device("cf0\\logs\\old\\locked.log"), "c");
    SetFileAttributesA(Device("cf0\\logs\\old\\locked.log").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileText(Device("file.txt"), "f");
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device()), 1);

    ASSERT_EQ(Exec(client, kDeleteFile, {"\\file.txt"}), 1) << client.ErrorText();
    EXPECT_FALSE(FileExists(Device("file.txt")));
    EXPECT_EQ(Exec(client, kDeleteFile, {"\\file.txt"}), 0);
    EXPECT_EQ(client.ErrorCode(), 13);
    EXPECT_EQ(Exec(client, kDeleteFile, {"\\keep"}), 0) << "a directory is not deleted as a file";
    EXPECT_TRUE(DirExists(Device("keep")));

    // Contents go only when the request says so.
    CParamBlock in;
    Texts(in, {"\\keep"});
    in.At(1).SetBool(false);
    EXPECT_EQ(client.Execute(kDeleteDir, in, out_), 0);
    EXPECT_EQ(client.ErrorCode(), 16);
    EXPECT_TRUE(DirExists(Device("keep\\inner")));

    Texts(in, {"\\cf0\\logs\\"});
    in.At(1).SetBool(true);
    ASSERT_EQ(client.Execute(kDeleteDir, in, out_), 1) << client.ErrorText();
    EXPECT_FALSE(DirExists(Device("cf0\\logs")));
    EXPECT_TRUE(DirExists(Device("cf0")));

    for (const char* path : {"\\", "\\cf0", "\\CF0\\"}) {
        Texts(in, {path});
        in.At(1).SetBool(true);
        EXPECT_EQ(client.Execute(kDeleteDir, in, out_), 0) << path;
        EXPECT_EQ(client.ErrorCode(), 12) << path;
    }
    EXPECT_TRUE(DirExists(Device("cf0")));
    EXPECT_TRUE(DirExists(Device("keep\\inner")));
}

// The answers themselves, default and from the connection text, reach the control in the end-to-end
// test; here only that they are answered synchronously too.
TEST_F(SessionRequest, PatternRequestsAreAlsoAnsweredSynchronously) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device() + ";program=p*.x"), 1);
    CParamBlock empty;
    EXPECT_EQ(client.Execute(kProgramSpec, empty, out_), 1);
    ASSERT_EQ(out_.Count(), 1u);
    EXPECT_EQ(out_.At(0).GetText(), "p*.x");
}

TEST_F(SessionRequest, SubmittedRequestsCompleteLaterInOrderWithTheirUserData) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device()), 1);
    Pump(10000, [&] { return !client.sink.events.empty(); });
    client.sink.events.clear();
    // As the control does after a successful check: three requests at once, no waiting between them.
    const long codes[] = {kConnectCheck, kFirmwareSpecs, kProgramSpec, kDisplayListSpec};
    // Pointer-sized user data: above 32 bits where pointers are.
    const LONG_PTR base = sizeof(LONG_PTR) > 4 ? static_cast<LONG_PTR>(0x123456789A0ll) : 0x1230;
    long ids[4] = {};
    for (int i = 0; i < 4; ++i) {
        CParamBlock empty;
        ASSERT_EQ(client.Submit(codes[i], empty, ids[i], base + i), 1);
        EXPECT_GT(ids[i], 0);
        if (i) {
            EXPECT_NE(ids[i], ids[i - 1]);
        }
    }
    EXPECT_TRUE(client.sink.events.empty()) << "completed inside Submit";
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(2).size() == 4; }));
    const auto done = client.sink.Of(2);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(done[i].args.size(), 5u);
        EXPECT_EQ(done[i].Long(1), codes[i]) << "out of order";
        EXPECT_EQ(done[i].args[0].type, VT_I4);
        EXPECT_EQ(done[i].args[2].type, VT_BOOL);
        EXPECT_EQ(done[i].args[3].type, VT_ARRAY | VT_UI1 | VT_BYREF);
        EXPECT_EQ(done[i].args[4].type, sizeof(LONG_PTR) > 4 ? VT_I8 : VT_I4);
        EXPECT_EQ(done[i].args[4].number, base + i);
        EXPECT_FALSE(done[i].duringCall);
    }

    // A request submitted from inside a completion event completes after that event has returned.
    bool inside = false;
    client.sink.onEvent = [&](const Event& e) {
        if (e.id != 2 || e.args[4].number != 1)
            return;
        CParamBlock empty;
        long id = 0;
        inside = true;
        EXPECT_EQ(client.Submit(kProbe, empty, id, 2), 1);
        inside = false;
    };
    client.sink.events.clear();
    CParamBlock empty;
    long id = 0;
    ASSERT_EQ(client.Submit(kProbe, empty, id, 1), 1);
    ASSERT_TRUE(Pump(10000, [&] { return client.sink.Of(2).size() == 2; }));
    EXPECT_FALSE(inside);
    EXPECT_EQ(client.sink.Of(2)[1].args[4].number, 2);
}

TEST_F(SessionRequest, UnknownCodesAndMisusedCallsAreRefusedAtOnce) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device()), 1);
    CParamBlock in;
    long id = -1;
    EXPECT_EQ(client.Execute(0x9999, in, out_), 0);
    EXPECT_EQ(client.ErrorCode(), 10);
    EXPECT_EQ(client.Submit(0x9999, in, id), 0);
    EXPECT_EQ(client.ErrorCode(), 10);
    EXPECT_EQ(id, 0);
    // Transfers and tasks report progress, so they are only submitted.
    Texts(in, {"C:\\x.txt", "\\"});
    EXPECT_EQ(client.Execute(kSend, in, out_), 0);
    EXPECT_EQ(client.ErrorCode(), 11);
    LONG result = -1;
    EXPECT_EQ(client->Submit(kProbe, in.ExportArray(), -1, nullptr, 0, 0, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client->CancelRequest(1, 7, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.ErrorCode(), 11);
    EXPECT_EQ(client->CancelRequest(987654, 2, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.ErrorCode(), 22);
    EXPECT_EQ(client->ReleaseDevice(&result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.ErrorCode(), 21);
    EXPECT_EQ(client->Execute(kProbe, nullptr, nullptr, 0, 0, nullptr), E_POINTER);
    Pump(30);
    EXPECT_TRUE(client.sink.Of(2).empty()) << "a refused request must not complete later";
}

TEST_F(SessionRequest, MalformedBlocksAreRefusedAndNothingIsMade) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device()), 1);
    ASSERT_EQ(Exec(client, kChangeDir, {"\\"}), 1);
    const auto raw = [](std::vector<uint8_t> bytes) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* data = nullptr;
        SafeArrayAccessData(array, &data);
        std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(data));
        SafeArrayUnaccessData(array);
        return array;
    };
    const std::vector<std::vector<uint8_t>> blocks = {
        {3, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0xFF, 0, 0, 0},       // text without its NUL
        {3, 0, 0, 0, 5, 0, 0, 0, 'a', 0, '.', '.', 0, 0xFF, 0, 0, 0}, // a NUL inside the text
        {3, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 0xFF, 0, 0, 0, 7},           // bytes after the end
        {2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0, 0, 0},          // a short integer
    };
    for (const auto& bytes : blocks) {
        SAFEARRAY* input = raw(bytes);
        SAFEARRAY* output = nullptr;
        LONG result = -1;
        EXPECT_EQ(client->Execute(kMakeDir, &input, &output, 1000, 0, &result), S_OK);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(client.ErrorCode(), 11);
        SafeArrayDestroy(input);
        SafeArrayDestroy(output);
    }
    // Not a byte array at all.
    SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, 0, 4);
    SAFEARRAY* output = nullptr;
    LONG result = -1;
    EXPECT_EQ(client->Execute(kMakeDir, &numbers, &output, 1000, 0, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.ErrorCode(), 11);
    SafeArrayDestroy(numbers);
    SafeArrayDestroy(output);
    EXPECT_TRUE(Snapshot(Device()).empty());
}

TEST_F(SessionRequest, LatencyIsHonouredAndAShorterWaitTimesOut) {
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device() + ";latency=300"), 1);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Exec(client, kProbe, {}, 100), 0);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(client.ErrorCode(), 31);
    EXPECT_GE(took, 90u);
    EXPECT_LT(took, 280u) << "waited for the device beyond the wait";

    start = GetTickCount64();
    EXPECT_EQ(Exec(client, kProbe, {}, 1000), 1);
    took = GetTickCount64() - start;
    EXPECT_GE(took, 280u);

    // Submitted: the answer comes after the latency, the call returns at once.
    CParamBlock empty;
    long id = 0;
    start = GetTickCount64();
    ASSERT_EQ(client.Submit(kProbe, empty, id, 5), 1);
    EXPECT_LT(GetTickCount64() - start, 100u);
    ASSERT_TRUE(Pump(10000, [&] { return !client.Completions(5).empty(); }));
    EXPECT_GE(client.Completions(5)[0].tick - start, 280u);
    EXPECT_EQ(client.Run(kProbe, empty).args[2].number, VARIANT_TRUE);
}

TEST_F(SessionRequest, AFailingRequestCodeFailsAfterItsSuccesses) {
    MakeDirs(Device("d"));
    CSessionClient client;
    ASSERT_EQ(client.Connect(Device() + ";fail=0x1009@2;fail=0x1002"), 1);
    EXPECT_EQ(Exec(client, kListDir, {"\\"}), 1);
    EXPECT_EQ(Exec(client, kListDir, {"\\d"}), 1);
    for (int i = 0; i < 2; ++i) {
        long code = 0;
        EXPECT_EQ(Exec(client, kListDir, {"\\"}), 0);
        EXPECT_NE(client.ErrorText(&code).find("0x1009"), std::string::npos);
        EXPECT_EQ(code, 30);
    }
    EXPECT_EQ(Exec(client, kProbe, {}), 0);
    EXPECT_EQ(client.ErrorCode(), 30);
    CParamBlock empty;
    const Event done = client.Run(kProbe, empty);
    EXPECT_EQ(done.Long(0), 30);
    EXPECT_EQ(done.args[2].number, VARIANT_FALSE);
    EXPECT_EQ(Exec(client, kChangeDir, {"\\d"}), 1) << "other requests are not affected";
    // A new connection starts counting again.
    ASSERT_EQ(client.Connect(Device() + ";fail=0x1009@1"), 1);
    EXPECT_EQ(Exec(client, kListDir, {"\\"}), 1);
    EXPECT_EQ(Exec(client, kListDir, {"\\"}), 0);
}

TEST_F(SessionRequest, ADriveRootCanBeTheDevice) {
    // The system drive's root, only looked at: its Windows directory is an entry of the device's root.
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);
    const std::string root = std::string(windows, 3), windowsName = windows + 3;
    CSessionClient client;
    ASSERT_EQ(client.Connect(root), 1) << client.ErrorText();
    EXPECT_EQ(Exec(client, kProbe, {}), 1) << client.ErrorText();
    ASSERT_EQ(Exec(client, kListDir, {"\\"}), 1) << client.ErrorText();
    bool found = false;
    for (const Entry& e : Entries(out_))
        found = found || (e.directory && lstrcmpiA(e.name.c_str(), windowsName.c_str()) == 0);
    EXPECT_TRUE(found) << windowsName << " not listed in " << root;
    ASSERT_EQ(Exec(client, kListDir, {"\\" + windowsName}), 1) << client.ErrorText();
    EXPECT_GT(out_.Count(), 0u);
}
