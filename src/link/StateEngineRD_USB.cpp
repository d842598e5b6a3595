#include "link/StateEngineRD_USB.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "link/IOExceptions.h"
#include "link/UsbTransferBuffers.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace tarnix {
namespace {

constexpr uint8_t kSyncLow = 0x47;
constexpr uint8_t kSyncHigh = 0x5A;
constexpr uint16_t kSyncWord = 0x5A47;

}  // namespace

void StateEngineRD_USB::Input::advance(uint32_t n) {
    if (carried && n) {
        carried = 0;
        --n;
    }
    cursor += n;
}

void StateEngineRD_USB::Input::keepRest() {
    if (carried == 0 && valid - cursor == 1) {
        carry = data[cursor];
        carried = 1;
        ++cursor;
    }
}

bool StateEngineRD_USB::takeWord(Input& in, uint16_t& word) {
    if (in.available() < 2) {
        in.keepRest();
        return false;
    }
    word = in.word();
    in.advance(2);
    return true;
}

void StateEngineRD_USB::process(detail::ReadBuffer_USB_Win& buffer, uint8_t* destination, uint32_t destinationSize,
                                uint32_t destinationOffset) {
    uint32_t cursor = buffer.cursor();
    process(buffer.data(), buffer.valid(), cursor, destination, destinationSize, destinationOffset);
    if (cursor >= buffer.valid())
        buffer.consumeAll();
    else
        buffer.setCursor(cursor);
}

bool StateEngineRD_USB::process(const uint8_t* data, uint32_t valid, uint32_t& cursor, uint8_t* destination,
                                uint32_t destinationSize, uint32_t destinationOffset) {
    Input in{data, valid, cursor, carry_, carried_};
    for (;;) {
        switch (state()) {
        case kSyncSearch: {
            for (;;) {
                if (in.carried == 0 && in.cursor < in.valid) {
                    const void* found = std::memchr(in.data + in.cursor, kSyncLow, in.valid - in.cursor);
                    in.cursor = found ? static_cast<uint32_t>(static_cast<const uint8_t*>(found) - in.data)
                                      : in.valid;  // nothing that could start a message
                }
                if (in.available() < 2) {
                    if (in.available() == 1 && in.at(0) != kSyncLow) in.advance(1);
                    in.keepRest();
                    return false;
                }
                if (in.at(0) == kSyncLow && in.at(1) == kSyncHigh) break;
                in.advance(1);  // a lone 0x47: search on from the next byte
            }
            in.advance(2);
            consumed(2);
            setState(kReserved);
            break;
        }
        case kReserved: {
            uint16_t word;
            if (!takeWord(in, word)) return false;
            if (word != 0) {
                reportReservedWord(in);
                skipMessage("Wrong reserved word");
                break;
            }
            consumed(2);
            setState(kHeader);
            break;
        }
        case kHeader: {
            const uint32_t count = count_.load(std::memory_order_relaxed);
            if (count == 0 && in.available() >= 8) {
                lengthWord_.store(in.dword(0), std::memory_order_relaxed);
                address_.store(in.dword(4), std::memory_order_relaxed);
                in.advance(8);
                consumed(8);
                checkLength();
                setState(kPayload);
                break;
            }
            uint16_t word;
            if (!takeWord(in, word)) return false;
            consumed(2);
            switch (count) {
            case 0:
                lengthWord_.store(word, std::memory_order_relaxed);
                break;
            case 1:
                lengthWord_.store(lengthWord() | (uint32_t(word) << 16), std::memory_order_relaxed);
                checkLength();
                break;
            case 2:
                address_.store(word, std::memory_order_relaxed);
                break;
            default:
                address_.store(address() | (uint32_t(word) << 16), std::memory_order_relaxed);
                break;
            }
            if (count + 1 == 4)
                setState(kPayload);
            else
                count_.store(count + 1, std::memory_order_relaxed);
            break;
        }
        case kPayload: {
            const uint32_t payload = lengthWord() & ~3u;
            if (count_.load(std::memory_order_relaxed) < payload) {
                copyPayload(in, destination, destinationSize, destinationOffset);
                if (count_.load(std::memory_order_relaxed) < payload) return false;
            }
            setState(kPacketCount);
            break;
        }
        case kPacketCount: {
            uint16_t word;
            if (count_.load(std::memory_order_relaxed) == 0) {
                if (!takeWord(in, word)) return false;
                consumed(2);
                count_.store(1, std::memory_order_relaxed);
                if (word != 0) {
                    packetCounter_.store(-1, std::memory_order_relaxed);
                    skipMessage("Incorrect space before packetcount");
                    break;
                }
            }
            if (!takeWord(in, word)) return false;
            consumed(2);
            checkPacketCount(word, in);
            setState(kNextWord);
            break;
        }
        case kNextWord: {
            if (in.available() < 2) {
                in.keepRest();
                return false;
            }
            const uint16_t word = in.word();
            if (word != kSyncWord && word != 0) {
                skipMessage("validate wrong nextRD");
                break;
            }
            messagesCompleted_.store(messagesCompleted() + 1, std::memory_order_relaxed);
            setState(kSyncSearch);
            return true;
        }
        default:
            QV_THROW(QVIOInternalException("Illegal state of RD engine."));
        }
    }
}

void StateEngineRD_USB::checkLength() {
    if (lengthWord() > kMaxLengthWord) QV_THROW(QVIOInternalException("Too long package length detected (>4096)."));
}

void StateEngineRD_USB::copyPayload(Input& in, uint8_t* destination, uint32_t destinationSize,
                                    uint32_t destinationOffset) {
    const uint32_t payload = lengthWord() & ~3u;
    uint32_t count = count_.load(std::memory_order_relaxed);
    const auto store = [&](const uint8_t* bytes, uint32_t n) {
        const uint64_t at = uint64_t(destinationOffset) + count;
        if (n > 0 && destination && at < destinationSize)
            std::memcpy(destination + at, bytes, std::min<uint64_t>(n, destinationSize - at));
        count += n;
        consumed(n);
    };
    if (in.carried && count < payload) {
        const uint8_t byte = in.carry;
        in.advance(1);
        store(&byte, 1);
    }
    const uint32_t take = std::min(payload - count, in.valid - in.cursor);
    store(in.data + in.cursor, take);
    in.cursor += take;
    count_.store(count, std::memory_order_relaxed);
}

void StateEngineRD_USB::checkPacketCount(uint16_t received, const Input& in) {
    if (resynchronise_) {
        resynchronise_ = false;
        packetCounter_.store(received, std::memory_order_relaxed);
        return;
    }
    int32_t expected = packetCounter() + 1;
    if (expected > 0xFFFF) expected = 0;
    if (expected != received && QV_PRINT_ADMITTED()) {
        std::printf("Incorrect packet count (%d, %d).\n", int(received), int(expected));
        std::printf("Bufferpos: %u, Bytes: %llu, MsgSkipped: %llu, Count: %u, Address: %u\n", in.cursor,
                    static_cast<unsigned long long>(bytesConsumed()),
                    static_cast<unsigned long long>(messagesSkipped()), count_.load(std::memory_order_relaxed),
                    address());
        const uint32_t from = in.cursor > 50 ? in.cursor - 50 : 0;
        const uint32_t to = std::min(in.valid, in.cursor + 5);
        for (uint32_t i = from; i < to; ++i) std::printf("0x%04x ", in.data[i]);
        std::printf("\n");
    }
    packetCounter_.store(received, std::memory_order_relaxed);
}

std::string StateEngineRD_USB::reservedWordDump(const Input& in) {
    std::ostringstream dump;
    dump << "Buffer: ";
    const int64_t cursor = in.cursor;
    for (int64_t i = cursor - 50; i < cursor + 10; ++i) {
        if (i == cursor)
            dump << "\nFail -> ";
        else if ((i - cursor) % 10 == 0)
            dump << "\n        ";
        if (i >= 0 && i < int64_t(in.valid))
            dump << boost::format("0x%02x ") % unsigned(in.data[i]);
        else
            dump << "       ";
    }
    return dump.str();
}

void StateEngineRD_USB::reportReservedWord(const Input& in) const {
    QVLOG_LIMITED(logging::error) << "Bufferpos: " << in.cursor << ", Bytes: " << bytesConsumed()
                          << ", MsgSkipped: " << messagesSkipped()
                          << ", Count: " << count_.load(std::memory_order_relaxed) << ", Address: " << address();
    QVLOG_LIMITED(logging::error) << reservedWordDump(in);
}

void StateEngineRD_USB::countSkipped(const char* reason) {
    messagesSkipped_.store(messagesSkipped() + 1, std::memory_order_relaxed);
    QVLOG_LIMITED(logging::error) << boost::format("Message skipped! (%s) - %llu total.") % reason %
                                 static_cast<unsigned long long>(messagesSkipped());
}

void StateEngineRD_USB::skipMessage(const char* reason) {
    countSkipped(reason);
    setState(kSyncSearch);
}

void StateEngineRD_USB::resyncPacketCount() {
    QVLOG(logging::debug) << "Synchronized package count again.";
    resynchronise_ = true;
}

void StateEngineRD_USB::logState() const {
    QVLOG(logging::status) << "RD eng count:  " << count_.load(std::memory_order_relaxed);
    QVLOG(logging::status) << "RD eng length: " << lengthWord();
    QVLOG(logging::status) << "RD eng address:" << address();
    QVLOG(logging::status) << "RD eng packet: " << messagesCompleted() << " / " << packetCounter();
    QVLOG(logging::status) << "RD eng bytes:  " << bytesConsumed();
    QVLOG(logging::status) << "RD msg skipped:" << messagesSkipped();
}

}  // namespace tarnix
