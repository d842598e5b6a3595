#include "server/binary/BinaryEncoders.h"

#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"

#include <algorithm>
#include <cstring>

namespace tarnix {
namespace {

constexpr uint32_t kMaxPathLength = 0xFFFF;

// Room left for the data of an event after its head; false when the path
// cannot be carried or even the head does not fit.
bool dataRoom(const std::string& path, uint32_t outCapacity, uint32_t& room) {
    if (path.size() > kMaxPathLength) return false;
    const uint64_t head = uint64_t(wire::kEventFixedSize) + path.size();
    if (head > outCapacity) return false;
    room = uint32_t(outCapacity - head);
    return true;
}

uint32_t writeEvent(uint8_t* out, uint16_t sequenceId, uint16_t dataType, uint32_t count, const std::string& path,
                    const uint8_t* data, uint32_t dataLength) {
    const uint16_t pathLength = uint16_t(path.size());
    uint8_t* at = wire::encodeValueEventHead(out, sequenceId, dataType, count, path.data(), pathLength, dataLength);
    if (dataLength != 0) std::memcpy(at, data, dataLength);
    return wire::valueEventSize(pathLength, dataLength);
}

// Joins the pieces {u32 n, n bytes} of a byte-array block into one piece, as
// far as `room` allows. A piece that announces more bytes than the block
// holds ends the block.
QV_STATUS joinByteArrayPieces(const std::string& path, uint32_t room, uint8_t* out, uint32_t& outLength,
                              const uint8_t* data, uint32_t dataLength) {
    if (room < wire::kByteCountSize) return QV_BUFFER_TOO_SMALL;
    const uint32_t byteRoom = room - wire::kByteCountSize;
    const uint16_t pathLength = uint16_t(path.size());
    uint8_t* bytes = out + wire::kEventPathAt + pathLength + wire::kByteCountSize;
    uint32_t joined = 0;
    bool cut = false;
    for (uint32_t at = 0; at + wire::kByteCountSize <= dataLength;) {
        const uint32_t pieceLength = le::get32(data + at);
        at += wire::kByteCountSize;
        const uint32_t available = std::min(pieceLength, dataLength - at);
        const uint32_t taken = std::min(available, byteRoom - joined);
        std::memcpy(bytes + joined, data + at, taken);
        joined += taken;
        if (taken < available) {
            cut = true;
            break;
        }
        if (available < pieceLength) break;
        at += pieceLength;
    }
    wire::encodeValueEventHead(out, wire::kUnsolicitedId, wire::EVENT_BYTEARRAY, 1, path.data(), pathLength,
                               wire::kByteCountSize + joined);
    le::put32(out + wire::kEventPathAt + pathLength, joined);
    outLength = wire::valueEventSize(pathLength, wire::kByteCountSize + joined);
    return cut ? QV_BUFFER_TOO_SMALL : QV_NO_ERROR;
}

}  // namespace

QV_STATUS BinaryValueEncode(const std::string& path, uint16_t /*precision*/, uint16_t sequenceId, uint16_t dataType,
                            uint8_t* out, uint32_t outCapacity, uint32_t& outLength, const uint8_t* data,
                            uint32_t dataLength) {
    outLength = 0;
    uint32_t room = 0;
    if (!dataRoom(path, outCapacity, room) || dataLength > room) return QV_BUFFER_TOO_SMALL;
    outLength = writeEvent(out, sequenceId, dataType, 1, path, data, dataLength);
    return QV_NO_ERROR;
}

QV_STATUS BinaryStreamEncode(const std::string& path, uint16_t /*precision*/, uint16_t dataType, uint8_t* out,
                             uint32_t outCapacity, uint32_t& outLength, const uint8_t* data, uint32_t dataLength) {
    outLength = 0;
    uint32_t room = 0;
    if (!dataRoom(path, outCapacity, room)) return QV_BUFFER_TOO_SMALL;
    if (dataType == wire::EVENT_BYTEARRAY) return joinByteArrayPieces(path, room, out, outLength, data, dataLength);

    const uint32_t recordSize = wire::fixedRecordSize(dataType);
    if (recordSize == 0) {
        if (dataLength > room) return QV_BUFFER_TOO_SMALL;
        outLength = writeEvent(out, wire::kUnsolicitedId, dataType, 1, path, data, dataLength);
        return QV_NO_ERROR;
    }
    // Only whole records travel, so the count always matches the data.
    const uint32_t whole = dataLength / recordSize;
    const uint32_t count = std::min(whole, room / recordSize);
    outLength = writeEvent(out, wire::kUnsolicitedId, dataType, count, path, data, count * recordSize);
    return count < whole ? QV_BUFFER_TOO_SMALL : QV_NO_ERROR;
}

uint32_t BinaryErrorEncode(uint16_t sequenceId, QV_STATUS failure, uint8_t* out, uint32_t outCapacity) {
    if (sequenceId == wire::kUnsolicitedId || outCapacity < wire::kErrorReplySize) return 0;
    wire::encodeErrorReply(out, sequenceId,
                           failure == QV_VALUE_NOT_FOUND ? wire::ERROR_NOT_FOUND : wire::ERROR_COMMAND_FAILED);
    return wire::kErrorReplySize;
}

}  // namespace tarnix
