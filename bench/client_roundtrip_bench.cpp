// Round trip of qvAPIGetValueD and qvAPISetValueD on the server's own node
// /QV/DEBUG/LEVEL through the client library: median and 99th percentile
// latency and requests per second, with 1 client and with 16 clients in
// parallel. Each phase is bounded in time and in requests.
//
//   client_roundtrip_bench [--port N] [--seconds S]
//
// Without --port the program starts its own qvServer (from the build tree) on
// a free loopback port and stops it at the end. The value written is the
// level the server already has, so the run changes nothing.
#include "qvAPI.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

#ifndef QV_BENCH_BUILD_DIR
#define QV_BENCH_BUILD_DIR "."
#endif

namespace {

using Clock = std::chrono::steady_clock;

const char* const kNode = "/qv/debug/level";
constexpr uint32_t kMaxRequestsPerClient = 200000;

bool loopbackPortOpen(uint16_t port, bool bindInstead) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = bindInstead ? ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                                : ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// qvServer of the build tree, on a free port, with its own instance name and
// temporary directory; stopped by a signal when the object goes.
class OwnServer {
public:
    OwnServer() {
        char pattern[] = "/tmp/qvbench-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        directory_ = pattern;
        for (uint16_t candidate = uint16_t(20000 + ::getpid() % 12000), tries = 0; tries < 500;
             ++tries, candidate = uint16_t(20000 + (candidate - 20000 + 97) % 12000)) {
            if (loopbackPortOpen(candidate, true)) {
                port_ = candidate;
                break;
            }
        }
        if (port_ == 0) return;
        std::string program = std::string(QV_BENCH_BUILD_DIR) + "/src/server/qvServer";
        std::string portText = std::to_string(port_);
        std::vector<std::string> environment{"QV_INSTANCE_NAME=qvbench-" + portText, "TMPDIR=" + directory_,
                                             "QV_INSTRUMENT_DIR=" + directory_ + "/instruments"};
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "QV_INSTANCE_NAME=", 17) && std::strncmp(*e, "TMPDIR=", 7) &&
                std::strncmp(*e, "QV_INSTRUMENT_DIR=", 18))
                environment.push_back(*e);
        }
        std::vector<char*> envp, argv;
        for (std::string& e : environment) envp.push_back(&e[0]);
        envp.push_back(nullptr);
        std::string portOption = "-p", endless = "--endless", yes = "true";
        for (std::string* a : {&program, &portOption, &portText, &endless, &yes}) argv.push_back(&(*a)[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const std::string log = directory_ + "/server.out";
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 1000 && pid_ > 0 && !loopbackPortOpen(port_, false); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~OwnServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            for (int i = 0; i < 500 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (!directory_.empty()) std::system(("rm -rf '" + directory_ + "'").c_str());
    }
    OwnServer(const OwnServer&) = delete;
    OwnServer& operator=(const OwnServer&) = delete;

    uint16_t port() const { return pid_ > 0 ? port_ : 0; }

private:
    std::string directory_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

struct ClientResult {
    std::vector<double> getMicros;
    std::vector<double> setMicros;
    QV_STATUS failure = QV_NO_ERROR;
};

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void runClient(uint16_t port, Clock::time_point end, std::atomic<int>& ready, ClientResult& result) {
    QvHandle* handle = nullptr;
    double level = 0.0;
    QV_STATUS st = qvAPIInit(&handle);
    if (st == QV_NO_ERROR) st = qvAPIConnect(handle, "127.0.0.1", port);
    if (st == QV_NO_ERROR) st = qvAPIGetValueD(handle, kNode, &level);
    ready.fetch_add(1);
    for (uint32_t i = 0; st == QV_NO_ERROR && i < kMaxRequestsPerClient && Clock::now() < end; ++i) {
        const auto t0 = Clock::now();
        st = qvAPIGetValueD(handle, kNode, &level);
        const auto t1 = Clock::now();
        if (st == QV_NO_ERROR) st = qvAPISetValueD(handle, kNode, level);
        const auto t2 = Clock::now();
        result.getMicros.push_back(micros(t1 - t0));
        result.setMicros.push_back(micros(t2 - t1));
    }
    result.failure = st;
    if (handle) qvAPIDestroy(handle);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at];
}

bool runPhase(uint16_t port, int clients, double seconds) {
    std::vector<ClientResult> results(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(runClient, port, end, std::ref(ready), std::ref(results[size_t(i)]));
    for (std::thread& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> gets, sets;
    bool ok = true;
    for (const ClientResult& r : results) {
        gets.insert(gets.end(), r.getMicros.begin(), r.getMicros.end());
        sets.insert(sets.end(), r.setMicros.begin(), r.setMicros.end());
        if (r.failure != QV_NO_ERROR) {
            const char* text = "";
            qvAPIGetError(r.failure, &text, nullptr);
            std::printf("  a client failed: 0x%04x %s\n", r.failure, text);
            ok = false;
        }
    }
    const double requests = double(gets.size() + sets.size());
    std::printf("%2d client%s  GetValueD median %8.1f us  p99 %8.1f us | SetValueD median %8.1f us  p99 %8.1f us | "
                "%9.0f requests/s (%zu requests in %.2f s)\n",
                clients, clients == 1 ? " " : "s", percentile(gets, 0.5), percentile(gets, 0.99),
                percentile(sets, 0.5), percentile(sets, 0.99), requests / elapsed, size_t(requests), elapsed);
    return ok && !gets.empty();
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    double seconds = 3.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0) port = uint16_t(std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::min(60.0, std::max(0.1, std::atof(argv[i + 1])));
    }
    std::unique_ptr<OwnServer> server;
    if (port == 0) {
        server = std::make_unique<OwnServer>();
        port = server->port();
        if (port == 0) {
            std::fprintf(stderr, "could not start qvServer from %s\n", QV_BENCH_BUILD_DIR);
            return 1;
        }
    }
    std::printf("qvAPIGetValueD / qvAPISetValueD on %s, 127.0.0.1:%u, %.1f s per phase\n", kNode, port, seconds);
    bool ok = runPhase(port, 1, seconds);
    ok = runPhase(port, 16, seconds) && ok;
    return ok ? 0 : 1;
}
