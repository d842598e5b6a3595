#include "SimOptions.h"

#include "BitstreamDigest.h"  // generated with the embedded FPGA configuration
#include "FeatureListImage.h"
#include "NumberOption.h"
#include "platform/usb/InstrumentDirectory.h"

#include <boost/program_options.hpp>

#include <cctype>
#include <sstream>
#include <stdexcept>

namespace tarnix {
namespace sim {

namespace po = boost::program_options;

namespace {

std::array<uint8_t, 16> parseDigest(const std::string& text) {
    if (text.size() != 32) throw std::invalid_argument("a design digest has 32 hexadecimal digits");
    std::array<uint8_t, 16> digest{};
    for (std::size_t i = 0; i < 16; ++i) digest[i] = uint8_t(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    return digest;
}

}  // namespace

uint64_t parseNumber(const std::string& text, const char* what, uint64_t maximum) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    std::size_t used = 0;
    uint64_t value = 0;
    try {
        value = std::stoull(digits, &used, hex ? 16 : 10);
    } catch (const std::exception&) {
        used = 0;
    }
    // stoull would take a sign or leading blanks; a number here has digits only.
    const bool digitsOnly = !digits.empty() && std::isxdigit(static_cast<unsigned char>(digits[0]));
    if (!digitsOnly || used != digits.size() || value > maximum)
        throw std::invalid_argument(std::string("not a valid ") + what + ": " + text);
    return value;
}

std::array<uint8_t, 16> builtInDesignDigest() { return std::array<uint8_t, 16>{QV_BITSTREAM_MD5_BYTES}; }

SimOptions parseSimOptions(int argc, const char* const* argv) {
    SimOptions options;
    InstrumentConfig& config = options.instrument;
    uint32_t driverVersion = config.driverVersion;
    std::string digest;
    int32_t stallOut = -1;
    std::string featureList, pushList, optionsMask, boardWord, modelName;
    po::options_description description("lq3sim options");
    description.add_options()
        ("help,h", "show this text")
        ("model", po::value(&modelName), "the kind of LQ3 to simulate (default: the first model listed below)")
        ("dir", po::value(&options.directory), "instrument directory (default: $QV_INSTRUMENT_DIR or the temporary default)")
        ("name", po::value(&options.socketName), "socket file name (default: lq3-<serial>.sock)")
        ("serial", numberValue(&config.serial), "serial number")
        ("product", numberValue(&config.product), "product number")
        ("running", po::bool_switch(&config.fpgaRunning), "the FPGA starts with a design running")
        ("design-digest", po::value(&digest), "design hash of the running design (32 hex digits; default: the built-in configuration's MD5)")
        ("driver-version", numberValue(&driverVersion), "driver version reported")
        ("old-driver", "report driver version 7436")
        ("silent", po::bool_switch(&config.faults.silent), "fault: never send device-to-host data")
        ("stall-out", optionalNumberValue(&stallOut)->implicit_value(NumberOption<int32_t>{0}), "fault: stop accepting OUT data after N transfers")
        ("crc-failures", optionalNumberValue(&config.faults.crcFailures)->implicit_value(NumberOption<uint32_t>{1}), "fault: N configurations end with a CRC error")
        ("no-done", po::bool_switch(&config.faults.noDone), "fault: configurations never raise DONE")
        ("invalid-address", po::bool_switch(&config.faults.invalidAddressMessage), "fault: one message at 0x14000000 before the first read answer")
        ("stream-address", optionalNumberValue(&options.streamAddress), "stream messages to this address")
        ("stream-bytes", optionalNumberValue(&options.streamBytes), "payload bytes per streamed message")
        ("stream-count", optionalNumberValue(&options.streamCount), "number of streamed messages (0: without end)")
        ("feature-list", po::value(&featureList), "serve the feature records in this file (raw bytes) instead of the model's list")
        ("push-list", po::value(&pushList), "on SIGUSR1, serve the feature records in this file and send them to the host")
        ("options-mask", po::value(&optionsMask), "options mask in the FEATURES block (default 0x4B)")
        ("board-word", po::value(&boardWord), "board register word: bits 0-2 hardware revision, bit 3 board flag (default: the model's hardware revision)")
        ("heartbeat-hz", numberValue(&options.model.heartbeatHz), "STATUS blocks per second once a host has read the list (0: none, at most 1000)")
        ("aux-dio-hz", numberValue(&options.model.auxDioSampleHz), "aux-input and DIO sample packets per second once a host has read the list (0: none, at most 1000)");
    po::variables_map values;
    po::store(po::parse_command_line(argc, argv, description), values);
    po::notify(values);
    options.help = values.count("help") != 0;
    std::ostringstream help;
    help << description << "\n" << modelVariantHelp();
    options.helpText = help.str();

    config.driverVersion = uint16_t(values.count("old-driver") ? 7436 : driverVersion);
    ModelOptions& model = options.model;
    if (!modelName.empty()) model.variant = modelVariant(modelName);
    if (!featureList.empty()) model.featureRecords = readFeatureRecords(featureList);
    if (!pushList.empty()) model.pushRecords = readFeatureRecords(pushList);
    if (!optionsMask.empty()) model.optionsMask = parseNumber(optionsMask, "options mask");
    if (!boardWord.empty()) model.boardWord = uint32_t(parseNumber(boardWord, "board word", 0xFFFFFFFFu));
    if (model.heartbeatHz > 1000) throw std::invalid_argument("the heartbeat rate is at most 1000 per second");
    if (model.auxDioSampleHz > 1000) throw std::invalid_argument("the aux/DIO sample rate is at most 1000 per second");
    config.faults.stallOutAfter = stallOut;
    config.designDigest = digest.empty() ? builtInDesignDigest() : parseDigest(digest);
    if (options.directory.empty()) options.directory = platform::usb::instrumentDirectory();
    if (options.socketName.empty()) options.socketName = "lq3-" + std::to_string(config.serial) + ".sock";
    return options;
}

std::string socketPathOf(const SimOptions& options) { return options.directory + "/" + options.socketName; }

}  // namespace sim
}  // namespace tarnix
