// The binary protocol on a session: message assembly, the replies it writes
// and the requests it posts into a device tree.
#include "BinaryTestSupport.h"
#include "TextTestSupport.h"
#include "core/DataTypes.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/TreeNotices.h"
#include "core/tree/TreeTestSupport.h"
#include "server/binary/IFaceDataBinary.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using test::Bytes;
using test::hex;
using test::message;
using test::pathBody;

constexpr uint32_t kSerial = 1234;
const std::string kLongName(130, 'L');

// The demo device (DEMODS/0..3/{TIMECONSTANT,RATE,SAMPLE}, SIGINS/0/RANGE)
// with settings on RATE, HIDE whose two children are hidden from listings
// (the first has a visible child), and a node with a 130-character name.
void buildDevice(const DispatcherTreeLock& lock) {
    test::buildDemoDevice(lock);
    for (const TreeNode::Ptr& demod : lock.getNode()->childAt(0)->children())
        demod->childAt(1)->properties()["setting"] = true;
    TreeNode::Ptr hide = test::addNode(lock.getNode(), "HIDE", 9);
    for (const char* name : {"A", "B"}) test::addNode(hide, name)->properties()["nolist"] = true;
    test::addNode(hide->childAt(0), "C");
    test::addNode(test::addNode(lock.getNode(), "LONG", 10), kLongName);
}

class BinaryRequestTest : public ::testing::Test {
protected:
    // The request FIFO takes a request of the largest message size.
    BinaryRequestTest()
        : tree_(context.treeRegistry(), TreeId::device(kSerial), buildDevice,
                std::make_shared<BufferFifo<128, 2 * 1048576>>()),
          binary_(session_) {
        binary_.hello().ignore();
        session_.take();
        session_.classes.clear();
    }

    // Feeds the bytes as one chunk and returns what the protocol wrote.
    std::string send(const Bytes& bytes, int32_t* status = nullptr) {
        session_.take();
        int32_t result = binary_.input(bytes.data(), uint32_t(bytes.size()));
        if (status) *status = result;
        return session_.take();
    }

    std::vector<Bytes> requests() { return test::drainRecords(tree_.requests()); }

    static std::string countReply(uint16_t type, uint16_t sequenceId, uint32_t count) {
        Bytes reply(wire::kCountReplySize);
        wire::encodeCountReply(reply.data(), type, sequenceId, count);
        return std::string(reply.begin(), reply.end());
    }

    static std::string errorReply(uint16_t sequenceId, uint16_t code) {
        Bytes reply(wire::kErrorReplySize);
        wire::encodeErrorReply(reply.data(), sequenceId, code);
        return std::string(reply.begin(), reply.end());
    }

    static std::string listReply(uint16_t sequenceId, const std::string& text) {
        Bytes reply(wire::listNodesReplySize(uint32_t(text.size())));
        wire::encodeHeader(reply.data(), wire::MSG_LIST_NODES_REPLY, uint32_t(reply.size()), sequenceId);
        return std::string(reply.begin(), reply.begin() + wire::kHeaderSize) + text;
    }

    ServerContext context;
    test::ScopedTree tree_;
    test::FakeSession session_{context};
    IFaceDataBinary binary_;
};

TEST_F(BinaryRequestTest, HelloIsTheEighteenBytesAndResetsTheInput) {
    test::FakeSession session{context};
    IFaceDataBinary binary(session);
    const Bytes half(6, 0xAB);
    binary.input(half.data(), uint32_t(half.size()));
    EXPECT_EQ(BinaryHello(binary), QV_NO_ERROR);
    EXPECT_EQ(hex(session.take()), "01 00 00 00 12 00 00 00 00 00 00 00 0c 00 08 00 95 42");
    EXPECT_EQ(session.classes, std::vector<int32_t>{WRITE_CLASS_TEXT});
    EXPECT_EQ(binary.received(), 0u);
    EXPECT_EQ(binary.inputState(), IFaceDataBinary::INPUT_HEADER);
}

TEST_F(BinaryRequestTest, GetAnswersTheCountAndPostsWithItsSequenceId) {
    EXPECT_EQ(hex(send(message(wire::MSG_GET_VALUE, 0x0102, pathBody("/dev1234/demods/0/rate")))),
              "06 00 00 00 10 00 00 00 02 01 00 00 01 00 00 00");
    EXPECT_EQ(session_.classes, std::vector<int32_t>{WRITE_CLASS_REPLY});
    auto records = requests();
    ASSERT_EQ(records.size(), 1u);
    ValueRecordHeader h = getValueRecordHeader(records[0].data());
    EXPECT_EQ(h.sequenceTag, 0x0102);
    EXPECT_EQ(h.sessionTag, 77);
    EXPECT_EQ(h.kind, DATATYPE_GETVALUE);

    EXPECT_EQ(send(message(wire::MSG_GET_VALUE, 9, pathBody("/dev1234/demods/*/timeconstant"))),
              countReply(wire::MSG_GET_VALUE_REPLY, 9, 4));
    records = requests();
    ASSERT_EQ(records.size(), 4u);
    for (const Bytes& r : records) EXPECT_EQ(getValueRecordHeader(r.data()).sequenceTag, 9);

    EXPECT_EQ(send(message(wire::MSG_GET_VALUE, 10, pathBody("/dev1234/demods"))),
              countReply(wire::MSG_GET_VALUE_REPLY, 10, 0));
    EXPECT_TRUE(requests().empty());
}

TEST_F(BinaryRequestTest, PollAnswersWithItsIdButPostsSequenceZero) {
    EXPECT_EQ(send(message(wire::MSG_GET_VALUE_POLL, 33, pathBody("/dev1234/demods/1/rate /1234/sigins/0/range"))),
              countReply(wire::MSG_GET_VALUE_REPLY, 33, 2));
    auto records = requests();
    ASSERT_EQ(records.size(), 2u);
    for (const Bytes& r : records) EXPECT_EQ(getValueRecordHeader(r.data()).sequenceTag, 0);
}

struct SetCase {
    uint16_t type;
    Bytes valueField;  // what follows the path in the body
    uint16_t kind;
    Bytes recordValue;  // the record after its 12-byte head
};

Bytes le64(uint64_t v) {
    Bytes b(8);
    le::put64(b.data(), v);
    return b;
}
Bytes leDouble(double v) {
    Bytes b(8);
    le::putDouble(b.data(), v);
    return b;
}

TEST_F(BinaryRequestTest, SetsPostTheirValuesAsWholeIntegersDoublesAndBytes) {
    const SetCase cases[] = {
        {wire::MSG_SET_INTEGER, le64((1ull << 32) + 1), DATATYPE_INTEGER, le64((1ull << 32) + 1)},
        {wire::MSG_SET_INTEGER_ALT, le64(uint64_t(-5)), DATATYPE_INTEGER, le64(uint64_t(-5))},
        {wire::MSG_SET_INTEGER, le64(0x80000000u), DATATYPE_INTEGER, le64(0x80000000u)},
        {wire::MSG_SET_DOUBLE, leDouble(1.5), DATATYPE_DOUBLE, leDouble(1.5)},
        {wire::MSG_SET_DOUBLE_ALT, leDouble(-2e9), DATATYPE_DOUBLE, leDouble(-2e9)},
        {wire::MSG_SET_BYTES, Bytes{3, 0, 0, 0, 'a', 'b', 'c'}, DATATYPE_BYTEARRAY, Bytes{3, 0, 0, 0, 'a', 'b', 'c'}},
        {wire::MSG_SET_BYTES_ALT, Bytes{0, 0, 0, 0}, DATATYPE_BYTEARRAY, Bytes{0, 0, 0, 0}},
    };
    uint16_t sequenceId = 100;
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.type);
        ++sequenceId;
        Bytes body = test::concat({pathBody("/dev1234/sigins/0/range"), c.valueField});
        EXPECT_EQ(send(message(c.type, sequenceId, body)), countReply(wire::MSG_SET_VALUE_REPLY, sequenceId, 1));
        auto records = requests();
        ASSERT_EQ(records.size(), 1u);
        ValueRecordHeader h = getValueRecordHeader(records[0].data());
        EXPECT_EQ(h.sequenceTag, sequenceId);
        EXPECT_EQ(h.sessionTag, 77);
        EXPECT_EQ(h.kind, c.kind);
        EXPECT_EQ(hex(Bytes(records[0].begin() + 12, records[0].end())), hex(c.recordValue));
    }
}

TEST_F(BinaryRequestTest, ShortBodiesAreAnsweredAsFailedAndChangeNothing) {
    const std::pair<uint16_t, Bytes> cases[] = {
        {wire::MSG_GET_VALUE, Bytes{5}},
        {wire::MSG_GET_VALUE, Bytes{30, 0, '/', 'd'}},
        {wire::MSG_SUBSCRIBE, Bytes{}},
        {wire::MSG_LIST_NODES, pathBody("/dev1234")},
        {wire::MSG_LIST_NODES, test::concat({pathBody("/dev1234"), Bytes{1, 0, 0}})},
        {wire::MSG_SET_INTEGER, test::concat({pathBody("/dev1234/sigins/0/range"), Bytes(7, 1)})},
        {wire::MSG_SET_DOUBLE_ALT, pathBody("/dev1234/sigins/0/range")},
        {wire::MSG_SET_BYTES, test::concat({pathBody("/dev1234/sigins/0/range"), Bytes{1, 0}})},
        {wire::MSG_SET_BYTES_ALT, test::concat({pathBody("/dev1234/sigins/0/range"), Bytes{4, 0, 0, 0, 'a', 'b'}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hex(c.second));
        int32_t status = 0;
        EXPECT_EQ(hex(send(message(c.first, 5, c.second), &status)), hex(errorReply(5, wire::ERROR_COMMAND_FAILED)));
        EXPECT_EQ(status, int32_t(QV_BUFFER_TOO_SMALL));
        EXPECT_TRUE(requests().empty());
        EXPECT_EQ(binary_.inputState(), IFaceDataBinary::INPUT_HEADER);
        EXPECT_EQ(binary_.received(), 0u);
    }
    EXPECT_TRUE(tree_.root()->childAt(1)->childAt(0)->childAt(0)->endpoint()->subscribers.empty());
}

TEST_F(BinaryRequestTest, AFailedRequestIsRunOnceAndTheRestOfTheChunkGoesOn) {
    Bytes chunk = test::concat({message(wire::MSG_GET_VALUE, 1, Bytes{7}),
                                message(wire::MSG_GET_VALUE, 2, pathBody("/dev1234/sigins/0/range"))});
    int32_t status = 0;
    EXPECT_EQ(send(chunk, &status),
              errorReply(1, wire::ERROR_COMMAND_FAILED) + countReply(wire::MSG_GET_VALUE_REPLY, 2, 1));
    EXPECT_EQ(status, int32_t(QV_BUFFER_TOO_SMALL));
    EXPECT_EQ(requests().size(), 1u);
    EXPECT_EQ(send(message(wire::MSG_GET_VALUE, 3, pathBody("/dev1234/sigins/0/range")), &status),
              countReply(wire::MSG_GET_VALUE_REPLY, 3, 1));
    EXPECT_EQ(status, 0);
}

TEST_F(BinaryRequestTest, TwoRequestsInOneReadAndOneSplitOverManyReads) {
    Bytes first = message(wire::MSG_GET_VALUE, 1, pathBody("/dev1234/demods/0/rate"));
    Bytes second = message(wire::MSG_SET_DOUBLE, 2, test::withDouble(pathBody("/dev1234/demods/1/rate"), 2.0));
    EXPECT_EQ(send(test::concat({first, second})),
              countReply(wire::MSG_GET_VALUE_REPLY, 1, 1) + countReply(wire::MSG_SET_VALUE_REPLY, 2, 1));
    EXPECT_EQ(requests().size(), 2u);

    // Byte by byte, with a message of the header alone in between.
    Bytes stream = test::concat({second, message(wire::MSG_UNSUBSCRIBE_REPLY, 4, Bytes{}), first});
    std::string written;
    for (size_t i = 0; i < stream.size(); ++i) {
        written += send(Bytes{stream[i]});
        if (i + 1 < second.size()) {
            EXPECT_EQ(written, "") << i;
        }
    }
    EXPECT_EQ(written, countReply(wire::MSG_SET_VALUE_REPLY, 2, 1) + errorReply(4, wire::ERROR_COMMAND_FAILED) +
                           countReply(wire::MSG_GET_VALUE_REPLY, 1, 1));
    EXPECT_EQ(requests().size(), 2u);
}

TEST_F(BinaryRequestTest, TypesWithoutHandlerAreAnsweredAsFailedAndTheSessionGoesOn) {
    for (uint16_t type : {uint16_t(0), uint16_t(1), uint16_t(3), uint16_t(6), uint16_t(15), uint16_t(16),
                          uint16_t(18), uint16_t(22), uint16_t(30), uint16_t(0xFFFF)}) {
        int32_t status = -1;
        EXPECT_EQ(send(message(type, 8, pathBody("/dev1234/sigins/0/range")), &status),
                  errorReply(8, wire::ERROR_COMMAND_FAILED))
            << type;
        EXPECT_EQ(status, 0);
    }
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(send(message(wire::MSG_GET_VALUE, 9, pathBody("/dev1234/sigins/0/range"))),
              countReply(wire::MSG_GET_VALUE_REPLY, 9, 1));
}

TEST_F(BinaryRequestTest, ImpossibleLengthsCloseTheSessionAndEndTheInput) {
    for (uint32_t total : {0u, 11u, IFaceDataBinary::kInputBufferSize + 1, 0xFFFFFFFFu}) {
        SCOPED_TRACE(total);
        test::FakeSession session{context};
        IFaceDataBinary binary(session);
        Bytes chunk = test::concat({message(wire::MSG_GET_VALUE, 1, Bytes{}, total),
                                    message(wire::MSG_GET_VALUE, 2, pathBody("/dev1234/sigins/0/range"))});
        EXPECT_NE(binary.input(chunk.data(), uint32_t(chunk.size())), 0);
        EXPECT_EQ(session.closeCalls, 1);
        EXPECT_TRUE(binary.refused());
        EXPECT_EQ(binary.input(chunk.data(), uint32_t(chunk.size())), 0);
        EXPECT_EQ(session.take(), "");
        EXPECT_TRUE(requests().empty());
    }
}

TEST_F(BinaryRequestTest, LargestMessageIsAccepted) {
    Bytes body = test::concat({pathBody("/dev1234/sigins/0/range"), Bytes(4, 0)});
    const uint32_t bytes = IFaceDataBinary::kInputBufferSize - wire::kHeaderSize - uint32_t(body.size());
    le::put32(&body[body.size() - 4], bytes);
    body.resize(body.size() + bytes, 'x');
    EXPECT_EQ(send(message(wire::MSG_SET_BYTES, 4, body)), countReply(wire::MSG_SET_VALUE_REPLY, 4, 1));
    auto records = requests();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].size(), 16u + bytes);
}

TEST_F(BinaryRequestTest, UpdateDevicesAnswersItsReplyOrErrorCodeOne) {
    context.treeRegistry().setDeviceUpdateHook([] { return QV_STATUS(QV_NO_ERROR); });
    EXPECT_EQ(hex(send(message(wire::MSG_UPDATE_DEVICES, 0x0A0B, Bytes{}))), "12 00 00 00 0c 00 00 00 0b 0a 00 00");
    context.treeRegistry().setDeviceUpdateHook([] { return QV_STATUS(QV_USB_FAILED); });
    EXPECT_EQ(hex(send(message(wire::MSG_UPDATE_DEVICES, 7, Bytes{}))),
              "10 00 00 00 0e 00 00 00 07 00 00 00 01 00");
    context.treeRegistry().setDeviceUpdateHook(nullptr);
}

TEST_F(BinaryRequestTest, SubscribeAndUnsubscribeAnswerAndChangeTheSubscribers) {
    const std::shared_ptr<Endpoint>& range = tree_.root()->childAt(1)->childAt(0)->childAt(0)->endpoint();
    EXPECT_EQ(hex(send(message(wire::MSG_SUBSCRIBE, 5, pathBody("/dev1234/sigins")))),
              "0c 00 00 00 0c 00 00 00 05 00 00 00");
    EXPECT_EQ(range->subscribers, std::list<SessionClient*>{&session_.client});
    EXPECT_EQ(hex(send(message(wire::MSG_UNSUBSCRIBE, 6, pathBody("/dev1234/sigins/0/range")))),
              "0e 00 00 00 0c 00 00 00 06 00 00 00");
    EXPECT_TRUE(range->subscribers.empty());
}

// A session that notes, at every write, whether it is subscribed to an
// endpoint and whether another thread could take the tree structure lock.
class WatchingSession : public test::FakeSession {
public:
    struct Seen {
        bool subscribed;
        bool structureFree;
    };
    WatchingSession(ServerContext& context, std::shared_ptr<Endpoint> endpoint)
        : FakeSession(context, 78), endpoint_(std::move(endpoint)) {}
    void write(const uint8_t* data, uint32_t length, int32_t dataClass) override {
        const auto& subscribers = endpoint_->subscribers;
        const bool subscribed = std::find(subscribers.begin(), subscribers.end(), &client) != subscribers.end();
        const bool structureFree = std::async(std::launch::async, [this] {
                                       std::unique_lock<SharedTimedMutex::Native> lock(
                                           context.treeRegistry().treeStructureMutex().native(), std::try_to_lock);
                                       return lock.owns_lock();
                                   }).get();
        seen.push_back(Seen{subscribed, structureFree});
        FakeSession::write(data, length, dataClass);
    }
    std::vector<Seen> seen;

private:
    std::shared_ptr<Endpoint> endpoint_;
};

TEST_F(BinaryRequestTest, ASubscribeIsAnsweredOnceDoneAsFailedWhenItFailedAndOutsideTheTreeLocks) {
    const std::shared_ptr<Endpoint> range = tree_.root()->childAt(1)->childAt(0)->childAt(0)->endpoint();
    WatchingSession session(context, range);
    IFaceDataBinary binary(session);
    binary.hello().ignore();
    session.take();
    session.seen.clear();

    const Bytes subscribe = message(wire::MSG_SUBSCRIBE, 5, pathBody("/dev1234/sigins"));
    EXPECT_EQ(binary.input(subscribe.data(), uint32_t(subscribe.size())), 0);
    EXPECT_EQ(hex(session.take()), "0c 00 00 00 0c 00 00 00 05 00 00 00");
    ASSERT_EQ(session.seen.size(), 1u);
    EXPECT_TRUE(session.seen[0].subscribed) << "answered before it was done";
    EXPECT_TRUE(session.seen[0].structureFree) << "answered under the structure lock";

    // The subscription lock stays taken beyond the time-out: the unsubscribe
    // fails, leaves the session subscribed, and says so.
    TreeRegistry& registry = context.treeRegistry();
    const std::chrono::milliseconds timeout = registry.subscriptionLockTimeout();
    registry.setSubscriptionLockTimeout(std::chrono::milliseconds(20));
    std::promise<void> taken, release;
    std::thread holder([&] {
        UniqueLock<SharedTimedMutex> lock(registry.treeSubscriptionMutex());
        taken.set_value();
        release.get_future().wait();
    });
    taken.get_future().wait();
    const Bytes unsubscribe = message(wire::MSG_UNSUBSCRIBE, 6, pathBody("/dev1234/sigins/0/range"));
    EXPECT_EQ(binary.input(unsubscribe.data(), uint32_t(unsubscribe.size())), int32_t(QV_COMMAND_SERVER_FAILED));
    release.set_value();
    holder.join();
    registry.setSubscriptionLockTimeout(timeout);
    EXPECT_EQ(hex(session.take()), "10 00 00 00 0e 00 00 00 06 00 00 00 01 00");
    ASSERT_EQ(session.seen.size(), 2u);
    EXPECT_TRUE(session.seen[1].subscribed);
    EXPECT_TRUE(session.seen[1].structureFree) << "answered under the structure lock";
}

// Every endpoint of the node and below it.
void collectEndpoints(const TreeNode::Ptr& node, std::vector<std::shared_ptr<Endpoint>>& endpoints) {
    if (node->endpoint()) endpoints.push_back(node->endpoint());
    for (const TreeNode::Ptr& child : node->children()) collectEndpoints(child, endpoints);
}

TEST_F(BinaryRequestTest, ASubscribeThatTimesOutPartWayLeavesNothingSubscribed) {
    std::vector<std::shared_ptr<Endpoint>> endpoints;
    collectEndpoints(tree_.root(), endpoints);
    ASSERT_GT(endpoints.size(), 5u);
    // Another thread takes the subscription lock again and again, each time
    // for longer than a subscribe waits for it.
    TreeRegistry& registry = context.treeRegistry();
    const std::chrono::milliseconds timeout = registry.subscriptionLockTimeout();
    registry.setSubscriptionLockTimeout(std::chrono::milliseconds(1));
    std::atomic<bool> stop{false};
    std::atomic<int> holds{0};
    std::thread holder([&] {
        while (!stop.load()) {
            UniqueLock<SharedTimedMutex> lock(registry.treeSubscriptionMutex());
            ++holds;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    EXPECT_TRUE(test::waitUntil([&] { return holds.load() > 0; }, std::chrono::seconds(5)));
    int failed = 0, partial = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (uint16_t sequenceId = 1; std::chrono::steady_clock::now() < end && failed < 40; ++sequenceId) {
        const std::string answer = send(message(wire::MSG_SUBSCRIBE, sequenceId, pathBody("/dev1234")));
        UniqueLock<SharedTimedMutex> lock(registry.treeSubscriptionMutex());
        size_t subscribed = 0;
        for (const auto& endpoint : endpoints) {
            assertSameMutex(registry.treeSubscriptionMutex(), endpoint->subscriptionMutex);
            subscribed += endpoint->subscribers.size();
            endpoint->subscribers.clear();
        }
        if (answer == errorReply(sequenceId, wire::ERROR_COMMAND_FAILED)) {
            ++failed;
            if (subscribed != 0) ++partial;
        } else {
            EXPECT_EQ(hex(answer), hex(message(wire::MSG_SUBSCRIBE_REPLY, sequenceId, Bytes{})));
            EXPECT_EQ(subscribed, endpoints.size());
        }
    }
    stop.store(true);
    holder.join();
    registry.setSubscriptionLockTimeout(timeout);
    EXPECT_GT(failed, 0);
    EXPECT_EQ(partial, 0) << "failed subscribes that left endpoints subscribed, of " << failed;
}

struct ListCase {
    const char* path;
    uint32_t flags;
    std::string text;
};

TEST_F(BinaryRequestTest, ListingsFollowTheFlags) {
    const std::string rates = "RATE\nRATE\nRATE\nRATE\n";
    const ListCase cases[] = {
        {"/dev1234", 0, "DEMODS\nSIGINS\nHIDE\nLONG\n"},
        {"/dev1234/hide", 1, "C\n"},
        {"/dev1234/sigins", 1, "0\nRANGE\n"},
        {"/dev1234/sigins", 3, "/DEV1234/SIGINS/0\n/DEV1234/SIGINS/0/RANGE\n"},
        {"/dev1234/demods/0", 4, "TIMECONSTANT\nRATE\nSAMPLE\n"},
        {"/dev1234/demods", 4, ""},
        {"/dev1234", 5, "TIMECONSTANT\nRATE\nSAMPLE\nTIMECONSTANT\nRATE\nSAMPLE\nTIMECONSTANT\nRATE\nSAMPLE\n"
                        "TIMECONSTANT\nRATE\nSAMPLE\nRANGE\n"},
        {"/dev1234/demods", 9, rates},
        {"/dev1234/demods/2 /dev1234/sigins", 15, "/DEV1234/DEMODS/2/RATE\n"},
        {"/dev1234/long", 0, std::string(127, 'L') + "\n"},
        {"/dev1234/long", 2, ""},
    };
    uint16_t sequenceId = 40;
    for (const ListCase& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " flags " + std::to_string(c.flags));
        ++sequenceId;
        EXPECT_EQ(send(message(wire::MSG_LIST_NODES, sequenceId, test::withU32(pathBody(c.path), c.flags))),
                  listReply(sequenceId, c.text));
    }
    EXPECT_EQ(send(message(wire::MSG_LIST_NODES, 60, test::withU32(pathBody("/nothing"), 1))),
              errorReply(60, wire::ERROR_NOT_FOUND));
}

TEST_F(BinaryRequestTest, PathsUpTo256CharactersAreTakenWholeAndLongerOnesRefused) {
    const uint32_t rangeId = tree_.root()->childAt(1)->childAt(0)->childAt(0)->endpoint()->id;
    const uint32_t rateId = tree_.root()->childAt(0)->childAt(0)->childAt(1)->endpoint()->id;
    // The second path of the list lies beyond character 127, the last one ends at 256.
    std::string path = "/dev1234/sigins/0/range";
    path.resize(200, ' ');
    path += "/dev1234/demods/0/rate";
    path.resize(256, ' ');
    EXPECT_EQ(send(message(wire::MSG_SET_INTEGER, 3, test::withU64(pathBody(path), 42))),
              countReply(wire::MSG_SET_VALUE_REPLY, 3, 2));
    auto records = requests();
    ASSERT_EQ(records.size(), 2u);
    std::set<uint32_t> targets;
    for (const Bytes& record : records) {
        EXPECT_EQ(le::get64(&record[12]), 42u);
        targets.insert(getValueRecordHeader(record.data()).endpointId);
    }
    EXPECT_EQ(targets, (std::set<uint32_t>{rangeId, rateId}));
    // One character more: refused whole with an error reply, nothing posted.
    path += ' ';
    Bytes error(wire::kErrorReplySize);
    wire::encodeErrorReply(error.data(), 4, wire::ERROR_COMMAND_FAILED);
    for (uint16_t type : {wire::MSG_SET_INTEGER, wire::MSG_GET_VALUE, wire::MSG_LIST_NODES, wire::MSG_SUBSCRIBE}) {
        SCOPED_TRACE(type);
        Bytes body = pathBody(path);
        if (type == wire::MSG_SET_INTEGER) body = test::withU64(body, 42);
        if (type == wire::MSG_LIST_NODES) body = test::withU32(body, 0);
        EXPECT_EQ(hex(send(message(type, 4, body))), hex(std::string(error.begin(), error.end())));
        EXPECT_TRUE(requests().empty());
    }
}

TEST(BinaryListing, AListingBeyondTheOutputBufferIsRefusedWithAnError) {
    ServerContext context;
    // About 1.09 MB of names.
    test::ScopedTree big(context.treeRegistry(), TreeId::device(99), [](const DispatcherTreeLock& lock) {
        TreeNode::Ptr group = test::addNode(lock.getNode(), "MANY");
        for (int i = 0; i < 9000; ++i) {
            std::string name = std::to_string(i);
            name.resize(120, 'N');
            test::addNode(group, name);
        }
    });
    test::FakeSession session{context};
    IFaceDataBinary binary(session);
    Bytes request = message(wire::MSG_LIST_NODES, 77, test::withU32(pathBody("/dev99/many"), 0));
    EXPECT_EQ(binary.input(request.data(), uint32_t(request.size())), int32_t(QV_BUFFER_TOO_SMALL));
    EXPECT_EQ(hex(session.take()), "10 00 00 00 0e 00 00 00 4d 00 00 00 01 00");

    // A listing below the limit goes out whole.
    request = message(wire::MSG_LIST_NODES, 78, test::withU32(pathBody("/dev99"), 0));
    EXPECT_EQ(binary.input(request.data(), uint32_t(request.size())), 0);
    EXPECT_EQ(session.take(), std::string("\x03\0\0\0\x11\0\0\0\x4e\0\0\0MANY\n", 17));
}

TEST(BinaryListing, AListingLongerThan64KiBArrivesWholeWithItsFullLength) {
    ServerContext context;
    std::string names;
    test::ScopedTree tree(context.treeRegistry(), TreeId::device(98), [&names](const DispatcherTreeLock& lock) {
        TreeNode::Ptr group = test::addNode(lock.getNode(), "SOME");
        for (int i = 0; i < 1000; ++i) {
            std::string name = std::to_string(i);
            name.resize(120, 'N');
            test::addNode(group, name);
            names += name + "\n";
        }
    });
    test::FakeSession session{context};
    IFaceDataBinary binary(session);
    const Bytes request = message(wire::MSG_LIST_NODES, 79, test::withU32(pathBody("/dev98/some"), 0));
    EXPECT_EQ(binary.input(request.data(), uint32_t(request.size())), 0);
    const std::string reply = session.take();
    ASSERT_EQ(reply.size(), wire::kHeaderSize + names.size());
    EXPECT_EQ(le::get32(reinterpret_cast<const uint8_t*>(reply.data()) + 4), uint32_t(reply.size()));
    EXPECT_EQ(reply.substr(wire::kHeaderSize), names);
}

}  // namespace
}  // namespace tarnix
