#include "server/session/SessionIds.h"

namespace tarnix {
namespace {

bool usable(uint16_t id) { return id != 0 && id != 0xFFFF; }

}  // namespace

bool SessionIds::acquire(uint16_t& id) {
    LockGuard<Mutex> lock(mutex_);
    for (uint32_t step = 0; step < 65536; ++step) {
        uint16_t candidate = uint16_t(last_ + 1 + step);
        if (usable(candidate) && !used_.test(candidate)) {
            used_.set(candidate);
            ++count_;
            last_ = candidate;
            id = candidate;
            return true;
        }
    }
    return false;
}

void SessionIds::release(uint16_t id) {
    LockGuard<Mutex> lock(mutex_);
    if (used_.test(id)) {
        used_.reset(id);
        --count_;
    }
}

uint32_t SessionIds::inUse() const {
    LockGuard<Mutex> lock(mutex_);
    return count_;
}

}  // namespace tarnix
