// Resident memory of a real qvServer under churn, read from /proc:
//  1. what an idle session costs (a number of greeted connections held open);
//  2. connection cycles (connect, "ls /", close) from a few clients at once;
//  3. instrument plug cycles (lq3sim --running started, announced, ended), a
//     batch of instruments at a time.
// After each churn the server is given time to end the sessions and devices
// (its thread count is back where it was) and to make its next pass before
// its memory is read.
//
//   memory_churn_bench [--connections N] [--plugs M] [--idle K]
// The programs come from $QV_BUILD_DIR, else from this build tree.
#include "ProcessSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using tarnix::bench::ChildProcess;
using tarnix::bench::Clock;
using tarnix::bench::TextClient;
using tarnix::bench::buildDirectory;
using tarnix::bench::residentKiB;
using tarnix::bench::threadCount;
using namespace std::chrono_literals;

// Waits (at most 20 s) until the server runs no more threads than `threads`,
// then for its next once-a-second pass, which returns freed memory.
bool settle(pid_t pid, int threads) {
    for (const auto end = Clock::now() + 20s; Clock::now() < end; std::this_thread::sleep_for(20ms)) {
        if (threadCount(pid) <= threads) {
            std::this_thread::sleep_for(1500ms);
            return true;
        }
    }
    return false;
}

bool connectionCycles(uint16_t port, int cycles, int clients) {
    std::atomic<int> next{0}, failed{0};
    std::vector<std::thread> workers;
    for (int c = 0; c < clients; ++c)
        workers.emplace_back([&] {
            while (next++ < cycles && failed == 0) {
                TextClient client(port);
                if (!client.connected() || !client.send("ls /\n") || !client.waitFor("QV\n", 5s)) ++failed;
            }
        });
    for (std::thread& w : workers) w.join();
    return failed == 0;
}

bool plugCycles(const std::string& instruments, const std::string& log, TextClient& trees, int cycles, int batch) {
    const std::string simulator = buildDirectory() + "/sim/lq3sim";
    for (int done = 0; done < cycles;) {
        const int count = std::min(batch, cycles - done);
        std::vector<std::unique_ptr<ChildProcess>> plugged;
        for (int i = 0; i < count; ++i)
            plugged.push_back(std::make_unique<ChildProcess>(
                std::vector<std::string>{simulator, "--dir", instruments, "--serial", std::to_string(3000 + i),
                                         "--running"},
                std::vector<std::string>{}, log));
        std::vector<std::string> added, removed;
        for (int i = 0; i < count; ++i) {
            added.push_back("/QV/TREES: add DEV" + std::to_string(3000 + i) + "\r\n");
            removed.push_back("/QV/TREES: remove DEV" + std::to_string(3000 + i) + "\r\n");
        }
        if (!trees.waitForAll(added, 30s)) return false;
        for (auto& p : plugged) p->end(SIGTERM);
        if (!trees.waitForAll(removed, 30s)) return false;
        done += count;
    }
    return true;
}

double mib(long kib) { return double(kib) / 1024.0; }

// Holds `count` greeted connections open and reports what each one costs.
bool idleSessions(pid_t pid, uint16_t port, int count, const char* when) {
    const long before = residentKiB(pid);
    std::vector<std::unique_ptr<TextClient>> held;
    for (int i = 0; i < count; ++i) {
        held.push_back(std::make_unique<TextClient>(port));
        if (!held.back()->connected()) return false;
    }
    std::this_thread::sleep_for(200ms);  // every session reaches its idle wait
    std::printf("%4d idle sessions %-16s          %8.1f KiB each\n", count, when,
                double(residentKiB(pid) - before) / count);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int connections = 10000, plugs = 200, idle = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--connections") == 0) connections = std::min(100000, std::max(0, value));
        if (std::strcmp(argv[i], "--plugs") == 0) plugs = std::min(2000, std::max(0, value));
        if (std::strcmp(argv[i], "--idle") == 0) idle = std::min(1000, std::max(1, value));
    }
    char pattern[] = "/tmp/qvmembench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::string directory = pattern, instruments = directory + "/instruments";
    ::mkdir(instruments.c_str(), 0700);
    uint16_t port = 0;
    for (uint16_t candidate = uint16_t(21000 + ::getpid() % 11000), tries = 0; tries < 500 && !port; ++tries)
        if (tarnix::bench::portFree(candidate = uint16_t(21000 + (candidate - 21000 + 97) % 11000))) port = candidate;

    bool ok = port != 0;
    {
        const std::string portText = std::to_string(port);
        ChildProcess server({buildDirectory() + "/src/server/qvServer", "-p", portText},
                     {"QV_INSTANCE_NAME=qvmembench-" + portText, "TMPDIR=" + directory,
                      "QV_INSTRUMENT_DIR=" + instruments},
                     directory + "/server.out");
        std::unique_ptr<TextClient> trees;
        for (int i = 0; i < 500 && ok && !(trees && trees->connected()); ++i) {
            std::this_thread::sleep_for(10ms);
            trees = std::make_unique<TextClient>(port);
        }
        ok = ok && trees->connected() && trees->send("subs /qv/trees\nls /\n") && trees->waitFor("QV\n", 5s);
        const pid_t pid = server.pid();
        const int threads = threadCount(pid);
        const long start = residentKiB(pid);
        std::printf("qvServer resident at start (one client):  %8.1f MiB\n", mib(start));

        ok = ok && idleSessions(pid, port, idle, "at start");
        ok = ok && settle(pid, threads);
        const auto churnStart = Clock::now();
        ok = ok && connectionCycles(port, connections, 4) && settle(pid, threads);
        const long afterConnections = residentKiB(pid);
        std::printf("after %5d connect/ls/close cycles:     %8.1f MiB (%+.1f MiB, %.1f s)\n", connections,
                    mib(afterConnections), mib(afterConnections - start),
                    std::chrono::duration<double>(Clock::now() - churnStart).count());
        const auto plugStart = Clock::now();
        ok = ok && plugCycles(instruments, directory + "/lq3sim.out", *trees, plugs, 10) && settle(pid, threads);
        const long afterPlugs = residentKiB(pid);
        std::printf("after %5d instrument plug cycles:      %8.1f MiB (%+.1f MiB from start, %.1f s)\n", plugs,
                    mib(afterPlugs), mib(afterPlugs - start),
                    std::chrono::duration<double>(Clock::now() - plugStart).count());
        ok = ok && idleSessions(pid, port, idle, "after the churns");
    }
    std::system(("rm -rf '" + directory + "'").c_str());
    if (!ok) std::fprintf(stderr, "benchmark failed (programs from %s)\n", buildDirectory().c_str());
    return ok ? 0 : 1;
}
