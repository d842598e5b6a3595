// Round trips of a get, measured from outside and the same way for every
// case: one client sends a request, blocks until the whole answer is read and
// checked, and takes the time. Cases:
//  - redis: Redis GET of a small key, with the same client code (when
//    redis-server is installed; the Redis column and the verdict are skipped
//    with a note otherwise),
//  - text-qv, binary-qv, api-qv: the server's own tree (/qv/clockbase) over
//    the text protocol, the binary protocol and qvAPIGetValueD,
//  - text-dev, binary-dev, api-dev: the same on an instrument tree (a
//    oscillator frequency of a simulated instrument).
// Where the scheduler places the serving thread beside its client decides
// much of a round trip, and that placement differs from one server process to
// the next; so every case runs in each of several separate server (and Redis)
// processes. Per run and case: p50 and p99 in microseconds, the ratio of the
// p50 to Redis's, the server's CPU time per request, and the CPU that the
// client thread, the serving thread (the session's, Redis's main thread) and
// for an instrument also the device thread were last seen on (sampled during
// the run, the most frequent one; "same" is the share of samples that found
// the serving thread on the client's CPU). Then the spread of the p50s over
// the runs and a pass/fail line against the goal: server-tree p50 <= 2x
// Redis p50 and instrument p50 <= 3x Redis p50 in every run. Last, in one
// more server process, the p99 of every case with several clients in
// parallel against its bound of 1 ms.
//
//   latency_bench [--runs N] [--requests N] [--clients N] [--cases name,name...] [--case-seconds S]
//
// --clients 0 leaves out the parallel part. QV_BUILD_DIR in the environment
// measures the programs of another build tree.
#include "ProcessSupport.h"
#include "platform/endian/ByteOrder.h"
#include "qvAPI.h"
#include "wire/BinaryWire.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <vector>

namespace {

using namespace tarnix;
using namespace tarnix::bench;
using namespace std::chrono_literals;

constexpr uint32_t kSerial = 1234;
const std::string kQvPath = "/qv/clockbase";
const std::string kDevicePath = "/dev1234/oscs/0/freq";
constexpr int kWarmUp = 200;
// Placement samples: one every this many requests, taken between two of them.
constexpr int kSampleEvery = 50;
constexpr double kServerTreeGoal = 2.0;
constexpr double kInstrumentGoal = 3.0;
constexpr double kParallelP99BoundMicros = 1000.0;

struct Options {
    int runs = 10;
    int requests = 3000;
    int clients = 16;
    double caseSeconds = 5.0;
    std::vector<std::string> cases{"redis", "text-qv", "binary-qv", "api-qv", "text-dev", "binary-dev", "api-dev"};
};

bool isInstrumentCase(const std::string& name) { return name.size() > 4 && name.compare(name.size() - 4, 4, "-dev") == 0; }

// An answer that is not the one asked for ends the benchmark loudly.
struct BadAnswer : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string printable(const std::string& bytes) {
    std::string out;
    for (char c : bytes.substr(0, 60)) out += (c >= 32 && c < 127) ? c : '.';
    return out;
}

// ------------------------------------------------------------ the clients ---

// A client's "ask once": true when the whole answer came and was right; a
// wrong answer throws BadAnswer.
using Ask = std::function<bool()>;

Ask redisClient(uint16_t port) {
    auto connection = std::make_shared<Connection>(port);
    if (!connection->connected()) return {};
    const std::string get = "*2\r\n$3\r\nGET\r\n$3\r\nkey\r\n";
    const std::string expected = "$5\r\nvalue\r\n";
    return [connection, get, expected] {
        return connection->send(get) && connection->receive([&](const std::string& b) -> size_t {
            const size_t n = std::min(b.size(), expected.size());
            if (b.compare(0, n, expected, 0, n) != 0) throw BadAnswer("Redis answered \"" + printable(b) + "\"");
            return b.size() >= expected.size() ? expected.size() : 0;
        });
    };
}

// A whole text line that begins with `prefix`; 0 while the line is not whole.
size_t textAnswer(const std::string& b, const std::string& prefix) {
    const size_t end = b.find("\r\n");
    if (end == std::string::npos) return 0;
    if (b.compare(0, prefix.size(), prefix) != 0) throw BadAnswer("text answer \"" + printable(b) + "\"");
    return end + 2;
}

std::string upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

Ask textClient(uint16_t port, const std::string& path) {
    auto connection = std::make_shared<Connection>(port);
    if (!connection->connected() || !connection->receive([](const std::string& b) {
            const size_t at = b.find("\r\n");
            return at == std::string::npos ? 0 : at + 2;
        }))
        return {};
    const std::string get = path + " ?\n";
    const std::string prefix = upper(path) + ": ";
    return [connection, get, prefix] {
        return connection->send(get) &&
               connection->receive([&](const std::string& b) { return textAnswer(b, prefix); });
    };
}

// The length of the count reply (count 1) and the value event it announces,
// both with `sequenceId` and the event of `path`; 0 while not all has arrived.
size_t binaryAnswer(const std::string& bytes, uint16_t sequenceId, const std::string& path) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    if (bytes.size() < wire::kHeaderSize) return 0;
    const wire::BinaryMessageHeader reply = wire::decodeHeader(p);
    if (reply.type != wire::MSG_GET_VALUE_REPLY || reply.totalLength != wire::kCountReplySize ||
        reply.sequenceId != sequenceId)
        throw BadAnswer("binary message type " + std::to_string(reply.type) + " length " +
                        std::to_string(reply.totalLength) + " instead of the count reply");
    if (bytes.size() < wire::kCountReplySize) return 0;
    if (le::get32(p + wire::kReplyCountAt) != 1) throw BadAnswer("a count reply that is not 1");
    const size_t at = wire::kCountReplySize;
    if (bytes.size() - at < wire::kHeaderSize) return 0;
    const wire::BinaryMessageHeader event = wire::decodeHeader(p + at);
    if (event.totalLength < wire::kHeaderSize || event.totalLength > 4096)
        throw BadAnswer("a message of " + std::to_string(event.totalLength) + " bytes");
    if (bytes.size() - at < event.totalLength) return 0;
    wire::ValueEventView view;
    if (!wire::decodeValueEvent(p + at, event.totalLength, view) || view.sequenceId != sequenceId ||
        std::string(view.path.text, view.path.length) != path)
        throw BadAnswer("binary message type " + std::to_string(event.type) + " instead of the value of " + path);
    return at + event.totalLength;
}

Ask binaryClient(uint16_t port, const std::string& path) {
    auto connection = std::make_shared<Connection>(port);
    if (!connection->connected() || !switchToBinary(*connection)) return {};
    constexpr uint16_t kSequenceId = 7;
    const std::string request = binaryGetRequest(path, kSequenceId);
    const std::string eventPath = upper(path);
    return [connection, request, eventPath] {
        return connection->send(request) && connection->receive([&](const std::string& b) {
            return binaryAnswer(b, kSequenceId, eventPath);
        });
    };
}

Ask apiClient(uint16_t port, const std::string& path) {
    QvHandle* raw = nullptr;
    if (qvAPIInit(&raw) != 0) return {};
    std::shared_ptr<QvHandle> handle(raw, [](QvHandle* h) {
        qvAPIDisconnect(h);
        qvAPIDestroy(h);
    });
    if (qvAPIConnect(handle.get(), "127.0.0.1", port) != 0) return {};
    return [handle, path] {
        double value = NAN;
        const int status = qvAPIGetValueD(handle.get(), path.c_str(), &value);
        if (status != 0) throw BadAnswer("qvAPIGetValueD returned " + std::to_string(status));
        if (!std::isfinite(value)) throw BadAnswer("qvAPIGetValueD gave no number");
        return true;
    };
}

// ------------------------------------------------------- CPU placement ---

pid_t ownThreadId() { return pid_t(::syscall(SYS_gettid)); }

// The CPU a thread last ran on (field 39 of its stat); -1 when unknown.
int lastCpu(pid_t pid, pid_t tid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos) return -1;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    for (int number = 3; fields >> field; ++number)
        if (number == 39) return std::atoi(field.c_str());
    return -1;
}

// Ids of the process's threads with this name.
std::vector<pid_t> threadsNamed(pid_t pid, const std::string& name) {
    std::vector<pid_t> found;
    sumOverThreads(pid, [&](const std::string& thread) {
        std::ifstream comm(thread + "/comm");
        std::string text;
        std::getline(comm, text);
        if (text == name) found.push_back(pid_t(std::atol(thread.substr(thread.rfind('/') + 1).c_str())));
        return 0;
    });
    std::sort(found.begin(), found.end());
    return found;
}

// Where the threads of one case were seen.
struct Placement {
    std::vector<int> client, server, device;

    void sample(pid_t clientTid, pid_t pid, pid_t serverTid, pid_t deviceTid) {
        client.push_back(lastCpu(::getpid(), clientTid));
        server.push_back(serverTid > 0 ? lastCpu(pid, serverTid) : -1);
        device.push_back(deviceTid > 0 ? lastCpu(pid, deviceTid) : -1);
    }
    static int mostFrequent(const std::vector<int>& cpus) {
        std::map<int, int> counts;
        for (int cpu : cpus) ++counts[cpu];
        int best = -1, bestCount = 0;
        for (const auto& c : counts)
            if (c.second > bestCount) best = c.first, bestCount = c.second;
        return best;
    }
    // Share of the samples (in %) that found `other` on the client's CPU.
    double together(const std::vector<int>& other) const {
        int same = 0;
        for (size_t i = 0; i < client.size(); ++i) same += other[i] >= 0 && other[i] == client[i];
        return client.empty() ? 0 : 100.0 * same / double(client.size());
    }
    // The CPU the thread was seen on most, marked "~" when it was seen on
    // others too.
    static std::string text(const std::vector<int>& cpus) {
        if (cpus.empty() || cpus.front() < 0) return "?";
        const int most = mostFrequent(cpus);
        const bool moved = std::any_of(cpus.begin(), cpus.end(), [&](int c) { return c != most; });
        return std::to_string(most) + (moved ? "~" : "");
    }
};

// ------------------------------------------------------------ measuring ---

struct Case {
    std::string name;
    std::function<Ask()> makeClient;
};

struct Result {
    std::vector<double> micros;  // sorted
    double cpuPerRequest = 0;    // µs, of the serving process
    double switchesPerRequest = 0;
    Placement placement;
    std::string error;
    bool ok = false;
    double p50() const { return percentile(micros, 0.5); }
    double p99() const { return percentile(micros, 0.99); }
};

// The process that serves a case and how to find its serving thread.
struct Target {
    pid_t pid = -1;
    bool redis = false;
};

bool askChecked(const Ask& ask, std::string& error) {
    try {
        if (ask()) return true;
        error = "no answer";
    } catch (const BadAnswer& bad) {
        error = std::string("unexpected answer: ") + bad.what();
    }
    return false;
}

// Waits (bounded) until the sessions of the last case have ended: a thread
// that ends while a case is measured takes its CPU time and context switches
// with it.
void waitForSessionsGone(const Target& target) {
    if (target.redis) return;
    for (const auto end = Clock::now() + 3s; Clock::now() < end && !threadsNamed(target.pid, "Session").empty();)
        std::this_thread::sleep_for(10ms);
}

// One client asking `requests` times in a row (after a warm-up), at most
// `limit` long.
Result measureAlone(const Case& c, const Target& target, int requests, Clock::duration limit) {
    Result result;
    waitForSessionsGone(target);
    const std::vector<pid_t> sessionsBefore = target.redis ? std::vector<pid_t>{} : threadsNamed(target.pid, "Session");
    const Ask ask = c.makeClient();
    if (!ask) {
        result.error = "could not connect";
        return result;
    }
    for (int w = 0; w < kWarmUp; ++w)
        if (!askChecked(ask, result.error)) return result;
    pid_t serverTid = -1, deviceTid = -1;
    if (target.redis) {
        serverTid = target.pid;
    } else {
        std::vector<pid_t> added;
        const std::vector<pid_t> now = threadsNamed(target.pid, "Session");
        std::set_difference(now.begin(), now.end(), sessionsBefore.begin(), sessionsBefore.end(),
                            std::back_inserter(added));
        if (added.size() == 1) serverTid = added.front();
        const std::vector<pid_t> devices = threadsNamed(target.pid, "DeviceEncFX2");
        if (isInstrumentCase(c.name) && devices.size() == 1) deviceTid = devices.front();
    }
    const pid_t clientTid = ownThreadId();
    result.micros.reserve(size_t(requests));
    const double cpuBefore = runSeconds(target.pid);
    const uint64_t switchesBefore = contextSwitches(target.pid);
    const auto end = Clock::now() + limit;
    for (int r = 0; r < requests && Clock::now() < end; ++r) {
        if (r % kSampleEvery == kSampleEvery / 2) result.placement.sample(clientTid, target.pid, serverTid, deviceTid);
        const auto t0 = Clock::now();
        if (!askChecked(ask, result.error)) return result;
        result.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double total = double(result.micros.size());
    result.cpuPerRequest = (runSeconds(target.pid) - cpuBefore) / total * 1e6;
    const uint64_t switchesAfter = contextSwitches(target.pid);
    result.switchesPerRequest = switchesAfter > switchesBefore ? double(switchesAfter - switchesBefore) / total : 0;
    std::sort(result.micros.begin(), result.micros.end());
    result.ok = !result.micros.empty();
    return result;
}

// `clients` clients in parallel, one thread each, `requests` in all.
Result measureParallel(const Case& c, const Target& target, int clients, int requests, Clock::duration limit) {
    Result result;
    waitForSessionsGone(target);
    std::vector<Ask> asks;
    for (int i = 0; i < clients; ++i) {
        Ask ask = c.makeClient();
        if (!ask) {
            result.error = "could not connect";
            return result;
        }
        for (int w = 0; w < kWarmUp; ++w)
            if (!askChecked(ask, result.error)) return result;
        asks.push_back(std::move(ask));
    }
    const int each = std::max(1, requests / clients);
    std::vector<std::vector<double>> times(static_cast<size_t>(clients));
    std::mutex errorMutex;
    std::atomic<bool> failed{false};
    const double cpuBefore = runSeconds(target.pid);
    const auto end = Clock::now() + limit;
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            times[size_t(i)].reserve(size_t(each));
            for (int r = 0; r < each && !failed.load() && Clock::now() < end; ++r) {
                const auto t0 = Clock::now();
                std::string error;
                if (!askChecked(asks[size_t(i)], error)) {
                    std::lock_guard<std::mutex> lock(errorMutex);
                    result.error = error;
                    failed.store(true);
                    return;
                }
                times[size_t(i)].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (const auto& t : times) result.micros.insert(result.micros.end(), t.begin(), t.end());
    result.cpuPerRequest = (runSeconds(target.pid) - cpuBefore) / double(std::max<size_t>(1, result.micros.size())) * 1e6;
    std::sort(result.micros.begin(), result.micros.end());
    result.ok = !failed.load() && !result.micros.empty();
    return result;
}

// --------------------------------------------------------------- set-up ---

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

// A redis-server of its own on a free port, nothing saved, with the key set;
// null when it did not come up.
std::unique_ptr<ChildProcess> startRedis(const std::string& directory, uint16_t& port) {
    port = freeLoopbackPort();
    auto redis = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/env", "redis-server", "--port", std::to_string(port), "--bind", "127.0.0.1",
                                 "--save", "", "--appendonly", "no", "--dir", directory},
        std::vector<std::string>{}, directory + "/redis.out");
    for (const auto end = Clock::now() + 10s; Clock::now() < end; std::this_thread::sleep_for(20ms)) {
        Connection probe(port);
        if (probe.connected() && probe.send("*3\r\n$3\r\nSET\r\n$3\r\nkey\r\n$5\r\nvalue\r\n") &&
            probe.receive([](const std::string& b) { return b.compare(0, 5, "+OK\r\n") == 0 ? size_t(5) : 0; }))
            return redis;
    }
    return nullptr;
}

std::vector<Case> makeCases(uint16_t port, uint16_t redisPort) {
    return {
        {"redis", [=] { return redisClient(redisPort); }},
        {"text-qv", [=] { return textClient(port, kQvPath); }},
        {"binary-qv", [=] { return binaryClient(port, kQvPath); }},
        {"api-qv", [=] { return apiClient(port, kQvPath); }},
        {"text-dev", [=] { return textClient(port, kDevicePath); }},
        {"binary-dev", [=] { return binaryClient(port, kDevicePath); }},
        {"api-dev", [=] { return apiClient(port, kDevicePath); }},
    };
}

bool wanted(const Options& options, const std::string& name) {
    return std::find(options.cases.begin(), options.cases.end(), name) != options.cases.end();
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

// p50s of every case, run by run (NAN where a case failed).
using Table = std::map<std::string, std::vector<double>>;

// The last lines of a program's output file, for a program that failed.
void printTail(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::printf("  last lines of %s:\n", file.c_str());
    for (size_t i = lines.size() > 8 ? lines.size() - 8 : 0; i < lines.size(); ++i)
        std::printf("    %s\n", lines[i].c_str());
}

enum class RunResult { Done, NotUp, Failed };

// One server process (and Redis): every wanted case once, one client.
RunResult oneRun(const std::string& name, int index, const Options& options, const std::string& directory,
                 bool withRedis, Table& p50s) {
    const std::string runDirectory = directory + "/run" + name;
    ::mkdir(runDirectory.c_str(), 0700);
    ServerUnderTest server(runDirectory, "qvlatencybench");
    const std::unique_ptr<ChildProcess> simulator = server.plug(kSerial);
    if (!simulator) {
        std::printf("qvServer or the simulated instrument did not come up (port %u)\n", unsigned(server.port()));
        printTail(runDirectory + "/server.out");
        printTail(runDirectory + "/lq3sim-" + std::to_string(kSerial) + ".out");
        return RunResult::NotUp;
    }
    // Only the measured client's session is left to find.
    server.dropTreesClient();
    uint16_t redisPort = 0;
    std::unique_ptr<ChildProcess> redis;
    if (withRedis && !(redis = startRedis(runDirectory, redisPort))) {
        std::printf("redis-server did not come up\n");
        printTail(runDirectory + "/redis.out");
        return RunResult::NotUp;
    }
    std::printf("run %d of %d (load average %s)\n", index + 1, options.runs, loadAverage().c_str());
    double redisP50 = NAN;
    for (const Case& c : makeCases(server.port(), redisPort)) {
        if (!wanted(options, c.name) || (c.name == "redis" && !redis)) continue;
        const Target target{c.name == "redis" ? redis->pid() : server.pid(), c.name == "redis"};
        const Result r = measureAlone(c, target, options.requests,
                                      std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(options.caseSeconds)));
        if (!r.ok) {
            std::printf("  %-10s FAILED: %s\n", c.name.c_str(), r.error.c_str());
            return RunResult::Failed;
        }
        const double p50 = r.p50();
        if (c.name == "redis") redisP50 = p50;
        p50s[c.name].push_back(p50);
        char ratio[16] = "";
        if (!std::isnan(redisP50)) std::snprintf(ratio, sizeof ratio, "%5.2fx", p50 / redisP50);
        const Placement& at = r.placement;
        std::string cpus = "client " + Placement::text(at.client) + " server " + Placement::text(at.server);
        char same[64];
        std::snprintf(same, sizeof same, " (same %3.0f%%)", at.together(at.server));
        cpus += same;
        if (isInstrumentCase(c.name)) {
            std::snprintf(same, sizeof same, " device %s (same %3.0f%%)", Placement::text(at.device).c_str(),
                          at.together(at.device));
            cpus += same;
        }
        std::printf("  %-10s p50 %7.1f  p99 %7.1f us  %-6s  %5.1f us cpu, %4.1f sw/req  cpu %s\n", c.name.c_str(), p50,
                    r.p99(), ratio, r.cpuPerRequest, r.switchesPerRequest, cpus.c_str());
        std::fflush(stdout);
    }
    return RunResult::Done;
}

// The spread over the runs and the verdict; true when the goal was met.
bool summarise(const Options& options, const Table& p50s) {
    std::printf("\np50 per run, us; the worst ratio to Redis's p50 of the same run\n");
    std::printf("  %-10s", "case");
    for (int i = 0; i < options.runs; ++i) std::printf(" %7d", i + 1);
    std::printf("   %7s %7s %7s  %s\n", "min", "median", "max", "worst ratio");
    const auto redis = p50s.find("redis");
    bool pass = redis != p50s.end();
    std::string misses;
    for (const std::string& name : options.cases) {
        const auto it = p50s.find(name);
        if (it == p50s.end()) continue;
        const std::vector<double>& row = it->second;
        std::printf("  %-10s", name.c_str());
        double worst = 0;
        int over = 0;
        const double goal = isInstrumentCase(name) ? kInstrumentGoal : kServerTreeGoal;
        for (size_t i = 0; i < row.size(); ++i) {
            std::printf(" %7.1f", row[i]);
            if (redis == p50s.end() || name == "redis" || i >= redis->second.size()) continue;
            const double ratio = row[i] / redis->second[i];
            worst = std::max(worst, ratio);
            over += ratio > goal;
        }
        std::vector<double> sorted = row;
        std::sort(sorted.begin(), sorted.end());
        std::printf("%*s   %7.1f %7.1f %7.1f", int(8 * (options.runs - int(row.size()))), "", sorted.front(),
                    percentile(sorted, 0.5), sorted.back());
        if (redis != p50s.end() && name != "redis") std::printf("  %5.2fx (goal %.0fx)", worst, goal);
        std::printf("\n");
        if (over > 0) {
            pass = false;
            char line[128];
            std::snprintf(line, sizeof line, "%s%s over %.0fx in %d of %zu runs (worst %.2fx)", misses.empty() ? "" : "; ",
                          name.c_str(), goal, over, row.size(), worst);
            misses += line;
        }
    }
    if (redis == p50s.end()) {
        std::printf("goal: no verdict without Redis\n");
        return false;
    }
    std::printf("goal (server tree p50 <= 2x Redis, instrument p50 <= 3x Redis, in every one of %d runs): %s%s%s\n",
                options.runs, pass ? "PASS" : "FAIL", misses.empty() ? "" : ": ", misses.c_str());
    return pass;
}

// Every case with several clients at once in one more server process.
bool parallelRun(const Options& options, const std::string& directory, bool withRedis) {
    const std::string runDirectory = directory + "/parallel";
    ::mkdir(runDirectory.c_str(), 0700);
    ServerUnderTest server(runDirectory, "qvlatencybench");
    const std::unique_ptr<ChildProcess> simulator = server.plug(kSerial);
    if (!simulator) {
        std::printf("qvServer or the simulated instrument did not come up\n");
        return false;
    }
    server.dropTreesClient();
    uint16_t redisPort = 0;
    std::unique_ptr<ChildProcess> redis = withRedis ? startRedis(runDirectory, redisPort) : nullptr;
    std::printf("\n%d clients in parallel, %d requests per case (load average %s)\n", options.clients,
                options.requests * 4, loadAverage().c_str());
    bool pass = true;
    for (const Case& c : makeCases(server.port(), redisPort)) {
        if (!wanted(options, c.name) || (c.name == "redis" && !redis)) continue;
        const Target target{c.name == "redis" ? redis->pid() : server.pid(), c.name == "redis"};
        const Result r = measureParallel(c, target, options.clients, options.requests * 4,
                                         std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(options.caseSeconds * 2)));
        if (!r.ok) {
            std::printf("  %-10s FAILED: %s\n", c.name.c_str(), r.error.c_str());
            return false;
        }
        if (c.name != "redis") pass = pass && r.p99() < kParallelP99BoundMicros;
        std::printf("  %-10s p50 %7.1f  p99 %7.1f us  %5.1f us cpu per request\n", c.name.c_str(), r.p50(), r.p99(),
                    r.cpuPerRequest);
        std::fflush(stdout);
    }
    std::printf("p99 with %d clients below %.0f us in every server case: %s\n", options.clients,
                kParallelP99BoundMicros, pass ? "PASS" : "FAIL");
    return pass;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--runs") {
            options.runs = std::max(1, std::min(50, std::atoi(value.c_str())));
        } else if (name == "--requests") {
            options.requests = std::max(100, std::min(1000000, std::atoi(value.c_str())));
        } else if (name == "--clients") {
            options.clients = std::max(0, std::min(64, std::atoi(value.c_str())));
        } else if (name == "--case-seconds") {
            options.caseSeconds = std::max(0.5, std::min(60.0, std::atof(value.c_str())));
        } else if (name == "--cases") {
            options.cases = commaList(value);
            const std::vector<Case> all = makeCases(0, 0);
            for (const std::string& c : options.cases)
                if (std::none_of(all.begin(), all.end(), [&](const Case& known) { return known.name == c; }))
                    return false;
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

int run(const Options& options, const std::string& directory) {
    const bool withRedis = wanted(options, "redis") && onPath("redis-server");
    if (!withRedis)
        std::printf("note: redis-server is not installed (or not asked for): no Redis column and no verdict\n");
    std::printf("gets of %s and %s, one client, %d requests per case and run, %d runs\n", kQvPath.c_str(),
                kDevicePath.c_str(), options.requests, options.runs);
    Table p50s;
    for (int i = 0; i < options.runs; ++i) {
        // Programs that did not come up (a port taken meanwhile, say) get one
        // more try with new processes.
        RunResult result = oneRun(std::to_string(i), i, options, directory, withRedis, p50s);
        if (result == RunResult::NotUp) result = oneRun(std::to_string(i) + "b", i, options, directory, withRedis, p50s);
        if (result != RunResult::Done) return 1;
    }
    summarise(options, p50s);
    if (options.clients > 0 && !parallelRun(options, directory, withRedis)) return 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: latency_bench [--runs N] [--requests N] [--clients N] [--cases name,name...] "
                     "[--case-seconds S]\n  cases: redis, text-qv, binary-qv, api-qv, text-dev, binary-dev, "
                     "api-dev\n");
        return 2;
    }
    char pattern[] = "/tmp/qvlatencybench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const int status = run(options, pattern);
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
    return status;
}
