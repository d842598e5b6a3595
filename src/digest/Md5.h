#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnix {

// MD5 message digest (RFC 1321). After finalize() further updates change
// nothing, and the input buffer holds no trace of the message.
class Md5 {
public:
    using Digest = std::array<uint8_t, 16>;

    Md5();
    void update(const uint8_t* data, std::size_t length);
    void finalize();
    bool finalized() const { return finalized_; }
    // Valid after finalize().
    const Digest& digest() const { return digest_; }

    static Digest of(const uint8_t* data, std::size_t length);

private:
    void transform(const uint8_t* block);

    bool finalized_ = false;
    uint32_t bitCount_[2] = {0, 0};  // message length in bits, low word first
    uint32_t state_[4];
    uint8_t buffer_[64];
    Digest digest_{};
};

}  // namespace tarnix
