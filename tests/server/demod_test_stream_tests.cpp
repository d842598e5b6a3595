// The loss accounting of lq3sim's test stream (tests/support/DemodTestStream.h)
// against streams made the way the server makes them: the slots' packets
// through one timestamp extender, per demodulator, cut into blocks, some of
// them dropped, as binary sample blocks and as text.
#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "engine/Timestamp48Extender.h"
#include "server/text/AsciiEncoders.h"
#include "support/DemodTestStream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tarnix {
namespace {

using test::DemodTestStreamLayout;
using test::DemodTestStreamTally;
using test::DemodTestStreamTextReader;

// Per demodulator, the 64-byte samples the server makes from `messages`
// messages (counts from `first`); `routedSlots(m)` slots of message m reach the
// endpoints (the rest of the message is dropped before conversion).
std::vector<std::vector<uint8_t>> serverStreams(const DemodTestStreamLayout& layout, uint32_t first,
                                                uint32_t messages,
                                                const std::function<uint32_t(uint32_t)>& routedSlots) {
    std::vector<std::vector<uint8_t>> streams(layout.demods());
    Timestamp48Extender extender;
    for (uint32_t m = first; m != first + messages; ++m) {
        const uint32_t routed = std::min(layout.slots(), routedSlots(m));
        for (uint32_t s = 0; s < routed; ++s) {
            const uint64_t time = DemodTestStreamLayout::slotTime(s, m);
            std::vector<uint8_t>& stream = streams[s / 2];
            stream.resize(stream.size() + kDemodSampleSize);
            le::put64(&stream[stream.size() - kDemodSampleSize], extender.extend(uint32_t(time), uint16_t(time >> 32)));
        }
    }
    return streams;
}

uint32_t allSlots(uint32_t) { return DemodTestStreamLayout::kMaxSlots; }

// Delivers the streams in passes of `blockSamples` samples per demodulator, as
// the dispatcher does; `dropped(d, sample)` says which samples a client loses.
void deliver(const std::vector<std::vector<uint8_t>>& streams, uint32_t blockSamples,
             const std::function<bool(uint32_t, uint64_t)>& dropped,
             const std::function<void(uint32_t, const uint8_t*, uint32_t)>& block) {
    std::vector<uint64_t> at(streams.size(), 0);
    for (bool more = true; more;) {
        more = false;
        for (uint32_t d = 0; d < streams.size(); ++d) {
            const uint64_t total = streams[d].size() / kDemodSampleSize;
            const uint64_t end = std::min<uint64_t>(total, at[d] + blockSamples);
            std::vector<uint8_t> kept;
            for (uint64_t i = at[d]; i < end; ++i)
                if (!dropped(d, i))
                    kept.insert(kept.end(), &streams[d][i * kDemodSampleSize],
                                &streams[d][(i + 1) * kDemodSampleSize]);
            if (!kept.empty()) block(d, kept.data(), uint32_t(kept.size() / kDemodSampleSize));
            at[d] = end;
            more = more || end < total;
        }
    }
}

struct Case {
    const char* name;
    uint32_t payloadBytes;
    uint32_t blockSamples;
    std::function<bool(uint32_t, uint64_t)> dropped;  // (demodulator, sample of its stream)
    std::function<uint32_t(uint32_t)> routedSlots;   // slots of message m that are converted
    uint64_t lost;
};

std::vector<Case> cases() {
    const auto none = [](uint32_t, uint64_t) { return false; };
    return {
        {"six demodulators, nothing lost", 768, 1000, none, allSlots, 0},
        {"one demodulator, nothing lost", 128, 700, none, allSlots, 0},
        {"one sample of one stream", 768, 1000, [](uint32_t d, uint64_t i) { return d == 3 && i == 5001; },
         allSlots, 1},
        {"whole blocks of two streams", 768, 1000,
         [](uint32_t d, uint64_t i) { return (d == 1 || d == 5) && i >= 3000 && i < 5000; }, allSlots, 4000},
        {"a run longer than the epochs go round", 768, 4096,
         [](uint32_t d, uint64_t i) { return d == 4 && i >= 8192 && i < 8192 + 4096 * 30; }, allSlots, 4096 * 30},
        {"a run of exactly 2^16 messages, where the epoch comes back to where it was", 768, 4096,
         [](uint32_t d, uint64_t i) { return d == 2 && i >= 8192 && i < 8192 + 2 * 65536; }, allSlots, 2 * 65536},
        {"the first slot's stream, longer than the epochs go round", 768, 4096,
         [](uint32_t d, uint64_t i) { return d == 0 && i >= 8192 && i < 8192 + 4096 * 40; }, allSlots, 4096 * 40},
        {"one demodulator, a long run", 128, 4096,
         [](uint32_t, uint64_t i) { return i >= 4096 && i < 4096 * 70; }, allSlots, 4096 * 69},
        {"a message cut after slot 7 in the device loop", 768, 1000, none,
         [](uint32_t m) { return m == 70123 ? 7u : 12u; }, 5},
        {"messages cut at different slots", 768, 1000, none,
         [](uint32_t m) { return m % 5000 == 17 ? 2 + m / 5000 % 10 : 12u; }, 0},
    };
}

// Samples the simulator made (whole messages) that the client did not get,
// between each stream's first and last received sample.
uint64_t expectedLoss(const Case& c, uint32_t messages) {
    if (c.name == std::string("messages cut at different slots")) {
        uint64_t lost = 0;
        for (uint32_t m = 1000; m < 1000 + messages; ++m) lost += 12 - std::min(12u, c.routedSlots(m));
        return lost;
    }
    return c.lost;
}

class DemodTestStreamTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DemodTestStreamTest, CountsEveryLostSampleOfBinaryBlocks) {
    const Case c = cases()[GetParam()];
    const uint32_t messages = 200000;
    DemodTestStreamTally tally(c.payloadBytes);
    const auto streams = serverStreams(tally.layout(), 1000, messages, c.routedSlots);
    deliver(streams, c.blockSamples, c.dropped,
            [&](uint32_t d, const uint8_t* samples, uint32_t n) { tally.addBlock(int(d), samples, n); });
    uint64_t made = 0, dropped = 0;
    for (uint32_t d = 0; d < streams.size(); ++d) {
        made += streams[d].size() / kDemodSampleSize;
        for (uint64_t i = 0; i < streams[d].size() / kDemodSampleSize; ++i) dropped += c.dropped(d, i) ? 1 : 0;
    }
    EXPECT_EQ(tally.received(), made - dropped) << c.name;
    EXPECT_EQ(tally.lost(), expectedLoss(c, messages)) << c.name;
    EXPECT_EQ(tally.unexpected(), 0u) << c.name;
    EXPECT_TRUE(tally.stream(0).anchored());
}

INSTANTIATE_TEST_SUITE_P(Table, DemodTestStreamTest, ::testing::Range<std::size_t>(0, cases().size()));

TEST(DemodTestStreamText, CountsLostSamplesFromTheTextEncodersLines) {
    DemodTestStreamTally tally(768);
    DemodTestStreamTextReader reader(tally);
    // Long enough for the epochs to pass 2^15, where the times print as negative
    // seconds, and for the count to go round.
    const auto streams = serverStreams(tally.layout(), 0xFFFF0000u, 120000, allSlots);
    const auto dropped = [](uint32_t d, uint64_t i) {
        return (d == 0 && i >= 10000 && i < 10000 + 50000) || (d == 2 && i == 7);
    };
    std::vector<uint8_t> text(64 * 1024 * 1024);
    uint64_t received = 0;
    deliver(streams, 3000, dropped, [&](uint32_t d, const uint8_t* samples, uint32_t n) {
        uint32_t length = 0;
        const std::string path = "/DEV1000/DEMODS/" + std::to_string(d) + "/SAMPLE";
        ASSERT_EQ(AsciiStreamEncode(path, 0, DATATYPE_DEMODSAMPLE, text.data(), uint32_t(text.size()), length,
                                    samples, n * kDemodSampleSize),
                  QV_NO_ERROR);
        // In pieces, as they come off a socket.
        for (uint32_t at = 0; at < length; at += 1000)
            reader.feed(reinterpret_cast<const char*>(text.data()) + at, std::min<uint32_t>(1000, length - at));
        received += n;
    });
    EXPECT_EQ(tally.received(), received);
    EXPECT_EQ(tally.lost(), 50000u + 1u);
    EXPECT_EQ(tally.unexpected(), 0u);
    EXPECT_EQ(reader.otherLines(), 0u);
}

TEST(DemodTestStreamText, ALineCutShortByTheEncoderCountsAsLost) {
    DemodTestStreamTally tally(128);
    DemodTestStreamTextReader reader(tally);
    const auto streams = serverStreams(tally.layout(), 5, 100, allSlots);
    std::vector<uint8_t> text(1 << 20);
    for (uint32_t part = 0; part < 2; ++part) {
        uint32_t length = 0;
        EXPECT_EQ(AsciiStreamEncode("/DEV1000/DEMODS/0/SAMPLE", 0, DATATYPE_DEMODSAMPLE, text.data(), uint32_t(text.size()),
                          length, streams[0].data() + part * 100 * kDemodSampleSize, 100 * kDemodSampleSize), QV_NO_ERROR);
        if (part == 0) length -= 20;  // the output ended inside the last line
        reader.feed(reinterpret_cast<const char*>(text.data()), length);
    }
    EXPECT_EQ(tally.received(), 199u);
    EXPECT_EQ(tally.lost(), 1u);
}

}  // namespace
}  // namespace tarnix
