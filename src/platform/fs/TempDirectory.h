#pragma once
#include <string>

namespace tarnix {
namespace platform {

// The user's temporary directory: $TMPDIR when set and not empty, otherwise
// the system default "/tmp". The directory is not checked for existence.
std::string userTempDirectory();

}  // namespace platform
}  // namespace tarnix
