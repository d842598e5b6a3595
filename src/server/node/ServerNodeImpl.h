#pragma once
#include "core/QVStatus.h"
#include "core/component/QVBaseImpl.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/TreeNode.h"
#include "server/node/ServerTreeReads.h"
#include "platform/thread/Mutex.h"


#include <atomic>
#include <cstdint>
#include <memory>

namespace tarnix {

class BufferFifoBase;
class Listener;
class QVFifo;
class ServerContext;

namespace impl {

class ServerNodeImpl : public QVBaseImpl {
public:
    static constexpr uint32_t kFifoBlocks = 128;
    static constexpr uint32_t kFifoBytes = 65536;
    static constexpr int64_t kClockBase = 10;

    ServerNodeImpl(exception::ExceptionCarrier& carrier, ServerContext& context);
    ~ServerNodeImpl() override;

    void pre() override;
    void run() override;
    void stop() override;

    bool takeControlCode(int32_t code);
    void pushDeviceMessage(const TreeNode::Ptr& node, uint8_t code);

    // The listener whose settings PORT and OPEN show and change.
    void setListener(const std::shared_ptr<Listener>& listener) { reads_->listener = listener; }

    // Builds the tree "QV" (pre() does this on the server-node thread).
    void createTree();
    // Answers one request of the request FIFO; false when there was none, or
    // when the output FIFO has no room for its answer (the request then stays
    // queued until the dispatcher has made room).
    bool serveOneRequest();

    const std::shared_ptr<DispatcherTree>& tree() const { return tree_; }
    const std::shared_ptr<QVFifo>& outputFifo() const { return outputFifo_; }
    const std::shared_ptr<QVFifo>& requestFifo() const { return requestFifo_; }
    int32_t debugLevel() const { return reads_->debugLevel.load(); }

    typedef ServerTreeEndpointIds EndpointIds;
    const EndpointIds& endpointIds() const { return ids_; }

private:
    struct Request;
    // Room in the output FIFO for any one answer.
    bool canQueueAnswer() const;
    void answerFailed(const Request& request, QV_STATUS failure = QV_VALUE_NOT_FOUND);
    void answerRead(const Request& request);
    void answerWrite(const Request& request, int64_t value);
    void writePort(const Request& request, int64_t value);
    void writeOpen(const Request& request, int64_t value);
    void writeLevel(const Request& request, int64_t value);
    // With the node lock held.
    void sendInteger(const Request& request, uint16_t flags, int64_t value);
    void sendText(const Request& request, const std::string& text);
    void sendDouble(const Request& request, double value);
    std::shared_ptr<Listener> listener() const { return reads_->listener.lock(); }
    // Waits (bounded) until the listener has acted on a change of its settings.
    void awaitListener(const std::shared_ptr<Listener>& listener) const;

    // The node lock (ServerTreeReads::nodeLock).
    SharedMutex& nodeLock() const QV_RETURN_CAPABILITY(reads_->nodeLock) { return reads_->nodeLock; }
    // Marks a write under way for the reads answered at once.
    void setChanging(bool changing);

    ServerContext& context_;
    std::shared_ptr<DispatcherTree> tree_;
    EndpointIds ids_;
    std::atomic<int32_t> pendingControlCode_{0};
    // Shared with the sessions, which answer reads of this tree at once.
    std::shared_ptr<ServerTreeReads> reads_ = std::make_shared<ServerTreeReads>();
    std::shared_ptr<QVFifo> outputFifo_;
    std::shared_ptr<QVFifo> requestFifo_;
    // Writes the requests into the request FIFO in turn per session, bounds
    // each session's share, ends the idle wait when a request arrives or room
    // for answers was made.
    std::shared_ptr<RequestGate> requestGate_;
    // Stream buffer of DEBUG/OUT; nothing in the server writes into it.
    std::shared_ptr<BufferFifoBase> debugOutBuffer_;
};

}  // namespace impl
}  // namespace tarnix
