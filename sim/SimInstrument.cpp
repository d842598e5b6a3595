#include "SimInstrument.h"

#include "DesignImage.h"
#include "digest/Md5.h"
#include "platform/endian/ByteOrder.h"
#include "platform/usb/DriverCodes.h"
#include "platform/usb/UsbErrors.h"
#include "platform/usb/WireProtocol.h"

#include <algorithm>
#include <cstring>

namespace tarnix {
namespace sim {

namespace usb = platform::usb;

namespace {

constexpr uint8_t kPicDone = 0x80;
constexpr uint8_t kPicInit = 0x08;
constexpr uint8_t kConfigBusy = 0x02;
constexpr uint8_t kStatusFailed = 1;
constexpr uint32_t kFrameHeader = 12;
constexpr uint32_t kMaxMessagePayload = 4096;
constexpr uint32_t kChainPartPayload = 4092;  // keeps a continued part's length word within 4096
constexpr uint32_t kInvalidAddress = 0x14000000;
constexpr uint32_t kUsbPacket = 512;

uint8_t reverseBits(uint8_t byte) {
    uint8_t out = 0;
    for (int i = 0; i < 8; ++i)
        if (byte & (1u << i)) out = uint8_t(out | (0x80u >> i));
    return out;
}

}  // namespace

SimInstrument::SimInstrument(const InstrumentConfig& config)
    : config_(config),
      fpga_(config.fpgaRunning ? FpgaState::running : FpgaState::unconfigured),
      digest_(config.designDigest),
      pic_(config.fpgaRunning ? kPicDone | kPicInit : kPicInit) {
    for (int i = 0; i < 6; ++i) le::put16(&controllerRegisters_[16 + 2 * i], config.supplies[i]);
    le::put32(&controllerRegisters_[32], config.serial);
    le::put32(&controllerRegisters_[36], config.product);
    std::copy(config.register40.begin(), config.register40.end(), controllerRegisters_.begin() + 40);
}

// --- control requests -------------------------------------------------------

void SimInstrument::control(const std::shared_ptr<HostLink>& link, uint32_t tag, uint32_t code,
                            const uint8_t* input, uint32_t inputLength) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!usb::isControlCode(code)) {
        link->answer(usb::wire::kControlDone, tag, usb::kErrorInvalidParameter, nullptr, 0);
        return;
    }
    const std::array<uint8_t, 8> answer = controlAnswer(usb::controlFunction(code), input, inputLength);
    link->answer(usb::wire::kControlDone, tag, usb::kErrorSuccess, answer.data(), answer.size());
    serveReads();  // a reset may have changed what can be sent
}

std::array<uint8_t, 8> SimInstrument::controlAnswer(uint32_t function, const uint8_t* in, uint32_t length) {
    std::array<uint8_t, 8> answer{};
    const auto expect = [&](uint32_t wanted) {
        if (length == wanted) return true;
        answer[1] = kStatusFailed;
        return false;
    };
    switch (function) {
    case usb::kFnGetQVValue:
        if (expect(1)) {
            for (int i = 0; i < 4; ++i) answer[2 + i] = uint8_t(config_.serial >> (24 - 8 * i));
        }
        break;
    case usb::kFnGetVersions:
        answer[2] = config_.picMajor;
        answer[3] = config_.picMinor;
        answer[4] = config_.firmwareMajor;
        answer[5] = config_.firmwareMinor;
        answer[6] = uint8_t(config_.firmwareBuild >> 8);
        answer[7] = uint8_t(config_.firmwareBuild);
        break;
    case usb::kFnReset:
        if (expect(1)) {
            if (configuring_) {
                configuring_ = false;
                fpga_ = FpgaState::unconfigured;
                pic_ = kPicInit;
            }
            resetPipes();
        }
        break;
    case usb::kFnStartProgram:
        if (expect(4)) startProgram(uint32_t(in[0]) | (uint32_t(in[1]) << 8) | (uint32_t(in[2]) << 16), in[3]);
        break;
    case usb::kFnGetConfigStatus: {
        const uint32_t wanted = std::min<uint32_t>(bytesWanted(), 0xFFFF);
        answer[2] = picFlags();
        le::put16(&answer[3], uint16_t(wanted));
        answer[7] = configuring_ ? kConfigBusy : 0;
        break;
    }
    case usb::kFnGetStats:
        if (expect(1)) {
            const std::size_t queued = inQueueBytes_ - partialOffset_;
            const std::size_t packets = std::min<std::size_t>(7, (queued + kUsbPacket - 1) / kUsbPacket);
            answer[2] = uint8_t((packets << 4) | (locked_ ? 1 : 0));
            const uint16_t clipped = uint16_t(std::min<std::size_t>(queued, 0xFFFF));
            answer[3] = uint8_t(clipped >> 8);
            answer[4] = uint8_t(clipped);
        }
        break;
    case usb::kFnDummyRead:
        break;
    case usb::kFnLockIn:
        if (expect(1)) locked_ = in[0] != 0;
        break;
    case usb::kFnReadRegister:
        if (expect(2)) {
            const uint32_t count = in[0];
            const uint32_t first = in[1];
            if (count < 1 || count > 4 || first + count > controllerRegisters_.size())
                answer[1] = kStatusFailed;
            else
                std::copy_n(controllerRegisters_.begin() + first, count, answer.begin() + 4);
        }
        break;
    case usb::kFnGetDriverVersion:
        le::put32(&answer[0], config_.driverInformation);
        le::put16(&answer[4], config_.driverVersion);
        break;
    case usb::kFnVendorReset:
        if (expect(1) && in[0] != 0) resetPipes();
        break;
    case usb::kFnClearPipe:
        if (expect(1)) {
            if (in[0] == usb::kPipeDeviceToHost) {
                inQueue_.clear();
                inQueueBytes_ = 0;
                partialOffset_ = 0;
            } else {
                frame_.clear();
            }
        }
        break;
    default:  // time-outs are the driver's business; anything else is unknown
        answer[1] = kStatusFailed;
        break;
    }
    return answer;
}

void SimInstrument::resetPipes() {
    inQueue_.clear();
    inQueueBytes_ = 0;
    partialOffset_ = 0;
    nextPacketCount_ = 1;
    frame_.clear();
}

// --- FPGA configuration -----------------------------------------------------

uint8_t SimInstrument::picFlags() const { return configuring_ && !blankOverDesign_ ? kPicInit : pic_; }

uint32_t SimInstrument::bytesWanted() const {
    if (!configuring_) return 0;
    return uint32_t(imageExpected_ - image_.size()) + paddingLeft_;
}

void SimInstrument::startProgram(uint32_t length, uint8_t key) {
    configuring_ = true;
    key_ = key;
    imageExpected_ = length;
    image_.clear();
    image_.reserve(length);
    // A blank configuration never clears a running design.
    blankOverDesign_ = key == 1 && fpga_ == FpgaState::running;
    paddingLeft_ = key == 0 ? config_.paddingBytes : 0;
    if (!blankOverDesign_) fpga_ = FpgaState::configuring;
    if (imageExpected_ == 0 && paddingLeft_ == 0) finishConfiguration();
}

void SimInstrument::finishConfiguration() {
    configuring_ = false;
    if (blankOverDesign_) {
        blankOverDesign_ = false;
        return;
    }
    fpga_ = FpgaState::unconfigured;
    pic_ = kPicInit;
    if (key_ != 0) return;  // a blank image starts no design
    std::vector<uint8_t> file;
    for (uint8_t& byte : image_) byte = reverseBits(byte);
    if (config_.faults.crcFailures > 0) {
        --config_.faults.crcFailures;
        pic_ = 0;
        return;
    }
    if (!design::parseImage(image_.data(), image_.size(), file)) {
        pic_ = 0;  // what arrived is no design: a CRC error
        return;
    }
    if (config_.faults.noDone) return;
    file.insert(file.end(), image_.begin(), image_.end());
    const Md5::Digest digest = Md5::of(file.data(), file.size());
    std::copy(digest.begin(), digest.end(), digest_.begin());
    fpga_ = FpgaState::running;
    pic_ = kPicDone | kPicInit;
    image_.clear();
    image_.shrink_to_fit();
}

// --- host-to-device pipe ----------------------------------------------------

void SimInstrument::outTransfer(const std::shared_ptr<HostLink>& link, uint32_t tag, std::vector<uint8_t> data) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!configuring_) {
        const int32_t limit = config_.faults.stallOutAfter;
        if (limit >= 0 && framedOutTransfers_ >= uint32_t(limit)) {
            stalled_.push_back(StalledOut{link, link.get(), tag});
            return;
        }
        ++framedOutTransfers_;
    }
    consumeOut(data.data(), data.size());
    uint8_t accepted[4];
    le::put32(accepted, uint32_t(data.size()));
    link->answer(usb::wire::kOutDone, tag, usb::kErrorSuccess, accepted, sizeof accepted);
    serveReads();
}

void SimInstrument::consumeOut(const uint8_t* data, std::size_t length) {
    std::size_t position = 0;
    while (position < length) {
        if (configuring_) {
            const std::size_t available = length - position;
            std::size_t take;
            if (image_.size() < imageExpected_) {
                take = std::min<std::size_t>(imageExpected_ - image_.size(), available);
                image_.insert(image_.end(), data + position, data + position + take);
            } else {
                take = std::min<std::size_t>(paddingLeft_, available);
                paddingLeft_ -= uint32_t(take);
            }
            position += take;
            if (image_.size() == imageExpected_ && paddingLeft_ == 0) finishConfiguration();
            continue;
        }
        consumeFramed(data, length, position);
    }
}

void SimInstrument::consumeFramed(const uint8_t* data, std::size_t length, std::size_t& position) {
    // Header first, byte by byte while the sync word is checked.
    while (position < length && frame_.size() < kFrameHeader) {
        frame_.push_back(data[position++]);
        const bool syncBroken = (frame_.size() == 1 && frame_[0] != 0x47) ||
                                (frame_.size() == 2 && frame_[1] != 0x5A) ||
                                (frame_.size() == 4 && (frame_[2] != 0 || frame_[3] != 0));
        if (syncBroken) {
            ++framingErrors_;
            // Resynchronise on the next 0x47 0x5A.
            std::size_t keep = 1;
            while (keep < frame_.size() && frame_[keep] != 0x47) ++keep;
            frame_.erase(frame_.begin(), frame_.begin() + keep);
        }
    }
    if (frame_.size() < kFrameHeader) return;
    const uint32_t lengthWord = le::get32(&frame_[4]);
    const uint32_t payload = lengthWord & ~3u;
    if (lengthWord & 1u) {
        const std::size_t take = std::min<std::size_t>(payload - (frame_.size() - kFrameHeader), length - position);
        frame_.insert(frame_.end(), data + position, data + position + take);
        position += take;
        if (frame_.size() < kFrameHeader + payload) return;
    }
    handleFrame();
    frame_.clear();
}

void SimInstrument::handleFrame() {
    const uint32_t lengthWord = le::get32(&frame_[4]);
    const uint32_t address = le::get32(&frame_[8]) & ~3u;
    const uint32_t length = lengthWord & ~3u;
    if (fpga_ != FpgaState::running) return;  // without a design nobody listens
    if (lengthWord & 1u)
        registers_.write(address, frame_.data() + kFrameHeader, length, *this);
    else
        answerRead(address, length);
}

void SimInstrument::answerRead(uint32_t address, uint32_t length) {
    if (config_.faults.silent) return;
    if (config_.faults.invalidAddressMessage && !invalidAddressSent_) {
        invalidAddressSent_ = true;
        const uint8_t junk[4] = {0xDE, 0xAD, 0xBE, 0xEF};
        emitMessage(kInvalidAddress, junk, sizeof junk);
    }
    std::vector<uint8_t> payload(length);
    registers_.read(address, payload.data(), length);
    emitMessage(address, payload.data(), length);
    ++readsAnswered_;
}

// --- device-to-host pipe ----------------------------------------------------

void SimInstrument::appendMessage(std::vector<uint8_t>& out, uint32_t lengthWord, uint32_t address,
                                  const uint8_t* payload, uint32_t length) {
    const std::size_t start = out.size();
    out.resize(start + 16 + length);
    uint8_t* p = out.data() + start;
    le::put16(p, 0x5A47);
    le::put16(p + 2, 0);
    le::put32(p + 4, lengthWord);
    le::put32(p + 8, address);
    if (length) std::memcpy(p + 12, payload, length);
    le::put16(p + 12 + length, 0);
    le::put16(p + 14 + length, nextPacketCount_++);
}

void SimInstrument::emitMessage(uint32_t address, const uint8_t* data, uint32_t length) {
    if (config_.faults.silent) return;
    // Longer payloads travel as a chain: each part but the last marked with bit 0.
    uint32_t offset = 0;
    do {
        const uint32_t left = length - offset;
        const bool last = left <= kMaxMessagePayload;
        const uint32_t part = last ? left : kChainPartPayload;
        std::vector<uint8_t> message;
        appendMessage(message, part | (last ? 0u : 1u), address, data + offset, part);
        inQueueBytes_ += message.size();
        inQueue_.push_back(std::move(message));
        offset += part;
    } while (offset < length);
}

void SimInstrument::addStreamSource(std::shared_ptr<StreamSource> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    sources_.push_back(std::move(source));
}

void SimInstrument::dataDue() {
    std::lock_guard<std::mutex> lock(mutex_);
    serveReads();
}

void SimInstrument::sendMessage(uint32_t address, const uint8_t* payload, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    emitMessage(address, payload, length);
    serveReads();
}

bool SimInstrument::offerMessage(uint32_t address, const uint8_t* payload, uint32_t length,
                                 std::size_t maxQueuedBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fpga_ != FpgaState::running || inQueueBytes_ > maxQueuedBytes) return false;
    emitMessage(address, payload, length);
    serveReads();
    return true;
}

bool SimInstrument::hasInData() const {
    if (config_.faults.silent) return false;
    if (!inQueue_.empty() || (streaming_ && fpga_ == FpgaState::running)) return true;
    if (fpga_ != FpgaState::running) return false;
    return std::any_of(sources_.begin(), sources_.end(), [](const auto& source) { return source->due(); });
}

std::vector<uint8_t> SimInstrument::buildTransfer(uint32_t maxBytes) {
    std::vector<uint8_t> out;
    const auto dropFront = [this] {
        inQueueBytes_ -= inQueue_.front().size();
        partialOffset_ = 0;
        inQueue_.pop_front();
    };
    while (!inQueue_.empty()) {
        const std::vector<uint8_t>& message = inQueue_.front();
        const auto from = message.begin() + std::ptrdiff_t(partialOffset_);
        const std::size_t rest = message.size() - partialOffset_;
        if (out.size() + rest + 2 <= maxBytes) {
            out.insert(out.end(), from, message.end());
            dropFront();
            continue;
        }
        if (!out.empty()) break;
        // A read too small for the next message gets part of it, and no end word.
        const std::size_t take = std::min<std::size_t>(rest, maxBytes);
        out.insert(out.end(), from, from + std::ptrdiff_t(take));
        partialOffset_ += take;
        if (partialOffset_ == message.size()) dropFront();
        return out;
    }
    if (fpga_ == FpgaState::running && inQueue_.empty()) {
        const StreamSource::Send send = [&](uint32_t address, const uint8_t* payload, uint32_t length) {
            if (out.size() + 16 + length + 2 > maxBytes) return false;
            appendMessage(out, length, address, payload, length);
            return true;
        };
        for (const auto& source : sources_) source->produce(registers_, send);
    }
    if (streaming_ && fpga_ == FpgaState::running && inQueue_.empty()) {
        const uint32_t payload = uint32_t(streamPayload_.size());
        while (out.size() + 16 + payload + 2 <= maxBytes && (streamLeft_ != 0)) {
            le::put32(streamPayload_.data(), streamSequence_++);
            appendMessage(out, payload, streamAddress_, streamPayload_.data(), payload);
            if (streamLeft_ != UINT64_MAX) --streamLeft_;
        }
        if (streamLeft_ == 0) streaming_ = false;
    }
    if (!out.empty()) {
        out.push_back(0);  // the zero word after the last message ends it for the reader
        out.push_back(0);
    }
    return out;
}

void SimInstrument::serveReads() {
    while (!reads_.empty() && hasInData()) {
        PendingIn read = reads_.front();
        std::shared_ptr<HostLink> link = read.link.lock();
        if (!link) {
            reads_.pop_front();
            continue;
        }
        const std::vector<uint8_t> transfer = buildTransfer(read.maxBytes);
        if (transfer.empty()) break;
        reads_.pop_front();
        link->answer(usb::wire::kInDone, read.tag, usb::kErrorSuccess, transfer.data(), transfer.size());
    }
}

void SimInstrument::inRequest(const std::shared_ptr<HostLink>& link, uint32_t tag, uint32_t maxBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    reads_.push_back(PendingIn{link, link.get(), tag, maxBytes});
    serveReads();
}

void SimInstrument::cancel(const HostLink* link, uint32_t tag) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto read = reads_.begin(); read != reads_.end(); ++read) {
        if (read->identity != link || read->tag != tag) continue;
        const std::shared_ptr<HostLink> owner = read->link.lock();
        reads_.erase(read);
        if (owner) owner->answer(usb::wire::kInDone, tag, usb::kErrorOperationAborted, nullptr, 0);
        return;
    }
    for (auto out = stalled_.begin(); out != stalled_.end(); ++out) {
        if (out->identity != link || out->tag != tag) continue;
        const std::shared_ptr<HostLink> owner = out->link.lock();
        stalled_.erase(out);
        const uint8_t none[4] = {0, 0, 0, 0};
        if (owner) owner->answer(usb::wire::kOutDone, tag, usb::kErrorOperationAborted, none, sizeof none);
        return;
    }
}

void SimInstrument::disconnected(const HostLink* link) {
    std::lock_guard<std::mutex> lock(mutex_);
    reads_.erase(std::remove_if(reads_.begin(), reads_.end(), [&](const PendingIn& r) { return r.identity == link; }),
                 reads_.end());
    stalled_.erase(std::remove_if(stalled_.begin(), stalled_.end(),
                                  [&](const StalledOut& s) { return s.identity == link; }),
                   stalled_.end());
}

// --- inspection -------------------------------------------------------------

SimInstrument::FpgaState SimInstrument::fpgaState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fpga_;
}

std::array<uint8_t, 16> SimInstrument::designDigest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return digest_;
}

void SimInstrument::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_.faults = faults;
    framedOutTransfers_ = 0;
}

void SimInstrument::readRegisters(uint32_t address, uint8_t* out, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    registers_.read(address, out, length);
}

void SimInstrument::writeRegisters(uint32_t address, const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    registers_.write(address, data, length, *this);
    serveReads();
}

void SimInstrument::addRegion(uint32_t base, uint32_t size, std::shared_ptr<RegisterRegion> region) {
    std::lock_guard<std::mutex> lock(mutex_);
    registers_.addRegion(base, size, std::move(region));
}

void SimInstrument::startStream(uint32_t address, uint32_t payloadBytes, uint64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    streamAddress_ = address & ~3u;
    streamPayload_.assign(std::max<uint32_t>(4, std::min(payloadBytes, kMaxMessagePayload) & ~3u), 0);
    for (std::size_t i = 4; i < streamPayload_.size(); ++i) streamPayload_[i] = uint8_t(i);
    streamLeft_ = count == 0 ? UINT64_MAX : count;
    streaming_ = true;
    serveReads();
}

void SimInstrument::stopStream() {
    std::lock_guard<std::mutex> lock(mutex_);
    streaming_ = false;
}

uint64_t SimInstrument::framingErrors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return framingErrors_;
}

uint64_t SimInstrument::readRequestsAnswered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readsAnswered_;
}

}  // namespace sim
}  // namespace tarnix
