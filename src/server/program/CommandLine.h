#pragma once
#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include <cstdint>
#include <iosfwd>
#include <string>

namespace tarnix {

// The command line of qvServer as the program uses it.
struct ServerOptions {
    bool help = false;
    bool version = false;
    bool progAlways = false;
    bool openOverride = false;
    int16_t port = 8005;
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
