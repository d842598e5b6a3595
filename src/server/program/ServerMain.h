#pragma once

namespace tarnix {

// The whole of qvServer's main function: start-up, main loop, shut-down.
// Returns the exit code: 0 after an orderly end, after help and when another
// instance runs; 1 when an exception reached it.
int serverMain(int argc, char** argv);

}  // namespace tarnix
