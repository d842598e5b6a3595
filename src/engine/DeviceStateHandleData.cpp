#include "engine/DeviceState.h"
#include "engine/FeatureBootstrap.h"
#include "engine/MessageHandling.h"

#include <algorithm>

namespace tarnix {

namespace {

QV_STATUS routeRawListen(DeviceAccess& device, DeviceState& state, uint32_t address, uint32_t length,
                         const uint8_t* data) {
    if (address != state.rawListenAddress) return QV_NO_ERROR;
    EPNodePtr ep = DeviceStateEPNodesFind(state.epNodes, state.rawListenEPId);
    if (!ep || !ep->updateData) return QV_NO_ERROR;
    return ep->updateData(device, ep, data, length);
}

// Any change of the register map or of the endpoint table starts the cache
// afresh; checked before every instance, since handlers may change them.
void checkAddressCache(DeviceState& state) {
    AddressCache& cache = state.addressCache;
    if (state.cacheGeneration == state.features.generation &&
        state.cacheChangeCounter == state.epNodes.changeCounter && cache.mapChanges == state.features.changes)
        return;
    cache.reset();
    state.cacheGeneration = state.features.generation;
    state.cacheChangeCounter = state.epNodes.changeCounter;
    cache.mapChanges = state.features.changes;
}

// Fills the cache entry of the block start: the item, the instance and the
// endpoints (at most four) that lie wholly inside the remaining data.
QV_STATUS fillEntry(DeviceState& state, AddressCacheEntry& entry, uint32_t address, uint32_t remaining) {
    const FeatureMapSubfeature* subs[AddressCacheEntry::kMaxEndpoints];
    uint32_t n = AddressCacheEntry::kMaxEndpoints;
    entry.whole = false;
    if (QV_STATUS s = FeatureMapLookup(state.features, address, remaining, &entry.item, &entry.instance, subs, &n))
        return s;
    entry.n = 0;
    if (!entry.item) {
        entry.address = 0;
        return QV_NO_ERROR;
    }
    entry.address = address;
    for (uint32_t i = 0; i < n; ++i) {
        if (subs[i]->size == 0) continue;
        EPNodePtr ep = DeviceStateEPNodesFind(state.epNodes, subs[i]->epId);
        if (!ep) continue;
        entry.eps[entry.n] = std::move(ep);
        entry.offsets[entry.n] = subs[i]->address - address;
        entry.sizes[entry.n] = subs[i]->size;
        ++entry.n;
    }
    // Whether every field from the address on was inside this block.
    uint64_t span = 0;
    for (const FeatureMapSubfeature& sub : entry.item->instances[entry.instance])
        if (sub.address >= address) span = std::max<uint64_t>(span, uint64_t(sub.address - address) + sub.size);
    entry.span = span;
    entry.whole = remaining >= span;
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS DeviceStateHandleData(DeviceAccess& device, uint32_t address, uint32_t length, const uint8_t* data) {
    DeviceState& state = stateOf(device);
    if (QV_STATUS s = routeRawListen(device, state, address, length, data)) return s;
    uint32_t current = address;
    uint32_t remaining = length;
    const uint8_t* cursor = data;
    while (remaining > 0) {
        checkAddressCache(state);
        AddressCacheEntry& entry = state.addressCache.entryFor(current);
        if (!entry.serves(current, remaining)) {
            if (QV_STATUS s = fillEntry(state, entry, current, remaining)) return s;
        }
        if (!entry.item) break;
        // Keep what is needed to advance: the item handler may clear or reuse its row.
        const uint32_t itemAddress = entry.item->address;
        const uint32_t stride = entry.item->stride;
        const uint32_t instance = entry.instance;
        if (entry.item->dataFunc) {
            ItemDataFunc func = entry.item->dataFunc;
            if (QV_STATUS s = func(device, *entry.item, current, instance, cursor, remaining)) return s;
        }
        for (uint32_t i = 0; i < entry.n; ++i) {
            // The entry holds the reference while the handler runs: nothing
            // refills or resets it before the next instance.
            const EPNodePtr& ep = entry.eps[i];
            if (ep->flags & EPFlagAwaiting) {
                if (QV_STATUS s = DeviceStateClearAwaiting(device, ep->epId)) return s;
            }
            if (ep->updateData) {
                if (QV_STATUS s = ep->updateData(device, ep, cursor + entry.offsets[i], entry.sizes[i])) return s;
            }
        }
        const uint32_t next = itemAddress + (instance + 1) * stride;
        const uint32_t consumed = next - current;
        if (consumed == 0 || consumed >= remaining) break;
        remaining -= consumed;
        cursor += consumed;
        current = next;
    }
    return DeviceStateBootstrapAperture(device, address, length, data);
}

}  // namespace tarnix
