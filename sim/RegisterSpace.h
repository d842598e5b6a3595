#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>

namespace tarnix {
namespace sim {

// Lets register behaviour send device-to-host messages of its own (replies of
// a command mailbox, for example).
class DeviceMessageSink {
public:
    virtual ~DeviceMessageSink() = default;
    virtual void emitMessage(uint32_t address, const uint8_t* data, uint32_t length) = 0;
};

// A block of registers with behaviour of its own, laid over plain memory.
class RegisterRegion {
public:
    virtual ~RegisterRegion() = default;
    virtual void read(uint32_t address, uint8_t* out, uint32_t length) = 0;
    virtual void write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) = 0;
};

// The FPGA's register space: plain memory (a read returns the last write,
// untouched addresses read as zeros) with optional regions laid over it. Not
// thread-safe; the instrument serialises access.
class RegisterSpace {
public:
    // `size` bytes from `base` are served by `region`; regions must not overlap.
    void addRegion(uint32_t base, uint32_t size, std::shared_ptr<RegisterRegion> region);
    void read(uint32_t address, uint8_t* out, uint32_t length);
    void write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink);
    void clearMemory() { pages_.clear(); }

private:
    static constexpr uint32_t kPageBits = 12;
    static constexpr uint32_t kPageSize = 1u << kPageBits;
    struct Region {
        uint32_t size;
        std::shared_ptr<RegisterRegion> behaviour;
    };
    // The region holding `address`, or the distance to the next region start
    // (0 when there is none) through `plainLength`.
    const std::pair<const uint32_t, Region>* regionAt(uint32_t address, uint64_t& plainLength) const;
    // Cuts an access into the pieces served by regions and by plain memory.
    template <class OnRegion, class OnMemory>
    void split(uint32_t address, uint32_t length, OnRegion onRegion, OnMemory onMemory);
    void readMemory(uint32_t address, uint8_t* out, uint32_t length) const;
    void writeMemory(uint32_t address, const uint8_t* data, uint32_t length);

    std::map<uint32_t, Region> regions_;
    std::unordered_map<uint32_t, std::array<uint8_t, kPageSize>> pages_;
};

}  // namespace sim
}  // namespace tarnix
