#include <cstring>

#include "RequestSupport.h"

using namespace tarnix;
using namespace tarnix::client;

namespace {

// The server refuses messages above its input buffer.
constexpr uint64_t kServerMessageLimit = 1048576;

// Sends a get of the path and keeps the first answering value of type a or b.
QV_STATUS getValue(QvHandle* handle, const char* path, const void* out, uint16_t typeA, uint16_t typeB,
                   CollectedValue& value) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    if (out == nullptr) return QV_BUFFER_TOO_SMALL;
    uint16_t id = 0;
    QV_STATUS st = startRequest(*handle, wire::MSG_GET_VALUE, path, id);
    if (st != QV_NO_ERROR) return st;
    return ClientCollectEvents(*handle, wire::MSG_GET_VALUE_REPLY, id, value, typeA, typeB);
}

// A getter of one sample record of the given type.
template <class Sample, class Decode>
QV_STATUS getSample(QvHandle* handle, const char* path, Sample* out, uint16_t type, Decode&& decode) {
    return guarded([&] {
        CollectedValue value;
        QV_STATUS st = getValue(handle, path, out, type, 0, value);
        if (st != QV_NO_ERROR) return st;
        if (value.valueType != type) return QV_STATUS(QV_VALUE_NOT_FOUND);
        decode(value.data, *out);
        return QV_STATUS(QV_NO_ERROR);
    });
}

// Sends a set with an 8-byte value and waits for the answering value.
template <class Encode>
QV_STATUS setNumber(QvHandle* handle, const char* path, uint16_t type, Encode&& encode) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    uint16_t id = 0;
    QV_STATUS st = startRequest(*handle, type, path, wire::kNumberSize, encode, id);
    if (st != QV_NO_ERROR) return st;
    CollectedValue value;
    return ClientCollectEvents(*handle, wire::MSG_SET_VALUE_REPLY, id, value, wire::EVENT_DOUBLE, wire::EVENT_INTEGER);
}

// The byte-array value of a received message, when it is one that
// qvAPIGetValueB takes.
bool byteArrayOf(const QvHandle& handle, const uint8_t*& bytes, uint32_t& byteCount) {
    wire::ValueEventView event;
    if (!wire::decodeValueEvent(handle.reply.data(), handle.replyLength, event)) return false;
    if (event.dataType != wire::EVENT_BYTEARRAY || event.count != 1) return false;
    if (!wire::eventDataConsistent(event.dataType, event.count, event.data, event.dataLength)) return false;
    byteCount = le::get32(event.data);
    bytes = event.data + wire::kByteCountSize;
    return true;
}

}  // namespace

extern "C" {

QV_STATUS qvAPIGetValueD(QvHandle* handle, const char* path, double* out) {
    return guarded([&] {
        CollectedValue value;
        QV_STATUS st = getValue(handle, path, out, wire::EVENT_DOUBLE, wire::EVENT_INTEGER, value);
        if (st != QV_NO_ERROR) return st;
        *out = value.valueType == wire::EVENT_DOUBLE ? le::getDouble(value.data) : double(int64_t(le::get64(value.data)));
        return QV_STATUS(QV_NO_ERROR);
    });
}

QV_STATUS qvAPIGetValueI(QvHandle* handle, const char* path, int64_t* out) {
    return guarded([&] {
        CollectedValue value;
        QV_STATUS st = getValue(handle, path, out, wire::EVENT_DOUBLE, wire::EVENT_INTEGER, value);
        if (st != QV_NO_ERROR) return st;
        *out = value.valueType == wire::EVENT_DOUBLE ? saturatingTruncate(le::getDouble(value.data))
                                                     : int64_t(le::get64(value.data));
        return QV_STATUS(QV_NO_ERROR);
    });
}

QV_STATUS qvAPIGetValueS(QvHandle* handle, const char* path, DataDemodSample* out) {
    return getSample(handle, path, out, wire::EVENT_DEMODSAMPLE,
                     [](const uint8_t* data, DataDemodSample& sample) { wire::decodeDemodSample(data, sample); });
}

QV_STATUS qvAPIGetValueDIO(QvHandle* handle, const char* path, DataDIOSample* out) {
    return getSample(handle, path, out, wire::EVENT_DIOSAMPLE,
                     [](const uint8_t* data, DataDIOSample& sample) { wire::decodeDIOSample(data, sample); });
}

QV_STATUS qvAPIGetValueAuxIn(QvHandle* handle, const char* path, DataAuxInSample* out) {
    return getSample(handle, path, out, wire::EVENT_AUXINSAMPLE,
                     [](const uint8_t* data, DataAuxInSample& sample) { wire::decodeAuxInSample(data, sample); });
}

QV_STATUS qvAPIGetValueB(QvHandle* handle, const char* path, uint8_t* buffer, uint32_t* length,
                         uint32_t bufferSize) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    if (length != nullptr) *length = 0;
    return guarded([&] {
        uint16_t id = 0;
        QV_STATUS st = startRequest(*handle, wire::MSG_GET_VALUE, path, id);
        if (st != QV_NO_ERROR) return st;
        st = ClientWaitMessage(*handle, id, kReplyTimeoutMs);
        if (st != QV_NO_ERROR) return st;
        uint32_t nodes = 0;
        if (wire::decodeHeader(handle->reply.data()).type != wire::MSG_GET_VALUE_REPLY ||
            !replyNodeCount(*handle, nodes) || nodes == 0) {
            return QV_STATUS(QV_VALUE_NOT_FOUND);
        }
        bool found = false;
        for (uint32_t i = 0; i < nodes; ++i) {
            st = ClientWaitMessage(*handle, id, kReplyTimeoutMs);
            if (st != QV_NO_ERROR) return st;
            const uint8_t* bytes = nullptr;
            uint32_t byteCount = 0;
            if (found || !byteArrayOf(*handle, bytes, byteCount)) continue;
            found = true;
            if (buffer != nullptr && byteCount <= bufferSize) {
                if (byteCount != 0) std::memcpy(buffer, bytes, byteCount);
                if (length != nullptr) *length = byteCount;
            }
        }
        return QV_STATUS(found ? QV_NO_ERROR : QV_VALUE_NOT_FOUND);
    });
}

QV_STATUS qvAPIGetValueAsPollData(QvHandle* handle, const char* path) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    return guarded([&] {
        uint16_t id = 0;
        QV_STATUS st = startRequest(*handle, wire::MSG_GET_VALUE_POLL, path, id);
        if (st != QV_NO_ERROR) return st;
        st = awaitReply(*handle, id, wire::MSG_GET_VALUE_REPLY, kReplyTimeoutMs);
        if (st != QV_NO_ERROR) return st;
        uint32_t nodes = 0;
        if (!replyNodeCount(*handle, nodes)) return QV_STATUS(QV_COMMAND_INTERNAL);
        return QV_STATUS(nodes == 0 ? QV_VALUE_NOT_FOUND : QV_NO_ERROR);
    });
}

QV_STATUS qvAPISetValueD(QvHandle* handle, const char* path, double value) {
    return guarded([&] {
        return setNumber(handle, path, wire::MSG_SET_DOUBLE, [value](uint8_t* at) { le::putDouble(at, value); });
    });
}

QV_STATUS qvAPISetValueI(QvHandle* handle, const char* path, int64_t value) {
    return guarded([&] {
        return setNumber(handle, path, wire::MSG_SET_INTEGER, [value](uint8_t* at) { le::put64(at, uint64_t(value)); });
    });
}

QV_STATUS qvAPISetValueB(QvHandle* handle, const char* path, const uint8_t* bytes, uint32_t length) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    if (length == 0 || bytes == nullptr) return QV_BUFFER_TOO_SMALL;
    return guarded([&] {
        PathArgument p;
        QV_STATUS st = checkRequest(*handle, path, p);
        if (st != QV_NO_ERROR) return st;
        if (wire::kHeaderSize + uint64_t(wire::setBytesBodySize(p.length, 0)) + length > kServerMessageLimit) {
            return QV_STATUS(QV_BUFFER_TOO_SMALL);
        }
        uint16_t id = 0;
        st = sendPathRequest(
            *handle, wire::MSG_SET_BYTES, p, wire::kByteCountSize + length,
            [&](uint8_t* at) {
                le::put32(at, length);
                std::memcpy(at + wire::kByteCountSize, bytes, length);
            },
            id);
        if (st != QV_NO_ERROR) return st;
        CollectedValue value;
        st = ClientCollectEvents(*handle, wire::MSG_SET_VALUE_REPLY, id, value, wire::EVENT_INTEGER, 0);
        if (st != QV_NO_ERROR) return st;
        // The node answers with the number of bytes it took.
        if (value.valueType != wire::EVENT_INTEGER || int64_t(le::get64(value.data)) != int64_t(length)) {
            return QV_STATUS(QV_COMMAND_SERVER_FAILED);
        }
        return QV_STATUS(QV_NO_ERROR);
    });
}

}  // extern "C"
