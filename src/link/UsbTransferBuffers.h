#pragma once
#include "core/fifo/ZeroedArray.h"
#include "platform/usb/DeviceHandle.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnix {
namespace detail {

// The opened instrument, shared by the interface and its four buffers; the last
// holder closes it.
using HandleUSB = platform::usb::DeviceHandle;

// The overlapped record of one buffer with the buffer's own auto-reset event.
struct EventHandlerUSB {
    EventHandlerUSB();
    // Before each transfer: record reset (offsets 0), the own event named in it.
    void prepare();

    std::shared_ptr<platform::usb::Overlapped> overlapped;
    std::shared_ptr<platform::usb::Event> event;
};

// Waits in 10-ms steps while `overlapped` runs; after 200 steps it logs the
// overlong wait ("... during <activity>.") and asks the handle to cancel, again
// after every further step, until the transfer has ended.
void waitWhilePending(EventHandlerUSB& events, HandleUSB* handle, const char* activity);

// Buffer of the device-to-host pipe: one overlapped read at a time into storage
// that grows to the largest read and is never shrunk. The storage is one
// zero-filled mapping of kCapacity bytes: pages beyond the reads made so far
// cost nothing, and all of it goes back to the system with the buffer.
class ReadBuffer_USB_Win {
public:
    static constexpr uint32_t kCapacity = 0x80000;

    ReadBuffer_USB_Win();
    ~ReadBuffer_USB_Win();
    ReadBuffer_USB_Win(const ReadBuffer_USB_Win&) = delete;
    ReadBuffer_USB_Win& operator=(const ReadBuffer_USB_Win&) = delete;

    void setHandle(std::shared_ptr<HandleUSB> handle) { handle_ = std::move(handle); }

    // Starts a read of `size` bytes; true when it completed at once.
    bool readAsync(uint32_t size);
    // Completes the pending read, if any; afterwards the valid bytes are those
    // received and the cursor is at the start.
    void waitAsync();
    // True once no read is in flight or the one in flight has finished (then
    // waitAsync returns without waiting); waits at most `ms` for that.
    bool waitForCompletion(uint32_t ms);
    // The same without waiting and without taking the event's lock.
    bool completedNow() const { return !pending_ || !events_->overlapped->pending(); }
    // The event that a finished read sets. Setting it from elsewhere only cuts
    // a waitForCompletion short: every wait checks the transfer itself.
    const std::shared_ptr<platform::usb::Event>& completionEvent() const { return events_->event; }
    // Sets the valid count (growing the storage when needed) and puts the cursor
    // at the start.
    // Beyond kCapacity it throws QVIOException.
    void setSize(uint32_t count);
    void cancel();

    bool pending() const { return pending_; }
    uint32_t valid() const { return valid_; }
    uint32_t cursor() const { return cursor_; }
    void setCursor(uint32_t cursor) { cursor_ = cursor; }
    // Everything parsed: valid count 0, cursor at the start.
    void consumeAll() {
        valid_ = 0;
        cursor_ = 0;
    }
    const uint8_t* data() const { return storage_.get(); }
    uint8_t* data() { return storage_.get(); }
    std::size_t storageSize() const { return storageSize_; }

private:
    ZeroedArray<uint8_t> storage_;
    uint32_t storageSize_ = 0;
    bool pending_ = false;
    uint32_t valid_ = 0;
    uint32_t cursor_ = 0;
    std::shared_ptr<HandleUSB> handle_;
    std::shared_ptr<EventHandlerUSB> events_;
};

// Buffer of the host-to-device pipe: collects up to one chunk of outgoing bytes
// of its own, or writes a block straight from the caller's memory.
class WriteBuffer_USB_Win {
public:
    static constexpr uint32_t kChunkSize = 0x4000;

    WriteBuffer_USB_Win();
    ~WriteBuffer_USB_Win();
    WriteBuffer_USB_Win(const WriteBuffer_USB_Win&) = delete;
    WriteBuffer_USB_Win& operator=(const WriteBuffer_USB_Win&) = delete;

    void setHandle(std::shared_ptr<HandleUSB> handle) { handle_ = std::move(handle); }

    // Start a write of the own bytes, or of `length` bytes of caller memory that
    // must stay valid until the write has completed; true when it completed at once.
    bool writeAsync();
    bool writeAsync(const uint8_t* data, uint32_t length);
    // Completes the pending write, if any.
    void waitAsync();
    // Start and complete: afterwards no transfer is pending.
    void writeAndWait();
    void writeAndWait(const uint8_t* data, uint32_t length);
    void cancel();

    bool pending() const { return pending_; }
    uint32_t size() const { return static_cast<uint32_t>(storage_.size()); }
    bool empty() const { return storage_.empty(); }
    uint32_t room() const { return storage_.size() >= kChunkSize ? 0 : kChunkSize - size(); }
    void append(const uint8_t* data, uint32_t length) { storage_.insert(storage_.end(), data, data + length); }
    void clear() { storage_.clear(); }
    const std::vector<uint8_t>& bytes() const { return storage_; }

private:
    bool start(const uint8_t* data, uint32_t length, bool ownBytes);

    std::vector<uint8_t> storage_;
    bool pending_ = false;
    uint32_t inFlight_ = 0;
    std::shared_ptr<HandleUSB> handle_;
    std::shared_ptr<EventHandlerUSB> events_;
};

}  // namespace detail
}  // namespace tarnix
