#pragma once
#include <cstdint>
#include <string>

namespace tarnix {

// Key of a dispatcher tree in the registry: the server's own tree or an
// instrument's tree by serial number. The server's tree sorts first, then the
// devices by serial number, for every 32-bit serial (0 included), so that a
// device can neither collide with the server's tree nor overtake it.
class TreeId {
public:
    static TreeId server() { return TreeId(0); }
    static TreeId device(uint32_t serial) { return TreeId(uint64_t(serial) + 1); }

    bool isServer() const { return key_ == 0; }
    // The device's serial number; 0 for the server's tree.
    uint32_t serial() const { return isServer() ? 0 : uint32_t(key_ - 1); }
    uint64_t key() const { return key_; }
    std::string toString() const { return isServer() ? "server" : "DEV" + std::to_string(serial()); }

    friend bool operator<(TreeId a, TreeId b) { return a.key_ < b.key_; }
    friend bool operator==(TreeId a, TreeId b) { return a.key_ == b.key_; }
    friend bool operator!=(TreeId a, TreeId b) { return a.key_ != b.key_; }

private:
    explicit TreeId(uint64_t key) : key_(key) {}
    uint64_t key_;
};

}  // namespace tarnix
