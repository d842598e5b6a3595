#include "core/DataTypes.h"

namespace tarnix {

namespace {
constexpr bool sameNumber(DataType type, wire::EventDataType event) { return uint16_t(type) == uint16_t(event); }
}  // namespace

// A value's type travels unchanged as the data type of its value event.
static_assert(sameNumber(DATATYPE_DOUBLE, wire::EVENT_DOUBLE) && sameNumber(DATATYPE_INTEGER, wire::EVENT_INTEGER) &&
                  sameNumber(DATATYPE_DEMODSAMPLE, wire::EVENT_DEMODSAMPLE) &&
                  sameNumber(DATATYPE_SCOPESAMPLE, wire::EVENT_SCOPESAMPLE) &&
                  sameNumber(DATATYPE_AUXINSAMPLE, wire::EVENT_AUXINSAMPLE) &&
                  sameNumber(DATATYPE_DIOSAMPLE, wire::EVENT_DIOSAMPLE) &&
                  sameNumber(DATATYPE_BYTEARRAY, wire::EVENT_BYTEARRAY) &&
                  sameNumber(DATATYPE_TREECHANGE, wire::EVENT_TREECHANGE),
              "value types and event data types are one numbering");

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

void encodeDemodSample(uint8_t* p, const DataDemodSample& s) { wire::encodeDemodSample(p, s); }

DataDemodSample decodeDemodSample(const uint8_t* p) {
    DataDemodSample s;
    wire::decodeDemodSample(p, s);
    return s;
}

void encodeAuxInSample(uint8_t* p, const DataAuxInSample& s) { wire::encodeAuxInSample(p, s); }

DataAuxInSample decodeAuxInSample(const uint8_t* p) {
    DataAuxInSample s;
    wire::decodeAuxInSample(p, s);
    return s;
}

void encodeDIOSample(uint8_t* p, const DataDIOSample& s) { wire::encodeDIOSample(p, s); }

DataDIOSample decodeDIOSample(const uint8_t* p) {
    DataDIOSample s;
    wire::decodeDIOSample(p, s);
    return s;
}

void encodeScopeHeader(uint8_t* p, const DataScopeSample& h) { wire::encodeScopeHeader(p, h); }

DataScopeSample decodeScopeHeader(const uint8_t* p) {
    DataScopeSample h;
    wire::decodeScopeHeader(p, h);
    return h;
}

}  // namespace tarnix
