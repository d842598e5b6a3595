#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <vector>

// Requests that were queued for a tree whose owner ended before taking them.
// Their sessions are still told, by the dispatcher, that no value is coming.
namespace tarnix {

class QVFifo;
class RequestGate;
class TreeRegistry;

struct FailedRequest {
    uint16_t sequenceTag = 0;
    uint16_t sessionTag = 0;
    QV_STATUS status = QV_VALUE_NOT_FOUND;
};

// Closes the gate and notes every request still in its queue or waiting at it
// as failed. Called by the tree's owner when it ends, so that nothing follows.
// The registry keeps them and wakes its dispatcher.
void DispatcherFailQueuedRequests(TreeRegistry& registry, RequestGate& gate);

// The requests noted so far, taken out; the dispatcher answers them.
std::vector<FailedRequest> DispatcherTakeFailedRequests(TreeRegistry& registry);

}  // namespace tarnix
