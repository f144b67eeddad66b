// What the transfer runner asks of the device and tells the host, in order, with the boxes' texts. That each
// list goes once, reservations return and strays or re-entrant calls do no harm is the fuzzer's to check.
#include "session/TransferRunner.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

const std::string kReserve = "reserve w1000";
// What the device logs for the submit of item `i` (a typed operation names only the file it takes).
std::string Item(int i, long code = REQ_SEND_FILE, bool pair = true) {
    const std::string n = std::to_string(i);
    return "submit " + std::to_string(code) + " a" + n + (pair ? ">b" + n : "") + " w1000";
}

class TransferRunnerTest : public testing::Test, IDeviceRequests, ITransferHost {
protected:
    RequestResult Note(const std::string& line) {
        log.push_back(line);
        return RequestResult::Success();
    }
    RequestResult Execute(long, CParamBlock&, CParamBlock*, long) override { return {}; }
    RequestResult Submit(long request, CParamBlock& input, long wait, uintptr_t userData, long& id) override {
        Note("submit " + std::to_string(request) + " " + input.At(0).GetText() +
             (input.Count() > 1 ? ">" + input.At(1).GetText() : "") + " w" + std::to_string(wait));
        lastUserData = userData;
        const RequestResult answer = submits.empty() ? RequestResult::Success() : submits.front();
        if (!submits.empty())
            submits.pop_front();
        id = answer ? nextId++ : 0;
        return answer;
    }
    RequestResult ReserveDevice(long wait) override {
        Note("reserve w" + std::to_string(wait));
        return reserve;
    }
    RequestResult ReleaseDevice() override { return Note("release"); }
    RequestResult Cancel(long id, long mode) override {
        return Note("cancel " + std::to_string(id) + " m" + std::to_string(mode));
    }
    bool PostStep(std::unique_ptr<CTransferList> list) override {
        posted.push_back(std::move(list));
        return true;
    }
    void ShowBox(const std::string& text, const std::string& caption, bool warning) override {
        Note("box " + caption + (warning ? " ! " : " i ") + text);
    }
    void ListEnded(const CTransferList&) override { Note("reload"); }

    // A list of `count` items a0>b0, a1>b1, ...
    std::unique_ptr<CTransferList> List(int count, unsigned direction = 1, long operation = 0) {
        auto list = std::make_unique<CTransferList>();
        for (int i = 0; i < count; ++i)
            list->items.push_back({"a" + std::to_string(i), "b" + std::to_string(i)});
        list->direction = direction;
        list->operation = operation;
        return list;
    }
    // Starts a list and runs its first step; returns its user data.
    uintptr_t Begin(std::unique_ptr<CTransferList> list) {
        runner.Start(std::move(list));
        Steps();
        return lastUserData;
    }
    void Steps() {
        while (!posted.empty()) {
            auto list = std::move(posted.front());
            posted.pop_front();
            runner.Step(std::move(list));
        }
    }
    // Completes the running item of the list `data` and runs what it posted.
    void Done(uintptr_t data, RequestResult result = RequestResult::Success(), long code = REQ_SEND_FILE) {
        EXPECT_TRUE(runner.Complete(code, result, data));
        Steps();
    }

    Log log;
    RequestResult reserve = RequestResult::Success();
    std::deque<RequestResult> submits;
    long nextId = 1;
    uintptr_t lastUserData = 0;
    std::deque<std::unique_ptr<CTransferList>> posted;
    CTransferRunner runner{*this, *this};
};

// That the list is each submit's user data is the fuzzer's; here the requests with their waits.
TEST_F(TransferRunnerTest, EachItemIsSubmittedInTurnWithItsWaitThenTheDeviceReleased) {
    const struct {
        unsigned direction;
        long operation, code;
    } cases[] = {{1, 0, REQ_SEND_FILE}, {0, 0, REQ_RECEIVE_FILE}, {1, REQ_LOAD_PROGRAM, REQ_LOAD_PROGRAM}};
    for (const auto& c : cases) {
        log.clear();
        const uintptr_t data = Begin(List(2, c.direction, c.operation));
        Done(data, RequestResult::Success(), c.code);
        Done(data, RequestResult::Success(), c.code);
        const bool pair = !c.operation;
        EXPECT_EQ(log, (Log{kReserve, Item(0, c.code, pair), Item(1, c.code, pair), "release", "reload"}))
            << c.code;
        EXPECT_EQ(runner.CurrentRequestId(), 0);
    }
}

TEST_F(TransferRunnerTest, EmptyListOrBusyDeviceRunsNothing) {
    runner.Start(List(0));
    EXPECT_EQ(log, Log{});
    reserve = RequestResult::Failure(7, "held elsewhere");
    runner.Start(List(2));
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(log, (Log{kReserve, "box Dorvex ! Device is busy."}));
}

TEST_F(TransferRunnerTest, RefusedSubmitReleasesBeforeItsBoxAndEndsTheList) {
    // The first item refused: the refusal is all there is to tell.
    submits = {RequestResult::Failure(9, "no room")};
    Begin(List(2));
    EXPECT_EQ(log, (Log{kReserve, Item(0), "release", "box Dorvex ! no room"}));
    // A later one: what ran before it is summed up.
    log.clear();
    submits = {RequestResult::Success(), RequestResult::Failure(9, "no room")};
    Done(Begin(List(3)));
    EXPECT_EQ(log, (Log{kReserve, Item(0), Item(1), "release", "box Dorvex ! no room",
                        "box Dorvex ! The transfer stopped after 1 of 3 files; 2 were left."}));
}

TEST_F(TransferRunnerTest, TheFirstLoudFailureIsToldAtOnceTheRestInTheSummary) {
    const RequestResult ok = RequestResult::Success(), full = RequestResult::Failure(5, "disk full");
    const struct {
        std::vector<RequestResult> results; // one per item, in turn
        bool skipped;
        Log log;
    } cases[] = {
        {{full, RequestResult::Failure(6, "read\nerror"), ok},
         true,
         {kReserve, Item(0), "box Error ! disk full", Item(1), Item(2), "release", "reload",
          "box Dorvex ! 1 of 3 files were transferred.\n\nNot transferred:\na0: disk full\na1: read error\n"
          "c:\\x: name too long"}},
        // A single failure was told already: no summary repeats it.
        {{full}, false, {kReserve, Item(0), "box Error ! disk full", "release", "reload"}},
        // Cancelled: left, not failed, so nothing to tell at the end either.
        {{RequestResult::Failure(SE_CANCELLED, "stopped"), ok},
         false,
         {kReserve, Item(0), Item(1), "release", "reload"}},
        // The connection is gone: the host tells that, the summary still names the file.
        {{RequestResult::Failure(SE_CONNECTION_LOST, "link down")},
         false,
         {kReserve, Item(0), "release", "reload",
          "box Dorvex ! 0 of 1 file was transferred.\n\nNot transferred:\na0: link down"}},
    };
    for (const auto& c : cases) {
        log.clear();
        auto list = List(static_cast<int>(c.results.size()));
        if (c.skipped)
            list->skipped.push_back({"c:\\x", "name too long"});
        const uintptr_t data = Begin(std::move(list));
        for (const RequestResult& result : c.results)
            Done(data, result);
        EXPECT_EQ(log, c.log) << c.results.front().code;
    }
}

TEST_F(TransferRunnerTest, CancelEndsTheListAfterItsRunningItemAndTellsHowFarItGot) {
    // With the running item's id that item is stopped too.
    uintptr_t data = Begin(List(3));
    Done(data);
    runner.Cancel(runner.CurrentRequestId());
    EXPECT_TRUE(runner.CancelRequested());
    Done(data, RequestResult::Failure(SE_CANCELLED, "cancelled"));
    EXPECT_EQ(log, (Log{kReserve, Item(0), Item(1), "cancel 2 m2", "release", "reload",
                        "box Dorvex i The transfer was cancelled after 1 of 3 files; 2 were left."}));
    // Without one it is let finish.
    log.clear();
    Done(data = Begin(List(3)));
    runner.Cancel(0);
    Done(data);
    EXPECT_EQ(log, (Log{kReserve, Item(0), Item(1), "release", "reload",
                        "box Dorvex i The transfer was cancelled after 2 of 3 files; 1 was left."}));
    // Before the first step: nothing ran, a cancel like any other.
    log.clear();
    runner.Start(List(2));
    runner.Cancel(0);
    Steps();
    EXPECT_EQ(log, (Log{kReserve, "release", "reload",
                        "box Dorvex i The transfer was cancelled after 0 of 2 files; 2 were left."}));
    // After the last completion: every item ran, the end is a plain one.
    log.clear();
    data = Begin(List(1));
    EXPECT_TRUE(runner.Complete(REQ_SEND_FILE, RequestResult::Success(), data));
    runner.Cancel(0);
    Steps();
    EXPECT_EQ(log, (Log{kReserve, Item(0), "release", "reload"}));
    // A list that waits behind a cancelled one is not cancelled with it: it starts once that one ended, and
    // whoever waits for each hears whether all of it arrived.
    log.clear();
    std::vector<bool> completed;
    auto first = List(2), waiting = List(1, 0);
    first->onEnd = waiting->onEnd = [&](const CTransferList& ended) { completed.push_back(ended.completed); };
    data = Begin(std::move(first));
    runner.Cancel(0);
    runner.Start(std::move(waiting));
    EXPECT_EQ(runner.WaitingLists(), 1u);
    Done(data);
    Done(lastUserData, RequestResult::Success(), REQ_RECEIVE_FILE);
    EXPECT_EQ(log, (Log{kReserve, Item(0), "release", "reload",
                        "box Dorvex i The transfer was cancelled after 1 of 2 files; 1 was left.", kReserve,
                        Item(0, REQ_RECEIVE_FILE), "release", "reload"}));
    EXPECT_EQ(completed, (std::vector<bool>{false, true}));
}

// Which items are cancelled and that the reservation goes back once is the fuzzer's; here the silence.
TEST_F(TransferRunnerTest, AbandonCancelsTheRunningItemReleasesAndTellsNothing) {
    Begin(List(2));
    runner.Start(List(1)); // waits behind the first: freed with it
    log.clear();
    runner.Abandon();
    EXPECT_EQ(log, (Log{"cancel 1 m2", "release"}));
    EXPECT_EQ(runner.WaitingLists(), 0u);
    EXPECT_EQ(runner.CurrentRequestId(), 0);
}

} // namespace
