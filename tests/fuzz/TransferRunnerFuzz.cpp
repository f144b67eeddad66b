// The transfer runner under any order of its calls and the host's, re-entrant ones included: each list goes
// once and never while its item runs uncancelled, items run singly and in order, reservations return.
#include "session/TransferRunner.h"

#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition)
        __builtin_trap();
}

enum Op { kStart, kStep, kComplete, kStray, kCancel, kFail, kAbandon, kReenter, kOps };
enum Fault { kFailReserve = 1, kFailSubmit = 2, kFailPost = 4 };

struct Fuzz : IDeviceRequests, ITransferHost {
    struct List {
        long code, current = 0; // its request code; the id of its running item (-1: its item is in a call)
        uintptr_t data;
        int ends = 0, submitted = 0;
    };
    const uint8_t* in;
    size_t left;
    std::deque<List> lists;
    std::vector<int> requests; // request id - 1 -> its list
    std::set<long> cancelled;
    std::vector<long> mustCancel;
    std::deque<std::unique_ptr<CTransferList>> posted;
    int held = 0, faults = 0, reenter = -1; // granted reservations; an op the next box or submit lets in
    bool abandoning = false, abandonReleased = false;
    CTransferRunner runner{*this, *this};

    Fuzz(const uint8_t* data, size_t size) : in(data), left(size) {}
    uint8_t Byte() { return left ? (--left, *in++) : 0; }
    bool Fails(int fault) { return std::exchange(faults, faults & ~fault) & fault; }
    List& Of(long id) { return lists[requests[id - 1]]; }
    bool Running(long id) { return !Of(id).ends && Of(id).current == id; }
    // Running items, or those whose completion can no longer be their list's.
    std::vector<long> Pick(bool running) {
        std::vector<long> ids;
        for (long id = 1; id <= static_cast<long>(requests.size()); ++id)
            if (running ? Running(id) : Of(id).ends || !Of(id).current)
                ids.push_back(id);
        return ids;
    }
    // A box or a submit lets anything in, the host's going included.
    void Reenter() {
        if (reenter >= 0)
            Run(std::exchange(reenter, -1));
    }
    // Only its running item's completion moves a list on; a repeat cannot be told from it until it is taken.
    void Deliver(long id, long code, const RequestResult& result) {
        const bool expected = Running(id) && code == Of(id).code;
        Of(id).current = expected ? -1 : Of(id).current;
        Require(runner.Complete(code, result, Of(id).data) == expected);
        Of(id).current = expected ? 0 : Of(id).current;
    }
    void Run(int op);

    RequestResult Execute(long, CParamBlock&, CParamBlock*, long) override { return {}; }
    RequestResult ReserveDevice(long) override {
        const bool busy = Fails(kFailReserve);
        held += !busy;
        return busy ? RequestResult::Failure(7, "busy") : RequestResult::Success();
    }
    RequestResult ReleaseDevice() override {
        // One reservation per session however often it was granted: the abandon gives it back once.
        Require(abandoning ? !abandonReleased : held > 0);
        held = abandoning ? 0 : held - 1;
        abandonReleased = abandoning;
        return RequestResult::Success();
    }
    RequestResult Submit(long code, CParamBlock& block, long, uintptr_t data, long& id) override {
        const int serial = std::stoi(block.At(0).GetText()); // "list.item"
        List& list = lists[serial];
        Require(list.data == data && !list.ends && !list.current && code == list.code &&
                block.Count() == (code == REQ_LOAD_PROGRAM ? 1u : 2u));
        Require(block.At(0).GetText() == std::to_string(serial) + "." + std::to_string(list.submitted++));
        const bool refuse = Fails(kFailSubmit);
        list.current = -1;
        if (!refuse)
            requests.push_back(serial), id = static_cast<long>(requests.size());
        Reenter();
        // A list that went during the call: the request it started must be cancelled once the call returns.
        if (lists[serial].ends && !refuse)
            mustCancel.push_back(id);
        lists[serial].current = refuse || lists[serial].ends ? 0 : id;
        return refuse ? RequestResult::Failure(9, "refused") : RequestResult::Success();
    }
    RequestResult Cancel(long id, long mode) override {
        Require(id && mode == CTransferRunner::kCancelStop);
        cancelled.insert(id);
        return RequestResult::Success();
    }
    bool PostStep(std::unique_ptr<CTransferList> list) override {
        if (!Fails(kFailPost))
            posted.push_back(std::move(list));
        return !list; // one not posted is freed on return
    }
    void ShowBox(const std::string& text, const std::string& caption, bool) override {
        Require(!text.empty() && !caption.empty());
        Reenter();
    }
    void ListEnded(const CTransferList&) override {}
};

void Fuzz::Run(int op) {
    const uint8_t b = Byte();
    const std::vector<long> running = Pick(true), late = Pick(false);
    if (op == kStart) {
        const int serial = static_cast<int>(lists.size());
        auto list = std::make_unique<CTransferList>();
        for (int i = 0; i < b % 6; ++i)
            list->items.push_back({std::to_string(serial) + "." + std::to_string(i), "d"});
        const long codes[] = {REQ_RECEIVE_FILE, REQ_SEND_FILE, REQ_LOAD_PROGRAM, REQ_LOAD_PROGRAM};
        const long code = codes[b / 6 % 4];
        list->direction = b / 6 % 2;
        list->operation = code == REQ_LOAD_PROGRAM ? code : 0;
        lists.push_back({code, 0, reinterpret_cast<uintptr_t>(list.get())});
        list->onEnd = [this, serial](const CTransferList&) {
            List& ended = lists[serial];
            Require(++ended.ends == 1 && (ended.current <= 0 || cancelled.count(ended.current)));
        };
        runner.Start(std::move(list));
    } else if (op == kStep && !posted.empty()) {
        std::unique_ptr<CTransferList> list = std::move(posted.front());
        posted.pop_front();
        runner.Step(std::move(list));
        for (const long id : std::exchange(mustCancel, {}))
            Require(cancelled.count(id) == 1);
    } else if (op == kComplete && !running.empty()) {
        const long codes[] = {0, SE_CANCELLED, SE_CONNECTION_LOST, 5};
        const long id = running[b % running.size()], code = codes[Byte() % 4];
        Deliver(id, Of(id).code, code ? RequestResult::Failure(code, "failed") : RequestResult::Success());
    } else if (op == kStray) {
        Require(!runner.Complete(REQ_SEND_FILE, {}, b % 2 ? 0 : reinterpret_cast<uintptr_t>(this)));
        if (!running.empty())
            Deliver(running[b % running.size()], REQ_DELETE_FILE, RequestResult::Success());
        if (!late.empty())
            Deliver(late[b % late.size()], Of(late[b % late.size()]).code, RequestResult::Success());
    } else if (op == kCancel) {
        runner.Cancel(b % 2 ? runner.CurrentRequestId() : 0);
    } else if (op == kFail) {
        faults |= 1 << b % 3;
    } else if (op == kAbandon) {
        const bool wasHeld = held > 0;
        abandoning = true, abandonReleased = false;
        runner.Abandon();
        abandoning = false;
        Require(abandonReleased == wasHeld && runner.RunningLists() == 0);
    } else if (op == kReenter) {
        reenter = b % kOps;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz fuzz(data, size);
    while (fuzz.left)
        fuzz.Run(fuzz.Byte() % kOps);
    // Run out what is left, then go: every list has ended and every reservation is back.
    fuzz.reenter = -1;
    fuzz.faults = 0;
    while (!fuzz.posted.empty() || !fuzz.Pick(true).empty())
        fuzz.Run(fuzz.posted.empty() ? kComplete : kStep);
    fuzz.Run(kAbandon);
    Require(fuzz.posted.empty() && fuzz.held == 0);
    for (const auto& list : fuzz.lists)
        Require(list.ends == 1);
    return 0;
}
