#include "server/session/SessionImpl.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/QVException.h"
#include "core/fifo/RingFifo.h"
#include "core/tree/Subscriptions.h"
#include "server/dispatcher/StreamFeed.h"
#include "server/server/ServerContext.h"
#include "server/session/Session.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sched.h>
#include <shared_mutex>
#include <sys/socket.h>

namespace tarnix {
namespace impl {
namespace {

constexpr auto kTroublePause = std::chrono::milliseconds(5);
constexpr auto kIdlePause = std::chrono::milliseconds(1);
// Waits of a pass: with output that the socket does not take yet, the
// session looks again (for its write time limit) at this pace; idle, it
// waits for input, for output that another thread queues, or for its stop,
// each of which wakes it at once.
constexpr int kPollTimeoutMs = 20;
constexpr int kSendRoundsPerPass = 16;
// Most stream bytes handed to one send.
constexpr uint32_t kStreamSendLimit = 1u << 20;
// How long the output waits for the values that follow a count reply: the
// client takes count and values in one piece, and a value that is late is
// not held up by more than this.
constexpr auto kAnswerHold = std::chrono::milliseconds(2);
constexpr int kIdleWaitMs = 500;
// After the client shut down its sending side, output still goes out: the
// session ends once nothing is pending and the first time has passed since
// (replies to the last requests come through the dispatcher a little later),
// at the latest after the second.
constexpr auto kDrainQuietTime = std::chrono::milliseconds(200);
constexpr auto kDrainLimit = std::chrono::seconds(2);

// Bounded looks for work before the pass's wait sleeps (see waitForWork):
// a request that comes within kAskingGap of the last answer says the client
// asks in a loop; its next request is looked for kSpinAfterAnswer, the
// answer that another thread owes it kAnswerSpin.
constexpr auto kAskingGap = std::chrono::microseconds(200);
constexpr auto kSpinAfterAnswer = std::chrono::microseconds(50);
constexpr auto kAnswerSpin = std::chrono::microseconds(100);

// Whether this thread runs on the CPU that last delivered the socket's input:
// for a loopback client, the CPU the client sent from.
bool besideClient(int socket) {
    int cpu = -1;
    socklen_t length = sizeof cpu;
    return ::getsockopt(socket, SOL_SOCKET, SO_INCOMING_CPU, &cpu, &length) == 0 && cpu == ::sched_getcpu();
}

uint16_t takeSessionId(SessionIds& ids) {
    uint16_t id = 0;
    if (!ids.acquire(id)) QV_THROW(QVException("No free session id."));
    return id;
}

int32_t writeToSession(const uint8_t* data, uint32_t length, SessionActionsInterface* context, int32_t dataClass) {
    if (context) context->write(data, length, dataClass);
    return 0;
}

}  // namespace

SessionImpl::SessionImpl(platform::Socket socket, exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBaseImpl("Session", carrier),
      context_(context),
      socket_(std::move(socket)),
      socketHandle_(socket_.get()),
      receiveBuffer_(new uint8_t[kReceiveBufferSize]),
      output_(std::make_shared<RingFifo<kWriteFifoSize>>(), socketHandle_),
      waiter_(socketHandle_, outputWake_.fd()) {
    // Without its wake descriptor or its epoll set a session would answer
    // only at the pace of its idle wait: it is refused instead.
    if (!outputWake_.valid() || !waiter_.valid()) {
        const int error = errno;
        QV_THROW(QVException((boost::format("no descriptor for the session's wait (%s).") %
                              platform::socketErrorText(error))
                                 .str()));
    }
    client_.sessionId = takeSessionId(context_.sessionIds());
    client_.interfaceType.store(INTERFACE_TEXT);
    client_.writeFunction = writeToSession;
    client_.context = this;
    {
        UniqueLock<SharedMutex> lock(context_.treeRegistry().sessionListMutex());
        context_.treeRegistry().sessionClientList().append(client_);
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
    context_.sessionIds().release(client_.sessionId);
}

void SessionImpl::pre() {
    sessionThread_.store(std::this_thread::get_id());
    setPriority(Normal);
}

void SessionImpl::post() {
    // The descriptors go back as soon as the session ends, not when the
    // listener gets round to reaping it.
    try {
        closeConnection();
    } catch (...) {
        QVLOG(logging::error) << "Severe error: the session could not be closed in order.";
    }
    waiter_.close();
    outputWake_.close();
}

void SessionImpl::run() {
    const uint32_t requested = requestedInterface_.load();
    if (requested != currentInterface_.load()) {
        selectIFace(InterfaceType(requested));
        requestedInterface_.store(currentInterface_.load());
        if (!carried_.empty()) {
            std::vector<uint8_t> carried;
            carried.swap(carried_);
            feedProtocol(carried.data(), uint32_t(carried.size()));
        }
    }
    if (!output_.pump()) {
        stop();
        return;
    }

    streamWakePending_.store(false);
    const bool streaming = updateStreams();
    reportStreamLosses();
    bool pending = output_.fifo().used() != 0 || streaming;
    int waitMs = pending ? kPollTimeoutMs : kIdleWaitMs;
    if (pending && answersExpected_.load() > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now < holdUntil_) {
            // The count goes out together with its values: the last of them
            // wakes the session (see write), else the hold's end.
            pending = false;
            waitMs = int(std::chrono::ceil<std::chrono::milliseconds>(holdUntil_ - now).count());
        } else {
            // Values that did not come in time do not hold up later output.
            answersExpected_.store(0);
        }
    }
    if (inputEnded_) {
        const auto sinceEnd = std::chrono::steady_clock::now() - inputEndedAt_;
        // A client that never handed a request to another thread is owed
        // nothing that could still come: its session ends (and gives its
        // descriptors back) as soon as its output is out.
        const bool nothingOwed = client_.treePosts.load(std::memory_order_relaxed) == 0;
        if ((!pending && !output_.hasBacklog() && (nothingOwed || sinceEnd >= kDrainQuietTime)) ||
            sinceEnd >= kDrainLimit) {
            stop();
            return;
        }
    }
    // Without output to send, wait for input or for output that another
    // thread queues, at most as long as an idle pass used to take.
    platform::PollResult ready = waitForWork(pending, waitMs);
    if (ready.woken) outputWake_.drain();
    if (ready.count > 0) {
        if (ready.readable && !inputEnded_ && isRunning()) {
            // Nothing owed to the client and the last answer just out: the
            // client asks in a loop, one request at a time.
            inTurn_ = answersExpected_.load() <= 0 && output_.fifo().used() == 0 &&
                      std::chrono::steady_clock::now() - answeredAt_ < kAskingGap;
            const uint64_t postsBefore = client_.treePosts.load(std::memory_order_relaxed);
            receive();
            // Answered on this thread (a direct read, an error, a listing),
            // the answer owes nothing to another thread.
            const bool answerOwed = client_.treePosts.load(std::memory_order_relaxed) != postsBefore;
            // What the input produced goes out at once unless it waits for
            // its values; a socket that takes nothing now just takes nothing.
            if (answersExpected_.load() <= 0 && isRunning()) sendPending();
            // An answer that did not go out at once comes from another thread
            // (an instrument's), within microseconds for a value it holds.
            answerLookDue_ = inTurn_ && answerOwed && (answersExpected_.load() > 0 || output_.fifo().used() == 0);
            noteAnswer();
        } else if (ready.writable && pending && isRunning()) {
            sendPending();
        }
        if (ready.failed && isRunning()) {
            // Once the client has stopped sending, a reset only says it is
            // gone without waiting for the rest of the output.
            if (!inputEnded_) {
                reportSocketFailure((boost::format("Session error %d") % socketHandle_).str(),
                                    platform::pendingSocketError(socketHandle_));
            }
            stop();
            pauseAfterTrouble();
        }
    } else if (ready.count < 0) {
        QVLOG_LIMITED(logging::error) << "Error " << ready.count << " in select.";
        stop();
        pauseAfterTrouble();
    } else if (ready.woken && answersExpected_.load() <= 0 && isRunning()) {
        // Another thread queued output (the values a count waited for, say):
        // it goes out now rather than after one more wait.
        sendPending();
        noteAnswer();
    }
    // After the end of input the socket stays readable, so the wait above
    // returns at once: rest instead of spinning unless output went out.
    if (inputEnded_ && !(pending && ready.writable)) std::this_thread::sleep_for(kIdlePause);
}

platform::PollResult SessionImpl::waitForWork(bool pending, int waitMs) {
    using Clock = std::chrono::steady_clock;
    // Looking for an answer due a little while saves its thread waking this
    // one; looking for the next request of a client that asks in a loop saves
    // the client waking this thread.
    const auto limit = answerLookDue_ ? std::chrono::microseconds(kAnswerSpin)
                                      : std::chrono::duration_cast<std::chrono::microseconds>(spinUntil_ - Clock::now());
    answerLookDue_ = false;
    spinUntil_ = Clock::time_point();
    if (spin_.start(limit)) {
        do {
            const platform::PollResult ready = waiter_.wait(pending, 0);
            if (ready.count != 0 || ready.woken) return ready;
        } while (spin_.next());
    }
    return waiter_.wait(pending, waitMs);
}

void SessionImpl::noteAnswer() {
    if (answersExpected_.load() > 0 || output_.fifo().used() != 0 || fifoUnfinished_ != 0) return;
    answeredAt_ = std::chrono::steady_clock::now();
    // The client's next request is likely as close behind this answer. Beside
    // the client a look would only hold the CPU it needs to ask.
    if (inTurn_ && spin_.on() && !besideClient(socketHandle_)) spinUntil_ = answeredAt_ + kSpinAfterAnswer;
    inTurn_ = false;
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
        const int error = platform::lastSocketError();
        reportSocketFailure((boost::format("Session %d: READ ERROR %d") % socketHandle_ % received).str(), error);
        stop();
        pauseAfterTrouble();
    }
}

void SessionImpl::reportSocketFailure(const std::string& failure, int error) const {
    if (error == 0 || platform::isPeerDisconnect(error)) {
        // A hang-up without an error is the client closing too.
        QVLOG_LIMITED(logging::info) << boost::format("Session %d: the client closed the connection (%s).") %
                                            socketHandle_ %
                                            (error == 0 ? std::string("hang-up") : platform::socketErrorText(error));
    } else {
        QVLOG_LIMITED(logging::error) << failure << " (" << platform::socketErrorText(error) << ").";
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
    // Bounded, so that input is not held up by a client that reads as fast
    // as the streams come.
    for (int round = 0; round < kSendRoundsPerPass && isRunning(); ++round) {
        // A message half sent goes on first: the client must get it whole.
        StreamFeedReader* unfinished = nullptr;
        for (const auto& stream : streams_)
            if (stream->midEntry()) unfinished = stream.get();
        bool all = false;
        if (unfinished) {
            all = sendFromStream(*unfinished);
        } else if (fifoUnfinished_ != 0 || output_.fifo().used() != 0) {
            // Replies and text output before stream data.
            all = sendFromFifo();
        } else {
            StreamFeedReader* next = nullptr;
            for (std::size_t i = 0; i < streams_.size() && !next; ++i) {
                StreamFeedReader& candidate = *streams_[(nextStream_ + i) % streams_.size()];
                if (speaks(candidate) && candidate.hasData()) {
                    next = &candidate;
                    nextStream_ = (nextStream_ + i + 1) % streams_.size();
                }
            }
            if (!next) break;
            all = sendFromStream(*next);
        }
        if (!all) break;
    }
}

bool SessionImpl::sendFromFifo() {
    FifoReader reader(output_.fifo(), 0);
    if (!reader.isValid()) {
        fifoUnfinished_ = 0;
        return true;
    }
    const uint32_t offered = reader.length();
    const ssize_t sent = platform::sendSome(socketHandle_, reader.data(), offered);
    const int error = sent < 0 ? platform::lastSocketError() : 0;
    if (sent >= 0) {
        reader.commit(uint32_t(sent));
        // What was offered ends with a whole message; until it is out, the
        // client is in the middle of one.
        fifoUnfinished_ = offered - uint32_t(sent);
        return uint32_t(sent) == offered;
    }
    reader.commit(0u);
    if (!inputEnded_) reportSocketFailure((boost::format("Session %d: WRITE ERROR %d") % socketHandle_ % sent).str(), error);
    stop();
    pauseAfterTrouble();
    return false;
}

bool SessionImpl::sendFromStream(StreamFeedReader& stream) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!stream.acquire(data, length, kStreamSendLimit)) return true;
    const ssize_t sent = platform::sendSome(socketHandle_, data, length);
    const int error = sent < 0 ? platform::lastSocketError() : 0;
    stream.release(sent > 0 ? uint32_t(sent) : 0u);
    if (sent >= 0) return uint32_t(sent) == length;
    if (!inputEnded_) reportSocketFailure((boost::format("Session %d: WRITE ERROR %d") % socketHandle_ % sent).str(), error);
    stop();
    pauseAfterTrouble();
    return false;
}

bool SessionImpl::updateStreams() {
    {
        LockGuard<Mutex> lock(attachedMutex_);
        for (auto& stream : attached_) streams_.push_back(std::move(stream));
        attached_.clear();
    }
    bool data = false;
    for (auto it = streams_.begin(); it != streams_.end();) {
        // A stream the session left (another protocol, or ended by the
        // dispatcher) is no client's to lose: it only finishes the message
        // it is in.
        if (!counts(**it)) (*it)->skipToNewest();
        if ((*it)->detached() && !(*it)->midEntry()) {
            it = streams_.erase(it);
            continue;
        }
        data = data || (*it)->midEntry() || (speaks(**it) && (*it)->hasData());
        ++it;
    }
    return data;
}

bool SessionImpl::speaks(const StreamFeedReader& stream) const {
    // A stream of the protocol the session spoke before it switched only
    // finishes the message it is in; the dispatcher ends it soon.
    return stream.protocol() == currentInterface_.load();
}

bool SessionImpl::counts(const StreamFeedReader& stream) const { return speaks(stream) && !stream.detached(); }

void SessionImpl::reportStreamLosses() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lossReportedAt_ < std::chrono::seconds(1)) return;
    for (const auto& stream : streams_)
        if (counts(*stream)) streamLosses_ += stream->takeLostEntries();
    if (streamLosses_ == 0) return;
    lossReportedAt_ = now;
    QVLOG(logging::warning) << boost::format(
                                   "Session %d: %llu stream messages dropped; the client does not read them fast "
                                   "enough.") %
                                   socketHandle_ % (unsigned long long)streamLosses_;
    streamLosses_ = 0;
}

void SessionImpl::attachStream(std::shared_ptr<StreamFeedReader> reader) {
    LockGuard<Mutex> lock(attachedMutex_);
    attached_.push_back(std::move(reader));
}

void SessionImpl::expectAnswers(int32_t count) {
    if (count > 0) holdUntil_ = std::chrono::steady_clock::now() + kAnswerHold;
    int32_t expected = answersExpected_.load();
    while (!answersExpected_.compare_exchange_weak(expected, std::max(0, expected + count))) {
    }
}

void SessionImpl::streamReady() {
    if (!streamWakePending_.exchange(true)) outputWake_.notify();
}

bool SessionImpl::serviceWhileWaiting() {
    if (!isRunning()) return false;
    if (!output_.pump()) {
        stop();
        return false;
    }
    updateStreams();
    sendPending();
    return isRunning();
}

void SessionImpl::sleepUntilWoken(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(sleepMutex_);
    sleepWake_.wait_for(lock, limit, [this] { return sleepWoken_ || !isRunning(); });
    sleepWoken_ = false;
}

void SessionImpl::wakeSleeper() {
    {
        std::lock_guard<std::mutex> lock(sleepMutex_);
        sleepWoken_ = true;
    }
    sleepWake_.notify_one();
}

void SessionImpl::stop() {
    QVBaseImpl::stop();
    // Ends the session thread's idle wait, so that it leaves its loop now.
    outputWake_.notify();
    wakeSleeper();
    if (stopNotice_ && !stopNoticed_.exchange(true)) stopNotice_();
}

void SessionImpl::pauseAfterTrouble() { std::this_thread::sleep_for(kTroublePause); }

InterfaceType SessionImpl::getInterface() const { return InterfaceType(currentInterface_.load()); }

void SessionImpl::requestInterface(InterfaceType type) { requestedInterface_.store(type); }

void SessionImpl::carryInput(const uint8_t* data, uint32_t length) { carried_.assign(data, data + length); }

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
    if (onSessionThread() || result == SessionOutput::Result::Dropped) return;
    if (dataClass == WRITE_CLASS_REPLY) {
        expectAnswers(-1);
        // While more values of the request are due, the session holds its
        // output and looks again itself (see run): only the last value, or
        // output that finds the FIFO empty (no look running), wakes it.
        if (answersExpected_.load() > 0 && output_.fifo().used() > length) return;
    }
    outputWake_.notify();
}

void SessionImpl::queueReply(const uint8_t* data, uint32_t length) {
    if (!isRunning() || length == 0 || data == nullptr) return;
    // The session thread pumps the backlog and sends on its next pass.
    if (output_.writeImportantDeferred(data, length) == SessionOutput::Result::Discarded) stop();
}

void SessionImpl::selectIFace(InterfaceType type) {
    destroyIFace();
    if (type == INTERFACE_NONE) return;
    if (type != INTERFACE_TEXT && type != INTERFACE_BINARY) QV_THROW(QVException());
    std::shared_ptr<const ProtocolHooks> hooks = getProtocolHooks(context_.protocols(), type);
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
    // What the client lost while it spoke this protocol is still its loss.
    for (const auto& stream : streams_)
        if (counts(*stream)) streamLosses_ += stream->takeLostEntries();
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
        QV_STATUS status = DispatcherRemoveClient(context_.treeRegistry(), &client_);
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

Session::Session(platform::Socket socket, exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBase(std::make_shared<impl::SessionImpl>(std::move(socket), carrier, context)) {}

impl::SessionImpl& Session::impl() const { return implAs<impl::SessionImpl>(); }

}  // namespace tarnix
