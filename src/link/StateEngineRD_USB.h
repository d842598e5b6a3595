#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace tarnix {

namespace detail {
class ReadBuffer_USB_Win;
}

class StateEngineRDBase {
public:
    virtual ~StateEngineRDBase() = default;
};

// Cuts the instrument's device-to-host byte stream into messages:
//   u16 0x5A47, u16 0, u32 length word (payload bytes | bit 0 "continues" |
//   bit 1 "header only"), u32 address, payload, u16 0, u16 packet count,
// each followed by the next sync word or a 0 word. Any split of the stream
// across read buffers is handled: a word or sync byte cut by the end of a buffer
// is kept until the next one. Bad framing skips the message and resynchronises
// on the next sync word. The counters may be read from another thread.
class StateEngineRD_USB : public StateEngineRDBase {
public:
    enum State : int { kSyncSearch = 0, kReserved = 1, kHeader = 2, kPayload = 3, kPacketCount = 4, kNextWord = 5 };
    static constexpr uint32_t kMaxLengthWord = 4096;
    static constexpr uint32_t kContinuesBit = 1;
    static constexpr uint32_t kHeaderOnlyBit = 2;

    // Consumes bytes from the buffer's cursor until one message is complete or
    // the valid bytes are used up (the buffer then has none left). Payload goes
    // to destination + destinationOffset + position, never past destinationSize.
    void process(detail::ReadBuffer_USB_Win& buffer, uint8_t* destination, uint32_t destinationSize,
                 uint32_t destinationOffset);
    // The same over raw bytes; `cursor` advances. Returns true when a message
    // was completed (the cursor then rests on the word after it).
    bool process(const uint8_t* data, uint32_t valid, uint32_t& cursor, uint8_t* destination,
                 uint32_t destinationSize, uint32_t destinationOffset);

    void skipMessage(const char* reason);
    // Counts a completed message that the reader had to drop.
    void countSkipped(const char* reason);
    // The next packet count is taken as it comes.
    void resyncPacketCount();
    void logState() const;

    int state() const { return state_.load(std::memory_order_relaxed); }
    uint32_t lengthWord() const { return lengthWord_.load(std::memory_order_relaxed); }
    uint32_t address() const { return address_.load(std::memory_order_relaxed); }
    int32_t packetCounter() const { return packetCounter_.load(std::memory_order_relaxed); }
    uint64_t messagesCompleted() const { return messagesCompleted_.load(std::memory_order_relaxed); }
    uint64_t bytesConsumed() const { return bytesConsumed_.load(std::memory_order_relaxed); }
    uint64_t messagesSkipped() const { return messagesSkipped_.load(std::memory_order_relaxed); }

private:
    // The bytes not yet parsed: at most one carried byte from the previous
    // buffer, then the buffer's bytes from the cursor.
    struct Input {
        const uint8_t* data;
        uint32_t valid;
        uint32_t& cursor;
        uint8_t& carry;
        uint32_t& carried;

        uint32_t available() const { return carried + (valid - cursor); }
        uint8_t at(uint32_t i) const { return i < carried ? carry : data[cursor + i - carried]; }
        uint16_t word() const { return uint16_t(at(0) | (at(1) << 8)); }
        uint32_t dword(uint32_t i) const {
            return uint32_t(at(i)) | (uint32_t(at(i + 1)) << 8) | (uint32_t(at(i + 2)) << 16) |
                   (uint32_t(at(i + 3)) << 24);
        }
        void advance(uint32_t n);
        // Keeps a last lone byte for the next buffer.
        void keepRest();
    };

    bool takeWord(Input& in, uint16_t& word);
    void consumed(uint64_t n) { bytesConsumed_.store(bytesConsumed() + n, std::memory_order_relaxed); }
    void setState(int state) {
        previousState_ = this->state();
        state_.store(state, std::memory_order_relaxed);
        count_.store(0, std::memory_order_relaxed);
    }
    void checkLength();
    void copyPayload(Input& in, uint8_t* destination, uint32_t destinationSize, uint32_t destinationOffset);
    void checkPacketCount(uint16_t received, const Input& in);
    void reportReservedWord(const Input& in) const;
    // The bytes around the cursor, for the report of a reserved word.
    static std::string reservedWordDump(const Input& in);

    std::atomic<uint32_t> count_{0};
    std::atomic<uint32_t> lengthWord_{0};
    std::atomic<uint32_t> address_{0};
    std::atomic<int32_t> packetCounter_{0};
    std::atomic<uint64_t> messagesCompleted_{0};
    std::atomic<uint64_t> bytesConsumed_{0};
    std::atomic<uint64_t> messagesSkipped_{0};
    bool resynchronise_ = true;
    std::atomic<int> state_{kSyncSearch};
    int previousState_ = kSyncSearch;
    uint8_t carry_ = 0;
    uint32_t carried_ = 0;
};

}  // namespace tarnix
