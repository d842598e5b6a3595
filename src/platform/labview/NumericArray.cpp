#include "platform/labview/NumericArray.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace tarnix {
namespace platform {
namespace labview {

namespace {

constexpr std::size_t kDimensionSizeBytes = sizeof(int32_t);
// More dimensions than any caller uses; bounds the block header.
constexpr int32_t kMaxDimensions = 64;

bool blockBytes(std::size_t elementSize, int32_t dimensions, std::size_t elementCount, std::size_t& out) {
    const std::size_t header = kDimensionSizeBytes * std::size_t(dimensions);
    if (elementCount > (std::numeric_limits<std::size_t>::max() - header) / elementSize) return false;
    out = header + elementCount * elementSize;
    return true;
}

}  // namespace

std::size_t numericElementSize(int32_t typeCode) {
    switch (typeCode) {
        case kNumericInt16:
            return 2;
        case kNumericUInt32:
            return 4;
        case kNumericUInt64:
        case kNumericDouble:
            return 8;
        default:
            return 0;
    }
}

int32_t builtinNumericArrayResize(int32_t typeCode, int32_t dimensions, ArrayHandle* handleAddress,
                                  std::size_t elementCount) {
    const std::size_t elementSize = numericElementSize(typeCode);
    if (handleAddress == nullptr || elementSize == 0 || dimensions < 1 || dimensions > kMaxDimensions) {
        return kResizeBadArgument;
    }
    std::size_t bytes = 0;
    if (!blockBytes(elementSize, dimensions, elementCount, bytes)) return kResizeNoMemory;

    ArrayHandle handle = *handleAddress;
    if (handle == nullptr) {
        handle = static_cast<ArrayHandle>(std::calloc(1, sizeof(uint8_t*)));
        if (handle == nullptr) return kResizeNoMemory;
        *handle = static_cast<uint8_t*>(std::calloc(1, bytes));
        if (*handle == nullptr) {
            std::free(handle);
            return kResizeNoMemory;
        }
        *handleAddress = handle;
        return kResizeDone;
    }
    if (*handle == nullptr) {
        *handle = static_cast<uint8_t*>(std::calloc(1, bytes));
        return *handle == nullptr ? kResizeNoMemory : kResizeDone;
    }
    // realloc keeps the old block when it fails, so the array stays usable.
    void* grown = std::realloc(*handle, bytes);
    if (grown == nullptr) return kResizeNoMemory;
    *handle = static_cast<uint8_t*>(grown);
    return kResizeDone;
}

void disposeNumericArray(ArrayHandle handle) {
    if (handle == nullptr) return;
    std::free(*handle);
    std::free(handle);
}

bool arrayPresent(ArrayHandle handle) { return handle != nullptr && *handle != nullptr; }

int32_t arrayLength(ArrayHandle handle) {
    if (!arrayPresent(handle)) return -1;
    int32_t length = 0;
    std::memcpy(&length, *handle, sizeof length);
    return length;
}

void setArrayLength(ArrayHandle handle, int32_t length) {
    if (arrayPresent(handle)) std::memcpy(*handle, &length, sizeof length);
}

uint8_t* arrayElements(ArrayHandle handle) {
    return arrayPresent(handle) ? *handle + kDimensionSizeBytes : nullptr;
}

bool OwnedNumericArray::assign(int32_t typeCode, int32_t length) {
    if (length < 0) return false;
    if (builtinNumericArrayResize(typeCode, 1, &handle_, std::size_t(length)) != kResizeDone) return false;
    setArrayLength(handle_, length);
    return true;
}

}  // namespace labview
}  // namespace platform
}  // namespace tarnix
