// The server's own tree "QV": its nodes and the answers of the server node,
// driven request by request on the test's thread.
#include "core/ClientNumbers.h"
#include "platform/endian/ByteOrder.h"
#include "core/QVException.h"
#include "core/fifo/QVFifo.h"
#include "core/LogCapture.h"
#include "core/ValueRecord.h"
#include "core/component/ExceptionCarrier.h"
#include "core/tree/PathResolution.h"
#include "server/listener/Listener.h"
#include "server/node/ServerNode.h"
#include "server/node/ServerNodeImpl.h"
#include "server/server/ServerContext.h"
#include "support/ThreadState.h"
#include "support/Wait.h"

#include <limits>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <vector>

namespace tarnix {
namespace {

struct Answer {
    ValueRecordHeader header;
    std::vector<uint8_t> bytes;
    int64_t integer() const { return int64_t(le::get64(bytes.data() + 12)); }
    double number() const { return le::getDouble(bytes.data() + 12); }
    std::string text() const { return std::string(bytes.begin() + 16, bytes.end()); }
};

class ServerNodeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        listener = std::make_shared<Listener>(carrier, context);
        node = std::make_shared<ServerNode>(carrier, context);
        node->impl().setListener(listener);
        node->impl().createTree();
        ids = node->impl().endpointIds();
    }
    void TearDown() override { logging::setLogLevel(3); }

    void post(const std::vector<uint8_t>& record) {
        FifoWriter writer(*node->impl().requestFifo(), uint32_t(record.size()));
        ASSERT_TRUE(writer.isValid());
        writer.commit(record.data(), uint32_t(record.size()));
        ASSERT_TRUE(node->impl().serveOneRequest());
    }
    static ValueRecordHeader header(int32_t id, uint16_t kind) {
        ValueRecordHeader h;
        h.sequenceTag = 17;
        h.sessionTag = 5;
        h.endpointId = uint32_t(id);
        h.kind = kind;
        return h;
    }
    void read(int32_t id) {
        std::vector<uint8_t> r(12);
        putValueRecordHeader(r.data(), header(id, DATATYPE_GETVALUE));
        post(r);
    }
    void writeInteger(int32_t id, int64_t value) {
        std::vector<uint8_t> r(20);
        putValueRecordInteger(r.data(), header(id, 0), value);
        post(r);
    }
    void writeDouble(int32_t id, double value) {
        std::vector<uint8_t> r(20);
        putValueRecordDouble(r.data(), header(id, 0), value);
        post(r);
    }
    std::vector<Answer> answers() {
        std::vector<Answer> all;
        for (;;) {
            FifoReader reader(*node->impl().outputFifo(), 0);
            if (!reader.isValid()) return all;
            Answer a;
            a.header = getValueRecordHeader(reader.data());
            a.bytes.assign(reader.data(), reader.data() + reader.length());
            all.push_back(a);
            reader.commitAll();
        }
    }
    // One failed-request answer per id, in order, with the request's tags.
    void expectFailedAnswers(const std::vector<int32_t>& expected) {
        auto all = answers();
        ASSERT_EQ(all.size(), expected.size());
        for (std::size_t i = 0; i < all.size(); ++i) {
            EXPECT_EQ(all[i].header.kind, DATATYPE_REQUEST_FAILED);
            EXPECT_EQ(all[i].header.flags, VALUE_FLAG_REPLY_ONLY);
            EXPECT_EQ(all[i].header.sequenceTag, 17);
            EXPECT_EQ(all[i].header.sessionTag, 5);
            EXPECT_EQ(all[i].header.endpointId, uint32_t(expected[i]));
        }
    }
    Answer single() {
        auto all = answers();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? Answer{} : all[0];
    }

    ServerContext context;
    exception::ExceptionCarrier carrier;
    std::shared_ptr<Listener> listener;
    std::shared_ptr<ServerNode> node;
    impl::ServerNodeImpl::EndpointIds ids;
};

TEST_F(ServerNodeFixture, TheTreeHasItsNodesInOrderWithEndpointsAndHelp) {
    NodeSet qv;
    DispatcherResolvePathList(context.treeRegistry(), qv, "", "/qv");
    ASSERT_EQ(qv.size(), 1u);
    const TreeNode::Ptr& root = *qv.begin();
    EXPECT_EQ(root->getName(), "QV");
    EXPECT_EQ(root->type(), 2);
    EXPECT_EQ(root->properties().count("note"), 0u);
    std::vector<std::string> names;
    for (auto& child : root->children()) names.push_back(child->getName());
    EXPECT_EQ(names, (std::vector<std::string>{"ABOUT", "CONFIG", "TREES", "DEBUG", "CLOCKBASE"}));

    struct Expected {
        const char* path;
        int32_t type;
        int32_t id;
    };
    for (const Expected& e : {Expected{"/QV/TREES", 11, 0}, Expected{"/QV/ABOUT/VERSION", 4, 1},
                              Expected{"/QV/ABOUT/REVISION", 5, 2}, Expected{"/QV/ABOUT/FWREVISION", 6, 3},
                              Expected{"/QV/ABOUT/COPYRIGHT", 7, 4}, Expected{"/QV/CONFIG/PORT", 9, 5},
                              Expected{"/QV/CONFIG/OPEN", 10, 6}, Expected{"/QV/DEBUG/LEVEL", 13, 7},
                              Expected{"/QV/DEBUG/OUT", 14, 8}, Expected{"/QV/CLOCKBASE", 15, 9}}) {
        NodeSet set;
        DispatcherResolvePathList(context.treeRegistry(), set, "", e.path);
        ASSERT_EQ(set.size(), 1u) << e.path;
        const TreeNode::Ptr& n = *set.begin();
        EXPECT_EQ(n->type(), e.type) << e.path;
        ASSERT_TRUE(n->endpoint()) << e.path;
        EXPECT_EQ(n->endpoint()->id, e.id) << e.path;
        EXPECT_EQ(n->endpoint()->path, e.path);
        EXPECT_TRUE(n->properties().count("short")) << e.path;
    }

    NodeSet debugNodes;
    DispatcherResolvePathList(context.treeRegistry(), debugNodes, "", "/qv/debug /qv/debug/level /qv/debug/out");
    for (const auto& n : debugNodes) {
        bool nolist = false;
        EXPECT_TRUE(n->getProperty("nolist", nolist) && nolist) << n->getName();
    }
    NodeSet port;
    DispatcherResolvePathList(context.treeRegistry(), port, "", "/qv/config/port");
    const TreeNode& p = **port.begin();
    EXPECT_EQ(p.properties().at("from").get<int64_t>(), 1024);
    EXPECT_EQ(p.properties().at("to").get<int64_t>(), 65535);
    EXPECT_EQ(p.properties().at("default").get<int64_t>(), 8005);
    NodeSet open;
    DispatcherResolvePathList(context.treeRegistry(), open, "", "/qv/config/open");
    const NodeValueList& values = (*open.begin())->properties().at("values").get<NodeValueList>();
    ASSERT_EQ(values.count, 2u);
    EXPECT_EQ(values.entries[1].description, "server is open for connections from outside");
    EXPECT_EQ(node->impl().tree()->bufferedEndpoints.size(), 1u);
}

TEST_F(ServerNodeFixture, ReadsAnswerWithRepliesOfTheRightKind) {
    listener->setPort(40123);
    struct ReadCase {
        int32_t id;
        uint16_t kind;
        std::string value;
    };
    for (const ReadCase& c : {ReadCase{ids.port, DATATYPE_INTEGER, "40123"}, ReadCase{ids.open, DATATYPE_INTEGER, "0"},
                              ReadCase{ids.level, DATATYPE_INTEGER, "3"},
                              ReadCase{ids.revision, DATATYPE_INTEGER, "17045"},
                              ReadCase{ids.fwRevision, DATATYPE_INTEGER, "14939"},
                              ReadCase{ids.version, DATATYPE_BYTEARRAY, "12.08"},
                              ReadCase{ids.clockBase, DATATYPE_DOUBLE, "10"}}) {
        read(c.id);
        Answer a = single();
        EXPECT_EQ(a.header.sequenceTag, 17);
        EXPECT_EQ(a.header.sessionTag, 5);
        EXPECT_EQ(a.header.endpointId, uint32_t(c.id));
        EXPECT_EQ(a.header.flags, VALUE_FLAG_REPLY_ONLY);
        ASSERT_EQ(a.header.kind, c.kind) << c.id;
        const std::string value = c.kind == DATATYPE_INTEGER ? std::to_string(a.integer())
                                  : c.kind == DATATYPE_DOUBLE ? std::to_string(int(a.number()))
                                                              : a.text();
        EXPECT_EQ(value, c.value);
    }
    read(ids.copyright);
    EXPECT_EQ(single().text(), "Copyright (C) The LQ3 host software authors");

    // Nodes that cannot be read still answer, as failed requests, so a client
    // told to expect a value is not left waiting.
    test::LogCapture log;
    read(ids.trees);
    read(ids.out);
    expectFailedAnswers({ids.trees, ids.out});
    EXPECT_TRUE(log.contains("DATATYPE_GETVALUE: Unknown node."));
}

struct WriteCase {
    const char* name;
    int32_t impl::ServerNodeImpl::EndpointIds::*node;
    bool asDouble;
    double value;
    uint16_t flags;
    int64_t answer;
};

class ServerNodeWrites : public ServerNodeFixture, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ServerNodeWrites, ClampAndAnswer) {
    const WriteCase& c = GetParam();
    const int32_t id = ids.*c.node;
    if (c.asDouble)
        writeDouble(id, c.value);
    else
        writeInteger(id, int64_t(c.value));
    Answer a = single();
    EXPECT_EQ(a.header.flags, c.flags);
    EXPECT_EQ(a.integer(), c.answer);
}

using Ids = impl::ServerNodeImpl::EndpointIds;
INSTANTIATE_TEST_SUITE_P(
    Cases, ServerNodeWrites,
    ::testing::Values(WriteCase{"portLow", &Ids::port, false, 80, VALUE_FLAG_CHANGED, 1024},
                      WriteCase{"portHigh", &Ids::port, false, 70000, VALUE_FLAG_CHANGED, 65535},
                      WriteCase{"portSame", &Ids::port, false, 8005, VALUE_FLAG_REPLY_ONLY, 8005},
                      WriteCase{"portDouble", &Ids::port, true, 9000.9, VALUE_FLAG_CHANGED, 9000},
                      WriteCase{"portInfinite", &Ids::port, true, INFINITY, VALUE_FLAG_CHANGED, 65535},
                      WriteCase{"openTwo", &Ids::open, false, 2, VALUE_FLAG_CHANGED, 1},
                      WriteCase{"openZero", &Ids::open, false, 0, VALUE_FLAG_REPLY_ONLY, 0},
                      WriteCase{"levelHigh", &Ids::level, false, 9, VALUE_FLAG_CHANGED, 6},
                      WriteCase{"levelSame", &Ids::level, false, 3, VALUE_FLAG_REPLY_ONLY, 3},
                      WriteCase{"levelNegative", &Ids::level, false, -1, VALUE_FLAG_REPLY_ONLY, 3}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

TEST_F(ServerNodeFixture, NumbersThatFitNoSettingWordAreRefusedAndChangeNothing) {
    for (int32_t id : {ids.port, ids.open, ids.level}) {
        SCOPED_TRACE(id);
        read(id);
        const int64_t before = single().integer();
        writeDouble(id, NAN);
        expectFailedAnswers({id});
        for (int64_t wide : {(int64_t(1) << 32) + 1, std::numeric_limits<int64_t>::min(),
                             std::numeric_limits<int64_t>::max()}) {
            writeInteger(id, wide);
            auto all = answers();
            ASSERT_EQ(all.size(), 1u);
            EXPECT_EQ(all[0].header.kind, DATATYPE_REQUEST_FAILED);
            EXPECT_EQ(le::get32(all[0].bytes.data() + 12), uint32_t(kRefusedValueStatus));
        }
        read(id);
        EXPECT_EQ(single().integer(), before);
    }
}

TEST_F(ServerNodeFixture, LevelWritesSetTheThresholdAndLeaveControlCodes) {
    writeInteger(ids.level, 5);
    EXPECT_EQ(single().integer(), 5);
    EXPECT_EQ(logging::logLevel(), 5);
    EXPECT_EQ(node->impl().debugLevel(), 5);

    writeInteger(ids.level, -99);
    EXPECT_EQ(single().header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_FALSE(node->takeControlCode(-97));
    EXPECT_TRUE(node->takeControlCode(-99));
    EXPECT_FALSE(node->takeControlCode(-99));

    // A second code before the server thread looks replaces the first.
    writeInteger(ids.level, -99);
    writeDouble(ids.level, -97.5);
    answers();
    EXPECT_FALSE(node->takeControlCode(-99));
    EXPECT_TRUE(node->takeControlCode(-97));
    EXPECT_EQ(logging::logLevel(), 5);
}

TEST_F(ServerNodeFixture, OtherWritesAreAnsweredAsFailedWithOrWithoutALog) {
    test::LogCapture log;
    writeInteger(ids.version, 1);
    writeDouble(ids.trees, 1.0);
    writeInteger(ids.out, 1);
    EXPECT_EQ(log.messages().size(), 3u);
    EXPECT_TRUE(log.contains("Unknown node."));
    expectFailedAnswers({ids.version, ids.trees, ids.out});

    std::vector<uint8_t> bytes(20);
    putValueRecordByteArray(bytes.data(), header(ids.port, 0), "1234", 4);
    post(bytes);
    expectFailedAnswers({ids.port});
    EXPECT_EQ(log.messages().size(), 3u);
    EXPECT_EQ(listener->getPort(), Listener::kDefaultPort);
}

TEST_F(ServerNodeFixture, TreeChangeRecordsCarryCodeAndDisplayName) {
    auto device = std::make_shared<TreeNode>();
    device->setIndexedName("DEV");
    device->setIndex(1234);
    node->pushDeviceMessage(device, 1);
    auto longName = std::make_shared<TreeNode>();
    longName->setName(std::string(40, 'N'));
    node->pushDeviceMessage(longName, 2);

    auto all = answers();
    ASSERT_EQ(all.size(), 2u);
    const std::vector<uint8_t>& r = all[0].bytes;
    ASSERT_EQ(r.size(), 48u);
    EXPECT_EQ(le::get16(&r[0]), 0);
    EXPECT_EQ(le::get16(&r[2]), 0xFFFF);
    EXPECT_EQ(le::get32(&r[4]), uint32_t(ids.trees));
    EXPECT_EQ(le::get16(&r[8]), 16);
    EXPECT_EQ(le::get16(&r[10]), 0);
    EXPECT_EQ(le::get32(&r[12]), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[16])), "DEV1234");
    EXPECT_EQ(std::string(all[1].bytes.begin() + 16, all[1].bytes.end()), std::string(32, 'N'));

    EXPECT_THROW(node->pushDeviceMessage(nullptr, 0), QVException);
}

TEST_F(ServerNodeFixture, AFullOutputFifoLosesNoticesButARequestWaitsForRoom) {
    test::LogCapture log;
    auto device = std::make_shared<TreeNode>();
    device->setName("DEV1");
    for (uint32_t i = 0; i < impl::ServerNodeImpl::kFifoBlocks; ++i) node->pushDeviceMessage(device, 1);
    EXPECT_NO_THROW(node->pushDeviceMessage(device, 0));
    bool dropped = false;
    for (const std::string& m : log.messages()) dropped = dropped || m.find("PushDeviceMessage: output FIFO full") == 0;
    EXPECT_TRUE(dropped);

    // The request is not taken while its answer could not be queued ...
    std::vector<uint8_t> r(12);
    putValueRecordHeader(r.data(), header(ids.revision, DATATYPE_GETVALUE));
    FifoWriter writer(*node->impl().requestFifo(), uint32_t(r.size()));
    ASSERT_TRUE(writer.isValid());
    writer.commit(r.data(), uint32_t(r.size()));
    EXPECT_FALSE(node->impl().serveOneRequest());
    EXPECT_EQ(node->impl().requestFifo()->used(), 1u);
    // ... and is answered once the dispatcher has made room.
    EXPECT_EQ(answers().size(), impl::ServerNodeImpl::kFifoBlocks);
    EXPECT_TRUE(node->impl().serveOneRequest());
    Answer a = single();
    EXPECT_EQ(a.header.endpointId, uint32_t(ids.revision));
    EXPECT_EQ(a.integer(), 17045);
}

TEST_F(ServerNodeFixture, AReadAnsweredAtOncePassesNothingQueuedBeforeItAndNothingQueuedAfterPassesIt) {
    const auto& directRead = node->impl().tree()->directRead;
    ASSERT_TRUE(bool(directRead));
    std::vector<std::vector<uint8_t>> got;
    const auto keep = [&](const uint8_t* record, uint32_t length) { got.emplace_back(record, record + length); };
    // Nothing queued: answered at once.
    EXPECT_TRUE(directRead(17, 5, ids.revision, keep));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(int64_t(le::get64(got[0].data() + 12)), 17045);
    // The push of a change waits for the dispatcher: the read goes behind it.
    writeInteger(ids.level, 5);
    EXPECT_FALSE(directRead(18, 5, ids.level, keep));
    EXPECT_EQ(got.size(), 1u);
    EXPECT_EQ(answers().size(), 1u);
    // A record the tree queues while an answer is handed over comes after it.
    auto device = std::make_shared<TreeNode>();
    device->setName("DEV1");
    std::atomic<pid_t> pusher{0};
    std::future<void> pushed;
    EXPECT_TRUE(directRead(19, 5, ids.level, [&](const uint8_t* record, uint32_t length) {
        keep(record, length);
        pushed = std::async(std::launch::async, [&] {
            pusher.store(test::currentThreadId());
            node->pushDeviceMessage(device, 1);
        });
        EXPECT_TRUE(test::waitUntil([&] { return pusher.load() != 0 && test::threadSleeps(pusher.load()); }));
        EXPECT_EQ(node->impl().outputFifo()->used(), 0u);
    }));
    ASSERT_TRUE(pushed.valid());
    pushed.wait();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(int64_t(le::get64(got[1].data() + 12)), 5);
    EXPECT_EQ(answers().size(), 1u);
}

}  // namespace
}  // namespace tarnix
