// The device object's start step and passes, driven on the test thread
// against a scripted instrument.
#include "DeviceTestSupport.h"
#include "core/LogRateLimit.h"
#include "core/ValueRecord.h"
#include "core/tree/DirectReplies.h"
#include "core/tree/TreeTestSupport.h"
#include "core/component/ExceptionCarrier.h"
#include "core/fifo/QVFifo.h"
#include "engine/DeviceState.h"
#include "groups/FeatureInitMapBuild.h"
#include "link/DeviceEncFX2.h"
#include "link/DeviceEncFX2Impl.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using platform::usb::FakeDevice;
using Reply = FakeDevice::Reply;
using Completion = FakeDevice::Completion;

constexpr uint32_t kSerial = 0x01020304;  // what the scripted controller reports
constexpr uint32_t kApertureAddress = 0x08020000;

// The scripted instrument answers every read at once: with a transfer, or
// with the time-out reply that ends a poll. So the loop's own wait for the
// next message must never decide what a poll reads; at 1 ms a poll that ran
// late on a busy machine gave up before the read it was meant to end, and
// the next pass read that one instead of its transfer.
constexpr uint32_t kPollTimeoutMs = 60000;

DeviceLoopTiming fastTiming() {
    DeviceLoopTiming timing;
    timing.pollTimeoutMs = kPollTimeoutMs;
    timing.emptyPassPause = std::chrono::milliseconds(0);
    timing.overflowPause = std::chrono::milliseconds(0);
    // Statistics come only where a test sets their period: a tick that came
    // because a pass ran late on a busy machine would put records in the
    // output FIFO that the test counts, and read registers it did not script.
    timing.fastStatsPeriod = std::chrono::hours(24);
    timing.slowStatsPeriod = std::chrono::hours(24);
    return timing;
}

class DeviceLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        instrument = &bus.plug("/fake/lq3", kSerial);
        device = std::make_shared<DeviceEncFX2>(carrier, registry, instrument->id, bus.backend, FeatureInitMap());
        impl().setLoopTimingForTest(fastTiming());
    }
    void TearDown() override {
        device.reset();
        EXPECT_FALSE(deviceTreeExists(registry, kSerial)) << "the device object's tree outlived it";
    }

    impl::DeviceEncFX2Impl& impl() { return device->impl(); }
    DeviceState& state() { return stateOf(impl()); }
    // A design that sends data on its own: the start step does not program.
    void startWithDesignRunning() {
        deliver(messageRun(0x1000, 1));
        impl().pre();
        // The read that the start step left in flight ends empty; from here on
        // each delivered transfer is read by the next pass.
        impl().usb().poll(nullptr, nullptr, nullptr, 0, kPollTimeoutMs, impl::IOLQ3_USBImpl::timeOfDayMicros());
        instrument->device->clearRecords();
    }
    void deliver(const std::vector<uint8_t>& transfer) {
        instrument->device->pushRead(Reply{0, Completion::pending, transfer});
    }
    uint64_t messagesRead() const { return device->impl().usb().readEngine().messagesCompleted(); }
    void postRequests(uint32_t count) {
        const uint8_t tooShort[4] = {1, 2, 3, 4};
        for (uint32_t i = 0; i < count; ++i) {
            QVFifo::DataAccessor<QVFifo::WriterPolicy> request(impl().requestFifo(), sizeof tooShort);
            ASSERT_TRUE(request.isValid());
            request.commit(tooShort, sizeof tooShort);
        }
    }
    double stat(StatsValue value) {
        EPNodePtr ep = DeviceStateEPNodesFind(state().epNodes, state().statsEPIds[value]);
        return ep ? le::getDouble(ep->value.data()) : -1.0;
    }
    // Read requests of `length` bytes at `address` that went down the pipe.
    std::size_t readRequestsSent(uint32_t address, uint32_t length) {
        const std::vector<uint8_t> wire = instrument->device->written();
        std::size_t found = 0;
        for (std::size_t i = 0; i + 12 <= wire.size(); ++i) {
            if (le::get16(&wire[i]) == 0x5A47 && le::get32(&wire[i + 4]) == length &&
                le::get32(&wire[i + 8]) == address)
                ++found;
        }
        return found;
    }

    FakeBus bus;
    FakeInstrument* instrument = nullptr;
    TreeRegistry registry;
    exception::ExceptionCarrier carrier;
    std::shared_ptr<DeviceEncFX2> device;
};

TEST_F(DeviceLoopTest, TheStartStepReadsTheSerialMakesTheTreeAndKeepsARunningDesign) {
    test::LogCapture log;
    startWithDesignRunning();
    EXPECT_EQ(impl().serial(), kSerial);
    EXPECT_TRUE(deviceTreeExists(registry, kSerial));
    EXPECT_FALSE(impl().programmed());
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Idle);
    EXPECT_TRUE(log.contains("Firmware Version: 2.5."));
    EXPECT_TRUE(log.contains("Got QVSerial: 16909060"));
    EXPECT_TRUE(messagesStartingWith(log, "Serial number mismatch").empty());
}

TEST_F(DeviceLoopTest, AnFpgaWithoutDesignOrWithProgAlwaysIsProgrammed) {
    for (bool progAlways : {false, true}) {
        SCOPED_TRACE(progAlways);
        device.reset();
        device = std::make_shared<DeviceEncFX2>(carrier, registry, instrument->id, bus.backend, FeatureInitMap());
        if (progAlways) deliver(messageRun(0x1000, 1));
        device->setProgAlways(progAlways);
        impl().pre();
        EXPECT_TRUE(impl().programmed());
        EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::FpgaConfigured);
    }
}

TEST_F(DeviceLoopTest, DifferingSerialSourcesAreReportedAsAWarning) {
    FakeInstrument& other = bus.plug("/fake/other", 77);
    device.reset();
    device = std::make_shared<DeviceEncFX2>(carrier, registry, other.id, bus.backend, FeatureInitMap());
    other.device->pushRead(Reply{0, Completion::pending, messageRun(0x1000, 1)});
    test::LogCapture log;
    impl().pre();
    const auto warnings = messagesStartingWith(log, "Serial number mismatch");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("16909060"), std::string::npos);
    EXPECT_NE(warnings[0].find(" 77."), std::string::npos);
}

TEST_F(DeviceLoopTest, RequestsAreTakenFiftyAPassAndAFailingOneDoesNotStopTheRest) {
    startWithDesignRunning();
    postRequests(60);
    test::LogCapture log;
    impl().run();
    EXPECT_EQ(impl().requestFifo()->used(), 10u);
    // Each failing request is counted in the log until the line's rate limit
    // holds the rest back.
    auto errors = messagesStartingWith(log, "Error in DeviceStateMsgHandler, MessageCount=");
    ASSERT_EQ(errors.size(), size_t(logging::RateLimit::kLinesPerWindow));
    EXPECT_EQ(errors.front(), "Error in DeviceStateMsgHandler, MessageCount=0");
    EXPECT_EQ(errors.back(), "Error in DeviceStateMsgHandler, MessageCount=4");
    impl().run();
    EXPECT_EQ(impl().requestFifo()->used(), 0u);
}

TEST_F(DeviceLoopTest, AReplyGoesStraightToItsSessionOnlyWhenNothingQueuedCouldBeOvertaken) {
    startWithDesignRunning();
    const std::shared_ptr<QVFifo> output = impl().outputFifo();
    test::drainRecords(*output);
    std::vector<uint16_t> delivered;
    registry.setDirectReplyDeliverer([&](const Endpoint& endpoint, const uint8_t* record, uint32_t) {
        EXPECT_EQ(endpoint.id, state().statsEPIds[STATS_BYTES_SENT]);
        delivered.push_back(getValueRecordHeader(record).sequenceTag);
        return true;
    });
    const auto postGet = [&](uint16_t sequence) {
        uint8_t record[kValueRecordHeaderSize];
        ValueRecordHeader h;
        h.sequenceTag = sequence;
        h.sessionTag = 77;
        h.endpointId = uint32_t(state().statsEPIds[STATS_BYTES_SENT]);
        h.kind = DATATYPE_GETVALUE;
        putValueRecordHeader(record, h);
        QVFifo::DataAccessor<QVFifo::WriterPolicy> request(impl().requestFifo(), sizeof record);
        ASSERT_TRUE(request.isValid());
        request.commit(record, sizeof record);
    };
    postGet(1);
    impl().run();
    EXPECT_EQ(delivered, std::vector<uint16_t>{1});
    EXPECT_EQ(output->used(), 0u);

    // Behind a record that the dispatcher has not delivered yet, the reply
    // queues up after it.
    ASSERT_EQ(ReturnParamValueInteger(*output, 0, kUnsolicitedSessionTag, 0, VALUE_FLAG_CHANGED, 5), QV_NO_ERROR);
    postGet(2);
    impl().run();
    registry.setDirectReplyDeliverer(nullptr);
    EXPECT_EQ(delivered, std::vector<uint16_t>{1});
    const auto queued = test::drainRecords(*output);
    ASSERT_GE(queued.size(), 2u);
    EXPECT_EQ(getValueRecordHeader(queued[0].data()).sessionTag, kUnsolicitedSessionTag);
    bool replyQueued = false;
    for (const auto& r : queued) replyQueued = replyQueued || getValueRecordHeader(r.data()).sequenceTag == 2;
    EXPECT_TRUE(replyQueued);
}

TEST_F(DeviceLoopTest, ARequestWithoutAnswerIsAnsweredAsFailedAndWaitsWhileTheOutputFifoIsFull) {
    startWithDesignRunning();
    const std::shared_ptr<QVFifo> output = impl().outputFifo();
    test::drainRecords(*output);
    const auto postGet = [&](uint16_t sequence) {
        uint8_t record[kValueRecordHeaderSize];
        ValueRecordHeader h;
        h.sequenceTag = sequence;
        h.sessionTag = 77;
        h.endpointId = 999999;  // no such endpoint
        h.kind = DATATYPE_GETVALUE;
        putValueRecordHeader(record, h);
        QVFifo::DataAccessor<QVFifo::WriterPolicy> request(impl().requestFifo(), sizeof record);
        ASSERT_TRUE(request.isValid());
        request.commit(record, sizeof record);
    };
    postGet(5);
    impl().run();
    auto answers = test::drainRecords(*output);
    ASSERT_EQ(answers.size(), 1u);
    const ValueRecordHeader failed = getValueRecordHeader(answers[0].data());
    EXPECT_EQ(failed.kind, DATATYPE_REQUEST_FAILED);
    EXPECT_EQ(failed.sequenceTag, 5);
    EXPECT_EQ(failed.sessionTag, 77);

    // With no room for its answer the request stays queued, and is answered
    // once room is made.
    for (;;) {
        QVFifo::DataAccessor<QVFifo::WriterPolicy> filler(output, 4096);
        if (!filler.isValid()) break;
        filler.commitAll();
    }
    postGet(6);
    impl().run();
    EXPECT_EQ(impl().requestFifo()->used(), 1u);
    output->reset();
    impl().run();
    EXPECT_EQ(impl().requestFifo()->used(), 0u);
    answers = test::drainRecords(*output);
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(getValueRecordHeader(answers[0].data()).sequenceTag, 6);
}

TEST_F(DeviceLoopTest, ClientRequestsWaitForTheStartUpValuesAndForOneThatNeverComesOnlyAWhile) {
    startWithDesignRunning();
    // A start-up value that was asked for; its answer is still on its way.
    const int32_t id = state().statsEPIds[STATS_BYTES_SENT];
    EPNodePtr ep = DeviceStateEPNodesFind(state().epNodes, id);
    ASSERT_TRUE(ep);
    ep->requestData = [](DeviceAccess&, const EPNodePtr&, uint32_t) { return QV_STATUS(QV_NO_ERROR); };
    const std::shared_ptr<QVFifo> output = impl().outputFifo();
    const auto pass = [&] {
        deliver(messageRun(0x1000, 1));  // an instrument that answers, so that it counts as alive
        impl().run();
        // Nobody dispatches here: answers left in the output would hold the
        // requests back once they fill the owner's answer window.
        output->reset();
    };
    ASSERT_EQ(DeviceStateRequestEP(impl(), id), QV_NO_ERROR);
    postRequests(3);
    pass();
    pass();
    EXPECT_EQ(impl().requestFifo()->used(), 3u) << "taken before the start-up values were in";
    ASSERT_EQ(DeviceStateClearAwaiting(impl(), id), QV_NO_ERROR);
    pass();
    EXPECT_EQ(impl().requestFifo()->used(), 0u);

    ASSERT_EQ(DeviceStateRequestEP(impl(), id), QV_NO_ERROR);
    const auto start = std::chrono::steady_clock::now();
    pass();
    postRequests(3);
    EXPECT_TRUE(test::waitUntil(
        [&] {
            pass();
            return impl().requestFifo()->used() == 0;
        },
        impl::DeviceEncFX2Impl::kStartUpHoldLimit + std::chrono::seconds(5)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, impl::DeviceEncFX2Impl::kStartUpHoldLimit);
    EXPECT_TRUE(DeviceStateAwaitsInitialValues(impl()));
}

TEST_F(DeviceLoopTest, TheReadPhaseTakes500MessagesOrGivesWayToWaitingRequestsAfter50) {
    startWithDesignRunning();
    deliver(messageRun(0x2000, 600));
    uint64_t before = messagesRead();
    impl().run();
    EXPECT_EQ(messagesRead() - before, 500u);

    postRequests(51);  // one still waits during the read phase
    before = messagesRead();
    impl().run();
    EXPECT_EQ(messagesRead() - before, 50u);
    before = messagesRead();
    impl().run();
    EXPECT_EQ(messagesRead() - before, 50u);
}

TEST_F(DeviceLoopTest, AFeatureListStepEndsTheReadPhaseAtOnceSoThatItsRequestGoesOut) {
    startWithDesignRunning();
    DeviceLoopTiming timing = fastTiming();
    timing.pollTimeoutMs = 5000;
    impl().setLoopTimingForTest(timing);
    // The aperture header: the tag, then the length of the list behind it.
    std::vector<uint8_t> header{'F', 'E', 'A', 'T', 'U', 'R', 'E', ' ', 0, 0, 0, 0};
    le::put32(&header[8], 100);
    std::vector<uint8_t> transfer = deviceMessage(kApertureAddress, header, 1);
    append(transfer, {0, 0});
    deliver(transfer);
    // After it the instrument stays quiet: reads end only when cancelled.
    instrument->device->setReadDefault(Reply{platform::usb::kErrorSemaphoreTimeout, Completion::never, {}});
    std::promise<void> passDone;
    std::future<void> passEnded = passDone.get_future();
    std::thread pass([&] {
        impl().run();
        passDone.set_value();
    });
    const bool endedEarly = passEnded.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    // Otherwise the reads are ended here; a pass that does not end even then
    // is reported before the join below waits for it.
    EXPECT_TRUE(test::waitUntil(
        [&] {
            if (passEnded.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready) return true;
            instrument->device->completeRunning(platform::usb::kErrorSemaphoreTimeout, 0);
            return false;
        },
        std::chrono::seconds(30)))
        << "the pass did not end with its reads cancelled";
    pass.join();
    EXPECT_TRUE(endedEarly) << "the read phase waited for the instrument";
    EXPECT_EQ(messagesRead(), 2u);
    EXPECT_EQ(readRequestsSent(kApertureAddress, 12), 1u);
    impl().flush();
    EXPECT_EQ(readRequestsSent(kApertureAddress, 112), 1u) << "the whole list is asked for next";
}

TEST_F(DeviceLoopTest, AnInvalidAddressEndsTheReadPhaseAndTheNextPassFetchesTheFeatureListAgain) {
    startWithDesignRunning();
    std::vector<uint8_t> transfer = deviceMessage(0x2000, pattern(4, 1), 1);
    append(transfer, deviceMessage(0x14000000, pattern(4, 2), 2));
    append(transfer, deviceMessage(0x13FFFFFC, pattern(4, 3), 3));
    append(transfer, {0, 0});
    deliver(transfer);
    test::LogCapture log;
    impl().run();
    EXPECT_TRUE(impl().gotBadMessage());
    EXPECT_EQ(messagesRead(), 1u + 2u) << "the read phase goes on after the invalid message";
    EXPECT_TRUE(log.contains("Got invalid address 0x14000000."));
    EXPECT_TRUE(log.contains("Resetting FX2 controller."));
    EXPECT_EQ(readRequestsSent(kApertureAddress, 12), 1u);

    impl().run();
    EXPECT_FALSE(impl().gotBadMessage());
    EXPECT_EQ(readRequestsSent(kApertureAddress, 12), 2u);
    EXPECT_EQ(messagesRead(), 4u) << "an address below 0x14000000 is dispatched";
}

TEST_F(DeviceLoopTest, EmptyPassesAreCountedNetOfPassesWithMessages) {
    startWithDesignRunning();
    for (int i = 0; i < 40; ++i) impl().run();
    EXPECT_EQ(impl().aliveCounter(), 40u);
    deliver(messageRun(0x2000, 1));
    impl().run();
    EXPECT_EQ(impl().aliveCounter(), 39u);
}

TEST_F(DeviceLoopTest, TheFiftySecondEmptyPassClearsThePipesAndEndsTheDevice) {
    startWithDesignRunning();
    test::LogCapture log;
    for (int i = 0; i < 51; ++i) ASSERT_NO_THROW(impl().run()) << "pass " << i + 1;
    EXPECT_EQ(messagesStartingWith(log, "Warning: Incrementing aliveCounter_i ...").size(), 51u);
    try {
        impl().run();
        FAIL() << "the 52nd empty pass went on";
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "Device does no more receive write data.");
    }
    EXPECT_TRUE(log.contains("Warning: Clearing bulk pipes ... (51)"));
    const auto clears = instrument->device->controlCalls(platform::usb::kFnClearPipe);
    ASSERT_EQ(clears.size(), 2u);
    EXPECT_EQ(clears[0].input, std::vector<uint8_t>{0});
    EXPECT_EQ(clears[1].input, std::vector<uint8_t>{1});
}

TEST_F(DeviceLoopTest, AStalledWriteClearsThePipesAndEndsTheDevice) {
    startWithDesignRunning();
    instrument->device->pushWrite(Reply{platform::usb::kErrorSemaphoreTimeout, Completion::immediate, {}});
    test::LogCapture log;
    EXPECT_THROW(impl().run(), QVDeviceException);
    EXPECT_TRUE(log.contains("Warning: Clearing bulk pipes ..."));
    EXPECT_EQ(instrument->device->controlCalls(platform::usb::kFnClearPipe).size(), 2u);
}

TEST_F(DeviceLoopTest, SuppliesAndTemperatureAreReportedInVoltsAndUnscaled) {
    const uint16_t words[6] = {1200, 1800, 2500, 3300, 5000, 45};
    for (int i = 0; i < 6; ++i) le::put16(&instrument->registers[16 + 2 * i], words[i]);
    DeviceLoopTiming timing = fastTiming();
    timing.slowStatsPeriod = std::chrono::microseconds(0);
    impl().setLoopTimingForTest(timing);
    startWithDesignRunning();
    impl().run();
    EXPECT_DOUBLE_EQ(stat(STATS_SUPPLY_1V2), 1.2);
    EXPECT_DOUBLE_EQ(stat(STATS_SUPPLY_1V8), 1.8);
    EXPECT_DOUBLE_EQ(stat(STATS_SUPPLY_2V5), 2.5);
    EXPECT_DOUBLE_EQ(stat(STATS_SUPPLY_3V3), 3.3);
    EXPECT_DOUBLE_EQ(stat(STATS_SUPPLY_5V0), 5.0);
    EXPECT_DOUBLE_EQ(stat(STATS_TEMPERATURE), 45.0);
}

TEST_F(DeviceLoopTest, TransferStatisticsCountEveryWriteAndEveryReadByte) {
    DeviceLoopTiming timing = fastTiming();
    timing.fastStatsPeriod = std::chrono::microseconds(0);
    impl().setLoopTimingForTest(timing);
    startWithDesignRunning();
    deliver(messageRun(0x2000, 3));
    impl().run();
    // The pass wrote the 12-byte aperture request through the write buffer.
    EXPECT_EQ(stat(STATS_BYTES_SENT), 12.0);
    EXPECT_EQ(stat(STATS_BYTES_RECEIVED), double(impl().usb().readEngine().bytesConsumed()));
    EXPECT_EQ(stat(STATS_MEAN_MSG_COUNT), 3.0);
    EXPECT_EQ(stat(STATS_MEAN_POLL_COUNT), 1.0);
}

TEST_F(DeviceLoopTest, AByteCountDroppedForAFullOutputFifoIsReportedAtTheNextTick) {
    DeviceLoopTiming timing = fastTiming();
    timing.fastStatsPeriod = std::chrono::microseconds(0);
    impl().setLoopTimingForTest(timing);
    startWithDesignRunning();
    const std::shared_ptr<QVFifo> output = impl().outputFifo();
    for (uint32_t block : {4096u, 16u}) {
        for (;;) {
            QVFifo::DataAccessor<QVFifo::WriterPolicy> filler(output, block);
            if (!filler.isValid()) break;
            filler.commitAll();
        }
    }
    impl().run();  // sends the 12-byte aperture request; its report finds no room
    EXPECT_EQ(stat(STATS_BYTES_SENT), 0.0);
    output->reset();
    impl().run();  // nothing more sent: the count stands as it was dropped
    EXPECT_EQ(stat(STATS_BYTES_SENT), double(impl().usb().bytesSent()));
    EXPECT_GT(stat(STATS_BYTES_SENT), 0.0);
}

TEST_F(DeviceLoopTest, TheClassLogDumpsFlagsCountersAndTheMessageBuffer) {
    startWithDesignRunning();
    deliver(messageRun(0x2000, 1));
    impl().run();
    test::LogCapture log;
    impl().logClassData();
    const auto messages = log.messages();
    const std::vector<std::string> expected = {
        "-- Class Log Data Start -----------------------------",
        "Class name:    DeviceEncFX2",
        "Children:      0",
        "Flags: illgal: 0",
        "      stopped: 1",
        "      running: 1",
        "   programmed: 0",
        "   initalized: 0",
        " need program: 0",
        "Got bad msg:   0",
        "Device serial: 16909060",
        "Alive counter: 0",
    };
    ASSERT_GE(messages.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(messages.begin(), messages.begin() + expected.size()), expected);
    const auto dump = messagesStartingWith(log, "Msg buffer:    ");
    ASSERT_EQ(dump.size(), 1u);
    // The payload {0, 3, 6, 9} of the last message, then the zeroed rest.
    EXPECT_EQ(dump[0].substr(0, 40), "Msg buffer:    0100 0103 0106 0109 ff00 ");
    EXPECT_EQ(messages.back(), "-- Class Log Data End   -----------------------------");
}

}  // namespace
}  // namespace tarnix
