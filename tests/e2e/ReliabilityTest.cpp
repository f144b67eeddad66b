// Long runs in one host process: many connections to alternating devices, and many controls created and
// destroyed, through the system's container with the real control module and session component. What is
// left behind afterwards must not grow with the number of runs.
#include <windows.h>
#include <ole2.h>
#include <oleidl.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "framework/ComPtr.h"
#include "SessionHost.h"

#include <functional>
#include <iostream>

namespace {

constexpr int kRuns = 200;
constexpr int kWarmUp = 5;
// Heap growth allowed over a whole run: a leak of a few hundred bytes per run already exceeds it.
constexpr size_t kHeapBound = 128 * 1024;

const std::vector<std::wstring> kEnvironmentMethods = {L"VNLENVUpdateConnectionStatus",
                                                       L"VNLENVUpdateConnectionParams"};

struct Usage {
    int windows;
    size_t heap;
    DWORD user;
    DWORD gdi;
};

Usage Measure() {
    Pump(50);
    return {ThreadWindowCount(), HeapBytesInUse(), GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
            GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)};
}

// Runs `run` a few times to settle, then kRuns times, and checks that the runs left nothing behind.
void RunMeasured(const char* what, const std::function<void(int)>& run, int runs = kRuns) {
    for (int i = 0; i < kWarmUp; ++i) {
        run(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    const Usage before = Measure();
    const DWORD start = GetTickCount();
    for (int i = 0; i < runs; ++i) {
        run(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    const DWORD ms = GetTickCount() - start;
    const Usage after = Measure();
    std::cout << what << ": " << runs << " runs in " << ms << " ms; windows " << before.windows << " -> "
              << after.windows << "; heap " << before.heap << " -> " << after.heap << " bytes ("
              << static_cast<long long>(after.heap) - static_cast<long long>(before.heap)
              << "); USER objects " << before.user << " -> " << after.user << ", GDI objects " << before.gdi
              << " -> " << after.gdi
              << (after.user == 0 && after.gdi == 0 ? " (not reported by this system)" : "") << std::endl;
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_LT(after.heap, before.heap + kHeapBound);
    EXPECT_LE(after.user, before.user);
    EXPECT_LE(after.gdi, before.gdi);
}

class Reliability : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        environment.keepCalls = false;
        // Room for every message of the run, so that the record itself does not grow the heap.
        seen.reserve(400000);
    }
    void TearDown() override { OleUninitialize(); }

    std::string Device(int run) const { return run % 2 ? devices.b.Path() : devices.a.Path(); }

    CTwoDevices devices;
    CRecordingEnvironment environment{kEnvironmentMethods};
    std::vector<SeenMessage> seen;
};

TEST_F(Reliability, ManyConnectionsToAlternatingDevicesLeaveNothingBehind) {
    CContainerHost host;
    ASSERT_TRUE(host.Open());
    ASSERT_EQ(host.GiveEnvironment(&environment), S_OK);
    ASSERT_EQ(host.ShowAtPreferredSize(), S_OK);
    size_t fills = 0;
    auto connect = [&](int run) {
        ASSERT_EQ(host.Connect(Device(run)), S_OK);
        ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, ++fills, 5000)) << "run " << run;
    };
    const size_t calls = environment.callCount;
    RunMeasured("connections", connect);
    EXPECT_GE(environment.callCount - calls, static_cast<size_t>(kRuns)) << "the host heard no status";
    host.Close();
}

TEST_F(Reliability, ManyControlsCreatedAndDestroyedLeaveNothingBehind) {
    auto cycle = [&](int run) {
        CContainerHost host;
        ASSERT_TRUE(host.Open()) << "run " << run;
        ASSERT_EQ(host.GiveEnvironment(&environment), S_OK);
        ASSERT_EQ(host.ShowAtPreferredSize(), S_OK);
        ASSERT_EQ(host.Connect(Device(run)), S_OK);
        seen.clear();
        ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, 1, 5000)) << "run " << run;
        host.Close();
    };
    RunMeasured("controls", cycle);
    EXPECT_EQ(environment.refs, 1) << "a control kept the environment";
}

// Containers deactivate a control they hide and activate it again when they show it.
TEST_F(Reliability, DeactivatedAndActivatedAgainTheControlKeepsOneMainWindowAndItsConnection) {
    CContainerHost host;
    ASSERT_TRUE(host.Open());
    ASSERT_EQ(host.GiveEnvironment(&environment), S_OK);
    ASSERT_EQ(host.ShowAtPreferredSize(), S_OK);
    ASSERT_EQ(host.Connect(Device(0)), S_OK);
    ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, 1, 5000));
    const HWND main = host.MainWindow();
    CComPtr<IOleObject> ole;
    CComPtr<IOleInPlaceObject> inPlace;
    CComPtr<IOleClientSite> site;
    ASSERT_EQ(host.Control()->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
    ASSERT_EQ(ole.QueryInterface(IID_IOleInPlaceObject, inPlace), S_OK);
    ASSERT_EQ(ole->GetClientSite(&site), S_OK);
    RECT area;
    GetClientRect(host.Container(), &area);
    auto cycle = [&](int run) {
        HWND before = nullptr;
        inPlace->GetWindow(&before);
        ASSERT_EQ(inPlace->InPlaceDeactivate(), S_OK);
        ASSERT_FALSE(IsWindow(before)) << "run " << run;
        ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, host.Container(), &area), S_OK);
        HWND control = nullptr;
        inPlace->GetWindow(&control);
        ASSERT_EQ(GetDlgItem(control, 1700), main) << "run " << run << ": not the same main window";
        ASSERT_TRUE(IsWindowVisible(main)) << "run " << run;
    };
    RunMeasured("deactivations", cycle, 50);
    // Still connected and still heard: a new connection text reaches the same session and the host.
    const size_t calls = environment.callCount;
    ASSERT_EQ(host.Connect(Device(1)), S_OK);
    EXPECT_TRUE(WaitForFillRoots(GetDlgItem(main, 1703), seen, 2, 5000));
    EXPECT_GT(environment.callCount, calls) << "the host heard no status";
    site.Release();
    inPlace.Release();
    ole.Release();
    host.Close();
    EXPECT_EQ(environment.refs, 1) << "the control kept the environment";
}

} // namespace
