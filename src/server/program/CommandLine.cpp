#include "server/program/CommandLine.h"

#include <boost/program_options/parsers.hpp>
#include <boost/program_options/value_semantic.hpp>

#include <ostream>

namespace po = boost::program_options;

namespace tarnix {

std::ostream& operator<<(std::ostream& out, const TcpPort& port) { return out << port.number; }

void validate(boost::any& value, const std::vector<std::string>& texts, TcpPort*, int) {
    po::validators::check_first_occurrence(value);
    const std::string& text = po::validators::get_single_string(texts);
    uint32_t number = 0;
    const bool digits = !text.empty() && text.size() <= 5 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    if (digits) number = uint32_t(std::stoul(text));
    if (!digits || number < 1 || number > 65535) throw po::invalid_option_value(text);
    value = TcpPort{uint16_t(number)};
}

po::options_description serverOptionTable() {
    po::options_description table("Options");
    table.add_options()
        ("help,h", "Produce help message")
        ("version,v", "Print version string")
        ("prog-always", po::value<bool>()->default_value(false), "Always program a bitstream")
        ("open-override", "Start the server listening on connections from outside")
        ("port,p", po::value<TcpPort>()->default_value(TcpPort{8005}), "The port on which the server should listen")
        ("endless", po::value<bool>()->default_value(true), "Run the server in endless mode")
        ("debug", po::value<int32_t>()->default_value(3),
         "Set the debug level (trace:0, info:1, debug:2, warning:3, error:4, fatal:5, status:6)");
    return table;
}

ServerOptions parseServerOptions(int argc, const char* const argv[], const po::options_description& table) {
    po::variables_map values;
    po::store(po::parse_command_line(argc, argv, table), values);
    po::notify(values);

    ServerOptions options;
    options.help = values.count("help") != 0;
    options.version = values.count("version") != 0;
    options.openOverride = values.count("open-override") != 0;
    options.progAlways = values["prog-always"].as<bool>();
    options.port = values["port"].as<TcpPort>().number;
    options.endless = values["endless"].as<bool>();
    options.debug = values["debug"].as<int32_t>();
    return options;
}

}  // namespace tarnix
