#include "platform/usb/UsbBackend.h"

#include "platform/usb/FolderWatch.h"

namespace tarnix {
namespace platform {
namespace usb {

bool Backend::waitForChange(std::chrono::milliseconds timeout, int wakeFd) {
    waitForReadable(wakeFd, timeout);
    return false;
}

bool Backend::stillPlugged(const std::string&, uint64_t) { return true; }

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
