#include "platform/usb/UsbBackend.h"

#include "platform/usb/FolderWatch.h"

namespace tarnix {
namespace platform {
namespace usb {

bool Backend::waitForChange(std::chrono::milliseconds timeout, int wakeFd) {
    waitForReadable(wakeFd, timeout);
    return false;
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
