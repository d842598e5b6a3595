#pragma once
// Helpers of the benchmarks that drive the real programs: a child process with
// its output in a file, a text-protocol client on the loopback address, and a
// free port.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A child program with its output in a file; ended by a signal.
class Child {
public:
    Child(std::vector<std::string> arguments, const std::vector<std::string>& environment, const std::string& log) {
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
    ~Child() { end(SIGTERM); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void end(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        for (int i = 0; i < 500 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// A text-protocol connection on the loopback address.
class TextClient {
public:
    explicit TextClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && waitFor("\r\n", 5s);
        text_.clear();
    }
    ~TextClient() { ::close(fd_); }
    TextClient(const TextClient&) = delete;
    TextClient& operator=(const TextClient&) = delete;

    bool connected() const { return connected_; }
    bool send(const std::string& line) { return ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size()); }
    // Reads until `wanted` has arrived; what came up to its end is consumed.
    bool waitFor(const std::string& wanted, Clock::duration timeout) {
        return waitForAll(std::vector<std::string>{wanted}, timeout);
    }
    // Reads until each of `wanted` has arrived, in any order; what came up to
    // the end of the last one is consumed.
    bool waitForAll(const std::vector<std::string>& wanted, Clock::duration timeout) {
        const auto end = Clock::now() + timeout;
        for (;;) {
            size_t consumed = 0;
            bool all = true;
            for (const std::string& w : wanted) {
                const size_t at = text_.find(w);
                all = all && at != std::string::npos;
                if (all) consumed = std::max(consumed, at + w.size());
            }
            if (all) {
                text_.erase(0, consumed);
                return true;
            }
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0) return false;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            text_.append(buffer, size_t(n));
        }
    }

private:
    int fd_;
    bool connected_ = false;
    std::string text_;
};

bool portFree(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

}  // namespace bench
