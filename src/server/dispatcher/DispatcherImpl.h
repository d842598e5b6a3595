#pragma once
#include "core/QVStatus.h"
#include "core/component/QVBaseImpl.h"
#include "server/session/IFaceData.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

namespace tarnix {

struct DispatcherTree;
struct Endpoint;
struct ProtocolHooks;
struct SessionClient;
struct ValueRecordHeader;

namespace impl {

class DispatcherImpl : public QVBaseImpl {
public:
    // Size of every staging and conversion buffer.
    static constexpr uint32_t kBufferSize = 2097152;
    static constexpr std::chrono::milliseconds kStreamInterval{50};
    // Passes in a row that handle records before one sleeps 1 ms.
    static constexpr uint32_t kBusyPassLimit = 10;

    explicit DispatcherImpl(exception::ExceptionCarrier& carrier);
    ~DispatcherImpl() override;

    void pre() override;
    void run() override;

    // One pass over every tree: the next record of each output FIFO and, in
    // a stream pass, the stream buffers. Returns the records handled.
    uint32_t pass(bool streamPass);

private:
    struct Output {
        std::unique_ptr<uint8_t[]> buffer;
        uint32_t length = 0;
        bool converted = false;
    };

    void loadProtocols();
    void drainStreams(DispatcherTree& tree);
    void drainStream(Endpoint& endpoint);
    void deliverBurst(const Endpoint& endpoint, const uint8_t* data, uint32_t length);
    bool handleRecord(DispatcherTree& tree);
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

    std::chrono::steady_clock::time_point lastStreamTime_;
    std::unique_ptr<uint8_t[]> staging_;
    std::unique_ptr<uint8_t[]> replyBuffer_;
    std::array<Output, kInterfaceTypeCount> valueOutput_;
    std::array<Output, kInterfaceTypeCount> streamOutput_;
    std::array<std::shared_ptr<const ProtocolHooks>, kInterfaceTypeCount> protocols_;
    uint32_t busyCounter_ = 0;
};

}  // namespace impl
}  // namespace tarnix
