#pragma once
#include "wire/BinaryWire.h"

#include <cstddef>
#include <cstdint>

// Value types shared by nodes, value records, protocol events and stream
// buffers. The structs are plain in-memory values; on the wire and in FIFOs
// they are always written and read field by field through the encode/decode
// functions below, which use the one layout of each record that the binary
// protocol defines (wire/BinaryWire.h).
namespace tarnix {

enum DataType : uint16_t {
    DATATYPE_NONE = 0,
    DATATYPE_DOUBLE = 1,
    DATATYPE_INTEGER = 2,
    DATATYPE_DEMODSAMPLE = 3,
    DATATYPE_SCOPESAMPLE = 4,
    DATATYPE_AUXINSAMPLE = 5,
    DATATYPE_DIOSAMPLE = 6,
    DATATYPE_BYTEARRAY = 7,
    DATATYPE_TREECHANGE = 16,  // tree-change records of the server's own tree
    DATATYPE_GETVALUE = 64,    // read request; only in request records
    // A request that got no value: only in output records, answered to the
    // asking session as an error (never a value).
    DATATYPE_REQUEST_FAILED = 65,
};

// "double", "integer", "demodsample", "scopesample", "auxinsample",
// "diosample", "bytearray" for 1..7; "" for any other value.
const char* dataTypeName(uint16_t type);

// Demodulator sample, 64 bytes on the wire.
struct DataDemodSample {
    uint64_t timeStamp = 0;  // ticks of the instrument clock
    double x = 0.0;
    double y = 0.0;
    double frequency = 0.0;
    double phase = 0.0;
    uint32_t dioBits = 0;
    uint32_t reserved = 0;
    double auxIn0 = 0.0;
    double auxIn1 = 0.0;
};

// Auxiliary-input sample, 24 bytes on the wire.
struct DataAuxInSample {
    uint64_t timeStamp = 0;
    double ch0 = 0.0;
    double ch1 = 0.0;
};

// Digital-I/O sample, 16 bytes on the wire.
struct DataDIOSample {
    uint64_t timeStamp = 0;
    uint32_t bits = 0;
    uint32_t reserved = 0;
};

// Header of one scope wave, 24 bytes on the wire, followed by sampleCount
// signed 16-bit samples.
struct DataScopeSample {
    double dt = 0.0;               // seconds per sample
    uint32_t channel = 0;          // source channel
    uint32_t triggerChannel = 0;
    uint32_t bandwidthLimit = 0;   // bandwidth-limit setting
    uint32_t sampleCount = 0;
};

constexpr std::size_t kDemodSampleSize = wire::kDemodSampleSize;
constexpr std::size_t kAuxInSampleSize = wire::kAuxInSampleSize;
constexpr std::size_t kDIOSampleSize = wire::kDIOSampleSize;
constexpr std::size_t kScopeHeaderSize = wire::kScopeHeaderSize;
constexpr std::size_t kScopePointSize = wire::kScopePointSize;

// Wire size of one sample of a streamed type (3, 5, 6); 0 for other types.
std::size_t sampleSizeOf(uint16_t type);

// Each encoder writes exactly the wire size at p; each decoder reads it.
void encodeDemodSample(uint8_t* p, const DataDemodSample& s);
DataDemodSample decodeDemodSample(const uint8_t* p);
void encodeAuxInSample(uint8_t* p, const DataAuxInSample& s);
DataAuxInSample decodeAuxInSample(const uint8_t* p);
void encodeDIOSample(uint8_t* p, const DataDIOSample& s);
DataDIOSample decodeDIOSample(const uint8_t* p);
void encodeScopeHeader(uint8_t* p, const DataScopeSample& h);
DataScopeSample decodeScopeHeader(const uint8_t* p);

// Bytes of a whole wave (header plus samples) with the given sample count.
constexpr std::size_t scopeWaveSize(uint32_t sampleCount) {
    return kScopeHeaderSize + kScopePointSize * std::size_t(sampleCount);
}

}  // namespace tarnix
