#pragma once
#include "platform/usb/UsbBackend.h"

#include <string>

namespace tarnix {
namespace platform {
namespace usb {

// Instruments as Unix sockets in a directory: each listening socket is one
// attached instrument (a simulated one). Enumeration lists the sockets in path
// order and leaves out hidden ones (names starting with a dot) and those nobody
// listens on any more, so a socket whose process has ended counts as unplugged.
class SocketBackend : public Backend {
public:
    // Uses instrumentDirectory() anew for every enumeration.
    SocketBackend();
    // Uses a fixed directory.
    explicit SocketBackend(std::string directory);

    std::vector<InterfaceEntry> enumerate(const std::string& classGuid, uint32_t& error) override;
    std::shared_ptr<DeviceHandle> open(const std::string& path) override;

private:
    std::string directory() const;

    std::string directory_;
};

// Connects a stream socket to a Unix socket path; -1 when that fails.
int connectUnixSocket(const std::string& path);

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
