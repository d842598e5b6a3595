#include "server/dispatcher/StreamFeed.h"

#include <algorithm>
#include <cstring>

namespace tarnix {

StreamFeedReader::StreamFeedReader(std::shared_ptr<StreamFeed> feed, uint64_t first, uint32_t protocol)
    : feed_(std::move(feed)), protocol_(protocol), next_(first) {}

void StreamFeedReader::unpin() {
    pinned_.store(kNotPinned, std::memory_order_seq_cst);
    if (feed_->writerWaits_.load(std::memory_order_seq_cst)) {
        std::lock_guard<std::mutex> lock(feed_->waitMutex_);
        feed_->unpinned_.notify_all();
    }
}

bool StreamFeedReader::hasData() const {
    return midEntry() || (!detached() && next_ < feed_->head_.load(std::memory_order_acquire));
}

bool StreamFeedReader::acquire(const uint8_t*& data, uint32_t& length, uint32_t limit) {
    if (midEntry()) {
        data = carry_.data() + carryOffset_;
        length = uint32_t(carry_.size() - carryOffset_);
        acquiredCarry_ = true;
        return true;
    }
    carry_.clear();
    carryOffset_ = 0;
    const StreamFeed& feed = *feed_;
    uint64_t next = next_;
    // Pin before looking: either the writer sees the pin and waits, or this
    // reader sees the entries the writer is about to reuse as gone.
    for (;;) {
        const uint64_t tail = feed.tail_.load(std::memory_order_seq_cst);
        if (next < tail) {
            lostEntries_.fetch_add(tail - next);
            next = tail;
        }
        pinned_.store(next, std::memory_order_seq_cst);
        if (detached_.load(std::memory_order_seq_cst)) {
            unpin();
            next_ = next;
            return false;
        }
        if (feed.tail_.load(std::memory_order_seq_cst) <= next) break;
    }
    const uint64_t head = feed.head_.load(std::memory_order_acquire);
    next_ = next;
    if (next >= head) {
        unpin();
        return false;
    }
    const StreamFeed::Entry& first = feed.entry(next);
    const uint64_t start = first.position;
    const uint64_t offset = start % feed.capacity_;
    uint64_t total = first.length;
    uint64_t end = next + 1;
    while (end < head) {
        // Entries join only where they lie back to back in memory: the entry
        // after one that ends at the end of the memory starts at its
        // beginning, though its position follows on.
        const StreamFeed::Entry& e = feed.entry(end);
        if (e.position != start + total || offset + total + e.length > feed.capacity_ || total + e.length > limit)
            break;
        total += e.length;
        ++end;
    }
    data = feed.memory_.get() + offset;
    length = uint32_t(total);
    acquiredFirst_ = next;
    acquiredEnd_ = end;
    acquiredCarry_ = false;
    return true;
}

uint64_t StreamFeedReader::takeLostEntries() {
    const uint64_t tail = feed_->tail_.load(std::memory_order_acquire);
    if (next_ < tail) {
        lostEntries_.fetch_add(tail - next_);
        next_ = tail;
    }
    return lostEntries_.exchange(0);
}

void StreamFeedReader::skipToNewest() {
    if (midEntry()) return;
    next_ = std::max(next_, feed_->head_.load(std::memory_order_acquire));
    lostEntries_.store(0);
}

void StreamFeedReader::release(uint32_t sent) {
    if (acquiredCarry_) {
        acquiredCarry_ = false;
        carryOffset_ += sent;
        if (!midEntry()) {
            carry_.clear();
            carryOffset_ = 0;
        }
        return;
    }
    const StreamFeed& feed = *feed_;
    uint64_t sequence = acquiredFirst_;
    uint64_t done = 0;
    while (sequence < acquiredEnd_ && done + feed.entry(sequence).length <= sent) {
        done += feed.entry(sequence).length;
        ++sequence;
    }
    if (sequence < acquiredEnd_ && sent > done) {
        // The client got part of this entry: the rest must follow whatever
        // the writer does with the feed's memory meanwhile.
        const StreamFeed::Entry& e = feed.entry(sequence);
        const uint8_t* begin = feed.memory_.get() + e.position % feed.capacity_ + (sent - done);
        carry_.assign(begin, begin + (e.length - (sent - done)));
        carryOffset_ = 0;
        ++sequence;
    }
    next_ = sequence;
    unpin();
}

StreamFeed::StreamFeed(uint32_t capacity, uint32_t slots)
    : capacity_(capacity),
      slotMask_(slots - 1),
      memory_(capacity),
      entries_(slots) {}

StreamFeed::~StreamFeed() = default;

std::shared_ptr<StreamFeedReader> StreamFeed::attach(uint32_t protocol) {
    // A reader joins at the next entry appended, after the parked ones.
    const uint64_t first = head_.load(std::memory_order_relaxed) + parked_.size();
    auto reader = std::make_shared<StreamFeedReader>(shared_from_this(), first, protocol);
    readers_.push_back(reader);
    ++attached_;
    return reader;
}

void StreamFeed::detach(const std::shared_ptr<StreamFeedReader>& reader) {
    if (reader->detached_.exchange(true, std::memory_order_seq_cst)) return;
    --attached_;
}

void StreamFeed::detachAll() {
    for (const std::weak_ptr<StreamFeedReader>& weak : readers_)
        if (const std::shared_ptr<StreamFeedReader> reader = weak.lock()) detach(reader);
}

bool StreamFeed::pinnedBelow(uint64_t tail) {
    bool pinned = false;
    readers_.erase(std::remove_if(readers_.begin(), readers_.end(),
                                  [&](const std::weak_ptr<StreamFeedReader>& weak) {
                                      // A reader that is gone sends nothing any more.
                                      const std::shared_ptr<StreamFeedReader> reader = weak.lock();
                                      if (!reader) return true;
                                      const uint64_t at = reader->pinned_.load(std::memory_order_seq_cst);
                                      // Once detached and unpinned, it reads the feed no more.
                                      if (at == StreamFeedReader::kNotPinned)
                                          return reader->detached_.load(std::memory_order_seq_cst);
                                      if (at < tail) pinned = true;
                                      return false;
                                  }),
                   readers_.end());
    return pinned;
}

bool StreamFeed::tryAppend(const uint8_t* data, uint32_t length) {
    uint64_t position = writePosition_;
    const uint64_t offset = position % capacity_;
    // An entry never wraps: it starts again at the beginning of the memory.
    if (offset + length > capacity_) position += capacity_ - offset;
    const uint64_t head = head_.load(std::memory_order_relaxed);
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    uint64_t newTail = tail;
    while (newTail < head &&
           (position + length - entry(newTail).position > capacity_ || head - newTail > slotMask_))
        ++newTail;
    // Tail first, pins after: a reader pins before it looks at the tail, so
    // either it sees these entries gone or the writer sees its pin.
    if (newTail != tail) tail_.store(newTail, std::memory_order_seq_cst);
    if (pinnedBelow(newTail)) return false;
    std::memcpy(memory_.get() + position % capacity_, data, length);
    entries_[head & slotMask_] = Entry{position, length};
    writePosition_ = position + length;
    head_.store(head + 1, std::memory_order_release);
    return true;
}

bool StreamFeed::append(const uint8_t* data, uint32_t length) {
    if (length == 0 || length > capacity_) return false;
    if (appendParked() && tryAppend(data, length)) return true;
    parked_.emplace_back(data, data + length);
    return true;
}

bool StreamFeed::appendParked() {
    while (!parked_.empty()) {
        const std::vector<uint8_t>& entry = parked_.front();
        if (!tryAppend(entry.data(), uint32_t(entry.size()))) return false;
        parked_.pop_front();
    }
    return true;
}

void StreamFeed::waitForReaders(std::chrono::steady_clock::time_point deadline) {
    if (parked_.empty()) return;
    // The tail is out already: no reader pins below it anew, so the wait
    // ends at the first unpin that frees the memory.
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    writerWaits_.store(true, std::memory_order_seq_cst);
    {
        std::unique_lock<std::mutex> lock(waitMutex_);
        unpinned_.wait_until(lock, deadline, [&] { return !pinnedBelow(tail); });
    }
    writerWaits_.store(false, std::memory_order_seq_cst);
}

}  // namespace tarnix
