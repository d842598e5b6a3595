#pragma once
#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace boost {
class any;
}

namespace tarnix {

// A TCP port as an option value: a decimal number from 1 to 65535, anything
// else is refused by the option parser as an invalid value of its option.
struct TcpPort {
    uint16_t number = 0;
};
std::ostream& operator<<(std::ostream& out, const TcpPort& port);
// The option library's hook for reading a TcpPort (found by argument lookup).
void validate(boost::any& value, const std::vector<std::string>& texts, TcpPort*, int);

// The command line of qvServer as the program uses it.
struct ServerOptions {
    bool help = false;
    bool version = false;
    bool progAlways = false;
    bool openOverride = false;
    uint16_t port = 8005;
    bool endless = true;
    int32_t debug = 3;
};

// The option table, caption "Options", in the order it is printed.
boost::program_options::options_description serverOptionTable();

// Parses and checks the arguments; throws the option library's exceptions
// (unknown option, missing or malformed value).
ServerOptions parseServerOptions(int argc, const char* const argv[],
                                 const boost::program_options::options_description& table);

}  // namespace tarnix
