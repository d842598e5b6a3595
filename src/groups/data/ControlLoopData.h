#pragma once
// Per-device state of the node groups: PID controllers and phase-locked loops.
// Kept in the device state's group store (GroupFamilyData.h) and used only on
// the device thread.
//
// Fields of these groups that SharedGroupData (shared), the engine's
// DeviceStateGroupData (groups) and DeviceState hold, and that other groups read:
//   shared.pidCount   number of PID controllers shown (PIDS instances)
//   shared.pllCount   number of PLLs (PLLS instances)
//   pidStrobeEnable, pidStrobeAddress  the PID update register: after a write
//                     of a PID register (or of a setting the controllers
//                     depend on) the value 1 is written there
//   pidStrobePending  set by other groups; the send pass writes the strobe once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnix {

struct ControlLoopData {
    // The RATE endpoint of each controller shown, all of which show the common
    // rate register; sized by the PID init from the controllers it builds.
    std::vector<int32_t> pidRateEndpoints;
    // The last control update rate computed from the rate register, samples/s.
    double pidRate = 0.0;

    // Version of the PLL feature record; some PLL leaves exist only from version 2.
    uint16_t pllFeatureVersion = 0;
    // Register-map row of the blocks of demodulators 6 and 7 that the PLLs
    // reach; -1 while none is registered.
    int32_t demods67Row = -1;
};

}  // namespace tarnix
