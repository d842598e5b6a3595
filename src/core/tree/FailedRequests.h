#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <vector>

// Requests that a tree can no longer answer: they waited for an owner that
// ended before taking them, or their answers were still queued for the
// dispatcher when the tree was removed. Their sessions are still told, by the
// dispatcher, that no value is coming.
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

// Notes every answer to a session still in a removed tree's output FIFO as a
// failed request, and empties the FIFO: the dispatcher no longer reads it.
void DispatcherFailUndeliveredAnswers(TreeRegistry& registry, QVFifo& outputFifo);

// The requests noted so far, taken out; the dispatcher answers them.
std::vector<FailedRequest> DispatcherTakeFailedRequests(TreeRegistry& registry);

}  // namespace tarnix
