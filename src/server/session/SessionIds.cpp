#include "server/session/SessionIds.h"

#include <bitset>
#include <mutex>

namespace tarnix {
namespace SessionIds {
namespace {

struct Registry {
    std::mutex mutex;
    std::bitset<65536> used;
    uint32_t count = 0;
    uint16_t last = 0;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

bool usable(uint16_t id) { return id != 0 && id != 0xFFFF; }

}  // namespace

bool acquire(uint16_t& id) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (uint32_t step = 0; step < 65536; ++step) {
        uint16_t candidate = uint16_t(r.last + 1 + step);
        if (usable(candidate) && !r.used.test(candidate)) {
            r.used.set(candidate);
            ++r.count;
            r.last = candidate;
            id = candidate;
            return true;
        }
    }
    return false;
}

void release(uint16_t id) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.used.test(id)) {
        r.used.reset(id);
        --r.count;
    }
}

uint32_t inUse() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.count;
}

}  // namespace SessionIds
}  // namespace tarnix
