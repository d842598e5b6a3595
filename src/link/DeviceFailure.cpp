#include "link/DeviceFailure.h"

#include "core/QVException.h"

#include <boost/exception/get_error_info.hpp>
#include <boost/throw_exception.hpp>

namespace tarnix {

namespace {

void copyThrowLocation(const boost::exception& from, QVDeviceException& to) {
    if (const char* const* function = boost::get_error_info<boost::throw_function>(from))
        to << boost::throw_function(*function);
    if (const char* const* file = boost::get_error_info<boost::throw_file>(from)) to << boost::throw_file(*file);
    if (const int* line = boost::get_error_info<boost::throw_line>(from)) to << boost::throw_line(*line);
}

}  // namespace

void rethrowAsDeviceException() {
    try {
        throw;
    } catch (const QVDeviceException&) {
        throw;
    } catch (const std::exception& e) {
        QVDeviceException converted(e.what());
        if (const auto* located = dynamic_cast<const boost::exception*>(&e)) copyThrowLocation(*located, converted);
        // Without a new location: the original one stays in the diagnostics.
        boost::throw_exception(converted);
    } catch (...) {
        QV_THROW(QVDeviceException("Unknown exception on the device thread."));
    }
}

}  // namespace tarnix
