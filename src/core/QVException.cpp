#include "core/QVException.h"

#include "core/Logging.h"

namespace tarnix {

const char* const kErrorBannerStars = "**********************************************";

QVException::QVException(QV_STATUS status)
    : message_("QVException with status code: " + std::to_string(static_cast<unsigned long>(status.code()))) {}

std::string describeCurrentException() {
    if (!std::current_exception()) return "<empty>";
    try {
        throw;
    } catch (const boost::exception& e) {
        return boost::diagnostic_information(e);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return boost::current_exception_diagnostic_information();
    }
}

std::string describeException(const boost::exception_ptr& captured) {
    if (!captured) return "<empty>";
    try {
        boost::rethrow_exception(captured);
    } catch (...) {
        return describeCurrentException();
    }
}

void logErrorBanner(const std::string& description) {
    QVLOG(logging::error) << kErrorBannerStars;
    QVLOG(logging::error) << "Error: " << description;
    QVLOG(logging::error) << kErrorBannerStars;
}

void logErrorBanner(const boost::exception_ptr& captured) { logErrorBanner(describeException(captured)); }

void logCurrentExceptionBanner() { logErrorBanner(describeCurrentException()); }

}  // namespace tarnix
