#include "SimHarness.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarnix {
namespace testing {

namespace {

int removeEntry(const char* path, const struct stat*, int, FTW*) { return ::remove(path); }

std::string simulatorBinary() {
    const char* buildDir = std::getenv("QV_BUILD_DIR");
    if (buildDir && *buildDir) {
        const std::string candidate = std::string(buildDir) + "/sim/lq3sim";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return LQ3SIM_PATH;
}

bool waitForSocket(const std::string& path) {
    return test::waitUntil([&] { return ::access(path.c_str(), F_OK) == 0; }, std::chrono::seconds(10));
}

}  // namespace

InstrumentDir::InstrumentDir() {
    char pattern[] = "/tmp/lq3test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

InstrumentDir::~InstrumentDir() { ::nftw(path_.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS); }

InProcessSim::InProcessSim(const InstrumentDir& dir, const sim::InstrumentConfig& config, const std::string& name)
    : instrument_(std::make_shared<sim::SimInstrument>(config)),
      server_(new sim::SimServer(instrument_,
                                 dir.socket(name.empty() ? "lq3-" + std::to_string(config.serial) + ".sock" : name))) {
    server_->start();
}

SimProcess::SimProcess(const InstrumentDir& dir, uint32_t serial, const std::vector<std::string>& options)
    : path_(dir.socket("lq3-" + std::to_string(serial) + ".sock")) {
    std::vector<std::string> arguments = {simulatorBinary(), "--dir", dir.path(), "--serial", std::to_string(serial)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + arguments[0]);
    if (!waitForSocket(path_)) throw std::runtime_error("lq3sim did not plug in " + path_);
}

SimProcess::~SimProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "lq3sim ended badly: " << status;
}

void SimProcess::kill() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::shared_ptr<impl::IOLQ3_USBImpl> openInstrument(const std::string& path) {
    std::shared_ptr<DeviceID> id = std::make_shared<detail::DeviceID_USB>(path);
    // The instrument is found among the sockets of its own folder.
    const std::string folder = path.substr(0, path.rfind('/'));
    return impl::IOLQ3_USBImpl::create(id, std::make_shared<platform::usb::SocketBackend>(folder));
}

}  // namespace testing
}  // namespace tarnix
