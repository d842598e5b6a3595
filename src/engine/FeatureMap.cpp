#include "engine/FeatureMap.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cstring>
#include <new>

namespace tarnix {

namespace {

bool validRow(const FeatureMap& map, int row) { return row >= 0 && row < map.maximum; }

int firstClearedRow(const FeatureMap& map) {
    for (int row = 0; row < map.count; ++row)
        if (!map.items[row].inUse) return row;
    return -1;
}

}  // namespace

int FeatureMapFreeRows(const FeatureMap& map) {
    int cleared = 0;
    for (int row = 0; row < map.count; ++row)
        if (!map.items[row].inUse) ++cleared;
    return map.maximum - map.count + cleared;
}

QV_STATUS FeatureMapAllocate(FeatureMap& map) {
    try {
        map.items.assign(std::size_t(std::max(map.maximum, 0)), Feature{});
        map.index.assign(map.items.size(), nullptr);
        map.starts.assign(map.items.size(), 0);
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    }
    map.sortedCount = 0;
    map.sorted = false;
    ++map.generation;
    ++map.changes;
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapReserve(FeatureMap& map, int n) {
    QVLOG(logging::debug) << boost::format(
                                 "Requested space for %d new items in FeatureMap, (%d currently used of %d maximum).") %
                                 n % map.count % map.maximum;
    if (n <= FeatureMapFreeRows(map)) return QV_NO_ERROR;
    QVLOG(logging::error) << boost::format(
                                 "Requested space for %d new items in FeatureMap, which exceeds maximum %d (%d "
                                 "currently used). Reallocation is not possible.") %
                                 n % map.maximum % map.count;
    return QV_ALLOC_FAILED;
}

QV_STATUS FeatureMapInsert(FeatureMap& map, uint32_t address, uint32_t count, uint32_t stride, uint32_t attribute,
                           const char* name8, Feature** out) {
    // Counts come from the instrument's feature list; each instance costs memory
    // here, so an absurd count is refused before anything is allocated.
    if (count > kFeatureMapMaxInstances) {
        QVLOG(logging::error) << boost::format("Refusing a register block with %u instances at 0x%08x (maximum %u).") %
                                     count % address % kFeatureMapMaxInstances;
        return QV_BUFFER_TOO_SMALL;
    }
    for (int row = 0; row < map.count; ++row) {
        if (map.items[row].inUse && map.items[row].address == address) {
            QVLOG(logging::debug) << boost::format("Duplicate (0x%08x) at index %d!") % address % row;
            return QV_ITEM_EXISTS;
        }
    }
    // A cleared row is taken again before a fresh one, so that rebuilding the
    // groups of an instrument again and again cannot use up the map.
    int row = firstClearedRow(map);
    if (row < 0) {
        if (map.count >= map.maximum) {
            QVLOG(logging::error) << boost::format(
                                         "Attempt to insert more than maximum %d items into FeatureMap, reallocation "
                                         "is not possible.") %
                                         map.maximum;
            return QV_ALLOC_FAILED;
        }
        row = map.count;
    }
    Feature item;
    try {
        item.instances.resize(count);
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    } catch (const std::length_error&) {
        return QV_ALLOC_FAILED;
    }
    item.address = address;
    item.count = count;
    item.stride = stride;
    item.attribute = attribute;
    item.size = uint64_t(count) * stride;
    item.end = uint32_t(address + item.size);
    if (name8) std::memcpy(item.name, name8, 8);
    item.name[8] = '\0';
    item.inUse = true;

    map.sorted = false;
    ++map.changes;
    map.items[row] = std::move(item);
    if (row == map.count) ++map.count;
    if (out) *out = &map.items[row];
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapClearRow(FeatureMap& map, int row) {
    if (!validRow(map, row)) return QV_NO_ERROR;
    map.items[row] = Feature{};
    map.sorted = false;
    ++map.changes;
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapAddSubfeature(FeatureMap& map, int row, int instance, uint32_t offset, uint32_t size,
                                  int32_t epId) {
    if (!validRow(map, row)) return QV_VALUE_NOT_FOUND;
    Feature& item = map.items[row];
    if (instance < 0 || uint32_t(instance) >= item.count || uint32_t(instance) >= item.instances.size())
        return QV_BUFFER_TOO_SMALL;
    FeatureMapSubfeature sub;
    sub.offset = offset;
    sub.size = size;
    sub.epId = epId;
    sub.address = item.address + uint32_t(instance) * item.stride + offset;
    try {
        item.instances[std::size_t(instance)].push_back(sub);
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    }
    ++map.generation;
    ++map.changes;
    map.sorted = false;
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapSort(FeatureMap& map) {
    std::vector<Feature*>& index = map.index;
    index.clear();
    for (int row = 0; row < map.count; ++row)
        if (map.items[row].inUse) index.push_back(&map.items[row]);
    // Stable: on equal start addresses the lowest row stays first and the others
    // are left out of the index.
    std::stable_sort(index.begin(), index.end(),
                     [](const Feature* a, const Feature* b) { return a->address < b->address; });
    index.erase(std::unique(index.begin(), index.end(),
                            [](const Feature* a, const Feature* b) { return a->address == b->address; }),
                index.end());
    map.starts.resize(index.size());
    for (std::size_t i = 0; i < index.size(); ++i) map.starts[i] = index[i]->address;
    map.sortedCount = uint32_t(index.size());
    map.sorted = true;
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapLookup(FeatureMap& map, uint32_t address, uint32_t length, Feature** item, uint32_t* instance,
                           const FeatureMapSubfeature** subs, uint32_t* n) {
    // Sorting cannot fail.
    if (!map.sorted) FeatureMapSort(map).ignore();
    auto notFound = [&]() {
        if (item) *item = nullptr;
        if (instance) *instance = 0;
        if (n) *n = 0;
        return QV_NO_ERROR;
    };
    const auto first = map.starts.begin();
    const auto last = first + map.sortedCount;
    auto above = std::upper_bound(first, last, address);  // first start above the address
    if (above == first) return notFound();
    Feature* found = map.index[std::size_t(above - first - 1)];
    if (!found->covers(address)) return notFound();

    const uint32_t inst = (address - found->address) / found->stride;
    if (item) *item = found;
    if (instance) *instance = inst;
    if (subs && n) {
        const uint32_t capacity = *n;
        *n = 0;
        const uint64_t blockEnd = uint64_t(address) + length;
        for (const FeatureMapSubfeature& sub : found->instances[inst]) {
            if (*n >= capacity) break;
            if (sub.address >= address && uint64_t(sub.address) + sub.size <= blockEnd) subs[(*n)++] = &sub;
        }
    }
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapRowOf(const Feature* item, const FeatureMap& map, int* row) {
    if (!row) return QV_NO_ERROR;
    *row = -1;
    if (!item || map.items.empty()) return QV_NO_ERROR;
    const Feature* base = map.items.data();
    if (item >= base && item < base + map.items.size()) *row = int(item - base);
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapAddressOf(const Feature* item, int instance, uint32_t offset, uint32_t* address) {
    if (!item || !address) return QV_NO_ERROR;
    if (instance < 0 || uint32_t(instance) >= item->count) return QV_BUFFER_TOO_SMALL;
    const uint64_t relative = uint64_t(uint32_t(instance)) * item->stride + offset;
    *address = relative < item->size ? uint32_t(item->address + relative) : 0;
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapItemSetUserData(Feature* item, const uint32_t* word) {
    if (!item || !word) return QV_NO_ERROR;
    item->userData.assign(4, 0);
    le::put32(item->userData.data(), *word);
    return QV_NO_ERROR;
}

QV_STATUS FeatureMapDestroy(FeatureMap& map) {
    map.items.clear();
    map.items.shrink_to_fit();
    map.index.clear();
    map.starts.clear();
    map.sortedCount = 0;
    map.sorted = false;
    map.maximum = 0;
    map.count = 0;
    ++map.changes;
    return QV_NO_ERROR;
}

}  // namespace tarnix
