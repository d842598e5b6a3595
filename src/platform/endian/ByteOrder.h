#pragma once
#include <cstdint>
#include <cstring>

// Field-by-field little-endian access for wire formats and records. Never copy
// structs onto the wire; read and write each field through these.
namespace tarnix {
namespace le {

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putDouble(uint8_t* p, double d) {
    uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    put64(p, v);
}
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
}
inline double getDouble(const uint8_t* p) {
    uint64_t v = get64(p);
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

}  // namespace le
}  // namespace tarnix
