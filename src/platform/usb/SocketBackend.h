#pragma once
#include "platform/usb/FolderWatch.h"
#include "platform/usb/UsbBackend.h"

#include <chrono>
#include <mutex>
#include <string>

namespace tarnix {
namespace platform {
namespace usb {

// Instruments as Unix sockets in a directory: each listening socket is one
// attached instrument (a simulated one). Enumeration lists the sockets in path
// order and leaves out hidden ones (names starting with a dot) and those nobody
// listens on any more, so a socket whose process has ended counts as unplugged.
// A hung instrument (one that no longer takes connections) is left out too:
// no connect waits longer than kConnectDeadline.
class SocketBackend : public Backend {
public:
    // Uses instrumentDirectory() anew for every enumeration.
    SocketBackend();
    // Uses a fixed directory.
    explicit SocketBackend(std::string directory);

    std::vector<InterfaceEntry> enumerate(const std::string& classGuid, uint32_t& error) override;
    std::shared_ptr<DeviceHandle> open(const std::string& path) override;
    // A socket that appears in or leaves the instrument folder (inotify).
    bool waitForChange(std::chrono::milliseconds timeout, int wakeFd = -1) override;
    // The socket at `path` is still there, and still the same one (its
    // plug-in): removing it pulls the instrument out, as its process ending does.
    bool stillPlugged(const std::string& path, uint64_t plugIn) override;
    // The instrument directory.
    std::string location() const override { return directory(); }

private:
    std::string directory() const;

    std::string directory_;
    std::mutex watchMutex_;
    FolderWatch watch_;
};

// How long a connect waits for an instrument that does not take connections
// (a full accept queue: the instrument has stopped accepting).
constexpr std::chrono::milliseconds kConnectDeadline{100};

// Connects a stream socket to a Unix socket path; -1 when that fails or the
// instrument does not take the connection within `deadline`. The socket
// returned blocks, as SocketDevice expects.
int connectUnixSocket(const std::string& path, std::chrono::milliseconds deadline = kConnectDeadline);

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
