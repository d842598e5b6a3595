#pragma once
#include "core/QVStatus.h"
#include "groups/data/SystemData.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The print protocol of the real-time CPUs. The CPU's kernel does not format:
// it sends a text, or a printf format followed by the raw arguments, as small
// messages into the print window of the CPU status block, one message per data
// block. The decoder reassembles them, formats the arguments into the format
// with printf rules and delivers each finished line to the log and, as a byte
// array, to the subscribers of CPUS/n/OUTPUT.
//
// A message: u32 the block's own device address (a block whose first word
// differs is ignored), u32 the message type, then the payload. Texts are packed
// four characters to a word in the CPU's byte order.
namespace tarnix {

class DeviceAccess;

enum RTKPrintfMessage : uint32_t {
    RTKPRINTF_TEXT_COUNT = 0x10000020,  // u32 number of text parts that follow
    RTKPRINTF_TEXT_PART = 0x10000021,   // u32 length, text: one line
    RTKPRINTF_FORMAT = 0x10000030,      // u32 argument count, u32 length, format text
    RTKPRINTF_ARG_DOUBLE = 0x10000031,  // u32 high half, u32 low half of a double
    RTKPRINTF_ARG_INTEGER = 0x10000032,  // u32, signed or unsigned as the conversion says
    RTKPRINTF_ARG_TEXT = 0x10000033,    // u32 length, text
};

// The line printed in place of one whose format the formatter refused.
constexpr const char* kRTKPrintfFormatErrorLine = "[qvRTKPrintf format error]";

// One message of `length` bytes that arrived at `address`. A malformed,
// unexpected or mismatched message is refused with 0x8010 and returns the
// decoder to idle, dropping the line under construction.
QV_STATUS RTKPrintfHandleMessage(DeviceAccess& device, const uint8_t* data, uint32_t length,
                                 RTKPrintfDecoder& decoder, uint32_t address);

QV_STATUS RTKPrintfTextPart(DeviceAccess& device, RTKPrintfDecoder& decoder, const uint8_t* payload,
                            uint32_t length);
// A format whose conversions number the argument count; one without any is
// printed at once.
QV_STATUS RTKPrintfFormatMessage(DeviceAccess& device, RTKPrintfDecoder& decoder, const uint8_t* payload,
                                 uint32_t length);
QV_STATUS RTKPrintfArgument(DeviceAccess& device, RTKPrintfDecoder& decoder, const uint8_t* payload, uint32_t length,
                            uint32_t type);

// The conversions of a format that take an argument (not "%%", not "%n").
uint32_t RTKPrintfCountConversions(const std::string& format);
void RTKPrintfFormatError(DeviceAccess& device, const std::string& format, const std::string& directive,
                          RTKPrintfDecoder& decoder);
// Logs the line and pushes it to the OUTPUT endpoint, when there is one.
QV_STATUS RTKPrintfEmitLine(DeviceAccess& device, RTKPrintfDecoder& decoder, const std::string& line);

// Reverses the bytes of each whole 32-bit word in place; a trailing partial
// word stays as it is.
void swapBytes32(uint8_t* buffer, std::size_t length);

}  // namespace tarnix
