// One pass of the device loop: client requests in, changed registers out,
// device messages in, statistics, and the check that the instrument still
// answers.
#include "core/ClientNumbers.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/QVException.h"
#include "core/fifo/QVFifo.h"
#include "core/ValueRecord.h"
#include "core/tree/DirectReplies.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/TreeRegistry.h"
#include "engine/DeviceState.h"
#include "engine/FeatureBootstrap.h"
#include "engine/MessageHandling.h"
#include "link/DeviceEncFX2Impl.h"
#include "link/IOLQ3_USBImpl.h"

#include <boost/format.hpp>
#include <thread>

#include <algorithm>

namespace tarnix {
namespace impl {

namespace {

void pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(std::chrono::milliseconds(duration.count()));
}

}  // namespace

void DeviceEncFX2Impl::pass() {
    if (pulledOut_.load()) QV_THROW(QVDeviceException("The instrument was pulled out."));
    restartAfterBadMessage();
    takeRequests();
    if (DeviceStateSendChanges(*this) != QV_NO_ERROR) {
        QVLOG_LIMITED(logging::error) << "Can't send changes to the device.";
    }
    flush();
    wakeDispatcher();

    bool gaveWay = false;
    const uint32_t messages = readMessages(gaveWay);
    // Buffers that need draining at once, or new samples in them.
    if (streamsFull_)
        registry_.wakeSignal().notify();
    else if (messages != 0)
        registry_.wakeSignal().notifyStreamData();
    wakeDispatcher();
    msgCountWindow_.add(messages);
    pollCountWindow_.add(1);
    const Clock::time_point now = Clock::now();
    DeviceStateSetCurrentTime(*this, now);
    if (now - fastStatsTime_ > timing_.fastStatsPeriod) {
        reportFastStats();
        fastStatsTime_ = now;
    }
    if (now - slowStatsTime_ > timing_.slowStatsPeriod) {
        reportSlowStats();
        slowStatsTime_ = now;
    }
    // A read phase cut short for client requests says nothing about whether
    // the instrument still answers.
    if (messages != 0 || !gaveWay) checkAlive(messages);
    // Timers and statistics may have answered or pushed values too.
    wakeDispatcher();
    // The instrument keeps its data while the dispatcher makes room.
    if (streamsFull_ && messages == 0) pause(timing_.streamsFullPause);
}

bool DeviceEncFX2Impl::streamsHaveRoom() {
    const uint64_t perMessage = 2ull * largestMessage_;
    if (streamRoom_ >= perMessage) return true;
    const uint64_t probe = std::min<uint64_t>(std::max<uint64_t>(kStreamRoomProbe, 4 * perMessage), kStreamRoomProbeMax);
    if (!DeviceStateStreamsHaveRoom(*this, uint32_t(probe))) return false;
    streamRoom_ = probe;
    return true;
}

void DeviceEncFX2Impl::wakeDispatcher() {
    // Replies and changes need not wait for the dispatcher's idle rest.
    if (outputFifo_->used() != 0) registry_.wakeSignal().notify();
}

void DeviceEncFX2Impl::restartAfterBadMessage() {
    if (!gotBadMsg_.load()) return;
    DeviceStateBootstrapRestart(*this);
    gotBadMsg_.store(false);
}

// Only this thread changes the device's tree, so it reads the endpoint table
// without the subscription mutex that every change holds: the analysis knows
// no "written only by this thread" rule.
const Endpoint* DeviceEncFX2Impl::ownEndpoint(uint32_t id) QV_NO_THREAD_SAFETY_ANALYSIS {
    const std::shared_ptr<DispatcherTree>& tree = stateOf(*this).tree;
    return tree ? DispatcherTreeFindEndpoint(*tree, int32_t(id)).get() : nullptr;
}

bool DeviceEncFX2Impl::canQueueAnswers() {
    const unsigned used = outputFifo_->used();
    if (used >= kAnswerBacklog || used + kAnswerRoomBlocks > outputFifo_->capacity()) return false;
    FifoWriter probe(*outputFifo_, kAnswerRoomBytes);
    return probe.isValid();
}

// While the instrument's groups are built, they ask it for its settings, and
// until those answers have arrived the node images hold placeholders. A client
// request taken in between would act on a placeholder, and a write would be
// answered and then overwritten by the older value that the instrument reports
// for the read sent before it (a write acknowledged and lost). So client
// requests wait in their queue, in order, until every start-up value is in;
// that takes a pass or two. An answer that never comes costs them at most
// kStartUpHoldLimit.
bool DeviceEncFX2Impl::requestsOnHold() {
    if (!DeviceStateAwaitsInitialValues(*this)) {
        holdSince_.reset();
        return false;
    }
    const Clock::time_point now = Clock::now();
    if (!holdSince_) holdSince_ = now;
    return now - *holdSince_ < kStartUpHoldLimit;
}

bool DeviceEncFX2Impl::requestReady() {
    return requestFifo_->used() != 0 && !requestsOnHold() &&
           requestGate_->answerRoom([this] { return canQueueAnswers(); });
}

void DeviceEncFX2Impl::takeRequests() {
    if (requestsOnHold()) return;
    for (uint32_t count = 0; count < kMaxRequestsPerPass; ++count) {
        // A request waits at the gate while its answer could not be queued:
        // taken, it would be answered into a full FIFO and lost, or queue
        // behind a long backlog. The dispatcher wakes the poll when it has
        // made room.
        if (!requestGate_->answerRoom([this] { return canQueueAnswers(); })) return;
        QVFifo::DataAccessor<QVFifo::ReaderPolicy> request(requestFifo_, 0);
        if (!request.isValid()) return;
        ValueRecordHeader header;
        if (request.length() >= kValueRecordHeaderSize) header = getValueRecordHeader(request.data());
        QV_STATUS status = QV_NO_ERROR;
        bool replied = false;
        {
            // A reply goes straight to its session when nothing queued before
            // it could be overtaken: the dispatcher has delivered everything.
            DirectReplyCapture capture(header.sequenceTag, header.sessionTag, outputFifo_->used() == 0);
            status = DeviceStateMsgHandler(*this, request.data(), request.length());
            replied = capture.replied();
            if (capture.captured()) {
                const bool delivered =
                    outputFifo_->used() == 0 && capture.deliver(registry_, ownEndpoint(header.endpointId));
                if (!delivered) capture.queue(*outputFifo_);
            }
        }
        if (status != QV_NO_ERROR) {
            // A refused client value is the client's mistake, logged where it was refused.
            if (status != kRefusedValueStatus)
                QVLOG_LIMITED(logging::error) << boost::format("Error in DeviceStateMsgHandler, MessageCount=%u") % count;
            // The client was told a value would come: tell it none will. With the
            // output FIFO full, its own timeout ends its wait instead.
            if (!replied)
                ReturnParamRequestFailed(*outputFifo_, header.sequenceTag, header.sessionTag, header.endpointId, status)
                    .ignore();
        }
        // Consumed whatever the handler said: a bad request must not block the queue.
        request.commitAll();
        requestGate_->taken(header.sessionTag);
        requestTakenAt_ = Clock::now();
    }
}

uint32_t DeviceEncFX2Impl::readMessages(bool& gaveWay) {
    uint32_t count = 0;
    const uint64_t start = IOLQ3_USBImpl::timeOfDayMicros();
    // While client requests wait, the read phase does not wait for the
    // instrument's next message: a request posted to the device's tree wakes
    // the poll (see requestSignal), so it is served at once, not after the
    // whole poll time-out. The same holds for what a message handler queued
    // for the instrument (the next step of the feature-list discovery, say),
    // and for what it marked to be sent (the start-up reads of the groups it
    // built): the instrument answers those at once.
    const std::function<bool()> requestsWaiting = [this, &gaveWay] {
        gaveWay = requestReady() || !usb_->writeQueueEmpty() || DeviceStateHasChangesToSend(*this) || !isRunning() ||
                  pulledOut_.load();
        return gaveWay;
    };
    streamsFull_ = false;
    // A client asking in a loop posts its next request right after its answer.
    usb_->setGiveWaySpin(Clock::now() - requestTakenAt_ < kAskingGap ? kRequestSpin : std::chrono::microseconds(0));
    // Held for the whole read phase, not per message: taking a mutex is a
    // full barrier, which would wait for every sample's stores to settle.
    std::lock_guard<std::mutex> lock(messageBufferMutex_);
    do {
        // Nothing is read that the stream buffers could not take: push back
        // on the instrument rather than lose what was read.
        if (!streamsHaveRoom()) {
            streamsFull_ = true;
            gaveWay = true;
            break;
        }
        uint32_t address = 0;
        uint32_t length = 0;
        usb_->poll(&address, &length, messageBuffer_.get(), kMessageBufferSize, timing_.pollTimeoutMs, start,
                   requestsWaiting);
        if (length == 0) break;
        ++count;
        streamRoom_ -= std::min<uint64_t>(streamRoom_, 2ull * length);
        if (length > largestMessage_) largestMessage_ = length;
        if (address >= kInvalidAddress) {
            QVLOG_LIMITED(logging::error) << boost::format("Got invalid address 0x%08x.") % address;
            QVLOG_LIMITED(logging::status) << "Resetting FX2 controller.";
            gotBadMsg_.store(true);
            break;
        }
        dispatchMessage(address, length, count);
    } while (count < kMaxMessagesPerPass && (requestFifo_->used() == 0 || count < kMessagesBeforeRequests));
    return count;
}

void DeviceEncFX2Impl::dispatchMessage(uint32_t address, uint32_t length, uint32_t count) {
    const QV_STATUS status = DeviceStateHandleData(*this, address, length, messageBuffer_.get());
    if (status == QV_OVERFLOW) {
        QVLOG_LIMITED(logging::error) << boost::format(
                                     "Can't handle data -> throttle device loop, Address=%08x, Length=%u "
                                     "(MessageCount=%u)") %
                                     address % length % count;
        pause(timing_.overflowPause);
    } else if (status != QV_NO_ERROR) {
        QVLOG_LIMITED(logging::error) << boost::format(
                                     "Can't handle data, handlerStatus=%04x, Address=%08x, Length=%u "
                                     "(MessageCount=%u)") %
                                     status.code() % address % length % count;
    }
}

void DeviceEncFX2Impl::reportCounter(int statsValue, uint64_t counter, std::atomic<uint64_t>& last) {
    if (counter == last.load()) return;
    // A report dropped for a full output FIFO is made again at the next tick.
    if (DeviceStateSetStats(*this, statsValue, static_cast<double>(counter))) last.store(counter);
}

void DeviceEncFX2Impl::reportFastStats() {
    reportCounter(STATS_BYTES_SENT, usb_->bytesSent(), lastBytesSent_);
    reportCounter(STATS_BYTES_RECEIVED, usb_->readEngine().bytesConsumed(), lastBytesReceived_);
    msgSkipped_.store(usb_->readEngine().messagesSkipped());
    msgCountWindow_.advance();
    pollCountWindow_.advance();
    DeviceStateSetStats(*this, STATS_MEAN_MSG_COUNT, msgCountWindow_.sum());
    DeviceStateSetStats(*this, STATS_MEAN_POLL_COUNT, pollCountWindow_.sum());
}

void DeviceEncFX2Impl::reportSlowStats() {
    std::vector<uint16_t> words(6);
    usb_->readRegister(kSupplyRegister, words);
    static const int supplies[] = {STATS_SUPPLY_1V2, STATS_SUPPLY_1V8, STATS_SUPPLY_2V5, STATS_SUPPLY_3V3,
                                   STATS_SUPPLY_5V0};
    for (std::size_t i = 0; i < 5; ++i) DeviceStateSetStats(*this, supplies[i], words[i] * 0.001);
    DeviceStateSetStats(*this, STATS_TEMPERATURE, words[5]);
}

void DeviceEncFX2Impl::checkAlive(uint32_t messages) {
    const uint32_t alive = aliveCounter_.load();
    if (messages > 0) {
        if (alive > 0) aliveCounter_.store(alive - 1);
        return;
    }
    if (alive > kAliveLimit) {
        QVLOG(logging::error) << "Warning: Clearing bulk pipes ... (" << alive << ")";
        aliveCounter_.store(0);
        clearPipesAndFail();
    }
    QVLOG(logging::error) << "Warning: Incrementing aliveCounter_i ...";
    aliveCounter_.store(alive + 1);
    pause(timing_.emptyPassPause);
}

}  // namespace impl
}  // namespace tarnix
