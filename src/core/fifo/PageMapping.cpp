#include "core/fifo/PageMapping.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace tarnix {

PageMapping::PageMapping(std::size_t bytes) : bytes_(bytes) {
    if (bytes >= kMinMappedBytes) {
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        // Page by page: a huge page would make the first byte of a session's
        // FIFO cost 2 MiB where transparent huge pages are always on.
        ::madvise(p, bytes, MADV_NOHUGEPAGE);
        data_ = p;
    } else {
        data_ = std::calloc(bytes ? bytes : 1, 1);
        if (!data_) throw std::bad_alloc();
    }
}

PageMapping::~PageMapping() { release(); }

PageMapping::PageMapping(PageMapping&& other) noexcept : data_(other.data_), bytes_(other.bytes_) {
    other.data_ = nullptr;
    other.bytes_ = 0;
}

PageMapping& PageMapping::operator=(PageMapping&& other) noexcept {
    if (this != &other) {
        release();
        data_ = other.data_;
        bytes_ = other.bytes_;
        other.data_ = nullptr;
        other.bytes_ = 0;
    }
    return *this;
}

void PageMapping::release() noexcept {
    if (!data_) return;
    if (bytes_ >= kMinMappedBytes)
        ::munmap(data_, bytes_);
    else
        std::free(data_);
    data_ = nullptr;
    bytes_ = 0;
}

}  // namespace tarnix
