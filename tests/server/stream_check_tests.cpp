// The checks of the stream client that tests and benchmarks use
// (tests/support/StreamCheck.h): a stream that is whole passes with its lost
// samples counted, and every kind of broken stream is a fault, never loss.
#include "core/DataTypes.h"
#include "server/text/AsciiEncoders.h"
#include "support/DemodTestStream.h"
#include "support/StreamCheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tarnix {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kStep = 228;
const std::string kPath = "/DEV1000/DEMODS/2/SAMPLE";

// A sample message of `path` with the given times; `count` in its head when
// not 0.
Bytes sampleMessage(const std::vector<uint64_t>& times, uint32_t count = 0, const std::string& path = kPath) {
    const uint32_t dataLength = uint32_t(times.size()) * wire::kDemodSampleSize;
    Bytes bytes(wire::valueEventSize(uint16_t(path.size()), dataLength));
    uint8_t* data = wire::encodeValueEventHead(bytes.data(), wire::kUnsolicitedId, wire::EVENT_DEMODSAMPLE,
                                               count ? count : uint32_t(times.size()), path.data(),
                                               uint16_t(path.size()), dataLength);
    for (std::size_t i = 0; i < times.size(); ++i) le::put64(data + i * wire::kDemodSampleSize, times[i]);
    return bytes;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct BinaryCase {
    const char* name;
    std::function<Bytes()> stream;
    uint64_t faults;
    uint64_t lost;
    uint64_t samplesTaken;
};

class BinaryStreamCheckTest : public ::testing::TestWithParam<BinaryCase> {};

TEST_P(BinaryStreamCheckTest, TakesWholeMessagesAndCallsEveryOtherStreamAFault) {
    const BinaryCase& c = GetParam();
    const Bytes stream = c.stream();
    test::SampleStepCheck steps(kStep);
    test::BinaryStreamCheck check(&steps);
    uint64_t taken = 0;
    // In pieces of 7 bytes: a message is taken only once it is whole.
    Bytes pending;
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        pending.insert(pending.end(), stream.begin() + long(at), stream.begin() + long(std::min(at + 7, stream.size())));
        const std::size_t used = check.feed(pending.data(), pending.size(),
                                            [&](const test::BinaryStreamCheck::Samples& s) { taken += s.count; });
        pending.erase(pending.begin(), pending.begin() + long(used));
    }
    EXPECT_EQ(check.faults().count, c.faults) << check.faults().first;
    EXPECT_EQ(steps.lost(), c.lost);
    EXPECT_EQ(taken, c.samplesTaken);
}

const BinaryCase kBinaryCases[] = {
    {"whole", [] { return join({sampleMessage({kStep, 2 * kStep}), sampleMessage({3 * kStep})}); }, 0, 0, 3},
    {"samples lost between messages",
     [] { return join({sampleMessage({kStep}), sampleMessage({4 * kStep, 5 * kStep})}); }, 0, 2, 3},
    {"count larger than the samples",
     [] { return join({sampleMessage({kStep, 2 * kStep}, 3), sampleMessage({3 * kStep})}); }, 1, 0, 1},
    {"time not a whole step on",
     [] { return join({sampleMessage({kStep, 2 * kStep + 1}), sampleMessage({3 * kStep})}); }, 1, 0, 1},
    {"time going back", [] { return join({sampleMessage({2 * kStep}), sampleMessage({kStep})}); }, 1, 0, 1},
    {"all-zero header: nothing after it is taken",
     [] { return join({sampleMessage({kStep}), Bytes(wire::kHeaderSize, 0), sampleMessage({2 * kStep})}); }, 1, 0,
     1},
    {"message shorter than its header",
     [] {
         Bytes bad = sampleMessage({2 * kStep});
         le::put32(bad.data() + wire::kTotalLengthAt, wire::kHeaderSize - 1);
         return join({sampleMessage({kStep}), bad, sampleMessage({3 * kStep})});
     },
     1, 0, 1},
    {"error reply",
     [] {
         Bytes error(wire::kErrorReplySize);
         wire::encodeErrorReply(error.data(), 1, wire::ERROR_COMMAND_FAILED);
         return join({error, sampleMessage({kStep})});
     },
     1, 0, 1},
    {"other nodes have steps of their own",
     [] {
         return join({sampleMessage({kStep}), sampleMessage({5 * kStep}, 0, "/DEV1000/DEMODS/3/SAMPLE"),
                      sampleMessage({2 * kStep}), sampleMessage({6 * kStep}, 0, "/DEV1000/DEMODS/3/SAMPLE")});
     },
     0, 0, 4},
};

INSTANTIATE_TEST_SUITE_P(Streams, BinaryStreamCheckTest, ::testing::ValuesIn(kBinaryCases),
                         [](const ::testing::TestParamInfo<BinaryCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                             return name;
                         });

// The text the server makes of demodulator samples, one line each.
std::vector<std::string> sampleLines(const std::vector<uint64_t>& times) {
    std::vector<uint8_t> samples(times.size() * kDemodSampleSize);
    for (std::size_t i = 0; i < times.size(); ++i) {
        le::put64(&samples[i * kDemodSampleSize], times[i]);
        le::putDouble(&samples[i * kDemodSampleSize + 8], -1.25e-3 * double(i));
        le::putDouble(&samples[i * kDemodSampleSize + 32], 179.5);
    }
    std::vector<uint8_t> text(1 << 16);
    uint32_t length = 0;
    EXPECT_EQ(AsciiStreamEncode(kPath, 0, DATATYPE_DEMODSAMPLE, text.data(), uint32_t(text.size()), length,
                                samples.data(), uint32_t(samples.size())),
              QV_NO_ERROR);
    std::vector<std::string> lines;
    const std::string all(reinterpret_cast<const char*>(text.data()), length);
    for (std::size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(all.substr(at, end - at));
    return lines;
}

TEST(TextSampleLine, EveryLineTheServerWritesIsWholeAndEveryCutOneIsNot) {
    const std::vector<std::string> lines = sampleLines({kStep, 2 * kStep, 3 * kStep});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], kPath + ":");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::string seconds;
        EXPECT_TRUE(test::isTextSampleLine(line.data(), line.data() + line.size(), seconds)) << line;
        uint64_t ticks = 0;
        ASSERT_TRUE(test::ticksOfSecondsText(seconds.data(), seconds.data() + seconds.size(), ticks));
        EXPECT_EQ(ticks, i * kStep);
        // Cut anywhere, or run into the next line, a line is no sample line.
        for (std::size_t cut = 0; cut < line.size(); ++cut)
            EXPECT_FALSE(test::isTextSampleLine(line.data(), line.data() + cut, seconds)) << line.substr(0, cut);
        const std::string joined = line.substr(0, line.size() - 2) + kPath + ":";
        EXPECT_FALSE(test::isTextSampleLine(joined.data(), joined.data() + joined.size(), seconds)) << joined;
    }
}

TEST(SampleStepCheck, CountsWholeStepsAsLossWithinTheToleranceOfText) {
    test::SampleStepCheck check(kStep, 2);
    std::string why;
    EXPECT_TRUE(check.add(kPath, 1000, why));
    EXPECT_TRUE(check.add(kPath, 1000 + kStep + 1, why));
    EXPECT_TRUE(check.add(kPath, 1000 + 4 * kStep - 1, why));
    EXPECT_EQ(check.lost(), 2u);
    EXPECT_FALSE(check.add(kPath, 1000 + 3 * kStep, why));  // back in time
    EXPECT_NE(why.find(kPath), std::string::npos) << why;
    // After a fault the node starts anew.
    EXPECT_TRUE(check.add(kPath, 5000, why));
    EXPECT_FALSE(check.add(kPath, 5000 + kStep + 3, why));
    EXPECT_EQ(check.lost(), 2u);
    EXPECT_EQ(check.received(), 6u);
}

}  // namespace
}  // namespace tarnix
