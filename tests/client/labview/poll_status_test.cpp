#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "../ClientFixture.h"
#include "EventBuilder.h"
#include "HostRuntime.h"
#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"
#include "qvLabVIEW.h"

using namespace clienttest;
namespace wire = tarnix::wire;

namespace {

// ------------------------------------------------------------ status texts ---

struct ErrorCase {
    QV_STATUS code;
    const char* text;
    int32_t kind;
};

class LvGetError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(LvGetError, GivesTheTextAndTheLabviewKind) {
    char text[QV_LV_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    int32_t kind = -1;
    EXPECT_EQ(qvAPILVGetError(GetParam().code, text, &kind), QV_NO_ERROR);
    EXPECT_STREQ(text, GetParam().text);
    EXPECT_EQ(kind, GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(Codes, LvGetError,
                         ::testing::Values(ErrorCase{0, "Success (no error)", 0},
                                           ErrorCase{0x4000, "Warning (general)", 1},
                                           ErrorCase{0x4001, "FIFO Underrun", 1},
                                           ErrorCase{0x4003, "Value or Node not found", 1},
                                           ErrorCase{0x4004, "Unknown Error Code", 2},
                                           ErrorCase{0x8000, "Error (general)", 2},
                                           ErrorCase{0x8012, "There is already a similar item", 2},
                                           ErrorCase{0x9000, "Unknown Error Code", 2}));

TEST(LvGetErrorOutputs, NullOutputsAreSkipped) {
    int32_t kind = -1;
    EXPECT_EQ(qvAPILVGetError(0x800C, nullptr, &kind), QV_NO_ERROR);
    EXPECT_EQ(kind, 2);
    char text[QV_LV_TEXT_SIZE] = {};
    EXPECT_EQ(qvAPILVGetError(0x800C, text, nullptr), QV_NO_ERROR);
    EXPECT_STREQ(text, "Connection invalid");
}

TEST(LvRecord, SizeAndDataOffsetDescribeThisBuild) {
    EXPECT_EQ(std::size_t(qvLvSizeofQvEvent()), sizeof(QvEvent));
    EXPECT_EQ(std::size_t(qvLvSizeofQvEvent()), offsetof(QvEvent, dataArea) + QV_EVENT_DATA_SIZE);
    EXPECT_EQ(QVetLVRTModule(), -1);
}

// ----------------------------------------------------------------- polling ---

// The outputs of one qvAPILVPollData call, preset to marks that show which
// ones the call wrote.
struct PollOutputs {
    char path[QV_LV_TEXT_SIZE];
    uint32_t valueType = 0xEEEE;
    uint32_t count = 0xEEEE;
    uint32_t dataOffset = 0xEEEE;
    int32_t integer = -7;
    double number = -7.0;

    PollOutputs() { std::strcpy(path, "unchanged"); }

    QV_STATUS poll(QvHandle* handle, QvEvent* event, int32_t timeoutMs) {
        return qvAPILVPollData(handle, event, timeoutMs, path, &valueType, &count, &dataOffset, &integer, &number);
    }
};

// The script of a fake server that sends `events` right after the handshake.
FakeServer::Script sending(Bytes events) {
    return [events](FakeConnection& c) {
        if (c.handshake()) c.send(events);
    };
}

// A client connected to a fake server that runs `script`, with an event
// record and the outputs of qvAPILVPollData.
class PollSession {
public:
    explicit PollSession(FakeServer::Script script) : server_(std::move(script)) {
        EXPECT_EQ(client_.connect(server_), QV_NO_ERROR);
    }
    QV_STATUS poll(int32_t timeoutMs) { return out.poll(client_, event.get(), timeoutMs); }

    PollOutputs out;
    std::unique_ptr<QvEvent> event = newEvent();

private:
    FakeServer server_;
    Client client_;  // after the server, so that it closes first
};

const std::string kPath = "/dev1234/demods/0/rate";

struct ScalarCase {
    const char* name;
    Bytes event;
    double number;
    int32_t integer;
};

class LvPollScalar : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(LvPollScalar, GivesTheValueAsDoubleAndInteger) {
    PollSession session(sending(GetParam().event));
    ASSERT_EQ(session.poll(5000), QV_NO_ERROR);
    const PollOutputs& out = session.out;
    EXPECT_EQ(out.count, 1u);
    EXPECT_EQ(out.dataOffset, offsetof(QvEvent, dataArea));
    EXPECT_EQ(std::string(out.path), kPath);
    if (std::isnan(GetParam().number)) {
        EXPECT_TRUE(std::isnan(out.number));
    } else {
        EXPECT_EQ(out.number, GetParam().number);
    }
    EXPECT_EQ(out.integer, GetParam().integer);
}

INSTANTIATE_TEST_SUITE_P(
    Values, LvPollScalar,
    ::testing::Values(
        ScalarCase{"IntegerAbove32Bits", integerEvent(0, kPath, (int64_t(1) << 33) + 5), 8589934597.0, 5},
        ScalarCase{"NegativeInteger", integerEvent(0, kPath, -3), -3.0, -3},
        ScalarCase{"NegativeDouble", doubleEvent(0, kPath, -2.5), -2.5, -2},
        ScalarCase{"DoubleAboveInt32", doubleEvent(0, kPath, 3.0e9), 3.0e9, std::numeric_limits<int32_t>::max()},
        ScalarCase{"DoubleBelowInt32", doubleEvent(0, kPath, -3.0e9), -3.0e9, std::numeric_limits<int32_t>::min()},
        ScalarCase{"DoubleNaN", doubleEvent(0, kPath, std::nan("")), std::nan(""), 0}),
    [](const ::testing::TestParamInfo<ScalarCase>& info) { return std::string(info.param.name); });

TEST(LvPoll, NothingQueuedGivesAnEmptyRecord) {
    PollSession session(sending({}));
    EXPECT_EQ(session.poll(0), QV_NO_ERROR);
    EXPECT_EQ(session.out.valueType, 0u);
    EXPECT_EQ(session.out.count, 0u);
    EXPECT_STREQ(session.out.path, "");
    EXPECT_EQ(session.out.integer, -7);
    EXPECT_EQ(session.out.number, -7.0);
}

TEST(LvPoll, SampleEventsLeaveTheScalarsAndFeedTheConversions) {
    Bytes data(2 * wire::kDIOSampleSize);
    tarnix::le::put64(data.data(), 11);
    tarnix::le::put32(data.data() + 8, 0xF0);
    tarnix::le::put64(data.data() + 16, 12);
    tarnix::le::put32(data.data() + 24, 0x0F);
    PollSession session(sending(valueEvent(0, wire::EVENT_DIOSAMPLE, 2, "/dev1234/dios/0/sample", data)));
    ASSERT_EQ(session.poll(5000), QV_NO_ERROR);
    EXPECT_EQ(session.out.valueType, uint32_t(QV_VALUE_DIOSAMPLE));
    EXPECT_EQ(session.out.count, 2u);
    EXPECT_EQ(session.out.integer, -7);
    EXPECT_EQ(session.out.number, -7.0);

    lvtest::HostRuntimeScope host;
    lvtest::lvrt::OwnedNumericArray stamps, bits;
    ASSERT_EQ(qvDIODataToLabview(session.event.get(), stamps.address(), bits.address()), 0);
    EXPECT_EQ(lvtest::valuesOf<uint64_t>(stamps.handle()), (std::vector<uint64_t>{11, 12}));
    EXPECT_EQ(lvtest::valuesOf<uint32_t>(bits.handle()), (std::vector<uint32_t>{0xF0, 0x0F}));
}

TEST(LvPoll, LongPathIsCutTo255Characters) {
    PollSession session(sending(doubleEvent(0, std::string(300, 'p'), 1.0)));
    ASSERT_EQ(session.poll(5000), QV_NO_ERROR);
    EXPECT_EQ(std::string(session.out.path), std::string(255, 'p'));
}

TEST(LvPoll, MissingHandleOrEventIsAGeneralError) {
    Client client;
    auto event = newEvent();
    PollOutputs out;
    EXPECT_EQ(out.poll(nullptr, event.get(), 0), QV_ERR_GENERAL);
    EXPECT_EQ(out.poll(client, nullptr, 0), QV_ERR_GENERAL);
    EXPECT_EQ(out.count, 0xEEEEu);
}

TEST(LvPoll, FailureOfThePollGivesCountZero) {
    PollSession session([](FakeConnection& c) {
        if (c.handshake()) c.close();
    });
    EXPECT_EQ(session.poll(5000), QV_CONNECTION_INVALID);
    EXPECT_EQ(session.out.count, 0u);
    EXPECT_EQ(session.out.valueType, 0xEEEEu);
}

}  // namespace
