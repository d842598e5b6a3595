#include "platform/process/ConsoleKey.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarnix {
namespace platform {

bool consoleKeyWaiting() {
    pollfd entry{};
    entry.fd = STDIN_FILENO;
    entry.events = POLLIN;
    if (::poll(&entry, 1, 0) <= 0) return false;
    if ((entry.revents & POLLIN) == 0) return false;
    // Readable also means "at end of input"; only bytes that are there count.
    int bytes = 0;
    if (::ioctl(STDIN_FILENO, FIONREAD, &bytes) != 0) return false;
    return bytes > 0;
}

}  // namespace platform
}  // namespace tarnix
