#include "server/session/SessionOutput.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"

#include <boost/date_time/posix_time/posix_time_duration.hpp>
#include <boost/date_time/posix_time/time_formatters.hpp>
#include <boost/format.hpp>

#include <thread>

namespace tarnix {
namespace {

// The limit printed as a time of day, "00:00:10" for 10 s.
std::string durationText(std::chrono::steady_clock::duration d) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    return boost::posix_time::to_simple_string(boost::posix_time::seconds(long(seconds)));
}

}  // namespace

SessionOutput::SessionOutput(std::shared_ptr<QVFifo> fifo, int socketHandle)
    : fifo_(std::move(fifo)), socketHandle_(socketHandle) {}

uint32_t SessionOutput::freeLocked() const { return fifo_->capacity() - fifo_->used(); }

uint32_t SessionOutput::freeBytes() const {
    LockGuard<Mutex> lock(mutex_);
    return freeLocked();
}

uint32_t SessionOutput::dropCount() const {
    LockGuard<Mutex> lock(mutex_);
    return dropCounter_;
}

bool SessionOutput::hasBacklog() const {
    LockGuard<Mutex> lock(mutex_);
    return !backlog_.empty();
}

bool SessionOutput::copyIn(const uint8_t* data, uint32_t length) {
    FifoWriter writer(*fifo_, length);
    if (!writer.isValid()) return false;
    writer.commit(data, length);
    return true;
}

SessionOutput::Result SessionOutput::writeDroppable(const uint8_t* data, uint32_t length) {
    LockGuard<Mutex> lock(mutex_);
    const uint32_t capacity = fifo_->capacity();
    const uint32_t freeSize = freeLocked();
    const double ratio = freeSize > length ? double(freeSize - length) / capacity : 0.0;
    // Parked important data goes first; a droppable block must not overtake it.
    if (ratio >= kDroppableFreeRatio && backlog_.empty() && !invalid_ && copyIn(data, length)) {
        dropCounter_ = 0;
        return Result::Written;
    }
    const uint32_t old = dropCounter_++;
    if (old % 1000 == 0) {
        QVLOG_LIMITED(logging::warning)
            << (boost::format("Session overflow (%0.2f free (%0.2f if write happens), free size: %lu, block "
                              "length: %lu, warningCounter: %u). ") %
                (double(freeSize) / capacity) % ratio % freeSize % length % old)
                   .str()
            << "Demodulator data or RTK CPU data will be dropped.";
    }
    return Result::Dropped;
}

SessionOutput::Result SessionOutput::writeImportantDeferred(const uint8_t* data, uint32_t length) {
    LockGuard<Mutex> lock(mutex_);
    if (invalid_) return Result::Discarded;
    const uint32_t freeSize = freeLocked();
    if (backlog_.empty() && freeSize >= length && copyIn(data, length)) return Result::Written;
    if (backlog_.empty()) {
        backlogSince_ = Clock::now();
        logFull(freeSize, length);
    }
    // The backlog never holds more than the FIFO itself; a client that lets
    // that much pile up is not going to catch up within the limit.
    if (backlogBytes_ + length > fifo_->capacity()) {
        logGivenUp(freeSize, length, Clock::now() - backlogSince_);
        invalid_ = true;
        backlog_.clear();
        backlogBytes_ = 0;
        return Result::Discarded;
    }
    backlog_.emplace_back(data, data + length);
    backlogBytes_ += length;
    return Result::Deferred;
}

SessionOutput::Result SessionOutput::writeImportantWaiting(const uint8_t* data, uint32_t length,
                                                           const std::function<bool()>& running,
                                                           const std::function<void()>& sendPending) {
    bool foundFull = false;
    Clock::time_point since;
    for (;;) {
        {
            LockGuard<Mutex> lock(mutex_);
            if (invalid_) return Result::Discarded;
            const bool backlogEmpty = drainBacklogLocked();
            const uint32_t freeSize = freeLocked();
            if (backlogEmpty && freeSize >= length && copyIn(data, length)) {
                if (foundFull) logFreed(freeSize, length);
                return Result::Written;
            }
            if (!foundFull) {
                foundFull = true;
                since = Clock::now();
                logFull(freeSize, length);
            } else if (Clock::now() - since >= waitLimit_) {
                logGivenUp(freeSize, length, waitLimit_);
                invalid_ = true;
                backlog_.clear();
                backlogBytes_ = 0;
                return Result::Discarded;
            }
        }
        // The session thread is the FIFO's only reader: waiting without
        // sending would wait for itself.
        if (sendPending) sendPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (running && !running()) return Result::Discarded;
    }
}

bool SessionOutput::pump() {
    LockGuard<Mutex> lock(mutex_);
    if (invalid_) return false;
    if (drainBacklogLocked()) return true;
    if (Clock::now() - backlogSince_ < waitLimit_) return true;
    logGivenUp(freeLocked(), uint32_t(backlog_.front().size()), waitLimit_);
    invalid_ = true;
    backlog_.clear();
    backlogBytes_ = 0;
    return false;
}

bool SessionOutput::drainBacklogLocked() {
    if (backlog_.empty()) return true;
    uint32_t lastLength = 0;
    while (!backlog_.empty()) {
        const std::vector<uint8_t>& block = backlog_.front();
        if (freeLocked() < block.size() || !copyIn(block.data(), uint32_t(block.size()))) {
            // The limit is for data that cannot be written: a client that
            // reads, however slowly, starts the wait of the next block afresh.
            if (lastLength != 0) backlogSince_ = Clock::now();
            return false;
        }
        lastLength = uint32_t(block.size());
        backlogBytes_ -= block.size();
        backlog_.pop_front();
    }
    logFreed(freeLocked(), lastLength);
    return true;
}

void SessionOutput::logFull(uint32_t freeSize, uint32_t length) const {
    QVLOG(logging::status) << boost::format(
                                  "Session write FIFO is full (free size: %lu, block length: %lu), attempt to "
                                  "write important data for the next %s.") %
                                  freeSize % length % durationText(waitLimit_);
}

void SessionOutput::logFreed(uint32_t freeSize, uint32_t length) const {
    QVLOG(logging::status) << boost::format(
                                  "Session write FIFO freed up (free size: %lu, block length: %lu). Continue "
                                  "normal operation.") %
                                  freeSize % length;
}

void SessionOutput::logGivenUp(uint32_t freeSize, uint32_t length, Clock::duration waited) const {
    QVLOG(logging::status) << boost::format(
                                  "Session write FIFO is still full (free size: %lu, block length: %lu), after "
                                  "%s. Session %i considered invalid and will be forcibly terminated.") %
                                  freeSize % length % durationText(waited) % socketHandle_;
}

}  // namespace tarnix
