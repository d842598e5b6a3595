#include "core/tree/FailedRequests.h"

#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"
#include "core/tree/DispatcherTree.h"

#include <atomic>
#include <mutex>

namespace tarnix {

namespace {

struct FailedRequestList {
    std::mutex mutex;
    std::vector<FailedRequest> requests;
    // Lets the dispatcher skip the lock on every pass while nothing failed.
    std::atomic<bool> any{false};
};

FailedRequestList& failedRequests() {
    static FailedRequestList list;
    return list;
}

}  // namespace

void DispatcherFailQueuedRequests(QVFifo& requestFifo) {
    std::vector<FailedRequest> found;
    for (;;) {
        FifoReader reader(requestFifo, 0);
        if (!reader.isValid()) break;
        if (reader.length() >= kValueRecordHeaderSize) {
            const ValueRecordHeader header = getValueRecordHeader(reader.data());
            found.push_back(FailedRequest{header.sequenceTag, header.sessionTag, QV_VALUE_NOT_FOUND});
        }
        reader.commitAll();
    }
    if (found.empty()) return;
    FailedRequestList& list = failedRequests();
    {
        std::lock_guard<std::mutex> lock(list.mutex);
        list.requests.insert(list.requests.end(), found.begin(), found.end());
        list.any.store(true);
    }
    getDispatcherWakeSignal().notify();
}

std::vector<FailedRequest> DispatcherTakeFailedRequests() {
    FailedRequestList& list = failedRequests();
    std::vector<FailedRequest> taken;
    if (!list.any.load()) return taken;
    std::lock_guard<std::mutex> lock(list.mutex);
    taken.swap(list.requests);
    list.any.store(false);
    return taken;
}

}  // namespace tarnix
