// Device-to-host messages: one large read always in flight while the other
// buffer is parsed.
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"

#include <chrono>

namespace tarnix {
namespace impl {

namespace {

constexpr uint64_t kMicrosPerDay = 86400ull * 1000000ull;

// Microseconds from `start` to `now`, both times of day; a wait that crossed
// midnight is counted across it.
uint64_t elapsedMicros(uint64_t start, uint64_t now) {
    return now >= start ? now - start : now + kMicrosPerDay - start;
}

}  // namespace

uint64_t IOLQ3_USBImpl::timeOfDayMicros() {
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return static_cast<uint64_t>(sinceEpoch.count()) % kMicrosPerDay;
}

void IOLQ3_USBImpl::GiveWayWait::wake() {
    std::lock_guard<std::mutex> lock(mutex);
    if (waitingOn) waitingOn->set();
}

std::function<void()> IOLQ3_USBImpl::giveWayWaker() const {
    const std::shared_ptr<GiveWayWait> wait = giveWayWait_;
    return [wait] { wait->wake(); };
}

bool IOLQ3_USBImpl::waitToGiveWay(const std::function<bool()>& giveWay) {
    detail::ReadBuffer_USB_Win& read = interface_.otherRead();
    {
        std::lock_guard<std::mutex> lock(giveWayWait_->mutex);
        giveWayWait_->waitingOn = read.completionEvent();
    }
    // Wakes after the first question cannot be missed: they set the event
    // that the wait below looks at.
    bool gaveWay = false;
    bool completed = read.waitForCompletion(0);
    if (!completed && giveWaySpin_.start(giveWayLook_)) {
        while (!(gaveWay = giveWay()) && !(completed = read.completedNow()) && giveWaySpin_.next()) {
        }
    }
    while (!completed && !gaveWay && !(gaveWay = giveWay())) completed = read.waitForCompletion(giveWayCheckMs_);
    std::lock_guard<std::mutex> lock(giveWayWait_->mutex);
    giveWayWait_->waitingOn.reset();
    return gaveWay;
}

void IOLQ3_USBImpl::poll(uint32_t* address, uint32_t* length, uint8_t* destination, uint32_t destinationSize,
                         uint32_t timeoutMs, uint64_t startMicros, const std::function<bool()>& giveWay) {
    if (timeoutMs != interface_.readTimeout()) interface_.setReadTimeout(timeoutMs);
    const auto answer = [&](uint32_t messageAddress, uint64_t messageLength) {
        if (address) *address = messageAddress;
        if (length) *length = static_cast<uint32_t>(messageLength);
    };

    uint64_t total = 0;
    uint32_t messageAddress = 0;
    uint64_t noted = engine_.messagesCompleted();
    for (;;) {
        if (engine_.messagesCompleted() != noted) {
            noted = engine_.messagesCompleted();
            const uint32_t lengthWord = engine_.lengthWord();
            const uint32_t payload = lengthWord & ~3u;
            if (total == 0) {
                if (!(lengthWord & StateEngineRD_USB::kHeaderOnlyBit)) {
                    messageAddress = engine_.address();
                    total += payload;
                }
            } else {
                total += payload;
            }
            if (lengthWord & StateEngineRD_USB::kContinuesBit) continue;
            if (destination && total > destinationSize) {
                // Its tail was never stored: drop the whole message.
                engine_.countSkipped("message longer than the destination buffer");
                total = 0;
                messageAddress = 0;
                continue;
            }
            answer(messageAddress, total);
            return;
        }
        if (interface_.currentRead().valid() == 0) {
            // Between messages, waiting client requests need not wait for the
            // instrument's next transfer.
            if (giveWay && total == 0 && engine_.state() == StateEngineRD_USB::kSyncSearch &&
                waitToGiveWay(giveWay)) {
                answer(0, 0);
                return;
            }
            try {
                interface_.otherRead().waitAsync();
                interface_.swapReadBuffers();
                interface_.otherRead().readAsync(detail::ReadBuffer_USB_Win::kCapacity);
            } catch (const QVIOTimeoutException& e) {
                QVLOG_LIMITED(logging::info) << "Detected a timeout in poll. " << e.what();
                answer(0, 0);
                return;
            }
        }
        engine_.process(interface_.currentRead(), destination, destinationSize, static_cast<uint32_t>(total));
        if (total == 0 && engine_.state() == StateEngineRD_USB::kSyncSearch &&
            engine_.messagesCompleted() == noted && timeoutMs != 0 &&
            elapsedMicros(startMicros, timeOfDayMicros()) >= uint64_t(timeoutMs) * 1000) {
            answer(0, 0);
            return;
        }
    }
}

}  // namespace impl
}  // namespace tarnix
