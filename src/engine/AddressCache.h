#pragma once
#include "engine/DeviceStateEPNode.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tarnix {

struct Feature;

// Routing of one block start: the item and instance found and the (at most
// four) endpoints that lie wholly inside the block. Entries keep their endpoint
// references until their bucket is used again or the cache is reset, so that
// handlers called during routing can change the tables safely.
struct AddressCacheEntry {
    static constexpr uint32_t kMaxEndpoints = 4;
    uint32_t address = 0;  // 0 when the last lookup found no item
    Feature* item = nullptr;
    uint32_t instance = 0;
    uint32_t n = 0;
    std::array<EPNodePtr, kMaxEndpoints> eps;
    std::array<uint32_t, kMaxEndpoints> offsets{};
    std::array<uint32_t, kMaxEndpoints> sizes{};
};

struct AddressCache {
    static constexpr uint32_t kEntries = 8192;
    std::vector<AddressCacheEntry> entries = std::vector<AddressCacheEntry>(kEntries);

    static uint32_t bucketOf(uint32_t address) { return (address >> 5) & (kEntries - 1); }
    AddressCacheEntry& entryFor(uint32_t address) { return entries[bucketOf(address)]; }
    void reset() {
        for (AddressCacheEntry& e : entries) e = AddressCacheEntry{};
    }
};

}  // namespace tarnix
