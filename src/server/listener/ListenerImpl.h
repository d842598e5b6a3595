#pragma once
#include "core/component/QVBaseImpl.h"
#include "platform/net/WakeEvent.h"
#include "platform/net/Socket.h"

#include <shared_mutex>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tarnix {

class ServerContext;

namespace impl {

class ListenerImpl : public QVBaseImpl {
public:
    // Wait after a failure before the next try.
    static constexpr int kPassWaitMs = 100;
    // Longest wait of an idle pass for a client; a change of the settings or
    // a stop ends it at once.
    static constexpr int kIdleWaitMs = 1000;
    // Room for many clients connecting at once: a full backlog makes the
    // system drop connection attempts, which clients retry only after
    // seconds. The system caps it at its own maximum.
    static constexpr int kBacklog = SOMAXCONN;
    // Clients taken in one pass: between passes the thread reaps the
    // sessions that ended, also while clients keep coming.
    static constexpr int kAcceptsPerPass = 64;

    ListenerImpl(exception::ExceptionCarrier& carrier, ServerContext& context);
    ~ListenerImpl() override;

    void pre() override;
    void run() override;
    void stop() override;

    void setOpenOverride(int32_t value);
    void setPort(uint16_t port);
    int32_t getOpenOverride() const;
    uint16_t getPort() const;
    bool waitForSettingsApplied(std::chrono::milliseconds timeout) const;

    // Opens the listening socket with the current settings unless one is
    // open. Throws QVSocketException when a step fails.
    void openSocket();

private:
    // Whether a session has stopped and waits to be reaped.
    bool childrenEnding() const;
    // With the settings lock held exclusively.
    void applySettingsLocked();
    void acceptWaitingClients();
    // Makes and starts the session of an accepted client; a client whose
    // session cannot get what it needs is refused (its connection closed)
    // with one line in the log.
    void startSession(platform::Socket client);
    void markApplied(uint32_t counter);

    ServerContext& context_;
    mutable std::shared_mutex settingsLock_;
    // Ends the idle wait for a change of the settings or a stop.
    platform::WakeEvent wake_;
    std::atomic<uint32_t> settingsCounter_{1};
    std::atomic<uint32_t> appliedCounter_{0};
    int32_t openOverride_ = 0;
    uint16_t port_ = 8005;

    // Listener thread only (and destruction).
    platform::Socket listening_;
    uint16_t listeningPort_ = 0;
    bool listeningAny_ = false;

    mutable std::mutex appliedMutex_;
    mutable std::condition_variable appliedChanged_;
};

}  // namespace impl
}  // namespace tarnix
