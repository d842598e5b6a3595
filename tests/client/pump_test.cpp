#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ClientFixture.h"
#include "wire/BinaryWire.h"

using namespace clienttest;
namespace wire = tarnix::wire;
namespace le = tarnix::le;

namespace {

constexpr uint32_t kWindow = 0x400000;

// An event whose data identifies it: its index, then a fill byte derived
// from the index, dataSize bytes in all (a multiple of 8, sent as doubles).
Bytes indexedEvent(uint32_t index, uint32_t dataSize) {
    Bytes data(dataSize, uint8_t(index * 7 + 1));
    le::put64(data.data(), index);
    return valueEvent(0, wire::EVENT_DOUBLE, dataSize / 8, "/ev", data);
}

bool isIndexedEvent(const QvEvent& e, uint32_t index, uint32_t dataSize) {
    if (e.valueType != QV_VALUE_DOUBLE || e.count != dataSize / 8 || std::string(e.path) != "/ev") return false;
    if (e.data != e.dataArea || le::get64(e.data) != index) return false;
    for (uint32_t i = 8; i < dataSize; i += 4093) {
        if (e.data[i] != uint8_t(index * 7 + 1)) return false;
    }
    return dataSize == 8 || e.data[dataSize - 1] == uint8_t(index * 7 + 1);
}

// GET_VALUE_POLL of "burst:<count>:<dataSize>:<firstIndex>" answers with
// that many indexed events, then the reply.
void burstHandler(FakeConnection& c, const Request& r) {
    unsigned count = 0, size = 0, first = 0;
    if (r.type != wire::MSG_GET_VALUE_POLL ||
        std::sscanf(r.path.c_str(), "burst:%u:%u:%u", &count, &size, &first) != 3) {
        return;
    }
    Bytes all;
    for (unsigned i = 0; i < count; ++i) {
        Bytes e = indexedEvent(first + i, size);
        all.insert(all.end(), e.begin(), e.end());
    }
    Bytes reply = countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, count);
    all.insert(all.end(), reply.begin(), reply.end());
    c.send(all);
}

QV_STATUS burst(QvHandle* h, unsigned count, unsigned size, unsigned first) {
    std::string path = "burst:" + std::to_string(count) + ":" + std::to_string(size) + ":" + std::to_string(first);
    return qvAPIGetValueAsPollData(h, path.c_str());
}

// Polls `count` events and checks they are the indexed events from `first`.
void expectEvents(QvHandle* h, unsigned count, unsigned size, unsigned first) {
    auto e = newEvent();
    for (unsigned i = 0; i < count; ++i) {
        ASSERT_EQ(qvAPIPollData(h, e.get(), 0), QV_NO_ERROR);
        ASSERT_TRUE(isIndexedEvent(*e, first + i, size)) << "event " << first + i;
    }
}

TEST(ClientPump, RepliesSplitOverManyReceivesAreCompleted) {
    FakeServer server(serveRequests([](FakeConnection& c, const Request& r) {
        Bytes answer = concat({countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 1),
                               doubleEvent(r.sequenceId, "/qv/clockbase", 210e6)});
        c.sendInPieces(answer, 3, 1);
    }));
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    double value = 0;
    ASSERT_EQ(qvAPIGetValueD(client, "/qv/clockbase", &value), QV_NO_ERROR);
    EXPECT_EQ(value, 210e6);
}

TEST(ClientPump, MergedFramesAreAllSplitAndEventsKeepTheirOrder) {
    FakeServer server(serveRequests([](FakeConnection& c, const Request& r) {
        c.send(concat({doubleEvent(0, "/a", 1.0), countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 1),
                       doubleEvent(0, "/b", 2.0), doubleEvent(r.sequenceId, "/qv/level", 3.0),
                       doubleEvent(0, "/c", 4.0)}));
    }));
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    double value = 0;
    ASSERT_EQ(qvAPIGetValueD(client, "/qv/level", &value), QV_NO_ERROR);
    EXPECT_EQ(value, 3.0);
    auto e = newEvent();
    // "/c" came behind the reply in the same receive: it is taken from what
    // was received, without waiting on the (now silent) socket.
    auto start = std::chrono::steady_clock::now();
    for (auto expected : {std::make_pair("/a", 1.0), std::make_pair("/b", 2.0), std::make_pair("/c", 4.0)}) {
        ASSERT_EQ(qvAPIPollData(client, e.get(), 3000), QV_NO_ERROR);
        EXPECT_STREQ(e->path, expected.first);
        EXPECT_EQ(le::getDouble(e->data), expected.second);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    ASSERT_EQ(qvAPIPollData(client, e.get(), 0), QV_NO_ERROR);
    EXPECT_EQ(e->valueType, QV_VALUE_NONE);
}

TEST(ClientPump, RepliesWithStaleIdsAreDropped) {
    FakeServer server(serveRequests([](FakeConnection& c, const Request& r) {
        uint16_t stale = uint16_t(r.sequenceId + 7);
        c.send(concat({countReply(wire::MSG_GET_VALUE_REPLY, stale, 1), doubleEvent(stale, "/old", -1.0),
                       countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 1),
                       doubleEvent(r.sequenceId, "/new", 5.0)}));
    }));
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    double value = 0;
    ASSERT_EQ(qvAPIGetValueD(client, "/new", &value), QV_NO_ERROR);
    EXPECT_EQ(value, 5.0);
    // The stale messages came ahead of the answer: nothing to wait for.
    auto e = newEvent();
    ASSERT_EQ(qvAPIPollData(client, e.get(), 0), QV_NO_ERROR);
    EXPECT_EQ(e->valueType, QV_VALUE_NONE);
}

TEST(ClientPump, SequenceIdsRunFromOneToMaxAndWrapToOne) {
    std::vector<uint16_t> ids;
    FakeServer server(serveRequests([&](FakeConnection& c, const Request& r) {
        ids.push_back(r.sequenceId);
        c.send(message(wire::MSG_SUBSCRIBE_REPLY, r.sequenceId));
    }));
    {
        Client client;
        ASSERT_EQ(client.connect(server), QV_NO_ERROR);
        for (int i = 0; i < 65536; ++i) ASSERT_EQ(qvAPISubscribe(client, "/x"), QV_NO_ERROR);
    }
    ASSERT_TRUE(server.waitServed(1)) << "the fake server did not see the connection end";
    ASSERT_EQ(ids.size(), 65536u);
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids[65534], 65535);
    EXPECT_EQ(ids.back(), 1);
}

TEST(ClientPump, EventRingWrapsAndGrowsAroundQueuedEvents) {
    FakeServer server(serveRequests(burstHandler));
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    const unsigned mib = 1 << 20;
    // Five 1 MiB events, four taken: the oldest left lies above the first
    // 4 MiB, so the next events wrap to the buffer start and the ring has to
    // move the older part out of their way.
    ASSERT_EQ(burst(client, 5, mib, 0), QV_NO_ERROR);
    expectEvents(client, 4, mib, 0);
    ASSERT_EQ(burst(client, 3, mib, 5), QV_NO_ERROR);
    expectEvents(client, 4, mib, 4);
    // The index ring grows while its read position lies behind the write
    // position.
    ASSERT_EQ(burst(client, 200, 16, 100), QV_NO_ERROR);
    expectEvents(client, 150, 16, 100);
    ASSERT_EQ(burst(client, 250, 16, 300), QV_NO_ERROR);
    expectEvents(client, 50, 16, 250);
    expectEvents(client, 250, 16, 300);
}

// Polls until an event arrives or the poll fails (at most `tries` polls).
QV_STATUS pollUntilEvent(QvHandle* h, QvEvent& e, int tries) {
    for (int i = 0; i < tries; ++i) {
        QV_STATUS st = qvAPIPollData(h, &e, 2000);
        if (st != QV_NO_ERROR || e.valueType != QV_VALUE_NONE) return st;
    }
    return QV_COMMAND_TIMEOUT;
}

TEST(ClientPump, MessageOfExactlyTheWindowSizeIsReceived) {
    const std::string path = "/big";
    const uint32_t dataSize = kWindow - wire::kEventFixedSize - uint32_t(path.size());
    FakeServer server([&](FakeConnection& c) {
        if (!c.handshake()) return;
        Bytes data(dataSize);
        for (uint32_t i = 0; i < dataSize; ++i) data[i] = uint8_t(i * 31);
        c.send(valueEvent(0, 99, 1, path, data));
    });
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    auto e = newEvent();
    ASSERT_EQ(pollUntilEvent(client, *e, 5000), QV_NO_ERROR);
    EXPECT_EQ(e->valueType, 99u);
    EXPECT_STREQ(e->path, "/big");
    bool same = true;
    for (uint32_t i = 0; i < dataSize && same; ++i) same = e->data[i] == uint8_t(i * 31);
    EXPECT_TRUE(same);
}

TEST(ClientPump, MessageLongerThanTheWindowClosesTheConnection) {
    FakeServer server([&](FakeConnection& c) {
        if (!c.handshake()) return;
        Bytes head(wire::kHeaderSize);
        wire::encodeHeader(head.data(), wire::MSG_VALUE_EVENT, kWindow + 1, 0);
        c.send(head);
    });
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    auto e = newEvent();
    EXPECT_EQ(pollUntilEvent(client, *e, 10), QV_CONNECTION_INVALID);
    double d = 0;
    EXPECT_EQ(qvAPIGetValueD(client, "/x", &d), QV_CONNECTION_INVALID);
}

TEST(ClientPump, AFullEventQueueDropsLaterEventsButNeverTheReplyAndSaysSoOnce) {
    const unsigned maxEvents = 0x40000;
    FakeServer server(serveRequests([&](FakeConnection& c, const Request& r) {
        Bytes all;
        all.reserve((maxEvents + 2) * 30 + 16);
        for (unsigned i = 0; i <= maxEvents + 1; ++i) {
            Bytes e = indexedEvent(i, 8);
            all.insert(all.end(), e.begin(), e.end());
        }
        Bytes reply = countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 1);
        all.insert(all.end(), reply.begin(), reply.end());
        // Events behind the reply, the last one cut into two sends.
        for (unsigned i = maxEvents + 2; i < maxEvents + 4; ++i) {
            Bytes e = indexedEvent(i, 8);
            all.insert(all.end(), e.begin(), e.end());
        }
        c.send(Bytes(all.begin(), all.end() - 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        c.send(Bytes(all.end() - 5, all.end()));
    }));
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    // The server's answer, though the queue is full when it comes.
    EXPECT_EQ(qvAPIGetValueAsPollData(client, "/all"), QV_NO_ERROR);
    // Every queued event comes out in order, then the loss of the two that
    // no longer fitted is told once, then the events behind the reply come.
    expectEvents(client, maxEvents, 8, 0);
    auto e = newEvent();
    EXPECT_EQ(qvAPIPollData(client, e.get(), 50), QV_OVERFLOW);
    EXPECT_EQ(e->valueType, QV_VALUE_NONE);
    for (unsigned i = maxEvents + 2; i < maxEvents + 4; ++i) {
        ASSERT_EQ(qvAPIPollData(client, e.get(), 2000), QV_NO_ERROR);
        EXPECT_TRUE(isIndexedEvent(*e, i, 8)) << "event " << i;
    }
    ASSERT_EQ(qvAPIPollData(client, e.get(), 50), QV_NO_ERROR);
    EXPECT_EQ(e->valueType, QV_VALUE_NONE);
}

struct MalformedCase {
    const char* name;
    Bytes event;
};

class ClientMalformedEvent : public ::testing::TestWithParam<MalformedCase> {};

Bytes withPathLength(Bytes event, uint16_t pathLength) {
    le::put16(event.data() + wire::kEventPathLengthAt, pathLength);
    return event;
}

TEST_P(ClientMalformedEvent, IsDroppedAndTheNextEventArrives) {
    FakeServer server([&](FakeConnection& c) {
        if (c.handshake()) c.send(concat({GetParam().event, doubleEvent(0, "/good", 1.5)}));
    });
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    auto e = newEvent();
    ASSERT_EQ(pollUntilEvent(client, *e, 5), QV_NO_ERROR);
    EXPECT_STREQ(e->path, "/good");
    EXPECT_EQ(le::getDouble(e->data), 1.5);
}

Bytes scopeWave(uint32_t announcedSamples, uint32_t sentSamples) {
    Bytes data(wire::kScopeHeaderSize + 2 * sentSamples);
    le::put32(data.data() + wire::kScopeSampleCountAt, announcedSamples);
    return valueEvent(0, wire::EVENT_SCOPESAMPLE, 1, "/scope", data);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientMalformedEvent,
    ::testing::Values(MalformedCase{"PathBeyondMessage", withPathLength(doubleEvent(0, "/p", 1.0), 200)},
                      MalformedCase{"ByteCountBeyondData",
                                    valueEvent(0, wire::EVENT_BYTEARRAY, 1, "/b", {0xff, 0xff, 0, 0, 1, 2})},
                      MalformedCase{"CountBeyondData", valueEvent(0, wire::EVENT_DOUBLE, 2, "/d", Bytes(8))},
                      MalformedCase{"ScopeSamplesBeyondData", scopeWave(100, 10)}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST(ClientPump, ClosedPeerFailsRequestsButQueuedEventsStayPollable) {
    FakeServer server([](FakeConnection& c) {
        if (!c.handshake()) return;
        Request r;
        if (!c.readRequest(r)) return;
        c.send(doubleEvent(0, "/left", 7.0));
        // Spaces the event and the close so that the client most likely reads
        // them apart; either way the event must stay pollable.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        c.close();
    });
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    double d = 0;
    EXPECT_EQ(qvAPIGetValueD(client, "/x", &d), QV_CONNECTION_INVALID);
    EXPECT_EQ(qvAPIGetValueD(client, "/x", &d), QV_CONNECTION_INVALID);
    auto e = newEvent();
    ASSERT_EQ(qvAPIPollData(client, e.get(), 0), QV_NO_ERROR);
    EXPECT_STREQ(e->path, "/left");
    EXPECT_EQ(qvAPIPollData(client, e.get(), 0), QV_CONNECTION_INVALID);
}

}  // namespace
