#pragma once
#include "core/QVStatus.h"
#include "core/component/QVBaseImpl.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/Endpoint.h"
#include "server/dispatcher/StreamFeeds.h"
#include "server/session/IFaceData.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarnix {

struct ProtocolHooks;
struct SessionClient;
struct ValueRecordHeader;

namespace impl {

class DispatcherImpl : public QVBaseImpl {
public:
    // Size of every staging and conversion buffer.
    static constexpr uint32_t kBufferSize = 2097152;
    // Streams are drained as soon as their data arrives; the quiet ones are
    // looked at on this beat for sessions that left, which is also the
    // longest idle wait.
    static constexpr std::chrono::milliseconds kStreamInterval{1000};
    // Passes in a row that handle records before one sleeps 1 ms.
    static constexpr uint32_t kBusyPassLimit = 10;
    // Records of one tree's output FIFO handled in one pass: a backlog of
    // answers goes out in one go, and a busy tree holds up the others (and
    // subscribers waiting for the pass to end) only that long.
    static constexpr uint32_t kRecordsPerPass = 64;

    DispatcherImpl(exception::ExceptionCarrier& carrier, ServerContext& context);
    ~DispatcherImpl() override;

    void pre() override;
    void run() override;
    void stop() override;

    // Stream data is drained in chunks of this size; the chunks of one pass
    // are bounded so that records are not held up by a busy stream.
    static constexpr uint32_t kStreamChunk = 262144;
    static constexpr uint32_t kChunksPerPass = 16;
    // Longest wait, outside the locks, for sessions to finish the sends that
    // hold memory a parked stream entry needs; the next pass tries again.
    static constexpr std::chrono::milliseconds kParkedWait{2};
    // After a pass whose streams moved less than kStreamRestBytes, the
    // dispatcher lets the stream buffers fill for kStreamRest, handling only
    // records meanwhile. Drained sample by sample as they
    // are written, a buffer's lines travel between the device thread's core
    // and the dispatcher's for every sample, which slows the device thread
    // more than the samples themselves do.
    static constexpr uint32_t kStreamRestBytes = kStreamChunk / 4;
    static constexpr std::chrono::microseconds kStreamRest{200};

    // One pass over every tree: the next records of each output FIFO and, in
    // a stream pass, the stream buffers' data. `matchQuietStreams` also
    // updates the readers of streams without data (sessions that left).
    // Returns the records handled.
    uint32_t pass(bool streamPass, bool matchQuietStreams = true);

private:
    struct Output {
        std::unique_ptr<uint8_t[]> buffer;
        uint32_t length = 0;
        bool converted = false;
    };

    void loadProtocols();
    void drainStreams(DispatcherTree& tree, bool matchQuietStreams) QV_REQUIRES(tree.subscriptionMutex);
    // One chunk of the endpoint's stream data to its subscribers; false when
    // the stream holds none.
    bool drainStream(const std::shared_ptr<Endpoint>& endpoint) QV_REQUIRES(endpoint->subscriptionMutex);
    // The endpoint's feeds with a reader for each subscriber that takes data.
    EndpointFeeds& matchSubscribers(const std::shared_ptr<Endpoint>& endpoint) QV_REQUIRES(endpoint->subscriptionMutex);
    void deliverBurst(const std::shared_ptr<Endpoint>& endpoint, const uint8_t* data, uint32_t length)
        QV_REQUIRES(endpoint->subscriptionMutex);
    void encodeInto(StreamFeed& feed, const ProtocolHooks& protocol, const Endpoint& endpoint, const uint8_t* data,
                    uint32_t length);
    // Up to kRecordsPerPass records of the tree's output FIFO; returns how many.
    uint32_t handleRecords(DispatcherTree& tree) QV_REQUIRES(tree.subscriptionMutex);
    bool handleRecord(DispatcherTree& tree) QV_REQUIRES(tree.subscriptionMutex);
    // One answer of a tree that also answers reads at once has reached the
    // asking session (see SessionClient::directTreeAnswersDue).
    void noteAnswerDelivered(uint16_t sessionTag);
    // Tells the asking session that its request got no value.
    void answerFailure(uint16_t sessionTag, uint16_t sequenceTag, QV_STATUS failure);
    void deliverReferenced(SessionClient& client, const Endpoint& endpoint, const uint8_t* record, uint32_t length);
    void deliverNormal(SessionClient& client, const Endpoint& endpoint, const uint8_t* record, uint32_t length);
    // Converts a value record for one protocol into out; returns the bytes made.
    static uint32_t convertValue(const ProtocolHooks& protocol, const Endpoint& endpoint,
                                 const ValueRecordHeader& header, uint16_t sequenceId, const uint8_t* record,
                                 uint32_t length, uint8_t* out, const char* failureText);
    // The protocol of a client that can receive data now; null otherwise.
    const ProtocolHooks* protocolOf(const SessionClient& client, uint32_t& type) const;

    ServerContext& context_;
    std::chrono::steady_clock::time_point lastStreamTime_;
    std::unique_ptr<uint8_t[]> staging_;
    std::unique_ptr<uint8_t[]> replyBuffer_;
    // Output of a stream conversion, appended to a feed.
    std::unique_ptr<uint8_t[]> streamBuffer_;
    std::array<Output, kInterfaceTypeCount> valueOutput_;
    std::array<std::shared_ptr<const ProtocolHooks>, kInterfaceTypeCount> protocols_;
    uint32_t busyCounter_ = 0;
    bool streamedLastPass_ = false;
    // Stream bytes delivered in the last pass.
    uint64_t streamedBytes_ = 0;
    // Until then, passes leave the streams alone.
    std::chrono::steady_clock::time_point streamRestEnd_{};
    StreamFeeds feeds_;
    // Feeds whose entries wait for a session's send to end (this pass).
    std::vector<std::shared_ptr<StreamFeed>> parked_;
    std::vector<EndpointFeeds::Subscriber> subscribers_;
};

}  // namespace impl
}  // namespace tarnix
