#pragma once

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

    int fd() const { return fd_; }
    void notify();
    // Clears every pending notification.
    void drain();

private:
    int fd_;
};

}  // namespace platform
}  // namespace tarnix
