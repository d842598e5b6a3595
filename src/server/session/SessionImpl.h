#pragma once
#include "core/component/QVBaseImpl.h"
#include "core/tree/SessionClient.h"
#include "platform/net/Socket.h"
#include "platform/net/SocketWaiter.h"
#include "platform/net/WakeEvent.h"
#include "platform/thread/BoundedSpin.h"
#include "server/session/IFaceData.h"
#include "server/session/SessionOutput.h"
#include "platform/thread/Mutex.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>
#include <thread>

namespace tarnix {

class ServerContext;
struct ProtocolHooks;

namespace impl {

// One client session: receives the client's bytes and feeds them to the
// current protocol, and sends what the write FIFO holds. Every session starts
// in the text protocol; the protocol may ask for another one, which the
// session switches to at its next pass.
class SessionImpl : public QVBaseImpl, public SessionActionsInterface {
public:
    static constexpr uint32_t kReceiveBufferSize = 65536;
    static constexpr uint32_t kWriteFifoSize = 4194304;

    SessionImpl(platform::Socket socket, exception::ExceptionCarrier& carrier, ServerContext& context);
    ~SessionImpl() override;

    void pre() override;
    void run() override;
    // Leaves the dispatcher and gives back the socket, the epoll set and the
    // wake descriptor.
    void post() override;
    void stop() override;
    void logClassData() const override;

    // SessionActionsInterface
    InterfaceType getInterface() const override;
    void requestInterface(InterfaceType type) override;
    void carryInput(const uint8_t* data, uint32_t length) override;
    void close() override;
    void write(const uint8_t* data, uint32_t length, int32_t dataClass) override;
    void queueReply(const uint8_t* data, uint32_t length) override;
    SessionClient* getClient() override { return &client_; }
    ServerContext& serverContext() override { return context_; }
    bool serviceWhileWaiting() override;
    bool sleepsUntilWoken() const override { return true; }
    void sleepUntilWoken(std::chrono::milliseconds limit) override;
    void wakeSleeper() override;
    void attachStream(std::shared_ptr<StreamFeedReader> reader) override;
    void expectAnswers(int32_t count) override;
    void streamReady() override;

    // Called once when the session stops (set before it starts): lets the
    // listener reap it at once.
    void setStopNotice(std::function<void()> notice) { stopNotice_ = std::move(notice); }

    uint16_t sessionId() const { return client_.sessionId; }
    int socketHandle() const { return socketHandle_; }
    SessionOutput& output() { return output_; }

private:
    void selectIFace(InterfaceType type);
    void destroyIFace();
    // Leaves the dispatcher, closes the socket and drops the protocol; run by
    // the destructor once the thread has ended.
    void closeConnection();

    // The pass's wait: after a short, bounded look for work while an answer
    // is due or the client asks in a loop, the blocking wait.
    platform::PollResult waitForWork(bool pending, int waitMs);
    // After output went out: once all that the client is owed is out, notes
    // the time, and for a request in turn whether the next wait first looks
    // for the next request a little.
    void noteAnswer();
    void receive();
    void feedProtocol(const uint8_t* data, uint32_t length);
    // Sends as much of the output (write FIFO and streams) as the socket
    // takes without blocking, whole messages in turn.
    void sendPending();
    // One send from the write FIFO / a stream; true when the socket took all
    // that was offered (and the session goes on).
    bool sendFromFifo();
    bool sendFromStream(StreamFeedReader& reader);
    // Whether the stream carries the protocol the session speaks now.
    bool speaks(const StreamFeedReader& stream) const;
    // Whether what the stream loses is the client's loss: the session speaks
    // its protocol and the dispatcher has not ended it.
    bool counts(const StreamFeedReader& stream) const;
    // Takes the streams the dispatcher attached and drops the ended ones;
    // true when any of them has data to send.
    bool updateStreams();
    void reportStreamLosses();
    bool onSessionThread() const { return sessionThread_.load() == std::this_thread::get_id(); }
    void pauseAfterTrouble();
    // Logs why the socket failed (errno or the socket's error, 0 for a
    // hang-up): a client that closed or reset its connection below error
    // level, anything else as the error record `failure` with the reason.
    void reportSocketFailure(const std::string& failure, int error) const;

    ServerContext& context_;
    SessionClient client_;
    bool clientListed_ = false;
    platform::Socket socket_;
    const int socketHandle_;
    std::unique_ptr<uint8_t[]> receiveBuffer_;
    SessionOutput output_;
    // Ends the session thread's idle wait when another thread queued output.
    platform::WakeEvent outputWake_;
    // The pass's wait for the socket and outputWake_.
    platform::SocketWaiter waiter_;

    std::atomic<uint32_t> currentInterface_{INTERFACE_NONE};
    std::atomic<uint32_t> requestedInterface_{INTERFACE_TEXT};
    std::shared_ptr<const ProtocolHooks> hooks_;
    std::shared_ptr<IFaceDataBase> protocol_;
    // Input received behind a protocol switch, for the next protocol.
    std::vector<uint8_t> carried_;

    // Streams the dispatcher attached, not yet taken by the session thread.
    Mutex attachedMutex_;
    std::vector<std::shared_ptr<StreamFeedReader>> attached_ QV_GUARDED_BY(attachedMutex_);
    // The session thread's streams, sent from in turn.
    std::vector<std::shared_ptr<StreamFeedReader>> streams_;
    std::size_t nextStream_ = 0;
    // Bytes of the write FIFO that must go out before anything else: the
    // client is in the middle of one of its messages.
    uint32_t fifoUnfinished_ = 0;
    // Answers that other threads still owe the client for the request whose
    // count went out last, and until when the output may wait for them.
    std::atomic<int32_t> answersExpected_{0};
    std::chrono::steady_clock::time_point holdUntil_;
    // When the last answer went out whole, and until when the next wait first
    // looks for work without sleeping.
    std::chrono::steady_clock::time_point answeredAt_;
    std::chrono::steady_clock::time_point spinUntil_;
    // The request being answered came in turn (see run), and the next wait
    // first looks for its answer.
    bool inTurn_ = false;
    bool answerLookDue_ = false;
    platform::BoundedSpin spin_;
    // Set while a wake-up for stream data is on its way.
    std::atomic<bool> streamWakePending_{false};
    std::chrono::steady_clock::time_point lossReportedAt_;
    uint64_t streamLosses_ = 0;

    // The sleep of a request waiting for the session's share: ended by the
    // share freed or the stop, not by each answer that comes meanwhile (they
    // go out together after it).
    std::mutex sleepMutex_;
    std::condition_variable sleepWake_;
    bool sleepWoken_ = false;

    std::function<void()> stopNotice_;
    std::atomic<bool> stopNoticed_{false};

    std::atomic<std::thread::id> sessionThread_{};
    // The client shut down its sending side: no more input, pending output
    // still goes out for a short while.
    bool inputEnded_ = false;
    std::chrono::steady_clock::time_point inputEndedAt_;
};

}  // namespace impl
}  // namespace tarnix
