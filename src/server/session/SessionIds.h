#pragma once
#include "platform/thread/Mutex.h"

#include <bitset>
#include <cstdint>

namespace tarnix {

// Session ids name a session in request and reply records. They come from a
// 16-bit counter that skips the ids still in use, 0 and 0xFFFF (the session
// tag of changes no request caused), so that a reply meant for a closed
// session never reaches a newer one. One set per server (ServerContext).
class SessionIds {
public:
    SessionIds() = default;
    SessionIds(const SessionIds&) = delete;
    SessionIds& operator=(const SessionIds&) = delete;

    // False when all 65,534 ids are in use.
    bool acquire(uint16_t& id);
    void release(uint16_t id);
    // Ids in use (for tests and the class log).
    uint32_t inUse() const;

private:
    mutable Mutex mutex_;
    std::bitset<65536> used_ QV_GUARDED_BY(mutex_);
    uint32_t count_ QV_GUARDED_BY(mutex_) = 0;
    uint16_t last_ QV_GUARDED_BY(mutex_) = 0;
};

}  // namespace tarnix
