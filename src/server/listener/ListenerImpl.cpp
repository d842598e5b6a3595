#include "server/listener/ListenerImpl.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "server/listener/Listener.h"
#include "server/listener/QVSocketException.h"
#include "server/session/Session.h"
#include "server/session/SessionImpl.h"

#include <boost/format.hpp>
#include <mutex>
#include <shared_mutex>

#include <cerrno>
#include <cstring>
#include <thread>

namespace tarnix {
namespace impl {
namespace {

const char* addressText(bool any) { return any ? "0.0.0.0" : "127.0.0.1"; }

[[noreturn]] void throwSocketFailure(const char* step, uint16_t port, bool any, int error) {
    QVSocketException failure;
    failure.append((boost::format(": %s %s:%u failed (%s)") % step % addressText(any) % port %
                    std::strerror(error))
                       .str());
    QV_THROW(failure);
}

// A listening socket on the port and address, non-blocking so that one pass
// can accept every waiting client. Throws QVSocketException naming the step.
platform::Socket makeListeningSocket(uint16_t port, bool any) {
    platform::Socket socket = platform::createTcpSocket();
    if (!socket.valid()) throwSocketFailure("socket for", port, any, errno);
    if (!platform::setReuseAddress(socket.get(), true)) throwSocketFailure("SO_REUSEADDR on", port, any, errno);
    if (!platform::bindIPv4(socket.get(), port, any)) throwSocketFailure("bind to", port, any, errno);
    if (!platform::listenOn(socket.get(), ListenerImpl::kBacklog)) throwSocketFailure("listen on", port, any, errno);
    if (!platform::setNonBlocking(socket.get(), true)) throwSocketFailure("O_NONBLOCK on", port, any, errno);
    return socket;
}

void sleepOnePass() { std::this_thread::sleep_for(std::chrono::milliseconds(ListenerImpl::kPassWaitMs)); }

}  // namespace

ListenerImpl::ListenerImpl(exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBaseImpl("Listener", carrier), context_(context) {}

ListenerImpl::~ListenerImpl() {
    try {
        stop();
        listening_.close();
    } catch (...) {
        QVLOG(logging::error) << "Severe error: ~Listener did throw. Socket could not be closed.";
    }
}

void ListenerImpl::pre() { setPriority(Lowest); }

void ListenerImpl::stop() {
    QVBaseImpl::stop();
    wake_.notify();
}

void ListenerImpl::run() {
    if (settingsCounter_.load() > appliedCounter_.load()) {
        std::unique_lock<std::shared_mutex> lock(settingsLock_);
        applySettingsLocked();
    }
    if (!listening_.valid()) {
        sleepOnePass();
        return;
    }
    // While a session is ending, the next pass comes soon to reap it.
    platform::PollResult ready =
        platform::pollSocket(listening_.get(), false, childrenEnding() ? kPassWaitMs / 10 : kIdleWaitMs, wake_.fd());
    if (ready.woken) wake_.drain();
    if (ready.count < 0) {
        QVLOG_LIMITED(logging::error) << "Listener error in select. Select return value is smaller than 0.";
        sleepOnePass();
        return;
    }
    if (ready.count == 0 || !ready.readable) return;
    acceptWaitingClients();
}

bool ListenerImpl::childrenEnding() const {
    for (const std::shared_ptr<QVBase>& child : children())
        if (!child->implementation()->isRunning()) return true;
    return false;
}

void ListenerImpl::acceptWaitingClients() {
    for (int accepted = 0; accepted < kAcceptsPerPass && isRunning(); ++accepted) {
        platform::Socket client = platform::acceptClient(listening_.get());
        if (client.valid()) {
            startSession(std::move(client));
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) return;
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
            // The client waits in the backlog until an ending session gives
            // its descriptors back; meanwhile the listening socket stays
            // readable, so the listener rests instead of trying at once.
            QVLOG_LIMITED(logging::warning)
                << "Socket can't accept. " << std::strerror(error) << "; the listener tries again shortly.";
        } else {
            QVLOG_LIMITED(logging::error) << "Socket can't accept.";
        }
        sleepOnePass();
        return;
    }
}

void ListenerImpl::startSession(platform::Socket client) {
    std::shared_ptr<Session> session;
    try {
        session = std::make_shared<Session>(std::move(client), carrier(), context_);
        session->impl().setStopNotice([this] { wake_.notify(); });
        addChild(session);
    } catch (const std::exception& failure) {
        // No descriptor, memory or thread for the session, or no session id.
        // A session that was added but not started counts as ended and is
        // reaped after this pass.
        QVLOG_LIMITED(logging::error) << "Client refused: " << failure.what();
    }
}

void ListenerImpl::openSocket() {
    if (listening_.valid()) return;
    const bool any = openOverride_ == 1;
    listening_ = makeListeningSocket(port_, any);
    listeningPort_ = port_;
    listeningAny_ = any;
}

void ListenerImpl::applySettingsLocked() {
    const uint32_t target = settingsCounter_.load();
    const bool any = openOverride_ == 1;
    if (!listening_.valid()) {
        // Without a socket there is nothing to fall back to: the server
        // cannot serve anyone, so this failure ends it.
        openSocket();
    } else if (port_ != listeningPort_ || any != listeningAny_) {
        platform::Socket fresh;
        try {
            fresh = makeListeningSocket(port_, any);
        } catch (const QVSocketException&) {
            if (port_ == listeningPort_) {
                // Same port on another address: the old socket holds it.
                listening_.close();
                try {
                    fresh = makeListeningSocket(port_, any);
                } catch (const QVSocketException&) {
                    listening_ = makeListeningSocket(listeningPort_, listeningAny_);
                }
            }
        }
        if (fresh.valid()) {
            listening_ = std::move(fresh);
            listeningPort_ = port_;
            listeningAny_ = any;
        } else {
            QVLOG(logging::error) << boost::format(
                                         "Listener could not open %s:%u. Keeps listening on %s:%u.") %
                                         addressText(any) % port_ % addressText(listeningAny_) %
                                         listeningPort_;
            port_ = listeningPort_;
            openOverride_ = listeningAny_ ? 1 : 0;
        }
    }
    markApplied(target);
}

void ListenerImpl::markApplied(uint32_t counter) {
    {
        std::lock_guard<std::mutex> lock(appliedMutex_);
        appliedCounter_.store(counter);
    }
    appliedChanged_.notify_all();
}

bool ListenerImpl::waitForSettingsApplied(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(appliedMutex_);
    return appliedChanged_.wait_for(lock, timeout,
                                    [this] { return appliedCounter_.load() >= settingsCounter_.load(); });
}

void ListenerImpl::setOpenOverride(int32_t value) {
    std::unique_lock<std::shared_mutex> lock(settingsLock_);
    if (value != openOverride_) {
        openOverride_ = value;
        settingsCounter_.fetch_add(1);
        wake_.notify();
    }
}

void ListenerImpl::setPort(uint16_t port) {
    std::unique_lock<std::shared_mutex> lock(settingsLock_);
    if (port != port_) {
        port_ = port;
        settingsCounter_.fetch_add(1);
        wake_.notify();
    }
}

int32_t ListenerImpl::getOpenOverride() const {
    std::shared_lock<std::shared_mutex> lock(settingsLock_);
    return openOverride_;
}

uint16_t ListenerImpl::getPort() const {
    std::shared_lock<std::shared_mutex> lock(settingsLock_);
    return port_;
}

}  // namespace impl

Listener::Listener(exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBase(std::make_shared<impl::ListenerImpl>(carrier, context)) {}

void Listener::setOpenOverride(int32_t value) { impl().setOpenOverride(value); }
void Listener::setPort(uint16_t port) { impl().setPort(port); }
int32_t Listener::getOpenOverride() const { return impl().getOpenOverride(); }
uint16_t Listener::getPort() const { return impl().getPort(); }
bool Listener::waitForSettingsApplied(std::chrono::milliseconds timeout) const {
    return impl().waitForSettingsApplied(timeout);
}
impl::ListenerImpl& Listener::impl() const { return implAs<impl::ListenerImpl>(); }

}  // namespace tarnix
