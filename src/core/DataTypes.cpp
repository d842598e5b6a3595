#include "core/DataTypes.h"

#include "platform/endian/ByteOrder.h"

namespace tarnix {

const char* dataTypeName(uint16_t type) {
    switch (type) {
    case DATATYPE_DOUBLE: return "double";
    case DATATYPE_INTEGER: return "integer";
    case DATATYPE_DEMODSAMPLE: return "demodsample";
    case DATATYPE_SCOPESAMPLE: return "scopesample";
    case DATATYPE_AUXINSAMPLE: return "auxinsample";
    case DATATYPE_DIOSAMPLE: return "diosample";
    case DATATYPE_BYTEARRAY: return "bytearray";
    default: return "";
    }
}

std::size_t sampleSizeOf(uint16_t type) {
    switch (type) {
    case DATATYPE_DEMODSAMPLE: return kDemodSampleSize;
    case DATATYPE_AUXINSAMPLE: return kAuxInSampleSize;
    case DATATYPE_DIOSAMPLE: return kDIOSampleSize;
    default: return 0;
    }
}

void encodeDemodSample(uint8_t* p, const DataDemodSample& s) {
    le::put64(p, s.timeStamp);
    le::putDouble(p + 8, s.x);
    le::putDouble(p + 16, s.y);
    le::putDouble(p + 24, s.frequency);
    le::putDouble(p + 32, s.phase);
    le::put32(p + 40, s.dioBits);
    le::put32(p + 44, s.reserved);
    le::putDouble(p + 48, s.auxIn0);
    le::putDouble(p + 56, s.auxIn1);
}

DataDemodSample decodeDemodSample(const uint8_t* p) {
    DataDemodSample s;
    s.timeStamp = le::get64(p);
    s.x = le::getDouble(p + 8);
    s.y = le::getDouble(p + 16);
    s.frequency = le::getDouble(p + 24);
    s.phase = le::getDouble(p + 32);
    s.dioBits = le::get32(p + 40);
    s.reserved = le::get32(p + 44);
    s.auxIn0 = le::getDouble(p + 48);
    s.auxIn1 = le::getDouble(p + 56);
    return s;
}

void encodeAuxInSample(uint8_t* p, const DataAuxInSample& s) {
    le::put64(p, s.timeStamp);
    le::putDouble(p + 8, s.ch0);
    le::putDouble(p + 16, s.ch1);
}

DataAuxInSample decodeAuxInSample(const uint8_t* p) {
    DataAuxInSample s;
    s.timeStamp = le::get64(p);
    s.ch0 = le::getDouble(p + 8);
    s.ch1 = le::getDouble(p + 16);
    return s;
}

void encodeDIOSample(uint8_t* p, const DataDIOSample& s) {
    le::put64(p, s.timeStamp);
    le::put32(p + 8, s.bits);
    le::put32(p + 12, s.reserved);
}

DataDIOSample decodeDIOSample(const uint8_t* p) {
    DataDIOSample s;
    s.timeStamp = le::get64(p);
    s.bits = le::get32(p + 8);
    s.reserved = le::get32(p + 12);
    return s;
}

void encodeScopeHeader(uint8_t* p, const DataScopeSample& h) {
    le::putDouble(p, h.dt);
    le::put32(p + 8, h.channel);
    le::put32(p + 12, h.triggerChannel);
    le::put32(p + 16, h.bandwidthLimit);
    le::put32(p + 20, h.sampleCount);
}

DataScopeSample decodeScopeHeader(const uint8_t* p) {
    DataScopeSample h;
    h.dt = le::getDouble(p);
    h.channel = le::get32(p + 8);
    h.triggerChannel = le::get32(p + 12);
    h.bandwidthLimit = le::get32(p + 16);
    h.sampleCount = le::get32(p + 20);
    return h;
}

}  // namespace tarnix
