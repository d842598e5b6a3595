// Idle CPU of the real programs, in % of one core, over a bounded window:
//  - qvServer with one simulated instrument and no client,
//  - the same with one idle text client, then also one idle binary client
//    (the difference is what an idle client adds),
//  - the simulated instrument alone, every stream off, no server attached.
// Also the context switches per second of the measured process, a hint of
// how often its threads wake.
//
//   idle_bench [--seconds S]
//
// QV_BUILD_DIR in the environment measures the programs of another build tree.
#include "ProcessSupport.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace tarnix::bench;
using namespace std::chrono_literals;

constexpr uint32_t kSerial = 1234;

struct Idle {
    double percent = 0;
    double switchesPerSecond = 0;
};

Idle measure(pid_t pid, double seconds) {
    const double cpu = runSeconds(pid);
    const uint64_t switches = contextSwitches(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return Idle{100.0 * (runSeconds(pid) - cpu) / elapsed, double(contextSwitches(pid) - switches) / elapsed};
}

void report(const char* what, const Idle& idle) {
    std::printf("  %-46s %6.3f %% of a core, %7.1f context switches/s\n", what, idle.percent, idle.switchesPerSecond);
    std::fflush(stdout);
}

int run(double seconds, const std::string& directory) {
    std::printf("idle over %.0f s per figure\n", seconds);
    const std::string alone = directory + "/alone";
    ::mkdir(alone.c_str(), 0700);
    {
        // The simulator alone, with no host attached.
        ChildProcess simulator({buildDirectory() + "/sim/lq3sim", "--dir", alone, "--serial", std::to_string(kSerial),
                                "--running"},
                               {}, directory + "/lq3sim-alone.out");
        std::this_thread::sleep_for(1s);
        report("lq3sim alone", measure(simulator.pid(), seconds));
    }

    ServerUnderTest server(directory, "qvidlebench");
    const std::unique_ptr<ChildProcess> simulator = server.plug(kSerial);
    if (!simulator) {
        std::printf("qvServer or the simulated instrument did not come up\n");
        return 1;
    }
    // The client that waited for the instrument goes; the server settles.
    server.dropTreesClient();
    std::this_thread::sleep_for(2s);
    const Idle bare = measure(server.pid(), seconds);
    report("qvServer, one instrument, no client", bare);
    report("lq3sim with the server attached", measure(simulator->pid(), seconds));

    TextClient text(server.port());
    std::this_thread::sleep_for(500ms);
    const Idle withText = measure(server.pid(), seconds);
    report("qvServer + one idle text client", withText);
    TextClient binary(server.port());
    binary.send("proto bin\n");
    std::this_thread::sleep_for(500ms);
    const Idle withBoth = measure(server.pid(), seconds);
    report("qvServer + one idle text and one binary client", withBoth);
    std::printf("  an idle text client adds %.3f %%, an idle binary client %.3f %%\n", withText.percent - bare.percent,
                withBoth.percent - withText.percent);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) != "--seconds") {
            std::fprintf(stderr, "usage: idle_bench [--seconds S]\n");
            return 2;
        }
        seconds = std::max(1.0, std::min(120.0, std::atof(argv[i + 1])));
    }
    char pattern[] = "/tmp/qvidlebench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const int status = run(seconds, pattern);
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
    return status;
}
