#include "core/ValueRecord.h"

#include "platform/endian/ByteOrder.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/fifo/QVFifo.h"

#include <boost/current_function.hpp>

#include <cstring>
#include <limits>

namespace tarnix {

void putValueRecordHeader(uint8_t* p, const ValueRecordHeader& h) {
    le::put16(p, h.sequenceTag);
    le::put16(p + 2, h.sessionTag);
    le::put32(p + 4, h.endpointId);
    le::put16(p + 8, h.kind);
    le::put16(p + 10, h.flags);
}

ValueRecordHeader getValueRecordHeader(const uint8_t* p) {
    ValueRecordHeader h;
    h.sequenceTag = le::get16(p);
    h.sessionTag = le::get16(p + 2);
    h.endpointId = le::get32(p + 4);
    h.kind = le::get16(p + 8);
    h.flags = le::get16(p + 10);
    return h;
}

uint32_t valueRecordLength(uint16_t kind, uint32_t byteCount) {
    switch (kind) {
    case DATATYPE_DOUBLE:
    case DATATYPE_INTEGER: return kValueRecordNumberSize;
    case DATATYPE_DEMODSAMPLE:
    case DATATYPE_AUXINSAMPLE:
    case DATATYPE_DIOSAMPLE: return kValueRecordHeaderSize + uint32_t(sampleSizeOf(kind));
    case DATATYPE_BYTEARRAY:
        // A length that cannot be represented is no record at all.
        if (byteCount > std::numeric_limits<uint32_t>::max() - kValueRecordByteArrayHeaderSize)
            return 0;
        return kValueRecordByteArrayHeaderSize + byteCount;
    case DATATYPE_GETVALUE: return kValueRecordHeaderSize;
    case DATATYPE_REQUEST_FAILED: return kValueRecordFailedSize;
    default: return 0;
    }
}

double ValueRecordView::asDouble() const { return le::getDouble(value); }
int64_t ValueRecordView::asInteger() const { return int64_t(le::get64(value)); }

bool parseValueRecord(const uint8_t* data, uint32_t length, ValueRecordView& view) {
    if (!data || length < kValueRecordHeaderSize) return false;
    view.header = getValueRecordHeader(data);
    view.value = data + kValueRecordValueOffset;
    view.valueLength = length - kValueRecordHeaderSize;
    switch (view.header.kind) {
    case DATATYPE_BYTEARRAY: {
        if (length < kValueRecordByteArrayHeaderSize) return false;
        const uint32_t n = le::get32(data + kValueRecordByteArrayLengthOffset);
        if (n != length - kValueRecordByteArrayHeaderSize) return false;
        view.value = data + kValueRecordByteArrayHeaderSize;
        view.valueLength = n;
        return true;
    }
    case DATATYPE_SCOPESAMPLE:
    case DATATYPE_TREECHANGE: return true;
    default: {
        const uint32_t expected = valueRecordLength(view.header.kind);
        return expected == 0 || expected == length;
    }
    }
}

void putValueRecordDouble(uint8_t* p, ValueRecordHeader h, double value) {
    h.kind = DATATYPE_DOUBLE;
    putValueRecordHeader(p, h);
    le::putDouble(p + kValueRecordValueOffset, value);
}

void putValueRecordInteger(uint8_t* p, ValueRecordHeader h, int64_t value) {
    h.kind = DATATYPE_INTEGER;
    putValueRecordHeader(p, h);
    le::put64(p + kValueRecordValueOffset, uint64_t(value));
}

void putValueRecordByteArray(uint8_t* p, ValueRecordHeader h, const void* bytes, uint32_t length) {
    h.kind = DATATYPE_BYTEARRAY;
    putValueRecordHeader(p, h);
    le::put32(p + kValueRecordByteArrayLengthOffset, length);
    if (length) std::memcpy(p + kValueRecordByteArrayHeaderSize, bytes, length);
}

namespace {

thread_local detail::ReplyWatchState tReplyWatch;

bool ofWatchedRequest(const detail::ReplyWatchState& watch, const uint8_t* record) {
    return watch.active && le::get16(record) == watch.sequenceTag && le::get16(record + 2) == watch.sessionTag;
}

void noteRecordWritten(const uint8_t* record) {
    if (ofWatchedRequest(tReplyWatch, record)) tReplyWatch.replied = true;
}

// Writes one record of recordLength bytes through fill(data) as a single
// FIFO block, or reports the full FIFO in the name of the public function.
// A reply that the thread's capture keeps aside does not go into the FIFO.
template <class Fill>
QV_STATUS writeRecord(QVFifo& fifo, const char* function, uint32_t recordLength, Fill fill) {
    detail::ReplyWatchState& watch = tReplyWatch;
    if (watch.capture && recordLength >= kValueRecordHeaderSize) {
        std::vector<uint8_t> record(recordLength);
        fill(record.data());
        if (ofWatchedRequest(watch, record.data()) && le::get16(record.data() + 10) == VALUE_FLAG_REPLY_ONLY) {
            watch.replied = true;
            watch.captured.push_back(std::move(record));
            return QV_NO_ERROR;
        }
    }
    if (recordLength != 0) {
        FifoWriter writer(fifo, recordLength);
        if (writer.isValid()) {
            fill(writer.data());
            noteRecordWritten(writer.data());
            writer.commitAll();
            return QV_NO_ERROR;
        }
    }
    QVLOG_LIMITED(logging::debug) << "QV_OVERFLOW in " << function;
    return QV_OVERFLOW;
}

ValueRecordHeader header(uint16_t sequenceTag, uint16_t sessionTag, uint32_t endpointId,
                         uint16_t kind, uint16_t flags) {
    ValueRecordHeader h;
    h.sequenceTag = sequenceTag;
    h.sessionTag = sessionTag;
    h.endpointId = endpointId;
    h.kind = kind;
    h.flags = flags;
    return h;
}

template <class Sample, class Encode>
QV_STATUS writeSampleRecord(QVFifo& fifo, const char* function, const ValueRecordHeader& h,
                            const Sample* sample, Encode encode) {
    if (!sample) return QV_ERR_GENERAL;
    return writeRecord(fifo, function, valueRecordLength(h.kind), [&](uint8_t* p) {
        putValueRecordHeader(p, h);
        encode(p + kValueRecordValueOffset, *sample);
    });
}

}  // namespace

QV_STATUS ReturnParamValueDouble(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                 uint32_t endpointId, uint16_t flags, double value) {
    const ValueRecordHeader h = header(sequenceTag, sessionTag, endpointId, DATATYPE_DOUBLE, flags);
    return writeRecord(fifo, BOOST_CURRENT_FUNCTION, kValueRecordNumberSize,
                       [&](uint8_t* p) { putValueRecordDouble(p, h, value); });
}

QV_STATUS ReturnParamValueInteger(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                  uint32_t endpointId, uint16_t flags, int64_t value) {
    const ValueRecordHeader h = header(sequenceTag, sessionTag, endpointId, DATATYPE_INTEGER, flags);
    return writeRecord(fifo, BOOST_CURRENT_FUNCTION, kValueRecordNumberSize,
                       [&](uint8_t* p) { putValueRecordInteger(p, h, value); });
}

QV_STATUS ReturnParamValueByteArray(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                    uint32_t endpointId, uint16_t flags, const void* bytes,
                                    uint32_t length) {
    if (!bytes && length != 0) return QV_ERR_GENERAL;
    const ValueRecordHeader h =
        header(sequenceTag, sessionTag, endpointId, DATATYPE_BYTEARRAY, flags);
    return writeRecord(fifo, BOOST_CURRENT_FUNCTION, valueRecordLength(DATATYPE_BYTEARRAY, length),
                       [&](uint8_t* p) { putValueRecordByteArray(p, h, bytes, length); });
}

QV_STATUS ReturnParamValueDemodSample(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                      uint32_t endpointId, uint16_t flags,
                                      const DataDemodSample* sample) {
    return writeSampleRecord(
        fifo, BOOST_CURRENT_FUNCTION,
        header(sequenceTag, sessionTag, endpointId, DATATYPE_DEMODSAMPLE, flags), sample,
        encodeDemodSample);
}

QV_STATUS ReturnParamValueAuxInSample(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                      uint32_t endpointId, uint16_t flags,
                                      const DataAuxInSample* sample) {
    return writeSampleRecord(
        fifo, BOOST_CURRENT_FUNCTION,
        header(sequenceTag, sessionTag, endpointId, DATATYPE_AUXINSAMPLE, flags), sample,
        encodeAuxInSample);
}

QV_STATUS ReturnParamValueDIOSample(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                    uint32_t endpointId, uint16_t flags,
                                    const DataDIOSample* sample) {
    return writeSampleRecord(fifo, BOOST_CURRENT_FUNCTION,
                             header(sequenceTag, sessionTag, endpointId, DATATYPE_DIOSAMPLE, flags),
                             sample, encodeDIOSample);
}

QV_STATUS ReturnParamRequestFailed(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag, uint32_t endpointId,
                                   QV_STATUS failure) {
    const ValueRecordHeader h =
        header(sequenceTag, sessionTag, endpointId, DATATYPE_REQUEST_FAILED, VALUE_FLAG_REPLY_ONLY);
    return writeRecord(fifo, BOOST_CURRENT_FUNCTION, kValueRecordFailedSize, [&](uint8_t* p) {
        putValueRecordHeader(p, h);
        le::put32(p + kValueRecordValueOffset, failure.code());
    });
}

namespace detail {
ReplyWatchState& replyWatch() { return tReplyWatch; }
}  // namespace detail

RequestReplyWatch::RequestReplyWatch(uint16_t sequenceTag, uint16_t sessionTag) {
    tReplyWatch.begin(sequenceTag, sessionTag, false);
}

RequestReplyWatch::~RequestReplyWatch() { tReplyWatch.end(); }

bool RequestReplyWatch::replied() const { return tReplyWatch.replied; }

}  // namespace tarnix
