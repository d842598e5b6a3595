#include "platform/net/WakeEvent.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnix {
namespace platform {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::notify() {
    const uint64_t one = 1;
    if (fd_ >= 0) (void)!::write(fd_, &one, sizeof one);
}

void WakeEvent::drain() {
    uint64_t count = 0;
    if (fd_ >= 0) (void)!::read(fd_, &count, sizeof count);
}

}  // namespace platform
}  // namespace tarnix
