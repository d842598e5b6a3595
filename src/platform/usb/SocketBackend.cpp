#include "platform/usb/SocketBackend.h"

#include "platform/usb/InstrumentDirectory.h"
#include "platform/usb/SocketDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnix {
namespace platform {
namespace usb {

namespace {

// Pause between connect tries while an accept queue is full.
constexpr int kConnectRetryMs = 5;

}  // namespace

SocketBackend::SocketBackend() = default;

SocketBackend::SocketBackend(std::string directory) : directory_(std::move(directory)) {}

std::string SocketBackend::directory() const { return directory_.empty() ? instrumentDirectory() : directory_; }

int connectUnixSocket(const std::string& path, std::chrono::milliseconds deadline) {
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    const auto fail = [fd] {
        ::close(fd);
        return -1;
    };
    // A listener whose accept queue is full makes a blocking connect wait
    // until it accepts, for ever when its process has stopped. Without
    // blocking, such a connect fails with EAGAIN; a live instrument empties its
    // queue within milliseconds, so a few more tries before the deadline.
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) break;
        if (errno == EINTR) continue;
        if (errno == EINPROGRESS) {
            pollfd writable{fd, POLLOUT, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            int error = 0;
            socklen_t length = sizeof error;
            if (::poll(&writable, 1, int(std::max<long long>(0, left.count()))) != 1 ||
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
                return fail();
            break;
        }
        if (errno != EAGAIN || std::chrono::steady_clock::now() >= end) return fail();
        ::poll(nullptr, 0, kConnectRetryMs);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail();
    return fd;
}

namespace {

// A socket made anew (an instrument plugged in again) is another file, with
// its own change time, even where it got the number of the one before.
uint64_t plugInOf(const struct stat& info) {
    const uint64_t changed = uint64_t(info.st_ctim.tv_sec) * 1000000000u + uint64_t(info.st_ctim.tv_nsec);
    return (uint64_t(info.st_ino) * 0x9E3779B97F4A7C15u) ^ changed;
}

bool outOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

enum class Listening { Yes, No, Unknown };

// Unknown when the process has no descriptor left to ask with.
Listening somebodyListens(const std::string& path) {
    const int fd = connectUnixSocket(path);
    if (fd < 0) return outOfDescriptors(errno) ? Listening::Unknown : Listening::No;
    ::close(fd);
    return Listening::Yes;
}

}  // namespace

std::vector<InterfaceEntry> SocketBackend::enumerate(const std::string& classGuid, uint32_t& error) {
    error = kErrorSuccess;
    std::vector<InterfaceEntry> entries;
    if (classGuid != kInstrumentClassGuid) return entries;
    const std::string folder = directory();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        // A folder that does not exist simply holds no instruments; neither
        // does one that cannot be read, but that is said. Without a
        // descriptor to look, nothing is known about the folder.
        if (outOfDescriptors(errno) || errno == ENOMEM)
            error = kErrorTooManyOpenFiles;
        else if (errno != ENOENT && errno != ENOTDIR)
            error = kErrorAccessDenied;
        return entries;
    }
    std::vector<InterfaceEntry> sockets;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;  // hidden: not (yet) an instrument
        const std::string path = folder + "/" + entry->d_name;
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
            sockets.push_back(InterfaceEntry{path, kErrorSuccess, plugInOf(info)});
    }
    ::closedir(dir);
    std::sort(sockets.begin(), sockets.end(),
              [](const InterfaceEntry& a, const InterfaceEntry& b) { return a.path < b.path; });
    for (InterfaceEntry& socket : sockets) {
        const Listening listening = somebodyListens(socket.path);
        if (listening == Listening::Unknown) {
            error = kErrorTooManyOpenFiles;
            return {};
        }
        if (listening == Listening::Yes) entries.push_back(std::move(socket));
    }
    return entries;
}

bool SocketBackend::stillPlugged(const std::string& path, uint64_t plugIn) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return errno != ENOENT && errno != ENOTDIR;
    return S_ISSOCK(info.st_mode) && (plugIn == 0 || plugInOf(info) == plugIn);
}

bool SocketBackend::waitForChange(std::chrono::milliseconds timeout, int wakeFd) {
    std::lock_guard<std::mutex> lock(watchMutex_);
    return watch_.waitForChange(directory(), timeout, wakeFd);
}

std::shared_ptr<DeviceHandle> SocketBackend::open(const std::string& path) {
    const int fd = connectUnixSocket(path);
    if (fd < 0) return nullptr;
    return std::make_shared<SocketDevice>(fd);
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
