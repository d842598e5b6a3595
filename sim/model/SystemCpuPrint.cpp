#include "model/SystemCpuPrint.h"

#include "platform/endian/ByteOrder.h"

#include <algorithm>

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kTextCount = 0x10000020;
constexpr uint32_t kTextPart = 0x10000021;

void appendWord(std::vector<uint8_t>& out, uint32_t word) {
    uint8_t p[4];
    le::put32(p, word);
    out.insert(out.end(), p, p + 4);
}

std::vector<uint8_t> messageHeader(uint32_t address, uint32_t type) {
    std::vector<uint8_t> m;
    appendWord(m, address);
    appendWord(m, type);
    return m;
}

}  // namespace

std::vector<std::vector<uint8_t>> printMessages(uint32_t printWindow, const std::string& line) {
    std::vector<uint8_t> count = messageHeader(printWindow, kTextCount);
    appendWord(count, 1);
    std::vector<uint8_t> part = messageHeader(printWindow, kTextPart);
    appendWord(part, uint32_t(line.size()));
    // Four characters to a word, in the CPU's byte order.
    std::vector<uint8_t> text(line.begin(), line.end());
    text.resize((text.size() + 3) / 4 * 4, 0);
    for (std::size_t at = 0; at < text.size(); at += 4) std::reverse(text.begin() + at, text.begin() + at + 4);
    part.insert(part.end(), text.begin(), text.end());
    return {count, part};
}

CpuPrintRegion::CpuPrintRegion(std::shared_ptr<RegisterRegion> cpu, uint32_t controlBase, uint32_t controlStride,
                               uint32_t printWindow, uint32_t printWindowStride)
    : cpu_(std::move(cpu)),
      controlBase_(controlBase),
      controlStride_(controlStride),
      printWindow_(printWindow),
      printWindowStride_(printWindowStride) {}

void CpuPrintRegion::read(uint32_t address, uint8_t* out, uint32_t length) { cpu_->read(address, out, length); }

uint32_t CpuPrintRegion::holdWord(uint32_t address) {
    uint8_t word[4];
    cpu_->read(address, word, 4);
    return le::get32(word);
}

void CpuPrintRegion::write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) {
    const uint32_t cpu = (address - controlBase_) / controlStride_;
    const uint32_t hold = controlBase_ + cpu * controlStride_;
    const bool held = holdWord(hold) != 0;
    cpu_->write(address, data, length, sink);
    if (!held || holdWord(hold) != 0) return;
    const uint32_t window = printWindow_ + cpu * printWindowStride_;
    for (const std::vector<uint8_t>& m : printMessages(window, kStartLine))
        sink.emitMessage(window, m.data(), uint32_t(m.size()));
}

}  // namespace sim
}  // namespace tarnix
