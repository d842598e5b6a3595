#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/endian/ByteOrder.h"

// The framed binary protocol between qvServer and its programmatic clients,
// both directions: message types, the 12-byte header, every message body and
// the value events with the sample records as they travel. Little-endian, no
// padding, strings without NUL unless stated. Every field is written and read
// through tarnix::le; nothing here copies a struct onto the wire.
//
// Offsets named k...At are byte offsets within the whole message (header
// included); offsets named k...InBody are relative to the first byte after
// the header, which is what the server's request handling sees.
namespace tarnix {
namespace wire {

// ---------------------------------------------------------------- header ---

enum BinaryMessageType : uint16_t {
    MSG_HELLO = 1,
    MSG_LIST_NODES = 2,
    MSG_LIST_NODES_REPLY = 3,
    MSG_GET_VALUE = 4,
    MSG_GET_VALUE_POLL = 5,
    MSG_GET_VALUE_REPLY = 6,
    MSG_SET_INTEGER = 7,
    MSG_SET_DOUBLE = 8,
    MSG_SET_BYTES = 9,
    MSG_SET_VALUE_REPLY = 10,
    MSG_SUBSCRIBE = 11,
    MSG_SUBSCRIBE_REPLY = 12,
    MSG_UNSUBSCRIBE = 13,
    MSG_UNSUBSCRIBE_REPLY = 14,
    MSG_VALUE_EVENT = 15,
    MSG_ERROR_REPLY = 16,
    MSG_UPDATE_DEVICES = 17,
    MSG_UPDATE_DEVICES_REPLY = 18,
    // Second numbers of the three set requests; same bodies, same handling.
    MSG_SET_INTEGER_ALT = 19,
    MSG_SET_DOUBLE_ALT = 20,
    MSG_SET_BYTES_ALT = 21,
};

constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kTypeAt = 0;
constexpr uint32_t kReserved0At = 2;
constexpr uint32_t kTotalLengthAt = 4;
constexpr uint32_t kSequenceIdAt = 8;
constexpr uint32_t kReserved1At = 10;

// Sequence id of the hello, of stream data and of changes pushed to
// subscribers that did not ask.
constexpr uint16_t kUnsolicitedId = 0;

struct BinaryMessageHeader {
    uint16_t type = 0;
    uint32_t totalLength = 0;  // whole message, header included
    uint16_t sequenceId = 0;
};

inline void encodeHeader(uint8_t* p, const BinaryMessageHeader& h) {
    le::put16(p + kTypeAt, h.type);
    le::put16(p + kReserved0At, 0);
    le::put32(p + kTotalLengthAt, h.totalLength);
    le::put16(p + kSequenceIdAt, h.sequenceId);
    le::put16(p + kReserved1At, 0);
}

inline void encodeHeader(uint8_t* p, uint16_t type, uint32_t totalLength, uint16_t sequenceId) {
    encodeHeader(p, BinaryMessageHeader{type, totalLength, sequenceId});
}

// p must hold kHeaderSize bytes.
inline BinaryMessageHeader decodeHeader(const uint8_t* p) {
    BinaryMessageHeader h;
    h.type = le::get16(p + kTypeAt);
    h.totalLength = le::get32(p + kTotalLengthAt);
    h.sequenceId = le::get16(p + kSequenceIdAt);
    return h;
}

// ---------------------------------------------------------- path field ---
// Every request that names nodes starts its body with {u16 length, path}.

constexpr uint32_t kPathLengthInBody = 0;
constexpr uint32_t kPathInBody = 2;

inline uint32_t pathFieldSize(uint16_t pathLength) { return 2u + pathLength; }

// Writes {length, path} at p; returns the bytes written.
inline uint32_t encodePathField(uint8_t* p, const char* path, uint16_t pathLength) {
    le::put16(p, pathLength);
    if (pathLength != 0) std::memcpy(p + 2, path, pathLength);
    return pathFieldSize(pathLength);
}

// A path as it lies in a received body (not NUL-terminated).
struct PathView {
    const char* text = nullptr;
    uint16_t length = 0;
};

// Reads the path field at the start of a body. False when the body is too
// short for the length field or for the path it announces.
inline bool decodePathField(const uint8_t* body, uint32_t bodyLength, PathView& out) {
    if (bodyLength < 2) return false;
    uint16_t n = le::get16(body + kPathLengthInBody);
    if (uint32_t(2) + n > bodyLength) return false;
    out.text = reinterpret_cast<const char*>(body + kPathInBody);
    out.length = n;
    return true;
}

// ------------------------------------------------------ request bodies ---
// Sizes are body sizes; the message is kHeaderSize + body.

// MSG_LIST_NODES: {path, u32 flags}.
enum ListFlags : uint32_t {
    LIST_RECURSIVE = 1,      // whole subtree below each matched node
    LIST_ABSOLUTE_PATH = 2,  // absolute paths instead of display names
    LIST_LEAVES_ONLY = 4,    // only childless nodes that have an endpoint
    LIST_SETTINGS_ONLY = 8,  // only nodes whose "setting" property is true
};

inline uint32_t listNodesBodySize(uint16_t pathLength) { return pathFieldSize(pathLength) + 4; }

inline uint32_t encodeListNodesBody(uint8_t* body, const char* path, uint16_t pathLength, uint32_t flags) {
    uint32_t at = encodePathField(body, path, pathLength);
    le::put32(body + at, flags);
    return at + 4;
}

// False when the body does not hold path and flags.
inline bool decodeListNodesBody(const uint8_t* body, uint32_t bodyLength, PathView& path, uint32_t& flags) {
    if (!decodePathField(body, bodyLength, path)) return false;
    uint32_t at = pathFieldSize(path.length);
    if (at + 4 > bodyLength) return false;
    flags = le::get32(body + at);
    return true;
}

// MSG_GET_VALUE, MSG_GET_VALUE_POLL, MSG_SUBSCRIBE, MSG_UNSUBSCRIBE: {path}.
inline uint32_t pathOnlyBodySize(uint16_t pathLength) { return pathFieldSize(pathLength); }

// MSG_SET_INTEGER / _ALT: {path, i64}. MSG_SET_DOUBLE / _ALT: {path, f64}.
inline uint32_t setNumberBodySize(uint16_t pathLength) { return pathFieldSize(pathLength) + 8; }

inline uint32_t encodeSetIntegerBody(uint8_t* body, const char* path, uint16_t pathLength, int64_t value) {
    uint32_t at = encodePathField(body, path, pathLength);
    le::put64(body + at, uint64_t(value));
    return at + 8;
}

inline uint32_t encodeSetDoubleBody(uint8_t* body, const char* path, uint16_t pathLength, double value) {
    uint32_t at = encodePathField(body, path, pathLength);
    le::putDouble(body + at, value);
    return at + 8;
}

inline bool decodeSetIntegerBody(const uint8_t* body, uint32_t bodyLength, PathView& path, int64_t& value) {
    if (!decodePathField(body, bodyLength, path)) return false;
    uint32_t at = pathFieldSize(path.length);
    if (at + 8 > bodyLength) return false;
    value = int64_t(le::get64(body + at));
    return true;
}

inline bool decodeSetDoubleBody(const uint8_t* body, uint32_t bodyLength, PathView& path, double& value) {
    if (!decodePathField(body, bodyLength, path)) return false;
    uint32_t at = pathFieldSize(path.length);
    if (at + 8 > bodyLength) return false;
    value = le::getDouble(body + at);
    return true;
}

// MSG_SET_BYTES / _ALT: {path, u32 n, n bytes}.
inline uint32_t setBytesBodySize(uint16_t pathLength, uint32_t byteCount) {
    return pathFieldSize(pathLength) + 4 + byteCount;
}

inline uint32_t encodeSetBytesBody(uint8_t* body, const char* path, uint16_t pathLength, const uint8_t* bytes,
                                   uint32_t byteCount) {
    uint32_t at = encodePathField(body, path, pathLength);
    le::put32(body + at, byteCount);
    if (byteCount != 0) std::memcpy(body + at + 4, bytes, byteCount);
    return at + 4 + byteCount;
}

// False when the body is shorter than the byte count it announces.
inline bool decodeSetBytesBody(const uint8_t* body, uint32_t bodyLength, PathView& path, const uint8_t*& bytes,
                               uint32_t& byteCount) {
    if (!decodePathField(body, bodyLength, path)) return false;
    uint32_t at = pathFieldSize(path.length);
    if (at + 4 > bodyLength) return false;
    uint32_t n = le::get32(body + at);
    if (uint64_t(at) + 4 + n > bodyLength) return false;
    bytes = body + at + 4;
    byteCount = n;
    return true;
}

// MSG_UPDATE_DEVICES: no body.

// ----------------------------------------------------- server messages ---

// MSG_HELLO: the server's major and minor version and its revision.
constexpr uint32_t kHelloSize = 18;
constexpr uint32_t kHelloMajorAt = 12;
constexpr uint32_t kHelloMinorAt = 14;
constexpr uint32_t kHelloRevisionAt = 16;

struct Hello {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t revision = 0;
};

inline void encodeHello(uint8_t* p, const Hello& hello) {
    encodeHeader(p, MSG_HELLO, kHelloSize, kUnsolicitedId);
    le::put16(p + kHelloMajorAt, hello.major);
    le::put16(p + kHelloMinorAt, hello.minor);
    le::put16(p + kHelloRevisionAt, hello.revision);
}

// p must hold kHelloSize bytes.
inline Hello decodeHello(const uint8_t* p) {
    return Hello{le::get16(p + kHelloMajorAt), le::get16(p + kHelloMinorAt), le::get16(p + kHelloRevisionAt)};
}

// MSG_LIST_NODES_REPLY: the listing text right after the header, one line per
// node, each ended by "\n".
constexpr uint32_t kListTextAt = kHeaderSize;

inline uint32_t listNodesReplySize(uint32_t textLength) { return kHeaderSize + textLength; }

// MSG_GET_VALUE_REPLY, MSG_SET_VALUE_REPLY: u32 number of matched nodes that
// have an endpoint (the number of value events that follow).
constexpr uint32_t kCountReplySize = 16;
constexpr uint32_t kReplyCountAt = 12;

inline void encodeCountReply(uint8_t* p, uint16_t type, uint16_t sequenceId, uint32_t count) {
    encodeHeader(p, type, kCountReplySize, sequenceId);
    le::put32(p + kReplyCountAt, count);
}

// MSG_SUBSCRIBE_REPLY, MSG_UNSUBSCRIBE_REPLY, MSG_UPDATE_DEVICES_REPLY.
constexpr uint32_t kEmptyReplySize = kHeaderSize;

// MSG_ERROR_REPLY: u16 code.
constexpr uint32_t kErrorReplySize = 14;
constexpr uint32_t kErrorCodeAt = 12;

enum ErrorReplyCode : uint16_t {
    ERROR_COMMAND_FAILED = 1,  // the command failed in the server
    ERROR_NOT_FOUND = 2,       // value or node not found
};

inline void encodeErrorReply(uint8_t* p, uint16_t sequenceId, uint16_t code) {
    encodeHeader(p, MSG_ERROR_REPLY, kErrorReplySize, sequenceId);
    le::put16(p + kErrorCodeAt, code);
}

// --------------------------------------------------------- value events ---

// The DataType numbers as value events carry them.
enum EventDataType : uint16_t {
    EVENT_DOUBLE = 1,
    EVENT_INTEGER = 2,
    EVENT_DEMODSAMPLE = 3,
    EVENT_SCOPESAMPLE = 4,
    EVENT_AUXINSAMPLE = 5,
    EVENT_DIOSAMPLE = 6,
    EVENT_BYTEARRAY = 7,
    EVENT_TREECHANGE = 16,
};

// MSG_VALUE_EVENT: {header, u16 data type, u32 count, u16 path length, path,
// data to the end of the message}.
constexpr uint32_t kEventDataTypeAt = 12;
constexpr uint32_t kEventCountAt = 14;
constexpr uint32_t kEventPathLengthAt = 18;
constexpr uint32_t kEventPathAt = 20;
constexpr uint32_t kEventFixedSize = 20;

inline uint32_t valueEventSize(uint16_t pathLength, uint32_t dataLength) {
    return kEventFixedSize + pathLength + dataLength;
}

// Writes everything but the data; returns where the data goes (p +
// kEventPathAt + pathLength). The total length already counts dataLength.
inline uint8_t* encodeValueEventHead(uint8_t* p, uint16_t sequenceId, uint16_t dataType, uint32_t count,
                                     const char* path, uint16_t pathLength, uint32_t dataLength) {
    encodeHeader(p, MSG_VALUE_EVENT, valueEventSize(pathLength, dataLength), sequenceId);
    le::put16(p + kEventDataTypeAt, dataType);
    le::put32(p + kEventCountAt, count);
    le::put16(p + kEventPathLengthAt, pathLength);
    if (pathLength != 0) std::memcpy(p + kEventPathAt, path, pathLength);
    return p + kEventPathAt + pathLength;
}

// A received value event, pointing into the message.
struct ValueEventView {
    uint16_t sequenceId = 0;
    uint16_t dataType = 0;
    uint32_t count = 0;
    PathView path;
    const uint8_t* data = nullptr;
    uint32_t dataLength = 0;
};

// Reads a whole MSG_VALUE_EVENT of messageLength bytes (its header's total
// length). False when it is no value event or its path runs past its end.
inline bool decodeValueEvent(const uint8_t* msg, uint32_t messageLength, ValueEventView& out) {
    if (messageLength < kEventFixedSize) return false;
    BinaryMessageHeader h = decodeHeader(msg);
    if (h.type != MSG_VALUE_EVENT || h.totalLength != messageLength) return false;
    uint16_t pathLength = le::get16(msg + kEventPathLengthAt);
    if (kEventFixedSize + uint32_t(pathLength) > messageLength) return false;
    out.sequenceId = h.sequenceId;
    out.dataType = le::get16(msg + kEventDataTypeAt);
    out.count = le::get32(msg + kEventCountAt);
    out.path.text = reinterpret_cast<const char*>(msg + kEventPathAt);
    out.path.length = pathLength;
    out.data = msg + kEventPathAt + pathLength;
    out.dataLength = messageLength - kEventFixedSize - pathLength;
    return true;
}

// ------------------------------------------------------- record layouts ---

constexpr uint32_t kNumberSize = 8;  // one double or signed 64-bit integer

// Byte array: {u32 n, n bytes}, always count 1.
constexpr uint32_t kByteCountSize = 4;

// Demodulator sample, 64 bytes.
constexpr uint32_t kDemodSampleSize = 64;
constexpr uint32_t kDemodTimeStampAt = 0;
constexpr uint32_t kDemodXAt = 8;
constexpr uint32_t kDemodYAt = 16;
constexpr uint32_t kDemodFrequencyAt = 24;
constexpr uint32_t kDemodPhaseAt = 32;
constexpr uint32_t kDemodDioBitsAt = 40;
constexpr uint32_t kDemodReservedAt = 44;
constexpr uint32_t kDemodAuxIn0At = 48;
constexpr uint32_t kDemodAuxIn1At = 56;

// Auxiliary-input sample, 24 bytes.
constexpr uint32_t kAuxInSampleSize = 24;
constexpr uint32_t kAuxInTimeStampAt = 0;
constexpr uint32_t kAuxInCh0At = 8;
constexpr uint32_t kAuxInCh1At = 16;

// Digital-I/O sample, 16 bytes.
constexpr uint32_t kDIOSampleSize = 16;
constexpr uint32_t kDIOTimeStampAt = 0;
constexpr uint32_t kDIOBitsAt = 8;
constexpr uint32_t kDIOReservedAt = 12;

// Scope wave: 24-byte header, then sampleCount signed 16-bit samples.
constexpr uint32_t kScopeHeaderSize = 24;
constexpr uint32_t kScopeDtAt = 0;
constexpr uint32_t kScopeChannelAt = 8;
constexpr uint32_t kScopeTriggerChannelAt = 12;
constexpr uint32_t kScopeBandwidthLimitAt = 16;
constexpr uint32_t kScopeSampleCountAt = 20;
constexpr uint32_t kScopePointSize = 2;

// Tree change: i32 change code, then the device node's display name in 32
// bytes, NUL-terminated when shorter.
constexpr uint32_t kTreeChangeSize = 36;
constexpr uint32_t kTreeChangeCodeAt = 0;
constexpr uint32_t kTreeChangeNameAt = 4;
constexpr uint32_t kTreeChangeNameSize = 32;

enum TreeChangeCode : int32_t {
    TREE_GONE = 0,
    TREE_NEW = 1,
    TREE_CHANGED = 2,
};

// The record codecs work on any record type with these member names, so the
// server's sample types and the client API's plain C records share them.
template <class DemodSample>
inline void encodeDemodSample(uint8_t* p, const DemodSample& s) {
    le::put64(p + kDemodTimeStampAt, s.timeStamp);
    le::putDouble(p + kDemodXAt, s.x);
    le::putDouble(p + kDemodYAt, s.y);
    le::putDouble(p + kDemodFrequencyAt, s.frequency);
    le::putDouble(p + kDemodPhaseAt, s.phase);
    le::put32(p + kDemodDioBitsAt, s.dioBits);
    le::put32(p + kDemodReservedAt, s.reserved);
    le::putDouble(p + kDemodAuxIn0At, s.auxIn0);
    le::putDouble(p + kDemodAuxIn1At, s.auxIn1);
}

template <class DemodSample>
inline void decodeDemodSample(const uint8_t* p, DemodSample& s) {
    s.timeStamp = le::get64(p + kDemodTimeStampAt);
    s.x = le::getDouble(p + kDemodXAt);
    s.y = le::getDouble(p + kDemodYAt);
    s.frequency = le::getDouble(p + kDemodFrequencyAt);
    s.phase = le::getDouble(p + kDemodPhaseAt);
    s.dioBits = le::get32(p + kDemodDioBitsAt);
    s.reserved = le::get32(p + kDemodReservedAt);
    s.auxIn0 = le::getDouble(p + kDemodAuxIn0At);
    s.auxIn1 = le::getDouble(p + kDemodAuxIn1At);
}

template <class AuxInSample>
inline void encodeAuxInSample(uint8_t* p, const AuxInSample& s) {
    le::put64(p + kAuxInTimeStampAt, s.timeStamp);
    le::putDouble(p + kAuxInCh0At, s.ch0);
    le::putDouble(p + kAuxInCh1At, s.ch1);
}

template <class AuxInSample>
inline void decodeAuxInSample(const uint8_t* p, AuxInSample& s) {
    s.timeStamp = le::get64(p + kAuxInTimeStampAt);
    s.ch0 = le::getDouble(p + kAuxInCh0At);
    s.ch1 = le::getDouble(p + kAuxInCh1At);
}

template <class DIOSample>
inline void encodeDIOSample(uint8_t* p, const DIOSample& s) {
    le::put64(p + kDIOTimeStampAt, s.timeStamp);
    le::put32(p + kDIOBitsAt, s.bits);
    le::put32(p + kDIOReservedAt, s.reserved);
}

template <class DIOSample>
inline void decodeDIOSample(const uint8_t* p, DIOSample& s) {
    s.timeStamp = le::get64(p + kDIOTimeStampAt);
    s.bits = le::get32(p + kDIOBitsAt);
    s.reserved = le::get32(p + kDIOReservedAt);
}

template <class ScopeHeader>
inline void encodeScopeHeader(uint8_t* p, const ScopeHeader& h) {
    le::putDouble(p + kScopeDtAt, h.dt);
    le::put32(p + kScopeChannelAt, h.channel);
    le::put32(p + kScopeTriggerChannelAt, h.triggerChannel);
    le::put32(p + kScopeBandwidthLimitAt, h.bandwidthLimit);
    le::put32(p + kScopeSampleCountAt, h.sampleCount);
}

template <class ScopeHeader>
inline void decodeScopeHeader(const uint8_t* p, ScopeHeader& h) {
    h.dt = le::getDouble(p + kScopeDtAt);
    h.channel = le::get32(p + kScopeChannelAt);
    h.triggerChannel = le::get32(p + kScopeTriggerChannelAt);
    h.bandwidthLimit = le::get32(p + kScopeBandwidthLimitAt);
    h.sampleCount = le::get32(p + kScopeSampleCountAt);
}

// Writes a tree-change record; the name is cut to 32 bytes and NUL-padded
// (a name of 32 or more characters fills the field without a terminator).
inline void encodeTreeChange(uint8_t* p, int32_t code, std::string_view name) {
    le::put32(p + kTreeChangeCodeAt, uint32_t(code));
    std::memset(p + kTreeChangeNameAt, 0, kTreeChangeNameSize);
    std::memcpy(p + kTreeChangeNameAt, name.data(), name.size() < kTreeChangeNameSize ? name.size() : kTreeChangeNameSize);
}

inline int32_t decodeTreeChangeCode(const uint8_t* p) { return int32_t(le::get32(p + kTreeChangeCodeAt)); }

// Size of one record of a type that travels as an array of equal records
// (doubles, integers, demodulator, aux-input and DIO samples); 0 for the
// types that travel as one value (scope wave, byte array, tree change).
inline uint32_t fixedRecordSize(uint16_t dataType) {
    switch (dataType) {
        case EVENT_DOUBLE:
        case EVENT_INTEGER:
            return kNumberSize;
        case EVENT_DEMODSAMPLE:
            return kDemodSampleSize;
        case EVENT_AUXINSAMPLE:
            return kAuxInSampleSize;
        case EVENT_DIOSAMPLE:
            return kDIOSampleSize;
        default:
            return 0;
    }
}

// The count a stream block of dataLength bytes carries in its value event.
inline uint32_t streamEventCount(uint16_t dataType, uint32_t dataLength) {
    uint32_t recordSize = fixedRecordSize(dataType);
    return recordSize != 0 ? dataLength / recordSize : 1;
}

// True when the data of a received event holds what its type and count
// announce: count whole records, a whole scope wave, a byte array whose byte
// count fits, a whole tree-change record. Unknown types are accepted as
// opaque data.
inline bool eventDataConsistent(uint16_t dataType, uint32_t count, const uint8_t* data, uint32_t dataLength) {
    uint32_t recordSize = fixedRecordSize(dataType);
    if (recordSize != 0) return uint64_t(count) * recordSize <= dataLength;
    switch (dataType) {
        case EVENT_SCOPESAMPLE:
            return dataLength >= kScopeHeaderSize &&
                   kScopeHeaderSize + uint64_t(le::get32(data + kScopeSampleCountAt)) * kScopePointSize <= dataLength;
        case EVENT_BYTEARRAY:
            return dataLength >= kByteCountSize && kByteCountSize + uint64_t(le::get32(data)) <= dataLength;
        case EVENT_TREECHANGE:
            return dataLength >= kTreeChangeSize;
        default:
            return true;
    }
}

}  // namespace wire
}  // namespace tarnix
