// lq3sim: one simulated LQ3 instrument, attached while the program runs.
#include "InstrumentModel.h"
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
    sigaddset(&stopSignals, SIGUSR1);  // push the changed feature list
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        prepareInstrumentDirectory(options.directory);
        auto instrument = std::make_shared<SimInstrument>(options.instrument);
        if (options.streamBytes > 0)
            instrument->startStream(options.streamAddress, options.streamBytes, options.streamCount);
        InstrumentModel model(instrument, options.model, options.instrument.designDigest);
        SimServer server(instrument, socketPathOf(options));
        server.start();
        std::cout << "lq3sim: instrument " << options.instrument.serial << " at " << server.socketPath()
                  << std::endl;
        int signal = 0;
        while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) {
            if (options.model.pushRecords.empty()) continue;
            model.pushFeatureList(options.model.pushRecords);
            std::cout << "lq3sim: feature list pushed" << std::endl;
        }
        server.stop();
    } catch (const std::exception& e) {
        std::cerr << "lq3sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
