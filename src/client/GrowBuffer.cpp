#include "GrowBuffer.h"

#include <new>

namespace tarnix {
namespace client {

GrowBuffer::GrowBuffer(uint32_t initialSize, uint32_t maximum, uint32_t step)
    : bytes_(new (std::nothrow) uint8_t[initialSize]), maximum_(maximum), step_(step) {
    if (bytes_) size_ = initialSize;
}

QV_STATUS GrowBuffer::reserve(uint32_t n) {
    if (!present()) return QV_ALLOC_FAILED;
    if (n <= size_) return QV_NO_ERROR;
    if (n > maximum_) return QV_BUFFER_TOO_SMALL;
    uint64_t grown = uint64_t(step_) * (n / step_ + 1);
    uint32_t newSize = grown > maximum_ ? maximum_ : uint32_t(grown);
    bytes_.reset(new (std::nothrow) uint8_t[newSize]);
    if (!bytes_) {
        size_ = maximum_ = step_ = 0;
        return QV_ALLOC_FAILED;
    }
    size_ = newSize;
    return QV_NO_ERROR;
}

}  // namespace client
}  // namespace tarnix
