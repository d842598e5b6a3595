#include "server/node/ServerTreeReads.h"

#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"
#include "server/listener/Listener.h"
#include "server/node/ServerNodeImpl.h"
#include "server/server/ServerStrings.h"

namespace tarnix {

ServerTreeReads::Value ServerTreeReads::read(int32_t id) const {
    Value value;
    const auto integer = [&](int64_t v) {
        value.kind = Kind::Integer;
        value.integer = v;
    };
    const auto text = [&](std::string t) {
        value.kind = Kind::Text;
        value.text = std::move(t);
    };
    const std::shared_ptr<Listener> settings = listener.lock();
    if (id == ids.port) {
        integer(settings ? settings->getPort() : 0);
    } else if (id == ids.open) {
        integer(settings && settings->getOpenOverride() == 1 ? 1 : 0);
    } else if (id == ids.level) {
        integer(debugLevel.load());
    } else if (id == ids.version) {
        text(getServerString(SERVER_STRING_VERSION));
    } else if (id == ids.copyright) {
        text(getServerString(SERVER_STRING_COPYRIGHT));
    } else if (id == ids.revision) {
        integer(kServerRevision);
    } else if (id == ids.fwRevision) {
        integer(kFirmwareRevision);
    } else if (id == ids.clockBase) {
        value.kind = Kind::Double;
        value.number = double(impl::ServerNodeImpl::kClockBase);
    }
    return value;
}

bool ServerTreeReads::reply(uint16_t sequenceTag, uint16_t sessionTag, int32_t id,
                            std::vector<uint8_t>& record) const {
    const Value value = read(id);
    ValueRecordHeader header;
    header.sequenceTag = sequenceTag;
    header.sessionTag = sessionTag;
    header.endpointId = uint32_t(id);
    header.flags = VALUE_FLAG_REPLY_ONLY;
    switch (value.kind) {
        case Kind::Integer:
            record.resize(kValueRecordNumberSize);
            putValueRecordInteger(record.data(), header, value.integer);
            return true;
        case Kind::Double:
            record.resize(kValueRecordNumberSize);
            putValueRecordDouble(record.data(), header, value.number);
            return true;
        case Kind::Text:
            record.resize(valueRecordLength(DATATYPE_BYTEARRAY, uint32_t(value.text.size())));
            putValueRecordByteArray(record.data(), header, value.text.data(), uint32_t(value.text.size()));
            return true;
        default:
            return false;
    }
}

bool ServerTreeReads::replyAtOnce(uint16_t sequenceTag, uint16_t sessionTag, int32_t id,
                                  const std::function<void(const uint8_t* record, uint32_t length)>& answer) const {
    thread_local std::vector<uint8_t> record;
    SharedLock<SharedMutex> lock(nodeLock);
    if (changing || (output && output->used() != 0) || !reply(sequenceTag, sessionTag, id, record)) return false;
    answer(record.data(), uint32_t(record.size()));
    return true;
}

}  // namespace tarnix
