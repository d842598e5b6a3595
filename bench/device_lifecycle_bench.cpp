// Instruments coming and going, timed against the real programs:
//  1. from starting lq3sim (FPGA running) to the "/QV/TREES: add" line, as the
//     server finds it by itself, and with a client asking for an update as
//     soon as the instrument is plugged in;
//  2. the round trip of a set and of a get on a device node
//     (/DEV<serial>/RAW/READ/ADDRESS) through the client library.
// Median and 99th percentile of each. Bounded: a number of plug cycles and of
// requests, each wait with its own time limit.
//
//   device_lifecycle_bench [--cycles N] [--requests M]
#include "ProcessSupport.h"
#include "qvAPI.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using tarnix::bench::ChildProcess;
using tarnix::bench::Clock;
using tarnix::bench::TextClient;
using tarnix::bench::portFree;
using namespace std::chrono_literals;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at];
}

void report(const char* what, const std::vector<double>& ms) {
    std::printf("%-44s median %9.3f ms  p99 %9.3f ms  (%zu samples)\n", what, percentile(ms, 0.5),
                percentile(ms, 0.99), ms.size());
}

struct Bench {
    std::string directory;
    std::string instruments;
    uint16_t port = 0;

    std::string simulator() const { return tarnix::bench::buildDirectory() + "/sim/lq3sim"; }
    std::string socketOf(uint32_t serial) const { return instruments + "/lq3-" + std::to_string(serial) + ".sock"; }

    std::unique_ptr<ChildProcess> plug(uint32_t serial) const {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{simulator(), "--dir", instruments, "--serial", std::to_string(serial),
                                     "--running"},
            std::vector<std::string>{}, directory + "/lq3sim.out");
    }
    bool waitForSocket(uint32_t serial) const {
        const std::string path = socketOf(serial);
        for (const auto end = Clock::now() + 10s; Clock::now() < end; std::this_thread::sleep_for(200us))
            if (::access(path.c_str(), F_OK) == 0) return true;
        return false;
    }
};

// Plug cycles: start lq3sim, wait for the add line, pull it, wait for removal.
bool timePlugIn(const Bench& bench, TextClient& trees, TextClient* updater, int cycles, std::vector<double>& ms) {
    const uint32_t serial = updater ? 2002 : 2001;
    const std::string name = "DEV" + std::to_string(serial) + "\r\n";
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const auto start = Clock::now();
        const std::unique_ptr<ChildProcess> instrument = bench.plug(serial);
        if (updater && (!bench.waitForSocket(serial) || !updater->send("update\n"))) return false;
        if (!trees.waitFor("/QV/TREES: add " + name, 20s)) return false;
        ms.push_back(millis(Clock::now() - start));
        instrument->end(SIGTERM);
        if (!trees.waitFor("/QV/TREES: remove " + name, 20s)) return false;
    }
    return true;
}

bool timeRoundTrips(const Bench& bench, TextClient& trees, int requests, std::vector<double>& sets,
                    std::vector<double>& gets) {
    const uint32_t serial = 2003;
    const std::unique_ptr<ChildProcess> instrument = bench.plug(serial);
    if (!trees.waitFor("/QV/TREES: add DEV" + std::to_string(serial) + "\r\n", 20s)) return false;
    const std::string node = "/dev" + std::to_string(serial) + "/raw/read/address";
    QvHandle* handle = nullptr;
    QV_STATUS st = qvAPIInit(&handle);
    if (st == QV_NO_ERROR) st = qvAPIConnect(handle, "127.0.0.1", bench.port);
    for (int i = 0; st == QV_NO_ERROR && i < requests; ++i) {
        const auto t0 = Clock::now();
        st = qvAPISetValueI(handle, node.c_str(), 0x1000 + 4 * i);
        const auto t1 = Clock::now();
        int64_t value = 0;
        if (st == QV_NO_ERROR) st = qvAPIGetValueI(handle, node.c_str(), &value);
        const auto t2 = Clock::now();
        if (st == QV_NO_ERROR && value != 0x1000 + 4 * i) st = QV_ERR_GENERAL;
        sets.push_back(millis(t1 - t0));
        gets.push_back(millis(t2 - t1));
    }
    if (handle) qvAPIDestroy(handle);
    if (st != QV_NO_ERROR) std::printf("round trip failed: 0x%04x\n", unsigned(st));
    return st == QV_NO_ERROR;
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 10;
    int requests = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cycles") == 0) cycles = std::min(100, std::max(1, std::atoi(argv[i + 1])));
        if (std::strcmp(argv[i], "--requests") == 0) requests = std::min(10000, std::max(1, std::atoi(argv[i + 1])));
    }
    Bench bench;
    char pattern[] = "/tmp/qvdevbench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    bench.directory = pattern;
    bench.instruments = bench.directory + "/instruments";
    ::mkdir(bench.instruments.c_str(), 0700);
    for (uint16_t candidate = uint16_t(21000 + ::getpid() % 11000), tries = 0; tries < 500 && !bench.port; ++tries)
        if (portFree(candidate = uint16_t(21000 + (candidate - 21000 + 89) % 11000))) bench.port = candidate;

    bool ok = bench.port != 0;
    {
        const std::string portText = std::to_string(bench.port);
        ChildProcess server({tarnix::bench::buildDirectory() + "/src/server/qvServer", "-p", portText},
                     {"QV_INSTANCE_NAME=qvdevbench-" + portText, "TMPDIR=" + bench.directory,
                      "QV_INSTRUMENT_DIR=" + bench.instruments},
                     bench.directory + "/server.out");
        std::unique_ptr<TextClient> trees;
        for (int i = 0; i < 500 && ok && !(trees && trees->connected()); ++i) {
            std::this_thread::sleep_for(10ms);
            trees = std::make_unique<TextClient>(bench.port);
        }
        ok = ok && trees->connected() && trees->send("subs /qv/trees\n");
        TextClient updater(bench.port);
        std::vector<double> byItself, onUpdate, sets, gets;
        ok = ok && timePlugIn(bench, *trees, nullptr, cycles, byItself);
        ok = ok && timePlugIn(bench, *trees, &updater, cycles, onUpdate);
        ok = ok && timeRoundTrips(bench, *trees, requests, sets, gets);
        std::printf("lq3sim --running started -> /QV/TREES add line, %d plug cycles each:\n", cycles);
        report("  found by the server's own update", byItself);
        report("  with an \"update\" request at plug-in", onUpdate);
        std::printf("client library on /DEV2003/RAW/READ/ADDRESS, %d requests each:\n", requests);
        report("  qvAPISetValueI", sets);
        report("  qvAPIGetValueI", gets);
    }
    std::system(("rm -rf '" + bench.directory + "'").c_str());
    if (!ok) std::fprintf(stderr, "benchmark failed (server or simulator from %s)\n", tarnix::bench::buildDirectory().c_str());
    return ok ? 0 : 1;
}
