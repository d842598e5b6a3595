// Round trips of a get, measured from outside and the same way for every
// case: one client sends a request, blocks until the whole answer is read,
// and takes the time. Side by side in one run:
//  - Redis GET of a small key (when redis-server is installed; skipped with a
//    note otherwise),
//  - the text protocol, the binary protocol and qvAPIGetValueD, each on the
//    server's own tree (/QV/ABOUT/REVISION) and on a device tree (a demodulator
//    time constant of a simulated instrument).
// First with one client, then with several in parallel (one thread each).
// Reports p50, p90, p99 and mean in microseconds, the ratio of p50 to Redis's,
// the server's CPU time and context switches per request.
//
//   latency_bench [--requests N] [--clients N] [--cases name,name...]
//
// Cases: redis, text-qv, text-dev, binary-qv, binary-dev, api-qv, api-dev.
// QV_BUILD_DIR in the environment measures the programs of another build tree.
#include "ProcessSupport.h"
#include "platform/endian/ByteOrder.h"
#include "qvAPI.h"
#include "wire/BinaryWire.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <netinet/tcp.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace tarnix;
using namespace tarnix::bench;
using namespace std::chrono_literals;

constexpr uint32_t kSerial = 1234;
const std::string kQvPath = "/qv/about/revision";
const std::string kDevicePath = "/dev1234/demods/0/timeconstant";

struct Options {
    int requests = 20000;
    int clients = 16;
    std::vector<std::string> cases{"redis", "text-qv", "text-dev", "binary-qv", "binary-dev", "api-qv", "api-dev"};
};

size_t lineEnd(const std::string& text, const std::string& end) {
    const size_t at = text.find(end);
    return at == std::string::npos ? 0 : at + end.size();
}

// One kind of request: set up a client, then ask once.
struct Case {
    std::string name;
    std::function<std::function<bool()>()> makeClient;  // the client's "ask once", or an empty function
};

std::function<bool()> redisClient(uint16_t port) {
    auto connection = std::make_shared<Connection>(port);
    if (!connection->connected()) return {};
    const std::string get = "*2\r\n$3\r\nGET\r\n$3\r\nkey\r\n";
    return [connection, get] {
        return connection->send(get) && connection->receive([](const std::string& b) {
            // A bulk string: "$5\r\nvalue\r\n".
            const size_t first = lineEnd(b, "\r\n");
            return first == 0 ? 0 : lineEnd(b.substr(first), "\r\n") == 0 ? 0 : first + lineEnd(b.substr(first), "\r\n");
        });
    };
}

std::function<bool()> textClient(uint16_t port, const std::string& path) {
    auto connection = std::make_shared<Connection>(port);
    if (!connection->connected() || !connection->receive([](const std::string& b) { return lineEnd(b, "\r\n"); }))
        return {};
    const std::string get = path + " ?\n";
    return [connection, get] {
        return connection->send(get) && connection->receive([](const std::string& b) { return lineEnd(b, "\r\n"); });
    };
}

// The length of the count reply and all the events it announces, 0 while not
// all have arrived.
size_t binaryAnswer(const std::string& bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    if (bytes.size() < wire::kCountReplySize) return 0;
    const wire::BinaryMessageHeader reply = wire::decodeHeader(p);
    if (reply.type != wire::MSG_GET_VALUE_REPLY) return bytes.size();  // not ours: drop it
    uint32_t left = le::get32(p + wire::kReplyCountAt);
    size_t at = reply.totalLength;
    while (left > 0) {
        if (bytes.size() - at < wire::kHeaderSize) return 0;
        const wire::BinaryMessageHeader event = wire::decodeHeader(p + at);
        if (bytes.size() - at < event.totalLength) return 0;
        at += event.totalLength;
        --left;
    }
    return at;
}

std::function<bool()> binaryClient(uint16_t port, const std::string& path) {
    auto connection = std::make_shared<Connection>(port);
    if (!connection->connected() || !switchToBinary(*connection)) return {};
    const std::string request = binaryGetRequest(path, 7);
    return [connection, request] { return connection->send(request) && connection->receive(binaryAnswer); };
}

std::function<bool()> apiClient(uint16_t port, const std::string& path) {
    QvHandle* raw = nullptr;
    if (qvAPIInit(&raw) != 0) return {};
    std::shared_ptr<QvHandle> handle(raw, [](QvHandle* h) {
        qvAPIDisconnect(h);
        qvAPIDestroy(h);
    });
    if (qvAPIConnect(handle.get(), "127.0.0.1", port) != 0) return {};
    return [handle, path] {
        double value = 0;
        return qvAPIGetValueD(handle.get(), path.c_str(), &value) == 0;
    };
}

struct Result {
    std::vector<double> micros;
    double seconds = 0;
    double cpuPerRequest = 0;  // µs
    double switchesPerRequest = 0;
    bool ok = false;
};

// Runs a case with `clients` parallel clients, `requests` in all (after a
// warm-up), against the process `pid` (for its CPU time).
Result measure(const Case& c, int clients, int requests, pid_t pid) {
    Result result;
    std::vector<std::function<bool()>> asks;
    for (int i = 0; i < clients; ++i) {
        std::function<bool()> ask = c.makeClient();
        if (!ask) return result;
        for (int w = 0; w < 200; ++w)
            if (!ask()) return result;
        asks.push_back(std::move(ask));
    }
    const int each = std::max(1, requests / clients);
    std::vector<std::vector<double>> times(static_cast<size_t>(clients));
    std::atomic<bool> failed{false};
    const double cpuBefore = cpuSeconds(pid);
    const uint64_t switchesBefore = contextSwitches(pid);
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            times[size_t(i)].reserve(size_t(each));
            for (int r = 0; r < each && !failed.load(); ++r) {
                const auto t0 = Clock::now();
                if (!asks[size_t(i)]()) {
                    failed.store(true);
                    return;
                }
                times[size_t(i)].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
        });
    }
    for (std::thread& t : threads) t.join();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double total = double(each) * clients;
    result.cpuPerRequest = (cpuSeconds(pid) - cpuBefore) / total * 1e6;
    // Threads that ended meanwhile take their switches with them.
    const uint64_t switchesAfter = contextSwitches(pid);
    result.switchesPerRequest = switchesAfter > switchesBefore ? double(switchesAfter - switchesBefore) / total : 0.0;
    for (const auto& t : times) result.micros.insert(result.micros.end(), t.begin(), t.end());
    std::sort(result.micros.begin(), result.micros.end());
    result.ok = !failed.load();
    return result;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--requests") {
            options.requests = std::max(100, std::min(1000000, std::atoi(value.c_str())));
        } else if (name == "--clients") {
            options.clients = std::max(1, std::min(64, std::atoi(value.c_str())));
        } else if (name == "--cases") {
            options.cases = commaList(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    for (std::string rest = path ? path : ""; !rest.empty();) {
        const size_t colon = std::min(rest.find(':'), rest.size());
        struct stat s {};
        if (::stat((rest.substr(0, colon) + "/" + program).c_str(), &s) == 0) return true;
        rest = colon < rest.size() ? rest.substr(colon + 1) : std::string();
    }
    return false;
}

int run(const Options& options, const std::string& directory) {
    ServerUnderTest server(directory, "qvlatencybench");
    const std::unique_ptr<ChildProcess> simulator = server.plug(kSerial);
    if (!simulator) {
        std::printf("qvServer or the simulated instrument did not come up\n");
        return 1;
    }
    const uint16_t port = server.port();

    std::unique_ptr<ChildProcess> redis;
    uint16_t redisPort = 0;
    if (onPath("redis-server")) {
        redisPort = freeLoopbackPort();
        redis = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/env", "redis-server", "--port", std::to_string(redisPort), "--bind",
                                     "127.0.0.1", "--save", "", "--appendonly", "no"},
            std::vector<std::string>{}, directory + "/redis.out");
        bool ready = false;
        for (const auto end = Clock::now() + 10s; Clock::now() < end && !ready; std::this_thread::sleep_for(20ms)) {
            Connection probe(redisPort);
            ready = probe.connected() && probe.send("*3\r\n$3\r\nSET\r\n$3\r\nkey\r\n$5\r\nvalue\r\n") &&
                    probe.receive([](const std::string& b) { return lineEnd(b, "\r\n"); });
        }
        if (!ready) redis.reset();
    }
    if (!redis) std::printf("note: redis-server is not installed or did not start; no Redis comparison\n");

    const std::vector<Case> all{
        {"redis", [&] { return redis ? redisClient(redisPort) : std::function<bool()>(); }},
        {"text-qv", [&] { return textClient(port, kQvPath); }},
        {"text-dev", [&] { return textClient(port, kDevicePath); }},
        {"binary-qv", [&] { return binaryClient(port, kQvPath); }},
        {"binary-dev", [&] { return binaryClient(port, kDevicePath); }},
        {"api-qv", [&] { return apiClient(port, kQvPath); }},
        {"api-dev", [&] { return apiClient(port, kDevicePath); }},
    };
    for (int clients : {1, options.clients}) {
        std::printf("%d client%s, %d requests per case\n", clients, clients == 1 ? "" : "s", options.requests);
        double redisP50 = 0;
        for (const Case& c : all) {
            if (std::find(options.cases.begin(), options.cases.end(), c.name) == options.cases.end()) continue;
            if (c.name == "redis" && !redis) continue;
            const pid_t pid = c.name == "redis" ? redis->pid() : server.pid();
            const Result r = measure(c, clients, options.requests, pid);
            if (!r.ok || r.micros.empty()) {
                std::printf("  %-10s failed\n", c.name.c_str());
                continue;
            }
            const double p50 = percentile(r.micros, 0.5);
            if (c.name == "redis") redisP50 = p50;
            double mean = 0;
            for (double m : r.micros) mean += m;
            mean /= double(r.micros.size());
            char ratio[32] = "";
            if (redisP50 > 0) std::snprintf(ratio, sizeof ratio, "%5.2fx Redis", p50 / redisP50);
            std::printf("  %-10s p50 %7.1f  p90 %7.1f  p99 %7.1f  mean %7.1f us  %9.0f req/s  server %5.1f us cpu, "
                        "%4.1f switches per request  %s\n",
                        c.name.c_str(), p50, percentile(r.micros, 0.9), percentile(r.micros, 0.99), mean,
                        double(r.micros.size()) / r.seconds, r.cpuPerRequest, r.switchesPerRequest, ratio);
            std::fflush(stdout);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: latency_bench [--requests N] [--clients N] [--cases name,name...]\n");
        return 2;
    }
    char pattern[] = "/tmp/qvlatencybench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const int status = run(options, pattern);
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
    return status;
}
