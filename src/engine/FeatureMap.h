#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace tarnix {

class DeviceAccess;
struct Feature;

// One register field of one instance, bound to one endpoint.
struct FeatureMapSubfeature {
    uint32_t offset = 0;   // within the instance
    uint32_t size = 0;     // bytes
    int32_t epId = -1;
    uint32_t address = 0;  // absolute: item address + instance * stride + offset
};

// Called with every block of device data that starts inside the item: the
// block's address there, the instance, the data from that address and its
// length up to the end of the block.
using ItemDataFunc = std::function<QV_STATUS(DeviceAccess& device, Feature& item, uint32_t address,
                                             uint32_t instance, const uint8_t* data, uint32_t length)>;

// One register block of the instrument, repeated `count` times `stride` apart.
struct Feature {
    uint32_t address = 0;
    uint32_t count = 0;
    uint32_t stride = 0;
    uint32_t attribute = 0;
    uint64_t size = 0;  // count * stride, kept wide so that no product wraps
    uint32_t end = 0;   // address + size (as the instrument's 32-bit space sees it)
    char name[9] = {};
    // One subfeature list per instance; a row that is not in use was cleared.
    bool inUse = false;
    std::vector<std::vector<FeatureMapSubfeature>> instances;
    ItemDataFunc dataFunc;
    std::vector<uint8_t> userData;

    // Whether an absolute address falls inside instance 0 .. count-1.
    bool covers(uint32_t addr) const { return addr >= address && uint64_t(addr - address) < size; }
};

// The register map of one instrument: fixed capacity, rows addressed by index,
// a lazily built index sorted by start address for the data path.
struct FeatureMap {
    int maximum = 0;
    int count = 0;  // rows ever handed out; cleared rows below it are reused first
    uint32_t generation = 0;
    // Every change of the rows or their subfeatures; the data path reuses its
    // routing only while this stays as it was.
    uint32_t changes = 0;
    bool sorted = false;
    std::vector<Feature> items;  // `maximum` rows; never reallocated after FeatureMapAllocate
    uint32_t sortedCount = 0;
    std::vector<Feature*> index;
    std::vector<uint32_t> starts;
};

// Most instances one register block may have.
constexpr uint32_t kFeatureMapMaxInstances = 65536;

QV_STATUS FeatureMapAllocate(FeatureMap& map);
QV_STATUS FeatureMapReserve(FeatureMap& map, int n);
QV_STATUS FeatureMapInsert(FeatureMap& map, uint32_t address, uint32_t count, uint32_t stride,
                           uint32_t attribute, const char* name8, Feature** out = nullptr);
QV_STATUS FeatureMapClearRow(FeatureMap& map, int row);
QV_STATUS FeatureMapAddSubfeature(FeatureMap& map, int row, int instance, uint32_t offset, uint32_t size,
                                  int32_t epId);
QV_STATUS FeatureMapSort(FeatureMap& map);
// Finds the item and instance that hold `address`; when `subs` is given, fills at
// most *n (capacity in, found count out) subfeatures of that instance that lie
// wholly inside [address, address + length].
QV_STATUS FeatureMapLookup(FeatureMap& map, uint32_t address, uint32_t length, Feature** item,
                           uint32_t* instance, const FeatureMapSubfeature** subs, uint32_t* n);
QV_STATUS FeatureMapRowOf(const Feature* item, const FeatureMap& map, int* row);
QV_STATUS FeatureMapAddressOf(const Feature* item, int instance, uint32_t offset, uint32_t* address);
QV_STATUS FeatureMapItemSetUserData(Feature* item, const uint32_t* word);
QV_STATUS FeatureMapDestroy(FeatureMap& map);

// Rows that are in use or reusable; for diagnostics and tests.
int FeatureMapFreeRows(const FeatureMap& map);

}  // namespace tarnix
