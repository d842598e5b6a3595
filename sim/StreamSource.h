#pragma once
#include "RegisterSpace.h"

#include <cstdint>
#include <functional>

namespace tarnix {
namespace sim {

// Device-to-host data that falls due at its own pace, such as samples at a set
// rate: the instrument asks for it when the host reads and no other message
// waits, so it waits in the instrument's FIFO as on the real device rather
// than in messages made ahead of time. Both calls come with the instrument
// locked and must not call into it.
class StreamSource {
public:
    // Sends one message; false when the host's read has no room for it.
    using Send = std::function<bool(uint32_t address, const uint8_t* payload, uint32_t length)>;

    virtual ~StreamSource() = default;
    // Whether anything is due now.
    virtual bool due() = 0;
    // Sends what is due, oldest first, while the read has room; `registers`
    // gives the settings.
    virtual void produce(RegisterSpace& registers, const Send& send) = 0;
};

}  // namespace sim
}  // namespace tarnix
