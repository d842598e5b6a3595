// Fairness of the request path, measured from outside: F clients flood one
// instrument with pipelined gets (each keeps `window` requests outstanding and
// sends them `batch` to a write) while another client asks alone, one get at
// a time. For F = 0, 1, 5, 25 and 50 it reports:
//  - the lone client's get: median, p95 and worst time in milliseconds,
//  - the flood's answers per second (all flooders together),
//  - the server's CPU time and context switches per answer (flood and lone
//    client together).
// Every client checks each message it receives (count 1, then the value, in
// the order asked) and the run fails loudly on anything else.
//
//   request_fairness_bench [--seconds S] [--flooders 0,1,5,25,50] [--window N] [--batch N]
//
// QV_BUILD_DIR in the environment measures the programs of another build tree.
#include "ProcessSupport.h"
#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tarnix;
using namespace tarnix::bench;
using namespace std::chrono_literals;

constexpr uint32_t kSerial = 1234;
const std::string kPath = "/dev1234/oscs/0/freq";
const std::string kEventPath = "/DEV1234/OSCS/0/FREQ";

struct Options {
    double seconds = 3.0;
    std::vector<int> flooders{0, 1, 5, 25, 50};
    uint32_t window = 2000;
    uint32_t batch = 1000;
    // Threads of the server without clients.
    int idleThreads = 0;
};

std::string getRequest(uint16_t sequenceId) { return binaryGetRequest(kPath, sequenceId); }

// Sequence ids of the n-th request of a client: 1 ... 65535, then again.
uint16_t sequenceOf(uint64_t n) { return uint16_t(n % 65535 + 1); }

// The answers of one client's gets, in the order asked: a count reply of 1,
// and the value event, for each. Counts and values of different requests
// interleave; each kind keeps the order of the requests.
class AnswerReader {
public:
    // Takes the whole messages at the front of `bytes`; false (with `error`)
    // on anything that is not the next expected answer.
    bool take(std::string& bytes, std::string& error) {
        size_t at = 0;
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
        while (bytes.size() - at >= wire::kHeaderSize) {
            const wire::BinaryMessageHeader header = wire::decodeHeader(p + at);
            if (header.totalLength < wire::kHeaderSize || header.totalLength > 4096)
                return fail(error, "a message of " + std::to_string(header.totalLength) + " bytes");
            if (bytes.size() - at < header.totalLength) break;
            if (header.type == wire::MSG_GET_VALUE_REPLY) {
                if (header.totalLength != wire::kCountReplySize || le::get32(p + at + wire::kReplyCountAt) != 1)
                    return fail(error, "a count reply that is not 1");
                if (counts_ >= asked_) return fail(error, "a count reply for nothing asked");
                if (header.sequenceId != sequenceOf(counts_))
                    return fail(error, "count reply " + std::to_string(header.sequenceId) + " out of order");
                ++counts_;
            } else if (header.type == wire::MSG_VALUE_EVENT) {
                wire::ValueEventView event;
                if (!wire::decodeValueEvent(p + at, header.totalLength, event) ||
                    std::string(event.path.text, event.path.length) != kEventPath ||
                    event.dataType != wire::EVENT_DOUBLE || event.dataLength != wire::kNumberSize)
                    return fail(error, "a value event that is not the frequency");
                if (values_ >= counts_) return fail(error, "a value ahead of its count");
                if (event.sequenceId != sequenceOf(values_))
                    return fail(error, "value " + std::to_string(event.sequenceId) + " out of order");
                ++values_;
            } else {
                return fail(error, "message type " + std::to_string(header.type));
            }
            at += header.totalLength;
        }
        bytes.erase(0, at);
        return true;
    }

    void asked(uint64_t n) { asked_ += n; }
    uint64_t askedSoFar() const { return asked_; }
    uint64_t values() const { return values_; }

private:
    static bool fail(std::string& error, const std::string& what) {
        error = "unexpected answer: " + what;
        return false;
    }
    uint64_t asked_ = 0;
    uint64_t counts_ = 0;
    uint64_t values_ = 0;
};

// A binary-protocol connection on the loopback address that has read the
// hello; -1 when it could not be made.
int binaryConnection(uint16_t port) {
    Connection connection(port);
    return connection.connected() && switchToBinary(connection) ? ::dup(connection.fd()) : -1;
}

// One flooding client on a thread of its own: keeps `window` gets outstanding,
// sending `batch` of them in one write whenever that many have been answered.
class Flooder {
public:
    Flooder(uint16_t port, const Options& options) : fd_(binaryConnection(port)), options_(options) {
        if (fd_ < 0) return;
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        thread_ = std::thread([this] { run(); });
    }
    ~Flooder() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    Flooder(const Flooder&) = delete;
    Flooder& operator=(const Flooder&) = delete;

    bool connected() const { return fd_ >= 0; }
    uint64_t answers() const { return answers_.load(); }
    std::string error() const {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return error_;
    }

private:
    void run() {
        std::string out;
        std::string in;
        AnswerReader reader;
        const auto ask = [&](uint32_t n) {
            for (uint32_t i = 0; i < n; ++i) out += getRequest(sequenceOf(reader.askedSoFar() + i));
            reader.asked(n);
        };
        ask(options_.window);
        while (!stop_.load()) {
            if (reader.askedSoFar() - reader.values() <= options_.window - options_.batch) ask(options_.batch);
            pollfd p{fd_, short(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
            if (::poll(&p, 1, 50) < 0) return setError("poll failed");
            if (p.revents & (POLLERR | POLLHUP)) return setError("the server closed the connection");
            if (p.revents & POLLOUT) {
                const ssize_t sent = ::send(fd_, out.data(), out.size(), MSG_NOSIGNAL);
                if (sent < 0 && errno != EAGAIN) return setError("send failed");
                if (sent > 0) out.erase(0, size_t(sent));
            }
            if (p.revents & POLLIN) {
                char chunk[65536];
                const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
                if (n == 0) return setError("the server closed the connection");
                if (n < 0 && errno != EAGAIN) return setError("receive failed");
                if (n > 0) in.append(chunk, size_t(n));
                std::string error;
                if (!reader.take(in, error)) return setError(error);
                answers_.store(reader.values());
            }
        }
    }
    void setError(const std::string& error) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        error_ = error;
    }

    const int fd_;
    const Options options_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> answers_{0};
    mutable std::mutex errorMutex_;
    std::string error_;
    std::thread thread_;
};

// The client that asks alone: one get, its whole answer, the next.
class LoneClient {
public:
    explicit LoneClient(uint16_t port) : fd_(binaryConnection(port)) {}
    ~LoneClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool connected() const { return fd_ >= 0; }

    // The time of one get in milliseconds; negative (with `error`) on failure.
    double ask(std::string& error) {
        const std::string request = getRequest(sequenceOf(reader_.askedSoFar()));
        reader_.asked(1);
        const auto start = Clock::now();
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
            error = "send failed";
            return -1;
        }
        while (reader_.values() < reader_.askedSoFar()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) {
                error = "no answer within 10 s";
                return -1;
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                error = "the server closed the connection";
                return -1;
            }
            in_.append(chunk, size_t(n));
            if (!reader_.take(in_, error)) return -1;
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

private:
    const int fd_;
    AnswerReader reader_;
    std::string in_;
};

// Waits (bounded) until the server has finished the work of the last row:
// its sessions have ended (a thread that ends while a row is measured would
// take its context switches with it) and it is quiet.
void settle(pid_t server, int threads) {
    double last = runSeconds(server);
    for (int i = 0; i < 200; ++i) {
        std::this_thread::sleep_for(100ms);
        const double now = runSeconds(server);
        if (now - last < 0.005 && threadCount(server) <= threads) return;
        last = now;
    }
}

// One row of the table; false when a client failed.
bool measure(uint16_t port, pid_t server, int flooderCount, const Options& options) {
    settle(server, options.idleThreads);
    std::vector<std::unique_ptr<Flooder>> flooders;
    for (int i = 0; i < flooderCount; ++i) {
        flooders.push_back(std::make_unique<Flooder>(port, options));
        if (!flooders.back()->connected()) {
            std::printf("flooder %d could not connect\n", i);
            return false;
        }
    }
    LoneClient lone(port);
    if (!lone.connected()) {
        std::printf("the lone client could not connect\n");
        return false;
    }
    // Warm-up: every flooder has had answers.
    const auto warmEnd = Clock::now() + 10s;
    while (Clock::now() < warmEnd &&
           !std::all_of(flooders.begin(), flooders.end(), [](const auto& f) { return f->answers() > 0; }))
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(300ms);

    const auto floodAnswers = [&] {
        uint64_t total = 0;
        for (const auto& f : flooders) total += f->answers();
        return total;
    };
    const double cpuBefore = cpuSeconds(server);
    const uint64_t switchesBefore = contextSwitches(server);
    const uint64_t floodBefore = floodAnswers();
    const auto start = Clock::now();
    std::vector<double> times;
    std::string error;
    while (Clock::now() - start < std::chrono::duration<double>(options.seconds)) {
        const double ms = lone.ask(error);
        if (ms < 0) {
            std::printf("%8d  lone client failed: %s\n", flooderCount, error.c_str());
            return false;
        }
        times.push_back(ms);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const uint64_t flood = floodAnswers() - floodBefore;
    const double cpu = cpuSeconds(server) - cpuBefore;
    const uint64_t switches = contextSwitches(server) - switchesBefore;
    for (size_t i = 0; i < flooders.size(); ++i) {
        if (!flooders[i]->error().empty()) {
            std::printf("%8d  flooder %zu failed: %s\n", flooderCount, i, flooders[i]->error().c_str());
            return false;
        }
    }
    flooders.clear();

    std::sort(times.begin(), times.end());
    const double answers = double(flood + times.size());
    std::printf("%8d  %8.3f %8.3f %9.3f  %10.0f  %10.2f  %8.3f\n", flooderCount, percentile(times, 0.5),
                percentile(times, 0.95), times.back(), flooderCount ? double(flood) / seconds : 0.0,
                cpu / answers * 1e6, double(switches) / answers);
    std::fflush(stdout);
    return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--seconds") {
            options.seconds = std::max(0.5, std::min(30.0, std::atof(value.c_str())));
        } else if (name == "--flooders") {
            options.flooders.clear();
            for (const std::string& count : commaList(value))
                options.flooders.push_back(std::max(0, std::min(100, std::atoi(count.c_str()))));
        } else if (name == "--window") {
            options.window = uint32_t(std::max(1, std::min(20000, std::atoi(value.c_str()))));
        } else if (name == "--batch") {
            options.batch = uint32_t(std::max(1, std::atoi(value.c_str())));
        } else {
            return false;
        }
    }
    options.batch = std::min(options.batch, options.window);
    return argc % 2 == 1;
}

int run(Options options, const std::string& directory) {
    ServerUnderTest server(directory, "qvfairnessbench");
    const std::unique_ptr<ChildProcess> simulator = server.plug(kSerial);
    if (!simulator) {
        std::printf("qvServer or the simulated instrument did not come up\n");
        return 1;
    }
    // Without clients: the session of the client that waited for the
    // instrument ends.
    server.dropTreesClient();
    options.idleThreads = threadCount(server.pid());
    for (const auto end = Clock::now() + 5s; Clock::now() < end;) {
        std::this_thread::sleep_for(200ms);
        const int now = threadCount(server.pid());
        if (now == options.idleThreads) break;
        options.idleThreads = now;
    }
    std::printf("gets of %s: %u outstanding per flooder, %u per write, %.1f s per row\n", kPath.c_str(),
                options.window, options.batch, options.seconds);
    std::printf("flooders  lone get ms: median   p95      max   flood ans/s  cpu us/ans  sw/ans\n");
    for (int flooders : options.flooders)
        if (!measure(server.port(), server.pid(), flooders, options)) return 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: request_fairness_bench [--seconds S] [--flooders 0,1,5,25,50] [--window N] "
                     "[--batch N]\n");
        return 2;
    }
    char pattern[] = "/tmp/qvfairnessbench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const int status = run(options, pattern);
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
    return status;
}
