#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <string>

// The binary protocol's side of the dispatcher: value records and blocks of
// streamed samples become MSG_VALUE_EVENT messages. Whatever either encoder
// leaves in the output is always a whole message (or nothing), so a failed
// conversion can never break the framing of the client's byte stream.
namespace tarnix {

// One value record as one event: the given sequence id, the DataType, count
// 1, the endpoint's path and the record's value bytes (`data`, the record
// without its 12-byte head) unchanged. The precision is not used. Returns 0,
// or 0x8010 with outLength 0 when the event does not fit into outCapacity or
// the path is longer than its 16-bit length field.
QV_STATUS BinaryValueEncode(const std::string& path, uint16_t precision, uint16_t sequenceId, uint16_t dataType,
                            uint8_t* out, uint32_t outCapacity, uint32_t& outLength, const uint8_t* data,
                            uint32_t dataLength);

// A block of streamed samples as one event with sequence id 0. Arrays of
// equal records (doubles, integers, demodulator, aux-input and DIO samples)
// carry the number of whole records as their count; a byte-array block, made
// of pieces {u32 n, n bytes}, is joined into one piece {u32 total, bytes}
// with count 1; other types are sent unchanged with count 1. When the event
// does not fit, as many whole records (or byte-array bytes) as fit are sent
// and 0x8010 is returned; a block that cannot be cut gives outLength 0.
QV_STATUS BinaryStreamEncode(const std::string& path, uint16_t precision, uint16_t dataType, uint8_t* out,
                             uint32_t outCapacity, uint32_t& outLength, const uint8_t* data, uint32_t dataLength);

// A request that got no value as MSG_ERROR_REPLY with the request's sequence
// id, so that the client, told how many values to expect, is not left
// waiting: code "not found" for QV_VALUE_NOT_FOUND, "command failed" for any
// other failure. Nothing (0) for sequence id 0, whose values travel as
// unsolicited events. Returns the bytes written.
uint32_t BinaryErrorEncode(uint16_t sequenceId, QV_STATUS failure, uint8_t* out, uint32_t outCapacity);

}  // namespace tarnix
