// lq3sim: one simulated LQ3 instrument, attached while the program runs.
#include "SimOptions.h"
#include "SimServer.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <pthread.h>

int main(int argc, char** argv) {
    using namespace tarnix::sim;
    SimOptions options;
    try {
        options = parseSimOptions(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "lq3sim: " << e.what() << "\n";
        return 2;
    }
    if (options.help) {
        std::cout << options.helpText;
        return 0;
    }

    // Signals are taken by sigwait below, never by the worker threads.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        prepareInstrumentDirectory(options.directory);
        auto instrument = std::make_shared<SimInstrument>(options.instrument);
        if (options.streamBytes > 0)
            instrument->startStream(options.streamAddress, options.streamBytes, options.streamCount);
        SimServer server(instrument, socketPathOf(options));
        server.start();
        std::cout << "lq3sim: instrument " << options.instrument.serial << " at " << server.socketPath()
                  << std::endl;
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    } catch (const std::exception& e) {
        std::cerr << "lq3sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
