#include "core/Logging.h"

#include <boost/core/null_deleter.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/counter.hpp>
#include <boost/log/attributes/function.hpp>
#include <boost/log/core.hpp>
#include <boost/log/utility/exception_handler.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/expressions/formatters/date_time.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/log/support/date_time.hpp>
#include <boost/thread/thread.hpp>

#include <iostream>
#include <mutex>

namespace tarnix {
namespace logging {

namespace logs = boost::log;
namespace expr = boost::log::expressions;
namespace keywords = boost::log::keywords;

namespace {

constexpr unsigned kRotationSize = 102400;
constexpr uintmax_t kMaxCollectedSize = 16ull * 1024 * 1024;
constexpr uintmax_t kMinFreeSpace = 100ull * 1024 * 1024;

// "%1% [%2%] [%3%] [%4%] %5%": time stamp, thread id, record number,
// severity name, message.
logs::formatter recordFormatter(const char* timeFormat) {
    return expr::format("%1% [%2%] [%3%] [%4%] %5%") %
           expr::format_date_time<boost::posix_time::ptime>("TimeStamp", timeFormat) %
           expr::attr<boost::thread::id>("ThreadID") % expr::attr<unsigned int>("Line #") %
           expr::attr<severity_level>("Severity") % expr::smessage;
}

bool passesThreshold(const logs::attribute_value_set& values) {
    const auto severity = values["Severity"].extract<severity_level>();
    return severity && severityFilter(static_cast<int>(severity.get()));
}

void addConsoleSink(logs::core& core) {
    typedef logs::sinks::synchronous_sink<logs::sinks::text_ostream_backend> ConsoleSink;
    auto backend = boost::make_shared<logs::sinks::text_ostream_backend>();
    backend->add_stream(boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter()));
    backend->auto_flush(false);
    auto sink = boost::make_shared<ConsoleSink>(backend);
    sink->set_formatter(recordFormatter("%H:%M.%S.%f"));
    sink->set_filter(&passesThreshold);
    core.add_sink(sink);
}

void addGlobalAttributes(logs::core& core) {
    core.add_global_attribute("TimeStamp", logs::attributes::local_clock());
    core.add_global_attribute("Line #", logs::attributes::counter<unsigned int>(0, 1));
    core.add_global_attribute("ThreadID", logs::attributes::make_function([] { return boost::this_thread::get_id(); }));
}

void addFileSink(logs::core& core, const std::string& directory, const std::string& programName) {
    typedef logs::sinks::synchronous_sink<logs::sinks::text_file_backend> FileSink;
    const boost::filesystem::path dir(directory);
    auto backend = boost::make_shared<logs::sinks::text_file_backend>(
        keywords::file_name = (dir / (programName + "_%Y%m%d_%5N.log")).string(),
        keywords::open_mode = std::ios_base::out, keywords::rotation_size = kRotationSize,
        keywords::auto_flush = true);
    backend->set_file_collector(logs::sinks::file::make_collector(
        keywords::target = dir, keywords::max_size = kMaxCollectedSize, keywords::min_free_space = kMinFreeSpace));
    // Hands earlier runs' files to the collector and moves the file counter
    // past the highest number found, so numbering continues across runs.
    backend->scan_for_files();
    auto sink = boost::make_shared<FileSink>(backend);
    sink->set_formatter(recordFormatter("%Y-%m-%d %H:%M.%S.%f"));
    sink->set_filter(&passesThreshold);
    core.add_sink(sink);
}

}  // namespace

bool initLogging(const std::string& programName) {
    static std::mutex setupMutex;
    std::lock_guard<std::mutex> guard(setupMutex);

    const boost::shared_ptr<logs::core> core = logs::core::get();
    if (!core->get_global_attributes().empty()) return true;

    // A sink that fails (a log file that cannot be opened or written) must
    // never throw into the code that logs.
    core->set_exception_handler(logs::make_exception_suppressor());
    addConsoleSink(*core);
    addGlobalAttributes(*core);

    try {
        const std::string directory = logDirectory(programName);
        if (directory.empty()) return true;
        addFileSink(*core, directory, programName);
        std::cout << "Will log to directory '" << directory << "'\n";
    } catch (const std::exception& e) {
        std::cout << "Warning: Caught exception '" << e.what()
                  << "' during file logging start. Will not log to file." << std::endl;
    }
    return true;
}

}  // namespace logging
}  // namespace tarnix
