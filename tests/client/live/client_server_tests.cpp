// The client library against the real qvServer program: connecting, listing,
// reading and writing the server's own tree "QV", subscriptions and events,
// and the status codes a program sees.
#include "server/TextServerProcess.h"
#include "qvAPI.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tarnix::test::ServerProcess;

struct HandleDeleter {
    void operator()(QvHandle* handle) const { qvAPIDestroy(handle); }
};
typedef std::unique_ptr<QvHandle, HandleDeleter> Handle;

Handle newHandle() {
    QvHandle* raw = nullptr;
    EXPECT_EQ(qvAPIInit(&raw), QV_NO_ERROR);
    return Handle(raw);
}

// The event record is 4 MiB: never on the stack.
std::unique_ptr<QvEvent> newEvent() { return std::make_unique<QvEvent>(); }

std::string list(QvHandle* handle, const char* path, uint32_t flags, QV_STATUS* status = nullptr) {
    std::vector<char> text(65536, 'x');
    QV_STATUS st = qvAPIListNodes(handle, path, text.data(), uint32_t(text.size()), flags);
    if (status) *status = st;
    EXPECT_TRUE(st == QV_NO_ERROR || status) << std::hex << st;
    // A failed listing writes no text.
    return st == QV_NO_ERROR ? std::string(text.data()) : std::string();
}

class ClientAgainstServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<ServerProcess>(); }
    static void TearDownTestSuite() {
        if (server_) {
            EXPECT_EQ(server_->stop(), 0);
        }
        server_.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(server_ && server_->running())
            << "qvServer did not start (QV_BUILD_DIR=" << tarnix::test::buildDirectory() << ")";
        handle_ = connected();
    }

    Handle connected() {
        Handle handle = newHandle();
        EXPECT_EQ(qvAPIConnect(handle.get(), "127.0.0.1", server_->port()), QV_NO_ERROR);
        return handle;
    }

    static std::unique_ptr<ServerProcess> server_;
    Handle handle_;
};

std::unique_ptr<ServerProcess> ClientAgainstServer::server_;

TEST_F(ClientAgainstServer, ConnectsByAddressNameOrDefaultHostAndReconnects) {
    for (const char* host : {"localhost", static_cast<const char*>(nullptr)}) {
        Handle handle = newHandle();
        EXPECT_EQ(qvAPIConnect(handle.get(), host, server_->port()), QV_NO_ERROR) << (host ? host : "null");
    }
    int64_t revision = 0;
    EXPECT_EQ(qvAPIDisconnect(handle_.get()), QV_NO_ERROR);
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/about/revision", &revision), QV_CONNECTION_INVALID);
    EXPECT_EQ(qvAPIConnect(handle_.get(), "127.0.0.1", server_->port()), QV_NO_ERROR);
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/about/revision", &revision), QV_NO_ERROR);
    EXPECT_EQ(revision, 17045);
}

TEST_F(ClientAgainstServer, ListsTheServerTree) {
    EXPECT_EQ(list(handle_.get(), "/qv", 0), "ABOUT\nCONFIG\nTREES\nCLOCKBASE");
    EXPECT_EQ(list(handle_.get(), "/qv/about", QV_LIST_ABSOLUTE_PATH),
              "/QV/ABOUT/VERSION\n/QV/ABOUT/REVISION\n/QV/ABOUT/FWREVISION\n/QV/ABOUT/COPYRIGHT");
    EXPECT_EQ(list(handle_.get(), "/qv", QV_LIST_RECURSIVE | QV_LIST_LEAVES_ONLY),
              "VERSION\nREVISION\nFWREVISION\nCOPYRIGHT\nPORT\nOPEN\nTREES\nCLOCKBASE");
    EXPECT_EQ(list(handle_.get(), "/", 0).substr(0, 3), "QV");
    QV_STATUS status = QV_NO_ERROR;
    list(handle_.get(), "/qv/nothing", 0, &status);
    EXPECT_EQ(status, QV_VALUE_NOT_FOUND);

    // A buffer exactly as large as the listing takes it; one byte less gets
    // an empty text; size 0 writes nothing.
    const std::string whole = "ABOUT\nCONFIG\nTREES\nCLOCKBASE\n";
    std::vector<char> text(whole.size(), 'x');
    EXPECT_EQ(qvAPIListNodes(handle_.get(), "/qv", text.data(), uint32_t(text.size()), 0), QV_NO_ERROR);
    EXPECT_EQ(std::string(text.data()), whole.substr(0, whole.size() - 1));
    std::fill(text.begin(), text.end(), 'x');
    EXPECT_EQ(qvAPIListNodes(handle_.get(), "/qv", text.data(), uint32_t(text.size() - 1), 0), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(text[0], '\0');
    text[0] = 'x';
    EXPECT_EQ(qvAPIListNodes(handle_.get(), "/qv", text.data(), 0, 0), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(text[0], 'x');
}

TEST_F(ClientAgainstServer, ReadsVersionRevisionClockBasePortAndLevel) {
    uint8_t version[16] = {};
    uint32_t length = 0;
    EXPECT_EQ(qvAPIGetValueB(handle_.get(), "/qv/about/version", version, &length, sizeof version), QV_NO_ERROR);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(version), length), "12.08");
    EXPECT_EQ(qvAPIGetValueB(handle_.get(), "/qv/about/version", version, &length, 4), QV_NO_ERROR);
    EXPECT_EQ(length, 0u);

    int64_t integer = 0;
    double number = 0.0;
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/about/revision", &integer), QV_NO_ERROR);
    EXPECT_EQ(integer, 17045);
    EXPECT_EQ(qvAPIGetValueD(handle_.get(), "/QV/ABOUT/REVISION", &number), QV_NO_ERROR);
    EXPECT_EQ(number, 17045.0);
    // The server's own clock base is the double 10.0, not an instrument's.
    EXPECT_EQ(qvAPIGetValueD(handle_.get(), "/qv/clockbase", &number), QV_NO_ERROR);
    EXPECT_EQ(number, 10.0);
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/clockbase", &integer), QV_NO_ERROR);
    EXPECT_EQ(integer, 10);
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/config/port", &integer), QV_NO_ERROR);
    EXPECT_EQ(integer, server_->port());
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/debug/level", &integer), QV_NO_ERROR);
    EXPECT_EQ(integer, 3);
    // A wildcard over several nodes gives the first value and leaves no stray
    // event behind.
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/about/*revision", &integer), QV_NO_ERROR);
    EXPECT_EQ(integer, 17045);
    // A value asked for as an event comes after anything left behind before.
    EXPECT_EQ(qvAPIGetValueAsPollData(handle_.get(), "/qv/clockbase"), QV_NO_ERROR);
    auto event = newEvent();
    EXPECT_EQ(qvAPIPollData(handle_.get(), event.get(), 5000), QV_NO_ERROR);
    EXPECT_STREQ(event->path, "/QV/CLOCKBASE");
    EXPECT_EQ(qvAPIPollData(handle_.get(), event.get(), 0), QV_NO_ERROR);
    EXPECT_EQ(event->valueType, uint32_t(QV_VALUE_NONE));
}

TEST_F(ClientAgainstServer, WritesLevelAndPort) {
    int64_t level = 0;
    EXPECT_EQ(qvAPISetValueI(handle_.get(), "/qv/debug/level", 2), QV_NO_ERROR);
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/debug/level", &level), QV_NO_ERROR);
    EXPECT_EQ(level, 2);
    EXPECT_EQ(qvAPISetValueD(handle_.get(), "/qv/debug/level", 3.9), QV_NO_ERROR);
    EXPECT_EQ(qvAPIGetValueI(handle_.get(), "/qv/debug/level", &level), QV_NO_ERROR);
    EXPECT_EQ(level, 3);
    // The port it already listens on: answered, nothing moves.
    EXPECT_EQ(qvAPISetValueI(handle_.get(), "/qv/config/port", server_->port()), QV_NO_ERROR);
    Handle other = connected();
    int64_t port = 0;
    EXPECT_EQ(qvAPIGetValueI(other.get(), "/qv/config/port", &port), QV_NO_ERROR);
    EXPECT_EQ(port, server_->port());
}

TEST_F(ClientAgainstServer, SubscribersGetChangesAsEventsInOrder) {
    Handle watcher = connected();
    EXPECT_EQ(qvAPISubscribe(watcher.get(), "/qv/trees"), QV_NO_ERROR);
    EXPECT_EQ(qvAPISubscribe(watcher.get(), "/qv/debug/level"), QV_NO_ERROR);
    auto event = newEvent();
    EXPECT_EQ(qvAPIPollData(watcher.get(), event.get(), 0), QV_NO_ERROR);
    EXPECT_EQ(event->valueType, uint32_t(QV_VALUE_NONE));

    for (int64_t level : {1, 2, 3}) EXPECT_EQ(qvAPISetValueI(handle_.get(), "/qv/debug/level", level), QV_NO_ERROR);
    for (int64_t level : {1, 2, 3}) {
        EXPECT_EQ(qvAPIPollData(watcher.get(), event.get(), 5000), QV_NO_ERROR);
        ASSERT_EQ(event->valueType, uint32_t(QV_VALUE_INTEGER));
        EXPECT_EQ(event->count, 1u);
        EXPECT_STREQ(event->path, "/QV/DEBUG/LEVEL");
        EXPECT_EQ(event->data, event->dataArea);
        int64_t value = 0;
        std::memcpy(&value, event->data, 8);
        EXPECT_EQ(value, level);
    }
    EXPECT_EQ(qvAPIUnSubscribe(watcher.get(), "/qv"), QV_NO_ERROR);
    EXPECT_EQ(qvAPISetValueI(handle_.get(), "/qv/debug/level", 2), QV_NO_ERROR);
    EXPECT_EQ(qvAPISetValueI(handle_.get(), "/qv/debug/level", 3), QV_NO_ERROR);
    // Subscribed again, the watcher's first event is the next change: events
    // of the changes before, had there been any, would have come ahead of it.
    EXPECT_EQ(qvAPISubscribe(watcher.get(), "/qv/debug/level"), QV_NO_ERROR);
    EXPECT_EQ(qvAPISetValueI(handle_.get(), "/qv/debug/level", 4), QV_NO_ERROR);
    EXPECT_EQ(qvAPIPollData(watcher.get(), event.get(), 5000), QV_NO_ERROR);
    ASSERT_EQ(event->valueType, uint32_t(QV_VALUE_INTEGER));
    int64_t value = 0;
    std::memcpy(&value, event->data, 8);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(qvAPIUnSubscribe(watcher.get(), "/qv"), QV_NO_ERROR);
    EXPECT_EQ(qvAPISetValueI(handle_.get(), "/qv/debug/level", 3), QV_NO_ERROR);
}

TEST_F(ClientAgainstServer, TreesReportsASimulatedInstrument) {
    const std::string simulator = tarnix::test::buildDirectory() + "/sim/lq3sim";
    if (::access(simulator.c_str(), X_OK) != 0) GTEST_SKIP() << "lq3sim is not built";
    EXPECT_EQ(qvAPISubscribe(handle_.get(), "/qv/trees"), QV_NO_ERROR);
    tarnix::test::ChildProcess instrument;
    ASSERT_TRUE(instrument.start({simulator, "--dir", server_->instrumentDirectory(), "--serial", "2345"}, {},
                                 server_->workDirectory() + "/lq3sim-client.out"));
    auto event = newEvent();
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (event->valueType == QV_VALUE_NONE && std::chrono::steady_clock::now() < end)
        ASSERT_EQ(qvAPIPollData(handle_.get(), event.get(), 500), QV_NO_ERROR);
    if (event->valueType == QV_VALUE_NONE) instrument.stop(false, SIGTERM);
    ASSERT_EQ(event->valueType, uint32_t(QV_VALUE_TREECHANGE));
    EXPECT_STREQ(event->path, "/QV/TREES");
    int32_t code = -1;
    std::memcpy(&code, event->data, 4);
    EXPECT_EQ(code, 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(event->data + 4), "DEV2345");

    instrument.stop(false, SIGTERM);
    event->valueType = QV_VALUE_NONE;
    const auto gone = std::chrono::steady_clock::now() + 10s;
    while (event->valueType == QV_VALUE_NONE && std::chrono::steady_clock::now() < gone)
        ASSERT_EQ(qvAPIPollData(handle_.get(), event.get(), 500), QV_NO_ERROR);
    ASSERT_EQ(event->valueType, uint32_t(QV_VALUE_TREECHANGE));
    std::memcpy(&code, event->data, 4);
    EXPECT_EQ(code, 0);
}

TEST_F(ClientAgainstServer, ValuesAsPollDataArriveAsEvents) {
    EXPECT_EQ(qvAPIGetValueAsPollData(handle_.get(), "/qv/clockbase /qv/about/revision"), QV_NO_ERROR);
    auto event = newEvent();
    std::vector<std::string> paths;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(qvAPIPollData(handle_.get(), event.get(), 5000), QV_NO_ERROR);
        paths.push_back(event->path);
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"/QV/ABOUT/REVISION", "/QV/CLOCKBASE"}));
    EXPECT_EQ(qvAPIGetValueAsPollData(handle_.get(), "/qv/nothing"), QV_VALUE_NOT_FOUND);
}

TEST_F(ClientAgainstServer, FailuresAnswerTheirStatusCodes) {
    Handle unconnected = newHandle();
    double number = 0.0;
    DataDemodSample sample;
    uint8_t bytes[8];
    uint32_t length = 0;
    const std::string longPath = "/qv/" + std::string(253, 'x');
    const std::string hostTooLong = std::string(64, 'h') + ".invalid";
    const std::pair<QV_STATUS, QV_STATUS> cases[] = {
        {qvAPIGetValueD(nullptr, "/qv/clockbase", &number), QV_CONNECTION_INVALID},
        {qvAPIGetValueD(unconnected.get(), "/qv/clockbase", &number), QV_CONNECTION_INVALID},
        {qvAPIGetValueD(handle_.get(), longPath.c_str(), &number), QV_BUFFER_TOO_SMALL},
        {qvAPIGetValueD(handle_.get(), "/qv/nothing", &number), QV_VALUE_NOT_FOUND},
        {qvAPIGetValueD(handle_.get(), "/qv/about", &number), QV_VALUE_NOT_FOUND},
        {qvAPIGetValueS(handle_.get(), "/qv/clockbase", &sample), QV_VALUE_NOT_FOUND},
        {qvAPIGetValueB(handle_.get(), "/qv/clockbase", bytes, &length, sizeof bytes), QV_VALUE_NOT_FOUND},
        {qvAPISetValueD(handle_.get(), "/qv/nothing", 1.0), QV_VALUE_NOT_FOUND},
        {qvAPISetValueB(unconnected.get(), "/qv/about/version", bytes, 0), QV_BUFFER_TOO_SMALL},
        {qvAPIConnect(unconnected.get(), hostTooLong.c_str(), server_->port()), QV_HOST_NOT_FOUND},
        {qvAPIConnect(unconnected.get(), "127.0.0.1", tarnix::test::freePort()), QV_SOCKET_CONNECT_FAILED},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i << std::hex << ": got 0x" << cases[i].first;
    // Every failure above left the connection usable.
    EXPECT_EQ(qvAPIGetValueD(handle_.get(), "/qv/clockbase", &number), QV_NO_ERROR);
}

TEST_F(ClientAgainstServer, RequestsOnAPathThatNamesNothingAreNotFound) {
    std::vector<char> text(256, 'x');
    const std::pair<const char*, QV_STATUS> cases[] = {
        {"subscribe", qvAPISubscribe(handle_.get(), "/NOSUCHNODE")},
        {"unsubscribe", qvAPIUnSubscribe(handle_.get(), "/NOSUCHNODE")},
        {"list", qvAPIListNodes(handle_.get(), "/NOSUCHNODE", text.data(), uint32_t(text.size()), 0)},
        {"list recursive", qvAPIListNodes(handle_.get(), "/QV/NOSUCH", text.data(), uint32_t(text.size()),
                                          QV_LIST_RECURSIVE)},
        {"subscribe below a node", qvAPISubscribe(handle_.get(), "/QV/ABOUT/NOSUCH")},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, QV_VALUE_NOT_FOUND) << c.first << std::hex << ": got 0x" << c.second;
    EXPECT_EQ(qvAPISubscribe(handle_.get(), "/qv/trees"), QV_NO_ERROR);
    EXPECT_EQ(qvAPIUnSubscribe(handle_.get(), "/qv/trees"), QV_NO_ERROR);
}

// Fast demodulator streams fill the event queue of a handle that does not
// poll; the requests it makes meanwhile still get the server's answer, and
// the loss of events is told once the queue has been read.
TEST_F(ClientAgainstServer, ARequestIsAnsweredTrulyWhileTheEventQueueIsFull) {
    const std::string simulator = tarnix::test::buildDirectory() + "/sim/lq3sim";
    if (::access(simulator.c_str(), X_OK) != 0) GTEST_SKIP() << "lq3sim is not built";
    tarnix::test::ChildProcess instrument;
    ASSERT_TRUE(instrument.start({simulator, "--dir", server_->instrumentDirectory(), "--serial", "2468", "--running"},
                                 {}, server_->workDirectory() + "/lq3sim-full.out"));
    const auto end = std::chrono::steady_clock::now() + 20s;
    QV_STATUS st = QV_VALUE_NOT_FOUND;
    while (st != QV_NO_ERROR && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(50ms);
        st = qvAPISetValueD(handle_.get(), "/dev2468/demods/0/rate", 921052.6);
    }
    ASSERT_EQ(st, QV_NO_ERROR) << "the instrument did not come";
    ASSERT_EQ(qvAPISetValueD(handle_.get(), "/dev2468/demods/1/rate", 921052.6), QV_NO_ERROR);
    Handle streaming = connected();
    ASSERT_EQ(qvAPISubscribe(streaming.get(), "/dev2468/demods/0/sample /dev2468/demods/1/sample"), QV_NO_ERROR);
    int failed = 0;
    for (int64_t level = 0; level < 20; ++level) {
        std::this_thread::sleep_for(300ms);
        const QV_STATUS set = qvAPISetValueI(streaming.get(), "/dev2468/oscs/0/freq", 1000 + level);
        if (set != QV_NO_ERROR) ++failed;
    }
    EXPECT_EQ(failed, 0) << "sets answered with something else than the server's answer";
    ASSERT_EQ(qvAPIUnSubscribe(streaming.get(), "/dev2468/demods/0/sample /dev2468/demods/1/sample"), QV_NO_ERROR);
    // Read the queue out: the loss is told once.
    auto event = newEvent();
    int lossReports = 0;
    const auto drained = std::chrono::steady_clock::now() + 30s;
    for (QV_STATUS poll = QV_NO_ERROR; std::chrono::steady_clock::now() < drained;) {
        poll = qvAPIPollData(streaming.get(), event.get(), 0);
        if (poll == QV_OVERFLOW || poll == QV_BUFFER_TOO_SMALL) {
            ++lossReports;
            continue;
        }
        ASSERT_EQ(poll, QV_NO_ERROR);
        if (event->valueType == QV_VALUE_NONE) break;
    }
    EXPECT_GE(lossReports, 1) << "the queue never became full";
    for (const char* rate : {"/dev2468/demods/0/rate", "/dev2468/demods/1/rate"})
        EXPECT_EQ(qvAPISetValueD(handle_.get(), rate, 0.0), QV_NO_ERROR);
    instrument.stop(false, SIGTERM);
}

TEST_F(ClientAgainstServer, UpdateDevicesIsAnswered) { EXPECT_EQ(qvAPIUpdateDevices(handle_.get()), QV_NO_ERROR); }

TEST(ClientLibrary, ErrorTextsRevisionAndSeconds) {
    const std::pair<QV_STATUS, const char*> texts[] = {
        {QV_NO_ERROR, "Success (no error)"},          {QV_VALUE_NOT_FOUND, "Value or Node not found"},
        {QV_CONNECTION_INVALID, "Connection invalid"}, {QV_COMMAND_TIMEOUT, "Command timed out"},
        {QV_SOCKET_CONNECT_FAILED, "Unable to connect socket"}, {QV_HOST_NOT_FOUND, "Hostname not found"},
        {QV_BUFFER_TOO_SMALL, "Provided Buffer is too small"}, {0x8013, "Unknown Error Code"},
    };
    for (const auto& t : texts) {
        const char* text = nullptr;
        EXPECT_EQ(qvAPIGetError(t.first, &text, nullptr), QV_NO_ERROR);
        EXPECT_STREQ(text, t.second);
    }
    uint32_t revision = 0;
    EXPECT_EQ(qvAPIGetRevision(&revision), QV_NO_ERROR);
    EXPECT_EQ(revision, 12256u);
    EXPECT_EQ(qvAPISecondsTimeStamp(210000000), 1.0);
    EXPECT_GT(qvAPISecondsTimeStamp(UINT64_MAX), 0.0);
}

TEST(ClientLibrary, AServerThatGoesAwayEndsTheConnection) {
    auto server = std::make_unique<ServerProcess>();
    ASSERT_TRUE(server->running());
    Handle handle = newHandle();
    ASSERT_EQ(qvAPIConnect(handle.get(), "127.0.0.1", server->port()), QV_NO_ERROR);
    EXPECT_EQ(server->stop(), 0);
    double number = 0.0;
    EXPECT_EQ(qvAPIGetValueD(handle.get(), "/qv/clockbase", &number), QV_CONNECTION_INVALID);
    EXPECT_EQ(qvAPIGetValueD(handle.get(), "/qv/clockbase", &number), QV_CONNECTION_INVALID);
}

}  // namespace
