#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/labview/NumericArray.h"
#include "qvLabVIEW.h"

namespace lvtest {

namespace lvrt = tarnix::platform::labview;

// Event records are 4 MiB: keep them off the stack.
inline std::unique_ptr<QvEvent> makeEvent(uint32_t valueType, uint32_t count) {
    auto event = std::make_unique<QvEvent>();
    event->valueType = valueType;
    event->count = count;
    event->data = event->dataArea;
    return event;
}

// A byte pattern that differs in every byte of the first records, so that a
// field taken from the wrong place or record shows.
inline uint8_t patternByte(uint32_t record, uint32_t byte) { return uint8_t(record * 31u + byte * 7u + 1u); }

inline void fillPattern(QvEvent& event, uint32_t recordSize, uint32_t records) {
    for (uint32_t i = 0; i < records; ++i) {
        for (uint32_t b = 0; b < recordSize; ++b) event.dataArea[i * recordSize + b] = patternByte(i, b);
    }
}

// The elements of a one-dimensional array as raw native values of `width`
// bytes, widened to 64 bits.
inline std::vector<uint64_t> elementsOf(lvrt::ArrayHandle handle, std::size_t width) {
    std::vector<uint64_t> out;
    const int32_t n = lvrt::arrayLength(handle);
    const uint8_t* at = lvrt::arrayElements(handle);
    for (int32_t i = 0; i < n; ++i) {
        uint64_t v = 0;
        std::memcpy(&v, at + std::size_t(i) * width, width);  // little-endian host
        out.push_back(v);
    }
    return out;
}

template <class T>
std::vector<T> valuesOf(lvrt::ArrayHandle handle) {
    std::vector<T> out(std::size_t(std::max(0, lvrt::arrayLength(handle))));
    if (!out.empty()) std::memcpy(out.data(), lvrt::arrayElements(handle), out.size() * sizeof(T));
    return out;
}

}  // namespace lvtest
