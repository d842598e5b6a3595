#pragma once
#include "InstrumentConfig.h"
#include "RegisterSpace.h"
#include "StreamSource.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tarnix {
namespace sim {

// One connection of the host as the instrument sees it: the way answers go back.
class HostLink {
public:
    virtual ~HostLink() = default;
    // Sends one answer frame: type, tag, u32 status, then the bytes.
    virtual void answer(uint8_t type, uint32_t tag, uint32_t status, const uint8_t* data, std::size_t length) = 0;
};

// The simulated instrument: USB controller (control requests, its register
// file), the FPGA (configuration, register space) and both bulk pipes with the
// instrument's message framing. Thread-safe: connections call in concurrently.
class SimInstrument : private DeviceMessageSink {
public:
    enum class FpgaState { unconfigured, configuring, running };

    explicit SimInstrument(const InstrumentConfig& config);

    // Requests from the host, one per frame.
    void control(const std::shared_ptr<HostLink>& link, uint32_t tag, uint32_t code, const uint8_t* input,
                 uint32_t inputLength);
    void outTransfer(const std::shared_ptr<HostLink>& link, uint32_t tag, std::vector<uint8_t> data);
    void inRequest(const std::shared_ptr<HostLink>& link, uint32_t tag, uint32_t maxBytes);
    void cancel(const HostLink* link, uint32_t tag);
    void disconnected(const HostLink* link);

    // Inspection and control for tests and benchmarks.
    FpgaState fpgaState() const;
    std::array<uint8_t, 16> designDigest() const;
    void setFaults(const Faults& faults);
    void readRegisters(uint32_t address, uint8_t* out, uint32_t length);
    void writeRegisters(uint32_t address, const uint8_t* data, uint32_t length);
    void addRegion(uint32_t base, uint32_t size, std::shared_ptr<RegisterRegion> region);
    // Sends `payloadBytes`-byte messages at `address` whenever the host reads and
    // nothing else waits (count 0: without end).
    void startStream(uint32_t address, uint32_t payloadBytes, uint64_t count = 0);
    void stopStream();
    // Data that falls due at its own pace, asked for whenever the host reads
    // and no message waits, before the test stream.
    void addStreamSource(std::shared_ptr<StreamSource> source);
    // Answers waiting reads with whatever the stream sources have due now.
    void dataDue();
    // Queues one message as the FPGA would send it.
    void sendMessage(uint32_t address, const uint8_t* payload, uint32_t length);
    // Queues a periodic message only while a design runs and at most
    // `maxQueuedBytes` wait for the host, so an absent host cannot make the
    // queue grow; returns whether it was queued.
    bool offerMessage(uint32_t address, const uint8_t* payload, uint32_t length, std::size_t maxQueuedBytes);
    uint64_t framingErrors() const;
    uint64_t readRequestsAnswered() const;

private:
    struct PendingIn {
        std::weak_ptr<HostLink> link;
        const HostLink* identity;
        uint32_t tag;
        uint32_t maxBytes;
    };
    struct StalledOut {
        std::weak_ptr<HostLink> link;
        const HostLink* identity;
        uint32_t tag;
    };

    std::array<uint8_t, 8> controlAnswer(uint32_t function, const uint8_t* input, uint32_t inputLength);
    uint8_t picFlags() const;
    uint32_t bytesWanted() const;
    void startProgram(uint32_t length, uint8_t key);
    void finishConfiguration();
    void resetPipes();
    void consumeOut(const uint8_t* data, std::size_t length);
    void consumeFramed(const uint8_t* data, std::size_t length, std::size_t& position);
    void handleFrame();
    void answerRead(uint32_t address, uint32_t length);
    void emitMessage(uint32_t address, const uint8_t* data, uint32_t length) override;
    void appendMessage(std::vector<uint8_t>& out, uint32_t lengthWord, uint32_t address, const uint8_t* payload,
                       uint32_t length);
    void serveReads();
    bool hasInData() const;
    std::vector<uint8_t> buildTransfer(uint32_t maxBytes);

    mutable std::mutex mutex_;
    InstrumentConfig config_;
    std::array<uint8_t, 256> controllerRegisters_{};
    bool locked_ = false;

    // FPGA and its configuration.
    FpgaState fpga_;
    std::array<uint8_t, 16> digest_;
    uint8_t pic_;
    bool configuring_ = false;
    bool blankOverDesign_ = false;
    uint8_t key_ = 0;
    uint32_t imageExpected_ = 0;
    uint32_t paddingLeft_ = 0;
    std::vector<uint8_t> image_;
    RegisterSpace registers_;

    // Host-to-device pipe: framed messages.
    std::vector<uint8_t> frame_;  // header and payload of the message being received
    uint32_t framedOutTransfers_ = 0;
    std::vector<StalledOut> stalled_;
    uint64_t framingErrors_ = 0;

    // Device-to-host pipe.
    std::deque<std::vector<uint8_t>> inQueue_;
    std::size_t inQueueBytes_ = 0;
    std::size_t partialOffset_ = 0;  // bytes of the front message already sent
    uint16_t nextPacketCount_ = 1;
    std::deque<PendingIn> reads_;
    uint64_t readsAnswered_ = 0;
    std::vector<std::shared_ptr<StreamSource>> sources_;
    bool invalidAddressSent_ = false;
    bool streaming_ = false;
    uint32_t streamAddress_ = 0;
    uint64_t streamLeft_ = 0;
    std::vector<uint8_t> streamPayload_;
    uint32_t streamSequence_ = 0;
};

}  // namespace sim
}  // namespace tarnix
