// Host-to-device messages: 12-byte little-endian headers (sync word 0x5A47,
// 0, length word, address) batched into 16-KiB transfers.
#include "platform/endian/ByteOrder.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"

#include <algorithm>

namespace tarnix {
namespace impl {

namespace {

constexpr uint32_t kHeaderSize = 12;
constexpr uint16_t kSyncWord = 0x5A47;
constexpr uint32_t kWriteBit = 1;
constexpr uint32_t kMarkBits = 3;

void buildHeader(uint8_t (&header)[kHeaderSize], uint32_t lengthWord, uint32_t address) {
    le::put16(header, kSyncWord);
    le::put16(header + 2, 0);
    le::put32(header + 4, lengthWord);
    le::put32(header + 8, address & ~kMarkBits);
}

}  // namespace

void IOLQ3_USBImpl::queueWriteBegin(uint32_t address, uint32_t length) {
    if (writeState_ != kWriteIdle)
        QV_THROW(QVIOInternalException("Wrong state of WR state engine during write begin."));
    uint8_t header[kHeaderSize];
    buildHeader(header, (length & ~2u) | kWriteBit, address);
    announced_ = length;
    queued_ = 0;
    appendWrite(header, kHeaderSize);
    writeState_ = kWriteOpen;
}

void IOLQ3_USBImpl::queueWriteData(const uint8_t* data, uint32_t length) {
    if (!data) QV_THROW(QVIOInternalException("Detected a NULL pointer during WR."));
    if (writeState_ != kWriteOpen)
        QV_THROW(QVIOInternalException("Wrong state of WR state engine during queing write data."));
    const uint32_t taken = std::min(length, announced_ - queued_);
    try {
        appendWrite(data, taken);
    } catch (const QVIOTimeoutException&) {
        // Part of the message may be on the wire: the instrument is out of step
        // with the queue, so the queue starts afresh and the failure goes up.
        resetWriteQueue();
        throw;
    }
    queued_ += taken;
    if (queued_ == announced_) writeState_ = kWriteIdle;
}

void IOLQ3_USBImpl::queueRequestData(uint32_t address, uint32_t length) {
    if (writeState_ != kWriteIdle)
        QV_THROW(QVIOInternalException("Wrong state of WR state engine during queing data request."));
    uint8_t header[kHeaderSize];
    buildHeader(header, length & ~kMarkBits, address);
    announced_ = 0;
    queued_ = 0;
    appendWrite(header, kHeaderSize);
}

void IOLQ3_USBImpl::resetWriteQueue() {
    writeState_ = kWriteIdle;
    announced_ = 0;
    queued_ = 0;
    interface_.currentWrite().clear();
}

void IOLQ3_USBImpl::appendWrite(const uint8_t* bytes, uint32_t length) {
    constexpr uint32_t chunk = detail::WriteBuffer_USB_Win::kChunkSize;
    uint32_t taken = 0;
    detail::WriteBuffer_USB_Win* current = &interface_.currentWrite();
    if (!current->empty()) {
        taken = std::min(current->room(), length);
        current->append(bytes, taken);
    } else if (length < chunk) {
        taken = length;
        current->append(bytes, taken);
    }
    if (current->size() >= chunk) {
        interface_.otherWrite().waitAsync();
        interface_.swapWriteBuffers();
        writeOtherBuffer();
    }
    while (length - taken > chunk) {
        const uint32_t block = (length - taken) / chunk * chunk;
        interface_.otherWrite().waitAsync();
        interface_.swapWriteBuffers();
        interface_.otherWrite().writeAndWait(bytes + taken, block);
        countSent(block);
        taken += block;
    }
    if (taken < length) interface_.currentWrite().append(bytes + taken, length - taken);
}

void IOLQ3_USBImpl::sendWriteQueue() {
    if (interface_.currentWrite().empty()) return;
    interface_.otherWrite().waitAsync();
    interface_.swapWriteBuffers();
    writeOtherBuffer();
}

void IOLQ3_USBImpl::writeOtherBuffer() {
    const uint32_t size = interface_.otherWrite().size();
    interface_.otherWrite().writeAndWait();
    countSent(size);
}

void IOLQ3_USBImpl::countSent(uint64_t bytes) {
    bytesSent_.store(bytesSent() + bytes, std::memory_order_relaxed);
}

}  // namespace impl
}  // namespace tarnix
