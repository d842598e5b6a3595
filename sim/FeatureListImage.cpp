#include "FeatureListImage.h"

#include "ModelVariants.h"
#include "platform/endian/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kRecordHeaderBytes = 16;

void appendWord(std::vector<uint8_t>& out, uint32_t word) {
    uint8_t p[4];
    le::put32(p, word);
    out.insert(out.end(), p, p + 4);
}

}  // namespace

FeatureListWriter& FeatureListWriter::raw(uint16_t code, const char* name, const std::vector<uint8_t>& data,
                                          uint16_t version) {
    uint8_t header[kRecordHeaderBytes] = {};
    le::put16(header, code);
    le::put16(header + 2, version);
    le::put32(header + 4, uint32_t(kRecordHeaderBytes + data.size()));
    std::memset(header + 8, ' ', 8);
    std::memcpy(header + 8, name, std::min<std::size_t>(std::strlen(name), 8));
    bytes_.insert(bytes_.end(), header, header + kRecordHeaderBytes);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
}

FeatureListWriter& FeatureListWriter::record(uint16_t code, const char* name,
                                             const std::vector<FeatureListBlock>& blocks, uint16_t version) {
    std::vector<uint8_t> data;
    for (const FeatureListBlock& b : blocks) {
        appendWord(data, b.startAddress);
        appendWord(data, b.attribute);
        appendWord(data, b.stride);
        appendWord(data, b.instances);
    }
    return raw(code, name, data, version);
}

std::vector<uint8_t> featureRecords(const ModelVariant& variant) {
    using namespace layout;
    if (variant.cpus == 0 || variant.cpus > kMaxCpus)
        throw std::invalid_argument("a simulated LQ3 has 1 to " + std::to_string(kMaxCpus) + " CPUs");
    if (variant.pidControllers == 0 || variant.pidControllers > kMaxPidControllers)
        throw std::invalid_argument("a simulated LQ3 has 1 to " + std::to_string(kMaxPidControllers) +
                                    " PID controllers");
    if (variant.signalInputs == 0 || variant.signalInputs > 2)
        throw std::invalid_argument("a simulated LQ3 has 1 or 2 signal inputs");
    // The KCtrl record: a block (port 1 eight bytes above port 0), then the
    // amplifier type of each port.
    std::vector<uint8_t> kctrl;
    for (uint32_t word : {kKCtrlPorts, 0u, 8u, 2u, variant.kctrlPorts[0], variant.kctrlPorts[1]})
        appendWord(kctrl, word);
    std::vector<uint8_t> identity;
    appendWord(identity, 1);
    const uint32_t pidEnd = kPidControllers + variant.pidControllers * kPidStride;
    const uint32_t pidThird = std::max<uint32_t>(0x01003800, pidEnd);

    FeatureListWriter list;
    list.raw(FEATURE_IDENTITY, "LQ3", identity)
        .record(FEATURE_SYSTEM, "SYSTEM", {{kSystem, 0, 0x10, 1}})
        .record(FEATURE_FEATURES, "FEATURES", {{kFeatures, 0, kFeaturesBytes, 1}})
        .record(FEATURE_STATUS, "STATUS", {{kStatus, 0, kStatusBytes, 1}})
        .record(FEATURE_MAILBOX, "MAILBOX", {{kMailboxCommand, 0, 8, 1}, {kMailboxData, 0, kMailboxDataBytes, 1}})
        .record(FEATURE_CPUS, "CPUS",
                {{kCpuControl, 0, kCpuControlStride, variant.cpus},
                 {kCpuProgram, 0, kCpuProgramBytes, variant.cpus},
                 {kCpuStatus, 0, kCpuStatusBytes, variant.cpus}})
        // Settings of 6 demodulators; the blocks of demodulators 6 and 7 follow
        // unlisted. Sample block: two 40-byte slots per demodulator.
        .record(FEATURE_DEMODS, "DEMODS", {{0x01002000, 0, 0x40, 6}, {0x01002400, 0, 0x40, 12}},
                variant.demodsVersion)
        .record(FEATURE_OSCS, "OSCS", {{0x01002800, 0, 0x10, 2}})
        .record(FEATURE_MODS, "MODS", {{0x01002900, 0, 0x20, 2}})
        .record(FEATURE_SIGINS, "SIGINS", {{0x01002A00, 0, 0x20, variant.signalInputs}})
        .record(FEATURE_SIGOUTS, "SIGOUTS", {{0x01002B00, 0, 0x10, 2}, {0x01002C00, 0, 0x40, 2}})
        .record(FEATURE_SCOPES, "SCOPES", {{0x01002D00, 0, 0x20, 1}, {0x01010000, 0, 0x1000, 1}})
        .record(FEATURE_AUXOUTS, "AUXOUTS", {{0x01002E00, 0, 0x20, 4}})
        .record(FEATURE_AUXINS, "AUXINS", {{0x01003000, 0, 0x10, 1}, {0x01003100, 0, 0x10, 2}})
        .record(FEATURE_DIOS, "DIOS", {{0x01003200, 0, 0x20, 1}, {0x01003300, 0, 0x10, 2}})
        .record(FEATURE_PIDS, "PIDS",
                {{0x01003400, 0, 0x10, 1}, {kPidControllers, 0, kPidStride, variant.pidControllers},
                 {pidThird, 0, 0x10, 1}})
        .record(FEATURE_PLLS, "PLLS", {{kPlls, 0, kPllStride, kPllCount}}, variant.pllVersion)
        .raw(FEATURE_KCTRLS, "KCTRLS", kctrl);
    return list.bytes();
}

std::vector<uint8_t> defaultFeatureRecords() { return featureRecords(modelVariants().front()); }

std::vector<uint8_t> apertureImage(const std::vector<uint8_t>& records) {
    std::vector<uint8_t> image(layout::kApertureHeaderBytes);
    std::memcpy(image.data(), "FEATURE ", 8);
    le::put32(image.data() + 8, uint32_t(records.size()));
    image.insert(image.end(), records.begin(), records.end());
    return image;
}

std::vector<uint8_t> readFeatureRecords(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the feature list " + path);
    std::vector<uint8_t> records((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (records.size() > layout::kApertureBytes - layout::kApertureHeaderBytes)
        throw std::runtime_error("the feature list " + path + " does not fit the aperture");
    return records;
}

}  // namespace sim
}  // namespace tarnix
