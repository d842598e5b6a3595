#include "server/program/ServerMain.h"

#include "core/Logging.h"
#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "platform/process/ConsoleKey.h"
#include "server/program/CommandLine.h"
#include "server/program/QVInstanceTracker.h"
#include "server/server/Server.h"

#include <boost/exception/diagnostic_information.hpp>

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

namespace tarnix {
namespace {

constexpr auto kMainLoopInterval = std::chrono::seconds(1);
constexpr auto kShutdownPoll = std::chrono::milliseconds(1);

constexpr int kBadCommandLine = 2;

// Runs the server until a key press (when not endless) or a failure of the
// server thread, which is rethrown here. Help, a bad command line and another
// running instance end the program without running the server; the result
// is the exit code for those ends.
int runServer(int argc, char** argv, const std::shared_ptr<Server>& server,
               exception::ExceptionCarrier& childCarrier, exception::ExceptionCarrier& ownCarrier) {
    setServerInstance(server);
    std::cout << Server::getVersionString() << std::endl;

    QVInstanceTracker guard;
    if (!guard.isOnlyInstance()) {
        QVLOG(logging::status) << "There is already an instance of this application running!";
        return 0;
    }

    ServerOptions options;
    {
        const auto table = serverOptionTable();
        try {
            options = parseServerOptions(argc, argv, table);
        } catch (const boost::program_options::error& bad) {
            // The option library's text names the option; one line is enough.
            std::cerr << "qvServer: " << bad.what() << "; see qvServer -h for the options." << std::endl;
            return kBadCommandLine;
        }
        if (options.help) {
            std::cout << table;
            return 0;
        }
    }
    if (options.version) std::cout << Server::getVersionString() << "\n";
    if (options.progAlways) std::cout << "Prog-always option set.\n";
    int32_t openOverride = 0;
    if (options.openOverride) {
        std::cout << "Open-override option set.\n";
        openOverride = 1;
    }
    logging::setLogLevel(options.debug);
    server->configure(options.port, options.progAlways, openOverride);
    server->start();

    for (;;) {
        if (!options.endless && platform::consoleKeyWaiting()) break;
        boost::exception_ptr failure;
        if (ownCarrier.take(failure)) {
            QVLOG(logging::debug) << "Caught exception in a thread. Will rethrow.";
            // Threads failing from now on must not block on a full carrier.
            childCarrier.close();
            ownCarrier.close();
            server->stop();
            boost::rethrow_exception(failure);
        }
        std::this_thread::sleep_for(kMainLoopInterval);
    }
    server->stop();
    guard.release();
    return 0;
}

// Waits until every worker thread has ended, reporting the exceptions that
// are still carried.
void waitForThreads(Server& server, exception::ExceptionCarrier& childCarrier,
                    exception::ExceptionCarrier& ownCarrier) {
    while (!server.isFinished()) {
        boost::exception_ptr left;
        if (ownCarrier.take(left)) logErrorBanner(left);
        if (childCarrier.take(left)) logErrorBanner(left);
        server.stop();
        std::this_thread::sleep_for(kShutdownPoll);
    }
}

}  // namespace

int serverMain(int argc, char** argv) {
    int exitCode = 0;
    try {
        logging::initLogging("qvServer");
        exception::ExceptionCarrier childCarrier;
        exception::ExceptionCarrier ownCarrier;
        auto server = std::make_shared<Server>(childCarrier, ownCarrier);
        try {
            exitCode = runServer(argc, argv, server, childCarrier, ownCarrier);
        } catch (const boost::exception&) {
            logCurrentExceptionBanner();
            exitCode = 1;
        } catch (const std::exception&) {
            logCurrentExceptionBanner();
            exitCode = 1;
        } catch (...) {
            QVLOG(logging::error) << "Error: Unhandled exception! " << boost::current_exception_diagnostic_information();
            exitCode = 1;
        }
        waitForThreads(*server, childCarrier, ownCarrier);
        setServerInstance(nullptr);
        server.reset();
    } catch (const std::exception& failure) {
        std::cout << "Sever error '" << failure.what() << "' caught during server start. Will immediately stop.\n";
        return 1;
    } catch (...) {
        std::cout << "Unhandled exception caught during server start. Will immediately stop.\n";
        return 1;
    }
    return exitCode;
}

}  // namespace tarnix
