#include "groups/ModuleFailure.h"

#include "core/QVException.h"

#include <boost/throw_exception.hpp>

namespace tarnix {

void throwDeviceFailure(const std::string& message, const char* function, const char* module, int line) {
    QVDeviceException failure(message);
    failure << boost::throw_function(function) << boost::throw_file(module) << boost::throw_line(line);
    boost::throw_exception(failure);
}

}  // namespace tarnix
