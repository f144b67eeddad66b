// What keeps the device to itself: hostile paths and names refused with a reason and nothing outside the
// device folder touched, and the reservation shared by the sessions of one device.
#include "SessionTestSupport.h"

#include <thread>

using namespace sessiontest;

using SessionSafety = SessionFixture;

TEST_F(SessionSafety, HostilePathsAndNamesAreRefusedAndNothingOutsideChanges) {
    // <sandbox>\device is the device; everything else in the sandbox must stay as it is.
    const std::string sandbox = local.Path(), device = local / "device", outside = local / "outside";
    MakeDirs(device + "\\SYS");
    MakeDirs(outside);
    MakeDirs(local / "device2");
    WriteFileText(device + "\\SYS\\file.txt", "inside");
    WriteFileText(outside + "\\victim.txt", "outside");
    WriteFileText(local / "upload.txt", "payload");
    const auto before = Snapshot(sandbox);

    CSessionClient client;
    ASSERT_EQ(client.Connect(device), 1);
    // Every request takes its remote path through one check whose rules the portable code tests one by
    // one: here a way out through it, the staging directory it leaves to the folder, and a NUL the block
    // reader refuses, each refused by every request that takes a remote path.
    const std::string paths[] = {"\\SYS\\..\\..\\outside\\victim.txt", "\\~dvxstage\\x",
                                 std::string("\\SYS\\file.txt\0\\..\\..\\outside", 29)};
    CParamBlock in;
    LONG_PTR user = 0x5000;
    for (const std::string& path : paths) {
        // Every request that takes a remote path, with this path in the remote place.
        for (const long code : {kListDir, kDeleteFile, kDeleteDir, kChangeDir, kSend, kReceive}) {
            SCOPED_TRACE(std::to_string(code) + " " + path.c_str());
            if (code == kSend)
                Texts(in, {local / "upload.txt", path});
            else if (code == kReceive)
                Texts(in, {path, outside});
            else
                Texts(in, {path});
            if (code == kDeleteDir)
                in.At(1).SetBool(true);
            if (code == kSend || code == kReceive) {
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
    ASSERT_EQ(client.Exec(kChangeDir, {"\\"}), 1);
    EXPECT_EQ(client.Refused(kMakeDir, {"~DVXSTAGE"}), 12);
    ASSERT_EQ(client.Exec(kChangeDir, {"\\SYS\\"}), 1);
    for (const char* name : {"..\\..\\outside\\x", "C:\\x", "x:stream", "aux.txt"})
        EXPECT_EQ(client.Refused(kMakeDir, {name}), 12) << name;
    // A name the device takes is still fine, and lands inside.
    EXPECT_EQ(client.Exec(kMakeDir, {"fine name"}), 1) << client.ErrorText();
    EXPECT_TRUE(DirExists(device + "\\SYS\\fine name"));
    RemoveDirectoryA((device + "\\SYS\\fine name").c_str());

    EXPECT_EQ(Snapshot(sandbox), before) << "something changed";
    EXPECT_EQ(ReadFileText(outside + "\\victim.txt"), "outside");
}

TEST_F(SessionSafety, OneSessionAtATimeHoldsADevice) {
    WriteFileText(device / "a.txt", "a");
    CSessionClient first, second, third;
    ASSERT_EQ(first.Connect(device.Path()), 1);
    // The same folder under another spelling is the same device.
    std::string other = device.Path() + "\\";
    CharUpperBuffA(other.data(), static_cast<DWORD>(other.size()));
    ASSERT_EQ(second.Connect(other), 1);
    ASSERT_EQ(third.Connect(local.Path()), 1);

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
    EXPECT_EQ(second.Exec(kListDir, {"\\"}), 1);
    EXPECT_EQ(second.Refused(kDeleteFile, {"\\a.txt"}), 20);
    EXPECT_TRUE(FileExists(device / "a.txt"));
    EXPECT_EQ(first.Exec(kDeleteFile, {"\\a.txt"}), 1) << "the holder may";

    EXPECT_EQ(second.ReleaseDevice(), 0) << "only the holder releases";
    EXPECT_EQ(first.ReleaseDevice(), 1);
    EXPECT_EQ(second.Reserve(0), 1);

    // A session on another thread waits for the holder to let go.
    std::thread waiter([&] {
        CoInitialize(nullptr);
        {
            CSessionClient fourth;
            EXPECT_EQ(fourth.Connect(device.Path()), 1);
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
        CSessionClient gone;
        ASSERT_EQ(gone.Connect(local.Path()), 1);
        third.ReleaseDevice();
        ASSERT_EQ(gone.Reserve(0), 1);
    }
    EXPECT_EQ(third.Reserve(0), 1);
}

TEST_F(SessionSafety, ASessionReleasedWhileItsTransferRunsStopsCleanly) {
    WritePatternFile(local / "f.bin", 2 << 20, 8);
    {
        CSessionClient client;
        ASSERT_EQ(client.Connect(device.Path() + ";throttle=1000000"), 1);
        CParamBlock in;
        Texts(in, {local / "f.bin", "\\"});
        long id = 0;
        ASSERT_EQ(client.Submit(kSend, in, id), 1);
        Pump(10000, [&] { return !client.sink.Of(22).empty(); });
    } // the client releases the session mid-transfer
    Pump(100);
    EXPECT_TRUE(Snapshot(device.Path()).size() <= 1u) << "only the empty staging directory may remain";
    EXPECT_FALSE(FileExists(device / "f.bin"));
}
