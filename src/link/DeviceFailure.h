#pragma once

namespace tarnix {

// To be called inside a catch block on a device thread: rethrows the current
// exception as a QVDeviceException (one of that family unchanged), keeping
// the message and the place where it was first thrown. So whatever fails for
// one instrument ends that instrument's device object, never the server.
[[noreturn]] void rethrowAsDeviceException();

}  // namespace tarnix
