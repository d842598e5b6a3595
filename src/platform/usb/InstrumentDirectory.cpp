#include "platform/usb/InstrumentDirectory.h"

#include "platform/fs/TempDirectory.h"

#include <cstdlib>

namespace tarnix {
namespace platform {
namespace usb {

const char* const kInstrumentDirVariable = "QV_INSTRUMENT_DIR";
const char* const kInstrumentClassGuid = "{0de7710b-b317-47d1-a33c-25c3fbb5044c}";

std::string instrumentDirectory() {
    const char* configured = std::getenv(kInstrumentDirVariable);
    if (configured && *configured) return configured;
    return userTempDirectory() + "/lq3-instruments";
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
