// Streaming demodulator samples through the real programs: qvServer with one
// lq3sim whose test stream fills the sample slots of D demodulators (two
// samples per demodulator and message, the first four bytes counting the
// messages), N clients subscribed to the demodulators' SAMPLE streams. For a
// bounded time it measures per scenario:
//  - samples/s delivered to each client (mean and slowest),
//  - samples lost: every sample missing from a client's streams, found from
//    the message count and the timestamps (tests/support/DemodTestStream.h),
//  - broken messages: frames or text lines that the checking client
//    (tests/support/StreamClient.h) cannot take whole, with the first of them;
//    a scenario with any fails,
//  - beside each client's gaps over the whole run, the loss the server
//    reported for it (from its log): the samples the instrument lost, and the
//    messages its sessions dropped for clients too slow. They must agree: a
//    client's gaps are the instrument's loss, or more only when sessions
//    dropped messages; else the scenario fails,
//  - samples/s the server read from the instrument,
//  - the server's CPU time (/proc/<pid>/stat) per million samples read.
//
//   stream_bench [--seconds S] [--clients N[,N...]] [--demods D[,D...]] [--text 0|1] [--rate HZ]
//                [--settle S] [--stall S]
//
// The clock starts --settle seconds (default 0.5) after every client has
// received its first samples: a longer settle leaves out the start, while
// the clients join streams that already run. --stall S stops the server
// (SIGSTOP) for S seconds halfway through the clock, so that the instrument
// loses samples (with --rate, beyond its FIFO's 524288 samples a demodulator).
//
// Scenarios: every demodulator count with every binary client count (0: none),
// then (with --text 1) one text client with the largest demodulator count.
//
// The test stream goes as fast as the server reads. With --rate the simulated
// demodulators stream at that RATE instead, as a real instrument does; a
// sample missing from a client's stream then shows as a longer step between
// two times, and a time that is no whole number of steps on is a broken one.
#include "ProcessSupport.h"
#include "support/StreamClient.h"
#include "groups/DemodsRate.h"

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace tarnix;
using namespace tarnix::bench;
using tarnix::test::StreamClient;
using namespace std::chrono_literals;

constexpr uint32_t kSerial = 1000;

struct Scenario {
    uint32_t demods;
    uint32_t clients;
    StreamClient::Protocol protocol;
};

struct Options {
    double seconds = 3.0;
    std::vector<uint32_t> clients{1, 10};
    std::vector<uint32_t> demods{1, 6};
    bool text = true;
    double rate = 0.0;  // > 0: the demodulators' RATE instead of the test stream
    double settle = 0.5;
    double stall = 0.0;
};

std::vector<uint32_t> numberList(const char* text, uint32_t low, uint32_t high) {
    std::vector<uint32_t> numbers;
    for (const char* p = text; *p;) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(p, &end, 10);
        if (end == p) break;
        numbers.push_back(uint32_t(std::min<unsigned long>(high, std::max<unsigned long>(low, n))));
        p = *end == ',' ? end + 1 : end;
    }
    return numbers;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (name == "--seconds")
            options.seconds = std::min(600.0, std::max(0.5, std::atof(value)));
        else if (name == "--clients")
            options.clients = numberList(value, 0, 64);
        else if (name == "--demods")
            options.demods = numberList(value, 1, test::DemodTestStreamLayout::kMaxDemods);
        else if (name == "--text")
            options.text = std::atoi(value) != 0;
        else if (name == "--rate")
            options.rate = std::atof(value);
        else if (name == "--settle")
            options.settle = std::min(60.0, std::max(0.0, std::atof(value)));
        else if (name == "--stall")
            options.stall = std::min(10.0, std::max(0.0, std::atof(value)));
        else
            return false;
    }
    return !options.clients.empty() && !options.demods.empty();
}

struct Totals {
    double seconds = 0;
    double serverCpu = 0;
    int64_t messages = 0;
    std::vector<StreamClient::Counts> clients;
};

// Stream messages the server's sessions dropped because their clients did not
// read fast enough, from its log ("Session 7: 12 stream messages dropped; ...").
// Samples lost beyond these were lost before the feeds: in the instrument.
uint64_t sessionDrops(const std::string& logFile) {
    std::ifstream log(logFile);
    const std::string mark = " stream messages dropped";
    uint64_t dropped = 0;
    for (std::string line; std::getline(log, line);) {
        const std::size_t at = line.find(mark);
        const std::size_t number = at == std::string::npos ? at : line.rfind(": ", at);
        if (number != std::string::npos) dropped += std::strtoull(line.c_str() + number + 2, nullptr, 10);
    }
    return dropped;
}

// Samples the instrument lost, as the server reported them in its log
// ("DEV1000: the instrument's sample FIFO overflowed ...; samples lost since
// the last report: 12 of DEMODS/0, 7 of DEMODS/3."); `uncounted` when a line
// reports a loss the server could not count.
uint64_t instrumentLoss(const std::string& logFile, bool& uncounted) {
    std::ifstream log(logFile);
    const std::string mark = "samples lost since the last report:";
    const std::string unit = " of DEMODS/";
    uint64_t lost = 0;
    uncounted = false;
    for (std::string line; std::getline(log, line);) {
        std::size_t at = line.find(mark);
        if (at == std::string::npos) continue;
        if (line.find("could not count", at) != std::string::npos) uncounted = true;
        for (at = line.find(unit, at); at != std::string::npos; at = line.find(unit, at + unit.size())) {
            const std::size_t number = line.rfind(' ', at - 1);
            if (number != std::string::npos) lost += std::strtoull(line.c_str() + number + 1, nullptr, 10);
        }
    }
    return lost;
}

Totals snapshot(const ServerUnderTest& server, const std::vector<std::unique_ptr<StreamClient>>& clients) {
    Totals t;
    t.seconds = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    t.serverCpu = runSeconds(server.pid());
    for (const auto& c : clients) t.clients.push_back(c->counts());
    t.messages = t.clients.front().message;
    return t;
}

bool run(const Options& options, const Scenario& scenario, const std::string& directory) {
    const bool text = scenario.protocol == StreamClient::Protocol::text;
    const uint32_t payload = 128 * scenario.demods;
    char label[96];
    std::snprintf(label, sizeof label, "%u demod%s, %2u %s client%s", scenario.demods,
                  scenario.demods == 1 ? " " : "s", scenario.clients, text ? "text  " : "binary",
                  scenario.clients == 1 ? " " : "s");
    const auto failed = [&](const std::string& why) {
        std::printf("%s: failed (%s)\n", label, why.c_str());
        return false;
    };

    ServerUnderTest server(directory, "qvstreambench");
    const bool paced = options.rate > 0;
    std::vector<std::string> simulatorOptions;
    if (!paced)
        simulatorOptions = {"--stream-address", std::to_string(test::DemodTestStreamLayout::kSampleBlock),
                            "--stream-bytes", std::to_string(payload)};
    const std::unique_ptr<ChildProcess> simulator = server.plug(kSerial, simulatorOptions);
    if (!simulator) return failed("server or instrument did not come up");
    if (paced) {
        // The demodulators stream at the rate set; the others stay off.
        for (uint32_t d = 0; d < scenario.demods; ++d) {
            const std::string node = "/dev" + std::to_string(kSerial) + "/demods/" + std::to_string(d) + "/rate";
            if (!server.trees().send(node + " " + std::to_string(options.rate) + "\n") ||
                !server.trees().waitFor("/RATE: ", 5s))
                return failed("rate not set");
        }
    }
    server.dropTreesClient();
    const uint16_t port = server.port();
    const double stepTicks = 114.0 * DemodDividerOfRate(options.rate);

    const std::string path = "/dev" + std::to_string(kSerial) + "/demods/" +
                             (scenario.demods == 1 ? std::string("0") : std::string("*")) + "/sample";
    std::vector<std::unique_ptr<StreamClient>> clients;
    for (uint32_t i = 0; i < scenario.clients; ++i) {
        clients.push_back(paced ? std::make_unique<StreamClient>(uint64_t(stepTicks), scenario.protocol)
                                : std::make_unique<StreamClient>(scenario.protocol, payload));
        std::string why;
        if (!clients.back()->start(port, path, why)) return failed("client: " + why);
    }
    // Every client receives before the clock starts; the settle time more
    // lets the streams settle.
    const auto firstData = Clock::now() + 20s;
    for (const auto& c : clients)
        while (c->counts().received == 0)
            if (Clock::now() > firstData) return failed("no samples arrived");
            else std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(std::chrono::duration<double>(options.settle));

    const Totals before = snapshot(server, clients);
    if (options.stall > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds / 2));
        ::kill(server.pid(), SIGSTOP);
        std::this_thread::sleep_for(std::chrono::duration<double>(options.stall));
        ::kill(server.pid(), SIGCONT);
        std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds / 2));
    } else {
        std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    }
    const Totals after = snapshot(server, clients);
    if (paced) {
        // The demodulators stop, so that the server's last loss report (at
        // most one a second) is out before the clients' gaps are compared
        // with it.
        TextClient control(port);
        for (uint32_t d = 0; d < scenario.demods; ++d) {
            const std::string node = "/dev" + std::to_string(kSerial) + "/demods/" + std::to_string(d) + "/rate";
            control.clear();
            if (!control.send(node + " 0\n") || !control.waitFor("/RATE: ", 5s)) return failed("rate not reset");
        }
        std::this_thread::sleep_for(1500ms);  // the report window, and then some
    }
    std::vector<uint64_t> gaps;
    for (const auto& c : clients) {
        c->stop();
        gaps.push_back(c->counts().lost);
    }

    const double seconds = after.seconds - before.seconds;
    const test::DemodTestStreamLayout layout(payload);
    const double produced = paced ? 210e6 / stepTicks * scenario.demods * seconds
                                  : double(after.messages - before.messages) * layout.slots();
    double delivered = 0, slowest = 0, lost = 0, unexpected = 0;
    uint64_t broken = 0;
    std::string fault;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const double got = double(after.clients[i].received - before.clients[i].received);
        delivered += got;
        slowest = i == 0 ? got : std::min(slowest, got);
        lost += double(after.clients[i].lost - before.clients[i].lost);
        unexpected += double(after.clients[i].unexpected - before.clients[i].unexpected);
        // Broken since the client began: a fault while the streams settled counts too.
        broken += after.clients[i].broken;
        if (fault.empty() && after.clients[i].broken) fault = "client " + std::to_string(i) + ": " + after.clients[i].fault;
    }
    const double cpu = after.serverCpu - before.serverCpu;
    std::printf("%s: delivered %6.3f M/s per client (slowest %6.3f), lost %10.0f (%6.3f %%), broken %llu, "
                "read %6.3f M/s, server %5.2f cores, %6.3f cpu-s per M samples%s\n",
                label, delivered / clients.size() / seconds / 1e6, slowest / seconds / 1e6, lost,
                lost + delivered > 0 ? 100.0 * lost / (lost + delivered) : 0.0, (unsigned long long)broken,
                produced / seconds / 1e6, cpu / seconds, produced > 0 ? cpu / (produced / 1e6) : 0.0,
                unexpected > 0 ? (" UNEXPECTED " + std::to_string(uint64_t(unexpected))).c_str() : "");

    // The whole run: each client's gaps beside what the server reported.
    bool uncounted = false;
    const uint64_t instrument = instrumentLoss(directory + "/server.out", uncounted);
    const uint64_t dropped = sessionDrops(directory + "/server.out");
    bool agree = true;
    std::string perClient;
    for (uint64_t g : gaps) {
        perClient += " " + std::to_string(g);
        // Without dropped messages a client misses what the instrument lost,
        // no more and no less; a loss the server could not count bounds nothing.
        if (!uncounted && (dropped == 0 ? g != instrument : g < instrument)) agree = false;
        if (uncounted && dropped == 0 && g == 0) agree = false;
    }
    std::printf("%s: whole run: gaps per client%s; server reported: instrument lost %llu samples%s, "
                "sessions dropped %llu messages of slow clients: %s\n",
                label, perClient.c_str(), (unsigned long long)instrument, uncounted ? " and an uncounted number" : "",
                (unsigned long long)dropped, agree ? "agree" : "DISAGREE");
    if (broken) std::printf("%s: BROKEN, first: %s\n", label, fault.c_str());
    std::fflush(stdout);
    return broken == 0 && agree;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: stream_bench [--seconds S] [--clients N[,N...]] [--demods D[,D...]] [--text 0|1] "
                     "[--rate HZ] [--settle S] [--stall S]\n");
        return 2;
    }
    std::vector<Scenario> scenarios;
    for (uint32_t d : options.demods)
        for (uint32_t n : options.clients)
            if (n != 0) scenarios.push_back({d, n, StreamClient::Protocol::binary});
    if (options.text)
        scenarios.push_back({*std::max_element(options.demods.begin(), options.demods.end()), 1,
                             StreamClient::Protocol::text});
    if (options.rate > 0)
        std::printf("%.1f s per scenario; lq3sim demodulators at RATE %.0f (%.0f samples/s each)\n", options.seconds,
                    options.rate, 210e6 / (114.0 * DemodDividerOfRate(options.rate)));
    else
        std::printf("%.1f s per scenario; lq3sim test stream, 2 samples per demodulator and message\n",
                    options.seconds);
    bool ok = true;
    for (const Scenario& scenario : scenarios) {
        char pattern[] = "/tmp/qvstreambench-XXXXXX";
        if (!::mkdtemp(pattern)) return 1;
        ok = run(options, scenario, pattern) && ok;
        std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
    }
    return ok ? 0 : 1;
}
