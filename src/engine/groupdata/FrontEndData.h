#pragma once
// Per-device state of the node groups: Scopes, signal inputs, signal outputs and the status word.
// Kept in the device state and used only on the device thread.

namespace tarnix {

struct FrontEndData {
};

}  // namespace tarnix
