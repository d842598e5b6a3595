#include "server/dispatcher/StreamFeed.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace tarnix {

StreamFeedReader::StreamFeedReader(std::shared_ptr<StreamFeed> feed, uint64_t first)
    : feed_(std::move(feed)), next_(first) {}

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
            pinned_.store(kNotPinned, std::memory_order_release);
            next_ = next;
            return false;
        }
        if (feed.tail_.load(std::memory_order_seq_cst) <= next) break;
    }
    const uint64_t head = feed.head_.load(std::memory_order_acquire);
    next_ = next;
    if (next >= head) {
        pinned_.store(kNotPinned, std::memory_order_release);
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
    pinned_.store(kNotPinned, std::memory_order_release);
}

StreamFeed::StreamFeed(uint32_t capacity, uint32_t slots)
    : capacity_(capacity),
      slotMask_(slots - 1),
      memory_(capacity),
      entries_(slots) {}

StreamFeed::~StreamFeed() = default;

std::shared_ptr<StreamFeedReader> StreamFeed::attach() {
    auto reader = std::make_shared<StreamFeedReader>(shared_from_this(), head_.load(std::memory_order_relaxed));
    readers_.push_back(reader);
    return reader;
}

void StreamFeed::detach(const std::shared_ptr<StreamFeedReader>& reader) {
    reader->detached_.store(true, std::memory_order_seq_cst);
    while (reader->pinned_.load(std::memory_order_seq_cst) != StreamFeedReader::kNotPinned) std::this_thread::yield();
    readers_.erase(std::remove_if(readers_.begin(), readers_.end(),
                                  [&](const std::weak_ptr<StreamFeedReader>& r) {
                                      const std::shared_ptr<StreamFeedReader> held = r.lock();
                                      return !held || held == reader;
                                  }),
                   readers_.end());
}

void StreamFeed::detachAll() {
    while (!readers_.empty()) {
        const std::shared_ptr<StreamFeedReader> reader = readers_.back().lock();
        if (reader)
            detach(reader);
        else
            readers_.pop_back();
    }
}

void StreamFeed::retireBelow(uint64_t tail) {
    tail_.store(tail, std::memory_order_seq_cst);
    for (const std::weak_ptr<StreamFeedReader>& weak : readers_) {
        // A reader that is gone sends nothing any more.
        const std::shared_ptr<StreamFeedReader> reader = weak.lock();
        if (!reader) continue;
        for (;;) {
            const uint64_t pinned = reader->pinned_.load(std::memory_order_seq_cst);
            if (pinned == StreamFeedReader::kNotPinned || pinned >= tail) break;
            // The session is in the middle of one non-blocking send.
            std::this_thread::yield();
        }
    }
}

bool StreamFeed::append(const uint8_t* data, uint32_t length) {
    if (length == 0 || length > capacity_) return false;
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
    if (newTail != tail) retireBelow(newTail);
    std::memcpy(memory_.get() + position % capacity_, data, length);
    entries_[head & slotMask_] = Entry{position, length};
    writePosition_ = position + length;
    head_.store(head + 1, std::memory_order_release);
    return true;
}

}  // namespace tarnix
