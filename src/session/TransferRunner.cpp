#include "session/TransferRunner.h"

namespace {
const char kAppCaption[] = "Dorvex";
const char kErrorCaption[] = "Error";
} // namespace

void CTransferRunner::Start(std::unique_ptr<CTransferList> list) {
    if (!list)
        return;
    // One list at a time holds the device; the others wait their turn rather than find it busy.
    if (!m_runs.empty()) {
        m_queue.push_back(std::move(list));
        return;
    }
    m_cancelRequested = false;
    // A list with nothing left to send, or one the device will not take, still names what it left out.
    if (list->items.empty()) {
        list->completed = true; // nothing failed: an empty folder arrives as it is
        ShowSummary(CBatchSummary{}, CBatchSummary::Ending::Finished, *list);
        return;
    }
    if (!m_device.ReserveDevice(kReserveWait)) {
        m_host.ShowBox("Device is busy.", kAppCaption, true);
        if (!list->skipped.empty())
            ShowSummary(CBatchSummary{}, CBatchSummary::Ending::Refused, *list);
        return;
    }
    list->cursor = list->items.begin();
    Run& run = m_runs[list.get()];
    run = Run{};
    run.reserved = true;
    Post(std::move(list));
}

void CTransferRunner::Post(std::unique_ptr<CTransferList> list) {
    const CTransferList* key = list.get();
    if (m_host.PostStep(std::move(list)))
        return;
    // Not posted, so already freed: only its run is left to end.
    auto run = m_runs.find(key);
    if (run != m_runs.end()) {
        ReleaseDevice(run->second);
        m_runs.erase(run);
    }
    StartWaiting();
}

void CTransferRunner::StartWaiting() {
    while (m_runs.empty() && !m_queue.empty()) {
        std::unique_ptr<CTransferList> next = std::move(m_queue.front());
        m_queue.pop_front();
        Start(std::move(next));
    }
}

void CTransferRunner::ReleaseDevice(Run& run) {
    if (!run.reserved)
        return;
    run.reserved = false;
    m_device.ReleaseDevice();
}

void CTransferRunner::Step(std::unique_ptr<CTransferList> list) {
    if (!list)
        return;
    const CTransferList* key = list.get();
    Run& run = m_runs[key];
    if (list->cursor == list->items.end() || m_cancelRequested || run.cancelled) {
        const bool cancelled = m_cancelRequested || run.cancelled;
        // A cancel that came after the last completion still ends the reservation.
        ReleaseDevice(run);
        m_host.ListEnded(*list);
        End(std::move(list), cancelled ? CBatchSummary::Ending::Cancelled : CBatchSummary::Ending::Finished);
        return;
    }
    const TransferItem& item = *list->cursor;
    CParamBlock block;
    long request = list->operation;
    block.At(0).SetText(item.source.c_str());
    if (!request) {
        block.At(1).SetText(item.destination.c_str());
        request = list->direction == 1 ? REQ_SEND_FILE : REQ_RECEIVE_FILE;
    }
    // Kept here before the call, so that a completion can never find its list missing.
    const auto userData = reinterpret_cast<uintptr_t>(list.get());
    run.waiting = std::move(list);
    run.request = request;
    long requestId = 0;
    const RequestResult submitted = m_device.Submit(request, block, kItemWait, userData, requestId);
    auto found = m_runs.find(key);
    if (found == m_runs.end() || !found->second.waiting) {
        // Abandoned while the call ran: the request it started has no list left to run for.
        if (submitted && requestId)
            m_device.Cancel(requestId, kCancelStop);
        return;
    }
    if (submitted) {
        found->second.requestId = requestId;
        m_currentRequestId = requestId;
        return;
    }
    list = std::move(found->second.waiting);
    ReleaseDevice(found->second);
    m_host.ShowBox(submitted.text, kAppCaption, true);
    End(std::move(list), CBatchSummary::Ending::Refused);
}

bool CTransferRunner::Complete(long requestCode, const RequestResult& result, uintptr_t userData) {
    const auto* key = reinterpret_cast<const CTransferList*>(userData);
    auto found = m_runs.find(key);
    // The user data must name a list of ours whose item of this request is running: anything else could
    // be memory that is no longer a list.
    if (!userData || found == m_runs.end() || !found->second.waiting || found->second.request != requestCode)
        return false;
    Run& run = found->second;
    if (result) {
        run.summary.Succeeded();
    } else {
        // A cancelled item counts as left, not as failed.
        if (result.code != SE_CANCELLED)
            run.summary.Failed(run.waiting->cursor->source, result.text);
        // The batch's first failure is told at once; the others wait for its summary.
        if (!result.Quiet() && !run.summary.ErrorShown()) {
            run.summary.MarkErrorShown();
            m_host.ShowBox(result.text, kErrorCaption, true);
            // The box let other work in: the host may have gone and taken the list with it.
            found = m_runs.find(key);
            if (found == m_runs.end() || !found->second.waiting)
                return true;
        }
    }
    Run& current = found->second;
    std::unique_ptr<CTransferList> list = std::move(current.waiting);
    current.requestId = 0;
    ++list->cursor;
    if (list->cursor == list->items.end() || m_cancelRequested || current.cancelled)
        ReleaseDevice(current);
    m_currentRequestId = 0;
    Post(std::move(list));
    return true;
}

void CTransferRunner::Cancel(long requestId) {
    if (requestId)
        m_device.Cancel(requestId, kCancelStop);
    m_cancelRequested = true;
    // Each list that runs now stops, also when another one starts before it sees the flag.
    for (auto& run : m_runs)
        run.second.cancelled = true;
}

void CTransferRunner::End(std::unique_ptr<CTransferList> list, CBatchSummary::Ending ending) {
    auto found = m_runs.find(list.get());
    if (found == m_runs.end())
        return;
    const CBatchSummary summary = std::move(found->second.summary);
    m_runs.erase(found);
    // A cancel that came when every item had run changed nothing.
    if (ending == CBatchSummary::Ending::Cancelled && summary.Done() + summary.FailedCount() >= list->items.size())
        ending = CBatchSummary::Ending::Finished;
    list->completed = ending == CBatchSummary::Ending::Finished && summary.FailedCount() == 0;
    ShowSummary(summary, ending, *list);
    // Whoever waits for this list hears of its end before the next one starts.
    list.reset();
    StartWaiting();
}

void CTransferRunner::ShowSummary(const CBatchSummary& summary, CBatchSummary::Ending ending,
                                  const CTransferList& list) {
    if (!summary.WorthShowing(ending, list.skipped.size()))
        return;
    const bool bad = summary.FailedCount() > 0 || !list.skipped.empty() || ending == CBatchSummary::Ending::Refused;
    m_host.ShowBox(summary.Text(ending, list.items.size(), list.skipped), kAppCaption, bad);
}

void CTransferRunner::Abandon() {
    std::map<const CTransferList*, Run> runs;
    runs.swap(m_runs);
    std::deque<std::unique_ptr<CTransferList>> waiting;
    waiting.swap(m_queue);
    bool reserved = false;
    for (auto& [key, run] : runs) {
        if (run.waiting && run.requestId)
            m_device.Cancel(run.requestId, kCancelStop);
        reserved = reserved || run.reserved;
    }
    if (reserved)
        m_device.ReleaseDevice();
    m_currentRequestId = 0;
}
