#pragma once
#include <mutex>

namespace tarnix {
namespace platform {

// A descriptor that another thread makes readable to end a poll early
// (pollSocket's wake descriptor). Notifications add up until drained.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Whether the descriptor could be made.
    bool valid() const;
    int fd() const;
    void notify();
    // Clears every pending notification.
    void drain();
    // Gives the descriptor back; notifications from then on do nothing. Safe
    // while other threads notify: none of them writes to a number that the
    // system has handed out anew.
    void close();

private:
    mutable std::mutex mutex_;
    int fd_;
};

}  // namespace platform
}  // namespace tarnix
