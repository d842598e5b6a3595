#pragma once

namespace tarnix {
namespace platform {

// True when a key press (a byte of input) waits on standard input. The byte
// stays unread. The end of input, a closed or missing standard input and a
// terminal line not yet ended with Enter are not key presses.
bool consoleKeyWaiting();

}  // namespace platform
}  // namespace tarnix
