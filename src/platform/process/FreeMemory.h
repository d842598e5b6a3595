#pragma once

namespace tarnix {
namespace platform {

// Gives the free memory of the C library's pools back to the system. Sessions
// and devices allocate on threads of their own, and the pools those threads
// used keep what the ended ones freed; the server returns it once a pass.
void returnFreeMemory();

}  // namespace platform
}  // namespace tarnix
