#pragma once
#include "RegisterSpace.h"

#include "platform/endian/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

namespace tarnix {
namespace sim {

// One 32-bit register whose writes the model follows: it holds the word as
// plain memory would and hands every word written to `changed`. That runs
// with the instrument locked, so it must not call into the instrument.
class WatchedWord : public RegisterRegion {
public:
    WatchedWord(uint32_t address, std::function<void(uint32_t)> changed)
        : address_(address), changed_(std::move(changed)) {}

    void read(uint32_t address, uint8_t* out, uint32_t length) override {
        std::copy_n(bytes_.begin() + (address - address_), length, out);
    }
    void write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink&) override {
        std::copy_n(data, length, bytes_.begin() + (address - address_));
        changed_(le::get32(bytes_.data()));
    }

private:
    uint32_t address_;
    std::function<void(uint32_t)> changed_;
    std::array<uint8_t, 4> bytes_{};
};

}  // namespace sim
}  // namespace tarnix
