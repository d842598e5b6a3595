#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <string>
#include <vector>

// The instrument's feature list as it arrives in a data block: a sequence of
// records, each a 16-byte header followed by its data, all little-endian.
//
//   record:  0 u16 code, 2 u16 version, 4 u32 length (header included),
//            8 char[8] name (not terminated), 16 data (length - 16 bytes)
//   block:   0 u32 start address, 4 u32 attribute, 8 u32 modulo (stride),
//            12 u32 reps (instances)
//
// A group record's data is a run of blocks; other codes have layouts of their
// own. Zero bytes where a record would begin are padding.
namespace tarnix {

constexpr uint32_t kFeatureHeaderBytes = 16;
constexpr uint32_t kFeatureBlockBytes = 16;
constexpr std::size_t kMaxFeatureRecords = 20;

struct FeatureHeader {
    uint16_t code = 0;
    uint16_t version = 0;
    uint32_t length = 0;
    const char* name = nullptr;  // 8 characters inside the block
};

struct FeatureBlock {
    uint32_t startAddress = 0;
    uint32_t attribute = 0;
    uint32_t modulo = 0;
    uint32_t reps = 0;
};

// One record of a parsed list; points into the received block, copies nothing.
struct FeatureRecordView {
    FeatureHeader header;
    const uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    bool processed = false;
};

FeatureHeader readFeatureHeader(const uint8_t* p);
FeatureBlock readFeatureBlock(const uint8_t* p);

// The eight name characters for a log line; characters that are not printable
// are shown as '?', so that a garbled list cannot put control bytes into a log.
std::string featureNameText(const char* name8);

// Splits `length` bytes into record views (at most kMaxFeatureRecords).
// Returns 0x8010 for a malformed list: a record that begins with fewer than 16
// bytes left, a record length below 16 or beyond the remaining bytes (both
// logged), or a 21st record. `views` then holds the records found before.
QV_STATUS FeatureListParse(const uint8_t* data, uint32_t length, std::vector<FeatureRecordView>& views);

}  // namespace tarnix
