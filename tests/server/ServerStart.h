#pragma once
// Starts the qvServer program on a free port for a test and waits until it
// serves its own tree.
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
    port = freePort();
    std::vector<std::string> args{"-p", std::to_string(port), "--endless", "false"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto server = std::make_unique<ServerProcess>(args);
    // Ready once the tree "QV" exists: the listener may greet a moment before.
    EXPECT_TRUE(waitUntil(
        [&] {
            TestClient probe(port);
            return (probe.waitFor("\r\n", 200ms) && probe.send("ls\n") && probe.waitFor("QV\n", 200ms)) ||
                   !server->running();
        },
        10s));
    return server;
}

}  // namespace test
}  // namespace tarnix
