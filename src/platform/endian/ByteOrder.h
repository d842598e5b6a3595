#pragma once
#include <cstdint>
#include <cstring>

// Field-by-field little-endian access for wire formats and records. Never copy
// structs onto the wire; read and write each field through these.
//
// Each field is one load or store of its width (the byte order swapped on a
// big-endian host): streams convert millions of fields a second, and a field
// stored byte by byte also stalls the wider load that reads it back.
namespace tarnix {
namespace le {

namespace detail {
constexpr bool kHostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
inline uint16_t toLittle(uint16_t v) { return kHostIsLittleEndian ? v : __builtin_bswap16(v); }
inline uint32_t toLittle(uint32_t v) { return kHostIsLittleEndian ? v : __builtin_bswap32(v); }
inline uint64_t toLittle(uint64_t v) { return kHostIsLittleEndian ? v : __builtin_bswap64(v); }

template <class T>
inline void store(uint8_t* p, T v) {
    v = toLittle(v);
    std::memcpy(p, &v, sizeof v);
}
template <class T>
inline T load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return toLittle(v);
}
}  // namespace detail

inline void put16(uint8_t* p, uint16_t v) { detail::store(p, v); }
inline void put32(uint8_t* p, uint32_t v) { detail::store(p, v); }
inline void put64(uint8_t* p, uint64_t v) { detail::store(p, v); }
inline void putDouble(uint8_t* p, double d) {
    uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    put64(p, v);
}
inline uint16_t get16(const uint8_t* p) { return detail::load<uint16_t>(p); }
inline uint32_t get32(const uint8_t* p) { return detail::load<uint32_t>(p); }
inline uint64_t get64(const uint8_t* p) { return detail::load<uint64_t>(p); }
inline double getDouble(const uint8_t* p) {
    uint64_t v = get64(p);
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

}  // namespace le
}  // namespace tarnix
