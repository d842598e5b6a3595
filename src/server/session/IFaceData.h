#pragma once
#include "core/tree/RequestPosting.h"
#include "core/tree/SessionClient.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// The seam between a client session and the protocol it currently speaks.
//
// A session owns one protocol object (text or binary) at a time. The protocol
// reaches its session only through SessionActionsInterface, and the session
// feeds the protocol through the protocol's input function.
namespace tarnix {

class ServerContext;
class StreamFeedReader;

// InterfaceType (INTERFACE_NONE, INTERFACE_TEXT, INTERFACE_BINARY), the data
// classes of a write (WRITE_CLASS_REPLY ... WRITE_CLASS_STREAM) and the
// session record SessionClient come from core/tree/SessionClient.h.
constexpr uint32_t kInterfaceTypeCount = 3;

// Classes up to WRITE_CLASS_PUSH wait (up to 10 s) for room in the session's
// write FIFO; higher classes are dropped when the FIFO would be less than
// 30 % free afterwards.
inline bool isDroppableWriteClass(int32_t dataClass) { return dataClass >= WRITE_CLASS_DROPPABLE; }

// What a protocol object may ask of its session.
class SessionActionsInterface {
public:
    virtual ~SessionActionsInterface() = default;

    virtual InterfaceType getInterface() const = 0;
    // Takes effect at the session's next pass (never while input is handled).
    virtual void requestInterface(InterfaceType type) = 0;
    // Bytes received behind a protocol switch: the session hands them to the
    // protocol it switches to, as its first input.
    virtual void carryInput(const uint8_t* /*data*/, uint32_t /*length*/) {}
    // Stops the session; the connection is closed when the session goes away.
    virtual void close() = 0;
    // Queues a block for the client. Never throws; a stopped session discards it.
    virtual void write(const uint8_t* data, uint32_t length, int32_t dataClass) = 0;
    // Queues a reply (write class 1) without waiting for room: what does not
    // fit waits in the session's backlog. For answers placed while a lock
    // that orders them against other threads' output is held.
    virtual void queueReply(const uint8_t* data, uint32_t length) { write(data, length, WRITE_CLASS_REPLY); }
    virtual SessionClient* getClient() = 0;
    // The state of the server the session belongs to (trees, protocols).
    virtual ServerContext& serverContext() = 0;
    // Called while a request of this session waits for room in a tree's
    // request queue (the session reads no more input meanwhile, so TCP holds
    // the client back): keeps the session's output going. False when the
    // session is stopping and the wait should be given up.
    virtual bool serviceWhileWaiting() { return true; }
    // Whether the session can sleep until woken while such a request waits
    // (for its share of the queue): then sleepUntilWoken sleeps until
    // wakeSleeper is called (from any thread) or the session stops, at most
    // `limit`.
    virtual bool sleepsUntilWoken() const { return false; }
    virtual void sleepUntilWoken(std::chrono::milliseconds /*limit*/) {}
    virtual void wakeSleeper() {}
    // The dispatcher hands the session its read position in a stream it
    // subscribed to; the session sends the stream's messages from there.
    // The values of a request just answered with their count (`count` of
    // them) are on their way from other threads; the session may hold its
    // output back for a moment, so that the client gets the count and the
    // values in one piece. `count` may be negative to take back values that
    // will not come that way.
    virtual void expectAnswers(int32_t /*count*/) {}
    // A session that does not take streams ignores it.
    virtual void attachStream(std::shared_ptr<StreamFeedReader> /*reader*/) {}
    // New stream data for the session (dispatcher thread).
    virtual void streamReady() {}
};

// Base of the protocol objects. Forwards to the owning session, which always
// outlives its protocol object.
class IFaceDataBase {
public:
    explicit IFaceDataBase(SessionActionsInterface& session) : session_(&session) {}
    virtual ~IFaceDataBase() = default;
    IFaceDataBase(const IFaceDataBase&) = delete;
    IFaceDataBase& operator=(const IFaceDataBase&) = delete;

    virtual InterfaceType getInterface() const { return session_->getInterface(); }
    virtual void requestInterface(InterfaceType type) { session_->requestInterface(type); }
    virtual void carryInput(const uint8_t* data, uint32_t length) { session_->carryInput(data, length); }
    virtual void close() { session_->close(); }
    virtual void write(const uint8_t* data, uint32_t length, int32_t dataClass) {
        session_->write(data, length, dataClass);
    }
    virtual void queueReply(const uint8_t* data, uint32_t length) { session_->queueReply(data, length); }
    virtual SessionClient* getClient() { return session_->getClient(); }
    virtual bool serviceWhileWaiting() { return session_->serviceWhileWaiting(); }
    // What a post of this session does while it waits for room.
    PostWaitStep postWaitStep() {
        PostWaitStep step([this] { return serviceWhileWaiting(); });
        if (session_->sleepsUntilWoken()) {
            SessionActionsInterface* session = session_;
            step.sleep = [session](std::chrono::milliseconds limit) { session->sleepUntilWoken(limit); };
            step.wake = [session] { session->wakeSleeper(); };
        }
        return step;
    }
    virtual void expectAnswers(int32_t count) { session_->expectAnswers(count); }

    SessionActionsInterface& session() const { return *session_; }
    ServerContext& serverContext() const { return session_->serverContext(); }

private:
    SessionActionsInterface* session_;
};

// The input function of a protocol: called on the session thread with each
// chunk received from the client (at most 65,536 bytes). A call with length 0
// (and data null) tells that the client has shut down its sending side, so
// the protocol can finish a pending partial input. A non-zero result is
// logged by the session ("Session had an error in the read handler.") and the
// session goes on.
using IFaceInputFunc = std::function<int32_t(const uint8_t* data, uint32_t length, IFaceDataBase& protocol)>;

}  // namespace tarnix
