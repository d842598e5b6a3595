#pragma once
#include "ModelVariants.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnix {
namespace sim {

// What the simulated LQ3 tells the host about itself.
struct ModelOptions {
    static constexpr uint64_t kDefaultOptionsMask = 0x4B;  // device type 1, options 0, 1 and 3
    static constexpr uint32_t kDefaultHeartbeatHz = 50;

    ModelVariant variant = modelVariants().front();
    std::vector<uint8_t> featureRecords;  // empty: the variant's list
    std::vector<uint8_t> pushRecords;     // the list a push serves (lq3sim: on SIGUSR1)
    uint64_t optionsMask = kDefaultOptionsMask;
    // Bits 0-2 hardware revision, bit 3 board flag; empty: the variant's revision.
    std::optional<uint32_t> boardWord;
    uint32_t heartbeatHz = kDefaultHeartbeatHz;  // STATUS blocks per second; 0: none
    uint32_t auxDioSampleHz = 0;                  // aux-input and DIO sample packets per second; 0: none
};

}  // namespace sim
}  // namespace tarnix
