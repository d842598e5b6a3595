// The binary protocol end to end: a client on TCP against the qvServer
// program and its own tree "QV".
#include "BinaryTestSupport.h"
#include "ServerTestSupport.h"
#include "TextServerProcess.h"
#include "server/server/ServerStrings.h"

#include <gtest/gtest.h>

#include <netinet/tcp.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::message;
using test::pathBody;

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class BinaryEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<test::ServerProcess>(); }
    static void TearDownTestSuite() {
        if (server_) {
            EXPECT_EQ(server_->stop(), 0);
        }
        server_.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(server_ && server_->running()) << "qvServer did not start (QV_BUILD_DIR=" << test::buildDirectory()
                                                   << ")";
        client_ = std::make_unique<test::TestClient>(server_->port());
        ASSERT_TRUE(client_->connected());
        int one = 1;
        ::setsockopt(client_->fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ASSERT_TRUE(client_->waitFor("\r\n"));
        client_->clear();
        ASSERT_TRUE(client_->send("proto bin\n"));
        ASSERT_TRUE(waitForMessages(1));
        EXPECT_EQ(test::hex(client_->received()), "01 00 00 00 12 00 00 00 00 00 00 00 0c 00 08 00 95 42");
        client_->clear();
    }

    // Waits until `count` whole messages have arrived.
    bool waitForMessages(size_t count, std::chrono::milliseconds timeout = 5s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (test::splitMessages(client_->received()).size() < count) {
            if (std::chrono::steady_clock::now() > end) return false;
            client_->waitFor("\x01 never", 20ms);
        }
        return true;
    }

    std::vector<test::Message> exchange(const Bytes& request, size_t replies) {
        client_->clear();
        EXPECT_TRUE(client_->send(asText(request)));
        EXPECT_TRUE(waitForMessages(replies)) << test::hex(client_->received());
        return test::splitMessages(client_->received());
    }

    static std::unique_ptr<test::ServerProcess> server_;
    std::unique_ptr<test::TestClient> client_;
};

std::unique_ptr<test::ServerProcess> BinaryEndToEnd::server_;

TEST_F(BinaryEndToEnd, GetAnswersTheCountThenTheValueWithTheRequestsId) {
    std::vector<test::Message> got = exchange(message(wire::MSG_GET_VALUE, 0x4242, pathBody("/qv/about/revision")), 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].header.type, wire::MSG_GET_VALUE_REPLY);
    EXPECT_EQ(got[0].header.sequenceId, 0x4242);
    EXPECT_EQ(got[0].count(), 1u);
    wire::ValueEventView event;
    ASSERT_TRUE(got[1].event(event));
    EXPECT_EQ(event.sequenceId, 0x4242);
    EXPECT_EQ(event.dataType, wire::EVENT_INTEGER);
    EXPECT_EQ(std::string(event.path.text, event.path.length), "/QV/ABOUT/REVISION");
    ASSERT_EQ(event.dataLength, 8u);
    EXPECT_EQ(int64_t(le::get64(event.data)), kServerRevision);
}

TEST_F(BinaryEndToEnd, EveryAnnouncedValueComesOrAnErrorInItsPlace) {
    // TREES cannot be read: its value is answered with an error reply.
    std::vector<test::Message> got =
        exchange(message(wire::MSG_GET_VALUE, 0x77, pathBody("/qv/trees /qv/about/revision")), 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].header.type, wire::MSG_GET_VALUE_REPLY);
    EXPECT_EQ(got[0].count(), 2u);
    int values = 0, errors = 0;
    for (size_t i = 1; i < got.size(); ++i) {
        EXPECT_EQ(got[i].header.sequenceId, 0x77);
        if (got[i].header.type == wire::MSG_VALUE_EVENT) ++values;
        if (got[i].header.type == wire::MSG_ERROR_REPLY) {
            ++errors;
            EXPECT_EQ(le::get16(got[i].bytes.data() + wire::kErrorCodeAt), wire::ERROR_NOT_FOUND);
        }
    }
    EXPECT_EQ(values, 1);
    EXPECT_EQ(errors, 1);
}

TEST_F(BinaryEndToEnd, TwoRequestsInOneSendAndOneRequestInPieces) {
    Bytes list = message(wire::MSG_LIST_NODES, 1, test::withU32(pathBody("/"), 0));
    Bytes get = message(wire::MSG_GET_VALUE, 2, pathBody("/qv/clockbase"));
    std::vector<test::Message> got = exchange(test::concat({list, get}), 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].header.type, wire::MSG_LIST_NODES_REPLY);
    EXPECT_EQ(asText(Bytes(got[0].bytes.begin() + 12, got[0].bytes.end())).substr(0, 3), "QV\n");
    EXPECT_EQ(got[1].header.type, wire::MSG_GET_VALUE_REPLY);
    EXPECT_EQ(got[2].eventPath(), "/QV/CLOCKBASE");

    client_->clear();
    for (size_t at = 0; at < get.size(); at += 5) {
        ASSERT_TRUE(client_->send(asText(Bytes(get.begin() + at, get.begin() + std::min(at + 5, get.size())))));
        // Spaces the pieces so that the server reads them apart; a part of a
        // request has no answer to wait for instead.
        std::this_thread::sleep_for(3ms);
    }
    ASSERT_TRUE(waitForMessages(2));
    EXPECT_EQ(test::splitMessages(client_->received())[1].eventPath(), "/QV/CLOCKBASE");
}

// A body too short for its fields: empty, one byte, and a path length that
// runs past the body.
std::vector<Bytes> shortBodies() { return {Bytes{}, Bytes{1}, Bytes{40, 0, '/', 'q', 'v'}}; }

TEST_F(BinaryEndToEnd, EveryRequestThatCannotBeCarriedOutIsAnsweredAsFailedWithItsId) {
    struct Case {
        uint16_t type;
        Bytes body;
    };
    std::vector<Case> cases;
    for (uint16_t type : {wire::MSG_LIST_NODES, wire::MSG_GET_VALUE, wire::MSG_GET_VALUE_POLL,
                          wire::MSG_SET_INTEGER, wire::MSG_SET_DOUBLE, wire::MSG_SET_BYTES, wire::MSG_SUBSCRIBE,
                          wire::MSG_UNSUBSCRIBE, wire::MSG_SET_INTEGER_ALT, wire::MSG_SET_DOUBLE_ALT,
                          wire::MSG_SET_BYTES_ALT})
        for (const Bytes& body : shortBodies()) cases.push_back({type, body});
    // Types the server has no request of.
    for (uint16_t type : {uint16_t(0), uint16_t(1), uint16_t(3), uint16_t(16), uint16_t(30), uint16_t(0xFFFF)})
        cases.push_back({type, pathBody("/qv")});
    uint16_t sequenceId = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " body " + test::hex(c.body));
        const std::vector<test::Message> got = exchange(message(c.type, ++sequenceId, c.body), 1);
        ASSERT_EQ(got.size(), 1u) << test::hex(client_->received());
        EXPECT_EQ(got[0].header.type, wire::MSG_ERROR_REPLY);
        EXPECT_EQ(got[0].header.sequenceId, sequenceId);
        EXPECT_EQ(le::get16(&got[0].bytes[wire::kErrorCodeAt]), wire::ERROR_COMMAND_FAILED);
    }
    // The session goes on.
    const std::vector<test::Message> got = exchange(message(wire::MSG_SUBSCRIBE, 4, pathBody("/qv/trees")), 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].header.type, wire::MSG_SUBSCRIBE_REPLY);
    EXPECT_EQ(got[0].header.sequenceId, 4);
}

TEST_F(BinaryEndToEnd, ARequestThatNamesNothingIsAnsweredNotFound) {
    const Bytes flags = Bytes{0, 0, 0, 0};
    const std::pair<uint16_t, Bytes> cases[] = {
        {wire::MSG_SUBSCRIBE, pathBody("/NOSUCHNODE")},
        {wire::MSG_UNSUBSCRIBE, pathBody("/NOSUCHNODE")},
        {wire::MSG_LIST_NODES, test::concat({pathBody("/NOSUCHNODE"), flags})},
        {wire::MSG_SUBSCRIBE, pathBody("/QV/NOSUCH /NOSUCHNODE")},
    };
    uint16_t sequenceId = 200;
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.first) + " " + test::hex(c.second));
        const std::vector<test::Message> got = exchange(message(c.first, ++sequenceId, c.second), 1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].header.type, wire::MSG_ERROR_REPLY);
        EXPECT_EQ(got[0].header.sequenceId, sequenceId);
        EXPECT_EQ(le::get16(&got[0].bytes[wire::kErrorCodeAt]), wire::ERROR_NOT_FOUND);
    }
}

TEST_F(BinaryEndToEnd, RequestsSentInTheSameSegmentAsTheSwitchAreReadAsBinary) {
    const Bytes get = message(wire::MSG_GET_VALUE, 0x31, pathBody("/qv/about/revision"));
    for (const std::string& line : {std::string("proto bin\n"), std::string("proto bin\r\n")}) {
        SCOPED_TRACE(test::hex(line));
        test::TestClient client(server_->port());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.waitFor("\r\n"));
        client.clear();
        ASSERT_TRUE(client.send(line + asText(get) + asText(get)));
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (test::splitMessages(client.received()).size() < 5 && std::chrono::steady_clock::now() < end)
            client.waitFor("\x01 never", 20ms);
        const std::vector<test::Message> got = test::splitMessages(client.received());
        ASSERT_EQ(got.size(), 5u) << test::hex(client.received());
        EXPECT_EQ(got[0].header.type, wire::MSG_HELLO);
        for (size_t i : {1u, 3u}) {
            EXPECT_EQ(got[i].header.type, wire::MSG_GET_VALUE_REPLY);
            EXPECT_EQ(got[i].header.sequenceId, 0x31);
            EXPECT_EQ(got[i + 1].eventPath(), "/QV/ABOUT/REVISION");
        }
    }
}

TEST_F(BinaryEndToEnd, AnImpossibleLengthClosesOnlyThatSession) {
    ASSERT_TRUE(client_->send(asText(message(wire::MSG_GET_VALUE, 1, Bytes{}, 5))));
    EXPECT_TRUE(client_->waitForClose());
    test::TestClient next(server_->port());
    ASSERT_TRUE(next.connected());
    EXPECT_TRUE(next.waitFor("\r\n"));
}

TEST_F(BinaryEndToEnd, AFloodOfBadRequestsLogsUnderAMegabyteAMinute) {
    const std::string output = server_->workDirectory() + "/server.out";
    const auto logged = [&output] {
        struct stat info {};
        return ::stat(output.c_str(), &info) == 0 ? double(info.st_size) : 0.0;
    };
    // Each of these logs an error line, and each receive with one of them a second.
    Bytes batch;
    for (int i = 0; i < 50; ++i) {
        const Bytes bad = message(wire::MSG_GET_VALUE, uint16_t(i), Bytes{1});
        batch.insert(batch.end(), bad.begin(), bad.end());
    }
    const double before = logged();
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    while (std::chrono::steady_clock::now() - start < 3s && sent < 20000) {
        ASSERT_TRUE(client_->send(asText(batch)));
        ++sent;
        // Each is answered: take the batch's answers before the next batch,
        // so that neither side waits for the other to read.
        const size_t answers = batch.size() / message(wire::MSG_GET_VALUE, 0, Bytes{1}).size() * wire::kErrorReplySize;
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (client_->received().size() < answers && std::chrono::steady_clock::now() < end)
            client_->waitFor("\x01 never", 5ms);
        ASSERT_EQ(client_->received().size(), answers);
        client_->clear();
    }
    // Served in order: once this is answered, every bad request has been seen.
    const std::vector<test::Message> got =
        exchange(message(wire::MSG_GET_VALUE, 0x77, pathBody("/qv/about/revision")), 2);
    ASSERT_EQ(got.size(), 2u);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double perMinute = (logged() - before) * 60.0 / seconds;
    EXPECT_LT(perMinute, 1e6) << sent * 50 << " bad requests in " << seconds << " s";
    std::ifstream file(output);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Error in InputBinaryMessage (w body), error code = "), std::string::npos);
    EXPECT_NE(text.find("Session had an error in the read handler."), std::string::npos);
    EXPECT_NE(text.find("Suppressed "), std::string::npos);
}

}  // namespace
}  // namespace tarnix
