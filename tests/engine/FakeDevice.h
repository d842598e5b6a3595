#pragma once
// A device object for the engine's tests: records every register write, read
// request and flush (in order, and as host-to-device frames byte for byte),
// owns real output and request FIFOs, a tree registry of its own (as a
// server would have) and a clock that only moves when told. Like the server's
// device objects it is handed the LQ3 instruments' table of feature groups.
#include "platform/endian/ByteOrder.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/TreeRegistry.h"
#include "engine/DeviceAccess.h"
#include "engine/DeviceState.h"
#include "groups/FeatureInitMapBuild.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

struct DeviceEvent {
    enum Kind { Write, Request, Flush } kind;
    uint32_t address = 0;
    uint32_t length = 0;
    std::vector<uint8_t> payload;  // writes only

    uint32_t word() const { return payload.size() >= 4 ? le::get32(payload.data()) : 0; }
};

// A record taken from the output FIFO.
struct OutputRecord {
    ValueRecordHeader header;
    std::vector<uint8_t> bytes;  // the whole record

    double asDouble() const { return le::getDouble(bytes.data() + 12); }
    int64_t asInteger() const { return int64_t(le::get64(bytes.data() + 12)); }
    std::string asText() const {
        const uint32_t n = le::get32(bytes.data() + 12);
        return std::string(reinterpret_cast<const char*>(bytes.data() + 16), n);
    }
};

class FakeDevice : public DeviceAccess {
public:
    using OutputFifo = BufferFifo<65536, 1048576>;
    using RequestFifo = BufferFifo<1024, 65536>;

    explicit FakeDevice(uint32_t serialNumber = 4242, const FeatureInitMapTable& featureInitMap = FeatureInitMap())
        : DeviceAccess(featureInitMap),
          output_(std::make_shared<OutputFifo>()), request_(std::make_shared<RequestFifo>()),
          serial_(serialNumber), now_(EngineTime{} + std::chrono::hours(1)) {}
    ~FakeDevice() override {
        if (deviceState()) DeviceStateDestroy(*this).ignore();
    }

    void queueWriteBegin(uint32_t address, uint32_t length) override {
        EXPECT_EQ(pendingPayload_, 0u) << "write begun before the previous payload was complete";
        DeviceEvent e{DeviceEvent::Write, address, length, {}};
        events_.push_back(e);
        pendingPayload_ = length;
        appendHeader(true, length, address);
        if (length == 0) pendingPayload_ = 0;
    }
    void queueWriteData(const uint8_t* data, uint32_t length) override {
        ASSERT_FALSE(events_.empty());
        ASSERT_LE(length, pendingPayload_) << "more payload than announced";
        events_.back().payload.insert(events_.back().payload.end(), data, data + length);
        wire_.insert(wire_.end(), data, data + length);
        pendingPayload_ -= length;
    }
    void queueRequestData(uint32_t address, uint32_t length) override {
        EXPECT_EQ(pendingPayload_, 0u) << "request queued inside a write";
        events_.push_back(DeviceEvent{DeviceEvent::Request, address, length, {}});
        appendHeader(false, length, address);
    }
    void flush() override { events_.push_back(DeviceEvent{DeviceEvent::Flush, 0, 0, {}}); }

    std::shared_ptr<QVFifo> outputFifo() override { return output_; }
    std::shared_ptr<QVFifo> requestFifo() override { return request_; }
    TreeRegistry& treeRegistry() override { return registry_; }
    uint32_t serial() const override { return serial_; }
    EngineTime now() const override { return now_; }
    void setInitialized() override { initialized = true; }
    void setNeedProgram() override { needProgram = true; }

    // Moves the clock and runs the pass end: the engine's timers fire.
    void advance(std::chrono::microseconds step) {
        now_ += step;
        DeviceStateSetCurrentTime(*this, now_);
    }

    DeviceState& state() { return *deviceState(); }
    std::vector<DeviceEvent>& events() { return events_; }
    std::vector<uint8_t>& wire() { return wire_; }
    void clearEvents() {
        events_.clear();
        wire_.clear();
    }
    std::vector<DeviceEvent> writes() const { return ofKind(DeviceEvent::Write); }
    std::vector<DeviceEvent> requests() const { return ofKind(DeviceEvent::Request); }

    // Every record the engine wrote into the output FIFO so far.
    std::vector<OutputRecord> takeOutput() {
        std::vector<OutputRecord> out;
        for (;;) {
            FifoReader reader(*output_, 0);
            if (!reader) break;
            OutputRecord r;
            r.bytes.assign(reader.data(), reader.end());
            r.header = getValueRecordHeader(reader.data());
            out.push_back(r);
            reader.commitAll();
        }
        return out;
    }

    // Fills the output FIFO so that no further record fits.
    void fillOutput() {
        for (;;) {
            FifoWriter writer(*output_, 4096);
            if (!writer) break;
            writer.commitAll();
        }
        for (;;) {
            FifoWriter writer(*output_, 16);
            if (!writer) break;
            writer.commitAll();
        }
    }

    bool initialized = false;
    bool needProgram = false;

private:
    // The frame header: a write has bit 0 of its length word set, a request not.
    void appendHeader(bool isWrite, uint32_t length, uint32_t address) {
        uint8_t h[12];
        le::put16(h, 0x5A47);
        le::put16(h + 2, 0);
        le::put32(h + 4, isWrite ? ((length & ~2u) | 1u) : (length & ~3u));
        le::put32(h + 8, address & ~3u);
        wire_.insert(wire_.end(), h, h + 12);
    }
    std::vector<DeviceEvent> ofKind(DeviceEvent::Kind kind) const {
        std::vector<DeviceEvent> out;
        for (const auto& e : events_)
            if (e.kind == kind) out.push_back(e);
        return out;
    }

    // Outlives the device state, which the destructor's body ends.
    TreeRegistry registry_;
    std::shared_ptr<OutputFifo> output_;
    std::shared_ptr<RequestFifo> request_;
    uint32_t serial_;
    EngineTime now_;
    uint32_t pendingPayload_ = 0;
    std::vector<DeviceEvent> events_;
    std::vector<uint8_t> wire_;
};

// A request record as the protocols post it.
inline std::vector<uint8_t> requestRecord(uint16_t kind, int32_t epId, uint16_t seq = 7, uint16_t session = 3) {
    std::vector<uint8_t> r(kValueRecordHeaderSize);
    ValueRecordHeader h;
    h.sequenceTag = seq;
    h.sessionTag = session;
    h.endpointId = uint32_t(epId);
    h.kind = kind;
    putValueRecordHeader(r.data(), h);
    return r;
}
inline std::vector<uint8_t> setDouble(int32_t epId, double v) {
    auto r = requestRecord(DATATYPE_DOUBLE, epId);
    r.resize(20);
    le::putDouble(r.data() + 12, v);
    return r;
}
inline std::vector<uint8_t> setInteger(int32_t epId, int64_t v) {
    auto r = requestRecord(DATATYPE_INTEGER, epId);
    r.resize(20);
    le::put64(r.data() + 12, uint64_t(v));
    return r;
}
inline std::vector<uint8_t> setBytes(int32_t epId, const std::vector<uint8_t>& bytes) {
    auto r = requestRecord(DATATYPE_BYTEARRAY, epId);
    r.resize(16);
    le::put32(r.data() + 12, uint32_t(bytes.size()));
    r.insert(r.end(), bytes.begin(), bytes.end());
    return r;
}
inline std::vector<uint8_t> getValue(int32_t epId) { return requestRecord(DATATYPE_GETVALUE, epId); }

}  // namespace test
}  // namespace tarnix
