#include "MessageStream.h"
#include "core/LogCapture.h"
#include "link/IOExceptions.h"
#include "link/StateEngineRD_USB.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using Bytes = std::vector<uint8_t>;

struct Decoded {
    uint32_t address;
    Bytes payload;
    bool operator==(const Decoded& other) const { return address == other.address && payload == other.payload; }
};

// Feeds the stream to one engine in pieces cut at the given positions.
std::vector<Decoded> decode(StateEngineRD_USB& engine, const Bytes& stream, const std::vector<uint32_t>& cuts = {}) {
    std::vector<Decoded> messages;
    Bytes destination(8192, 0);
    std::vector<uint32_t> bounds = cuts;
    bounds.push_back(uint32_t(stream.size()));
    uint32_t from = 0;
    for (uint32_t to : bounds) {
        const Bytes piece(stream.begin() + from, stream.begin() + to);
        uint32_t cursor = 0;
        while (cursor < piece.size() || piece.empty()) {
            if (!engine.process(piece.data(), uint32_t(piece.size()), cursor, destination.data(),
                                uint32_t(destination.size()), 0))
                break;
            const uint32_t length = engine.lengthWord() & ~3u;
            messages.push_back(Decoded{engine.address(), Bytes(destination.begin(), destination.begin() + length)});
        }
        from = to;
    }
    return messages;
}

std::size_t countStartingWith(const test::LogCapture& log, const std::string& prefix) {
    std::size_t count = 0;
    for (const std::string& message : log.messages()) count += message.rfind(prefix, 0) == 0;
    return count;
}

std::vector<Decoded> decode(const Bytes& stream, const std::vector<uint32_t>& cuts = {}) {
    StateEngineRD_USB engine;
    return decode(engine, stream, cuts);
}

TEST(ReadEngine, DecodesOneMessageAndStopsOnTheNextSyncWord) {
    Bytes stream = deviceMessage(0x1000, pattern(8, 1), 1);
    append(stream, {0x47, 0x5A});
    StateEngineRD_USB engine;
    Bytes destination(8);
    uint32_t cursor = 0;
    ASSERT_TRUE(engine.process(stream.data(), uint32_t(stream.size()), cursor, destination.data(), 8, 0));
    EXPECT_EQ(engine.address(), 0x1000u);
    EXPECT_EQ(engine.lengthWord(), 8u);
    EXPECT_EQ(destination, pattern(8, 1));
    EXPECT_EQ(cursor, 24u);
    EXPECT_EQ(engine.messagesCompleted(), 1u);
    EXPECT_EQ(engine.bytesConsumed(), 24u);
}

TEST(ReadEngine, EverySplitPositionDecodesTheSameMessages) {
    Bytes stream;
    append(stream, deviceMessage(0x1000, pattern(8, 1), 1));
    append(stream, deviceMessage(0x2000, pattern(0, 0), 2));
    append(stream, deviceMessage(0x3000, pattern(12, 9), 3));
    append(stream, {0x00, 0x00});  // end word of the transfer
    const std::vector<Decoded> expected = {
        {0x1000, pattern(8, 1)}, {0x2000, Bytes()}, {0x3000, pattern(12, 9)}};
    for (uint32_t cut = 0; cut <= stream.size(); ++cut) {
        StateEngineRD_USB engine;
        EXPECT_EQ(decode(engine, stream, {cut}), expected) << "cut at " << cut;
        EXPECT_EQ(engine.messagesSkipped(), 0u) << "cut at " << cut;
    }
    for (uint32_t first = 1; first < stream.size(); first += 3)
        for (uint32_t second = first; second <= stream.size(); second += 5)
            EXPECT_EQ(decode(stream, {first, second}), expected) << "cuts at " << first << ", " << second;
}

TEST(ReadEngine, ResynchronisesWithoutLosingTheFollowingMessage) {
    struct Case {
        const char* what;
        Bytes prefix;
        std::string skipReason;  // empty: nothing skipped
    };
    Bytes badReserved = deviceMessage(0x5000, pattern(4, 0), 1);
    badReserved[2] = 0x01;
    Bytes badSpace = deviceMessage(0x5000, pattern(4, 0), 1);
    badSpace[16] = 0x01;
    Bytes badNext = deviceMessage(0x5000, pattern(4, 0), 1);
    badNext.push_back(0x12);
    badNext.push_back(0x34);
    const Case cases[] = {
        {"garbage", {0x01, 0x02, 0x03}, ""},
        {"a lone sync byte", {0x47, 0x00, 0x47}, ""},
        {"wrong reserved word", badReserved, "Wrong reserved word"},
        {"word before the packet count", badSpace, "Incorrect space before packetcount"},
        {"wrong word after a message", badNext, "validate wrong nextRD"},
    };
    for (const Case& c : cases) {
        Bytes stream = c.prefix;
        append(stream, deviceMessage(0x6000, pattern(8, 5), 2));
        append(stream, {0, 0});
        StateEngineRD_USB engine;
        test::LogCapture log;
        const auto messages = decode(engine, stream);
        ASSERT_EQ(messages.size(), 1u) << c.what;
        EXPECT_EQ(messages[0], (Decoded{0x6000, pattern(8, 5)})) << c.what;
        EXPECT_EQ(engine.messagesSkipped(), c.skipReason.empty() ? 0u : 1u) << c.what;
        if (!c.skipReason.empty()) {
            EXPECT_TRUE(log.contains("Message skipped! (" + c.skipReason + ") - 1 total.")) << c.what;
        }
        // Only a wrong reserved word is reported with the place and the bytes around it.
        const bool reported = c.skipReason == "Wrong reserved word";
        EXPECT_EQ(log.contains("Bufferpos: 4, Bytes: 2, MsgSkipped: 0, Count: 0, Address: 0"), reported) << c.what;
        EXPECT_EQ(countStartingWith(log, "Buffer: "), reported ? 1u : 0u) << c.what;
    }
}

TEST(ReadEngine, ALengthWordAbove4096Throws) {
    Bytes stream = deviceMessage(0x1000, Bytes(), 1);
    le::put32(stream.data() + 4, 4097);
    try {
        decode(stream);
        FAIL();
    } catch (const QVIOInternalException& e) {
        EXPECT_STREQ(e.what(), "Too long package length detected (>4096).");
    }
}

TEST(ReadEngine, PacketCountsAreCheckedAfterTheFirst) {
    Bytes stream;
    append(stream, deviceMessage(0x1000, pattern(4, 0), 7));
    append(stream, deviceMessage(0x1000, pattern(4, 0), 9));  // reported, and followed
    append(stream, deviceMessage(0x1000, pattern(4, 0), 10));
    append(stream, {0, 0});
    StateEngineRD_USB engine;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(decode(engine, stream).size(), 3u);
    const std::string report = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(report.rfind("Incorrect packet count (9, 8).\nBufferpos: ", 0), 0u) << report;
    EXPECT_EQ(report.find("Incorrect packet count", 1), std::string::npos) << "only the gap is reported";
    EXPECT_EQ(engine.packetCounter(), 10);
    engine.resyncPacketCount();
    Bytes later = deviceMessage(0x1000, pattern(4, 0), 100);
    append(later, {0, 0});
    EXPECT_EQ(decode(engine, later).size(), 1u);
    EXPECT_EQ(engine.packetCounter(), 100);
}

}  // namespace
}  // namespace tarnix
