#pragma once
#include <string>

namespace tarnix {

constexpr int kServerVersionMajor = 12;
constexpr int kServerVersionMinor = 8;
constexpr int kServerRevision = 17045;
constexpr int kFirmwareRevision = 14939;

enum ServerStringId {
    SERVER_STRING_VERSION = 0,    // "12.08"
    SERVER_STRING_REVISION = 1,   // "revision 17045"
    SERVER_STRING_BANNER = 2,     // "qvServer V12.08 revision 17045/Linux"
    SERVER_STRING_COPYRIGHT = 3,
};

// The server's texts; any other id throws QVException "Illegal string id.".
std::string getServerString(int id);

}  // namespace tarnix
