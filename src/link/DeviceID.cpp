#include "link/DeviceID.h"

#include "core/Logging.h"

namespace tarnix {
namespace detail {

void DeviceID_USB::describe() const {
    QVLOG(logging::debug) << "Device P/N " << product_ << ", S/N " << serial_;
}

}  // namespace detail
}  // namespace tarnix
