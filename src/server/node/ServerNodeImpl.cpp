#include "server/node/ServerNodeImpl.h"

#include "core/ClientNumbers.h"
#include "core/DataTypes.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/QVException.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/FailedRequests.h"
#include "server/listener/Listener.h"
#include "server/node/ServerNode.h"
#include "server/server/ServerContext.h"
#include "server/server/ServerStrings.h"
#include "wire/BinaryWire.h"

#include <boost/format.hpp>
#include <mutex>
#include <shared_mutex>

#include <cmath>
#include <limits>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace tarnix {
namespace impl {
namespace {

typedef BufferFifo<ServerNodeImpl::kFifoBlocks, ServerNodeImpl::kFifoBytes> ServerNodeFifo;

// Posts and a stop end the idle wait at once.
constexpr auto kIdleSleep = std::chrono::milliseconds(1000);
// Room that any one answer of this tree needs: a record of the longest text
// (copyright or version) with room to spare for tree-change records that
// other threads write meanwhile.
constexpr uint32_t kAnswerRoomBytes = 4096;
constexpr uint32_t kAnswerRoomBlocks = 8;
// How long a PORT or OPEN write waits for the listener to act on it, so that
// the answer shows the setting actually in use.
constexpr auto kListenerApplyWait = std::chrono::seconds(3);

constexpr int32_t kMaxDebugLevel = 6;
constexpr int64_t kMinPort = 1024;
constexpr int64_t kMaxPort = 65535;

// A double cut toward zero; out-of-range values saturate (NaN is refused
// before).
int64_t truncateToInteger(double value) {
    if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

}  // namespace

struct ServerNodeImpl::Request {
    uint16_t sequenceTag;
    uint16_t sessionTag;
    int32_t endpointId;
};

ServerNodeImpl::ServerNodeImpl(exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBaseImpl("ServerNode", carrier),
      context_(context),
      outputFifo_(std::make_shared<ServerNodeFifo>()),
      requestFifo_(std::make_shared<ServerNodeFifo>()),
      requestGate_(std::make_shared<RequestGate>(std::static_pointer_cast<BufferFifoBase>(requestFifo_))) {
    reads_->output = outputFifo_;
}

ServerNodeImpl::~ServerNodeImpl() {
    try {
        if (tree_) DispatcherTreeRemover remover(tree_);
        DispatcherFailQueuedRequests(context_.treeRegistry(), *requestGate_);
    } catch (...) {
        logCurrentExceptionBanner();
    }
}

void ServerNodeImpl::pre() {
    setPriority(Lowest);
    createTree();
}

void ServerNodeImpl::stop() {
    QVBaseImpl::stop();
    requestGate_->wakeOwner();
}

void ServerNodeImpl::run() {
    // Without a request, or without room for its answer, the pass waits: a
    // first request or room made by the dispatcher ends the wait.
    if (!serveOneRequest()) requestGate_->waitForRequests(kIdleSleep);
}

bool ServerNodeImpl::takeControlCode(int32_t code) {
    int32_t expected = code;
    return pendingControlCode_.compare_exchange_strong(expected, 0);
}

bool ServerNodeImpl::canQueueAnswer() const {
    // Other writers of the output FIFO hold the node lock exclusively.
    SharedLock<SharedMutex> lock(nodeLock());
    if (outputFifo_->used() + kAnswerRoomBlocks > outputFifo_->capacity()) return false;
    FifoWriter probe(*outputFifo_, kAnswerRoomBytes);
    return probe.isValid();
}

bool ServerNodeImpl::serveOneRequest() {
    // A request is taken only when its answer can be queued: one taken and
    // then left unanswered would leave its client waiting in vain.
    if (requestFifo_->used() == 0 || !requestGate_->answerRoom([this] { return canQueueAnswer(); })) return false;
    FifoReader reader(*requestFifo_, 0);
    if (!reader.isValid()) return false;
    ValueRecordView record;
    uint16_t sessionTag = 0;
    if (reader.length() >= kValueRecordHeaderSize) sessionTag = getValueRecordHeader(reader.data()).sessionTag;
    if (parseValueRecord(reader.data(), reader.length(), record)) {
        Request request{record.header.sequenceTag, record.header.sessionTag, int32_t(record.header.endpointId)};
        switch (record.header.kind) {
        case DATATYPE_GETVALUE:
            answerRead(request);
            break;
        case DATATYPE_DOUBLE:
            if (isSettingNumber(record.asDouble()))
                answerWrite(request, truncateToInteger(record.asDouble()));
            else
                answerFailed(request, kRefusedValueStatus);
            break;
        case DATATYPE_INTEGER:
            if (fitsSettingWord(record.asInteger()))
                answerWrite(request, record.asInteger());
            else
                answerFailed(request, kRefusedValueStatus);
            break;
        default:
            // Other kinds are not requests of this tree.
            answerFailed(request);
            break;
        }
    }
    reader.commitAll();
    requestGate_->taken(sessionTag);
    context_.treeRegistry().wakeSignal().notify();
    return true;
}

void ServerNodeImpl::answerFailed(const Request& request, QV_STATUS failure) {
    UniqueLock<SharedMutex> lock(nodeLock());
    // A full output FIFO: the client's own timeout ends its wait instead.
    ReturnParamRequestFailed(*outputFifo_, request.sequenceTag, request.sessionTag, uint32_t(request.endpointId),
                             failure).ignore();
}

void ServerNodeImpl::answerRead(const Request& request) {
    const ServerTreeReads::Value value = reads_->read(request.endpointId);
    UniqueLock<SharedMutex> lock(nodeLock());
    switch (value.kind) {
        case ServerTreeReads::Kind::Integer:
            sendInteger(request, VALUE_FLAG_REPLY_ONLY, value.integer);
            break;
        case ServerTreeReads::Kind::Double:
            sendDouble(request, value.number);
            break;
        case ServerTreeReads::Kind::Text:
            sendText(request, value.text);
            break;
        default:
            QVLOG_LIMITED(logging::error) << "DATATYPE_GETVALUE: Unknown node.";
            // A full output FIFO: the client's own timeout ends its wait instead.
            ReturnParamRequestFailed(*outputFifo_, request.sequenceTag, request.sessionTag,
                                     uint32_t(request.endpointId), QV_VALUE_NOT_FOUND).ignore();
            break;
    }
}

void ServerNodeImpl::setChanging(bool changing) {
    UniqueLock<SharedMutex> lock(nodeLock());
    reads_->changing = changing;
}

void ServerNodeImpl::answerWrite(const Request& request, int64_t value) {
    // The new value of a setting may show before the push of its change is
    // queued: meanwhile reads are not answered at once but queued here.
    setChanging(true);
    struct Done {
        ServerNodeImpl& node;
        ~Done() { node.setChanging(false); }
    } done{*this};
    if (request.endpointId == ids_.port) {
        writePort(request, value);
    } else if (request.endpointId == ids_.open) {
        writeOpen(request, value);
    } else if (request.endpointId == ids_.level) {
        writeLevel(request, value);
    } else {
        QVLOG_LIMITED(logging::error) << "Unknown node.";
        answerFailed(request);
    }
}

void ServerNodeImpl::awaitListener(const std::shared_ptr<Listener>& listener) const {
    const auto& thread = listener->implementation()->thread();
    if (thread && !thread->isFinished()) listener->waitForSettingsApplied(kListenerApplyWait);
}

void ServerNodeImpl::writePort(const Request& request, int64_t value) {
    std::shared_ptr<Listener> listener = this->listener();
    if (!listener) {
        answerFailed(request);
        return;
    }
    const int64_t port = value < kMinPort ? kMinPort : (value > kMaxPort ? kMaxPort : value);
    if (port == listener->getPort()) {
        UniqueLock<SharedMutex> lock(nodeLock());
        sendInteger(request, VALUE_FLAG_REPLY_ONLY, port);
        return;
    }
    QVLOG(logging::debug) << boost::format("Changing ListenerPort to %lld.") % port;
    listener->setPort(uint16_t(port));
    awaitListener(listener);
    UniqueLock<SharedMutex> lock(nodeLock());
    sendInteger(request, VALUE_FLAG_CHANGED, listener->getPort());
}

void ServerNodeImpl::writeOpen(const Request& request, int64_t value) {
    std::shared_ptr<Listener> listener = this->listener();
    if (!listener) {
        answerFailed(request);
        return;
    }
    const int32_t current = listener->getOpenOverride();
    int32_t wanted = -1;
    if (value != 0 && current == 0) {
        QVLOG(logging::debug) << "Changing Bindmode to any.";
        wanted = 1;
    } else if (value == 0 && current == 1) {
        QVLOG(logging::debug) << "Changing Bindmode to local.";
        wanted = 0;
    }
    if (wanted >= 0) {
        listener->setOpenOverride(wanted);
        awaitListener(listener);
    }
    UniqueLock<SharedMutex> lock(nodeLock());
    sendInteger(request, wanted >= 0 ? VALUE_FLAG_CHANGED : VALUE_FLAG_REPLY_ONLY,
                listener->getOpenOverride() == 1 ? 1 : 0);
}

void ServerNodeImpl::writeLevel(const Request& request, int64_t value) {
    // Every write leaves its low 32 bits for the server thread: negative
    // values are control codes (-99 class log, -97 loop statistics).
    pendingControlCode_.store(int32_t(uint32_t(uint64_t(value))));
    std::atomic<int32_t>& debugLevel = reads_->debugLevel;
    int64_t level = value < 0 ? debugLevel.load() : (value > kMaxDebugLevel ? kMaxDebugLevel : value);
    UniqueLock<SharedMutex> lock(nodeLock());
    if (level == debugLevel.load()) {
        sendInteger(request, VALUE_FLAG_REPLY_ONLY, level);
        return;
    }
    QVLOG(logging::debug) << boost::format("Changing debug level to %lld.") % level;
    debugLevel.store(int32_t(level));
    logging::setLogLevel(int(level));
    sendInteger(request, VALUE_FLAG_CHANGED, level);
}

void ServerNodeImpl::sendInteger(const Request& request, uint16_t flags, int64_t value) {
    if (ReturnParamValueInteger(*outputFifo_, request.sequenceTag, request.sessionTag, uint32_t(request.endpointId),
                                flags, value) != QV_NO_ERROR) {
        QVLOG_LIMITED(logging::error) << "Can't ReturnParamValueInteger.";
    }
}

void ServerNodeImpl::sendText(const Request& request, const std::string& text) {
    if (ReturnParamValueByteArray(*outputFifo_, request.sequenceTag, request.sessionTag, uint32_t(request.endpointId),
                                  VALUE_FLAG_REPLY_ONLY, text.data(), uint32_t(text.size())) != QV_NO_ERROR) {
        QVLOG_LIMITED(logging::error) << "Can't ReturnParamValueByteArray.";
    }
}

void ServerNodeImpl::sendDouble(const Request& request, double value) {
    if (ReturnParamValueDouble(*outputFifo_, request.sequenceTag, request.sessionTag, uint32_t(request.endpointId),
                               VALUE_FLAG_REPLY_ONLY, value) != QV_NO_ERROR) {
        QVLOG_LIMITED(logging::error) << "Can't ReturnParamValueDouble.";
    }
}

void ServerNodeImpl::pushDeviceMessage(const TreeNode::Ptr& node, uint8_t code) {
    if (!node) QV_THROW(QVException("Invalid node."));
    SharedLock<SharedTimedMutex> structureLock(context_.treeRegistry().treeStructureMutex());
    const std::string name = node->getName();
    QVLOG(logging::debug) << boost::format("PushDeviceMessage: '%s', %u.") % name % unsigned(code);
    UniqueLock<SharedMutex> lock(nodeLock());
    FifoWriter writer(*outputFifo_, kValueRecordHeaderSize + wire::kTreeChangeSize);
    if (!writer.isValid()) {
        // Raised on device threads and in destructors: a full FIFO loses the
        // notice, it must not end the caller.
        QVLOG_LIMITED(logging::error)
            << boost::format("PushDeviceMessage: output FIFO full, notice '%s', %u dropped.") % name % unsigned(code);
        return;
    }
    uint8_t* p = writer.data();
    ValueRecordHeader header;
    header.sequenceTag = kUnsolicitedSequenceTag;
    header.sessionTag = kUnsolicitedSessionTag;
    header.endpointId = uint32_t(ids_.trees);
    header.kind = DATATYPE_TREECHANGE;
    header.flags = VALUE_FLAG_CHANGED;
    putValueRecordHeader(p, header);
    wire::encodeTreeChange(p + kValueRecordHeaderSize, code, name);
    writer.commitAll();
    context_.treeRegistry().wakeSignal().notify();
}

}  // namespace impl

ServerNode::ServerNode(exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBase(std::make_shared<impl::ServerNodeImpl>(carrier, context)) {}

bool ServerNode::takeControlCode(int32_t code) { return impl().takeControlCode(code); }

void ServerNode::pushDeviceMessage(const TreeNode::Ptr& node, uint8_t code) { impl().pushDeviceMessage(node, code); }

impl::ServerNodeImpl& ServerNode::impl() const { return implAs<impl::ServerNodeImpl>(); }

}  // namespace tarnix
