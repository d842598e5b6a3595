#pragma once
// Starts the qvServer program on a free port for a test and waits until it
// serves its own tree.
#include "ListeningPorts.h"
#include "ServerProcess.h"
#include "ServerTestSupport.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

// The server runs with "--endless false" (a key press ends it) and the extra
// arguments; `port` is set to its port.
inline std::unique_ptr<ServerProcess> startServer(uint16_t& port, std::vector<std::string> extra = {}) {
    using namespace std::chrono_literals;
    std::unique_ptr<ServerProcess> server;
    // A parallel test may pick the same port at the same moment: the server
    // that loses it ends, and this one is tried again on another port.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port = freePort();
        std::vector<std::string> args{"-p", std::to_string(port), "--endless", "false"};
        args.insert(args.end(), extra.begin(), extra.end());
        server = std::make_unique<ServerProcess>(args);
        bool ready = false;
        // Ready once it holds the port itself and the tree "QV" exists: the
        // listener may greet a moment before.
        waitUntil(
            [&] {
                if (!server->running()) return true;
                TestClient probe(port);
                ready = listensOn(server->pid(), port) && probe.waitFor("\r\n", 200ms) && probe.send("ls\n") &&
                        probe.waitFor("QV\n", 200ms);
                return ready;
            },
            10s);
        if (ready || server->running()) break;
    }
    EXPECT_TRUE(server->running() && listensOn(server->pid(), port))
        << "qvServer did not serve on port " << port << ":\n"
        << server->err();
    return server;
}

}  // namespace test
}  // namespace tarnix
