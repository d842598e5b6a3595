// The request path end to end, with the qvServer program and a simulated
// instrument: answers and pushes of one node reach a client in the order the
// changes happened, and every value a count reply announced comes, or an
// error in its place, also when the instrument goes away in the middle.
#include "BinaryTestSupport.h"
#include "DeviceE2ESupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::Bytes;
using test::message;
using test::pathBody;
using test::removeLine;

constexpr uint32_t kSerial = 1234;

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A client that sends a whole pipeline of requests while it reads what comes
// back, on a non-blocking socket: neither side waits for the other.
class PipelineClient {
public:
    explicit PipelineClient(uint16_t port) : client_(port) {
        int one = 1;
        ::setsockopt(client_.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ok_ = client_.connected() && client_.waitFor("\r\n");
        client_.clear();
    }

    bool ok() const { return ok_; }
    // Switches to the binary protocol and reads the hello.
    bool binary() {
        queue("proto bin\n");
        ok_ = ok_ && test::waitUntil([&] { return pump(5ms) && received_.size() >= wire::kHelloSize; }, 10s) &&
              received_[0] == char(wire::MSG_HELLO);
        received_.erase(0, wire::kHelloSize);
        return ok_;
    }
    // Queues bytes to send; pump() sends them.
    void queue(const std::string& bytes) { out_ += bytes; }
    void queue(const Bytes& bytes) { out_ += asText(bytes); }

    // Sends what is queued and reads what arrives, for at most `time`; false
    // when the connection failed.
    bool pump(std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + time;
        ::fcntl(client_.fd(), F_SETFL, ::fcntl(client_.fd(), F_GETFL) | O_NONBLOCK);
        for (bool first = true;; first = false) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (!first && left.count() <= 0) return true;
            pollfd p{client_.fd(), short(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0};
            if (::poll(&p, 1, int(std::max<int64_t>(0, std::min<int64_t>(left.count(), 20)))) < 0) return false;
            if (p.revents & POLLOUT) {
                const ssize_t sent = ::send(client_.fd(), out_.data(), out_.size(), MSG_NOSIGNAL);
                if (sent < 0 && errno != EAGAIN) return false;
                if (sent > 0) out_.erase(0, size_t(sent));
            }
            if (p.revents & POLLIN) {
                char chunk[65536];
                const ssize_t n = ::recv(client_.fd(), chunk, sizeof chunk, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN)) return false;
                if (n > 0) received_.append(chunk, size_t(n));
            } else if (p.revents & (POLLERR | POLLHUP)) {
                return false;
            }
            if (p.revents == 0 && out_.empty()) return true;  // quiet: nothing more for now
        }
    }
    bool sent() const { return out_.empty(); }

    // What arrived so far and was not taken yet.
    std::string& received() { return received_; }

private:
    test::TestClient client_;
    bool ok_ = false;
    std::string out_;
    std::string received_;
};

// Takes the whole binary messages at the front of `bytes`.
std::vector<test::Message> takeMessages(std::string& bytes) {
    std::string rest;
    std::vector<test::Message> messages = test::splitMessages(bytes, &rest);
    bytes.swap(rest);
    return messages;
}

class RequestPathEndToEnd : public test::DeviceServerFixture {
protected:
    void SetUp() override {
        DeviceServerFixture::SetUp();
        instrument_ = plug(kSerial, {"--running"});
        ASSERT_TRUE(trees_->waitFor(addLine(kSerial), 15s)) << trees_->received();
    }
    void TearDown() override {
        if (!instrument_) return;
        instrument_->unplug();
        EXPECT_TRUE(trees_->waitFor(removeLine(kSerial), 10s)) << trees_->received();
        instrument_.reset();
    }

    std::unique_ptr<test::Simulator> instrument_;
};

// One value a client saw of a node: a push of a change (sequence 0) or the
// answer of its own get.
struct Seen {
    bool answer;
    std::string value;
};

// Every answer must show the value of the last change pushed before it (or
// the value first read): an answer that overtook the push of an earlier
// change shows a value that no push before it had.
void expectAnswersFollowPushes(const std::vector<Seen>& seen, size_t pushes) {
    size_t pushed = 0, overtaking = 0, answers = 0;
    std::string last;
    for (const Seen& s : seen) {
        if (!s.answer) {
            ++pushed;
            last = s.value;
        } else {
            ++answers;
            if (!last.empty() && s.value != last) ++overtaking;
            if (last.empty()) last = s.value;
        }
    }
    EXPECT_EQ(pushed, pushes);
    EXPECT_GT(answers, 0u);
    EXPECT_EQ(overtaking, 0u) << "answers that came ahead of the push of an earlier change, of " << answers;
}

// Session A sets a node again and again in a pipeline, each set a change;
// session B, subscribed to the node, reads it again and again meanwhile.
struct OvertakeCase {
    const char* path;
    const char* eventPath;
    // The value A sets in its n-th set (each differs from the one before).
    std::string (*valueOf)(int n);
    // The value B sees in an answer or push, as text.
    std::string (*seenOf)(const wire::ValueEventView& event);
};

std::string levelValue(int n) { return std::to_string(3 + (n + 1) % 4); }
std::string frequencyValue(int n) { return std::to_string(1000 + n) + ".5"; }
std::string integerSeen(const wire::ValueEventView& e) {
    return e.dataLength == 8 ? std::to_string(int64_t(le::get64(e.data))) : "?";
}
std::string doubleSeen(const wire::ValueEventView& e) {
    return e.dataLength == 8 ? std::to_string(le::getDouble(e.data)) : "?";
}

constexpr int kSets = 1500;
constexpr int kGets = 1500;

TEST_F(RequestPathEndToEnd, ABinaryGetNeverOvertakesThePushOfAnEarlierChange) {
    const OvertakeCase cases[] = {
        {"/qv/debug/level", "/QV/DEBUG/LEVEL", levelValue, integerSeen},
        {"/dev1234/oscs/0/freq", "/DEV1234/OSCS/0/FREQ", frequencyValue, doubleSeen},
    };
    for (const OvertakeCase& c : cases) {
        SCOPED_TRACE(c.path);
        PipelineClient a(server_->port()), b(server_->port());
        ASSERT_TRUE(a.binary() && b.binary());
        // B subscribes and learns the value before the changes begin.
        b.queue(message(wire::MSG_SUBSCRIBE, 1, pathBody(c.path)));
        b.queue(message(wire::MSG_GET_VALUE, 2, pathBody(c.path)));
        std::vector<Seen> seen;
        size_t answered = 0, pushes = 0;
        const auto take = [&] {
            for (const test::Message& m : takeMessages(b.received())) {
                wire::ValueEventView event;
                if (m.header.type != wire::MSG_VALUE_EVENT) continue;
                ASSERT_TRUE(m.event(event));
                ASSERT_EQ(std::string(event.path.text, event.path.length), c.eventPath);
                seen.push_back(Seen{event.sequenceId != 0, c.seenOf(event)});
                if (event.sequenceId != 0) ++answered;
                if (event.sequenceId == 0) ++pushes;
            }
        };
        ASSERT_TRUE(test::waitUntil([&] {
            b.pump(5ms);
            take();
            return answered == 1;
        }, 10s));
        for (int n = 0; n < kSets; ++n)
            a.queue(message(wire::MSG_SET_DOUBLE, uint16_t(n + 1), test::withDouble(pathBody(c.path),
                                                                                      std::stod(c.valueOf(n)))));
        for (int n = 0; n < kGets; ++n) b.queue(message(wire::MSG_GET_VALUE, uint16_t(n + 3), pathBody(c.path)));
        ASSERT_TRUE(test::waitUntil([&] {
            a.pump(2ms);
            b.pump(2ms);
            take();
            a.received().clear();
            return answered == size_t(kGets) + 1 && pushes == size_t(kSets);
        }, 30s)) << answered << " answers, " << pushes << " pushes";
        expectAnswersFollowPushes(seen, kSets);
        b.queue(message(wire::MSG_UNSUBSCRIBE, 3, pathBody(c.path)));
        b.pump(10ms);
    }
}

TEST_F(RequestPathEndToEnd, ATextGetNeverOvertakesThePushOfAnEarlierChange) {
    // Text answers and pushes look alike: the values B sees, with repeats
    // taken together, must be the values A set, in A's order.
    PipelineClient a(server_->port()), b(server_->port());
    ASSERT_TRUE(a.ok() && b.ok());
    b.queue("subs /qv/debug/level\n/qv/debug/level ?\n");
    std::vector<std::string> values;
    const auto take = [&] {
        std::string& text = b.received();
        for (size_t end; (end = text.find("\r\n")) != std::string::npos; text.erase(0, end + 2)) {
            const std::string line = text.substr(0, end);
            ASSERT_EQ(line.rfind("/QV/DEBUG/LEVEL: ", 0), 0u) << line;
            values.push_back(line.substr(17));
        }
    };
    ASSERT_TRUE(test::waitUntil([&] {
        b.pump(5ms);
        take();
        return values.size() == 1;
    }, 10s));
    std::vector<std::string> expected{values[0]};
    for (int n = 0; n < kSets; ++n) {
        a.queue("/qv/debug/level " + levelValue(n) + "\n");
        expected.push_back(levelValue(n));
    }
    ASSERT_NE(expected[1], expected[0]);
    for (int n = 0; n < kGets; ++n) b.queue("/qv/debug/level ?\n");
    ASSERT_TRUE(test::waitUntil([&] {
        a.pump(2ms);
        b.pump(2ms);
        take();
        a.received().clear();
        return values.size() == size_t(1 + kSets + kGets);
    }, 30s)) << values.size();
    std::vector<std::string> collapsed;
    for (const std::string& v : values)
        if (collapsed.empty() || collapsed.back() != v) collapsed.push_back(v);
    size_t same = 0;
    while (same < collapsed.size() && same < expected.size() && collapsed[same] == expected[same]) ++same;
    EXPECT_EQ(same, expected.size()) << "B's values leave A's order after " << same << " of " << expected.size()
                                     << " changes";
    EXPECT_EQ(collapsed.size(), expected.size());
    a.queue("/qv/debug/level 3\n");
    a.pump(10ms);
}

// What one session asked and what came back: per sequence id, the count and
// the values and error replies that followed it.
struct Ledger {
    std::map<uint16_t, uint32_t> counted;
    std::map<uint16_t, uint32_t> answered;
    size_t counts = 0;
    std::string unexpected;

    void take(std::string& bytes) {
        for (const test::Message& m : takeMessages(bytes)) {
            const uint16_t id = m.header.sequenceId;
            if (m.header.type == wire::MSG_GET_VALUE_REPLY || m.header.type == wire::MSG_SET_VALUE_REPLY) {
                ++counts;
                counted[id] = m.count();
            } else if (m.header.type == wire::MSG_VALUE_EVENT || m.header.type == wire::MSG_ERROR_REPLY) {
                if (!counted.count(id) && unexpected.empty()) unexpected = "an answer before its count, id " + std::to_string(id);
                ++answered[id];
            } else if (unexpected.empty()) {
                unexpected = "message type " + std::to_string(m.header.type);
            }
        }
    }
    // Requests whose values have not all come (or came more often).
    size_t open() const {
        size_t open = 0;
        for (const auto& c : counted) {
            const auto a = answered.find(c.first);
            if ((a == answered.end() ? 0u : a->second) != c.second) ++open;
        }
        return open;
    }
};

TEST_F(RequestPathEndToEnd, EveryCountedValueComesWhenTheInstrumentGoesAwayMidPipeline) {
    constexpr int kSessions = 10;
    constexpr int kRequests = 20000;
    const std::vector<Bytes> requests{
        message(wire::MSG_GET_VALUE, 0, pathBody("/dev1234/oscs/0/freq")),
        message(wire::MSG_SET_DOUBLE, 0, test::withDouble(pathBody("/dev1234/oscs/0/freq"), 1234.5)),
        message(wire::MSG_GET_VALUE, 0, pathBody("/dev1234/demods/*/timeconstant")),
        message(wire::MSG_SET_INTEGER, 0, test::withU64(pathBody("/dev1234/sigins/0/ac"), 1)),
        message(wire::MSG_GET_VALUE, 0, pathBody("/qv/about/revision /dev1234/sigins/0/range")),
        message(wire::MSG_SET_DOUBLE, 0, test::withDouble(pathBody("/dev1234/demods/0/rate"), 100.0)),
    };
    std::vector<std::unique_ptr<PipelineClient>> clients;
    std::vector<Ledger> ledgers(kSessions);
    for (int s = 0; s < kSessions; ++s) {
        clients.push_back(std::make_unique<PipelineClient>(server_->port()));
        ASSERT_TRUE(clients.back()->binary());
        for (int n = 0; n < kRequests; ++n) {
            Bytes request = requests[size_t(n) % requests.size()];
            le::put16(&request[8], uint16_t(n + 1));
            clients.back()->queue(request);
        }
    }
    const auto pumpAll = [&] {
        bool all = true;
        for (int s = 0; s < kSessions; ++s) {
            all = clients[size_t(s)]->pump(1ms) && all;
            ledgers[size_t(s)].take(clients[size_t(s)]->received());
        }
        return all;
    };
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 400ms) ASSERT_TRUE(pumpAll());
    instrument_->kill();
    ASSERT_TRUE(trees_->waitFor(removeLine(kSerial), 15s)) << trees_->received();
    instrument_.reset();
    const auto settled = [&] {
        for (int s = 0; s < kSessions; ++s)
            if (!clients[size_t(s)]->sent() || ledgers[size_t(s)].counts != size_t(kRequests) ||
                ledgers[size_t(s)].open() != 0)
                return false;
        return true;
    };
    const bool done = test::waitUntil([&] { return pumpAll() && settled(); }, 60s);
    size_t open = 0, counts = 0;
    for (const Ledger& l : ledgers) {
        EXPECT_EQ(l.unexpected, "");
        open += l.open();
        counts += l.counts;
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(counts, size_t(kSessions) * kRequests);
    EXPECT_EQ(open, 0u) << "count replies without all their values or errors";
}

// The text side of the same: each command line gets one line back, a value
// or an error, also for the requests that the instrument owed when it went.
TEST_F(RequestPathEndToEnd, EveryTextRequestIsAnsweredWhenTheInstrumentGoesAwayMidPipeline) {
    constexpr int kSessions = 4;
    constexpr int kRequests = 5000;
    const std::vector<std::string> requests{
        "/dev1234/oscs/0/freq ?\n",          "/dev1234/oscs/0/freq 1234.5\n",
        "/dev1234/sigins/0/range ?\n",       "/dev1234/demods/0/rate 100\n",
        "/dev1234/demods/0/rate \"abc\"\n", "/dev1234/features/serial 5\n",
    };
    std::vector<std::unique_ptr<PipelineClient>> clients;
    std::vector<size_t> lines(kSessions, 0);
    for (int s = 0; s < kSessions; ++s) {
        clients.push_back(std::make_unique<PipelineClient>(server_->port()));
        ASSERT_TRUE(clients.back()->ok());
        for (int n = 0; n < kRequests; ++n) clients.back()->queue(requests[size_t(n) % requests.size()]);
    }
    const auto pumpAll = [&] {
        bool all = true;
        for (int s = 0; s < kSessions; ++s) {
            all = clients[size_t(s)]->pump(1ms) && all;
            std::string& got = clients[size_t(s)]->received();
            lines[size_t(s)] += size_t(std::count(got.begin(), got.end(), '\n'));
            got.clear();
        }
        return all;
    };
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 300ms) ASSERT_TRUE(pumpAll());
    instrument_->kill();
    ASSERT_TRUE(trees_->waitFor(removeLine(kSerial), 15s)) << trees_->received();
    instrument_.reset();
    const auto settled = [&] {
        for (int s = 0; s < kSessions; ++s)
            if (!clients[size_t(s)]->sent() || lines[size_t(s)] < size_t(kRequests)) return false;
        return true;
    };
    EXPECT_TRUE(test::waitUntil([&] { return pumpAll() && settled(); }, 60s));
    // Nothing more comes than one line per request.
    for (int n = 0; n < 5; ++n) pumpAll();
    for (int s = 0; s < kSessions; ++s) EXPECT_EQ(lines[size_t(s)], size_t(kRequests)) << "session " << s;
}

}  // namespace
}  // namespace tarnix
