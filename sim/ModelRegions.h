#pragma once
#include "RegisterSpace.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Register blocks of the simulated LQ3 that behave beyond plain memory.
namespace tarnix {
namespace sim {

// A block of bytes that reads back what was written.
class MemoryRegion : public RegisterRegion {
public:
    MemoryRegion(uint32_t base, uint32_t size) : base_(base), bytes_(size, 0) {}
    void read(uint32_t address, uint8_t* out, uint32_t length) override;
    void write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) override;
    void store(uint32_t offset, const uint8_t* data, uint32_t length);
    uint32_t word(uint32_t offset) const;
    void setWord(uint32_t offset, uint32_t value);
    const uint8_t* data() const { return bytes_.data(); }

protected:
    uint32_t base_;
    std::vector<uint8_t> bytes_;
};

// The aperture: the feature list, read-only. The list can be replaced while
// hosts read it.
class FeatureListRegion : public RegisterRegion {
public:
    explicit FeatureListRegion(std::vector<uint8_t> image) : image_(std::move(image)) {}
    void read(uint32_t address, uint8_t* out, uint32_t length) override;
    void write(uint32_t, const uint8_t*, uint32_t, DeviceMessageSink&) override {}
    // Swaps in another list and returns its image.
    std::vector<uint8_t> replace(std::vector<uint8_t> image);
    // Whether a host has read the list since the instrument started.
    bool wasRead() const { return read_.load(); }

private:
    std::mutex mutex_;
    std::vector<uint8_t> image_;
    std::atomic<bool> read_{false};
};

// Control words below a data block, laid over the register space as two
// ranges of one region; writes to the control words may act.
class ControlledRegion : public RegisterRegion {
public:
    ControlledRegion(uint32_t controlBase, uint32_t controlSize, uint32_t dataBase, uint32_t dataSize)
        : control_(controlBase, controlSize), data_(dataBase, dataSize), dataBase_(dataBase) {}
    void read(uint32_t address, uint8_t* out, uint32_t length) override;
    void write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) override;

protected:
    virtual void controlWritten(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink);

    MemoryRegion control_;
    MemoryRegion data_;

private:
    uint32_t dataBase_;
};

// The command mailbox: the command word and argument word, then the data area.
// Writing the command word runs the command; the answer is written to the data
// area and sent to the host as one message at the data area's start.
class MailboxRegion : public ControlledRegion {
public:
    // `digest`: what command 18 reports until command 17 stores another.
    MailboxRegion(const std::array<uint8_t, 16>& digest, uint32_t boardWord);
    uint32_t commandsRun() const { return commandsRun_.load(); }

private:
    void controlWritten(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) override;
    std::vector<uint8_t> answerTo(uint32_t code, uint32_t argument);

    std::array<uint8_t, 16> digest_;
    uint32_t boardWord_;
    std::atomic<uint32_t> commandsRun_{0};
};

// The real-time CPUs' hold words and their status blocks, one per CPU. Each
// kernel reports itself running from the start and again whenever the host
// releases its hold; CPU n reports a workload of (n + 1) quarters.
class CpuRegion : public ControlledRegion {
public:
    explicit CpuRegion(uint32_t cpus);

private:
    void controlWritten(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) override;
};

}  // namespace sim
}  // namespace tarnix
