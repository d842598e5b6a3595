#include "platform/fs/TempDirectory.h"

#include <cstdlib>

namespace tarnix {
namespace platform {

std::string userTempDirectory() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
    return "/tmp";
}

}  // namespace platform
}  // namespace tarnix
