#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnix {

// Appends text to a caller-owned buffer of fixed capacity. Nothing is ever
// written beyond the capacity: what does not fit is cut off and remembered,
// so that the caller can report an output that was too small.
class TextOutput {
public:
    TextOutput(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    void put(char c) {
        if (length_ < capacity_)
            buffer_[length_++] = c;
        else
            full_ = true;
    }
    void put(const char* text, std::size_t n) {
        std::size_t room = capacity_ - length_;
        if (n > room) {
            n = room;
            full_ = true;
        }
        std::memcpy(buffer_ + length_, text, n);
        length_ += n;
    }
    void put(const char* text) { put(text, std::strlen(text)); }

    std::size_t length() const { return length_; }
    // True once something did not fit.
    bool full() const { return full_; }

private:
    char* buffer_;
    std::size_t capacity_;
    std::size_t length_ = 0;
    bool full_ = false;
};

}  // namespace tarnix
