#include "server/session/SessionImpl.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/QVException.h"
#include "core/fifo/RingFifo.h"
#include "core/tree/Subscriptions.h"
#include "server/session/ProtocolTable.h"
#include "server/session/Session.h"
#include "server/session/SessionIds.h"

#include <boost/format.hpp>
#include <boost/thread/locks.hpp>

namespace tarnix {
namespace impl {
namespace {

constexpr auto kTroublePause = std::chrono::milliseconds(5);
constexpr auto kIdlePause = std::chrono::milliseconds(1);
constexpr int kPollTimeoutMs = 2;
// An idle pass used to take 1 ms pause + 2 ms wait + 5 ms pause.
constexpr int kIdleWaitMs = 8;
// After the client shut down its sending side, output still goes out: the
// session ends once nothing is pending and the first time has passed since
// (replies to the last requests come through the dispatcher a little later),
// at the latest after the second.
constexpr auto kDrainQuietTime = std::chrono::milliseconds(200);
constexpr auto kDrainLimit = std::chrono::seconds(2);

uint16_t takeSessionId() {
    uint16_t id = 0;
    if (!SessionIds::acquire(id)) QV_THROW(QVException("No free session id."));
    return id;
}

int32_t writeToSession(const uint8_t* data, uint32_t length, SessionActionsInterface* context, int32_t dataClass) {
    if (context) context->write(data, length, dataClass);
    return 0;
}

}  // namespace

SessionImpl::SessionImpl(platform::Socket socket, exception::ExceptionCarrier& carrier)
    : QVBaseImpl("Session", carrier),
      socket_(std::move(socket)),
      socketHandle_(socket_.get()),
      receiveBuffer_(new uint8_t[kReceiveBufferSize]),
      output_(std::make_shared<RingFifo<kWriteFifoSize>>(), socketHandle_) {
    client_.sessionId = takeSessionId();
    client_.interfaceType.store(INTERFACE_TEXT);
    client_.writeFunction = writeToSession;
    client_.context = this;
    {
        boost::unique_lock<boost::shared_mutex> lock(getSessionListMutex());
        getSessionClientList().append(client_);
        clientListed_ = true;
    }
    if (!platform::setReuseAddress(socketHandle_, true)) {
        QVLOG(logging::debug) << "Couldn't setsockopt(SO_REUSEADDR).";
    }
    if (!platform::setOutOfBandInline(socketHandle_, true)) {
        QVLOG(logging::debug) << "Couldn't setsockopt(SO_OOBINLINE).";
    }
    if (!platform::setNoDelay(socketHandle_, true)) {
        QVLOG(logging::debug) << "Couldn't setsockopt(TCP_NODELAY).";
    }
    requestedInterface_.store(INTERFACE_TEXT);
}

SessionImpl::~SessionImpl() {
    try {
        closeConnection();
    } catch (...) {
        QVLOG(logging::error) << "Severe error: ~Session did throw.";
    }
    SessionIds::release(client_.sessionId);
}

void SessionImpl::pre() {
    sessionThread_.store(std::this_thread::get_id());
    setPriority(Normal);
}

void SessionImpl::run() {
    const uint32_t requested = requestedInterface_.load();
    if (requested != currentInterface_.load()) {
        selectIFace(InterfaceType(requested));
        requestedInterface_.store(currentInterface_.load());
    }
    if (!output_.pump()) {
        stop();
        return;
    }

    const bool pending = output_.fifo().used() != 0;
    if (inputEnded_) {
        const auto sinceEnd = std::chrono::steady_clock::now() - inputEndedAt_;
        if ((!pending && !output_.hasBacklog() && sinceEnd >= kDrainQuietTime) || sinceEnd >= kDrainLimit) {
            stop();
            return;
        }
    }
    // Without output to send, wait for input or for output that another
    // thread queues, at most as long as an idle pass used to take.
    platform::PollResult ready = platform::pollSocket(socketHandle_, pending, pending ? kPollTimeoutMs : kIdleWaitMs,
                                                      outputWake_.fd());
    if (ready.woken) outputWake_.drain();
    if (ready.count > 0) {
        if (ready.readable && !inputEnded_ && isRunning()) receive();
        if (ready.writable && pending && isRunning()) sendPending();
        if (ready.failed && isRunning()) {
            // Once the client has stopped sending, a reset only says it is
            // gone without waiting for the rest of the output.
            if (!inputEnded_) {
                QVLOG_LIMITED(logging::error) << "Session error " << socketHandle_ << ".";
            }
            stop();
            pauseAfterTrouble();
        }
    } else if (ready.count < 0) {
        QVLOG_LIMITED(logging::error) << "Error " << ready.count << " in select.";
        stop();
        pauseAfterTrouble();
    }
    // After the end of input the socket stays readable, so the wait above
    // returns at once: rest instead of spinning unless output went out.
    if (inputEnded_ && !(pending && ready.writable)) std::this_thread::sleep_for(kIdlePause);
}

void SessionImpl::receive() {
    const ssize_t received = platform::receiveSome(socketHandle_, receiveBuffer_.get(), kReceiveBufferSize);
    if (received > 0) {
        feedProtocol(receiveBuffer_.get(), uint32_t(received));
    } else if (received == 0) {
        // The client shut down its sending side: let the protocol finish a
        // pending partial line, then drain the output and stop.
        if (protocol_ && hooks_ && hooks_->input) feedProtocol(nullptr, 0);
        inputEnded_ = true;
        inputEndedAt_ = std::chrono::steady_clock::now();
    } else {
        QVLOG_LIMITED(logging::error) << boost::format("Session %d: READ ERROR %d.") % socketHandle_ % received;
        stop();
        pauseAfterTrouble();
    }
}

void SessionImpl::feedProtocol(const uint8_t* data, uint32_t length) {
    if (!protocol_ || !hooks_ || !hooks_->input) {
        QVLOG(logging::error) << "Session got no input function.";
        pauseAfterTrouble();
        return;
    }
    int32_t result = 0;
    try {
        result = hooks_->input(data, length, *protocol_);
    } catch (const std::exception&) {
        // Whatever one client sends must not end the whole server: the
        // failure ends this session only.
        logCurrentExceptionBanner();
        stop();
        pauseAfterTrouble();
        return;
    }
    if (result != 0) {
        QVLOG_LIMITED(logging::error) << "Session had an error in the read handler.";
        pauseAfterTrouble();
    }
}

void SessionImpl::sendPending() {
    FifoReader reader(output_.fifo(), 0);
    if (!reader.isValid()) return;
    const ssize_t sent = platform::sendSome(socketHandle_, reader.data(), reader.length());
    if (sent >= 0) {
        reader.commit(uint32_t(sent));
        return;
    }
    reader.commit(0u);
    if (!inputEnded_) {
        QVLOG_LIMITED(logging::error) << boost::format("Session %d: WRITE ERROR %d.") % socketHandle_ % sent;
    }
    stop();
    pauseAfterTrouble();
}

void SessionImpl::pauseAfterTrouble() { std::this_thread::sleep_for(kTroublePause); }

InterfaceType SessionImpl::getInterface() const { return InterfaceType(currentInterface_.load()); }

void SessionImpl::requestInterface(InterfaceType type) { requestedInterface_.store(type); }

void SessionImpl::close() { stop(); }

void SessionImpl::write(const uint8_t* data, uint32_t length, int32_t dataClass) {
    if (!isRunning() || length == 0 || data == nullptr) return;
    SessionOutput::Result result;
    if (isDroppableWriteClass(dataClass)) {
        result = output_.writeDroppable(data, length);
    } else if (onSessionThread()) {
        result = output_.writeImportantWaiting(
            data, length, [this] { return isRunning(); }, [this] { sendPending(); });
    } else {
        result = output_.writeImportantDeferred(data, length);
    }
    if (result == SessionOutput::Result::Discarded && !isDroppableWriteClass(dataClass)) stop();
    if (!onSessionThread() && result != SessionOutput::Result::Dropped) outputWake_.notify();
}

void SessionImpl::selectIFace(InterfaceType type) {
    destroyIFace();
    if (type == INTERFACE_NONE) return;
    if (type != INTERFACE_TEXT && type != INTERFACE_BINARY) QV_THROW(QVException());
    std::shared_ptr<const ProtocolHooks> hooks = getProtocolHooks(type);
    if (!hooks || !hooks->create || !hooks->input)
        QV_THROW(QVException((boost::format("No protocol available for interface type %u.") % type).str()));
    hooks_ = hooks;
    protocol_ = hooks_->create(*this);
    if (hooks_->greet) {
        QV_STATUS status = hooks_->greet(*protocol_);
        if (status != QV_NO_ERROR) QV_THROW(QVException(status));
    }
    currentInterface_.store(type);
    client_.interfaceType.store(type);
}

void SessionImpl::destroyIFace() {
    const uint32_t current = currentInterface_.load();
    if (current > INTERFACE_BINARY) QV_THROW(QVException());
    if (protocol_ && hooks_ && hooks_->release) hooks_->release(*protocol_);
    currentInterface_.store(INTERFACE_NONE);
    protocol_.reset();
    hooks_.reset();
    client_.interfaceType.store(INTERFACE_NONE);
}

void SessionImpl::closeConnection() {
    // Leave the dispatcher before anything else: it may be writing to this
    // session while it holds the subscription mutex.
    if (clientListed_) {
        clientListed_ = false;
        QV_STATUS status = DispatcherRemoveClient(&client_);
        if (status != QV_NO_ERROR) QV_THROW(QVException(status));
    }
    if (socket_.valid()) socket_.close();
    destroyIFace();
    stop();
    receiveBuffer_.reset();
}

void SessionImpl::logClassData() const {
    const double capacity = output_.fifo().capacity();
    const uint32_t used = output_.fifo().used();
    const uint32_t freeSize = uint32_t(capacity) - used;
    QVLOG(logging::status) << "-- Class Log Data Start -----------------------------";
    QVLOG(logging::status) << "Class name:    " << name();
    QVLOG(logging::status) << "Children:      " << childCount();
    QVLOG(logging::status) << "Flags: illgal: " << isIllegal();
    QVLOG(logging::status) << "      stopped: " << isFinished();
    QVLOG(logging::status) << "      running: " << isRunning();
    QVLOG(logging::status) << "WR fifo used:  " << used;
    QVLOG(logging::status) << "        size:  " << uint32_t(capacity);
    QVLOG(logging::status) << "   free part:  " << freeSize / capacity;
    QVLOG(logging::status) << "   free size:  " << freeSize;
    QVLOG(logging::status) << "RD fifo size:  " << kReceiveBufferSize;
    QVLOG(logging::status) << "Overflow cnt:  " << output_.dropCount();
    QVLOG(logging::status) << "-- Class Log Data End   -----------------------------";
}

}  // namespace impl

Session::Session(platform::Socket socket, exception::ExceptionCarrier& carrier)
    : QVBase(std::make_shared<impl::SessionImpl>(std::move(socket), carrier)) {}

impl::SessionImpl& Session::impl() const { return implAs<impl::SessionImpl>(); }

}  // namespace tarnix
