#include "core/tree/FailedRequests.h"

#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/RequestGate.h"
#include "core/tree/TreeRegistry.h"

namespace tarnix {

namespace {

void noteFailed(std::vector<FailedRequest>& found, const uint8_t* record, uint32_t length) {
    if (length < kValueRecordHeaderSize) return;
    const ValueRecordHeader header = getValueRecordHeader(record);
    // Records that no request caused (pushes of the instrument's own
    // changes, tree changes) owe nobody an answer.
    if (header.sessionTag == kUnsolicitedSessionTag) return;
    found.push_back(FailedRequest{header.sequenceTag, header.sessionTag, QV_VALUE_NOT_FOUND});
}

// Reads every record left in the FIFO into `found`.
void drain(QVFifo& fifo, std::vector<FailedRequest>& found) {
    for (;;) {
        FifoReader reader(fifo, 0);
        if (!reader.isValid()) break;
        noteFailed(found, reader.data(), reader.length());
        reader.commitAll();
    }
}

}  // namespace

void DispatcherFailQueuedRequests(TreeRegistry& registry, RequestGate& gate) {
    const std::vector<std::vector<uint8_t>> waiting = gate.close();
    std::vector<FailedRequest> found;
    // The queue holds the older requests.
    drain(gate.queue(), found);
    for (const std::vector<uint8_t>& record : waiting) noteFailed(found, record.data(), uint32_t(record.size()));
    registry.addFailedRequests(found);
}

void DispatcherFailUndeliveredAnswers(TreeRegistry& registry, QVFifo& outputFifo) {
    std::vector<FailedRequest> found;
    drain(outputFifo, found);
    registry.addFailedRequests(found);
}

std::vector<FailedRequest> DispatcherTakeFailedRequests(TreeRegistry& registry) {
    return registry.takeFailedRequests();
}

}  // namespace tarnix
