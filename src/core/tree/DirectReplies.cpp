#include "core/tree/DirectReplies.h"

#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"
#include "core/tree/TreeRegistry.h"

#include <memory>

namespace tarnix {

DirectReplyCapture::DirectReplyCapture(uint16_t sequenceTag, uint16_t sessionTag, bool active) {
    detail::replyWatch().begin(sequenceTag, sessionTag, active);
}

DirectReplyCapture::~DirectReplyCapture() { detail::replyWatch().end(); }

bool DirectReplyCapture::replied() const { return detail::replyWatch().replied; }

bool DirectReplyCapture::captured() const { return !detail::replyWatch().captured.empty(); }

bool DirectReplyCapture::deliver(TreeRegistry& registry, const Endpoint* endpoint) {
    detail::ReplyWatchState& watch = detail::replyWatch();
    const std::shared_ptr<const DirectReplyDeliverer> deliverer = registry.directReplyDeliverer();
    if (!deliverer || !endpoint) return false;
    while (!watch.captured.empty()) {
        const std::vector<uint8_t>& record = watch.captured.front();
        if (!(*deliverer)(*endpoint, record.data(), uint32_t(record.size()))) return false;
        watch.captured.erase(watch.captured.begin());
    }
    return true;
}

bool DirectReplyCapture::queue(QVFifo& fifo) {
    detail::ReplyWatchState& watch = detail::replyWatch();
    bool all = true;
    for (const std::vector<uint8_t>& record : watch.captured) {
        FifoWriter writer(fifo, uint32_t(record.size()));
        if (!writer.isValid()) {
            all = false;
            continue;
        }
        writer.commit(record.data(), uint32_t(record.size()));
    }
    watch.captured.clear();
    return all;
}

}  // namespace tarnix
