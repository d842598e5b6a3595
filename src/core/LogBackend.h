#pragma once
// The logging library's side of the program's logger. Only code that sets up
// sinks or talks to the logging core directly needs this header; log
// statements use core/Logging.h.
#include "core/Logging.h"

#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>

namespace tarnix {
namespace logging {

typedef boost::log::sources::severity_logger_mt<severity_level> Logger;

struct qvLogger {
    // The one process-wide logger, created on first use.
    static Logger& get();
};

}  // namespace logging
}  // namespace tarnix
