#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {
namespace sim {

// What the simulated LQ3 tells the host about itself.
struct ModelOptions {
    static constexpr uint64_t kDefaultOptionsMask = 0x4B;  // device type 1, options 0, 1 and 3
    static constexpr uint32_t kDefaultHeartbeatHz = 50;

    std::vector<uint8_t> featureRecords;  // empty: the default list
    std::vector<uint8_t> pushRecords;     // the list a push serves (lq3sim: on SIGUSR1)
    uint64_t optionsMask = kDefaultOptionsMask;
    uint32_t boardWord = 0;                       // bits 0-2 hardware revision, bit 3 board flag
    uint32_t heartbeatHz = kDefaultHeartbeatHz;  // STATUS blocks per second; 0: none
    uint32_t auxDioSampleHz = 0;                  // aux-input and DIO sample packets per second; 0: none
};

}  // namespace sim
}  // namespace tarnix
