#pragma once
// Runs the real qvServer program (and simulated instruments) for end-to-end
// tests: on a free loopback port below 32768 (the option is a signed 16-bit
// number), with its own single-instance name, temporary and instrument
// directories, and stops it in order (a byte on its standard input).
#include "ListeningPorts.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarnix {
namespace test {

inline std::string buildDirectory() {
    const char* dir = std::getenv("QV_BUILD_DIR");
    return dir ? dir : "";
}

// The server accepts clients a moment before its own tree exists: ready is
// when a text client sees "QV" at the root.
inline bool serverTreeReady(uint16_t port) {
    TestClient client(port);
    return client.connected() && client.waitFor("\r\n", std::chrono::milliseconds(500)) && client.send("ls\n") &&
           client.waitFor("QV\n", std::chrono::milliseconds(200));
}

// A child program with prepared arguments and environment; its standard
// input is a pipe that the parent can write to or close.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // extraEnvironment entries ("NAME=value") replace inherited ones.
    bool start(std::vector<std::string> arguments, const std::vector<std::string>& extraEnvironment,
               const std::string& outputFile) {
        arguments0_ = arguments.empty() ? std::string() : arguments[0];
        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return false;
        std::vector<std::string> environment = extraEnvironment;
        for (char** variable = environ; *variable; ++variable) {
            std::string entry(*variable);
            bool replaced = false;
            for (const std::string& extra : extraEnvironment)
                replaced = replaced || entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
            if (!replaced) environment.push_back(entry);
        }
        // Everything the child needs is prepared here: after fork it only
        // redirects and execs.
        std::vector<char*> envp;
        for (std::string& entry : environment) envp.push_back(&entry[0]);
        envp.push_back(nullptr);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input[0], 0);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(out);
        stdinFd_ = input[1];
        return pid_ > 0;
    }

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Whether the child has ended; it is reaped then, and nothing runs.
    bool ended() {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            closeInput();
            pid_ = -1;
        }
        return pid_ <= 0;
    }
    // Sends a signal and returns at once.
    bool signal(int number) { return pid_ > 0 && ::kill(pid_, number) == 0; }

    // Writes a byte to (or just closes) standard input, or sends the signal,
    // then waits up to 10 s and kills the child after that. Returns the exit
    // status (-1 when nothing runs).
    int stop(bool byteOnInput, int signal = 0) {
        if (pid_ <= 0) return -1;
        if (byteOnInput && stdinFd_ >= 0) (void)!::write(stdinFd_, "q", 1);
        closeInput();
        if (signal) ::kill(pid_, signal);
        int status = 0;
        if (waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(10))) {
            pid_ = -1;
            return status;
        }
        ADD_FAILURE() << arguments0_ << " did not stop within 10 s";
        kill();
        return status;
    }

private:
    void closeInput() {
        if (stdinFd_ >= 0) ::close(stdinFd_);
        stdinFd_ = -1;
    }
    void kill() {
        closeInput();
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    std::string arguments0_;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
};

class ServerProcess {
public:
    // Makes what stands at the instrument directory's path before the server starts.
    using PrepareDirectory = std::function<void(const std::string& path)>;

    // By default the instrument directory is an empty folder.
    explicit ServerProcess(const PrepareDirectory& prepare = nullptr) {
        binary_ = buildDirectory() + "/src/server/qvServer";
        if (::access(binary_.c_str(), X_OK) != 0) return;
        char pattern[] = "/tmp/qvtext-e2e-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        workDir_ = pattern;
        instrumentDir_ = workDir_ + "/instruments";
        if (prepare)
            prepare(instrumentDir_);
        else
            ::mkdir(instrumentDir_.c_str(), 0700);
        // A port picked at the same moment by a parallel test's server is lost
        // to one of them: the other ends, and is tried again on another port.
        // Until it holds the port itself, what answers there may be that other.
        for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
            process_.stop(false, SIGKILL);
            port_ = freePort();
            if (port_ == 0) continue;
            std::string portText = std::to_string(port_);
            process_.start({binary_, "-p", portText, "--endless", "false"},
                           {"QV_INSTANCE_NAME=qvtext-e2e-" + std::to_string(::getpid()) + "-" + portText,
                            "QV_INSTRUMENT_DIR=" + instrumentDir_, "TMPDIR=" + workDir_},
                           workDir_ + "/server.out");
            bool ended = !process_.started();
            ready_ = !ended &&
                     waitUntil(
                         [&] {
                             ended = process_.ended();
                             return ended || (listensOn(process_.pid(), port_) && serverTreeReady(port_));
                         },
                         std::chrono::seconds(10)) &&
                     !ended;
        }
    }

    ~ServerProcess() {
        stop();
        // A test may have left a folder that cannot be read.
        if (!workDir_.empty())
            std::system(("chmod -R u+rwx '" + workDir_ + "' 2>/dev/null; rm -rf '" + workDir_ + "'").c_str());
    }

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool running() const { return process_.started() && ready_; }
    uint16_t port() const { return port_; }
    pid_t pid() const { return process_.pid(); }
    const std::string& instrumentDirectory() const { return instrumentDir_; }
    const std::string& workDirectory() const { return workDir_; }

    // Orderly stop (a byte on standard input); returns the exit status.
    int stop() { return process_.stop(true); }

private:
    std::string binary_;
    std::string workDir_;
    std::string instrumentDir_;
    uint16_t port_ = 0;
    ChildProcess process_;
    bool ready_ = false;
};

}  // namespace test
}  // namespace tarnix
