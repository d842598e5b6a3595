#include "server/text/AsciiEncoders.h"

#include "core/ByteOrder.h"
#include "core/DataTypes.h"
#include "server/text/NumberFormat.h"

namespace tarnix {
namespace {

constexpr double kSecondsPerTick = 1.0 / 210000000.0;
constexpr uint32_t kTreeChangeNameSize = 32;

void putTimestamp(TextOutput& out, const uint8_t* p) {
    out.put("TS=");
    formatDouble(out, ticksToSeconds(le::get64(p)), 9);
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

// The text of one whole sample of a type that lineSampleSize knows.
void putSample(TextOutput& out, uint16_t dataType, unsigned precision, const uint8_t* p) {
    switch (dataType) {
    case DATATYPE_DOUBLE: formatDouble(out, le::getDouble(p), precision); break;
    case DATATYPE_INTEGER: formatInt64(out, static_cast<int64_t>(le::get64(p))); break;
    case DATATYPE_DEMODSAMPLE:
        putTimestamp(out, p);
        out.put(", X=");
        formatDouble(out, le::getDouble(p + 8), 10);
        out.put(", Y=");
        formatDouble(out, le::getDouble(p + 16), 10);
        out.put(", F=");
        formatDouble(out, le::getDouble(p + 24), 5);
        out.put(", Phi=");
        formatDouble(out, le::getDouble(p + 32), 5);
        break;
    case DATATYPE_AUXINSAMPLE:
        putTimestamp(out, p);
        out.put(", Ch0=");
        formatDouble(out, le::getDouble(p + 8), 6);
        out.put(", Ch1=");
        formatDouble(out, le::getDouble(p + 16), 6);
        break;
    case DATATYPE_DIOSAMPLE:
        putTimestamp(out, p);
        out.put(", Val=");
        formatUInt32(out, le::get32(p + 8));
        break;
    default: break;
    }
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
    formatUInt32(out, le::get32(data + 8));
    out.put(", TCh=");
    formatUInt32(out, le::get32(data + 12));
    out.put(", dt=");
    formatDouble(out, le::getDouble(data), 10);
    out.put(", BWLim=");
    formatUInt32(out, le::get32(data + 16));
}

void putTreeChange(TextOutput& out, const uint8_t* data, uint32_t length) {
    if (length < 4) return;
    int32_t code = static_cast<int32_t>(le::get32(data));
    out.put(code == 1 ? "add " : code == 2 ? "change " : "remove ");
    uint32_t nameRoom = length - 4 < kTreeChangeNameSize ? length - 4 : kTreeChangeNameSize;
    uint32_t nameLength = 0;
    while (nameLength < nameRoom && data[4 + nameLength] != 0) ++nameLength;
    out.put(reinterpret_cast<const char*>(data + 4), nameLength);
}

QV_STATUS finish(const TextOutput& out, uint32_t& outLength) {
    outLength = static_cast<uint32_t>(out.length());
    return out.full() ? QV_BUFFER_TOO_SMALL : QV_NO_ERROR;
}

}  // namespace

double ticksToSeconds(uint64_t ticks) { return static_cast<double>(static_cast<int64_t>(ticks)) * kSecondsPerTick; }

QV_STATUS AsciiValueEncode(const std::string& path, uint16_t precision, uint16_t /*sequenceId*/, uint16_t dataType,
                           uint8_t* outBuffer, uint32_t outCapacity, uint32_t& outLength, const uint8_t* data,
                           uint32_t dataLength) {
    TextOutput out(reinterpret_cast<char*>(outBuffer), outCapacity);
    out.put(path.data(), path.size());
    out.put(": ");
    if (uint32_t size = lineSampleSize(dataType)) {
        if (dataLength >= size) putSample(out, dataType, precision, data);
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
        for (uint32_t at = 0; dataLength - at >= size && !out.full(); at += size) {
            putSample(out, dataType, precision, data + at);
            out.put("\r\n");
        }
    } else if (dataType == DATATYPE_BYTEARRAY) {
        putBytePieces(out, data, dataLength);
        out.put('\n');
    }
    return finish(out, outLength);
}

}  // namespace tarnix
