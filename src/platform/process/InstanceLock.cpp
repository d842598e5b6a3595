#include "platform/process/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnix {
namespace platform {

// The marker is a Unix socket bound in the abstract namespace: binding is
// atomic create-if-absent, and the name vanishes with the last descriptor.
InstanceLock::InstanceLock(const std::string& name) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        failed_ = true;
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Leading zero byte: abstract name, nothing appears in the file system.
    const size_t room = sizeof address.sun_path - 1;
    const size_t length = name.size() < room ? name.size() : room;
    std::memcpy(address.sun_path + 1, name.data(), length);
    const socklen_t addressLength = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), addressLength) == 0) {
        created_ = true;
        return;
    }
    const int bindError = errno;
    ::close(fd_);
    fd_ = -1;
    failed_ = bindError != EADDRINUSE;
}

InstanceLock::~InstanceLock() { close(); }

bool InstanceLock::close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 || errno == EINTR;
}

std::string InstanceLock::effectiveName(const std::string& fixedName) {
    const char* override = std::getenv(kInstanceNameOverrideVariable);
    if (override != nullptr && *override != '\0') return override;
    return fixedName;
}

}  // namespace platform
}  // namespace tarnix
