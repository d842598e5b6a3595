#pragma once
#include <cstddef>

namespace tarnix {

// Zero-filled memory for large buffers. From kMinMappedBytes on it is an
// anonymous mapping of its own: pages cost memory only once they are touched,
// and all of them go back to the system when the mapping ends. (The C
// library's pools would keep a freed multi-MiB block, hand it out again and
// zero it page by page, so that memory once used by a session or a device
// stayed with the process.) Smaller ones come from calloc. Throws
// std::bad_alloc when the memory cannot be had.
class PageMapping {
public:
    static constexpr std::size_t kMinMappedBytes = 64 * 1024;

    PageMapping() = default;
    explicit PageMapping(std::size_t bytes);
    ~PageMapping();
    PageMapping(PageMapping&& other) noexcept;
    PageMapping& operator=(PageMapping&& other) noexcept;
    PageMapping(const PageMapping&) = delete;
    PageMapping& operator=(const PageMapping&) = delete;

    void* data() const { return data_; }
    std::size_t size() const { return bytes_; }

private:
    void release() noexcept;

    void* data_ = nullptr;
    std::size_t bytes_ = 0;
};

}  // namespace tarnix
