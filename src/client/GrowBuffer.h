#pragma once
#include <cstdint>
#include <memory>

#include "qvAPI.h"

namespace tarnix {
namespace client {

// A byte buffer that grows in whole steps up to a maximum and never shrinks.
// Growing does not keep the old contents: every user fills it anew.
class GrowBuffer {
public:
    GrowBuffer(uint32_t initialSize, uint32_t maximum, uint32_t step);

    // Makes the buffer hold at least n bytes: the new size is the next whole
    // step above n, at most the maximum. n above the maximum gives
    // QV_BUFFER_TOO_SMALL and leaves the buffer as it was; a failed
    // allocation gives QV_ALLOC_FAILED and leaves the buffer absent.
    QV_STATUS reserve(uint32_t n);

    bool present() const { return bytes_ != nullptr; }
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    uint32_t size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    uint32_t size_ = 0;
    uint32_t maximum_ = 0;
    uint32_t step_ = 0;
};

}  // namespace client
}  // namespace tarnix
