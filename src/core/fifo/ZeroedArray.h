#pragma once
#include "core/fifo/PageMapping.h"

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace tarnix {

// An array of zero-filled elements, owned like std::unique_ptr<T[]>. Large
// FIFOs are built per session, per device and per streamed endpoint; their
// memory is a mapping of its own (see PageMapping), so building one costs next
// to nothing until its memory is really used, and freeing it gives every page
// back to the system at once.
template <class T>
class ZeroedArray {
    static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                  "only types whose all-zero bytes are a valid value");

public:
    ZeroedArray() = default;
    explicit ZeroedArray(std::size_t count) : pages_(bytesFor(count)) {}

    T* get() const { return static_cast<T*>(pages_.data()); }
    T& operator[](std::size_t index) const { return get()[index]; }
    explicit operator bool() const { return pages_.data() != nullptr; }

private:
    static std::size_t bytesFor(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return (count ? count : 1) * sizeof(T);
    }

    PageMapping pages_;
};

template <class T>
ZeroedArray<T> allocateZeroed(std::size_t count) {
    return ZeroedArray<T>(count);
}

}  // namespace tarnix
