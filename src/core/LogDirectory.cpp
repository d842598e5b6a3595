#include "core/Logging.h"
#include "platform/fs/TempDirectory.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <iostream>

namespace tarnix {
namespace logging {

namespace fs = boost::filesystem;

namespace {

bool ensureDirectory(const fs::path& directory) {
    boost::system::error_code ec;
    if (fs::is_directory(directory, ec)) return true;
    fs::create_directory(directory, ec);
    return !ec && fs::is_directory(directory, ec);
}

}  // namespace

std::string logDirectory(const std::string& programName) {
    const std::string temp = platform::userTempDirectory();
    if (temp.empty()) {
        std::cout << "Warning: Could not get system temp path. Will not be able to create the log file.\n";
        return std::string();
    }

    fs::path directory = fs::path(temp) / (programName + "Log");
    if (!ensureDirectory(directory)) {
        std::cout << "Warning: Could not get create directory '" << directory.string()
                  << "'. Will try to log into the local directory.\n";
        boost::system::error_code ec;
        const fs::path workingDirectory = fs::initial_path(ec);
        directory = workingDirectory / (programName + "Log");
        if (ec || !ensureDirectory(directory)) {
            std::cout << "Warning: Could not get create directory '" << directory.string()
                      << "'. Will not be able to create the log file.\n";
            return std::string();
        }
    }

    // Probe that files can be written there; the empty probe file stays and
    // does not match the log file pattern.
    std::ofstream probe((directory / (programName + "Log.log")).string(), std::ios::out | std::ios::trunc);
    if (!probe.is_open()) {
        std::cout << "Warning: Could not access directory '" << directory.string()
                  << "'. Will not be able to create the log file.\n";
        return std::string();
    }
    return directory.string();
}

}  // namespace logging
}  // namespace tarnix
