// What keeps the device to itself: hostile paths and names refused with a reason and nothing outside the
// device folder touched, and the reservation shared by the sessions of one device.
#include "SessionTestSupport.h"

#include <cstdio>
#include <thread>

using namespace sessiontest;

namespace {

class SessionSafety : public SessionFixture {};

// The path with its control characters shown, for failure messages.
std::string Shown(const std::string& text) {
    std::string out;
    for (char c : text) {
        char shown[8] = {c, 0};
        if (static_cast<unsigned char>(c) < 32)
            std::snprintf(shown, sizeof shown, "<%d>", c);
        out += shown;
    }
    return out.size() > 80 ? out.substr(0, 80) + "..." : out;
}

} // namespace

TEST_F(SessionSafety, HostilePathsAndNamesAreRefusedAndNothingOutsideChanges) {
    // <sandbox>\device is the device; everything else in the sandbox must stay as it is.
    CTempFolder sandbox("hostile");
    const std::string device = sandbox / "device", outside = sandbox / "outside";
    MakeDirs(device + "\\SYS");
    MakeDirs(outside);
    MakeDirs(sandbox / "device2");
    WriteFileText(device + "\\SYS\\file.txt", "inside");
    WriteFileText(outside + "\\victim.txt", "outside");
    WriteFileText(sandbox / "upload.txt", "payload");
    const auto before = Snapshot(sandbox.Path());

    CSessionClient client;
    ASSERT_EQ(client.Connect(device), 1);
    const std::string drive = outside.substr(0, 2); // "C:"
    const std::string outsideTail = outside.substr(2);
    // One path of each kind the path rules refuse (every rule is checked on its own with the portable
    // code); here each kind must be refused by every request that takes a remote path.
    const std::vector<std::string> paths = {
        "",
        "\\..\\outside\\victim.txt",
        "\\SYS\\..\\..\\outside\\victim.txt",
        "\\.\\SYS",
        "SYS\\file.txt",
        outside + "\\victim.txt",
        drive + "victim.txt",
        "\\" + drive + outsideTail,
        "\\SYS/../../outside",
        "\\\\server\\share\\x",
        "\\\\?\\" + outside,
        "\\\\.\\PhysicalDrive0",
        "\\SYS\\\\file.txt",
        "\\SYS\\file.txt::$DATA",
        "\\SYS\\nul.txt",
        "\\SYS\\trailing ",
        "\\SYS\\f?le.txt",
        std::string("\\SYS\\").append(300, 'b').append("\\x"),
        std::string("\\SYS\\file.txt\0\\..\\..\\outside", 29),
        "\\~dvxstage\\x",
    };
    CParamBlock in, out;
    int checked = 0;
    for (const std::string& path : paths) {
        // Every request that takes a remote path, with this path in the remote place.
        const struct {
            long code;
            std::vector<std::string> args;
            bool submitted;
        } requests[] = {
            {kListDir, {path}, false},
            {kDeleteFile, {path}, false},
            {kDeleteDir, {path}, false},
            {kChangeDir, {path}, false},
            {kSend, {sandbox / "upload.txt", path}, true},
            {kReceive, {path, outside}, true},
        };
        for (const auto& r : requests) {
            Texts(in, r.args);
            if (r.code == kDeleteDir)
                in.At(1).SetBool(true);
            long code = -1;
            std::string text;
            if (r.submitted) {
                // A malformed block is refused by Submit itself; anything accepted must fail on completion.
                long id = 0;
                const LONG_PTR user = 0x5000 + checked;
                if (client.Submit(r.code, in, id, user) == 1) {
                    ASSERT_TRUE(Pump(10000, [&] { return !client.Completions(user).empty(); }));
                    EXPECT_EQ(client.Completions(user)[0].args[2].number, VARIANT_FALSE) << Shown(path);
                }
            } else {
                EXPECT_EQ(client.Execute(r.code, in, out), 0) << std::hex << r.code << " " << Shown(path);
            }
            text = client.ErrorText(&code);
            // Refused as a path (12), or as malformed input (11: the embedded NUL); never a success.
            EXPECT_TRUE(code == 12 || code == 11)
                << std::hex << r.code << std::dec << " " << Shown(path) << ": " << code << " " << text;
            EXPECT_GT(text.size(), 10u) << Shown(path);
            ++checked;
        }
    }
    // Names typed for a new directory.
    ASSERT_EQ(client.Execute(kChangeDir, in, out), 0);
    Texts(in, {"\\SYS\\"});
    ASSERT_EQ(client.Execute(kChangeDir, in, out), 1);
    const std::vector<std::string> names = {"..\\..\\outside\\x", "../x", "C:\\x", "x:stream", "aux.txt",
                                            "name ", "pipe|", std::string(256, 'n')};
    for (const std::string& name : names) {
        CParamBlock typed;
        Texts(typed, {name});
        EXPECT_EQ(client.Execute(kMakeDir, typed, out), 0) << Shown(name);
        EXPECT_EQ(client.ErrorCode(), 12) << Shown(name);
        ++checked;
    }
    // The device's own staging directory cannot be made, named or listed at the root.
    Texts(in, {"\\"});
    ASSERT_EQ(client.Execute(kChangeDir, in, out), 1);
    CParamBlock staging;
    Texts(staging, {"~DVXSTAGE"});
    EXPECT_EQ(client.Execute(kMakeDir, staging, out), 0);
    EXPECT_EQ(client.ErrorCode(), 12);
    ASSERT_EQ(client.Execute(kChangeDir, in, out), 1);
    Texts(in, {"\\SYS\\"});
    ASSERT_EQ(client.Execute(kChangeDir, in, out), 1);

    // A name the device takes is still fine, and lands inside.
    CParamBlock fine;
    Texts(fine, {"fine name"});
    EXPECT_EQ(client.Execute(kMakeDir, fine, out), 1) << client.ErrorText();
    EXPECT_TRUE(DirExists(device + "\\SYS\\fine name"));
    RemoveDirectoryA((device + "\\SYS\\fine name").c_str());

    EXPECT_GT(checked, 120);
    EXPECT_EQ(Snapshot(sandbox.Path()), before) << "something changed";
    EXPECT_EQ(ReadFileText(outside + "\\victim.txt"), "outside");
}

TEST_F(SessionSafety, OneSessionAtATimeHoldsADevice) {
    CTempFolder device("reserve"), elsewhere("reserve-other");
    WriteFileText(device / "a.txt", "a");
    CSessionClient first, second, third;
    ASSERT_EQ(first.Connect(device.Path()), 1);
    // The same folder under another spelling is the same device.
    std::string other = device.Path() + "\\";
    CharUpperBuffA(other.data(), static_cast<DWORD>(other.size()));
    ASSERT_EQ(second.Connect(other), 1);
    ASSERT_EQ(third.Connect(elsewhere.Path()), 1);

    LONG result = -1;
    ASSERT_EQ(first->ReserveDevice(1000, &result), S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(first->ReserveDevice(1000, &result), S_OK);
    EXPECT_EQ(result, 1) << "holding it already counts";
    // The holder is on this very thread and cannot let go while we wait: refused at once.
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(second->ReserveDevice(1000, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_LT(GetTickCount64() - start, 500u);
    long code = 0;
    EXPECT_NE(second.ErrorText(&code).find("reserved"), std::string::npos);
    EXPECT_EQ(code, 20);
    EXPECT_EQ(third->ReserveDevice(0, &result), S_OK);
    EXPECT_EQ(result, 1) << "another device is free";

    // While reserved, the other session may look but not change.
    CParamBlock in, out;
    Texts(in, {"\\"});
    EXPECT_EQ(second.Execute(kListDir, in, out), 1);
    Texts(in, {"\\a.txt"});
    EXPECT_EQ(second.Execute(kDeleteFile, in, out), 0);
    EXPECT_EQ(second.ErrorCode(), 20);
    EXPECT_TRUE(FileExists(device / "a.txt"));
    EXPECT_EQ(first.Execute(kDeleteFile, in, out), 1) << "the holder may";

    EXPECT_EQ(second->ReleaseDevice(&result), S_OK);
    EXPECT_EQ(result, 0) << "only the holder releases";
    EXPECT_EQ(first->ReleaseDevice(&result), S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(second->ReserveDevice(0, &result), S_OK);
    EXPECT_EQ(result, 1);

    // A session on another thread waits for the holder to let go.
    std::thread waiter([&] {
        CoInitialize(nullptr);
        {
            CSessionClient fourth;
            EXPECT_EQ(fourth.Connect(device.Path()), 1);
            LONG got = -1;
            const ULONGLONG begin = GetTickCount64();
            fourth->ReserveDevice(5000, &got);
            EXPECT_EQ(got, 1);
            EXPECT_GE(GetTickCount64() - begin, 150u);
            fourth->ReleaseDevice(&got);
        }
        CoUninitialize();
    });
    Sleep(300);
    EXPECT_EQ(second->ReleaseDevice(&result), S_OK);
    waiter.join();

    // Disconnecting, or going away, ends a reservation.
    ASSERT_EQ(first->ReserveDevice(0, &result), S_OK);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(first.Disconnect(), 1);
    EXPECT_EQ(second->ReserveDevice(0, &result), S_OK);
    EXPECT_EQ(result, 1);
    {
        CSessionClient gone;
        ASSERT_EQ(gone.Connect(elsewhere.Path()), 1);
        EXPECT_EQ(third->ReleaseDevice(&result), S_OK);
        ASSERT_EQ(gone->ReserveDevice(0, &result), S_OK);
        ASSERT_EQ(result, 1);
    }
    EXPECT_EQ(third->ReserveDevice(0, &result), S_OK);
    EXPECT_EQ(result, 1);
}

TEST_F(SessionSafety, ASessionReleasedWhileItsTransferRunsStopsCleanly) {
    CTempFolder device("release"), local("release-local");
    WritePatternFile(local / "f.bin", 2 << 20, 8);
    ULONG sinkRefs = 0;
    {
        CSessionClient client;
        ASSERT_EQ(client.Connect(device.Path() + ";throttle=1000000"), 1);
        CParamBlock in;
        Texts(in, {local / "f.bin", "\\"});
        long id = 0;
        ASSERT_EQ(client.Submit(kSend, in, id), 1);
        Pump(10000, [&] { return !client.sink.Of(22).empty(); });
        sinkRefs = client.sink.Refs();
    } // the client releases the session mid-transfer
    Pump(100);
    EXPECT_GE(sinkRefs, 2u) << "the sink was advised";
    EXPECT_TRUE(Snapshot(device.Path()).size() <= 1u) << "only the empty staging directory may remain";
    EXPECT_FALSE(FileExists(device / "f.bin"));
}
