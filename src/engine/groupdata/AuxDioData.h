#pragma once
// Per-device state of the node groups: Auxiliary inputs, digital I/O and auxiliary outputs.
// Kept in the device state and used only on the device thread.

namespace tarnix {

struct AuxDioData {
};

}  // namespace tarnix
