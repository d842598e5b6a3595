#pragma once
#include <string>

namespace tarnix {
namespace platform {
namespace usb {

// Name of the environment variable that chooses the instrument directory.
extern const char* const kInstrumentDirVariable;

// The folder whose Unix sockets are the attached (simulated) instruments:
// $QV_INSTRUMENT_DIR when set and not empty, else "lq3-instruments" under the
// user's temporary directory. Read anew on every call.
std::string instrumentDirectory();

// Class GUID of the instrument's device interfaces.
extern const char* const kInstrumentClassGuid;

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
