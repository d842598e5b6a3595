#pragma once
#include "core/fifo/ZeroedArray.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tarnix {

class StreamFeed;

// One session's read position in a StreamFeed. The session's thread sends
// straight from the feed's memory; the feed's writer never reuses memory that
// a send is reading (it parks its entry instead). A session that falls behind
// by more than the feed holds loses the oldest entries, it alone, counted here.
class StreamFeedReader {
public:
    StreamFeedReader(std::shared_ptr<StreamFeed> feed, uint64_t first, uint32_t protocol);
    StreamFeedReader(const StreamFeedReader&) = delete;
    StreamFeedReader& operator=(const StreamFeedReader&) = delete;

    // Session thread. The next bytes to send, whole entries back to back in
    // memory (at most `limit` bytes unless one entry is longer; never past
    // the end of the memory), or the rest of an entry sent in part before.
    // Pins them: the feed does not reuse their memory until `release`. False
    // when there is nothing to send.
    bool acquire(const uint8_t*& data, uint32_t& length, uint32_t limit);
    // Session thread, after every successful acquire: `sent` bytes went out.
    // The unsent rest of a partly sent entry is kept aside, so that it is sent
    // next even when the feed reuses its memory meanwhile.
    void release(uint32_t sent);
    // True while the client is in the middle of an entry: nothing else may be
    // sent to it before the entry's rest.
    bool midEntry() const { return carryOffset_ < carry_.size(); }

    // Session thread: whether acquire would find something to send.
    bool hasData() const;
    // Entries lost because the session fell behind, also while it could not
    // send at all; taken (reset) by the session when it reports them.
    uint64_t takeLostEntries();
    // Session thread, for a stream of a protocol the session does not speak:
    // moves on to the newest entry, and what it passes over is not lost
    // (nothing is when an entry is half sent: its rest goes first).
    void skipToNewest();

    // The dispatcher ended this reader (unsubscribed, or the stream is gone).
    // The session drops it once no entry is half sent.
    bool detached() const { return detached_.load(std::memory_order_acquire); }
    void detach() { detached_.store(true, std::memory_order_release); }

    const StreamFeed& feed() const { return *feed_; }
    // The protocol (InterfaceType) whose messages the feed holds.
    uint32_t protocol() const { return protocol_; }

private:
    friend class StreamFeed;
    static constexpr uint64_t kNotPinned = ~uint64_t(0);

    // Lets the writer reuse what this reader pinned, and wakes it if it waits.
    void unpin();

    std::shared_ptr<StreamFeed> feed_;
    const uint32_t protocol_;
    // The entry the next send starts with (session thread only).
    uint64_t next_;
    // The first entry of what acquire returned, and one past its last.
    uint64_t acquiredFirst_ = 0;
    uint64_t acquiredEnd_ = 0;
    bool acquiredCarry_ = false;
    // Entries below this one may be reused by the feed's writer; kNotPinned
    // when the session sends nothing from the feed.
    std::atomic<uint64_t> pinned_{kNotPinned};
    std::atomic<bool> detached_{false};
    std::vector<uint8_t> carry_;
    std::size_t carryOffset_ = 0;
    std::atomic<uint64_t> lostEntries_{0};
};

// The encoded messages of one stream for one protocol, written once by the
// dispatcher and read by every subscribed session through its own
// StreamFeedReader. The writer never waits for a slow reader: it reuses the
// oldest entries, and a reader that had not sent them yet loses them. Only
// memory that a session is sending from at this moment (pinned, for one
// non-blocking send) is not reused: an entry that needs it is parked, and
// goes in once the send is over (`appendParked`); the writer may wait for
// that with `waitForReaders`, holding no lock.
//
// Entries are whole protocol messages and never wrap around the end of the
// memory; a reader sends runs of entries that lie back to back in memory with
// one call.
class StreamFeed : public std::enable_shared_from_this<StreamFeed> {
public:
    // `capacity` bytes of entries; at most `slots` entries (a power of two).
    explicit StreamFeed(uint32_t capacity, uint32_t slots = 65536);
    ~StreamFeed();
    StreamFeed(const StreamFeed&) = delete;
    StreamFeed& operator=(const StreamFeed&) = delete;

    // Writer (dispatcher thread only). Appends one entry, or parks it (behind
    // any parked before) while its memory is being sent from; false when it
    // is longer than the feed.
    bool append(const uint8_t* data, uint32_t length);
    // Writer. Appends the parked entries whose memory is free now; true when
    // none is left parked.
    bool appendParked();
    bool parked() const { return !parked_.empty(); }
    // Writer, holding no lock: waits until the first parked entry's memory is
    // free, at most until `deadline`.
    void waitForReaders(std::chrono::steady_clock::time_point deadline);

    // Writer thread. A reader, for sessions speaking `protocol`, that starts
    // with the next entry appended.
    std::shared_ptr<StreamFeedReader> attach(uint32_t protocol = 0);
    // Writer thread. Ends a reader; its session drops it. Never waits: memory
    // the reader is sending from stays unused until its send is over.
    void detach(const std::shared_ptr<StreamFeedReader>& reader);
    void detachAll();
    // Readers attached and not detached.
    std::size_t readerCount() const { return attached_; }

    uint32_t capacity() const { return capacity_; }

private:
    friend class StreamFeedReader;

    struct Entry {
        uint64_t position;  // in the endless byte stream; offset = position % capacity
        uint32_t length;
    };

    const Entry& entry(uint64_t sequence) const { return entries_[sequence & slotMask_]; }
    // Writes one entry unless its memory is pinned; false then.
    bool tryAppend(const uint8_t* data, uint32_t length);
    // Whether a reader sends from an entry below `tail` (readers gone or
    // detached and done are forgotten here).
    bool pinnedBelow(uint64_t tail);

    const uint32_t capacity_;
    const uint32_t slotMask_;
    // Mappings of their own: untouched pages cost nothing, and a feed that
    // ends gives all its memory back.
    ZeroedArray<uint8_t> memory_;
    ZeroedArray<Entry> entries_;
    // Entries [tail, head) are readable. Written by the writer only.
    std::atomic<uint64_t> head_{0};
    std::atomic<uint64_t> tail_{0};
    uint64_t writePosition_ = 0;
    // Readers that may still send from the feed, for the writer's pin checks
    // (writer thread only): attached ones, and detached ones until their
    // last send is over. A reader keeps its feed; the feed only looks at its
    // readers while they exist.
    std::vector<std::weak_ptr<StreamFeedReader>> readers_;
    std::size_t attached_ = 0;
    // Entries waiting for pinned memory, oldest first (writer thread only).
    std::deque<std::vector<uint8_t>> parked_;
    // A writer waits for a reader to unpin.
    std::atomic<bool> writerWaits_{false};
    std::mutex waitMutex_;
    std::condition_variable unpinned_;
};

}  // namespace tarnix
