#pragma once
// Per-device state of the node groups: Auxiliary inputs, digital I/O and auxiliary outputs.
// Kept in the device state's group store (GroupFamilyData.h) and used only on
// the device thread.
//
// Fields of these groups that SharedGroupData (shared), the engine's
// DeviceStateGroupData (groups) and DeviceState hold, and that other groups read:
//   shared.auxInputCount   number of AUXINS instances
//   shared.dioCount        number of DIOS instances
//   shared.auxOutputCount  number of AUXOUTS instances
//   auxInExtender, dioExtender  timestamp extenders of the two sample streams
#include <array>
#include <cstdint>

namespace tarnix {

struct AuxDioData {
    static constexpr std::size_t kMaxAuxOutScales = 32;

    // The SCALE endpoints of the auxiliary outputs, in creation order. Their
    // shown values depend on other groups' settings, so those groups refresh
    // them through this list (groups/AuxOutsScale.h).
    std::array<uint32_t, kMaxAuxOutScales> auxOutScaleEpIds{};
    uint32_t auxOutScaleEpIdCount = 0;
};

}  // namespace tarnix
