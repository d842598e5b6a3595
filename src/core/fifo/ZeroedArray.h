#pragma once
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

namespace tarnix {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

// An array owned like std::unique_ptr<T[]>, allocated zero-filled by calloc.
// Large FIFOs are built per device and per streamed endpoint; calloc hands out
// fresh zero pages without touching them, so building one costs next to
// nothing until its memory is really used.
template <class T>
using ZeroedArray = std::unique_ptr<T[], FreeDeleter>;

template <class T>
ZeroedArray<T> allocateZeroed(std::size_t count) {
    static_assert(std::is_trivially_default_constructible<T>::value &&
                      std::is_trivially_destructible<T>::value,
                  "only types whose all-zero bytes are a valid value");
    void* p = std::calloc(count ? count : 1, sizeof(T));
    if (!p) throw std::bad_alloc();
    return ZeroedArray<T>(static_cast<T*>(p));
}

}  // namespace tarnix
