#pragma once
// Per-device state of the node groups: Scopes, signal inputs, signal outputs and the status word.
// Kept in the device state's group store (GroupFamilyData.h) and used only on
// the device thread.
//
// Fields of these groups that SharedGroupData (shared), the engine's
// DeviceStateGroupData (groups) and DeviceState hold, and that other groups read:
//   shared.signalInputCount  number of signal inputs (SIGINS instances)
//   groups.auxOutDerived     gain of signal input i (1 / its range in V), 0.0
//                            until known; reset when feature discovery starts
//   shared.gainTable0/1      calibration factor per 8-bit gain code of input 0/1
//   groups.gainRanges        gain-range tables in service, [input * 2 + sub-table]
//   sigInRewriteEPIds/State/Time  IMP50 endpoints and the 50 Ohm forcing at start-up
// groups/SigIns.h has the gain model (SigInWordGain, SigInSetGain, ...).
#include "engine/GainRangeEntry.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tarnix {

struct FrontEndData {
    static constexpr std::size_t kModelInputs = 2;  // inputs with per-input gain state

    // Signal inputs.
    std::array<int32_t, kModelInputs> sigInRangeEPIds{{-1, -1}};
    std::array<uint32_t, kModelInputs> sigInRangeAuxAddress{};
    // Coupling sub-table in use: 0 = AC coupling on, 1 = AC coupling off.
    std::array<uint32_t, kModelInputs> sigInCouplingTable{};
    // Round of the gain-data requests; every init of the signal inputs starts one.
    uint32_t gainRequestRound = 0;
    // Calibration blocks received per input in this round (four make an input complete).
    std::array<uint32_t, kModelInputs> sigInGainCalBlocks{};
    // Gain-range tables being loaded, [input * 2 + sub-table].
    std::array<std::vector<GainRangeEntry>, 2 * kModelInputs> gainRangesLoading;
    uint32_t gainRangeAnswerCount = 0;  // parts of the table received in this round

    // Signal outputs: the mixer channels that the outputs were given; the PID
    // controllers' output-channel selection is bounded by them.
    int32_t mixerChannelFirst = 0;
    int32_t mixerChannelLast = 0;
};

}  // namespace tarnix
