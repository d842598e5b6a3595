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
//
// An entry that holds every endpoint of its instance from its address on
// (`whole`) serves again every later block that starts at the same address and
// reaches `span` bytes beyond it, until the cache is reset: the samples of a
// stream arrive in the same places message after message.
struct AddressCacheEntry {
    static constexpr uint32_t kMaxEndpoints = 4;
    uint32_t address = 0;  // 0 when the last lookup found no item
    Feature* item = nullptr;
    uint32_t instance = 0;
    uint32_t n = 0;
    std::array<EPNodePtr, kMaxEndpoints> eps;
    std::array<uint32_t, kMaxEndpoints> offsets{};
    std::array<uint32_t, kMaxEndpoints> sizes{};
    bool whole = false;
    uint64_t span = 0;  // bytes from the address to the end of its instance's last field

    bool serves(uint32_t blockAddress, uint32_t remaining) const {
        return whole && item && address == blockAddress && remaining >= span;
    }
};

struct AddressCache {
    static constexpr uint32_t kEntries = 8192;
    std::vector<AddressCacheEntry> entries = std::vector<AddressCacheEntry>(kEntries);
    uint32_t mapChanges = 0;  // the register map's change count at the last reset

    static uint32_t bucketOf(uint32_t address) { return (address >> 5) & (kEntries - 1); }
    AddressCacheEntry& entryFor(uint32_t address) { return entries[bucketOf(address)]; }
    void reset() {
        for (AddressCacheEntry& e : entries) e = AddressCacheEntry{};
    }
};

}  // namespace tarnix
