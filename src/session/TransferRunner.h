// Runs transfer lists: the device reserved for a list, one Submit at a time, each completion moving the
// list on, the three ways to cancel, one summary at the end. Portable: it asks its host only to hand a
// list back later (a posted message) and to show a box, so it is tested without a window.
#pragma once
#include "session/BatchSummary.h"
#include "session/DeviceRequests.h"
#include "session/TransferList.h"
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

class ITransferHost {
public:
    virtual ~ITransferHost() = default;
    // Gives `list` back to CTransferRunner::Step later, from the message loop. False when it cannot; the
    // list is gone then.
    virtual bool PostStep(std::unique_ptr<CTransferList> list) = 0;
    // A box owned by the control. It may let other work run meanwhile, the runner's own Abandon included.
    virtual void ShowBox(const std::string& text, const std::string& caption, bool warning) = 0;
    // A list ended after its items ran (or were cancelled): what it changed is read again.
    virtual void ListEnded(const CTransferList& list) = 0;
};

class CTransferRunner {
public:
    // How long the device may take to answer a transfer item, and to grant its reservation.
    static constexpr long kItemWait = 1000;
    static constexpr long kReserveWait = 1000;
    // The cancel mode that stops a running file at once.
    static constexpr long kCancelStop = 2;

    CTransferRunner(IDeviceRequests& device, ITransferHost& host) : m_device(device), m_host(host) {}
    CTransferRunner(const CTransferRunner&) = delete;
    CTransferRunner& operator=(const CTransferRunner&) = delete;
    ~CTransferRunner() { Abandon(); }

    // Reserves the device for `list` and posts its first step; a busy device ends the list with a box. A
    // list with nothing to send, or refused, still names the entries left out while it was built. While
    // another list runs, `list` waits behind it (and those before it) and starts when they have ended.
    void Start(std::unique_ptr<CTransferList> list);
    // Submits the item under the list's cursor, or ends the list past its last item or after a cancel.
    // A list that was never started runs from its cursor without a reservation of its own.
    void Step(std::unique_ptr<CTransferList> list);
    // A request's completion. True when it was the running item of one of this runner's lists; any other
    // user data (a list that ended, a stray completion) is never touched.
    bool Complete(long requestCode, const RequestResult& result, uintptr_t userData);
    // The user's cancel: stops the running request `requestId` at once (0: lets the running item finish)
    // and every list that runs now stops after its running item.
    void Cancel(long requestId);
    // The host is going: running items are cancelled, the device released, the lists (waiting ones too)
    // freed. Nothing is shown.
    void Abandon();

    size_t RunningLists() const { return m_runs.size(); }
    size_t WaitingLists() const { return m_queue.size(); }
    bool CancelRequested() const { return m_cancelRequested; }
    // The running item's request id; 0 between items.
    long CurrentRequestId() const { return m_currentRequestId; }

private:
    // A list between its start and its end. While one of its items runs the list is kept here;
    // otherwise it travels in a posted step, which owns it.
    struct Run {
        std::unique_ptr<CTransferList> waiting;
        long request = 0;   // the running item's request code
        long requestId = 0; // and its id
        bool reserved = false;
        bool cancelled = false;
        CBatchSummary summary;
    };

    void Post(std::unique_ptr<CTransferList> list);
    // Starts the first waiting list once nothing runs.
    void StartWaiting();
    void ReleaseDevice(Run& run);
    void End(std::unique_ptr<CTransferList> list, CBatchSummary::Ending ending);
    // The batch's summary, when it has anything to tell.
    void ShowSummary(const CBatchSummary& summary, CBatchSummary::Ending ending, const CTransferList& list);

    IDeviceRequests& m_device;
    ITransferHost& m_host;
    std::map<const CTransferList*, Run> m_runs;
    std::deque<std::unique_ptr<CTransferList>> m_queue;
    bool m_cancelRequested = false;
    long m_currentRequestId = 0;
};
