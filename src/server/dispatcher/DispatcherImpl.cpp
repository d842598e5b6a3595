#include "server/dispatcher/DispatcherImpl.h"

#include "core/DataTypes.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/SessionClient.h"
#include "server/dispatcher/Dispatcher.h"
#include "server/session/ProtocolTable.h"

#include <boost/thread/locks.hpp>

#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace tarnix {
namespace impl {

DispatcherImpl::DispatcherImpl(exception::ExceptionCarrier& carrier)
    : QVBaseImpl("Dispatcher", carrier),
      staging_(new uint8_t[kBufferSize]),
      replyBuffer_(new uint8_t[kBufferSize]) {
    {
        boost::unique_lock<boost::shared_mutex> lock(getSessionListMutex());
        getSessionClientList().clear();
    }
    for (uint32_t type = INTERFACE_TEXT; type < kInterfaceTypeCount; ++type) {
        valueOutput_[type].buffer.reset(new uint8_t[kBufferSize]);
        streamOutput_[type].buffer.reset(new uint8_t[kBufferSize]);
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

void DispatcherImpl::run() {
    const auto now = std::chrono::steady_clock::now();
    const bool streamPass = now - lastStreamTime_ >= kStreamInterval;
    if (streamPass) lastStreamTime_ = now;

    const uint32_t handled = pass(streamPass);

    // Stream data does not count: a pass without records always rests.
    if (handled == 0) {
        getDispatcherWakeSignal().waitFor(std::chrono::milliseconds(1));
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
        protocols_[type] = getProtocolHooks(InterfaceType(type));
}

uint32_t DispatcherImpl::pass(bool streamPass) {
    loadProtocols();
    uint32_t handled = 0;
    boost::unique_lock<boost::shared_mutex> lock(getTreeSubscriptionMutex());
    for (auto& entry : getDispatcherTreeMap()) {
        DispatcherTree& tree = *entry.second;
        if (streamPass) drainStreams(tree);
        if (handleRecord(tree)) ++handled;
    }
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

void DispatcherImpl::drainStreams(DispatcherTree& tree) {
    for (const std::shared_ptr<Endpoint>& endpoint : tree.bufferedEndpoints)
        if (endpoint->buffer) drainStream(*endpoint);
}

void DispatcherImpl::drainStream(Endpoint& endpoint) {
    BufferFifoBase& buffer = *endpoint.buffer;
    buffer.mergeBlocks(kBufferSize);
    FifoReader first(buffer, 0);
    if (!first.isValid()) return;
    const uint32_t firstLength = first.length();
    if (buffer.used() < 2 || firstLength >= kBufferSize) {
        deliverBurst(endpoint, first.data(), firstLength);
        first.commitAll();
        return;
    }
    // The unread data wraps around the end of the ring: join both parts.
    std::memcpy(staging_.get(), first.data(), firstLength);
    first.commitAll();
    const uint32_t room = kBufferSize - firstLength;
    buffer.mergeBlocks(room);
    uint32_t total = firstLength;
    FifoReader second(buffer, 0);
    if (second.isValid() && second.length() <= room) {
        std::memcpy(staging_.get() + firstLength, second.data(), second.length());
        total += second.length();
        second.commitAll();
    }
    // Otherwise the second part waits for the next stream pass.
    deliverBurst(endpoint, staging_.get(), total);
}

void DispatcherImpl::deliverBurst(const Endpoint& endpoint, const uint8_t* data, uint32_t length) {
    // Convert once for every protocol among the subscribers before anything is
    // written, so that a block too large for one event can still be split.
    for (Output& output : streamOutput_) output.converted = false;
    std::vector<std::pair<SessionClient*, uint32_t>> receivers;
    for (SessionClient* client : endpoint.subscribers) {
        uint32_t type = 0;
        const ProtocolHooks* protocol = protocolOf(*client, type);
        if (!protocol || !protocol->streamEncode) continue;
        receivers.emplace_back(client, type);
        Output& output = streamOutput_[type];
        if (output.converted) continue;
        output.length = 0;
        const QV_STATUS status = protocol->streamEncode(endpoint.path, endpoint.precision, endpoint.dataType,
                                                        output.buffer.get(), kBufferSize, output.length, data, length);
        output.converted = true;
        if (status == QV_BUFFER_TOO_SMALL) {
            // The converted block does not fit one event: send it as two,
            // cut between whole samples, instead of losing its end.
            const uint32_t sampleSize = sampleSizeOf(endpoint.dataType);
            if (sampleSize != 0 && length / sampleSize >= 2) {
                const uint32_t firstHalf = (length / sampleSize / 2) * sampleSize;
                deliverBurst(endpoint, data, firstHalf);
                deliverBurst(endpoint, data + firstHalf, length - firstHalf);
                return;
            }
        }
        if (status != QV_NO_ERROR) QVLOG_LIMITED(logging::error) << "Error in conversion (burst).";
        if (output.length > kBufferSize) output.length = kBufferSize;
    }
    for (const auto& receiver : receivers) {
        const Output& output = streamOutput_[receiver.second];
        receiver.first->write(output.buffer.get(), output.length, WRITE_CLASS_STREAM);
    }
}

bool DispatcherImpl::handleRecord(DispatcherTree& tree) {
    if (!tree.outputFifo) return false;
    FifoReader reader(*tree.outputFifo, 0);
    if (!reader.isValid()) return false;
    const uint8_t* record = reader.data();
    const uint32_t length = reader.length();
    if (length >= kValueRecordHeaderSize) {
        const ValueRecordHeader header = getValueRecordHeader(record);
        // A record for an endpoint that is gone (its group was rebuilt) is
        // consumed all the same; left in place it would block the FIFO.
        std::shared_ptr<Endpoint> endpoint = DispatcherTreeFindEndpoint(tree, int32_t(header.endpointId));
        if (endpoint) {
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
                boost::unique_lock<boost::shared_mutex> lock(getSessionListMutex());
                SessionClient* asking = getSessionClientList().find(header.sessionTag);
                if (asking) deliverReferenced(*asking, *endpoint, record, length);
            }
        }
    }
    reader.commitAll();
    return true;
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

Dispatcher::Dispatcher(exception::ExceptionCarrier& carrier)
    : QVBase(std::make_shared<impl::DispatcherImpl>(carrier)) {}

impl::DispatcherImpl& Dispatcher::impl() const { return implAs<impl::DispatcherImpl>(); }

}  // namespace tarnix
