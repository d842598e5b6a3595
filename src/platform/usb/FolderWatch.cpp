#include "platform/usb/FolderWatch.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace tarnix {
namespace platform {
namespace usb {

namespace {

constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

}  // namespace

FolderWatch::FolderWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
}

void FolderWatch::watch(const std::string& folder) {
    if (fd_ < 0 || (watch_ >= 0 && folder == folder_)) return;
    if (watch_ >= 0) ::inotify_rm_watch(fd_, watch_);
    folder_ = folder;
    watch_ = ::inotify_add_watch(fd_, folder.c_str(), kEntryEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

bool FolderWatch::takeEvents() {
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    bool changed = false;
    for (;;) {
        const ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length <= 0) return changed;  // EAGAIN: all taken
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->wd != watch_) continue;
            if (event->mask & kFolderGone) {
                // Watched again (or no longer) at the next wait.
                watch_ = -1;
                changed = true;
            } else if ((event->mask & kEntryEvents) && event->len > 0 && event->name[0] != '.') {
                changed = true;
            }
        }
    }
}

bool waitForReadable(int fd, std::chrono::milliseconds timeout) {
    if (fd < 0) {
        std::this_thread::sleep_for(timeout);
        return false;
    }
    pollfd readable{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&readable, 1, int(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool FolderWatch::waitForChange(const std::string& folder, std::chrono::milliseconds timeout, int wakeFd) {
    watch(folder);
    if (watch_ < 0) {
        waitForReadable(wakeFd, timeout);
        return false;
    }
    pollfd readable[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(readable, wakeFd >= 0 ? 2 : 1, int(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (readable[0].revents & POLLIN) != 0 && takeEvents();
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
