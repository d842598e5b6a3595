#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <vector>

// Requests that were queued for a tree whose owner ended before taking them.
// Their sessions are still told, by the dispatcher, that no value is coming.
namespace tarnix {

class QVFifo;
class TreeRegistry;

struct FailedRequest {
    uint16_t sequenceTag = 0;
    uint16_t sessionTag = 0;
    QV_STATUS status = QV_VALUE_NOT_FOUND;
};

// Reads every request left in the FIFO and notes it as failed. Called by the
// tree's owner once its RequestGate is closed, so that nothing follows. The
// registry keeps them and wakes its dispatcher.
void DispatcherFailQueuedRequests(TreeRegistry& registry, QVFifo& requestFifo);

// The requests noted so far, taken out; the dispatcher answers them.
std::vector<FailedRequest> DispatcherTakeFailedRequests(TreeRegistry& registry);

}  // namespace tarnix
