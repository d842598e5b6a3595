#pragma once
// Small helpers for FIFO tests: blocks filled with a pattern that depends on
// a seed, so that any overwrite of unread data shows up when it is read back.
#include "core/fifo/QVFifo.h"

#include <cstdint>
#include <vector>

namespace tarnix {
namespace test {

inline uint8_t patternByte(uint32_t seed, uint32_t index) {
    return uint8_t(seed * 131u + index * 7u + (index >> 8));
}

inline std::vector<uint8_t> pattern(uint32_t seed, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i) bytes[i] = patternByte(seed, i);
    return bytes;
}

// Reserves, fills and commits one block; returns its data pointer or nullptr
// when the FIFO refused it.
inline uint8_t* writePattern(QVFifo& fifo, uint32_t seed, uint32_t length) {
    uint8_t* data = nullptr;
    if (!fifo.beginWrite(data, length)) return nullptr;
    for (uint32_t i = 0; i < length; ++i) data[i] = patternByte(seed, i);
    fifo.commitBlock();
    return data;
}

// Reads up to length bytes (0 = all at once) and consumes them.
inline std::vector<uint8_t> readAll(QVFifo& fifo, uint32_t length = 0) {
    uint8_t* data = nullptr;
    if (!fifo.beginRead(data, length)) return {};
    std::vector<uint8_t> bytes(data, data + length);
    fifo.consumeBlock();
    return bytes;
}

}  // namespace test
}  // namespace tarnix
