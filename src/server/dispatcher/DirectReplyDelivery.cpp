#include "server/dispatcher/DirectReplyDelivery.h"

#include "core/Logging.h"
#include "core/LogRateLimit.h"
#include "core/ValueRecord.h"
#include "core/tree/DirectReplies.h"
#include "core/tree/Endpoint.h"
#include "core/tree/SessionClient.h"
#include "server/server/ServerContext.h"

#include <mutex>
#include <shared_mutex>

#include <vector>

namespace tarnix {

namespace {

// Room for a converted reply; a longer one goes through the dispatcher.
constexpr uint32_t kReplyCapacity = 65536;

bool deliver(ServerContext& context, const Endpoint& endpoint, const uint8_t* record, uint32_t length) {
    if (length < kValueRecordHeaderSize) return false;
    const ValueRecordHeader header = getValueRecordHeader(record);
    if (header.sessionTag == kUnsolicitedSessionTag) return false;
    thread_local std::vector<uint8_t> out(kReplyCapacity);
    TreeRegistry& trees = context.treeRegistry();
    UniqueLock<SharedMutex> lock(trees.sessionListMutex());
    SessionClient* asking = trees.sessionClientList().find(header.sessionTag);
    if (!asking || !asking->writeFunction) return false;
    const std::shared_ptr<const ProtocolHooks> hooks =
        getProtocolHooks(context.protocols(), InterfaceType(asking->interfaceType.load()));
    if (!hooks || !hooks->valueEncode) return false;
    uint32_t produced = 0;
    if (hooks->valueEncode(endpoint.path, endpoint.precision, header.sequenceTag, header.kind, out.data(),
                           kReplyCapacity, produced, record + kValueRecordHeaderSize,
                           length - kValueRecordHeaderSize) != QV_NO_ERROR) {
        if (produced == 0) return false;
        QVLOG_LIMITED(logging::error) << "Error in conversion (referenced).";
    }
    asking->write(out.data(), produced, WRITE_CLASS_REPLY);
    return true;
}

}  // namespace

void installDirectReplyDelivery(ServerContext& context) {
    context.treeRegistry().setDirectReplyDeliverer(
        [&context](const Endpoint& endpoint, const uint8_t* record, uint32_t length) {
            return deliver(context, endpoint, record, length);
        });
}

void removeDirectReplyDelivery(ServerContext& context) { context.treeRegistry().setDirectReplyDeliverer(nullptr); }

}  // namespace tarnix
