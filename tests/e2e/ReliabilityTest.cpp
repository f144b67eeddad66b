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

// Runs connect and list (a new control keeps its layout too): 50 take seconds and pile a leak past bounds.
constexpr int kRuns = 50;
constexpr int kWarmUp = 5;
// Heap growth allowed per run: a leak of a few hundred bytes per run already exceeds it.
constexpr size_t kHeapPerRun = 640;

// Runs `run` a few times to settle, then `runs` times, and checks that the runs left nothing behind.
void RunMeasured(const char* what, const std::function<void(int)>& run, int runs = kRuns) {
    auto usage = [] {
        Pump(50);
        return std::vector<size_t>{static_cast<size_t>(ThreadWindowCount()), HeapBytesInUse(),
                                   GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS),
                                   GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)};
    };
    std::vector<size_t> before;
    const DWORD start = GetTickCount();
    for (int i = -kWarmUp; i < runs && !::testing::Test::HasFatalFailure(); ++i) {
        if (i == 0)
            before = usage();
        run(i);
    }
    if (::testing::Test::HasFatalFailure())
        return;
    const std::vector<size_t> after = usage();
    std::cout << what << ": " << runs << " runs in " << GetTickCount() - start << " ms; windows, heap bytes, "
              << "USER and GDI objects (0: not reported by this system):";
    for (size_t i = 0; i < 4; ++i)
        std::cout << " " << before[i] << " -> " << after[i];
    std::cout << std::endl;
    EXPECT_EQ(after[0], before[0]) << "windows";
    EXPECT_LT(after[1], before[1] + runs * kHeapPerRun) << "heap";
    EXPECT_LE(after[2], before[2]) << "USER objects";
    EXPECT_LE(after[3], before[3]) << "GDI objects";
}

class Reliability : public COleTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(COleTest::SetUp());
        environment.keepCalls = false;
        // Room for every message of the run, so that the record itself does not grow the heap.
        seen.reserve(100000);
    }
    // Connects to the device of this run and waits for the tree's `fills`th fill.
    void ConnectAndWait(CContainerHost& host, int run, size_t fills) {
        ASSERT_EQ(host.Connect(run % 2 ? devices.b.Path() : devices.a.Path()), S_OK);
        ASSERT_TRUE(WaitForFillRoots(host.Tree(), seen, fills, 5000)) << "run " << run;
    }

    CTwoDevices devices;
    CRecordingEnvironment environment{{L"VNLENVUpdateConnectionStatus", L"VNLENVUpdateConnectionParams"}};
    std::vector<SeenMessage> seen;
};

TEST_F(Reliability, ManyControlsCreatedAndDestroyedLeaveNothingBehind) {
    RunMeasured("controls", [&](int run) {
        CContainerHost host;
        ASSERT_EQ(host.Start(&environment), S_OK) << "run " << run;
        seen.clear();
        ConnectAndWait(host, run, 1);
    });
}

// Containers deactivate a control they hide and activate it again when they show it; each time the one
// long-lived control then connects to the other device, so neither may leave anything behind.
TEST_F(Reliability, DeactivatedActivatedAndReconnectedTheControlKeepsOneMainWindowAndLeavesNothingBehind) {
    CContainerHost host;
    ASSERT_EQ(host.Start(&environment), S_OK);
    size_t fills = 0;
    ConnectAndWait(host, 0, ++fills);
    const HWND main = host.MainWindow();
    CComPtr<IOleObject> ole;
    CComPtr<IOleInPlaceObject> inPlace;
    CComPtr<IOleClientSite> site;
    ASSERT_EQ(host.Control()->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
    ASSERT_EQ(ole.QueryInterface(IID_IOleInPlaceObject, inPlace), S_OK);
    ASSERT_EQ(ole->GetClientSite(&site), S_OK);
    RECT area;
    GetClientRect(host.Container(), &area);
    const size_t calls = environment.callCount;
    RunMeasured("deactivations and connections", [&](int run) {
        HWND before = nullptr;
        inPlace->GetWindow(&before);
        ASSERT_EQ(inPlace->InPlaceDeactivate(), S_OK);
        ASSERT_FALSE(IsWindow(before)) << "run " << run;
        ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, host.Container(), &area), S_OK);
        HWND control = nullptr;
        inPlace->GetWindow(&control);
        ASSERT_EQ(GetDlgItem(control, 1700), main) << "run " << run << ": not the same main window";
        ASSERT_TRUE(IsWindowVisible(main)) << "run " << run;
        // The same session and host; the control's window is new, so the tree is found from the main one.
        ASSERT_EQ(host.Connect(run % 2 ? devices.b.Path() : devices.a.Path()), S_OK);
        ASSERT_TRUE(WaitForFillRoots(GetDlgItem(main, 1703), seen, ++fills, 5000)) << "run " << run;
    });
    EXPECT_GE(environment.callCount - calls, static_cast<size_t>(kRuns)) << "the host heard no status";
    site.Release();
    inPlace.Release();
    ole.Release();
    host.Close();
    EXPECT_EQ(environment.refs, 1) << "the control kept the environment";
}

} // namespace
