#pragma once
#include <string>

namespace tarnix {

// Throws QVDeviceException `message` located at `module` and `line` (static
// texts), with the signature of the throwing function, so that a failure of
// an instrument reads the same in every log wherever the code moves.
[[noreturn]] void throwDeviceFailure(const std::string& message, const char* function, const char* module, int line);

}  // namespace tarnix
