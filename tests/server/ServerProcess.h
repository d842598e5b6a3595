#pragma once
// Runs the real qvServer program for end-to-end tests: its own instance name
// (so servers of parallel tests do not meet), its own temporary directory
// (log files), standard output and error captured in files, and a pipe as
// standard input for the key press that ends a server run with
// "--endless false".
#include "ListeningPorts.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef QV_DEFAULT_BUILD_DIR
#define QV_DEFAULT_BUILD_DIR ""
#endif

namespace tarnix {
namespace test {

inline std::string serverProgram() {
    const char* dir = std::getenv("QV_BUILD_DIR");
    std::string base = dir && *dir ? dir : QV_DEFAULT_BUILD_DIR;
    return base + "/src/server/qvServer";
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Entries of a /proc directory of the process (its threads or descriptors).
inline int countEntries(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return -1;
    int n = 0;
    while (dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') ++n;
    ::closedir(dir);
    return n;
}

class ServerProcess {
public:
    // instance: the single-instance name to use; empty makes one of its own.
    explicit ServerProcess(std::vector<std::string> args, std::string instance = std::string()) {
        char pattern[] = "/tmp/qvserver-test-XXXXXX";
        directory_ = ::mkdtemp(pattern);
        if (instance.empty()) instance = "qv-test-" + std::to_string(::getpid()) + "-" + directory_.substr(19);
        instance_ = instance;
        // Everything the child needs is prepared before fork: between fork and
        // exec only async-signal-safe calls are allowed.
        const std::string program = serverProgram();
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        std::vector<std::string> environment{"QV_INSTANCE_NAME=" + instance, "TMPDIR=" + directory_};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "QV_INSTANCE_NAME=", 17) != 0 && std::strncmp(*e, "TMPDIR=", 7) != 0)
                environment.push_back(*e);
        std::vector<char*> envp;
        for (std::string& e : environment) envp.push_back(&e[0]);
        envp.push_back(nullptr);
        const std::string outPath = directory_ + "/stdout", errPath = directory_ + "/stderr";
        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input[0], STDIN_FILENO);
            ::close(input[0]);
            ::close(input[1]);
            int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execve(program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(input[0]);
        stdin_ = input[1];
    }

    ~ServerProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdin_ >= 0) ::close(stdin_);
        std::system(("rm -rf '" + directory_ + "'").c_str());
    }

    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& instance() const { return instance_; }

    void pressKey() {
        if (::write(stdin_, "q", 1) != 1) ADD_FAILURE() << "no standard input";
    }

    // The exit code, or -1 when the program has not ended within the time
    // (it is then killed).
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        if (exited_) return exitCode_;
        int status = 0;
        if (waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            exitCode_ = -1;
        }
        exited_ = true;
        return exitCode_;
    }

    bool running() {
        if (exited_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return !exited_;
    }

    std::string out() const { return readFile(directory_ + "/stdout"); }
    std::string err() const { return readFile(directory_ + "/stderr"); }

    int threads() const { return countEntries("/proc/" + std::to_string(pid_) + "/task"); }
    int descriptors() const { return countEntries("/proc/" + std::to_string(pid_) + "/fd"); }
    // Threads of the process with the given name.
    int threadsNamed(const std::string& name) const {
        const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
        DIR* dir = ::opendir(tasks.c_str());
        if (!dir) return -1;
        int n = 0;
        while (dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.' && readFile(tasks + "/" + e->d_name + "/comm") == name + "\n") ++n;
        ::closedir(dir);
        return n;
    }

private:
    std::string directory_;
    std::string instance_;
    pid_t pid_ = -1;
    int stdin_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
};

}  // namespace test
}  // namespace tarnix
