#pragma once
#include "core/DataTypes.h"
#include "core/QVStatus.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The record of every request into a tree, and of every reply and value change
// out of it, carried as one block of the tree's FIFOs. Little-endian, no gaps:
//
//   0  u16  sequence tag (the client's request id; 0 for an unsolicited change)
//   2  u16  session tag  (the asking session; 0xFFFF for an unsolicited change)
//   4  u32  endpoint id
//   8  u16  kind: a DataType, or DATATYPE_GETVALUE for a read request
//  10  u16  flags (VALUE_FLAG_*)
//  12  ...  value by kind: double or signed 64-bit integer (record 20 bytes);
//           a sample (76, 36, 28 bytes); u32 length n then n bytes (16 + n);
//           nothing for a read request (12 bytes)
namespace tarnix {

class QVFifo;

enum ValueRecordFlags : uint16_t {
    // The value (possibly) changed: to every subscriber and, as the reply, to
    // the requesting session.
    VALUE_FLAG_CHANGED = 0,
    // Reply only: the value did not change; to the requesting session only.
    VALUE_FLAG_REPLY_ONLY = 1,
    // A change that may be dropped for subscribers short of room, except for
    // the requester.
    VALUE_FLAG_DROPPABLE = 2,
};

// Tags of a value change that no request caused.
constexpr uint16_t kUnsolicitedSequenceTag = 0;
constexpr uint16_t kUnsolicitedSessionTag = 0xFFFF;

constexpr uint32_t kValueRecordHeaderSize = 12;
constexpr uint32_t kValueRecordNumberSize = 20;     // double or integer
constexpr uint32_t kValueRecordByteArrayHeaderSize = 16;  // header + u32 length
constexpr uint32_t kValueRecordByteArrayLengthOffset = 12;
constexpr uint32_t kValueRecordValueOffset = 12;
// A failed-request record: the header and the u32 status of the failure.
constexpr uint32_t kValueRecordFailedSize = 16;

struct ValueRecordHeader {
    uint16_t sequenceTag = 0;
    uint16_t sessionTag = 0;
    uint32_t endpointId = 0;
    uint16_t kind = 0;
    uint16_t flags = 0;
};

void putValueRecordHeader(uint8_t* p, const ValueRecordHeader& h);
ValueRecordHeader getValueRecordHeader(const uint8_t* p);

// Record length of a kind with a fixed layout (1, 2, 3, 5, 6, 64); for a byte
// array (7) the length with byteCount bytes; 0 for kinds with layouts of their
// own (4, 16) and unknown kinds.
uint32_t valueRecordLength(uint16_t kind, uint32_t byteCount = 0);

// A record taken apart; value points into the record's bytes (for a byte
// array at the n bytes after the length word).
struct ValueRecordView {
    ValueRecordHeader header;
    const uint8_t* value = nullptr;
    uint32_t valueLength = 0;

    double asDouble() const;    // kind 1
    int64_t asInteger() const;  // kind 2
};

// Checks that length fits the record's kind (exactly for the fixed kinds and a
// byte array's stated length; at least the header for kinds 4, 16 and unknown
// ones, whose value is then the rest) and fills view. False for a malformed
// record; view is then undefined.
bool parseValueRecord(const uint8_t* data, uint32_t length, ValueRecordView& view);

// Builders for records in caller-provided memory of valueRecordLength bytes;
// each sets the header's kind to its own.
void putValueRecordDouble(uint8_t* p, ValueRecordHeader h, double value);
void putValueRecordInteger(uint8_t* p, ValueRecordHeader h, int64_t value);
void putValueRecordByteArray(uint8_t* p, ValueRecordHeader h, const void* bytes, uint32_t length);

// The family through which node handlers write replies and value changes into
// an output FIFO. Each writes one record of its own kind with the given tags,
// endpoint id and flags, and returns QV_NO_ERROR; when the FIFO has no room it
// logs "QV_OVERFLOW in " with its signature at severity "debug", writes
// nothing and returns QV_OVERFLOW. A null value pointer with data to copy
// writes nothing and returns QV_ERR_GENERAL.
QV_STATUS ReturnParamValueDouble(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                 uint32_t endpointId, uint16_t flags, double value);
QV_STATUS ReturnParamValueInteger(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                  uint32_t endpointId, uint16_t flags, int64_t value);
QV_STATUS ReturnParamValueByteArray(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                    uint32_t endpointId, uint16_t flags, const void* bytes,
                                    uint32_t length);
QV_STATUS ReturnParamValueDemodSample(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                      uint32_t endpointId, uint16_t flags,
                                      const DataDemodSample* sample);
QV_STATUS ReturnParamValueAuxInSample(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                      uint32_t endpointId, uint16_t flags,
                                      const DataAuxInSample* sample);
QV_STATUS ReturnParamValueDIOSample(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag,
                                    uint32_t endpointId, uint16_t flags,
                                    const DataDIOSample* sample);

// Tells the asking session that a request got no value (kind
// DATATYPE_REQUEST_FAILED, flags reply-only, the status at offset 12), so that
// a client told to expect a value is not left waiting. QV_OVERFLOW when the
// FIFO has no room.
QV_STATUS ReturnParamRequestFailed(QVFifo& fifo, uint16_t sequenceTag, uint16_t sessionTag, uint32_t endpointId,
                                   QV_STATUS failure);

// While it lives, notes on the calling thread whether a record carrying the
// tags of one request (a reply or a change caused by it) is written through
// the ReturnParamValue family, so that the request's handler can be seen to
// have answered or not. Watches do not nest.
class RequestReplyWatch {
public:
    RequestReplyWatch(uint16_t sequenceTag, uint16_t sessionTag);
    ~RequestReplyWatch();
    RequestReplyWatch(const RequestReplyWatch&) = delete;
    RequestReplyWatch& operator=(const RequestReplyWatch&) = delete;

    bool replied() const;
};

namespace detail {
// The thread's watch of one request (RequestReplyWatch, DirectReplyCapture).
struct ReplyWatchState {
    bool active = false;
    bool replied = false;
    uint16_t sequenceTag = 0;
    uint16_t sessionTag = 0;
    // Reply-only records of the request are kept here instead of the FIFO.
    bool capture = false;
    std::vector<std::vector<uint8_t>> captured;

    // Starts watching a request; `keep` keeps its replies aside.
    void begin(uint16_t sequence, uint16_t session, bool keep) {
        active = true;
        replied = false;
        sequenceTag = sequence;
        sessionTag = session;
        capture = keep;
        captured.clear();
    }
    void end() {
        active = false;
        capture = false;
        captured.clear();
    }
};
ReplyWatchState& replyWatch();
}  // namespace detail

}  // namespace tarnix
