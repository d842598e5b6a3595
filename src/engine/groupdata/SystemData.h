#pragma once
// Per-device state of the node groups: System nodes, real-time CPUs and KCtrl preamplifiers.
// Kept in the device state and used only on the device thread.

namespace tarnix {

struct SystemData {
};

}  // namespace tarnix
