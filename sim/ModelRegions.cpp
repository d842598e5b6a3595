#include "ModelRegions.h"

#include "FeatureListImage.h"
#include "platform/endian/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kWorkloadOffset = 4;
constexpr uint32_t kQuarterWorkload = 0x400000;  // of the full scale 0xFFFFFF
constexpr uint32_t kKernelStateOffset = 8;
constexpr uint32_t kKernelRunning = 3;

// Mailbox commands and the sizes of their answers.
enum MailboxCommand : uint32_t {
    CMD_GAIN_CALIBRATION = 13,  // 64 single-precision factors of one input's gain codes
    CMD_OUTPUT_RANGE = 14,
    CMD_GAIN_RANGE_TABLE = 16,  // 8 gain-range records of 24 bytes
    CMD_STORE_DIGEST = 17,      // payload: the 16-byte design digest
    CMD_READ_DIGEST = 18,
    CMD_DEBUG_STATUS = 19,      // hardware revision word, status bit word
    CMD_AMP_POLL = 23,          // one update-state word per KCtrl port
};
constexpr uint32_t kCalibrationFactors = 64;
constexpr uint32_t kRangeRecordsPerPart = 8;
constexpr uint32_t kRangeRecordBytes = 24;
constexpr uint32_t kRangeEntriesPerTable = 64;

// The gain ranges every input and coupling offers: 0.005 V, 0.01 to 0.09 V and
// 0.1 to 2.0 V; entries above them are empty.
float nominalRange(uint32_t index) {
    if (index == 0) return 0.005f;
    if (index < 10) return float(index) * 0.01f;
    if (index < 30) return float(index - 9) * 0.1f;
    return 0.0f;
}

// Copies `length` bytes from `offset` of `bytes`; what lies beyond reads as zeros.
void copyOut(const std::vector<uint8_t>& bytes, uint32_t offset, uint8_t* out, uint32_t length) {
    const uint32_t n = offset < bytes.size() ? std::min<uint32_t>(length, uint32_t(bytes.size()) - offset) : 0;
    if (n) std::memcpy(out, bytes.data() + offset, n);
    std::memset(out + n, 0, length - n);
}

void putFloat(uint8_t* p, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    le::put32(p, bits);
}

std::vector<uint8_t> gainRangeTablePart(uint32_t part) {
    std::vector<uint8_t> out(kRangeRecordsPerPart * kRangeRecordBytes, 0);
    for (uint32_t k = 0; k < kRangeRecordsPerPart; ++k) {
        const uint32_t index = (part * kRangeRecordsPerPart + k) % kRangeEntriesPerTable;
        uint8_t* record = out.data() + k * kRangeRecordBytes;
        putFloat(record, nominalRange(index));
        le::put16(record + 4, uint16_t(index));
        putFloat(record + 12, 1.0f);
    }
    return out;
}

}  // namespace

// --- MemoryRegion ------------------------------------------------------------

void MemoryRegion::read(uint32_t address, uint8_t* out, uint32_t length) {
    copyOut(bytes_, address - base_, out, length);
}

void MemoryRegion::write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink&) {
    store(address - base_, data, length);
}

void MemoryRegion::store(uint32_t offset, const uint8_t* data, uint32_t length) {
    if (offset >= bytes_.size()) return;
    std::memcpy(bytes_.data() + offset, data, std::min<std::size_t>(length, bytes_.size() - offset));
}

uint32_t MemoryRegion::word(uint32_t offset) const {
    return offset + 4 <= bytes_.size() ? le::get32(bytes_.data() + offset) : 0;
}

void MemoryRegion::setWord(uint32_t offset, uint32_t value) {
    uint8_t p[4];
    le::put32(p, value);
    store(offset, p, 4);
}

// --- FeatureListRegion -------------------------------------------------------

void FeatureListRegion::read(uint32_t address, uint8_t* out, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    copyOut(image_, address - layout::kAperture, out, length);
    read_ = true;
}

std::vector<uint8_t> FeatureListRegion::replace(std::vector<uint8_t> image) {
    std::lock_guard<std::mutex> lock(mutex_);
    image_ = std::move(image);
    return image_;
}

// --- ControlledRegion --------------------------------------------------------

void ControlledRegion::read(uint32_t address, uint8_t* out, uint32_t length) {
    if (address >= dataBase_)
        data_.read(address, out, length);
    else
        control_.read(address, out, length);
}

void ControlledRegion::write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) {
    if (address >= dataBase_)
        data_.write(address, data, length, sink);
    else
        controlWritten(address, data, length, sink);
}

void ControlledRegion::controlWritten(uint32_t address, const uint8_t* data, uint32_t length,
                                      DeviceMessageSink& sink) {
    control_.write(address, data, length, sink);
}

// --- MailboxRegion -----------------------------------------------------------

MailboxRegion::MailboxRegion(const std::array<uint8_t, 16>& digest, uint32_t boardWord)
    : ControlledRegion(layout::kMailboxCommand, 8, layout::kMailboxData, layout::kMailboxDataBytes),
      digest_(digest),
      boardWord_(boardWord) {}

void MailboxRegion::controlWritten(uint32_t address, const uint8_t* data, uint32_t length,
                                   DeviceMessageSink& sink) {
    control_.write(address, data, length, sink);
    // The host writes the payload and the argument first, the command word last.
    if (address != layout::kMailboxCommand || length < 4) return;
    const std::vector<uint8_t> answer = answerTo(control_.word(0), control_.word(4));
    data_.store(0, answer.data(), uint32_t(answer.size()));
    ++commandsRun_;
    sink.emitMessage(layout::kMailboxData, answer.data(), uint32_t(answer.size()));
}

std::vector<uint8_t> MailboxRegion::answerTo(uint32_t code, uint32_t argument) {
    std::vector<uint8_t> answer(4, 0);
    switch (code) {
        case CMD_GAIN_CALIBRATION:
            answer.assign(kCalibrationFactors * 4, 0);
            for (uint32_t k = 0; k < kCalibrationFactors; ++k) putFloat(answer.data() + 4 * k, 1.0f);
            break;
        case CMD_OUTPUT_RANGE:
            le::put32(answer.data(), argument);
            break;
        case CMD_GAIN_RANGE_TABLE:
            answer = gainRangeTablePart(argument);
            break;
        case CMD_STORE_DIGEST:
            std::copy(data_.data(), data_.data() + digest_.size(), digest_.begin());
            break;
        case CMD_READ_DIGEST:
            answer.assign(digest_.begin(), digest_.end());
            break;
        case CMD_DEBUG_STATUS:
            answer.assign(8, 0);
            le::put32(answer.data(), boardWord_ & 7u);
            break;
        case CMD_AMP_POLL:
            answer.assign(8, 0);  // both ports idle
            break;
        default:
            break;
    }
    return answer;
}

// --- CpuRegion ---------------------------------------------------------------

CpuRegion::CpuRegion(uint32_t cpus)
    : ControlledRegion(layout::kCpuControl, layout::kCpuControlStride * cpus, layout::kCpuStatus,
                       layout::kCpuStatusBytes * cpus) {
    for (uint32_t n = 0; n < cpus; ++n) {
        data_.setWord(n * layout::kCpuStatusBytes + kWorkloadOffset, (n + 1) * kQuarterWorkload);
        data_.setWord(n * layout::kCpuStatusBytes + kKernelStateOffset, kKernelRunning);
    }
}

void CpuRegion::controlWritten(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) {
    const uint32_t cpu = (address - layout::kCpuControl) / layout::kCpuControlStride;
    const uint32_t holdOffset = cpu * layout::kCpuControlStride;
    const bool held = control_.word(holdOffset) != 0;
    control_.write(address, data, length, sink);
    if (!held || control_.word(holdOffset) != 0) return;
    // Released: the kernel starts again and reports itself running.
    const uint32_t block = cpu * layout::kCpuStatusBytes;
    data_.setWord(block + kWorkloadOffset, (cpu + 1) * kQuarterWorkload);
    data_.setWord(block + kKernelStateOffset, kKernelRunning);
    sink.emitMessage(layout::cpuStatus(cpu), data_.data() + block, layout::kCpuStatusAreaBytes);
}

}  // namespace sim
}  // namespace tarnix
