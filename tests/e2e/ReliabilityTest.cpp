// Long runs in one host process: many connections to alternating devices, and many controls created and
// destroyed, through the system's container with the real control module and session component. What is
// left behind afterwards must not grow with the number of runs.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
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
void RunMeasured(const char* what, const std::function<void(int)>& run) {
    for (int i = 0; i < kWarmUp; ++i) {
        run(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    const Usage before = Measure();
    const DWORD start = GetTickCount();
    for (int i = 0; i < kRuns; ++i) {
        run(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    const DWORD ms = GetTickCount() - start;
    const Usage after = Measure();
    std::cout << what << ": " << kRuns << " runs in " << ms << " ms; windows " << before.windows << " -> "
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

} // namespace
