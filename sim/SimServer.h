#pragma once
#include "SimInstrument.h"

#include <thread>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnix {
namespace sim {

class SimConnection;

// Makes an instrument reachable as a Unix socket: creating the socket plugs it
// in, removing it (stop, or the process ending) pulls it out. Serves any number
// of connections at once, each on its own thread.
class SimServer {
public:
    SimServer(std::shared_ptr<SimInstrument> instrument, std::string socketPath);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds and listens; the socket appears under its path only when it accepts
    // connections. Throws std::runtime_error when that fails.
    void start();
    // Removes the socket, ends every connection and waits for the threads.
    void stop();

    const std::string& socketPath() const { return path_; }
    SimInstrument& instrument() { return *instrument_; }

private:
    void acceptLoop();
    void serve(SimConnection& connection);

    std::shared_ptr<SimInstrument> instrument_;
    std::string path_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    struct Worker {
        std::shared_ptr<SimConnection> connection;
        std::shared_ptr<std::atomic<bool>> done;
        std::thread thread;
    };
    void reapFinished();

    std::mutex mutex_;  // guards workers_
    std::list<Worker> workers_;
};

// Directory for instrument sockets as the host finds them (QV_INSTRUMENT_DIR or
// the default), created when missing.
std::string prepareInstrumentDirectory(const std::string& directory);

}  // namespace sim
}  // namespace tarnix
