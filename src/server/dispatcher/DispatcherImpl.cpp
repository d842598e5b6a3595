#include "server/dispatcher/DispatcherImpl.h"

#include "core/DataTypes.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "platform/endian/ByteOrder.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/FailedRequests.h"
#include "core/tree/RequestGate.h"
#include "core/tree/SessionClient.h"
#include "server/dispatcher/Dispatcher.h"
#include "server/dispatcher/StreamFeed.h"
#include "server/server/ServerContext.h"

#include <mutex>
#include <shared_mutex>

#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace tarnix {
namespace impl {

DispatcherImpl::DispatcherImpl(exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBaseImpl("Dispatcher", carrier),
      context_(context),
      staging_(new uint8_t[kBufferSize]),
      replyBuffer_(new uint8_t[kBufferSize]),
      streamBuffer_(new uint8_t[kBufferSize]) {
    {
        UniqueLock<SharedMutex> lock(context_.treeRegistry().sessionListMutex());
        context_.treeRegistry().sessionClientList().clear();
    }
    for (uint32_t type = INTERFACE_TEXT; type < kInterfaceTypeCount; ++type) {
        valueOutput_[type].buffer.reset(new uint8_t[kBufferSize]);
    }
}

DispatcherImpl::~DispatcherImpl() {
    try {
        stop();
    } catch (...) {
        QVLOG(logging::error) << "Severe error: ~Dispatcher did throw.";
    }
}

void DispatcherImpl::pre() { setPriority(TimeCritical); }

void DispatcherImpl::stop() {
    QVBaseImpl::stop();
    context_.treeRegistry().wakeSignal().notify();
}

void DispatcherImpl::run() {
    const auto now = std::chrono::steady_clock::now();
    // Streams are drained whenever they hold data, unless they rest; the
    // periodic pass also lets go of the readers of sessions that left a quiet
    // stream.
    const bool periodic = now - lastStreamTime_ >= kStreamInterval;
    if (periodic) lastStreamTime_ = now;
    const bool streamPass = periodic || now >= streamRestEnd_;

    const uint32_t handled = pass(streamPass, periodic);
    if (streamPass) streamRestEnd_ = streamedLastPass_ && streamedBytes_ < kStreamRestBytes ? now + kStreamRest : now;
    if (!parked_.empty()) {
        // With the subscription lock released: a session that sends from
        // memory a parked entry needs is within one non-blocking send.
        const auto deadline = std::chrono::steady_clock::now() + kParkedWait;
        for (const std::shared_ptr<StreamFeed>& feed : parked_) feed->waitForReaders(deadline);
        parked_.clear();
    }

    if (handled == 0 && now < streamRestEnd_) {
        // The streams fill meanwhile; records end the rest.
        context_.treeRegistry().wakeSignal().waitForOthers(streamRestEnd_ - std::chrono::steady_clock::now());
    } else if (handled == 0 && !streamedLastPass_) {
        // Nothing to do: sleep until a producer wakes the dispatcher, at most
        // until the next periodic pass.
        context_.treeRegistry().wakeSignal().waitFor(kStreamInterval);
    } else if (busyCounter_ > kBusyPassLimit) {
        // Lets other threads run during a long busy spell without capping the
        // dispatcher at about ten thousand records a second.
        std::this_thread::yield();
        busyCounter_ = 0;
    }
    ++busyCounter_;
}

void DispatcherImpl::loadProtocols() {
    for (uint32_t type = INTERFACE_TEXT; type < kInterfaceTypeCount; ++type)
        protocols_[type] = getProtocolHooks(context_.protocols(), InterfaceType(type));
}

uint32_t DispatcherImpl::pass(bool streamPass, bool matchQuietStreams) {
    loadProtocols();
    uint32_t handled = 0;
    streamedLastPass_ = false;
    streamedBytes_ = 0;
    TreeRegistry& trees = context_.treeRegistry();
    UniqueLock<SharedTimedMutex> lock(trees.treeSubscriptionMutex());
    for (const FailedRequest& failed : DispatcherTakeFailedRequests(trees)) {
        answerFailure(failed.sessionTag, failed.sequenceTag, failed.status);
        ++handled;
    }
    for (auto& entry : trees.dispatcherTreeMap()) {
        DispatcherTree& tree = *entry.second;
        assertSameMutex(trees.treeSubscriptionMutex(), tree.subscriptionMutex);
        if (streamPass) drainStreams(tree, matchQuietStreams);
        handled += handleRecords(tree);
    }
    if (matchQuietStreams) feeds_.prune();
    return handled;
}

const ProtocolHooks* DispatcherImpl::protocolOf(const SessionClient& client, uint32_t& type) const {
    type = client.interfaceType.load();
    // A session between two protocols (type 0) receives nothing.
    if (type == INTERFACE_NONE || type >= kInterfaceTypeCount) return nullptr;
    if (!client.writeFunction) {
        QVLOG_LIMITED(logging::error) << "Got no writefunc.";
        return nullptr;
    }
    return protocols_[type].get();
}

void DispatcherImpl::drainStreams(DispatcherTree& tree, bool matchQuietStreams) {
    for (const std::shared_ptr<Endpoint>& endpoint : tree.bufferedEndpoints) {
        if (!endpoint->buffer) continue;
        assertSameMutex(tree.subscriptionMutex, endpoint->subscriptionMutex);
        EndpointFeeds& feeds = feeds_.of(endpoint);
        bool drained = false;
        // While an entry is parked, the stream's data waits in its buffer
        // (and, once that is full, in the instrument).
        for (uint32_t chunk = 0; chunk < kChunksPerPass && feeds.appendParked() && drainStream(endpoint); ++chunk)
            drained = true;
        if (feeds.parked()) {
            feeds.collectParked(parked_);
            streamedLastPass_ = true;
        } else if (drained) {
            streamedLastPass_ = true;
        } else if (matchQuietStreams) {
            matchSubscribers(endpoint);
        }
    }
}

bool DispatcherImpl::drainStream(const std::shared_ptr<Endpoint>& endpoint) {
    BufferFifoBase& buffer = *endpoint->buffer;
    buffer.mergeBlocks(kStreamChunk);
    FifoReader first(buffer, 0);
    if (!first.isValid()) return false;
    const uint32_t firstLength = first.length();
    const uint32_t sampleSize = uint32_t(sampleSizeOf(endpoint->dataType));
    if (sampleSize != 0 && firstLength > kStreamChunk) {
        // A large block goes in chunks, cut between whole samples.
        const uint32_t chunk = kStreamChunk / sampleSize * sampleSize;
        deliverBurst(endpoint, first.data(), chunk);
        first.commit(chunk);
        return true;
    }
    if (buffer.used() < 2 || firstLength >= kStreamChunk) {
        deliverBurst(endpoint, first.data(), firstLength);
        first.commitAll();
        return true;
    }
    // The unread data wraps around the end of the ring: join both parts.
    std::memcpy(staging_.get(), first.data(), firstLength);
    first.commitAll();
    const uint32_t room = kStreamChunk - firstLength;
    buffer.mergeBlocks(room);
    uint32_t total = firstLength;
    FifoReader second(buffer, 0);
    if (second.isValid() && second.length() <= room) {
        std::memcpy(staging_.get() + firstLength, second.data(), second.length());
        total += second.length();
        second.commitAll();
    }
    deliverBurst(endpoint, staging_.get(), total);
    return true;
}

EndpointFeeds& DispatcherImpl::matchSubscribers(const std::shared_ptr<Endpoint>& endpoint) {
    subscribers_.clear();
    for (SessionClient* client : endpoint->subscribers) {
        uint32_t type = 0;
        const ProtocolHooks* protocol = protocolOf(*client, type);
        if (protocol && protocol->streamEncode) subscribers_.push_back(EndpointFeeds::Subscriber{client, type});
    }
    EndpointFeeds& feeds = feeds_.of(endpoint);
    feeds.match(subscribers_);
    return feeds;
}

void DispatcherImpl::deliverBurst(const std::shared_ptr<Endpoint>& endpoint, const uint8_t* data, uint32_t length) {
    streamedBytes_ += length;
    EndpointFeeds& feeds = matchSubscribers(endpoint);
    if (subscribers_.empty()) return;
    // Each protocol's messages are made once and written once, into that
    // protocol's feed; every subscriber sends them from there.
    for (uint32_t type = INTERFACE_TEXT; type < kInterfaceTypeCount; ++type) {
        StreamFeed* feed = feeds.feed(type);
        if (feed) encodeInto(*feed, *protocols_[type], *endpoint, data, length);
    }
    for (const EndpointFeeds::Subscriber& s : subscribers_) s.client->context->streamReady();
}

void DispatcherImpl::encodeInto(StreamFeed& feed, const ProtocolHooks& protocol, const Endpoint& endpoint,
                                const uint8_t* data, uint32_t length) {
    uint32_t produced = 0;
    const QV_STATUS status = protocol.streamEncode(endpoint.path, endpoint.precision, endpoint.dataType,
                                                   streamBuffer_.get(), kBufferSize, produced, data, length);
    if (status == QV_BUFFER_TOO_SMALL) {
        // The converted block does not fit one message: send it as two, cut
        // between whole samples, instead of losing its end.
        const uint32_t sampleSize = sampleSizeOf(endpoint.dataType);
        if (sampleSize != 0 && length / sampleSize >= 2) {
            const uint32_t firstHalf = (length / sampleSize / 2) * sampleSize;
            encodeInto(feed, protocol, endpoint, data, firstHalf);
            encodeInto(feed, protocol, endpoint, data + firstHalf, length - firstHalf);
            return;
        }
    }
    if (status != QV_NO_ERROR) QVLOG_LIMITED(logging::error) << "Error in conversion (burst).";
    if (produced > kBufferSize) produced = kBufferSize;
    if (produced != 0) feed.append(streamBuffer_.get(), produced);
}

uint32_t DispatcherImpl::handleRecords(DispatcherTree& tree) {
    uint32_t handled = 0;
    while (handled < kRecordsPerPass && handleRecord(tree)) ++handled;
    // An owner that waits for room for its answers takes requests again.
    if (handled != 0 && tree.requestGate) tree.requestGate->answerRoomMade();
    return handled;
}

bool DispatcherImpl::handleRecord(DispatcherTree& tree) {
    if (!tree.outputFifo) return false;
    FifoReader reader(*tree.outputFifo, 0);
    if (!reader.isValid()) return false;
    const uint8_t* record = reader.data();
    const uint32_t length = reader.length();
    if (length >= kValueRecordFailedSize && getValueRecordHeader(record).kind == DATATYPE_REQUEST_FAILED) {
        const ValueRecordHeader header = getValueRecordHeader(record);
        answerFailure(header.sessionTag, header.sequenceTag, le::get32(record + kValueRecordValueOffset));
    } else if (length >= kValueRecordHeaderSize) {
        const ValueRecordHeader header = getValueRecordHeader(record);
        // A record for an endpoint that is gone (its group was rebuilt) is
        // consumed all the same; left in place it would block the FIFO. The
        // session it answers is told that no value comes.
        std::shared_ptr<Endpoint> endpoint = DispatcherTreeFindEndpoint(tree, int32_t(header.endpointId));
        if (!endpoint) {
            answerFailure(header.sessionTag, header.sequenceTag, QV_VALUE_NOT_FOUND);
        } else {
            assertSameMutex(tree.subscriptionMutex, endpoint->subscriptionMutex);
            for (Output& output : valueOutput_) output.converted = false;
            bool served = false;
            if ((header.flags & VALUE_FLAG_REPLY_ONLY) == 0) {
                for (SessionClient* client : endpoint->subscribers) {
                    if (client->sessionId == header.sessionTag) {
                        deliverReferenced(*client, *endpoint, record, length);
                        served = true;
                    } else {
                        deliverNormal(*client, *endpoint, record, length);
                    }
                }
            }
            if (!served && header.sessionTag != kUnsolicitedSessionTag) {
                UniqueLock<SharedMutex> lock(context_.treeRegistry().sessionListMutex());
                SessionClient* asking = context_.treeRegistry().sessionClientList().find(header.sessionTag);
                if (asking) deliverReferenced(*asking, *endpoint, record, length);
            }
        }
    }
    if (tree.directRead && length >= kValueRecordHeaderSize) noteAnswerDelivered(getValueRecordHeader(record).sessionTag);
    reader.commitAll();
    return true;
}

void DispatcherImpl::noteAnswerDelivered(uint16_t sessionTag) {
    if (sessionTag == kUnsolicitedSessionTag) return;
    UniqueLock<SharedMutex> lock(context_.treeRegistry().sessionListMutex());
    SessionClient* asking = context_.treeRegistry().sessionClientList().find(sessionTag);
    if (!asking) return;
    uint32_t due = asking->directTreeAnswersDue.load();
    while (due != 0 && !asking->directTreeAnswersDue.compare_exchange_weak(due, due - 1)) {
    }
}

void DispatcherImpl::answerFailure(uint16_t sessionTag, uint16_t sequenceTag, QV_STATUS failure) {
    if (sessionTag == kUnsolicitedSessionTag) return;
    UniqueLock<SharedMutex> lock(context_.treeRegistry().sessionListMutex());
    SessionClient* asking = context_.treeRegistry().sessionClientList().find(sessionTag);
    if (!asking) return;
    uint32_t type = 0;
    const ProtocolHooks* protocol = protocolOf(*asking, type);
    if (!protocol || !protocol->errorEncode) return;
    const uint32_t produced = protocol->errorEncode(sequenceTag, failure, replyBuffer_.get(), kBufferSize);
    if (produced != 0) asking->write(replyBuffer_.get(), produced, WRITE_CLASS_REPLY);
}

void DispatcherImpl::deliverReferenced(SessionClient& client, const Endpoint& endpoint, const uint8_t* record,
                                       uint32_t length) {
    uint32_t type = 0;
    const ProtocolHooks* protocol = protocolOf(client, type);
    if (!protocol || !protocol->valueEncode) return;
    const ValueRecordHeader header = getValueRecordHeader(record);
    const uint32_t produced = convertValue(*protocol, endpoint, header, header.sequenceTag, record, length,
                                           replyBuffer_.get(), "Error in conversion (referenced).");
    client.write(replyBuffer_.get(), produced, WRITE_CLASS_REPLY);
}

void DispatcherImpl::deliverNormal(SessionClient& client, const Endpoint& endpoint, const uint8_t* record,
                                   uint32_t length) {
    uint32_t type = 0;
    const ProtocolHooks* protocol = protocolOf(client, type);
    if (!protocol || !protocol->valueEncode) return;
    const ValueRecordHeader header = getValueRecordHeader(record);
    // Converted once per protocol; later subscribers reuse the output.
    Output& output = valueOutput_[type];
    if (!output.converted) {
        output.length = convertValue(*protocol, endpoint, header, 0, record, length, output.buffer.get(),
                                     "Error in conversion (normal).");
        output.converted = true;
    }
    const bool droppable = header.kind == DATATYPE_SCOPESAMPLE || header.flags == VALUE_FLAG_DROPPABLE;
    client.write(output.buffer.get(), output.length, droppable ? WRITE_CLASS_DROPPABLE : WRITE_CLASS_PUSH);
}

uint32_t DispatcherImpl::convertValue(const ProtocolHooks& protocol, const Endpoint& endpoint,
                                      const ValueRecordHeader& header, uint16_t sequenceId, const uint8_t* record,
                                      uint32_t length, uint8_t* out, const char* failureText) {
    uint32_t produced = 0;
    if (protocol.valueEncode(endpoint.path, endpoint.precision, sequenceId, header.kind, out, kBufferSize, produced,
                             record + kValueRecordHeaderSize, length - kValueRecordHeaderSize) != QV_NO_ERROR) {
        // What the converter made up to the failure is sent all the same.
        QVLOG_LIMITED(logging::error) << failureText;
    }
    return produced < kBufferSize ? produced : kBufferSize;
}

}  // namespace impl

Dispatcher::Dispatcher(exception::ExceptionCarrier& carrier, ServerContext& context)
    : QVBase(std::make_shared<impl::DispatcherImpl>(carrier, context)) {}

impl::DispatcherImpl& Dispatcher::impl() const { return implAs<impl::DispatcherImpl>(); }

}  // namespace tarnix
