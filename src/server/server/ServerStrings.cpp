#include "server/server/ServerStrings.h"

#include "core/QVException.h"

#include <boost/exception/enable_current_exception.hpp>
#include <boost/format.hpp>

namespace tarnix {

std::string getServerString(int id) {
    switch (id) {
    case SERVER_STRING_VERSION:
        return (boost::format("%d.%02d") % kServerVersionMajor % kServerVersionMinor).str();
    case SERVER_STRING_REVISION:
        return (boost::format("revision %d") % kServerRevision).str();
    case SERVER_STRING_BANNER:
        return "qvServer V" + getServerString(SERVER_STRING_VERSION) + " " +
               getServerString(SERVER_STRING_REVISION) + "/Linux";
    case SERVER_STRING_COPYRIGHT:
        return "Copyright (C) The LQ3 host software authors";
    default:
        // Deliberately without throw location: callers only show the message.
        throw boost::enable_current_exception(QVException("Illegal string id."));
    }
}

}  // namespace tarnix
