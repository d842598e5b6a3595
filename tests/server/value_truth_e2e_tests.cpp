// Every request gets a true answer, end to end with the qvServer program and a
// simulated instrument, over the text and binary protocols and through the
// client library: a path is taken whole or refused, never cut to name another
// node; a number that fits no setting is refused and stores nothing; a fresh
// instrument reads finite settings. A sweep writes every writable numeric leaf
// of the instrument with values no setting takes whole.
#include "BinaryTestSupport.h"
#include "DeviceE2ESupport.h"
#include "qvAPI.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
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
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
const double kNaN = std::nan("");

// What a binary request got: its count (when one came) and the value events
// and error replies with its sequence id.
struct BinaryAnswer {
    bool answered = false;  // complete before the deadline
    bool counted = false;
    uint32_t count = 0;
    std::vector<test::Message> values;  // events and error replies
    std::vector<uint16_t> errors;       // codes of the error replies
    std::string listing;

    // The one value of a numeric event, as a double.
    bool number(double& value) const {
        wire::ValueEventView event;
        if (values.size() != 1 || !values[0].event(event) || event.dataLength != 8) return false;
        if (event.dataType == DATATYPE_DOUBLE) value = le::getDouble(event.data);
        else if (event.dataType == DATATYPE_INTEGER) value = double(int64_t(le::get64(event.data)));
        else return false;
        return true;
    }
    bool integerKind() const {
        wire::ValueEventView event;
        return values.size() == 1 && values[0].event(event) && event.dataType == DATATYPE_INTEGER;
    }
};

// A binary-protocol client that asks one request at a time.
class BinaryClient {
public:
    explicit BinaryClient(uint16_t port) : client_(port) {
        ok_ = client_.connected() && client_.waitFor("\r\n");
        client_.clear();
        const std::string helloHead("\x01\x00\x00\x00\x12\x00\x00\x00", 8);
        ok_ = ok_ && client_.send("proto bin\n") && client_.waitFor(helloHead, 5s);
        if (ok_) buffer_ = client_.received().substr(client_.received().find(helloHead) + wire::kHelloSize);
        client_.clear();
    }
    bool ok() const { return ok_; }

    BinaryAnswer ask(uint16_t type, const Bytes& body) {
        const uint16_t id = nextId_++;
        if (nextId_ == 0) nextId_ = 1;
        BinaryAnswer answer;
        const Bytes request = message(type, id, body);
        if (!client_.send(std::string(request.begin(), request.end()))) return answer;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            std::string rest;
            for (test::Message& m : test::splitMessages(buffer_, &rest)) {
                if (m.header.sequenceId != id) continue;
                switch (m.header.type) {
                    case wire::MSG_GET_VALUE_REPLY:
                    case wire::MSG_SET_VALUE_REPLY:
                        answer.counted = true;
                        answer.count = m.count();
                        break;
                    case wire::MSG_ERROR_REPLY:
                        answer.errors.push_back(le::get16(&m.bytes[wire::kErrorCodeAt]));
                        answer.values.push_back(std::move(m));
                        break;
                    case wire::MSG_VALUE_EVENT:
                        answer.values.push_back(std::move(m));
                        break;
                    case wire::MSG_LIST_NODES_REPLY:
                        answer.listing.assign(m.bytes.begin() + wire::kListTextAt, m.bytes.end());
                        answer.answered = true;
                        break;
                    default:
                        answer.answered = true;
                        break;
                }
            }
            buffer_ = rest;
            if (answer.counted && answer.values.size() >= answer.count) answer.answered = true;
            if (!answer.counted && !answer.errors.empty()) answer.answered = true;
            if (answer.answered) return answer;
            if (!readSome()) break;
        }
        return answer;
    }

    BinaryAnswer get(const std::string& path) { return ask(wire::MSG_GET_VALUE, pathBody(path)); }
    BinaryAnswer setInteger(const std::string& path, int64_t value) {
        return ask(wire::MSG_SET_INTEGER, test::withU64(pathBody(path), uint64_t(value)));
    }
    BinaryAnswer setDouble(const std::string& path, double value) {
        return ask(wire::MSG_SET_DOUBLE, test::withDouble(pathBody(path), value));
    }
    // The leaf's value as a double; NaN when none came.
    double number(const std::string& path) {
        double value = kNaN;
        EXPECT_TRUE(get(path).number(value)) << path;
        return value;
    }

private:
    // Waits a moment for bytes and takes them; false when the connection ended.
    bool readSome() {
        pollfd p{client_.fd(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) return true;
        char chunk[65536];
        const ssize_t n = ::recv(client_.fd(), chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer_.append(chunk, size_t(n));
        return true;
    }

    test::TestClient client_;
    bool ok_ = false;
    uint16_t nextId_ = 1;
    std::string buffer_;
};

struct HandleDeleter {
    void operator()(QvHandle* handle) const { qvAPIDestroy(handle); }
};
typedef std::unique_ptr<QvHandle, HandleDeleter> Handle;

// The server with one simulated instrument for the whole suite.
class ValueTruth : public test::DeviceServerFixture {
protected:
    void SetUp() override {
        DeviceServerFixture::SetUp();
        instrument_ = plug(kSerial, {"--running"});
        ASSERT_TRUE(trees_->waitFor(addLine(kSerial), 15s)) << trees_->received();
        binary_ = std::make_unique<BinaryClient>(server_->port());
        ASSERT_TRUE(binary_->ok());
        QvHandle* raw = nullptr;
        ASSERT_EQ(qvAPIInit(&raw), QV_NO_ERROR);
        handle_.reset(raw);
        ASSERT_EQ(qvAPIConnect(raw, "127.0.0.1", server_->port()), QV_NO_ERROR);
    }
    void TearDown() override {
        handle_.reset();
        binary_.reset();
        if (!instrument_) return;
        instrument_->unplug();
        EXPECT_TRUE(trees_->waitFor(removeLine(kSerial), 10s)) << trees_->received();
        instrument_.reset();
    }

    // A text command and the lines it brings, read until `expected` came.
    std::string text(const std::string& command, const std::string& expected = "\n") {
        return test::ask(*probe_, command + "\n", expected);
    }
    // A text write, carried out: the session's requests to one instrument are
    // taken in order, so the answer of a read behind it comes after the write
    // was done. (Requests of different sessions may pass each other.)
    // Writes one text line and returns what the server printed for it.
    std::string textWrite(const std::string& line) {
        textLog_ += probe_->received();
        probe_->clear();
        const bool server = line.compare(0, 4, "/QV/") == 0;
        const std::string tree = server ? "/QV" : "/DEV1234";
        const std::string mark = tree + "/CLOCKBASE: " + (server ? "10" : "210000000") + "\r\n";
        EXPECT_TRUE(probe_->send(line + "\n" + tree + "/CLOCKBASE ?\n"));
        EXPECT_TRUE(probe_->waitFor(mark)) << line << ": " << probe_->received();
        const std::string received = probe_->received();
        textLog_ += received;
        probe_->clear();
        const std::size_t at = received.rfind(mark);
        return at == std::string::npos ? received : received.substr(0, at);
    }

    std::unique_ptr<test::Simulator> instrument_;
    std::unique_ptr<BinaryClient> binary_;
    Handle handle_;
    std::string textLog_;  // what text writes brought
};

const std::string kUserRegs = "/DEV1234/CPUS/0/USERREGS/";

// The same node through a path of the given length: "." segments fill it.
std::string paddedPath(const std::string& tail, size_t length) {
    std::string path = "/DEV1234";
    while (path.size() + 2 + tail.size() <= length) path += "/.";
    if (path.size() + tail.size() < length) path += "/";
    return path + tail;
}

TEST_F(ValueTruth, PathsAreTakenWholeUpTo256CharactersAndLongerOnesAreRefused) {
    // Row 1: 128 characters, whose first 127 name USERREGS/1.
    const std::string cut = "/DEV1234" + std::string(101, '/') + "/CPUS/0/USERREGS/10";
    ASSERT_EQ(cut.size(), 128u);
    ASSERT_EQ(cut.substr(0, 127), "/DEV1234" + std::string(101, '/') + "/CPUS/0/USERREGS/1");
    // Row 2: a path of 200 characters, and one of exactly 256.
    const std::string long200 = paddedPath("/CPUS/0/USERREGS/4", 200);
    const std::string long256 = paddedPath("/CPUS/0/USERREGS/5", 256);
    ASSERT_EQ(long200.size(), 200u);
    ASSERT_EQ(long256.size(), 256u);
    const std::string tooLong = paddedPath("/CPUS/0/USERREGS/6", 257);
    ASSERT_EQ(tooLong.size(), 257u);

    for (int r : {1, 4, 5, 6, 10, 11}) binary_->setInteger(kUserRegs + std::to_string(r), 0);
    struct Case {
        const char* via;
        std::string path;
        int64_t value;
        const char* reg;  // the register that must hold the value
    };
    const Case cases[] = {
        {"binary", cut, 777, "10"},     {"client", cut + " ", 778, "10"},  // 129 characters
        {"binary", long200, 779, "4"},  {"client", long200, 780, "4"},
        {"binary", long256, 781, "5"},  {"client", long256, 782, "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.via) + " " + std::to_string(c.path.size()) + " characters");
        if (std::string(c.via) == "binary") {
            const BinaryAnswer answer = binary_->setInteger(c.path, c.value);
            EXPECT_TRUE(answer.answered);
            EXPECT_EQ(answer.count, 1u);
            EXPECT_TRUE(answer.errors.empty());
        } else {
            EXPECT_EQ(qvAPISetValueI(handle_.get(), c.path.c_str(), c.value), QV_NO_ERROR);
        }
        EXPECT_EQ(binary_->number(kUserRegs + c.reg), double(c.value));
        int64_t read = 0;
        EXPECT_EQ(qvAPIGetValueI(handle_.get(), c.path.c_str(), &read), QV_NO_ERROR);
        EXPECT_EQ(read, c.value);
    }
    EXPECT_EQ(binary_->number(kUserRegs + "1"), 0.0) << "the cut path's node was written";

    // Longer than 256: refused whole with an error reply; nothing written.
    for (uint16_t type : {wire::MSG_SET_INTEGER, wire::MSG_GET_VALUE}) {
        const Bytes body = type == wire::MSG_SET_INTEGER ? test::withU64(pathBody(tooLong), 99) : pathBody(tooLong);
        const BinaryAnswer answer = binary_->ask(type, body);
        EXPECT_TRUE(answer.answered) << type;
        EXPECT_FALSE(answer.counted) << type;
        EXPECT_EQ(answer.errors, std::vector<uint16_t>{wire::ERROR_COMMAND_FAILED}) << type;
    }
    EXPECT_NE(qvAPISetValueI(handle_.get(), tooLong.c_str(), 99), QV_NO_ERROR);
    EXPECT_EQ(binary_->number(kUserRegs + "6"), 0.0);
}

TEST_F(ValueTruth, AnIndexBeyond32BitsNamesNoNode) {
    // Row 3: 2^32 would wrap to demodulator 0.
    for (const char* index : {"4294967296", "4294967297", "99999999999999999999"}) {
        SCOPED_TRACE(index);
        const std::string path = std::string("/DEV1234/DEMODS/") + index + "/RATE";
        EXPECT_EQ(text(path + " ?"), "ERROR: No Node to read from\n");
        const BinaryAnswer answer = binary_->get(path);
        EXPECT_TRUE(answer.answered);
        EXPECT_EQ(answer.count, 0u);
        double value = 0.0;
        EXPECT_NE(qvAPIGetValueD(handle_.get(), path.c_str(), &value), QV_NO_ERROR);
    }
    EXPECT_EQ(text("/DEV1234/DEMODS/0/RATE ?"), "/DEV1234/DEMODS/0/RATE: 0.000000\r\n");
}

// One write that no setting takes whole, through one way in.
struct RefusedCase {
    const char* via;  // "text", "binary" or "client"
    const char* path;
    const char* textValue;
    bool integer;
    int64_t integerValue;
    double doubleValue;
};

TEST_F(ValueTruth, NumbersThatFitNoSettingAreRefusedAndStoreNothing) {
    const RefusedCase cases[] = {
        // Row 4: 2^32 + 1 would be 1 Hz.
        {"text", "/DEV1234/OSCS/0/FREQ", "4294967297", true, 0, 0},
        {"binary", "/DEV1234/OSCS/0/FREQ", "", true, 4294967297, 0},
        {"client", "/DEV1234/OSCS/0/FREQ", "", true, 4294967297, 0},
        // Text numbers beyond 64 bits would wrap to 1 Hz and to -1.
        {"text", "/DEV1234/OSCS/0/FREQ", "18446744073709551617", true, 0, 0},
        {"text", "/DEV1234/DEMODS/0/ORDER", "18446744073709551615", true, 0, 0},
        // Row 5: 2^63 wraps to -2^63, which would be rate 0.
        {"text", "/DEV1234/DEMODS/0/RATE", "9223372036854775808", true, 0, 0},
        {"binary", "/DEV1234/DEMODS/0/RATE", "", true, kInt64Max, 0},
        {"client", "/DEV1234/DEMODS/0/RATE", "", true, kInt64Min, 0},
        // Row 6: NaN would move the server to port 1024.
        {"text", "/QV/CONFIG/PORT", "(0/0)", false, 0, 0},
        {"binary", "/QV/CONFIG/PORT", "", false, 0, kNaN},
        {"client", "/QV/CONFIG/PORT", "", false, 0, kNaN},
        {"binary", "/QV/CONFIG/PORT", "", true, 4294967297, 0},
        // Row 7: NaN would be 0 Hz.
        {"text", "/DEV1234/OSCS/0/FREQ", "(0/0)", false, 0, 0},
        {"binary", "/DEV1234/OSCS/0/FREQ", "", false, 0, kNaN},
        {"client", "/DEV1234/OSCS/0/FREQ", "", false, 0, kNaN},
        // Row 8: a controller gain of NaN or infinity.
        {"text", "/DEV1234/PIDS/0/P", "(0/0)", false, 0, 0},
        {"text", "/DEV1234/PIDS/0/I", "(1/0)", false, 0, 0},
        {"binary", "/DEV1234/PIDS/0/D", "", false, 0, -kInf},
        {"client", "/DEV1234/PIDS/0/SETPOINT", "", false, 0, kInf},
        {"client", "/DEV1234/PIDS/3/TIPPROTECT/ACTIVETHRESHOLD", "", false, 0, kNaN},
    };
    const int64_t port = server_->port();
    binary_->setDouble("/DEV1234/OSCS/0/FREQ", 12345.0);
    binary_->setDouble("/DEV1234/DEMODS/0/RATE", 1000.0);
    for (const RefusedCase& c : cases) {
        const std::string via = c.via;
        SCOPED_TRACE(via + " " + c.path + " " + (via == "text" ? c.textValue
                                                                : c.integer ? std::to_string(c.integerValue)
                                                                            : std::to_string(c.doubleValue)));
        const double before = binary_->number(c.path);
        if (via == "text") {
            EXPECT_EQ(textWrite(std::string(c.path) + " " + c.textValue), "ERROR: Command failed\n");
        } else if (via == "binary") {
            const BinaryAnswer answer =
                c.integer ? binary_->setInteger(c.path, c.integerValue) : binary_->setDouble(c.path, c.doubleValue);
            EXPECT_TRUE(answer.answered);
            EXPECT_EQ(answer.count, 1u);
            EXPECT_EQ(answer.errors, std::vector<uint16_t>{wire::ERROR_COMMAND_FAILED});
        } else {
            const QV_STATUS status = c.integer ? qvAPISetValueI(handle_.get(), c.path, c.integerValue)
                                               : qvAPISetValueD(handle_.get(), c.path, c.doubleValue);
            EXPECT_EQ(status, QV_COMMAND_SERVER_FAILED);
        }
        EXPECT_EQ(binary_->number(c.path), before);
    }
    EXPECT_EQ(binary_->number("/QV/CONFIG/PORT"), double(port));
    // Values that fit keep their group's clamping: 2^32 - 1 as an integer,
    // and an infinity where the setting has a range.
    EXPECT_EQ(qvAPISetValueI(handle_.get(), "/DEV1234/OSCS/0/FREQ", 4294967295), QV_NO_ERROR);
    EXPECT_EQ(binary_->number("/DEV1234/OSCS/0/FREQ"), 99999999.99999964);
    EXPECT_EQ(qvAPISetValueD(handle_.get(), "/DEV1234/OSCS/0/FREQ", -kInf), QV_NO_ERROR);
    EXPECT_EQ(binary_->number("/DEV1234/OSCS/0/FREQ"), 0.0);
    binary_->setDouble("/DEV1234/PIDS/0/P", 1e300);
    EXPECT_EQ(binary_->number("/DEV1234/PIDS/0/P"), double(std::numeric_limits<float>::max()));
}

TEST_F(ValueTruth, AFreshInstrumentReadsFiniteSettings) {
    // Row 9: the power-on time constant, not -inf.
    const std::string constants = text("/DEV1234/DEMODS/*/TIMECONSTANT ?", "/DEV1234/DEMODS/5/TIMECONSTANT");
    for (int d = 0; d < 6; ++d) {
        const std::string line = "/DEV1234/DEMODS/" + std::to_string(d) + "/TIMECONSTANT: 0.01016450\r\n";
        EXPECT_NE(constants.find(line), std::string::npos) << constants;
    }
    EXPECT_EQ(constants.find("inf"), std::string::npos) << constants;
    double tc = 0.0;
    EXPECT_EQ(qvAPIGetValueD(handle_.get(), "/DEV1234/DEMODS/3/TIMECONSTANT", &tc), QV_NO_ERROR);
    EXPECT_NEAR(tc, 0.010164, 1e-6);
    // The power-on settings of an instrument where they are not zero words.
    const std::pair<const char*, const char*> powerOn[] = {
        {"DEMODS/0/ORDER", "4"},        {"OSCS/1/FREQ", "1000000.00000"}, {"SIGINS/1/RANGE", "1.17192"},
        {"SIGINS/0/DIFF", "0"},         {"AUXINS/0/AVERAGING", "256"},    {"DIOS/0/DECIMATION", "256"},
        {"DIOS/0/DRIVE", "0"},          {"DIOS/0/SYNCSELECT0", "8"},      {"DIOS/0/SYNCSELECT1", "8"},
        {"DEMODS/5/HARMONIC", "1"},     {"SIGOUTS/1/RANGE", "1.00"},
    };
    for (const auto& setting : powerOn) {
        const std::string path = std::string("/DEV1234/") + setting.first;
        EXPECT_EQ(text(path + " ?"), path + ": " + setting.second + "\r\n");
    }
    // Every numeric value of a fresh instrument of each kind is a finite number.
    auto tables = plug(1621, {"--model", "single-input", "--running"});
    auto multi = plug(1631, {"--model", "multi-cpu", "--running"});
    ASSERT_TRUE(trees_->waitFor(addLine(1621), 15s) && trees_->waitFor(addLine(1631), 15s)) << trees_->received();
    for (const char* dev : {"/DEV1234", "/DEV1621", "/DEV1631"}) {
        SCOPED_TRACE(dev);
        const std::string d = dev;
        const BinaryAnswer all = binary_->get(d + "/* " + d + "/*/* " + d + "/*/*/* " + d + "/*/*/*/*");
        ASSERT_TRUE(all.answered);
        size_t numbers = 0;
        for (const test::Message& m : all.values) {
            wire::ValueEventView event;
            if (!m.event(event) || event.dataType != DATATYPE_DOUBLE || event.dataLength != 8) continue;
            ++numbers;
            EXPECT_TRUE(std::isfinite(le::getDouble(event.data))) << m.eventPath();
        }
        EXPECT_GT(numbers, 100u);
    }
    EXPECT_EQ(text("/DEV1631/SIGINS/1/RANGE ?"), "/DEV1631/SIGINS/1/RANGE: 1.20000\r\n");
    for (auto* instrument : {tables.get(), multi.get()}) instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1621), 10s) && trees_->waitFor(removeLine(1631), 10s));
}

// The sweep: every writable numeric leaf, each value no setting takes whole,
// through text and binary. Every binary write is answered; every read-back is
// the value before or, for an infinity, the bound the leaf clamps a huge value
// to; the server stays up.
TEST_F(ValueTruth, SweepOfEveryWritableNumericLeaf) {
    const BinaryAnswer listing =
        binary_->ask(wire::MSG_LIST_NODES,
                     test::withU32(pathBody("/DEV1234"), wire::LIST_RECURSIVE | wire::LIST_ABSOLUTE_PATH |
                                                             wire::LIST_LEAVES_ONLY | wire::LIST_SETTINGS_ONLY));
    ASSERT_TRUE(listing.answered);
    struct Leaf {
        std::string path;
        bool integer;
    };
    std::vector<Leaf> leaves;
    for (size_t at = 0, end; (end = listing.listing.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string path = listing.listing.substr(at, end - at);
        const BinaryAnswer answer = binary_->get(path);
        double value = 0.0;
        if (answer.number(value)) leaves.push_back({path, answer.integerKind()});
    }
    ASSERT_GT(leaves.size(), 250u);

    const auto restore = [&](const Leaf& leaf, double value) {
        const BinaryAnswer answer =
            leaf.integer ? binary_->setInteger(leaf.path, int64_t(value)) : binary_->setDouble(leaf.path, value);
        EXPECT_TRUE(answer.answered && answer.errors.empty()) << leaf.path << " takes no write of its own value";
    };
    // Writes `value` its way and returns the value read back.
    const auto writeRead = [&](const Leaf& leaf, const std::string& way, int64_t integer, double number,
                               const std::string& textValue) {
        if (way == "text") {
            // Answered: by the value now set, or by an error line.
            const std::string answer = textWrite(leaf.path + " " + textValue);
            EXPECT_TRUE(answer == "ERROR: Command failed\n" || answer.rfind(leaf.path + ": ", 0) == 0)
                << leaf.path << " " << textValue << ": " << answer;
        } else {
            const BinaryAnswer answer = textValue.front() == '(' ? binary_->setDouble(leaf.path, number)
                                                                 : binary_->setInteger(leaf.path, integer);
            EXPECT_TRUE(answer.answered) << leaf.path << " " << textValue;
            EXPECT_EQ(answer.count, 1u) << leaf.path << " " << textValue;
        }
        return binary_->number(leaf.path);
    };
    struct Wide {
        int64_t value;
        const char* text;
    };
    const Wide wide[] = {{4294967297, "4294967297"},
                         {kInt64Min, "-9223372036854775808"},
                         {kInt64Max, "9223372036854775807"}};
    const auto start = std::chrono::steady_clock::now();
    for (const char* way : {"binary", "text"}) {
        for (const Leaf& leaf : leaves) {
            SCOPED_TRACE(std::string(way) + " " + leaf.path);
            const double old = binary_->number(leaf.path);
            for (const Wide& w : wide) EXPECT_EQ(writeRead(leaf, way, w.value, 0, w.text), old) << w.text;
            EXPECT_EQ(writeRead(leaf, way, 0, kNaN, "(0/0)"), old) << "NaN";
            for (double sign : {1.0, -1.0}) {
                const double infinite = writeRead(leaf, way, 0, sign * kInf, sign > 0 ? "(1/0)" : "(-1/0)");
                binary_->setDouble(leaf.path, sign * std::numeric_limits<double>::max());
                const double bound = binary_->number(leaf.path);
                EXPECT_FALSE(std::isnan(infinite));
                EXPECT_TRUE(infinite == old || infinite == bound)
                    << (sign > 0 ? "+inf" : "-inf") << " gave " << infinite << "; before " << old << ", bound "
                    << bound;
                restore(leaf, old);
            }
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    textLog_ += probe_->received();
    EXPECT_EQ(textLog_.find("nan"), std::string::npos) << textLog_;
    EXPECT_TRUE(server_->running());
    const std::string port = "/QV/CONFIG/PORT: " + std::to_string(server_->port()) + "\r\n";
    EXPECT_NE(text("/QV/CONFIG/PORT ?", port).find(port), std::string::npos);
}

}  // namespace
}  // namespace tarnix
