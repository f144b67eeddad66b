// The transfer runner against a scripted device and a host whose posted steps the test hands back itself:
// what reaches the device and the host, in which order, and that every list goes exactly once.
#include "session/TransferRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

struct FakeDevice : IDeviceRequests {
    Log& log;
    RequestResult reserve = RequestResult::Success();
    std::deque<RequestResult> submits; // answered in turn, success once they run out
    long nextId = 1;
    uintptr_t lastUserData = 0;
    explicit FakeDevice(Log& l) : log(l) {}

    RequestResult Execute(long, CParamBlock&, CParamBlock*, long) override {
        return RequestResult::Success();
    }
    RequestResult Submit(long request, CParamBlock& input, long wait, uintptr_t userData, long& id) override {
        std::string line = "submit " + std::to_string(request) + " " + input.At(0).GetText();
        if (input.Count() > 1)
            line += ">" + input.At(1).GetText();
        log.push_back(line + " w" + std::to_string(wait));
        lastUserData = userData;
        const RequestResult answer = submits.empty() ? RequestResult::Success() : submits.front();
        if (!submits.empty())
            submits.pop_front();
        id = answer ? nextId++ : 0;
        return answer;
    }
    RequestResult ReserveDevice(long wait) override {
        log.push_back("reserve w" + std::to_string(wait));
        return reserve;
    }
    RequestResult ReleaseDevice() override {
        log.push_back("release");
        return RequestResult::Success();
    }
    RequestResult Cancel(long id, long mode) override {
        log.push_back("cancel " + std::to_string(id) + " m" + std::to_string(mode));
        return RequestResult::Success();
    }
};

struct FakeHost : ITransferHost {
    Log& log;
    std::deque<std::unique_ptr<CTransferList>> posted;
    std::function<void()> duringBox;
    explicit FakeHost(Log& l) : log(l) {}

    bool PostStep(std::unique_ptr<CTransferList> list) override {
        posted.push_back(std::move(list));
        return true;
    }
    void ShowBox(const std::string& text, const std::string& caption, bool warning) override {
        log.push_back("box " + caption + (warning ? " !" : " i") + " " + text);
        if (duringBox)
            duringBox();
    }
    void ListEnded() override { log.push_back("reload"); }
};

std::string Sub(long code) {
    return "submit " + std::to_string(code);
}
const std::string kSend = Sub(REQ_SEND_FILE);

class TransferRunnerTest : public testing::Test {
protected:
    // A list of `count` items a0>b0, a1>b1, ...; its end is counted in `freed`.
    std::unique_ptr<CTransferList> List(int count, unsigned direction = 1, long operation = 0) {
        auto list = std::make_unique<CTransferList>();
        for (int i = 0; i < count; ++i)
            list->items.push_back({"a" + std::to_string(i), "b" + std::to_string(i)});
        list->direction = direction;
        list->operation = operation;
        list->onEnd = [this] { ++freed; };
        return list;
    }
    // Starts a list and runs its first step; returns its user data.
    uintptr_t Begin(std::unique_ptr<CTransferList> list) {
        runner.Start(std::move(list));
        Steps();
        return device.lastUserData;
    }
    void Steps() {
        while (!host.posted.empty()) {
            auto list = std::move(host.posted.front());
            host.posted.pop_front();
            runner.Step(std::move(list));
        }
    }
    // Completes the running item of the list `data` and runs what it posted.
    void Done(uintptr_t data, RequestResult result = RequestResult::Success(), long code = REQ_SEND_FILE) {
        EXPECT_TRUE(runner.Complete(code, result, data));
        Steps();
    }

    Log log;
    FakeDevice device{log};
    FakeHost host{log};
    CTransferRunner runner{device, host};
    int freed = 0;
};

TEST_F(TransferRunnerTest, EachItemIsSubmittedInTurnWithTheListAsUserData) {
    struct Case {
        unsigned direction;
        long operation, code;
        std::string item; // what the first item's block holds
    } cases[] = {
        {1, 0, REQ_SEND_FILE, "a0>b0"},
        {0, 0, REQ_RECEIVE_FILE, "a0>b0"},
        {1, REQ_LOAD_PROGRAM, REQ_LOAD_PROGRAM, "a0"}, // a typed operation names only the file it takes
    };
    for (const Case& c : cases) {
        log.clear();
        freed = 0;
        auto list = List(2, c.direction, c.operation);
        const auto address = reinterpret_cast<uintptr_t>(list.get());
        EXPECT_EQ(Begin(std::move(list)), address);
        EXPECT_EQ(runner.CurrentRequestId(), device.nextId - 1);
        Done(address, RequestResult::Success(), c.code);
        EXPECT_EQ(device.lastUserData, address);
        Done(address, RequestResult::Success(), c.code);
        const std::string second = c.operation ? "a1" : "a1>b1";
        EXPECT_EQ(log, (Log{"reserve w1000", Sub(c.code) + " " + c.item + " w1000",
                            Sub(c.code) + " " + second + " w1000", "release", "reload"}))
            << c.code;
        EXPECT_EQ(freed, 1);
        EXPECT_EQ(runner.CurrentRequestId(), 0);
    }
}

TEST_F(TransferRunnerTest, EmptyListOrBusyDeviceRunsNothing) {
    runner.Start(List(0));
    EXPECT_EQ(log, Log{});
    EXPECT_EQ(freed, 1);

    device.reserve = RequestResult::Failure(7, "held elsewhere");
    runner.Start(List(2));
    Steps();
    EXPECT_EQ(log, (Log{"reserve w1000", "box Dorvex ! Device is busy."}));
    EXPECT_EQ(freed, 2);
}

TEST_F(TransferRunnerTest, RefusedSubmitReleasesBeforeItsBoxAndEndsTheList) {
    // The first item refused: the refusal is all there is to tell.
    device.submits = {RequestResult::Failure(9, "no room")};
    Begin(List(2));
    EXPECT_EQ(log, (Log{"reserve w1000", kSend + " a0>b0 w1000", "release", "box Dorvex ! no room"}));
    EXPECT_EQ(freed, 1);

    // A later one: what ran before it is summed up.
    log.clear();
    device.submits = {RequestResult::Success(), RequestResult::Failure(9, "no room")};
    Done(Begin(List(3)));
    EXPECT_EQ(log, (Log{"reserve w1000", kSend + " a0>b0 w1000", kSend + " a1>b1 w1000", "release",
                        "box Dorvex ! no room",
                        "box Dorvex ! The transfer stopped after 1 of 3 files; 2 were left."}));
    EXPECT_EQ(freed, 2);
}

TEST_F(TransferRunnerTest, FirstFailureIsShownAtOnceAndTheRestInTheSummary) {
    auto list = List(3);
    list->skipped.push_back({"c:\\x", "name too long"});
    const uintptr_t data = Begin(std::move(list));
    Done(data, RequestResult::Failure(5, "disk full"));
    Done(data, RequestResult::Failure(6, "read\nerror"));
    EXPECT_EQ(Log(log.begin() + 2, log.end()),
              (Log{"box Error ! disk full", kSend + " a1>b1 w1000", kSend + " a2>b2 w1000"}));
    Done(data);
    EXPECT_EQ(log.back(), "box Dorvex ! 1 of 3 files were transferred.\n\nNot transferred:\na0: disk full\n"
                          "a1: read error\nc:\\x: name too long");
    EXPECT_EQ(freed, 1);

    // A single failure was told already: no summary repeats it.
    log.clear();
    Done(Begin(List(1)), RequestResult::Failure(5, "disk full"));
    EXPECT_EQ(log,
              (Log{"reserve w1000", kSend + " a0>b0 w1000", "box Error ! disk full", "release", "reload"}));
}

TEST_F(TransferRunnerTest, QuietFailuresShowNoErrorBox) {
    struct Case {
        long code;
        Log tail; // after the second item's submit
    } cases[] = {
        // Cancelled: left, not failed, so nothing to tell at the end either.
        {kSessionErrorCancelled, {"release", "reload"}},
        // The connection is gone: the host tells that, the summary still names the file.
        {kSessionErrorConnectionLost,
         {"release", "reload",
          "box Dorvex ! 1 of 2 files were transferred.\n\nNot transferred:\na0: link down"}},
    };
    for (const Case& c : cases) {
        log.clear();
        const uintptr_t data = Begin(List(2));
        Done(data, RequestResult::Failure(c.code, "link down"));
        Done(data);
        EXPECT_EQ(Log(log.begin() + 3, log.end()), c.tail) << c.code;
    }
    EXPECT_EQ(freed, 2);
}

TEST_F(TransferRunnerTest, CancelStopsTheListAfterItsRunningItem) {
    struct Case {
        bool withId;
        RequestResult running; // how the running item ends
        Log tail;
    } cases[] = {
        {true,
         RequestResult::Failure(kSessionErrorCancelled, "cancelled"),
         {"cancel 2 m2", "release", "reload",
          "box Dorvex i The transfer was cancelled after 1 of 3 files; 2 were left."}},
        // Without an id the running item is let finish.
        {false,
         RequestResult::Success(),
         {"release", "reload", "box Dorvex i The transfer was cancelled after 2 of 3 files; 1 was left."}},
    };
    for (const Case& c : cases) {
        log.clear();
        device.nextId = 1;
        const uintptr_t data = Begin(List(3));
        Done(data);
        log.clear();
        runner.Cancel(c.withId ? runner.CurrentRequestId() : 0);
        EXPECT_TRUE(runner.CancelRequested());
        Done(data, c.running);
        EXPECT_EQ(log, c.tail) << c.withId;
    }
    EXPECT_EQ(freed, 2);
}

TEST_F(TransferRunnerTest, LateCancelStillReleasesOnceAndTellsNothing) {
    // Before the first step: nothing ran, so it is a cancel like any other.
    runner.Start(List(2));
    runner.Cancel(0);
    Steps();
    EXPECT_EQ(log, (Log{"reserve w1000", "release", "reload",
                        "box Dorvex i The transfer was cancelled after 0 of 2 files; 2 were left."}));

    // After the last completion: every item ran, the end is a plain one.
    log.clear();
    const uintptr_t data = Begin(List(1));
    EXPECT_TRUE(runner.Complete(REQ_SEND_FILE, RequestResult::Success(), data));
    runner.Cancel(0);
    Steps();
    EXPECT_EQ(log, (Log{"reserve w1000", kSend + " a0>b0 w1000", "release", "reload"}));
    EXPECT_EQ(freed, 2);
}

TEST_F(TransferRunnerTest, StrayCompletionsAreIgnored) {
    // Both lists live at once, so the ended one's address cannot have been reused.
    const uintptr_t data = Begin(List(2));
    const uintptr_t ended = Begin(List(1));
    Done(ended);
    EXPECT_TRUE(runner.Complete(REQ_SEND_FILE, RequestResult::Success(), data)); // its next step is posted
    log.clear();
    int notAList = 0;
    const struct {
        long code;
        uintptr_t data;
    } strays[] = {
        {REQ_SEND_FILE, 0},
        {REQ_SEND_FILE, reinterpret_cast<uintptr_t>(&notAList)},
        {REQ_SEND_FILE, ended},
        {REQ_SEND_FILE, data}, // the same completion again
    };
    for (const auto& stray : strays)
        EXPECT_FALSE(runner.Complete(stray.code, RequestResult::Failure(5, "x"), stray.data)) << stray.data;
    EXPECT_EQ(host.posted.size(), 1u);
    Steps();
    EXPECT_FALSE(runner.Complete(REQ_RECEIVE_FILE, RequestResult::Failure(5, "x"), data));
    // The running item is still the one its real completion moves on.
    Done(data);
    EXPECT_EQ(log, (Log{kSend + " a1>b1 w1000", "release", "reload"}));
}

TEST_F(TransferRunnerTest, CancelReachesTheListsThatRunNotOnesStartedAfterIt) {
    const uintptr_t first = Begin(List(2));
    runner.Cancel(0);
    const uintptr_t second = Begin(List(1, 0));
    Done(first);
    Done(second, RequestResult::Success(), REQ_RECEIVE_FILE);
    EXPECT_EQ(log, (Log{"reserve w1000", kSend + " a0>b0 w1000", "reserve w1000",
                        Sub(REQ_RECEIVE_FILE) + " a0>b0 w1000", "release", "reload",
                        "box Dorvex i The transfer was cancelled after 1 of 2 files; 1 was left.", "release",
                        "reload"}));
    EXPECT_EQ(freed, 2);
}

TEST_F(TransferRunnerTest, AbandonCancelsReleasesOnceAndFreesSilently) {
    const uintptr_t first = Begin(List(2));
    const uintptr_t second = Begin(List(3, 0));
    runner.Start(List(1)); // posted, not yet stepped
    log.clear();
    runner.Abandon();
    ASSERT_EQ(log.size(), 3u);
    std::sort(log.begin(), log.begin() + 2); // the lists' order is their addresses'
    EXPECT_EQ(log, (Log{"cancel 1 m2", "cancel 2 m2", "release"}));
    EXPECT_EQ(freed, 2); // the posted list is the host's to drop
    EXPECT_EQ(runner.RunningLists(), 0u);
    EXPECT_EQ(runner.CurrentRequestId(), 0);
    EXPECT_FALSE(runner.Complete(REQ_SEND_FILE, RequestResult::Success(), first));
    EXPECT_FALSE(runner.Complete(REQ_RECEIVE_FILE, RequestResult::Success(), second));
    host.posted.clear();
    EXPECT_EQ(freed, 3);
    runner.Abandon();
    EXPECT_EQ(log.size(), 3u);
}

TEST_F(TransferRunnerTest, AbandonDuringABoxLeavesTheListAlone) {
    host.duringBox = [this] { runner.Abandon(); };
    // The first failure's box.
    const uintptr_t data = Begin(List(2));
    EXPECT_TRUE(runner.Complete(REQ_SEND_FILE, RequestResult::Failure(5, "disk full"), data));
    EXPECT_EQ(std::count(log.begin(), log.end(), "release"), 1);
    EXPECT_EQ(log.back(), "release");
    EXPECT_TRUE(host.posted.empty());
    EXPECT_EQ(freed, 1);

    // A refusal's box: released already, so not again.
    log.clear();
    device.submits = {RequestResult::Failure(9, "no room")};
    Begin(List(2));
    EXPECT_EQ(log, (Log{"reserve w1000", kSend + " a0>b0 w1000", "release", "box Dorvex ! no room"}));
    EXPECT_EQ(freed, 2);

    // The summary's box.
    log.clear();
    Done(Begin(List(1)), RequestResult::Failure(kSessionErrorConnectionLost, "gone"));
    EXPECT_EQ(log.back(), "box Dorvex ! 0 of 1 file was transferred.\n\nNot transferred:\na0: gone");
    EXPECT_EQ(freed, 3);
    EXPECT_EQ(runner.RunningLists(), 0u);
}

} // namespace
