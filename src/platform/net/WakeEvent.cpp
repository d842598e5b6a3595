#include "platform/net/WakeEvent.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarnix {
namespace platform {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() { close(); }

bool WakeEvent::valid() const { return fd() >= 0; }

int WakeEvent::fd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fd_;
}

void WakeEvent::notify() {
    const uint64_t one = 1;
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) (void)!::write(fd_, &one, sizeof one);
}

void WakeEvent::drain() {
    uint64_t count = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) (void)!::read(fd_, &count, sizeof count);
}

void WakeEvent::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace platform
}  // namespace tarnix
