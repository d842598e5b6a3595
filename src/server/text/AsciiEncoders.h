#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <string>

// The text protocol's side of the dispatcher: how values and blocks of
// streamed samples look to a text client.
namespace tarnix {

// One value line: the path, ": ", the value text and "\r\n" (a byte array
// ends with "\n" alone; an unknown DataType leaves just the path and ": ").
// `data` is a value record without its 12-byte head. The sequence id is not
// shown. Returns 0, or 0x8010 when the output was too small (outLength then
// counts what was written).
QV_STATUS AsciiValueEncode(const std::string& path, uint16_t precision, uint16_t sequenceId, uint16_t dataType,
                           uint8_t* out, uint32_t outCapacity, uint32_t& outLength, const uint8_t* data,
                           uint32_t dataLength);

// A block of samples: the path, ":" and "\r\n", then one line per whole sample,
// each ended by "\r\n" (a byte-array block: the bytes of all its pieces, then
// "\n"; scope waves and unknown types: the first line only). Returns 0, or
// 0x8010 when the output was too small.
QV_STATUS AsciiStreamEncode(const std::string& path, uint16_t precision, uint16_t dataType, uint8_t* out,
                            uint32_t outCapacity, uint32_t& outLength, const uint8_t* data, uint32_t dataLength);

// A request of a text session that got no value (its node handler failed,
// or its instrument went away before answering): one error line, so that a
// person at the terminal sees the failure. The sequence id is not shown.
// Returns the bytes written (0 when they do not fit).
uint32_t AsciiErrorEncode(uint16_t sequenceId, QV_STATUS failure, uint8_t* out, uint32_t outCapacity);

// The error line of a command that failed after its nodes were found (the
// node refused the value, could not be read, or went away): the status the
// failure came with is logged, not shown.
extern const char kAsciiFailureText[];

// Seconds of a tick count of the instrument's 210 MHz clock.
double ticksToSeconds(uint64_t ticks);

}  // namespace tarnix
