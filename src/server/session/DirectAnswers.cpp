#include "server/session/DirectAnswers.h"

#include "core/Logging.h"
#include "core/ValueRecord.h"
#include "core/tree/Endpoint.h"
#include "server/server/ServerContext.h"

#include <vector>

namespace tarnix {

namespace {
// Room for the answer of any node that answers at once.
constexpr uint32_t kAnswerCapacity = 65536;
}  // namespace

DirectAnswer DirectAnswersTo(IFaceDataBase& protocol) {
    return [&protocol](const PostTarget& target, const uint8_t* record, uint32_t length) {
        const std::shared_ptr<const ProtocolHooks> hooks =
            getProtocolHooks(protocol.serverContext().protocols(), protocol.getInterface());
        if (!hooks || !hooks->valueEncode || length < kValueRecordHeaderSize || !target.endpoint) return;
        const ValueRecordHeader header = getValueRecordHeader(record);
        thread_local std::vector<uint8_t> out(kAnswerCapacity);
        uint32_t produced = 0;
        if (hooks->valueEncode(target.endpoint->path, target.endpoint->precision, header.sequenceTag, header.kind,
                               out.data(), kAnswerCapacity, produced, record + kValueRecordHeaderSize,
                               length - kValueRecordHeaderSize) != QV_NO_ERROR) {
            QVLOG(logging::error) << "Error in conversion (referenced).";
        }
        if (produced > kAnswerCapacity) produced = kAnswerCapacity;
        protocol.queueReply(out.data(), produced);
    };
}

}  // namespace tarnix
