#include "RegisterSpace.h"

#include <algorithm>
#include <cstring>

namespace tarnix {
namespace sim {

void RegisterSpace::addRegion(uint32_t base, uint32_t size, std::shared_ptr<RegisterRegion> region) {
    regions_[base] = Region{size, std::move(region)};
}

const std::pair<const uint32_t, RegisterSpace::Region>* RegisterSpace::regionAt(uint32_t address,
                                                                               uint64_t& plainLength) const {
    auto next = regions_.upper_bound(address);
    if (next != regions_.begin()) {
        auto candidate = std::prev(next);
        if (uint64_t(address) < uint64_t(candidate->first) + candidate->second.size) return &*candidate;
    }
    plainLength = next == regions_.end() ? 0 : uint64_t(next->first) - address;
    return nullptr;
}

template <class OnRegion, class OnMemory>
void RegisterSpace::split(uint32_t address, uint32_t length, OnRegion onRegion, OnMemory onMemory) {
    uint32_t done = 0;
    while (done < length) {
        const uint32_t at = address + done;
        uint64_t plain = 0;
        const auto* region = regionAt(at, plain);
        const uint64_t left = length - done;
        if (region) {
            const auto step = uint32_t(std::min<uint64_t>(left, uint64_t(region->first) + region->second.size - at));
            onRegion(*region->second.behaviour, at, done, step);
            done += step;
        } else {
            const auto step = uint32_t(plain == 0 ? left : std::min<uint64_t>(left, plain));
            onMemory(at, done, step);
            done += step;
        }
    }
}

void RegisterSpace::read(uint32_t address, uint8_t* out, uint32_t length) {
    split(
        address, length,
        [&](RegisterRegion& region, uint32_t at, uint32_t offset, uint32_t step) { region.read(at, out + offset, step); },
        [&](uint32_t at, uint32_t offset, uint32_t step) { readMemory(at, out + offset, step); });
}

void RegisterSpace::write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) {
    split(
        address, length,
        [&](RegisterRegion& region, uint32_t at, uint32_t offset, uint32_t step) {
            region.write(at, data + offset, step, sink);
        },
        [&](uint32_t at, uint32_t offset, uint32_t step) { writeMemory(at, data + offset, step); });
}

void RegisterSpace::readMemory(uint32_t address, uint8_t* out, uint32_t length) const {
    while (length > 0) {
        const uint32_t inPage = address & (kPageSize - 1);
        const uint32_t step = std::min(length, kPageSize - inPage);
        const auto page = pages_.find(address >> kPageBits);
        if (page == pages_.end())
            std::memset(out, 0, step);
        else
            std::memcpy(out, page->second.data() + inPage, step);
        address += step;
        out += step;
        length -= step;
    }
}

void RegisterSpace::writeMemory(uint32_t address, const uint8_t* data, uint32_t length) {
    while (length > 0) {
        const uint32_t inPage = address & (kPageSize - 1);
        const uint32_t step = std::min(length, kPageSize - inPage);
        auto inserted = pages_.try_emplace(address >> kPageBits);
        if (inserted.second) inserted.first->second.fill(0);
        std::memcpy(inserted.first->second.data() + inPage, data, step);
        address += step;
        data += step;
        length -= step;
    }
}

}  // namespace sim
}  // namespace tarnix
