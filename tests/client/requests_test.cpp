#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "ClientFixture.h"
#include "wire/BinaryWire.h"

using namespace clienttest;
namespace wire = tarnix::wire;
namespace le = tarnix::le;

namespace {

// A fake server that answers every request of the test with `answer(request)`
// and records the requests it saw.
class Scripted {
public:
    using Answer = std::function<Bytes(const Request&)>;

    explicit Scripted(Answer answer)
        : answer_(std::move(answer)),
          server_(serveRequests([this](FakeConnection& c, const Request& r) {
              {
                  std::lock_guard<std::mutex> lock(mutex_);
                  seen_.push_back(r);
              }
              Bytes reply = answer_(r);
              if (!reply.empty()) c.send(reply);
          })) {
        EXPECT_EQ(client_.connect(server_), QV_NO_ERROR);
    }

    QvHandle* handle() { return client_; }
    Request lastRequest() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.empty() ? Request{} : seen_.back();
    }

private:
    std::mutex mutex_;
    std::vector<Request> seen_;
    Answer answer_;
    FakeServer server_;
    Client client_;
};

Bytes getAnswer(const Request& r, std::initializer_list<Bytes> events) {
    Bytes all = countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, uint32_t(events.size()));
    for (const Bytes& e : events) all.insert(all.end(), e.begin(), e.end());
    return all;
}

Bytes integerData(int64_t v) {
    Bytes d(8);
    le::put64(d.data(), uint64_t(v));
    return d;
}

Bytes doubleData(double v) {
    Bytes d(8);
    le::putDouble(d.data(), v);
    return d;
}

struct NumberCase {
    const char* name;
    uint16_t type;
    Bytes data;
    double expectedD;
    int64_t expectedI;
};

class ClientNumberConversion : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ClientNumberConversion, GetValueDAndIConvertByType) {
    const NumberCase& c = GetParam();
    Scripted s([&](const Request& r) { return getAnswer(r, {valueEvent(r.sequenceId, c.type, 1, "/n", c.data)}); });
    double d = 0;
    int64_t i = 0;
    ASSERT_EQ(qvAPIGetValueD(s.handle(), "/n", &d), QV_NO_ERROR);
    ASSERT_EQ(qvAPIGetValueI(s.handle(), "/n", &i), QV_NO_ERROR);
    if (std::isnan(c.expectedD)) {
        EXPECT_TRUE(std::isnan(d));
    } else {
        EXPECT_EQ(d, c.expectedD);
    }
    EXPECT_EQ(i, c.expectedI);
    EXPECT_EQ(s.lastRequest().type, wire::MSG_GET_VALUE);
    EXPECT_EQ(s.lastRequest().path, "/n");
}

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientNumberConversion,
    ::testing::Values(
        NumberCase{"IntegerTwoTo40", wire::EVENT_INTEGER, integerData(int64_t(1) << 40), 1099511627776.0,
                   int64_t(1) << 40},
        NumberCase{"IntegerMin", wire::EVENT_INTEGER, integerData(kMin), -9223372036854775808.0, kMin},
        NumberCase{"DoubleNegativeTruncates", wire::EVENT_DOUBLE, doubleData(-2.7), -2.7, -2},
        NumberCase{"DoubleAbove32Bits", wire::EVENT_DOUBLE, doubleData(3.0e9), 3.0e9, 3000000000},
        NumberCase{"DoubleHugeSaturates", wire::EVENT_DOUBLE, doubleData(1e300), 1e300, kMax},
        NumberCase{"DoubleHugeNegativeSaturates", wire::EVENT_DOUBLE, doubleData(-1e300), -1e300, kMin},
        NumberCase{"DoubleInfinitySaturates", wire::EVENT_DOUBLE,
                   doubleData(std::numeric_limits<double>::infinity()), std::numeric_limits<double>::infinity(),
                   kMax},
        NumberCase{"DoubleNaNGivesZero", wire::EVENT_DOUBLE, doubleData(std::nan("")), std::nan(""), 0}),
    [](const ::testing::TestParamInfo<NumberCase>& info) { return std::string(info.param.name); });

TEST(ClientRequests, WildcardGivesTheFirstValueAndLeavesNoStrayEvent) {
    Scripted s([](const Request& r) {
        return getAnswer(r, {doubleEvent(r.sequenceId, "/a/0", 10.0), doubleEvent(r.sequenceId, "/a/1", 11.0),
                             doubleEvent(r.sequenceId, "/a/2", 12.0)});
    });
    double d = 0;
    ASSERT_EQ(qvAPIGetValueD(s.handle(), "/a/*", &d), QV_NO_ERROR);
    EXPECT_EQ(d, 10.0);
    // The answer to a second request comes after the rest of the first one,
    // so that rest has been received, and not queued, once it is there.
    ASSERT_EQ(qvAPIGetValueD(s.handle(), "/a/*", &d), QV_NO_ERROR);
    EXPECT_EQ(d, 10.0);
    auto e = newEvent();
    ASSERT_EQ(qvAPIPollData(s.handle(), e.get(), 0), QV_NO_ERROR);
    EXPECT_EQ(e->valueType, QV_VALUE_NONE);
}

TEST(ClientRequests, SampleGettersDecodeEveryField) {
    Scripted s([](const Request& r) {
        Bytes data;
        uint16_t type = 0;
        if (r.path == "/demod") {
            DataDemodSample v{0x0102030405060708ull, 1.5, -2.5, 1000.25, 0.125, 0xA5A5A5A5u, 7, 3.0, -4.0};
            data.resize(wire::kDemodSampleSize);
            wire::encodeDemodSample(data.data(), v);
            type = wire::EVENT_DEMODSAMPLE;
        } else if (r.path == "/dio") {
            DataDIOSample v{42, 0x80000001u, 9};
            data.resize(wire::kDIOSampleSize);
            wire::encodeDIOSample(data.data(), v);
            type = wire::EVENT_DIOSAMPLE;
        } else if (r.path == "/aux") {
            DataAuxInSample v{99, 0.5, -0.75};
            data.resize(wire::kAuxInSampleSize);
            wire::encodeAuxInSample(data.data(), v);
            type = wire::EVENT_AUXINSAMPLE;
        } else {
            return getAnswer(r, {doubleEvent(r.sequenceId, r.path, 1.0)});
        }
        return getAnswer(r, {valueEvent(r.sequenceId, type, 1, r.path, data)});
    });
    DataDemodSample demod{};
    ASSERT_EQ(qvAPIGetValueS(s.handle(), "/demod", &demod), QV_NO_ERROR);
    EXPECT_EQ(demod.timeStamp, 0x0102030405060708ull);
    EXPECT_EQ(demod.x, 1.5);
    EXPECT_EQ(demod.y, -2.5);
    EXPECT_EQ(demod.frequency, 1000.25);
    EXPECT_EQ(demod.phase, 0.125);
    EXPECT_EQ(demod.dioBits, 0xA5A5A5A5u);
    EXPECT_EQ(demod.auxIn0, 3.0);
    EXPECT_EQ(demod.auxIn1, -4.0);
    DataDIOSample dio{};
    ASSERT_EQ(qvAPIGetValueDIO(s.handle(), "/dio", &dio), QV_NO_ERROR);
    EXPECT_EQ(dio.timeStamp, 42u);
    EXPECT_EQ(dio.bits, 0x80000001u);
    DataAuxInSample aux{};
    ASSERT_EQ(qvAPIGetValueAuxIn(s.handle(), "/aux", &aux), QV_NO_ERROR);
    EXPECT_EQ(aux.timeStamp, 99u);
    EXPECT_EQ(aux.ch0, 0.5);
    EXPECT_EQ(aux.ch1, -0.75);
    // A node that answers with a double is no sample.
    EXPECT_EQ(qvAPIGetValueS(s.handle(), "/double", &demod), QV_VALUE_NOT_FOUND);
    EXPECT_EQ(qvAPIGetValueDIO(s.handle(), "/double", &dio), QV_VALUE_NOT_FOUND);
    EXPECT_EQ(qvAPIGetValueS(s.handle(), "/dio", &demod), QV_VALUE_NOT_FOUND);
}

struct ReplyMappingCase {
    const char* name;
    std::function<Bytes(uint16_t id)> reply;
    QV_STATUS expected;
};

class ClientReplyMapping : public ::testing::TestWithParam<ReplyMappingCase> {};

TEST_P(ClientReplyMapping, UnexpectedRepliesMapToStatus) {
    Scripted s([](const Request& r) { return GetParam().reply(r.sequenceId); });
    double d = 0;
    EXPECT_EQ(qvAPIGetValueD(s.handle(), "/x", &d), GetParam().expected);
    // The connection stays usable.
    EXPECT_EQ(qvAPIGetValueD(s.handle(), "/x", &d), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientReplyMapping,
    ::testing::Values(
        ReplyMappingCase{"ErrorCode1", [](uint16_t id) { return errorReply(id, 1); }, QV_COMMAND_SERVER_FAILED},
        ReplyMappingCase{"ErrorCode2", [](uint16_t id) { return errorReply(id, 2); }, QV_VALUE_NOT_FOUND},
        ReplyMappingCase{"ErrorCode9", [](uint16_t id) { return errorReply(id, 9); }, QV_COMMAND_INTERNAL},
        ReplyMappingCase{"UnexpectedType",
                         [](uint16_t id) { return countReply(wire::MSG_SET_VALUE_REPLY, id, 1); },
                         QV_COMMAND_INTERNAL},
        ReplyMappingCase{"NoMatchingNode",
                         [](uint16_t id) { return countReply(wire::MSG_GET_VALUE_REPLY, id, 0); },
                         QV_VALUE_NOT_FOUND},
        ReplyMappingCase{"OnlyByteArrays",
                         [](uint16_t id) {
                             return concat({countReply(wire::MSG_GET_VALUE_REPLY, id, 1),
                                            valueEvent(id, wire::EVENT_BYTEARRAY, 1, "/b", byteArrayData({1}))});
                         },
                         QV_VALUE_NOT_FOUND}),
    [](const ::testing::TestParamInfo<ReplyMappingCase>& info) { return std::string(info.param.name); });

struct BytesCase {
    const char* name;
    uint32_t bufferSize;
    bool nullBuffer;
    QV_STATUS expected;
    uint32_t expectedLength;
};

class ClientGetBytes : public ::testing::TestWithParam<BytesCase> {};

TEST_P(ClientGetBytes, CopiesOnlyWhenTheValueFits) {
    const Bytes value = {'h', 'e', 'l', 'l', 'o'};
    Scripted s([&](const Request& r) {
        return getAnswer(r, {doubleEvent(r.sequenceId, "/d", 1.0),
                             valueEvent(r.sequenceId, wire::EVENT_BYTEARRAY, 1, "/b", byteArrayData(value))});
    });
    std::vector<uint8_t> buffer(16, 0xEE);
    uint32_t length = 77;
    EXPECT_EQ(qvAPIGetValueB(s.handle(), "/*", GetParam().nullBuffer ? nullptr : buffer.data(), &length,
                             GetParam().bufferSize),
              GetParam().expected);
    EXPECT_EQ(length, GetParam().expectedLength);
    if (GetParam().expectedLength != 0) {
        EXPECT_EQ(std::memcmp(buffer.data(), value.data(), value.size()), 0);
    } else {
        EXPECT_EQ(buffer[0], 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ClientGetBytes,
                         ::testing::Values(BytesCase{"Larger", 16, false, QV_NO_ERROR, 5},
                                           BytesCase{"Exact", 5, false, QV_NO_ERROR, 5},
                                           BytesCase{"OneByteShort", 4, false, QV_NO_ERROR, 0},
                                           BytesCase{"NoBuffer", 16, true, QV_NO_ERROR, 0}),
                         [](const ::testing::TestParamInfo<BytesCase>& info) { return std::string(info.param.name); });

TEST(ClientRequests, GetBytesRefusesWhatIsNoByteArray) {
    Scripted s([](const Request& r) -> Bytes {
        if (r.path == "/none") return countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 0);
        if (r.path == "/error") return errorReply(r.sequenceId, 1);
        if (r.path == "/short") {
            return getAnswer(r, {valueEvent(r.sequenceId, wire::EVENT_BYTEARRAY, 1, "/short", {9, 0, 0, 0, 1})});
        }
        return getAnswer(r, {doubleEvent(r.sequenceId, "/d", 1.0)});
    });
    uint8_t buffer[8];
    uint32_t length = 5;
    for (const char* path : {"/none", "/error", "/short", "/double"}) {
        EXPECT_EQ(qvAPIGetValueB(s.handle(), path, buffer, &length, sizeof buffer), QV_VALUE_NOT_FOUND) << path;
        EXPECT_EQ(length, 0u);
    }
}

TEST(ClientRequests, SetsSendTheirValueAndNeedAnAnsweringEvent) {
    Scripted s([](const Request& r) -> Bytes {
        if (r.path == "/none") return countReply(wire::MSG_SET_VALUE_REPLY, r.sequenceId, 0);
        Bytes all = countReply(wire::MSG_SET_VALUE_REPLY, r.sequenceId, 1);
        Bytes e = r.type == wire::MSG_SET_DOUBLE ? doubleEvent(r.sequenceId, r.path, 0.5)
                                                 : integerEvent(r.sequenceId, r.path, 3);
        all.insert(all.end(), e.begin(), e.end());
        return all;
    });
    ASSERT_EQ(qvAPISetValueD(s.handle(), "/pll/0/pgain", 2.0), QV_NO_ERROR);
    Request r = s.lastRequest();
    EXPECT_EQ(r.type, wire::MSG_SET_DOUBLE);
    wire::PathView path;
    double d = 0;
    ASSERT_TRUE(wire::decodeSetDoubleBody(r.body.data(), uint32_t(r.body.size()), path, d));
    EXPECT_EQ(d, 2.0);
    EXPECT_EQ(r.body.size(), wire::setNumberBodySize(path.length));

    ASSERT_EQ(qvAPISetValueI(s.handle(), "/qv/port", -5), QV_NO_ERROR);
    r = s.lastRequest();
    EXPECT_EQ(r.type, wire::MSG_SET_INTEGER);
    int64_t i = 0;
    ASSERT_TRUE(wire::decodeSetIntegerBody(r.body.data(), uint32_t(r.body.size()), path, i));
    EXPECT_EQ(i, -5);

    EXPECT_EQ(qvAPISetValueD(s.handle(), "/none", 1.0), QV_VALUE_NOT_FOUND);
    EXPECT_EQ(qvAPISetValueI(s.handle(), "/none", 1), QV_VALUE_NOT_FOUND);
}

TEST(ClientRequests, SetBytesSendsLargeArraysAndChecksTheAnsweredCount) {
    Scripted s([](const Request& r) -> Bytes {
        wire::PathView path;
        const uint8_t* bytes = nullptr;
        uint32_t n = 0;
        if (!wire::decodeSetBytesBody(r.body.data(), uint32_t(r.body.size()), path, bytes, n)) return {};
        int64_t answered = r.path == "/wrong" ? n - 1 : n;
        Bytes e = r.path == "/double" ? doubleEvent(r.sequenceId, r.path, double(n))
                                      : integerEvent(r.sequenceId, r.path, answered);
        return concat({countReply(wire::MSG_SET_VALUE_REPLY, r.sequenceId, 1), e});
    });
    // Larger than the 64 KiB that a fixed request buffer would hold.
    std::vector<uint8_t> program(300000);
    for (size_t k = 0; k < program.size(); ++k) program[k] = uint8_t(k * 13);
    ASSERT_EQ(qvAPISetValueB(s.handle(), "/cpus/0/program", program.data(), uint32_t(program.size())), QV_NO_ERROR);
    Request r = s.lastRequest();
    wire::PathView path;
    const uint8_t* bytes = nullptr;
    uint32_t n = 0;
    ASSERT_TRUE(wire::decodeSetBytesBody(r.body.data(), uint32_t(r.body.size()), path, bytes, n));
    ASSERT_EQ(n, program.size());
    EXPECT_EQ(std::memcmp(bytes, program.data(), n), 0);

    EXPECT_EQ(qvAPISetValueB(s.handle(), "/wrong", program.data(), 10), QV_COMMAND_SERVER_FAILED);
    // Only integer answers count; a double answer is no answer.
    EXPECT_EQ(qvAPISetValueB(s.handle(), "/double", program.data(), 10), QV_VALUE_NOT_FOUND);
    // The server takes messages up to 1 MiB.
    const std::string p = "/x";
    std::vector<uint8_t> big(1048576 - 12 - 2 - p.size() - 4 + 1);
    EXPECT_EQ(qvAPISetValueB(s.handle(), p.c_str(), big.data(), uint32_t(big.size())), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(qvAPISetValueB(s.handle(), p.c_str(), big.data(), uint32_t(big.size() - 1)), QV_NO_ERROR);
    EXPECT_EQ(qvAPISetValueB(s.handle(), p.c_str(), nullptr, 4), QV_BUFFER_TOO_SMALL);
}

struct ListCase {
    const char* name;
    std::string listing;
    uint32_t bufferSize;
    QV_STATUS expected;
    std::string expectedText;
};

class ClientListNodes : public ::testing::TestWithParam<ListCase> {};

TEST_P(ClientListNodes, CopiesTheListingWhenItFits) {
    const ListCase& c = GetParam();
    Scripted s([&](const Request& r) { return listReply(r.sequenceId, c.listing); });
    std::vector<char> text(64, '#');
    EXPECT_EQ(qvAPIListNodes(s.handle(), "/qv", text.data(), c.bufferSize, 3), c.expected);
    if (c.bufferSize == 0) {
        EXPECT_EQ(text[0], '#');
    } else {
        EXPECT_EQ(std::string(text.data()), c.expectedText);
    }
    Request r = s.lastRequest();
    wire::PathView path;
    uint32_t flags = 0;
    ASSERT_TRUE(wire::decodeListNodesBody(r.body.data(), uint32_t(r.body.size()), path, flags));
    EXPECT_EQ(flags, 3u);
    EXPECT_EQ(r.path, "/qv");
}

const std::string kListing = "VERSION\nREVISION\n";  // 17 bytes

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientListNodes,
    ::testing::Values(ListCase{"Larger", kListing, 64, QV_NO_ERROR, "VERSION\nREVISION"},
                      ListCase{"Exact", kListing, 17, QV_NO_ERROR, "VERSION\nREVISION"},
                      ListCase{"OneByteShort", kListing, 16, QV_BUFFER_TOO_SMALL, ""},
                      ListCase{"Empty", "", 64, QV_NO_ERROR, ""},
                      ListCase{"ZeroSizeWritesNothing", kListing, 0, QV_BUFFER_TOO_SMALL, ""}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST(ClientRequests, PathsUpTo256BytesAreSent) {
    Scripted s([](const Request& r) { return message(wire::MSG_SUBSCRIBE_REPLY, r.sequenceId); });
    const std::string longest(256, 'p');
    EXPECT_EQ(qvAPISubscribe(s.handle(), longest.c_str()), QV_NO_ERROR);
    EXPECT_EQ(s.lastRequest().path, longest);
    EXPECT_EQ(qvAPISubscribe(s.handle(), (longest + "p").c_str()), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(qvAPISubscribe(s.handle(), nullptr), QV_BUFFER_TOO_SMALL);
    double d = 0;
    EXPECT_EQ(qvAPIGetValueD(s.handle(), "/x", nullptr), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(qvAPIGetValueD(s.handle(), (longest + "p").c_str(), &d), QV_BUFFER_TOO_SMALL);
}

TEST(ClientRequests, SubscriptionsAndDeviceUpdate) {
    Scripted s([](const Request& r) -> Bytes {
        switch (r.type) {
            case wire::MSG_SUBSCRIBE:
                return message(wire::MSG_SUBSCRIBE_REPLY, r.sequenceId);
            case wire::MSG_UNSUBSCRIBE:
                return r.path == "/busy" ? errorReply(r.sequenceId, 1)
                                         : message(wire::MSG_UNSUBSCRIBE_REPLY, r.sequenceId);
            case wire::MSG_UPDATE_DEVICES:
                return message(wire::MSG_UPDATE_DEVICES_REPLY, r.sequenceId);
            default:
                return {};
        }
    });
    EXPECT_EQ(qvAPISubscribe(s.handle(), "/qv/trees"), QV_NO_ERROR);
    EXPECT_EQ(s.lastRequest().type, wire::MSG_SUBSCRIBE);
    EXPECT_EQ(qvAPIUnSubscribe(s.handle(), "/qv/trees"), QV_NO_ERROR);
    EXPECT_EQ(s.lastRequest().type, wire::MSG_UNSUBSCRIBE);
    EXPECT_EQ(qvAPIUnSubscribe(s.handle(), "/busy"), QV_COMMAND_SERVER_FAILED);
    EXPECT_EQ(qvAPIUpdateDevices(s.handle()), QV_NO_ERROR);
    EXPECT_EQ(s.lastRequest().type, wire::MSG_UPDATE_DEVICES);
    EXPECT_TRUE(s.lastRequest().body.empty());
}

TEST(ClientRequests, ValuesAsPollDataArriveAsEvents) {
    Scripted s([](const Request& r) -> Bytes {
        if (r.path == "/none") return countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 0);
        return concat({countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 2), integerEvent(0, "/qv/port", 8005),
                       doubleEvent(0, "/qv/level", 3.0)});
    });
    EXPECT_EQ(qvAPIGetValueAsPollData(s.handle(), "/none"), QV_VALUE_NOT_FOUND);
    ASSERT_EQ(qvAPIGetValueAsPollData(s.handle(), "/qv/*"), QV_NO_ERROR);
    auto e = newEvent();
    ASSERT_EQ(qvAPIPollData(s.handle(), e.get(), 1000), QV_NO_ERROR);
    EXPECT_EQ(e->valueType, QV_VALUE_INTEGER);
    EXPECT_EQ(e->count, 1u);
    EXPECT_STREQ(e->path, "/qv/port");
    EXPECT_EQ(e->data, e->dataArea);
    EXPECT_EQ(int64_t(le::get64(e->data)), 8005);
    ASSERT_EQ(qvAPIPollData(s.handle(), e.get(), 1000), QV_NO_ERROR);
    EXPECT_EQ(e->valueType, QV_VALUE_DOUBLE);
    EXPECT_STREQ(e->path, "/qv/level");
}

TEST(ClientRequests, PollWithoutEventsReturnsAnEmptyRecordAtOnce) {
    Scripted s([](const Request&) { return Bytes{}; });
    auto e = newEvent();
    e->valueType = 5;
    e->count = 9;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(qvAPIPollData(s.handle(), e.get(), 0), QV_NO_ERROR);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(e->valueType, QV_VALUE_NONE);
    EXPECT_EQ(e->count, 0u);
    EXPECT_EQ(qvAPIPollData(s.handle(), nullptr, 0), QV_BUFFER_TOO_SMALL);
}

TEST(ClientRequests, EventPathsAreCutTo255Characters) {
    const std::string longPath(300, 'q');
    Scripted s([&](const Request& r) {
        return concat({countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 1), doubleEvent(0, longPath, 1.0)});
    });
    ASSERT_EQ(qvAPIGetValueAsPollData(s.handle(), "/q"), QV_NO_ERROR);
    auto e = newEvent();
    ASSERT_EQ(qvAPIPollData(s.handle(), e.get(), 1000), QV_NO_ERROR);
    EXPECT_EQ(std::string(e->path), longPath.substr(0, 255));
}

TEST(ClientUtilities, RevisionAndTimeStamps) {
    uint32_t revision = 0;
    EXPECT_EQ(qvAPIGetRevision(&revision), QV_NO_ERROR);
    EXPECT_EQ(revision, 12256u);
    EXPECT_EQ(qvAPIGetRevision(nullptr), QV_BUFFER_TOO_SMALL);
    EXPECT_DOUBLE_EQ(qvAPISecondsTimeStamp(210000000), 1.0);
    EXPECT_EQ(qvAPISecondsTimeStamp(0), 0.0);
    EXPECT_GT(qvAPISecondsTimeStamp(std::numeric_limits<uint64_t>::max()), 0.0);
}

}  // namespace
