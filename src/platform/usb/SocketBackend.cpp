#include "platform/usb/SocketBackend.h"

#include "platform/usb/InstrumentDirectory.h"
#include "platform/usb/SocketDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnix {
namespace platform {
namespace usb {

SocketBackend::SocketBackend() = default;

SocketBackend::SocketBackend(std::string directory) : directory_(std::move(directory)) {}

std::string SocketBackend::directory() const { return directory_.empty() ? instrumentDirectory() : directory_; }

int connectUnixSocket(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

bool somebodyListens(const std::string& path) {
    const int fd = connectUnixSocket(path);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

std::vector<InterfaceEntry> SocketBackend::enumerate(const std::string& classGuid, uint32_t& error) {
    error = kErrorSuccess;
    std::vector<InterfaceEntry> entries;
    if (classGuid != kInstrumentClassGuid) return entries;
    const std::string folder = directory();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        // A folder that does not exist simply holds no instruments.
        if (errno != ENOENT && errno != ENOTDIR) error = kErrorGenFailure;
        return entries;
    }
    std::vector<std::string> paths;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;  // hidden: not (yet) an instrument
        const std::string path = folder + "/" + entry->d_name;
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) paths.push_back(path);
    }
    ::closedir(dir);
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        if (somebodyListens(path)) entries.push_back(InterfaceEntry{path, kErrorSuccess});
    }
    return entries;
}

std::shared_ptr<DeviceHandle> SocketBackend::open(const std::string& path) {
    const int fd = connectUnixSocket(path);
    if (fd < 0) return nullptr;
    return std::make_shared<SocketDevice>(fd);
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
