// The dispatcher's passes over a device tree of its own, delivering to
// session records that only record what they get.
#include "ServerTestSupport.h"
#include "core/LogCapture.h"
#include "core/ValueRecord.h"
#include "core/component/ExceptionCarrier.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/TreeEndpoints.h"
#include "server/dispatcher/Dispatcher.h"
#include "server/dispatcher/DispatcherImpl.h"
#include "server/binary/BinaryEncoders.h"
#include "server/binary/BinaryProtocol.h"
#include "core/tree/FailedRequests.h"
#include "core/tree/RequestGate.h"
#include "core/tree/TreeTestSupport.h"
#include "wire/BinaryWire.h"
#include "server/text/AsciiProtocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnix {
namespace {

struct Delivery {
    int32_t dataClass;
    std::string text;
};

// A session as the dispatcher sees it.
class RecordingSession : public SessionActionsInterface {
public:
    RecordingSession(ServerContext& serverContext, uint16_t id, InterfaceType type) : context(serverContext) {
        client.sessionId = id;
        client.interfaceType.store(type);
        client.context = this;
        client.writeFunction = [](const uint8_t* d, uint32_t n, SessionActionsInterface* c, int32_t cls) {
            c->write(d, n, cls);
            return 0;
        };
        UniqueLock<SharedMutex> lock(context.treeRegistry().sessionListMutex());
        context.treeRegistry().sessionClientList().append(client);
    }
    ~RecordingSession() override { DispatcherRemoveClient(context.treeRegistry(), &client).ignore(); }

    InterfaceType getInterface() const override { return InterfaceType(client.interfaceType.load()); }
    void requestInterface(InterfaceType) override {}
    void close() override {}
    void write(const uint8_t* data, uint32_t length, int32_t dataClass) override {
        got.push_back({dataClass, std::string(reinterpret_cast<const char*>(data), length)});
    }
    SessionClient* getClient() override { return &client; }
    ServerContext& serverContext() override { return context; }
    void attachStream(std::shared_ptr<StreamFeedReader> reader) override { streams.attach(std::move(reader)); }
    // The dispatcher runs on the test's thread: its stream messages are
    // taken at once, as if sent.
    void streamReady() override {
        streams.collect([this](const uint8_t* data, uint32_t length) {
            got.push_back({WRITE_CLASS_STREAM, std::string(reinterpret_cast<const char*>(data), length)});
        });
    }

    ServerContext& context;
    SessionClient client;
    std::vector<Delivery> got;
    test::StreamCollector streams;
};

class DispatcherFixture : public ::testing::Test {
protected:
    void SetUp() override {
        test::StandInProtocol::install(context.protocols());
        dispatcher = std::make_shared<Dispatcher>(carrier, context);
        DispatcherTreeCreator creator(context.treeRegistry(), TreeId::device(4321), output, request);
        tree = creator.getTree();
        for (const char* name : {"VALUE", "OTHER", "SAMPLE"}) {
            auto node = std::make_shared<TreeNode>();
            applyNodeIdentity(*node, name, NodeNameKind::Plain, 1, 99);
            TreeNode::addChild(creator.getNode(), node);
            int32_t id = -1;
            EXPECT_EQ(DispatcherTreeAddEndpoint(tree, node, 0, &id), QV_NO_ERROR);
            ids.push_back(id);
            nodes.push_back(node);
        }
        stream = DispatcherTreeBufferEndpoint(tree, ids[2], DATATYPE_DEMODSAMPLE);
    }
    void TearDown() override {
        { DispatcherTreeRemover remover(tree); }
        setProtocolHooks(context.protocols(), INTERFACE_TEXT, ProtocolHooks());
        setProtocolHooks(context.protocols(), INTERFACE_BINARY, ProtocolHooks());
    }

    void subscribe(RecordingSession& s, int node) {
        UniqueLock<SharedTimedMutex> lock(context.treeRegistry().treeSubscriptionMutex());
        EXPECT_EQ(EndpointAddClient(nodes[size_t(node)]->endpoint(), &s.client), QV_NO_ERROR);
    }
    void push(uint16_t seq, uint16_t session, int32_t id, uint16_t flags, int64_t value) {
        ASSERT_EQ(ReturnParamValueInteger(*output, seq, session, uint32_t(id), flags, value), QV_NO_ERROR);
    }
    void appendSamples(uint32_t bytes) {
        FifoWriter writer(*stream, bytes);
        ASSERT_TRUE(writer.isValid());
        std::memset(writer.data(), 0x5A, bytes);
        writer.commitAll();
    }
    uint32_t pass(bool streamPass = false) { return dispatcher->impl().pass(streamPass); }

    ServerContext context;
    exception::ExceptionCarrier carrier;
    std::shared_ptr<Dispatcher> dispatcher;
    std::shared_ptr<QVFifo> output = std::make_shared<BufferFifo<1024, 1 << 20>>();
    std::shared_ptr<QVFifo> request = std::make_shared<BufferFifo<16, 4096>>();
    std::shared_ptr<DispatcherTree> tree;
    std::shared_ptr<BufferFifoBase> stream;
    std::vector<int32_t> ids;
    std::vector<TreeNode::Ptr> nodes;
};

TEST_F(DispatcherFixture, AReplyReachesOnlyTheSessionThatAsked) {
    RecordingSession a(context, 11, INTERFACE_TEXT), b(context, 12, INTERFACE_TEXT);
    subscribe(a, 0);
    subscribe(b, 0);
    push(5, 11, ids[0], VALUE_FLAG_REPLY_ONLY, 7);
    EXPECT_EQ(pass(), 1u);
    ASSERT_EQ(a.got.size(), 1u);
    EXPECT_EQ(a.got[0].dataClass, WRITE_CLASS_REPLY);
    EXPECT_EQ(a.got[0].text, "/DEV4321/VALUE seq=5 kind=2 7\n");
    EXPECT_TRUE(b.got.empty());
}

struct ChangeCase {
    bool askerSubscribed;
    bool otherSubscribed;
    uint16_t flags;
    const char* name;
};

class ValueChanges : public DispatcherFixture, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ValueChanges, TheAskerGetsItsSequenceAndOthersAPush) {
    const ChangeCase& c = GetParam();
    RecordingSession asker(context, 21, INTERFACE_TEXT), other(context, 22, INTERFACE_BINARY),
        third(context, 23, INTERFACE_BINARY);
    if (c.askerSubscribed) subscribe(asker, 0);
    if (c.otherSubscribed) {
        subscribe(other, 0);
        subscribe(third, 0);
    }
    push(9, 21, ids[0], c.flags, -3);
    EXPECT_EQ(pass(), 1u);
    ASSERT_EQ(asker.got.size(), 1u);
    EXPECT_EQ(asker.got[0].dataClass, WRITE_CLASS_REPLY);
    EXPECT_EQ(asker.got[0].text, "/DEV4321/VALUE seq=9 kind=2 -3\n");
    const int32_t pushClass = c.flags == VALUE_FLAG_DROPPABLE ? WRITE_CLASS_DROPPABLE : WRITE_CLASS_PUSH;
    for (RecordingSession* s : {&other, &third}) {
        ASSERT_EQ(s->got.size(), c.otherSubscribed ? 1u : 0u);
        if (!c.otherSubscribed) continue;
        EXPECT_EQ(s->got[0].dataClass, pushClass);
        EXPECT_EQ(s->got[0].text, "/DEV4321/VALUE seq=0 kind=2 -3\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ValueChanges,
                         ::testing::Values(ChangeCase{true, true, VALUE_FLAG_CHANGED, "both"},
                                           ChangeCase{false, true, VALUE_FLAG_CHANGED, "othersOnly"},
                                           ChangeCase{true, false, VALUE_FLAG_CHANGED, "askerOnly"},
                                           ChangeCase{false, false, VALUE_FLAG_CHANGED, "nobody"},
                                           ChangeCase{true, true, VALUE_FLAG_DROPPABLE, "droppable"}),
                         [](const ::testing::TestParamInfo<ChangeCase>& info) { return info.param.name; });

TEST_F(DispatcherFixture, UnsolicitedChangesAndClosedAskersReachOnlySubscribers) {
    RecordingSession subscriber(context, 31, INTERFACE_TEXT);
    subscribe(subscriber, 1);
    push(0, kUnsolicitedSessionTag, ids[1], VALUE_FLAG_CHANGED, 1);
    push(3, 30, ids[1], VALUE_FLAG_CHANGED, 2);  // session 30 is gone
    push(4, 30, ids[1], VALUE_FLAG_REPLY_ONLY, 3);
    EXPECT_EQ(pass() + pass() + pass(), 3u);
    ASSERT_EQ(subscriber.got.size(), 2u);
    EXPECT_EQ(subscriber.got[0].text, "/DEV4321/OTHER seq=0 kind=2 1\n");
    EXPECT_EQ(subscriber.got[1].text, "/DEV4321/OTHER seq=0 kind=2 2\n");
    EXPECT_EQ(pass(), 0u);
}

TEST_F(DispatcherFixture, AFailedRequestIsAnsweredAsAnErrorToTheAskerOnly) {
    // The binary protocol answers a failed request with an error reply; the
    // text protocol says nothing.
    ProtocolHooks binary = test::StandInProtocol::hooks(INTERFACE_BINARY);
    binary.errorEncode = BinaryErrorEncode;
    setProtocolHooks(context.protocols(), INTERFACE_BINARY, binary);
    RecordingSession asker(context, 11, INTERFACE_BINARY), subscriber(context, 12, INTERFACE_BINARY),
        text(context, 13, INTERFACE_TEXT);
    subscribe(subscriber, 0);
    // An endpoint that does not exist (any more) is answered all the same,
    // also when its value came.
    push(8, 11, 999, VALUE_FLAG_REPLY_ONLY, 5);
    ASSERT_EQ(ReturnParamRequestFailed(*output, 9, 11, 999, QV_VALUE_NOT_FOUND), QV_NO_ERROR);
    ASSERT_EQ(ReturnParamRequestFailed(*output, 10, 11, uint32_t(ids[0]), QV_ERR_GENERAL), QV_NO_ERROR);
    ASSERT_EQ(ReturnParamRequestFailed(*output, 3, 13, uint32_t(ids[0]), QV_ERR_GENERAL), QV_NO_ERROR);
    // Requests left queued by an owner that ended go the same way.
    RequestGate gate(std::make_shared<test::SmallFifo>());
    uint8_t record[12];
    ValueRecordHeader h;
    h.sequenceTag = 12;
    h.sessionTag = 11;
    h.kind = DATATYPE_GETVALUE;
    putValueRecordHeader(record, h);
    ASSERT_EQ(gate.post(11, record, sizeof record), RequestGate::PostResult::Queued);
    DispatcherFailQueuedRequests(context.treeRegistry(), gate);
    for (int i = 0; i < 4; ++i) pass();

    ASSERT_EQ(asker.got.size(), 4u);
    struct Expected {
        uint16_t sequence;
        uint16_t code;
    };
    const Expected expected[] = {
        {12, wire::ERROR_NOT_FOUND}, {8, wire::ERROR_NOT_FOUND}, {9, wire::ERROR_NOT_FOUND}, {10, wire::ERROR_COMMAND_FAILED}};
    for (size_t i = 0; i < 4; ++i) {
        const std::string& reply = asker.got[i].text;
        ASSERT_EQ(reply.size(), wire::kErrorReplySize);
        const auto* bytes = reinterpret_cast<const uint8_t*>(reply.data());
        EXPECT_EQ(wire::decodeHeader(bytes).type, wire::MSG_ERROR_REPLY);
        EXPECT_EQ(wire::decodeHeader(bytes).sequenceId, expected[i].sequence);
        EXPECT_EQ(le::get16(bytes + wire::kErrorCodeAt), expected[i].code);
        EXPECT_EQ(asker.got[i].dataClass, WRITE_CLASS_REPLY);
    }
    EXPECT_TRUE(subscriber.got.empty());
    EXPECT_TRUE(text.got.empty());
}

TEST_F(DispatcherFixture, SessionsBetweenProtocolsAreSkipped) {
    RecordingSession switching(context, 41, INTERFACE_NONE), plain(context, 42, INTERFACE_TEXT);
    subscribe(switching, 0);
    subscribe(plain, 0);
    push(1, 41, ids[0], VALUE_FLAG_CHANGED, 5);
    push(2, 41, ids[0], VALUE_FLAG_REPLY_ONLY, 5);
    pass();
    pass();
    EXPECT_TRUE(switching.got.empty());
    EXPECT_EQ(plain.got.size(), 1u);
}

TEST_F(DispatcherFixture, RecordsOfRemovedEndpointsAreConsumed) {
    RecordingSession s(context, 51, INTERFACE_TEXT);
    subscribe(s, 0);
    push(1, 51, ids[0] + 100, VALUE_FLAG_CHANGED, 1);  // never handed out
    {
        DispatcherTreeLocker lock(tree);
        EXPECT_EQ(DispatcherTreeRemoveNodeChildren(tree, nodes[1]), QV_NO_ERROR);
    }
    push(2, 51, ids[1], VALUE_FLAG_REPLY_ONLY, 2);  // removed
    push(3, 51, ids[0], VALUE_FLAG_REPLY_ONLY, 3);
    EXPECT_EQ(pass() + pass() + pass(), 3u);
    ASSERT_EQ(s.got.size(), 1u);
    EXPECT_EQ(s.got[0].text, "/DEV4321/VALUE seq=3 kind=2 3\n");
    EXPECT_EQ(output->used(), 0u);
}

TEST_F(DispatcherFixture, StreamBlocksTravelTogetherOncePerProtocolOnStreamPasses) {
    RecordingSession t1(context, 61, INTERFACE_TEXT), t2(context, 62, INTERFACE_TEXT),
        b1(context, 63, INTERFACE_BINARY);
    for (RecordingSession* s : {&t1, &t2, &b1}) subscribe(*s, 2);
    for (int i = 0; i < 10; ++i) appendSamples(64);
    EXPECT_EQ(pass(false), 0u);
    EXPECT_TRUE(t1.got.empty());
    EXPECT_EQ(pass(true), 0u);  // stream data does not count as records
    for (RecordingSession* s : {&t1, &t2, &b1}) {
        ASSERT_EQ(s->got.size(), 1u);
        EXPECT_EQ(s->got[0].dataClass, WRITE_CLASS_STREAM);
        EXPECT_EQ(s->got[0].text, "/DEV4321/SAMPLE stream 640\n");
    }
    EXPECT_EQ(stream->used(), 0u);
}

TEST_F(DispatcherFixture, StreamDataFlowsInChunksAndAcrossTheRingEndWithoutLoss) {
    RecordingSession s(context, 71, INTERFACE_TEXT);
    subscribe(s, 2);
    const uint32_t mib = 1 << 20;
    auto drainAll = [&] {
        FifoReader r(*stream, 0);
        if (r.isValid()) r.commitAll();
    };
    auto deliveredBytes = [&] {
        uint64_t total = 0;
        for (const Delivery& d : s.got) {
            EXPECT_EQ(d.text.compare(0, 23, "/DEV4321/SAMPLE stream "), 0) << d.text;
            const uint64_t bytes = std::stoull(d.text.substr(23));
            EXPECT_LE(bytes, impl::DispatcherImpl::kStreamChunk);
            total += bytes;
        }
        return total;
    };
    // Move the write position to 3 MiB of the 4 MiB ring, then 0.5 MiB at the
    // end of the ring and 1 MiB wrapping to its start.
    appendSamples(3 * mib);
    drainAll();
    appendSamples(mib / 2);
    appendSamples(mib);
    pass(true);
    EXPECT_EQ(stream->used(), 0u);
    EXPECT_EQ(deliveredBytes(), mib + mib / 2);
    // Chunks of one pass are bounded; the rest follows on the next passes.
    s.got.clear();
    appendSamples(2200000);
    drainAll();
    appendSamples(800000);
    appendSamples(1500000);
    for (int i = 0; i < 1000 && stream->used() != 0; ++i) pass(true);
    ASSERT_EQ(stream->used(), 0u) << "the stream was not drained within 1000 passes";
    EXPECT_EQ(deliveredBytes(), 2300000u);
}

TEST_F(DispatcherFixture, ABurstTooLargeForOneEventArrivesWholeInSeveral) {
    setProtocolHooks(context.protocols(), INTERFACE_TEXT, makeAsciiProtocolHooks());
    setProtocolHooks(context.protocols(), INTERFACE_BINARY, makeBinaryProtocolHooks());
    RecordingSession text(context, 91, INTERFACE_TEXT), binary(context, 92, INTERFACE_BINARY);
    subscribe(text, 2);
    subscribe(binary, 2);
    // Two full MiB of demodulator samples: as text far more than one event
    // holds, and in binary the event header does not fit beside them either.
    const uint32_t samples = (2u << 20) / kDemodSampleSize;
    appendSamples(samples * kDemodSampleSize);
    pass(true);
    EXPECT_EQ(stream->used(), 0u);

    uint32_t textLines = 0;
    for (const Delivery& d : text.got) {
        for (size_t at = d.text.find("\r\n"); at != std::string::npos; at = d.text.find("\r\n", at + 2)) ++textLines;
        --textLines;  // each event starts with its path line
    }
    EXPECT_GT(text.got.size(), 1u);
    EXPECT_EQ(textLines, samples);

    uint32_t binarySamples = 0;
    for (const Delivery& d : binary.got) {
        wire::ValueEventView event;
        ASSERT_TRUE(wire::decodeValueEvent(reinterpret_cast<const uint8_t*>(d.text.data()), uint32_t(d.text.size()),
                                           event));
        EXPECT_EQ(event.dataLength, event.count * kDemodSampleSize);
        binarySamples += event.count;
    }
    EXPECT_EQ(binarySamples, samples);
}

TEST_F(DispatcherFixture, AFailingConverterIsLoggedAndItsOutputStillSent) {
    test::LogCapture log;
    ProtocolHooks failing = test::StandInProtocol::hooks(INTERFACE_TEXT);
    failing.valueEncode = [](const std::string&, uint16_t, uint16_t, uint16_t, uint8_t* out, uint32_t capacity,
                             uint32_t& length, const uint8_t*, uint32_t) {
        EXPECT_EQ(capacity, impl::DispatcherImpl::kBufferSize);
        out[0] = 'p';
        length = 1;
        return QV_STATUS(QV_BUFFER_TOO_SMALL);
    };
    setProtocolHooks(context.protocols(), INTERFACE_TEXT, failing);
    RecordingSession asker(context, 81, INTERFACE_TEXT), other(context, 82, INTERFACE_TEXT);
    subscribe(other, 0);
    push(1, 81, ids[0], VALUE_FLAG_CHANGED, 1);
    pass();
    ASSERT_EQ(asker.got.size(), 1u);
    EXPECT_EQ(asker.got[0].text, "p");
    ASSERT_EQ(other.got.size(), 1u);
    EXPECT_TRUE(log.contains("Error in conversion (referenced)."));
    EXPECT_TRUE(log.contains("Error in conversion (normal)."));
}

}  // namespace
}  // namespace tarnix
