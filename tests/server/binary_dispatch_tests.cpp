// The binary protocol together with the dispatcher in the test process: a
// request goes in, its reply and value events come out as the client sees
// them, and streamed blocks arrive merged into one event.
#include "BinaryTestSupport.h"
#include "ServerTestSupport.h"
#include "core/DataTypes.h"
#include "core/ValueRecord.h"
#include "core/component/ExceptionCarrier.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeEndpoints.h"
#include "core/tree/TreeTestSupport.h"
#include "server/binary/BinaryProtocol.h"
#include "server/binary/IFaceDataBinary.h"
#include "server/dispatcher/Dispatcher.h"
#include "server/dispatcher/DispatcherImpl.h"

#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>

#include <string>
#include <vector>

namespace tarnix {
namespace {

using test::Bytes;
using test::hex;
using test::message;
using test::pathBody;

// A binary session as both the protocol and the dispatcher see it.
class BinarySession : public SessionActionsInterface {
public:
    BinarySession(ServerContext& serverContext, uint16_t id) : context(serverContext), protocol(*this) {
        client.sessionId = id;
        client.interfaceType.store(INTERFACE_BINARY);
        client.context = this;
        client.writeFunction = [](const uint8_t* d, uint32_t n, SessionActionsInterface* c, int32_t cls) {
            c->write(d, n, cls);
            return 0;
        };
        UniqueLock<SharedMutex> lock(context.treeRegistry().sessionListMutex());
        context.treeRegistry().sessionClientList().append(client);
    }
    ~BinarySession() override { DispatcherRemoveClient(context.treeRegistry(), &client).ignore(); }

    InterfaceType getInterface() const override { return INTERFACE_BINARY; }
    void requestInterface(InterfaceType) override {}
    void close() override {}
    void write(const uint8_t* data, uint32_t length, int32_t dataClass) override {
        received.append(reinterpret_cast<const char*>(data), length);
        classes.push_back(dataClass);
    }
    SessionClient* getClient() override { return &client; }
    ServerContext& serverContext() override { return context; }
    void attachStream(std::shared_ptr<StreamFeedReader> reader) override { streams.attach(std::move(reader)); }
    void streamReady() override {
        streams.collect([this](const uint8_t* data, uint32_t length) { write(data, length, WRITE_CLASS_STREAM); });
    }

    void send(const Bytes& bytes) { EXPECT_EQ(protocol.input(bytes.data(), uint32_t(bytes.size())), 0); }
    std::vector<test::Message> take() {
        std::string rest;
        std::vector<test::Message> messages = test::splitMessages(received, &rest);
        EXPECT_EQ(rest, "") << "a partial message";
        received.clear();
        return messages;
    }

    ServerContext& context;
    SessionClient client;
    IFaceDataBinary protocol;
    std::string received;
    std::vector<int32_t> classes;
    test::StreamCollector streams;
};

constexpr uint32_t kSerial = 4321;

class BinaryDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        setProtocolHooks(context.protocols(), INTERFACE_BINARY, makeBinaryProtocolHooks());
        dispatcher_ = std::make_shared<Dispatcher>(carrier_, context);
        DispatcherTreeCreator creator(context.treeRegistry(), TreeId::device(kSerial), output_, requests_);
        tree_ = creator.getTree();
        for (const char* name : {"VALUE", "DEMOD", "AUXIN", "DIO", "BYTES"}) {
            int32_t id = -1;
            nodes_.push_back(test::addLeaf(tree_, creator.getNode(), name, &id));
            ids_.push_back(id);
        }
        for (uint16_t type : {DATATYPE_DEMODSAMPLE, DATATYPE_AUXINSAMPLE, DATATYPE_DIOSAMPLE, DATATYPE_BYTEARRAY})
            streams_.push_back(DispatcherTreeBufferEndpoint(tree_, ids_[streams_.size() + 1], type));
    }
    void TearDown() override {
        { DispatcherTreeRemover remover(tree_); }
        setProtocolHooks(context.protocols(), INTERFACE_BINARY, ProtocolHooks());
    }

    // Answers every queued read request of the tree with a double, as the
    // tree's owner would.
    void answerReads(double value) {
        for (const Bytes& record : test::drainRecords(*requests_)) {
            ValueRecordHeader h = getValueRecordHeader(record.data());
            ASSERT_EQ(h.kind, DATATYPE_GETVALUE);
            ASSERT_EQ(ReturnParamValueDouble(*output_, h.sequenceTag, h.sessionTag, h.endpointId,
                                             VALUE_FLAG_REPLY_ONLY, value),
                      QV_NO_ERROR);
        }
    }
    void subscribe(BinarySession& session, int node) {
        UniqueLock<SharedTimedMutex> lock(context.treeRegistry().treeSubscriptionMutex());
        EXPECT_EQ(EndpointAddClient(nodes_[size_t(node)]->endpoint(), &session.client), QV_NO_ERROR);
    }
    uint32_t passes(int count, bool streamPass = false) {
        uint32_t handled = 0;
        for (int i = 0; i < count; ++i) handled += dispatcher_->impl().pass(streamPass);
        return handled;
    }

    ServerContext context;
    exception::ExceptionCarrier carrier_;
    std::shared_ptr<Dispatcher> dispatcher_;
    std::shared_ptr<QVFifo> output_ = std::make_shared<BufferFifo<1024, 1 << 20>>();
    std::shared_ptr<QVFifo> requests_ = std::make_shared<BufferFifo<1024, 1 << 16>>();
    std::shared_ptr<DispatcherTree> tree_;
    std::vector<TreeNode::Ptr> nodes_;
    std::vector<int32_t> ids_;
    // The buffers of DEMOD, AUXIN, DIO and BYTES (nodes 1 to 4).
    std::vector<std::shared_ptr<BufferFifoBase>> streams_;
};

TEST_F(BinaryDispatchTest, GetOfADoubleNodeAnswersTheCountThenTheValueEvent) {
    BinarySession session(context, 21);
    session.send(message(wire::MSG_GET_VALUE, 0x0307, pathBody("/dev4321/value")));
    answerReads(0.5);
    EXPECT_EQ(passes(1), 1u);
    EXPECT_EQ(hex(session.received),
              "06 00 00 00 10 00 00 00 07 03 00 00 01 00 00 00 "   // reply, count 1
              "0f 00 00 00 2a 00 00 00 07 03 00 00 01 00 01 00 00 00 0e 00 "
              "2f 44 45 56 34 33 32 31 2f 56 41 4c 55 45 "          // /DEV4321/VALUE
              "00 00 00 00 00 00 e0 3f");                            // 0.5
    EXPECT_EQ(session.classes, (std::vector<int32_t>{WRITE_CLASS_REPLY, WRITE_CLASS_REPLY}));
}

TEST_F(BinaryDispatchTest, PollEventsCarrySequenceZero) {
    BinarySession session(context, 22);
    session.send(message(wire::MSG_GET_VALUE_POLL, 99, pathBody("/dev4321/value /dev4321/demod")));
    answerReads(1.0);
    EXPECT_EQ(passes(2), 2u);
    std::vector<test::Message> got = session.take();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].header.type, wire::MSG_GET_VALUE_REPLY);
    EXPECT_EQ(got[0].header.sequenceId, 99);
    EXPECT_EQ(got[0].count(), 2u);
    for (int i = 1; i < 3; ++i) {
        wire::ValueEventView event;
        ASSERT_TRUE(got[size_t(i)].event(event));
        EXPECT_EQ(event.sequenceId, 0);
        EXPECT_EQ(event.dataType, DATATYPE_DOUBLE);
        EXPECT_EQ(le::getDouble(event.data), 1.0);
    }
}

TEST_F(BinaryDispatchTest, SetReachesTheAskerWithItsIdAndOtherSubscribersWithZero) {
    BinarySession asker(context, 23), other(context, 24);
    subscribe(other, 0);
    asker.send(message(wire::MSG_SET_INTEGER, 5, test::withU64(pathBody("/dev4321/value"), 7)));
    auto records = test::drainRecords(*requests_);
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(ReturnParamValueInteger(*output_, 5, 23, uint32_t(ids_[0]), 0, 7), QV_NO_ERROR);
    EXPECT_EQ(passes(1), 1u);
    std::vector<test::Message> mine = asker.take(), theirs = other.take();
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].header.type, wire::MSG_SET_VALUE_REPLY);
    EXPECT_EQ(mine[1].header.sequenceId, 5);
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_EQ(theirs[0].header.sequenceId, 0);
    EXPECT_EQ(other.classes, std::vector<int32_t>{WRITE_CLASS_PUSH});
    EXPECT_EQ(theirs[0].bytes.size() - 8, mine[1].bytes.size() - 8);
}

struct StreamCase {
    uint16_t type;
    uint32_t sampleSize;
};

class BinaryStreamDispatch : public BinaryDispatchTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(BinaryStreamDispatch, BlocksBetweenTwoStreamPassesArriveAsOneEvent) {
    const StreamCase c = GetParam();
    const int node = c.type == DATATYPE_DEMODSAMPLE ? 1 : c.type == DATATYPE_AUXINSAMPLE ? 2 : 3;
    const auto& buffer = streams_[size_t(node - 1)];
    BinarySession session(context, 25);
    subscribe(session, node);
    Bytes expected;
    for (int block = 0; block < 10; ++block) {
        FifoWriter writer(*buffer, c.sampleSize * 3);
        ASSERT_TRUE(writer.isValid());
        for (uint32_t i = 0; i < c.sampleSize * 3; ++i) writer.data()[i] = uint8_t(block * 31 + i);
        expected.insert(expected.end(), writer.data(), writer.data() + c.sampleSize * 3);
        writer.commitAll();
    }
    passes(1, true);
    std::vector<test::Message> got = session.take();
    ASSERT_EQ(got.size(), 1u);
    wire::ValueEventView event;
    ASSERT_TRUE(got[0].event(event));
    EXPECT_EQ(event.sequenceId, 0);
    EXPECT_EQ(event.dataType, c.type);
    EXPECT_EQ(event.count, 30u);
    EXPECT_EQ(Bytes(event.data, event.data + event.dataLength), expected);
    EXPECT_EQ(session.classes, std::vector<int32_t>{WRITE_CLASS_STREAM});
}

INSTANTIATE_TEST_SUITE_P(SampleTypes, BinaryStreamDispatch,
                         ::testing::Values(StreamCase{DATATYPE_DEMODSAMPLE, 64}, StreamCase{DATATYPE_AUXINSAMPLE, 24},
                                           StreamCase{DATATYPE_DIOSAMPLE, 16}));

TEST_F(BinaryDispatchTest, ByteArrayBlocksArriveJoinedIntoOnePiece) {
    const auto& buffer = streams_[3];
    BinarySession session(context, 26);
    subscribe(session, 4);
    for (const std::string piece : {"first ", "second ", "third"}) {
        FifoWriter writer(*buffer, uint32_t(4 + piece.size()));
        ASSERT_TRUE(writer.isValid());
        le::put32(writer.data(), uint32_t(piece.size()));
        std::copy(piece.begin(), piece.end(), writer.data() + 4);
        writer.commitAll();
    }
    passes(1, true);
    std::vector<test::Message> got = session.take();
    ASSERT_EQ(got.size(), 1u);
    wire::ValueEventView event;
    ASSERT_TRUE(got[0].event(event));
    EXPECT_EQ(event.count, 1u);
    ASSERT_EQ(event.dataLength, 4u + 18u);
    EXPECT_EQ(le::get32(event.data), 18u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(event.data) + 4, 18), "first second third");
}

}  // namespace
}  // namespace tarnix
