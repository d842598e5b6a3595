#pragma once
// The real programs for benchmarks that start them: a child process with its
// output in a file, a text-protocol client, binary-protocol requests, a free
// loopback port and a process's CPU time.
#include "wire/BinaryWire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef QV_BENCH_BUILD_DIR
#define QV_BENCH_BUILD_DIR "."
#endif

namespace tarnix {
namespace bench {

using Clock = std::chrono::steady_clock;

// The build tree whose programs a benchmark starts: QV_BUILD_DIR from the
// environment (to measure another build side by side), else this one.
inline std::string buildDirectory() {
    const char* dir = std::getenv("QV_BUILD_DIR");
    return dir && *dir ? dir : QV_BENCH_BUILD_DIR;
}

// A child program with its output in a file; ended by a signal.
class ChildProcess {
public:
    ChildProcess(std::vector<std::string> arguments, const std::vector<std::string>& environment,
                 const std::string& log) {
        std::vector<char*> argv, envp;
        for (std::string& a : arguments) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        std::vector<std::string> env = environment;
        for (char** e = environ; *e; ++e) env.push_back(*e);  // the first definition of a name wins
        for (std::string& e : env) envp.push_back(&e[0]);
        envp.push_back(nullptr);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
    }
    ~ChildProcess() { end(SIGTERM); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Signals the child and waits up to 5 s for it to end, then kills it.
    void end(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        for (int i = 0; i < 500 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// A blocking loopback TCP connection (no send delay) with a receive buffer.
class Connection {
public:
    explicit Connection(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Connection() { ::close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    // Receives until `complete(buffer)` gives the length of a whole answer;
    // that much is then consumed. False on a closed connection or at the
    // time-out.
    template <typename Complete>
    bool receive(Complete&& complete, Clock::duration timeout = std::chrono::seconds(5)) {
        const auto end = Clock::now() + timeout;
        for (;;) {
            const size_t whole = complete(buffer_);
            if (whole != 0) {
                buffer_.erase(0, whole);
                return true;
            }
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0) return false;
            char chunk[65536];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer_.append(chunk, size_t(n));
        }
    }
    void clear() { buffer_.clear(); }

private:
    int fd_;
    bool connected_ = false;
    std::string buffer_;
};

// A text-protocol connection on the loopback address that has read the
// greeting.
class TextClient : public Connection {
public:
    explicit TextClient(uint16_t port) : Connection(port) {
        greeted_ = Connection::connected() && waitFor("\r\n", std::chrono::seconds(5));
        clear();
    }

    bool connected() const { return greeted_; }
    // Reads until `wanted` has arrived; what came up to its end is consumed.
    bool waitFor(const std::string& wanted, Clock::duration timeout) {
        return waitForAll(std::vector<std::string>{wanted}, timeout);
    }
    // Reads until each of `wanted` has arrived, in any order; what came up to
    // the end of the last one is consumed.
    bool waitForAll(const std::vector<std::string>& wanted, Clock::duration timeout) {
        return receive(
            [&](const std::string& text) -> size_t {
                size_t consumed = 0;
                for (const std::string& w : wanted) {
                    const size_t at = text.find(w);
                    if (at == std::string::npos) return 0;
                    consumed = std::max(consumed, at + w.size());
                }
                return consumed;
            },
            timeout);
    }

private:
    bool greeted_ = false;
};

// On a connection that has not read the greeting yet: reads it, switches to
// the binary protocol and reads the hello. False when a step fails.
inline bool switchToBinary(Connection& connection) {
    return connection.receive([](const std::string& b) {
        const size_t at = b.find("\r\n");
        return at == std::string::npos ? 0 : at + 2;
    }) && connection.send("proto bin\n") &&
           connection.receive([](const std::string& b) { return b.size() >= wire::kHelloSize ? wire::kHelloSize : 0; });
}

// A binary get request of `path`.
inline std::string binaryGetRequest(const std::string& path, uint16_t sequenceId) {
    std::string request(wire::kHeaderSize + wire::pathFieldSize(uint16_t(path.size())), '\0');
    auto* p = reinterpret_cast<uint8_t*>(&request[0]);
    wire::encodeHeader(p, wire::MSG_GET_VALUE, uint32_t(request.size()), sequenceId);
    wire::encodePathField(p + wire::kHeaderSize, path.data(), uint16_t(path.size()));
    return request;
}

// The items of a comma-separated list ("a,b,c").
inline std::vector<std::string> commaList(const std::string& text) {
    std::vector<std::string> items;
    for (size_t at = 0; at <= text.size();) {
        const size_t comma = std::min(text.find(',', at), text.size());
        items.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    return items;
}

// The value at fraction p (0 to 1) of sorted values; 0 when there are none.
inline double percentile(const std::vector<double>& sorted, double p) {
    return sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

// Whether nothing holds the loopback port now.
inline bool portFree(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// A loopback port below the ephemeral range that nothing held a moment ago; 0
// when none was found.
inline uint16_t freeLoopbackPort() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const uint16_t port = uint16_t(20000 + random() % 12768);
        if (portFree(port)) return port;
    }
    return 0;
}

// User and system CPU seconds of a process, all its threads; -1 when unknown.
inline double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos) return -1.0;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    // After the name: state (3) ... utime (14), stime (15).
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) user = std::stoull(field);
        if (number == 15) system = std::stoull(field);
    }
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

// Sums a number of each thread of a process: `read` gets the path of a
// thread's folder below /proc/<pid>/task.
template <class Read>
uint64_t sumOverThreads(pid_t pid, Read read) {
    uint64_t total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (!dir) return 0;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') total += read(tasks + "/" + entry->d_name);
    ::closedir(dir);
    return total;
}

// Context switches of the process's threads so far (a hint of how often its
// threads wake).
inline uint64_t contextSwitches(pid_t pid) {
    return sumOverThreads(pid, [](const std::string& thread) {
        std::ifstream status(thread + "/status");
        uint64_t switches = 0;
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos) switches += std::stoull(line.substr(line.find(':') + 1));
        return switches;
    });
}

// Seconds on a CPU of the process's threads so far, from the scheduler's own
// count: finer than the clock ticks of cpuSeconds.
inline double runSeconds(pid_t pid) {
    return double(sumOverThreads(pid, [](const std::string& thread) {
               std::ifstream schedstat(thread + "/schedstat");
               uint64_t nanos = 0;
               return (schedstat >> nanos) ? nanos : uint64_t(0);
           })) /
           1e9;
}

// Threads of the process now.
inline int threadCount(pid_t pid) { return int(sumOverThreads(pid, [](const std::string&) { return 1; })); }

// VmRSS of the process in KiB; -1 when it cannot be read.
inline long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// qvServer of the build tree on a free port, with its instrument folder and
// log files in `directory`, and a text client subscribed to its tree changes.
class ServerUnderTest {
public:
    ServerUnderTest(const std::string& directory, const std::string& name)
        : directory_(directory), instruments_(directory + "/instruments"), port_(freeLoopbackPort()) {
        ::mkdir(instruments_.c_str(), 0700);
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{buildDirectory() + "/src/server/qvServer", "-p", std::to_string(port_)},
            std::vector<std::string>{"QV_INSTANCE_NAME=" + name + "-" + std::to_string(port_), "TMPDIR=" + directory,
                                     "QV_INSTRUMENT_DIR=" + instruments_},
            directory + "/server.out");
        for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end && !ready();) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            trees_ = std::make_unique<TextClient>(port_);
        }
        if (ready() && !trees_->send("subs /qv/trees\n")) trees_.reset();
    }

    bool ready() const { return trees_ && trees_->connected(); }
    uint16_t port() const { return port_; }
    pid_t pid() const { return server_->pid(); }
    const std::string& instruments() const { return instruments_; }
    TextClient& trees() { return *trees_; }
    // Ends the client that waited for the tree changes.
    void dropTreesClient() { trees_.reset(); }

    // Plugs in a simulated instrument (FPGA running) and waits until the
    // server announces it; null when it does not within 30 s.
    std::unique_ptr<ChildProcess> plug(uint32_t serial, const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments{buildDirectory() + "/sim/lq3sim", "--dir", instruments_, "--serial",
                                           std::to_string(serial), "--running"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        auto simulator = std::make_unique<ChildProcess>(arguments, std::vector<std::string>{},
                                                        directory_ + "/lq3sim-" + std::to_string(serial) + ".out");
        if (!ready() || !trees_->waitFor("/QV/TREES: add DEV" + std::to_string(serial), std::chrono::seconds(30)))
            return nullptr;
        return simulator;
    }

private:
    std::string directory_;
    std::string instruments_;
    uint16_t port_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<TextClient> trees_;
};

}  // namespace bench
}  // namespace tarnix
