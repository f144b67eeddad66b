// The session component's registration, connection texts and connection events.
#include "SessionTestSupport.h"

#include "framework/ComPtr.h"
#include "session/DemoTree.h"

#include <olectl.h>

#include <algorithm>

using namespace sessiontest;

using SessionConnect = SessionFixture;

// The event descriptions of its type library are read by the control's sink, and its last error is asked
// for by name by the standard error display, in the end-to-end session tests; the enumerator of its one
// connection point is the control's.
TEST_F(SessionConnect, RegisteredByNameAndOffersOnlyItsEvents) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Quor.Session.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_QuorSession));
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
    ASSERT_EQ(container->FindConnectionPoint(DIID__IQuorSessionEvents, &point), S_OK);
    EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);
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
    EXPECT_TRUE(client.sink.events.empty()) << "an event arrived inside Connect";
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
    EXPECT_EQ(client.Refused(kListDir, {"\\"}), 1);
    EXPECT_NE(client.ErrorText().find("not connected"), std::string::npos);
    EXPECT_EQ(client.Connect(d + "\\;latency=0x10;throttle=1000000;program=*.abc"), 1) << client.ErrorText();
}

TEST_F(SessionConnect, DemoDeviceIsSeededOnceInTheUsersFolder) {
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("LOCALAPPDATA", saved, MAX_PATH);
    SetEnvironmentVariableA("LOCALAPPDATA", local.Path().c_str());
    {
        CSessionClient client;
        ASSERT_EQ(client.Connect("demo"), 1) << client.ErrorText();
        const std::string root = local / "Dorvex\\DemoDevice";
        // On disk exactly as planned (the plan itself is checked with the portable code).
        std::vector<std::string> planned;
        for (const DemoItem& item : DemoDeviceItems())
            planned.push_back("\\" + item.path + (item.directory ? "\\" : " " + std::to_string(item.size)));
        std::sort(planned.begin(), planned.end());
        EXPECT_EQ(Snapshot(root), planned);
        ASSERT_EQ(client.Exec(kListDir, {"\\"}), 1) << client.ErrorText();
        EXPECT_EQ(Names(client.out), "cf0/ nvram/ SYS/ USER/ ");

        // A device the user changed stays changed: it is seeded only when it does not exist.
        WriteFileText(root + "\\USER\\mine.txt", "kept");
        EXPECT_EQ(client.Disconnect(), 1);
        EXPECT_EQ(client.Connect("DEMO"), 1);
        EXPECT_EQ(ReadFileText(root + "\\USER\\mine.txt"), "kept");
    }
    SetEnvironmentVariableA("LOCALAPPDATA", saved[0] ? saved : nullptr);
}
