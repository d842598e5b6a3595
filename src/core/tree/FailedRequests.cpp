#include "core/tree/FailedRequests.h"

#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"
#include "core/tree/TreeRegistry.h"

namespace tarnix {

void DispatcherFailQueuedRequests(TreeRegistry& registry, QVFifo& requestFifo) {
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
    registry.addFailedRequests(found);
}

std::vector<FailedRequest> DispatcherTakeFailedRequests(TreeRegistry& registry) {
    return registry.takeFailedRequests();
}

}  // namespace tarnix
