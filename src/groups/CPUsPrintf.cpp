#include "groups/CPUsPrintf.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "core/ValueRecord.h"
#include "engine/DeviceAccess.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

namespace tarnix {

namespace {

constexpr uint32_t kHeaderBytes = 8;  // address word, type word

// What ends a format directive, and what fills it.
enum class Conversion { None, Floating, Signed, Unsigned, Text, Percent, Remove };

Conversion conversionOf(char c) {
    switch (c) {
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G':
            return Conversion::Floating;
        case 'd': case 'i':
            return Conversion::Signed;
        case 'X': case 'c': case 'o': case 'p': case 'u': case 'x':
            return Conversion::Unsigned;
        case 's':
            return Conversion::Text;
        case '%':
            return Conversion::Percent;
        case 'n':
            return Conversion::Remove;
        default:
            return Conversion::None;
    }
}

bool takesArgument(Conversion kind) {
    return kind != Conversion::None && kind != Conversion::Percent && kind != Conversion::Remove;
}

// One directive: from its "%" to its ending character, inclusive.
struct Directive {
    std::size_t begin = 0;
    std::size_t length = 0;
    Conversion kind = Conversion::None;
};

// The next directive at or after `from`; false when there is none, or
// when the last one runs to the end of the text without an ending character.
bool nextDirective(const std::string& text, std::size_t from, Directive& found) {
    const std::size_t begin = text.find('%', from);
    if (begin == std::string::npos) return false;
    for (std::size_t end = begin + 1; end < text.size(); ++end) {
        const Conversion kind = conversionOf(text[end]);
        if (kind == Conversion::None) continue;
        found.begin = begin;
        found.length = end + 1 - begin;
        found.kind = kind;
        return true;
    }
    return false;
}

// Replaces a "%...%" by "%" or removes a "%...n"; returns where to search on.
std::size_t settleLiteral(std::string& text, const Directive& found) {
    if (found.kind == Conversion::Percent) {
        text.replace(found.begin, found.length, "%");
        return found.begin + 1;
    }
    text.erase(found.begin, found.length);
    return found.begin;
}

// The first `length` bytes of a packed text of `available` bytes.
std::string restoreText(const uint8_t* packed, uint32_t available, uint32_t length) {
    std::vector<uint8_t> bytes(packed, packed + available);
    swapBytes32(bytes.data(), bytes.size());
    return std::string(reinterpret_cast<const char*>(bytes.data()), std::min(length, available));
}

// The argument of a message formatted by one directive.
std::string formatArgument(const std::string& found, Conversion kind, const uint8_t* payload, uint32_t length) {
    boost::format formatter(found);
    switch (kind) {
        case Conversion::Floating: {
            const uint64_t bits = (uint64_t(le::get32(payload)) << 32) | le::get32(payload + 4);
            double value;
            std::memcpy(&value, &bits, sizeof value);
            formatter % value;
            break;
        }
        case Conversion::Signed:
            formatter % int32_t(le::get32(payload));
            break;
        case Conversion::Unsigned:
            // A character conversion prints the character of the word's low
            // byte, as printf does, not the number.
            if (found.back() == 'c')
                formatter % char(uint8_t(le::get32(payload)));
            else
                formatter % le::get32(payload);
            break;
        default:
            formatter % restoreText(payload + 4, length - 4, le::get32(payload));
            break;
    }
    return formatter.str();
}

// Whether the message can fill a conversion of this kind.
bool fits(Conversion kind, uint32_t type, const uint8_t* payload, uint32_t length) {
    switch (kind) {
        case Conversion::Floating:
            return type == RTKPRINTF_ARG_DOUBLE && length >= 8;
        case Conversion::Signed:
        case Conversion::Unsigned:
            return type == RTKPRINTF_ARG_INTEGER && length >= 4;
        case Conversion::Text:
            return type == RTKPRINTF_ARG_TEXT && length >= 4 && length >= uint64_t(le::get32(payload)) + 4;
        default:
            return false;
    }
}

// Every argument is filled in: settles the literal directives after the
// filled-in part, prints the format as the line and goes idle.
QV_STATUS emitFormat(DeviceAccess& device, RTKPrintfDecoder& decoder) {
    std::string& format = decoder.format;
    Directive found;
    for (std::size_t at = std::min(decoder.filled, format.size()); nextDirective(format, at, found);)
        at = takesArgument(found.kind) ? found.begin + found.length : settleLiteral(format, found);
    decoder.state = RTKPrintfDecoder::State::Idle;
    return RTKPrintfEmitLine(device, decoder, format);
}

}  // namespace

void swapBytes32(uint8_t* buffer, std::size_t length) {
    for (std::size_t at = 0; at + 4 <= length; at += 4) {
        std::swap(buffer[at], buffer[at + 3]);
        std::swap(buffer[at + 1], buffer[at + 2]);
    }
}

uint32_t RTKPrintfCountConversions(const std::string& format) {
    uint32_t count = 0;
    Directive found;
    for (std::size_t at = 0; nextDirective(format, at, found); at = found.begin + found.length)
        if (takesArgument(found.kind)) ++count;
    return count;
}

QV_STATUS RTKPrintfHandleMessage(DeviceAccess& device, const uint8_t* data, uint32_t length,
                                 RTKPrintfDecoder& decoder, uint32_t address) {
    if (!data || length < kHeaderBytes) return QV_BUFFER_TOO_SMALL;
    if (le::get32(data) != address) return QV_NO_ERROR;
    const uint32_t type = le::get32(data + 4);
    const uint8_t* payload = data + kHeaderBytes;
    const uint32_t size = length - kHeaderBytes;

    switch (decoder.state) {
        case RTKPrintfDecoder::State::Idle:
            if (type == RTKPRINTF_TEXT_COUNT) {
                if (size < 4) return QV_BUFFER_TOO_SMALL;
                decoder.remaining = le::get32(payload);
                if (decoder.remaining > 0) decoder.state = RTKPrintfDecoder::State::TextParts;
                return QV_NO_ERROR;
            }
            if (type == RTKPRINTF_FORMAT) return RTKPrintfFormatMessage(device, decoder, payload, size);
            return QV_BUFFER_TOO_SMALL;
        case RTKPrintfDecoder::State::TextParts:
        case RTKPrintfDecoder::State::Arguments: {
            const bool expected = decoder.state == RTKPrintfDecoder::State::TextParts
                                      ? type == RTKPRINTF_TEXT_PART
                                      : type == RTKPRINTF_ARG_DOUBLE || type == RTKPRINTF_ARG_INTEGER ||
                                            type == RTKPRINTF_ARG_TEXT;
            if (!expected) {
                decoder.state = RTKPrintfDecoder::State::Idle;
                return QV_BUFFER_TOO_SMALL;
            }
            const QV_STATUS s = decoder.state == RTKPrintfDecoder::State::TextParts
                                    ? RTKPrintfTextPart(device, decoder, payload, size)
                                    : RTKPrintfArgument(device, decoder, payload, size, type);
            if (s != QV_NO_ERROR) decoder.state = RTKPrintfDecoder::State::Idle;
            return s;
        }
        default:
            return QV_NO_ERROR;
    }
}

QV_STATUS RTKPrintfTextPart(DeviceAccess& device, RTKPrintfDecoder& decoder, const uint8_t* payload,
                            uint32_t length) {
    if (length < 4 || length < uint64_t(le::get32(payload)) + 4) return QV_BUFFER_TOO_SMALL;
    if (decoder.remaining > 0) --decoder.remaining;
    if (decoder.remaining == 0) decoder.state = RTKPrintfDecoder::State::Idle;
    return RTKPrintfEmitLine(device, decoder, restoreText(payload + 4, length - 4, le::get32(payload)));
}

QV_STATUS RTKPrintfFormatMessage(DeviceAccess& device, RTKPrintfDecoder& decoder, const uint8_t* payload,
                                 uint32_t length) {
    if (length < 8) return QV_BUFFER_TOO_SMALL;
    decoder.remaining = le::get32(payload);
    const uint32_t textLength = le::get32(payload + 4);
    if (length < uint64_t(textLength) + 8) return QV_BUFFER_TOO_SMALL;
    decoder.format = restoreText(payload + 8, length - 8, textLength);
    decoder.filled = 0;
    if (RTKPrintfCountConversions(decoder.format) != decoder.remaining) return QV_BUFFER_TOO_SMALL;
    // A format without conversions waits for no argument: it is a whole line.
    if (decoder.remaining == 0) return emitFormat(device, decoder);
    decoder.state = RTKPrintfDecoder::State::Arguments;
    return QV_NO_ERROR;
}

QV_STATUS RTKPrintfArgument(DeviceAccess& device, RTKPrintfDecoder& decoder, const uint8_t* payload, uint32_t length,
                            uint32_t type) {
    std::string& format = decoder.format;
    Directive found;
    std::size_t at = std::min(decoder.filled, format.size());
    for (;;) {
        if (!nextDirective(format, at, found)) {
            // Nothing to fill: the argument is dropped. What was settled on the
            // way counts as filled in, so it is never taken for a directive.
            decoder.filled = at;
            return QV_NO_ERROR;
        }
        if (takesArgument(found.kind)) break;
        at = settleLiteral(format, found);
    }
    if (!fits(found.kind, type, payload, length)) return QV_BUFFER_TOO_SMALL;

    const std::string directiveText = format.substr(found.begin, found.length);
    std::string text;
    try {
        text = formatArgument(directiveText, found.kind, payload, length);
    } catch (const std::exception&) {
        RTKPrintfFormatError(device, format, directiveText, decoder);
        return QV_BUFFER_TOO_SMALL;
    }
    format.replace(found.begin, found.length, text);
    decoder.filled = found.begin + text.size();

    if (decoder.remaining > 0) --decoder.remaining;
    if (decoder.remaining > 0) return QV_NO_ERROR;
    return emitFormat(device, decoder);
}

void RTKPrintfFormatError(DeviceAccess& device, const std::string& format, const std::string& directive,
                          RTKPrintfDecoder& decoder) {
    QVLOG(logging::error) << "format error in printf";
    QVLOG(logging::debug) << "error in string \"" << format << "\" at \"" << directive << "\"";
    // A full output FIFO loses only this line.
    RTKPrintfEmitLine(device, decoder, kRTKPrintfFormatErrorLine).ignore();
}

QV_STATUS RTKPrintfEmitLine(DeviceAccess& device, RTKPrintfDecoder& decoder, const std::string& line) {
    QVLOG(logging::debug) << "STDOUT: \"" << line << "\"";
    if (decoder.outputEndpoint < 0) return QV_NO_ERROR;
    return ReturnParamValueByteArray(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                     uint32_t(decoder.outputEndpoint), VALUE_FLAG_CHANGED, line.data(),
                                     uint32_t(line.size()));
}

}  // namespace tarnix
