#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The simulated LQ3's feature list and the register map it describes.
//
// The list sits in the aperture: "FEATURE " and the list length, then the
// records (u16 code, u16 version, u32 length, 8-character name, data). A group
// record's data is a run of 16-byte blocks (start address, attribute, stride,
// instances). Every block lies below 0x14000000, 4-aligned, apart from the
// others and away from address 0.
namespace tarnix {
namespace sim {
namespace layout {

constexpr uint32_t kAperture = 0x08020000;
constexpr uint32_t kApertureHeaderBytes = 12;
constexpr uint32_t kApertureBytes = 4096;  // the list travels as one device message

constexpr uint32_t kSystem = 0x01000000;  // +0 clock source, +8 board register
constexpr uint32_t kBoardRegister = kSystem + 8;
constexpr uint32_t kFeatures = 0x01000100;  // 60 bytes, the options mask at +52
constexpr uint32_t kFeaturesBytes = 60;
constexpr uint32_t kOptionsMaskOffset = 52;
constexpr uint32_t kStatus = 0x01000200;  // 20 bytes: time, flags, FIFO level, ADC extremes
constexpr uint32_t kStatusBytes = 20;
constexpr uint32_t kMailboxCommand = 0x01000300;  // command word, argument word
constexpr uint32_t kMailboxData = 0x01000400;
constexpr uint32_t kMailboxDataBytes = 0x400;
constexpr uint32_t kCpuControl = 0x01001000;  // hold word per CPU
constexpr uint32_t kCpuControlStride = 0x10;
constexpr uint32_t kCpuStatus = 0x01001100;  // per CPU: status area, user registers, print window
// Status area (128 bytes), 64 user registers, the print window (last 256 bytes).
constexpr uint32_t kCpuStatusBytes = 0x400;
constexpr uint32_t kCpuStatusAreaBytes = 128;
constexpr uint32_t kCpuPrintWindowBytes = 256;
constexpr uint32_t kCpuPrintWindow = kCpuStatus + kCpuStatusBytes - kCpuPrintWindowBytes;  // CPU 0's
constexpr uint32_t kCpuProgram = 0x01100000;
constexpr uint32_t kCpuProgramBytes = 0x10000;
constexpr uint32_t kMaxCpus = 3;  // their status blocks end before the demodulators' settings

// The status block and print window of CPU n.
constexpr uint32_t cpuStatus(uint32_t n) { return kCpuStatus + n * kCpuStatusBytes; }
constexpr uint32_t cpuPrintWindow(uint32_t n) { return cpuStatus(n) + kCpuStatusBytes - kCpuPrintWindowBytes; }

// The PLL blocks and the offsets of their loop-gain words.
constexpr uint32_t kPlls = 0x01003A00;
constexpr uint32_t kPllStride = 0x80;
constexpr uint32_t kPllCount = 2;
constexpr uint32_t kPllGainOffset = 0x2c;
constexpr uint32_t kPllIntegralOffset = 0x30;
constexpr uint32_t kPllDerivativeOffset = 0x34;

// The PID controllers' blocks; the third PIDS block follows them.
constexpr uint32_t kPidControllers = 0x01003500;
constexpr uint32_t kPidStride = 0x80;
constexpr uint32_t kMaxPidControllers = 9;  // their blocks end before the PLLs'

constexpr uint32_t kKCtrlPorts = 0x01003C00;

}  // namespace layout

// Codes of the records the list carries.
enum FeatureCode : uint16_t {
    FEATURE_IDENTITY = 1,
    FEATURE_DEMODS = 3,
    FEATURE_OSCS = 4,
    FEATURE_SIGINS = 5,
    FEATURE_SIGOUTS = 6,
    FEATURE_SCOPES = 7,
    FEATURE_AUXOUTS = 8,
    FEATURE_AUXINS = 9,
    FEATURE_DIOS = 10,
    FEATURE_STATUS = 11,
    FEATURE_SYSTEM = 12,
    FEATURE_CPUS = 13,
    FEATURE_KCTRLS = 14,
    FEATURE_MAILBOX = 15,
    FEATURE_PLLS = 16,
    FEATURE_FEATURES = 17,
    FEATURE_MODS = 18,
    FEATURE_PIDS = 19,
};

// One register block of a group record.
struct FeatureListBlock {
    uint32_t startAddress;
    uint32_t attribute;
    uint32_t stride;
    uint32_t instances;
};

// Builds the records of a list.
class FeatureListWriter {
public:
    FeatureListWriter& record(uint16_t code, const char* name, const std::vector<FeatureListBlock>& blocks,
                              uint16_t version = 1);
    FeatureListWriter& raw(uint16_t code, const char* name, const std::vector<uint8_t>& data, uint16_t version = 1);
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

struct ModelVariant;

// The records of an LQ3 variant: 6 demodulators (room for the two more that
// the PLL group reaches), 2 oscillators, 2 modulators, 1 or 2 signal inputs,
// 2 signal outputs (8 mixer channels), 1 scope, 4 auxiliary outputs, 1
// auxiliary-input block and 1 digital I/O port (two sample slots each), the
// variant's PID controllers, 2 PLLs, its real-time CPUs, the two KCtrl ports
// with its amplifiers, the mailbox, SYSTEM, STATUS and FEATURES. Throws
// std::invalid_argument for a variant the register layout has no room for.
std::vector<uint8_t> featureRecords(const ModelVariant& variant);
// The records of the default variant.
std::vector<uint8_t> defaultFeatureRecords();

// The aperture's contents for a list: the 12-byte header, then the records.
std::vector<uint8_t> apertureImage(const std::vector<uint8_t>& records);

// The records held in a file (raw bytes, as they follow the aperture header);
// throws std::runtime_error when the file cannot be read or does not fit the
// aperture.
std::vector<uint8_t> readFeatureRecords(const std::string& path);

}  // namespace sim
}  // namespace tarnix
