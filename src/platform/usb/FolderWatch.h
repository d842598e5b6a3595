#pragma once
#include <chrono>
#include <string>

namespace tarnix {
namespace platform {
namespace usb {

// Waits at most `timeout` for `fd` to become readable (just waits when fd is
// -1); true when it did.
bool waitForReadable(int fd, std::chrono::milliseconds timeout);

// Watches one folder for entries that appear, go or are renamed (inotify), so
// that an instrument plugged into the instrument folder is seen at once rather
// than at the next periodic scan. A folder that does not exist (yet) is
// watched from the first wait that finds it. Used by one thread at a time.
class FolderWatch {
public:
    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Waits at most `timeout` for a change of a visible entry of `folder`
    // (names starting with a dot are not looked at); true when there was one.
    // Without a watch it just waits out the time. A readable `wakeFd` (when
    // not -1) ends the wait early, with false.
    bool waitForChange(const std::string& folder, std::chrono::milliseconds timeout, int wakeFd = -1);

private:
    void watch(const std::string& folder);
    bool takeEvents();

    int fd_;
    int watch_ = -1;
    std::string folder_;
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
