#include "server/text/AsciiEncoders.h"

#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "server/text/NumberFormat.h"

#include <cstring>

namespace tarnix {
namespace {

constexpr double kSecondsPerTick = 1.0 / 210000000.0;

// Room for the longest text of one record sample and its line end: at most
// five doubles of up to 10 fraction digits, and the labels.
constexpr std::size_t kMaxRecordLine = 5 * (kMaxDoubleTextBeforeFraction + 10) + 64;

char* writeText(char* at, const char* text, std::size_t length) {
    std::memcpy(at, text, length);
    return at + length;
}

template <std::size_t N>
char* writeLabel(char* at, const char (&label)[N]) {
    return writeText(at, label, N - 1);
}

char* writeTimestamp(char* at, const uint8_t* p) {
    return writeDouble(writeLabel(at, "TS="), ticksToSeconds(le::get64(p + wire::kDemodTimeStampAt)), 9);
}

// The text of one demodulator, aux-input or DIO sample.
char* writeRecordSample(char* at, uint16_t dataType, const uint8_t* p) {
    switch (dataType) {
    case DATATYPE_DEMODSAMPLE:
        at = writeTimestamp(at, p);
        at = writeDouble(writeLabel(at, ", X="), le::getDouble(p + wire::kDemodXAt), 10);
        at = writeDouble(writeLabel(at, ", Y="), le::getDouble(p + wire::kDemodYAt), 10);
        at = writeDouble(writeLabel(at, ", F="), le::getDouble(p + wire::kDemodFrequencyAt), 5);
        return writeDouble(writeLabel(at, ", Phi="), le::getDouble(p + wire::kDemodPhaseAt), 5);
    case DATATYPE_AUXINSAMPLE:
        at = writeTimestamp(at, p);
        at = writeDouble(writeLabel(at, ", Ch0="), le::getDouble(p + wire::kAuxInCh0At), 6);
        return writeDouble(writeLabel(at, ", Ch1="), le::getDouble(p + wire::kAuxInCh1At), 6);
    case DATATYPE_DIOSAMPLE:
        at = writeTimestamp(at, p);
        return writeUInt32(writeLabel(at, ", Val="), le::get32(p + wire::kDIOBitsAt));
    default: return at;
    }
}

// Bytes per sample of the types printed one line per sample; 0 otherwise.
uint32_t lineSampleSize(uint16_t dataType) {
    switch (dataType) {
    case DATATYPE_DOUBLE:
    case DATATYPE_INTEGER: return 8;
    case DATATYPE_DEMODSAMPLE: return kDemodSampleSize;
    case DATATYPE_AUXINSAMPLE: return kAuxInSampleSize;
    case DATATYPE_DIOSAMPLE: return kDIOSampleSize;
    default: return 0;
    }
}

// The line of one whole sample of a type that lineSampleSize knows: its text
// and "\r\n", a record sample in one piece.
void putSampleLine(TextOutput& out, uint16_t dataType, unsigned precision, const uint8_t* p) {
    switch (dataType) {
    case DATATYPE_DOUBLE: formatDouble(out, le::getDouble(p), precision); break;
    case DATATYPE_INTEGER: formatInt64(out, static_cast<int64_t>(le::get64(p))); break;
    default: {
        char line[kMaxRecordLine];
        char* end = writeLabel(writeRecordSample(line, dataType, p), "\r\n");
        out.put(line, std::size_t(end - line));
        return;
    }
    }
    out.put("\r\n");
}

// The bytes of every piece (u32 count, then the bytes). A count that runs past
// the data is cut at its end.
void putBytePieces(TextOutput& out, const uint8_t* data, uint32_t length) {
    uint32_t at = 0;
    while (length - at >= 4 && !out.full()) {
        uint32_t count = le::get32(data + at);
        at += 4;
        if (count > length - at) count = length - at;
        out.put(reinterpret_cast<const char*>(data + at), count);
        at += count;
    }
}

void putScopeHeader(TextOutput& out, const uint8_t* data, uint32_t length) {
    if (length < kScopeHeaderSize) return;
    out.put("SCh=");
    formatUInt32(out, le::get32(data + wire::kScopeChannelAt));
    out.put(", TCh=");
    formatUInt32(out, le::get32(data + wire::kScopeTriggerChannelAt));
    out.put(", dt=");
    formatDouble(out, le::getDouble(data + wire::kScopeDtAt), 10);
    out.put(", BWLim=");
    formatUInt32(out, le::get32(data + wire::kScopeBandwidthLimitAt));
}

void putTreeChange(TextOutput& out, const uint8_t* data, uint32_t length) {
    if (length < wire::kTreeChangeNameAt) return;
    int32_t code = wire::decodeTreeChangeCode(data);
    out.put(code == 1 ? "add " : code == 2 ? "change " : "remove ");
    const uint8_t* name = data + wire::kTreeChangeNameAt;
    uint32_t nameRoom = length - wire::kTreeChangeNameAt;
    if (nameRoom > wire::kTreeChangeNameSize) nameRoom = wire::kTreeChangeNameSize;
    uint32_t nameLength = 0;
    while (nameLength < nameRoom && name[nameLength] != 0) ++nameLength;
    out.put(reinterpret_cast<const char*>(name), nameLength);
}

QV_STATUS finish(const TextOutput& out, uint32_t& outLength) {
    outLength = static_cast<uint32_t>(out.length());
    return out.full() ? QV_BUFFER_TOO_SMALL : QV_NO_ERROR;
}

}  // namespace

const char kAsciiFailureText[] = "ERROR: Command failed\n";

uint32_t AsciiErrorEncode(uint16_t /*sequenceId*/, QV_STATUS /*failure*/, uint8_t* out, uint32_t outCapacity) {
    const char* text = kAsciiFailureText;
    const std::size_t length = std::strlen(text);
    if (length > outCapacity) return 0;
    std::memcpy(out, text, length);
    return uint32_t(length);
}

double ticksToSeconds(uint64_t ticks) { return static_cast<double>(static_cast<int64_t>(ticks)) * kSecondsPerTick; }

QV_STATUS AsciiValueEncode(const std::string& path, uint16_t precision, uint16_t /*sequenceId*/, uint16_t dataType,
                           uint8_t* outBuffer, uint32_t outCapacity, uint32_t& outLength, const uint8_t* data,
                           uint32_t dataLength) {
    TextOutput out(reinterpret_cast<char*>(outBuffer), outCapacity);
    out.put(path.data(), path.size());
    out.put(": ");
    if (uint32_t size = lineSampleSize(dataType)) {
        if (dataLength >= size)
            putSampleLine(out, dataType, precision, data);
        else
            out.put("\r\n");
    } else if (dataType == DATATYPE_SCOPESAMPLE) {
        putScopeHeader(out, data, dataLength);
        out.put("\r\n");
    } else if (dataType == DATATYPE_BYTEARRAY) {
        putBytePieces(out, data, dataLength);
        out.put('\n');
    } else if (dataType == DATATYPE_TREECHANGE) {
        putTreeChange(out, data, dataLength);
        out.put("\r\n");
    }
    return finish(out, outLength);
}

QV_STATUS AsciiStreamEncode(const std::string& path, uint16_t precision, uint16_t dataType, uint8_t* outBuffer,
                            uint32_t outCapacity, uint32_t& outLength, const uint8_t* data, uint32_t dataLength) {
    TextOutput out(reinterpret_cast<char*>(outBuffer), outCapacity);
    out.put(path.data(), path.size());
    out.put(":\r\n");
    if (uint32_t size = lineSampleSize(dataType)) {
        for (uint32_t at = 0; dataLength - at >= size && !out.full(); at += size)
            putSampleLine(out, dataType, precision, data + at);
    } else if (dataType == DATATYPE_BYTEARRAY) {
        putBytePieces(out, data, dataLength);
        out.put('\n');
    }
    return finish(out, outLength);
}

}  // namespace tarnix
