#include "support/usb/FakeDevice.h"

#include "platform/usb/DriverCodes.h"

#include <algorithm>
#include <cstring>

namespace tarnix {
namespace platform {
namespace usb {

FakeDevice::FakeDevice() {
    readDefault_.error = kErrorSemaphoreTimeout;
    readDefault_.completion = Completion::pending;
}

void FakeDevice::pushControl(uint32_t function, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    controlScript_[function].push_back(std::move(reply));
}

void FakeDevice::setControlHandler(ControlHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    controlHandler_ = std::move(handler);
}

void FakeDevice::pushRead(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    readScript_.push_back(std::move(reply));
}

void FakeDevice::setReadDefault(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    readDefault_ = std::move(reply);
}

void FakeDevice::pushWrite(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeScript_.push_back(std::move(reply));
}

std::vector<FakeDevice::ControlCall> FakeDevice::controlCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controlCalls_;
}

std::vector<FakeDevice::ControlCall> FakeDevice::controlCalls(uint32_t function) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ControlCall> calls;
    for (const ControlCall& call : controlCalls_)
        if (call.function == function) calls.push_back(call);
    return calls;
}

std::vector<uint32_t> FakeDevice::readSizes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readSizes_;
}

std::vector<std::vector<uint8_t>> FakeDevice::writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

std::vector<uint8_t> FakeDevice::written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

std::size_t FakeDevice::cancelCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancels_;
}

std::size_t FakeDevice::runningCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_.size();
}

void FakeDevice::clearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    controlCalls_.clear();
    readSizes_.clear();
    writes_.clear();
    written_.clear();
    cancels_ = 0;
}

bool FakeDevice::completeRunning(uint32_t error, uint32_t bytes) {
    std::shared_ptr<Overlapped> overlapped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_.empty()) return false;
        overlapped = running_.front();
        running_.pop_front();
    }
    overlapped->complete(error, bytes);
    return true;
}

IoResult FakeDevice::finish(const Reply& reply, uint32_t bytes, const std::shared_ptr<Overlapped>& overlapped) {
    switch (reply.completion) {
    case Completion::immediate:
        if (reply.error != kErrorSuccess) return IoResult{reply.error, bytes};
        overlapped->complete(kErrorSuccess, bytes);
        return IoResult{kErrorSuccess, bytes};
    case Completion::pending:
        overlapped->complete(reply.error, bytes);
        return IoResult{kErrorIoPending, 0};
    case Completion::never:
        break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    running_.push_back(overlapped);
    return IoResult{kErrorIoPending, 0};
}

IoResult FakeDevice::deviceIoControl(uint32_t code, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                                     uint32_t outputLength, const std::shared_ptr<Overlapped>& overlapped) {
    const uint32_t function = controlFunction(code);
    const std::vector<uint8_t> in(input, input + (input ? inputLength : 0));
    Reply reply;
    ControlHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        controlCalls_.push_back(ControlCall{function, in});
        auto script = controlScript_.find(function);
        if (script != controlScript_.end() && !script->second.empty()) {
            reply = script->second.front();
            script->second.pop_front();
        } else {
            handler = controlHandler_;
            reply.data.assign(kControlAnswerSize, 0);
        }
    }
    if (handler) reply = handler(function, in);
    const uint32_t answered = std::min<uint32_t>(outputLength, static_cast<uint32_t>(reply.data.size()));
    if (output && answered) std::memcpy(output, reply.data.data(), answered);
    return finish(reply, answered, overlapped);
}

IoResult FakeDevice::readFile(uint8_t* data, uint32_t length, const std::shared_ptr<Overlapped>& overlapped) {
    Reply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readSizes_.push_back(length);
        if (!readScript_.empty()) {
            reply = readScript_.front();
            readScript_.pop_front();
        } else {
            reply = readDefault_;
        }
    }
    const uint32_t delivered = std::min<uint32_t>(length, static_cast<uint32_t>(reply.data.size()));
    if (delivered) std::memcpy(data, reply.data.data(), delivered);
    return finish(reply, delivered, overlapped);
}

IoResult FakeDevice::writeFile(const uint8_t* data, uint32_t length, const std::shared_ptr<Overlapped>& overlapped) {
    Reply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        writes_.emplace_back(data, data + length);
        if (!writeScript_.empty()) {
            reply = writeScript_.front();
            writeScript_.pop_front();
        }
        if (reply.error == kErrorSuccess && reply.completion != Completion::never)
            written_.insert(written_.end(), data, data + length);
    }
    return finish(reply, reply.error == kErrorSuccess ? length : 0, overlapped);
}

uint32_t FakeDevice::cancelIo() {
    std::deque<std::shared_ptr<Overlapped>> cancelled;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++cancels_;
        cancelled.swap(running_);
    }
    for (auto& overlapped : cancelled) overlapped->complete(kErrorOperationAborted, 0);
    return kErrorSuccess;
}

void FakeBackend::add(const std::string& path, std::shared_ptr<FakeDevice> device) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.push_back(Slot{InterfaceEntry{path, kErrorSuccess, ++plugIns_}, std::move(device)});
}

void FakeBackend::remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                                [&](const Slot& slot) { return slot.entry.path == path; }),
                 slots_.end());
}

void FakeBackend::setHidden(const std::string& path, bool hidden) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : slots_)
        if (slot.entry.path == path) slot.hidden = hidden;
}

void FakeBackend::addEnumerationError(uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.push_back(Slot{InterfaceEntry{std::string(), error}, nullptr});
}

void FakeBackend::setEnumerationFailure(uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = error;
}

std::vector<InterfaceEntry> FakeBackend::enumerate(const std::string&, uint32_t& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    error = failure_;
    std::vector<InterfaceEntry> entries;
    if (error != kErrorSuccess) return entries;
    for (const Slot& slot : slots_)
        if (!slot.hidden) entries.push_back(slot.entry);
    return entries;
}

std::shared_ptr<DeviceHandle> FakeBackend::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Slot& slot : slots_)
        if (slot.entry.error == kErrorSuccess && slot.entry.path == path) return slot.device;
    return nullptr;
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
