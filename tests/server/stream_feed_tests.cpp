// The stream feed: messages written once and sent by every reader from its
// own position; a reader that falls behind loses only its own oldest
// messages, never a part of one, and never makes the writer wait: an entry
// that needs memory a reader is sending from is parked until the send ends.
#include "server/dispatcher/StreamFeed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

// A message: its length and its number, repeated, so that any mix of two
// messages is seen.
std::vector<uint8_t> message(uint32_t number, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i + 4 <= length; i += 4) std::memcpy(&bytes[i], &number, 4);
    return bytes;
}

// Reads everything the reader has, `chunk` bytes per "send", into `out`.
void readAll(StreamFeedReader& reader, std::string& out, uint32_t chunk = ~0u) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    while (reader.acquire(data, length, 1 << 20)) {
        const uint32_t sent = std::min(length, chunk);
        out.append(reinterpret_cast<const char*>(data), sent);
        reader.release(sent);
    }
}

// What a session sends when it takes only the first `bytes` of what the
// reader offers: part of a message.
std::string readPart(StreamFeedReader& reader, uint32_t bytes) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!reader.acquire(data, length, 1 << 20)) {
        ADD_FAILURE() << "the reader offers nothing";
        return {};
    }
    EXPECT_GE(length, bytes);
    bytes = std::min(bytes, length);
    std::string part(reinterpret_cast<const char*>(data), bytes);
    reader.release(bytes);
    return part;
}

// The message numbers in a stream of messages of `length` bytes; -1 for a
// message that is not whole.
std::vector<int> numbers(const std::string& stream, uint32_t length) {
    std::vector<int> found;
    for (size_t at = 0; at + length <= stream.size(); at += length) {
        uint32_t first = 0;
        std::memcpy(&first, stream.data() + at, 4);
        bool whole = true;
        for (uint32_t i = 0; i + 4 <= length; i += 4) whole = whole && std::memcmp(stream.data() + at + i, &first, 4) == 0;
        found.push_back(whole ? int(first) : -1);
    }
    if (stream.size() % length != 0) found.push_back(-1);
    return found;
}

TEST(StreamFeed, EveryReaderGetsTheMessagesFromWhereItJoined) {
    auto feed = std::make_shared<StreamFeed>(4096, 16);
    auto early = feed->attach();
    feed->append(message(1, 100).data(), 100);
    auto late = feed->attach();
    feed->append(message(2, 100).data(), 100);
    std::string a, b;
    readAll(*early, a);
    readAll(*late, b, 7);  // in small pieces: messages still arrive whole
    EXPECT_EQ(numbers(a, 100), (std::vector<int>{1, 2}));
    EXPECT_EQ(numbers(b, 100), (std::vector<int>{2}));
    EXPECT_FALSE(early->hasData());
}

TEST(StreamFeed, ASlowReaderLosesWholeOldMessagesAndFinishesTheOneItStarted) {
    auto feed = std::make_shared<StreamFeed>(1000, 16);
    auto slow = feed->attach();
    feed->append(message(1, 300).data(), 300);
    // The reader sends part of message 1 ...
    std::string got = readPart(*slow, 120);
    EXPECT_TRUE(slow->midEntry());
    // ... the writer goes round the feed meanwhile ...
    for (uint32_t n = 2; n <= 8; ++n) ASSERT_TRUE(feed->append(message(n, 300).data(), 300));
    // ... and the reader still finishes message 1, then loses 2 to 5.
    readAll(*slow, got);
    EXPECT_EQ(numbers(got, 300), (std::vector<int>{1, 6, 7, 8}));
    EXPECT_EQ(slow->takeLostEntries(), 4u);
    EXPECT_FALSE(feed->append(message(9, 1001).data(), 1001));
}

TEST(StreamFeed, AReaderOfAProtocolLeftFinishesItsMessageThenSkipsWithoutLoss) {
    auto feed = std::make_shared<StreamFeed>(1000, 16);
    auto left = feed->attach();
    feed->append(message(1, 300).data(), 300);
    std::string got = readPart(*left, 120);
    for (uint32_t n = 2; n <= 8; ++n) ASSERT_TRUE(feed->append(message(n, 300).data(), 300));
    // Half a message out: its rest goes first, whatever the session speaks now.
    left->skipToNewest();
    EXPECT_TRUE(left->midEntry());
    got += readPart(*left, 180);
    EXPECT_EQ(numbers(got, 300), (std::vector<int>{1}));
    // Then the stream passes it by: nothing to send, nothing lost.
    left->skipToNewest();
    EXPECT_FALSE(left->hasData());
    for (uint32_t n = 9; n <= 12; ++n) ASSERT_TRUE(feed->append(message(n, 300).data(), 300));
    left->skipToNewest();
    EXPECT_FALSE(left->hasData());
    EXPECT_EQ(left->takeLostEntries(), 0u);
    // A session that speaks the protocol again gets what comes from then on.
    ASSERT_TRUE(feed->append(message(13, 300).data(), 300));
    readAll(*left, got);
    EXPECT_EQ(numbers(got, 300), (std::vector<int>{1, 13}));
    EXPECT_EQ(left->takeLostEntries(), 0u);
}

TEST(StreamFeed, MessagesNeverWrapAroundTheEndOfTheMemory) {
    auto feed = std::make_shared<StreamFeed>(1000, 16);
    auto reader = feed->attach();
    std::string got;
    for (uint32_t n = 1; n <= 20; ++n) {
        ASSERT_TRUE(feed->append(message(n, 400).data(), 400));
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        ASSERT_TRUE(reader->acquire(data, length, 1 << 20));
        EXPECT_EQ(length, 400u);
        got.append(reinterpret_cast<const char*>(data), length);
        reader->release(length);
    }
    EXPECT_EQ(numbers(got, 400).size(), 20u);
    EXPECT_EQ(numbers(got, 400).back(), 20);
}

struct MemoryEndCase {
    uint32_t capacity;
    uint32_t length;  // of every message; the capacity is a multiple of it
};

class StreamFeedMemoryEnd : public ::testing::TestWithParam<MemoryEndCase> {};

TEST_P(StreamFeedMemoryEnd, AReaderBehindGetsTheMessagesOnEitherSideOfTheEndOfTheMemoryWhole) {
    const MemoryEndCase c = GetParam();
    const uint32_t perRound = c.capacity / c.length;
    auto feed = std::make_shared<StreamFeed>(c.capacity, 256);
    auto reader = feed->attach();
    std::string got;
    // All but the last message of the first round is read; the last one,
    // which ends at the end of the memory, and the first of the next round
    // wait together.
    for (uint32_t n = 1; n < perRound; ++n) ASSERT_TRUE(feed->append(message(n, c.length).data(), c.length));
    readAll(*reader, got);
    for (uint32_t n = perRound; n <= perRound + 1; ++n)
        ASSERT_TRUE(feed->append(message(n, c.length).data(), c.length));
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(reader->acquire(data, length, 1 << 20));
    EXPECT_EQ(length, c.length) << "a send runs past the end of the feed's memory";
    reader->release(0);
    readAll(*reader, got);
    std::vector<int> expected;
    for (uint32_t n = 1; n <= perRound + 1; ++n) expected.push_back(int(n));
    EXPECT_EQ(numbers(got, c.length), expected);
    EXPECT_EQ(reader->takeLostEntries(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Feeds, StreamFeedMemoryEnd,
                         ::testing::Values(MemoryEndCase{1000, 250}, MemoryEndCase{4096, 1024},
                                           MemoryEndCase{8192, 64}));

// Pins message 1 as a session's send does, on the test's thread.
struct PinnedSend {
    explicit PinnedSend(StreamFeedReader& reader) : reader_(reader) {
        EXPECT_TRUE(reader_.acquire(data, length, 1 << 20));
    }
    void end() { reader_.release(length); }
    StreamFeedReader& reader_;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

TEST(StreamFeed, TheWriterParksAnEntryThatNeedsMemoryBeingSentInsteadOfWaiting) {
    auto feed = std::make_shared<StreamFeed>(1000, 16);
    auto sending = feed->attach();
    auto other = feed->attach();
    feed->append(message(1, 300).data(), 300);
    PinnedSend send(*sending);
    const std::string before(reinterpret_cast<const char*>(send.data), send.length);
    // Messages 2 and 3 fit; 4 needs message 1's memory.
    auto writer = std::async(std::launch::async, [&] {
        for (uint32_t n = 2; n <= 5; ++n) feed->append(message(n, 300).data(), 300);
    });
    ASSERT_EQ(writer.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the writer waits for the reader's send";
    EXPECT_TRUE(feed->parked());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(send.data), send.length), before)
        << "memory being sent was written";
    EXPECT_FALSE(feed->appendParked());
    // The send ends while the writer waits for it, outside its locks.
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets the writer wait first
        send.end();
    });
    feed->waitForReaders(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    sender.join();
    EXPECT_TRUE(feed->appendParked());
    EXPECT_FALSE(feed->parked());
    std::string a = before, b;
    readAll(*sending, a);
    readAll(*other, b);
    EXPECT_EQ(numbers(a, 300), (std::vector<int>{1, 3, 4, 5}));
    EXPECT_EQ(numbers(b, 300), (std::vector<int>{3, 4, 5}));
}

TEST(StreamFeed, DetachingAReaderInTheMiddleOfASendDoesNotWaitAndKeepsItsMemory) {
    auto feed = std::make_shared<StreamFeed>(1000, 16);
    auto reader = feed->attach();
    feed->append(message(1, 300).data(), 300);
    PinnedSend send(*reader);
    auto detaching = std::async(std::launch::async, [&] { feed->detach(reader); });
    ASSERT_EQ(detaching.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "detach waits for the reader's send";
    EXPECT_EQ(feed->readerCount(), 0u);
    for (uint32_t n = 2; n <= 4; ++n) feed->append(message(n, 300).data(), 300);
    EXPECT_TRUE(feed->parked());
    EXPECT_EQ(numbers(std::string(reinterpret_cast<const char*>(send.data), send.length), 300), (std::vector<int>{1}));
    send.end();
    EXPECT_TRUE(feed->appendParked());
}

TEST(StreamFeed, ADetachedReaderEndsAfterTheMessageItStarted) {
    auto feed = std::make_shared<StreamFeed>(4096, 16);
    auto reader = feed->attach();
    feed->append(message(1, 100).data(), 100);
    std::string got = readPart(*reader, 40);
    feed->detach(reader);
    feed->append(message(2, 100).data(), 100);
    EXPECT_TRUE(reader->detached());
    readAll(*reader, got);
    EXPECT_EQ(numbers(got, 100), (std::vector<int>{1}));
    EXPECT_EQ(feed->readerCount(), 0u);
}

TEST(StreamFeed, ReadersOnOtherThreadsGetWholeMessagesInOrderWhileTheWriterRuns) {
    auto feed = std::make_shared<StreamFeed>(64 * 1024, 256);
    constexpr uint32_t kLength = 1000;
    constexpr uint32_t kMessages = 20000;
    std::vector<std::shared_ptr<StreamFeedReader>> readers{feed->attach(), feed->attach(), feed->attach()};
    std::atomic<bool> done{false};
    std::vector<std::string> got(readers.size());
    std::vector<std::thread> threads;
    for (size_t r = 0; r < readers.size(); ++r) {
        threads.emplace_back([&, r] {
            // Reader 0 keeps up, the others dawdle and lose messages.
            const uint32_t chunk = r == 0 ? ~0u : 333;
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!done.load() || readers[r]->hasData()) {
                if (std::chrono::steady_clock::now() > giveUp) {
                    ADD_FAILURE() << "reader " << r << " still finds data after 60 s";
                    break;
                }
                readAll(*readers[r], got[r], chunk);
                if (r != 0) std::this_thread::yield();
            }
        });
    }
    for (uint32_t n = 1; n <= kMessages; ++n) {
        ASSERT_TRUE(feed->append(message(n, kLength).data(), kLength));
        if (n % 64 == 0) std::this_thread::yield();
    }
    // What waited for a reader's send goes in once the send is over.
    const auto flushBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!feed->appendParked() && std::chrono::steady_clock::now() < flushBy) feed->waitForReaders(flushBy);
    EXPECT_FALSE(feed->parked());
    done.store(true);
    for (auto& t : threads) t.join();
    for (size_t r = 0; r < readers.size(); ++r) {
        const std::vector<int> found = numbers(got[r], kLength);
        ASSERT_FALSE(found.empty());
        int last = 0;
        for (int n : found) {
            ASSERT_GT(n, last) << "reader " << r << ": a message out of order or not whole";
            last = n;
        }
        EXPECT_EQ(found.size() + readers[r]->takeLostEntries(), kMessages) << "reader " << r;
        EXPECT_EQ(last, int(kMessages));
    }
}

}  // namespace
}  // namespace tarnix
