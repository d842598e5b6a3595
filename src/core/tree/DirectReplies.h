#pragma once
#include <cstdint>

// Replies that a tree's owner hands straight to the session that asked, on
// its own thread, instead of through the dispatcher: one thread less between
// a client's request and its answer. Only replies (reply-only records) that
// nothing queued before them could overtake go this way; everything else goes
// through the output FIFO and the dispatcher as always.
namespace tarnix {

struct Endpoint;
class TreeRegistry;

// While it lives, reply-only records that the calling thread writes through the
// ReturnParamValue family with the tags of one request are kept aside instead
// of going into the FIFO (when `active`). Afterwards the owner delivers them
// with deliver(), or, when that is not possible, queues them into the FIFO as
// they would have gone.
class DirectReplyCapture {
public:
    DirectReplyCapture(uint16_t sequenceTag, uint16_t sessionTag, bool active);
    ~DirectReplyCapture();
    DirectReplyCapture(const DirectReplyCapture&) = delete;
    DirectReplyCapture& operator=(const DirectReplyCapture&) = delete;

    // Whether a record with the request's tags was written (or kept aside).
    bool replied() const;
    // Whether anything was kept aside.
    bool captured() const;
    // Hands what was kept aside to the session through the registry's
    // deliverer (TreeRegistry::setDirectReplyDeliverer); false, with nothing
    // handed over, when there is no deliverer or the endpoint is unknown.
    bool deliver(TreeRegistry& registry, const Endpoint* endpoint);
    // Writes what was kept aside into `fifo`, in order; false when it did not fit.
    bool queue(class QVFifo& fifo);
};

}  // namespace tarnix
