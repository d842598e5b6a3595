#include "platform/usb/DeviceHandle.h"

namespace tarnix {
namespace platform {
namespace usb {

IoResult DeviceHandle::getOverlappedResult(Overlapped& overlapped, bool wait) {
    while (overlapped.pending()) {
        if (!wait || !overlapped.event) return IoResult{kErrorIoIncomplete, 0};
        // Short waits: the auto-reset event may already have been taken by the
        // caller's own polling, and the status is what counts.
        overlapped.event->wait(10);
    }
    return IoResult{overlapped.status(), overlapped.bytes()};
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
