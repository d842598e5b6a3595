#pragma once
// Per-device state of the node groups: Oscillators, modulators and demodulators.
// Kept in the device state and used only on the device thread.

namespace tarnix {

struct SignalPathData {
};

}  // namespace tarnix
