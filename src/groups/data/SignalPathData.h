#pragma once
// Per-device state of the node groups: Oscillators, modulators and demodulators.
// Kept in the device state's group store (GroupFamilyData.h) and used only on
// the device thread.
//
// Fields of these groups that SharedGroupData (shared), the engine's
// DeviceStateGroupData (groups) and DeviceState hold, and that other groups read:
//   shared.oscillatorCount   number of oscillators (OSCS instances)
//   shared.modulatorCount    number of modulators (MODS instances)
//   shared.demodulatorCount  number of demodulators (DEMODS instances)
//   groups.demodInputIndex   input index of demodulator n (n < 32), -1 for none
//   shared.demodOscSelect    oscillator index of demodulator n (n < 8)
//   demodExtender            timestamp extender of demodulator and modulator samples
#include "groups/DemodSampleLoss.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnix {

struct SignalPathData {
    // Room for oscillators, modulators and demodulators in the tables below.
    static constexpr std::size_t kOscSlots = 8;
    static constexpr std::size_t kModSlots = 8;
    static constexpr std::size_t kDemodSlots = 8;

    // Endpoint of OSCS/n/FREQ; -1 until it exists.
    std::array<int32_t, kOscSlots> oscFreqEpId{{-1, -1, -1, -1, -1, -1, -1, -1}};

    // Row of the modulation-mode table that modulator n's register image selects.
    std::array<int32_t, kModSlots> modMode{};
    // Endpoint of MODS/n/SAMPLE; -1 until it exists.
    std::array<int32_t, kModSlots> modSampleEpId{{-1, -1, -1, -1, -1, -1, -1, -1}};

    // Feature-list version of the demodulator record; it selects handlers.
    uint16_t demodsVersion = 0;
    // Nonzero while demodulator n has its sinc filter on.
    std::array<int32_t, kDemodSlots> demodSincEnable{};
    // The settings block of the demodulators, for the blocks of demodulators 6
    // and 7 that follow it on instruments that list only 6.
    int32_t demodBlockRow = -1;
    uint32_t demodBlockStride = 0;
    uint32_t demodBlockAttribute = 0;

    // Gaps in the demodulators' sample times: samples the instrument lost.
    DemodSampleLoss demodSampleLoss;
};

}  // namespace tarnix
