#pragma once
// Per-device state of the node groups: PID controllers and phase-locked loops.
// Kept in the device state and used only on the device thread.

namespace tarnix {

struct ControlLoopData {
};

}  // namespace tarnix
