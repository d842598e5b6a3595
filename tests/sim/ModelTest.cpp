// The simulated LQ3's model: its feature list, mailbox, CPU and heartbeat.
#include "FeatureListImage.h"
#include "InstrumentModel.h"
#include "ModelVariants.h"
#include "SimOptions.h"

#include "platform/endian/ByteOrder.h"
#include "core/LogCapture.h"
#include "engine/FeatureList.h"
#include "engine/ScriptedInstrument.h"
#include "groups/data/GroupFamilyData.h"
#include "model/FrontEndScope.h"
#include "model/SignalPathStreams.h"
#include "model/SystemCpuPrint.h"
#include "groups/BlockChecks.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

namespace tarnix {
namespace {

using namespace sim;
using Bytes = std::vector<uint8_t>;

struct Message {
    uint32_t address;
    Bytes payload;
};

// A host connection that keeps what the instrument sends on the IN pipe.
class CapturingLink : public HostLink {
public:
    void answer(uint8_t, uint32_t, uint32_t, const uint8_t* data, std::size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.insert(bytes_.end(), data, data + length);
    }
    // Everything sent so far (or what one read of `maxBytes` gets), cut into
    // messages.
    std::vector<Message> take(SimInstrument& instrument, uint32_t maxBytes = 1 << 20) {
        instrument.inRequest(self.lock(), 1, maxBytes);
        instrument.cancel(this, 1);  // nothing was waiting: drop the read again
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Message> out;
        std::size_t p = 0;
        while (p + 16 <= bytes_.size() && le::get16(&bytes_[p]) == 0x5A47) {
            const uint32_t length = le::get32(&bytes_[p + 4]) & ~3u;
            out.push_back({le::get32(&bytes_[p + 8]), Bytes(&bytes_[p + 12], &bytes_[p + 12 + length])});
            p += 16 + length;
        }
        bytes_.clear();
        return out;
    }
    std::weak_ptr<HostLink> self;

private:
    std::mutex mutex_;
    Bytes bytes_;
};

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        config.serial = 1234;
        config.fpgaRunning = true;
        config.designDigest = builtInDesignDigest();
        instrument = std::make_shared<SimInstrument>(config);
        link = std::make_shared<CapturingLink>();
        link->self = link;
    }
    void install(const ModelOptions& options = ModelOptions()) {
        model = std::make_unique<InstrumentModel>(instrument, options, config.designDigest);
    }
    Bytes readRegisters(uint32_t address, uint32_t length) {
        Bytes out(length);
        instrument->readRegisters(address, out.data(), length);
        return out;
    }
    void writeWord(uint32_t address, uint32_t word) {
        uint8_t p[4];
        le::put32(p, word);
        instrument->writeRegisters(address, p, 4);
    }
    // Runs one mailbox command and returns what the instrument sent back.
    std::vector<Message> command(uint32_t code, uint32_t argument, const Bytes& payload = {}) {
        if (!payload.empty())
            instrument->writeRegisters(layout::kMailboxData, payload.data(), uint32_t(payload.size()));
        writeWord(layout::kMailboxCommand + 4, argument);
        writeWord(layout::kMailboxCommand, code);
        return link->take(*instrument);
    }
    std::map<uint16_t, std::vector<FeatureBlock>> groupBlocks() {
        const Bytes aperture = readRegisters(layout::kAperture, layout::kApertureBytes);
        std::vector<FeatureRecordView> views;
        EXPECT_EQ(FeatureListParse(aperture.data() + 12, le::get32(aperture.data() + 8), views), QV_NO_ERROR);
        std::map<uint16_t, std::vector<FeatureBlock>> blocks;
        for (const FeatureRecordView& v : views) {
            EXPECT_EQ(blocks.count(v.header.code), 0u) << "one record per code";
            auto& list = blocks[v.header.code];
            if (v.header.code == FEATURE_IDENTITY) continue;
            for (uint32_t at = 0; at + 16 <= v.dataLength; at += 16) list.push_back(readFeatureBlock(v.data + at));
        }
        return blocks;
    }

    InstrumentConfig config;
    std::shared_ptr<SimInstrument> instrument;
    std::shared_ptr<CapturingLink> link;
    std::unique_ptr<InstrumentModel> model;
};

// Every named variant: one list of disjoint, aligned register blocks that
// meets what each group checks, from which the engine builds every group.
class VariantTest : public ModelTest, public ::testing::WithParamInterface<ModelVariant> {
protected:
    void installVariant() {
        ModelOptions options;
        options.variant = GetParam();
        install(options);
    }
};

TEST_P(VariantTest, ListIsOneBlockOfDisjointAlignedRegisterBlocks) {
    installVariant();
    const Bytes header = readRegisters(layout::kAperture, 12);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 8), "FEATURE ");
    EXPECT_LE(12 + le::get32(header.data() + 8), 4096u) << "the list travels as one device message";

    auto blocks = groupBlocks();
    EXPECT_EQ(blocks.size(), 18u);
    // The two KCtrl ports (8 bytes apart) and demodulators 6 and 7 (after the six listed) take room too.
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (auto& entry : blocks) {
        if (entry.first == FEATURE_KCTRLS) {
            ASSERT_FALSE(entry.second.empty());
            const FeatureBlock port = entry.second[0];
            entry.second = {{port.startAddress, 0, port.modulo, 1}, {port.startAddress + 8, 0, port.modulo, 1}};
        }
        for (const FeatureBlock& b : entry.second) {
            SCOPED_TRACE(entry.first);
            EXPECT_NE(b.startAddress, 0u);
            EXPECT_EQ(b.startAddress % 4, 0u);
            EXPECT_EQ(b.modulo % 4, 0u);
            EXPECT_GT(b.reps, 0u);
            const uint64_t end = uint64_t(b.startAddress) + uint64_t(b.reps) * b.modulo;
            EXPECT_LE(end, 0x14000000u);
            ranges.push_back({b.startAddress, end});
        }
    }
    const FeatureBlock demods = blocks[FEATURE_DEMODS][0];
    ranges.push_back({demods.startAddress + 6ull * demods.modulo, demods.startAddress + 8ull * demods.modulo});
    ranges.push_back({layout::kAperture, layout::kAperture + layout::kApertureBytes});
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i)
        EXPECT_LE(ranges[i - 1].second, ranges[i].first) << std::hex << ranges[i].first << " overlaps";
}

TEST_P(VariantTest, ListMeetsWhatEachGroupChecks) {
    installVariant();
    auto blocks = groupBlocks();
    auto reps = [&](uint16_t code, std::size_t i) { return blocks[code].at(i).reps; };
    // Structural checks shared by every group: block counts and instance relations.
    struct Rule {
        uint16_t code;
        int blocks;
        RepsRelation relation;
    };
    const Rule rules[] = {{FEATURE_DEMODS, 2, RepsRelation::Twice},  {FEATURE_OSCS, 1, RepsRelation::Any},
                          {FEATURE_MODS, 1, RepsRelation::Any},      {FEATURE_SIGINS, 1, RepsRelation::Any},
                          {FEATURE_SIGOUTS, 2, RepsRelation::Equal}, {FEATURE_SCOPES, 2, RepsRelation::Equal},
                          {FEATURE_AUXOUTS, 1, RepsRelation::Any},   {FEATURE_AUXINS, 2, RepsRelation::Twice},
                          {FEATURE_DIOS, 2, RepsRelation::Twice},    {FEATURE_STATUS, 1, RepsRelation::Any},
                          {FEATURE_SYSTEM, 1, RepsRelation::Any},    {FEATURE_CPUS, 3, RepsRelation::Equal},
                          {FEATURE_PLLS, 1, RepsRelation::Any},      {FEATURE_FEATURES, 1, RepsRelation::Any},
                          {FEATURE_PIDS, 3, RepsRelation::Any},      {FEATURE_MAILBOX, 2, RepsRelation::Any}};
    for (const Rule& rule : rules) {
        SCOPED_TRACE(rule.code);
        std::vector<Feature> items(blocks[rule.code].size());
        std::vector<Feature*> pointers;
        for (std::size_t i = 0; i < items.size(); ++i) {
            items[i].count = blocks[rule.code][i].reps;
            pointers.push_back(&items[i]);
        }
        EXPECT_EQ(GroupCheckBlocks(pointers, int(pointers.size()), rule.blocks, rule.relation), QV_NO_ERROR);
    }
    // What the groups need beyond that.
    EXPECT_EQ(blocks[FEATURE_FEATURES][0].modulo, 60u);
    EXPECT_GE(blocks[FEATURE_SYSTEM][0].modulo, 12u) << "the board register at +8";
    EXPECT_LE(reps(FEATURE_SIGOUTS, 0), 2u);
    EXPECT_LT(blocks[FEATURE_SIGOUTS][1].modulo, 72u);
    EXPECT_LE(reps(FEATURE_DEMODS, 0), 6u) << "demodulators 6 and 7 come with the PLLs";
    EXPECT_GE(blocks[FEATURE_DEMODS][1].modulo, 40u) << "a 40-byte sample per slot";
    EXPECT_EQ(reps(FEATURE_PIDS, 0), 1u);
    EXPECT_LE(reps(FEATURE_PIDS, 1), 16u) << "the TipProtect status word's bits";
    EXPECT_GE(blocks[FEATURE_PIDS][1].modulo, 0x4Cu);
    EXPECT_GE(blocks[FEATURE_PLLS][0].modulo, 0x4Cu);
    EXPECT_GE(blocks[FEATURE_CPUS][2].modulo, 384u) << "status area, user registers, print window";
    EXPECT_GE(blocks[FEATURE_SCOPES][0].modulo, 28u);
    EXPECT_GE(blocks[FEATURE_SIGINS][0].modulo, 0x1Cu);
    EXPECT_EQ(blocks[FEATURE_MAILBOX][0].startAddress, layout::kMailboxCommand);
    EXPECT_EQ(blocks[FEATURE_MAILBOX][1].startAddress, layout::kMailboxData);
}

TEST_P(VariantTest, TheEngineBuildsEveryGroupFromIt) {
    const ModelVariant& variant = GetParam();
    ModelOptions options;
    options.variant = variant;
    options.optionsMask = 0x29 | 0x80;
    options.boardWord = variant.hardwareRevision | 8;  // with the board flag
    install(options);
    test::FakeDevice dev(1234);
    ASSERT_EQ(DeviceStateCreate(dev), QV_NO_ERROR);
    test::ScriptedInstrument host(dev);
    host.setSource([this](uint32_t address, uint32_t length) { return readRegisters(address, length); });
    test::LogCapture log;
    host.runDiscovery();
    host.pass();
    EXPECT_TRUE(log.contains("FEATURELIST_DONE!"));
    EXPECT_FALSE(log.contains("Not processed feature:"));
    EXPECT_TRUE(dev.initialized);
    const DeviceState& state = dev.state();
    EXPECT_EQ(state.hwInfo.revision, variant.hardwareRevision);
    EXPECT_EQ(state.cmd.dataAddress, layout::kMailboxData);
    EXPECT_EQ(state.cmd.dataSize, layout::kMailboxDataBytes);
    EXPECT_EQ(familyDataOf(state).shared.signalInputCount, variant.signalInputs);
    EXPECT_EQ(familyDataOf(state).signalPath.demodsVersion, variant.demodsVersion);
    EXPECT_EQ(familyDataOf(state).controlLoop.pllFeatureVersion, variant.pllVersion);
    EXPECT_EQ(familyDataOf(state).shared.pidCount, variant.pidControllers);
    EXPECT_EQ(familyDataOf(state).system.printDecoders.size(), variant.cpus);
    std::vector<std::string> children;
    for (const auto& child : state.tree->root->children()) children.push_back(child->getName());
    EXPECT_EQ(children, (std::vector<std::string>{"CLOCKBASE", "SYSTEM", "FEATURES", "STATUS", "STATS", "RAW",
                                                  "DEMODS", "OSCS", "MODS", "PLLS", "PIDS", "SIGINS", "SIGOUTS",
                                                  "SCOPES", "DIOS", "AUXINS", "AUXOUTS", "CPUS", "KCTRLS"}));
    std::vector<std::string> amplifiers;
    for (const auto& child : state.tree->root->children().back()->children()) amplifiers.push_back(child->getName());
    std::vector<std::string> expected;
    for (std::size_t port = 0; port < 2; ++port) {
        if (variant.kctrlPorts[port] == kTransimpedanceAmplifier) expected.push_back("TAMP" + std::to_string(port));
        if (variant.kctrlPorts[port] == kCurrentAmplifier) expected.push_back("CAMP" + std::to_string(port));
    }
    EXPECT_EQ(amplifiers, expected);
    std::vector<std::string> pushed;
    // The texts of FEATURES; the settings of the other groups push their values too.
    for (const test::OutputRecord& r : dev.takeOutput())
        if (r.header.kind == DATATYPE_BYTEARRAY) pushed.push_back(r.asText());
    // With a hardware revision the board flag decides option 4, without one the mask.
    const std::string optionNames = variant.hardwareRevision > 0 ? "MDL\nRTC\nHFR\nXDM" : "MDL\nRTC\nXDM";
    EXPECT_EQ(pushed, (std::vector<std::string>{optionNames, "LQ3IS"}));
}

std::string variantName(const ::testing::TestParamInfo<ModelVariant>& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Models, VariantTest, ::testing::ValuesIn(modelVariants()), variantName);

TEST_F(ModelTest, MailboxAnswersEveryCommandOnceAtTheDataArea) {
    install();
    struct Case {
        uint32_t code;
        std::size_t answerBytes;
    };
    const Case cases[] = {{13, 256}, {14, 4}, {16, 192}, {19, 8}, {21, 4}, {22, 4}, {23, 8}, {24, 4}, {99, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const auto messages = command(c.code, 3);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].address, layout::kMailboxData);
        EXPECT_EQ(messages[0].payload.size(), c.answerBytes);
    }
    EXPECT_EQ(model->mailboxCommandsRun(), 9u);
    EXPECT_TRUE(command(0, 0, {}).size() == 1) << "a command word of 0 still answers";

    const auto status = command(19, 0);
    EXPECT_EQ(le::get32(status[0].payload.data()), 0u) << "hardware revision";
}

TEST_F(ModelTest, MailboxKeepsTheDigestThatCommand17Stores) {
    install();
    const std::array<uint8_t, 16> builtIn = builtInDesignDigest();
    EXPECT_EQ(command(18, 0)[0].payload, Bytes(builtIn.begin(), builtIn.end())) << "the running design's digest";
    Bytes other(16);
    for (std::size_t i = 0; i < other.size(); ++i) other[i] = uint8_t(0xA0 + i);
    command(17, 0, other);
    EXPECT_EQ(command(18, 0)[0].payload, other);
}

TEST_F(ModelTest, CpuRunsAndReportsRunningAgainAfterAHold) {
    install();
    EXPECT_EQ(le::get32(readRegisters(layout::kCpuStatus + 8, 4).data()), 3u) << "kernel running";
    writeWord(layout::kCpuControl, 1);
    instrument->writeRegisters(layout::kCpuStatus, Bytes(128, 0).data(), 128);
    EXPECT_TRUE(link->take(*instrument).empty());
    writeWord(layout::kCpuControl, 0);
    const auto messages = link->take(*instrument);
    // The status report, then the restarted program's line through the print window.
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].address, layout::kCpuStatus);
    ASSERT_EQ(messages[0].payload.size(), 128u);
    EXPECT_EQ(le::get32(messages[0].payload.data() + 8), 3u);
    const auto print = printMessages(layout::kCpuPrintWindow, CpuPrintRegion::kStartLine);
    for (std::size_t i = 0; i < print.size(); ++i) {
        EXPECT_EQ(messages[1 + i].address, layout::kCpuPrintWindow);
        EXPECT_EQ(messages[1 + i].payload, print[i]);
    }
    EXPECT_EQ(le::get32(print[0].data()), layout::kCpuPrintWindow) << "a print message names its own address";
}

TEST_F(ModelTest, EachCpuReportsInItsOwnStatusBlock) {
    ModelOptions options;
    options.variant = modelVariant("multi-cpu");
    install(options);
    for (uint32_t cpu = 0; cpu < 2; ++cpu) {
        const Bytes area = readRegisters(layout::cpuStatus(cpu), 12);
        EXPECT_EQ(le::get32(area.data() + 4), (cpu + 1) * 0x400000u) << "workload";
        EXPECT_EQ(le::get32(area.data() + 8), 3u) << "kernel running";
    }
    writeWord(layout::kCpuControl + layout::kCpuControlStride, 1);
    writeWord(layout::kCpuControl + layout::kCpuControlStride, 0);
    const auto messages = link->take(*instrument);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].address, layout::cpuStatus(1));
    EXPECT_EQ(le::get32(messages[0].payload.data() + 4), 0x800000u);
    const auto print = printMessages(layout::cpuPrintWindow(1), CpuPrintRegion::kStartLine);
    for (std::size_t i = 0; i < print.size(); ++i) {
        EXPECT_EQ(messages[1 + i].address, layout::cpuPrintWindow(1));
        EXPECT_EQ(messages[1 + i].payload, print[i]);
    }
}

TEST_F(ModelTest, PllsOfVersionsTwoAndThreeStartWithTheirLoopGains) {
    for (const ModelVariant& variant : modelVariants()) {
        SCOPED_TRACE(variant.name);
        SetUp();
        ModelOptions options;
        options.variant = variant;
        install(options);
        const bool gains = variant.pllVersion == 2 || variant.pllVersion == 3;
        for (uint32_t pll = 0; pll < layout::kPllCount; ++pll) {
            const Bytes words = readRegisters(layout::kPlls + pll * layout::kPllStride + layout::kPllGainOffset, 12);
            EXPECT_EQ(le::get32(words.data()), gains ? 230u : 0u);
            EXPECT_EQ(le::get32(words.data() + 4), gains ? 512u : 0u);
            EXPECT_EQ(le::get32(words.data() + 8), gains ? 3398u : 0u);
        }
        model.reset();
    }
}

TEST_F(ModelTest, HeartbeatStartsOnceTheListWasReadAndKeepsItsRate) {
    ModelOptions options;
    options.heartbeatHz = 100;
    install(options);
    // A bounded window: the heartbeat beats every 10 ms, and a beat that the
    // model keeps back leaves nothing to wait for.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(link->take(*instrument).empty()) << "no host has read the list yet";

    const auto watched = std::chrono::steady_clock::now();
    readRegisters(layout::kAperture, 12);
    link->take(*instrument);
    std::vector<Message> messages;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            for (Message& m : link->take(*instrument)) messages.push_back(std::move(m));
            return messages.size() >= 20;
        },
        std::chrono::seconds(10)))
        << messages.size() << " heartbeats came";
    const double watchedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - watched).count();
    uint64_t previous = 0;
    for (const Message& m : messages) {
        EXPECT_EQ(m.address, layout::kStatus);
        ASSERT_EQ(m.payload.size(), 20u);
        const uint64_t ticks = le::get32(m.payload.data()) | (uint64_t(le::get16(m.payload.data() + 4)) << 32);
        EXPECT_GT(ticks, previous);
        previous = ticks;
    }
    const uint64_t first = le::get32(messages.front().payload.data()) |
                           (uint64_t(le::get16(messages.front().payload.data() + 4)) << 32);
    // Beats keep to their schedule and never come early: the times span at
    // least the periods between them (the first may be up to a period
    // late). A beat may come late on a busy machine, so the span has no
    // upper bound in periods; but the 210 MHz times cannot run ahead of the
    // time the test watched them in.
    const double seconds = double(previous - first) / 210e6;
    const double periods = double(messages.size() - 1) / 100;
    EXPECT_GT(seconds, periods * 0.9) << "210 MHz ticks";
    EXPECT_LT(seconds, watchedSeconds) << "210 MHz ticks";
}

TEST_F(ModelTest, UnreadHeartbeatsStayBounded) {
    ModelOptions options;
    options.heartbeatHz = 1000;
    install(options);
    readRegisters(layout::kAperture, 12);
    link->take(*instrument);
    // A bounded window: the beats that pile up unread in it are what the
    // test counts; nothing marks the moment the queue is full.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const auto messages = link->take(*instrument);
    EXPECT_LE(messages.size() * 36, InstrumentModel::kHeartbeatQueueLimit + 36);
}

// The flag words of the STATUS blocks among messages, in the order they came.
std::vector<uint32_t> statusFlags(const std::vector<Message>& messages) {
    std::vector<uint32_t> flags;
    for (const Message& m : messages)
        if (m.address == layout::kStatus && m.payload.size() == layout::kStatusBytes)
            flags.push_back(le::get32(m.payload.data() + 8));
    return flags;
}

// A part of the instrument whose data a host that does not read loses.
struct LossCase {
    const char* what;
    uint32_t address;  // the word that starts and stops it
    uint32_t on, off;
    std::chrono::milliseconds unread;  // longer than its queue lasts
    uint32_t bit;
};

void PrintTo(const LossCase& c, std::ostream* out) { *out << c.what; }

class StatusLossTest : public ModelTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(StatusLossTest, StatusBlocksAfterALossCarryItsBitAndThenClearIt) {
    const LossCase& c = GetParam();
    ModelOptions options;
    options.heartbeatHz = 100;
    install(options);
    readRegisters(layout::kAperture, 12);
    link->take(*instrument);
    writeWord(c.address, c.on);
    // The host reads nothing for longer than the instrument keeps: the cause
    // of the loss, not a wait.
    std::this_thread::sleep_for(c.unread);
    std::vector<uint32_t> flags = statusFlags(link->take(*instrument));
    ASSERT_FALSE(flags.empty());
    EXPECT_EQ(flags.front() & c.bit, 0u) << "before the loss";
    writeWord(c.address, c.off);
    // The blocks that follow the loss tell of it (a block that found the
    // queue full leaves it to the next); once nothing is lost any more, the
    // blocks say so again.
    const auto told = [&] {
        return std::any_of(flags.begin(), flags.end(), [&](uint32_t f) { return (f & c.bit) != 0; });
    };
    EXPECT_TRUE(test::waitUntil(
        [&] {
            for (uint32_t f : statusFlags(link->take(*instrument, 64 << 20))) flags.push_back(f);
            const std::size_t n = flags.size();
            return told() && n >= 3 && (flags[n - 1] & c.bit) == 0 && (flags[n - 2] & c.bit) == 0;
        },
        std::chrono::seconds(10)))
        << "told of the loss: " << told();
    for (uint32_t f : flags) EXPECT_EQ(f & ~c.bit, 0u) << "another bit raised";
}

INSTANTIATE_TEST_SUITE_P(
    Losses, StatusLossTest,
    ::testing::Values(
        // The highest rate fills the FIFO's 524288 samples in 0.28 s.
        LossCase{"demodulator FIFO", SignalPathStreams::kSettings + SignalPathStreams::kRateOffset, 1,
                 SignalPathStreams::kDividerMask, std::chrono::milliseconds(600), StatusFlags::kDemodSampleLoss},
        // Ten waves a second fill the scope's 64 KiB in 1.6 s.
        LossCase{"scope waves", FrontEndScope::kSettings + FrontEndScope::kTrigChannelOffset, 0,
                 FrontEndScope::kTriggerOff, std::chrono::milliseconds(2200), StatusFlags::kScopeSkipped}),
    [](const ::testing::TestParamInfo<LossCase>& info) {
        return info.param.bit == StatusFlags::kDemodSampleLoss ? std::string("Demodulators") : std::string("Scope");
    });

// The 48-bit times of the demodulator samples among messages, per
// demodulator, in the order they came.
std::map<uint32_t, std::vector<uint64_t>> demodulatorTimes(const std::vector<Message>& messages) {
    using Streams = SignalPathStreams;
    std::map<uint32_t, std::vector<uint64_t>> times;
    for (const Message& m : messages) {
        const uint32_t pair = 2 * Streams::kSampleStride;
        if (m.address < Streams::kSamples || m.address >= Streams::kSamples + Streams::kDemods * pair) continue;
        EXPECT_EQ((m.address - Streams::kSamples) % pair, 0u) << "into the first slot of a demodulator";
        EXPECT_TRUE(m.payload.size() == 40 || m.payload.size() == Streams::kSampleStride + 40) << m.payload.size();
        for (std::size_t at = 0; at + 40 <= m.payload.size(); at += Streams::kSampleStride) {
            const uint8_t* packet = &m.payload[at];
            EXPECT_EQ(le::get64(packet + 8), uint64_t(Streams::kSampleX));
            EXPECT_EQ(le::get16(packet + 6), 0x80) << "harmonic 1";
            times[(m.address - Streams::kSamples) / pair].push_back(le::get32(packet) |
                                                                    (uint64_t(le::get16(packet + 4)) << 32));
        }
    }
    return times;
}

class DemodulatorStreamTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        ModelOptions options;
        options.heartbeatHz = 0;
        install(options);
        readRegisters(layout::kAperture, 12);
        link->take(*instrument);
    }
    static uint32_t rateWord(uint32_t demod) {
        return SignalPathStreams::kSettings + demod * SignalPathStreams::kSettingsStride +
               SignalPathStreams::kRateOffset;
    }
    static uint64_t step(uint32_t divider) { return SignalPathStreams::kTicksPerStep * divider; }
    // Takes until `done` holds for what came (at most 10 s).
    std::map<uint32_t, std::vector<uint64_t>> collect(
        const std::function<bool(std::map<uint32_t, std::vector<uint64_t>>&)>& done) {
        std::map<uint32_t, std::vector<uint64_t>> all;
        test::waitUntil(
            [&] {
                lastTake = std::chrono::steady_clock::now();
                for (auto& entry : demodulatorTimes(link->take(*instrument)))
                    all[entry.first].insert(all[entry.first].end(), entry.second.begin(), entry.second.end());
                return done(all);
            },
            std::chrono::seconds(10));
        return all;
    }
    std::chrono::steady_clock::time_point lastTake;
};

// Every time is a step of the divider on the output clock and follows the one
// before by exactly one step; as many samples come as the rate makes in the time.
void expectSteps(const std::vector<uint64_t>& times, uint64_t step) {
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front() % step, 0u);
    for (std::size_t i = 1; i < times.size(); ++i) ASSERT_EQ(times[i] - times[i - 1], step) << "sample " << i;
}

TEST_F(DemodulatorStreamTest, EachStreamsAtItsRateWithTimesOneStepApart) {
    const auto before = std::chrono::steady_clock::now();
    writeWord(rateWord(0), 256);   // 7195.7 samples/s
    writeWord(rateWord(5), 4096);  // 449.7 samples/s
    const auto written = std::chrono::steady_clock::now();
    auto times = collect([](auto& t) { return t[0].size() >= 400 && t[5].size() >= 10; });
    const auto end = std::chrono::steady_clock::now();
    EXPECT_EQ(times.size(), 2u) << "only the demodulators with a rate";
    expectSteps(times[0], step(256));
    expectSteps(times[5], step(4096));
    const double rate = 210e6 / double(step(256));
    const double atMost = std::chrono::duration<double>(end - before).count() * rate + 2;
    const double atLeast = std::chrono::duration<double>(lastTake - written).count() * rate - 2;
    EXPECT_LE(double(times[0].size()), atMost);
    EXPECT_GE(double(times[0].size()), atLeast);
}

TEST_F(DemodulatorStreamTest, OffStopsTheStreamAndANewRateTakesItsOwnStep) {
    writeWord(rateWord(2), 64);
    writeWord(rateWord(3), 2048);
    collect([](auto& t) { return t[2].size() >= 200 && t[3].size() >= 2; });
    writeWord(rateWord(2), SignalPathStreams::kDividerMask);
    writeWord(rateWord(3), 512);
    link->take(*instrument);  // what fell due before
    auto times = collect([](auto& t) { return t[3].size() >= 20; });
    EXPECT_EQ(times.count(2), 0u) << "switched off";
    expectSteps(times[3], step(512));
}

TEST_F(DemodulatorStreamTest, AHostThatReadsTooSlowlyFindsTheLostSamplesAsAGapInTheTimes) {
    writeWord(rateWord(1), 1);  // the highest rate: 1842105 samples/s
    const double fifoSeconds = double(SignalPathStreams::kFifoSamples) * step(1) / 210e6;
    std::vector<uint64_t> slow;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(3 * fifoSeconds);
    const auto giveUp = until + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until || slow.empty()) {
        ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << "no samples came within 10 s";
        auto times = demodulatorTimes(link->take(*instrument, 200));  // one message a millisecond
        slow.insert(slow.end(), times[1].begin(), times[1].end());
        // The pace of a host that reads too slowly: the point of the test, not a wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Then it reads all there is at once: exactly what the FIFO holds.
    const std::vector<uint64_t> fast = demodulatorTimes(link->take(*instrument, 64 << 20)).at(1);
    uint64_t longest = 0;
    for (std::size_t i = 1; i < slow.size(); ++i) longest = std::max(longest, slow[i] - slow[i - 1]);
    EXPECT_GT(longest, 100 * step(1)) << "samples were lost while the FIFO was full";
    EXPECT_EQ(fast.size(), SignalPathStreams::kFifoSamples);
    expectSteps(fast, step(1));
}

TEST_F(ModelTest, PushServesAndSendsTheNewList) {
    install();
    const Bytes records = FeatureListWriter().record(FEATURE_SYSTEM, "SYSTEM", {{layout::kSystem, 0, 16, 1}}).bytes();
    model->pushFeatureList(records);
    const auto messages = link->take(*instrument);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].address, layout::kAperture);
    EXPECT_EQ(messages[0].payload, apertureImage(records));
    EXPECT_EQ(readRegisters(layout::kAperture, uint32_t(12 + records.size())), apertureImage(records));
}

TEST(SimModelOptions, ListsMasksAndRates) {
    const std::string path = ::testing::TempDir() + "lq3sim-model-list.bin";
    const Bytes records = FeatureListWriter().raw(FEATURE_IDENTITY, "LQ3", {1, 0, 0, 0}).bytes();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(records.data()), records.size());
    const char* argv[] = {"lq3sim", "--feature-list", path.c_str(), "--push-list", path.c_str(), "--options-mask",
                          "0x29", "--board-word", "10", "--heartbeat-hz", "20"};
    const SimOptions options = parseSimOptions(11, argv);
    EXPECT_EQ(options.model.featureRecords, records);
    EXPECT_EQ(options.model.pushRecords, records);
    EXPECT_EQ(options.model.optionsMask, 0x29u);
    EXPECT_EQ(options.model.boardWord, 10u);
    EXPECT_EQ(options.model.heartbeatHz, 20u);

    EXPECT_EQ(options.model.variant.name, "standard") << "the default model";
    const char* chosen[] = {"lq3sim", "--model", "single-input"};
    const SimOptions single = parseSimOptions(3, chosen);
    EXPECT_EQ(single.model.variant.signalInputs, 1u);
    EXPECT_FALSE(single.model.boardWord) << "the model's hardware revision";
    for (const ModelVariant& v : modelVariants())
        EXPECT_NE(single.helpText.find("  " + v.name + ": " + v.summary + "\n"), std::string::npos) << v.name;

    const std::vector<std::vector<const char*>> refused = {{"lq3sim", "--model", "unknown"},
                                                           {"lq3sim", "--options-mask", "banana"},
                                                           {"lq3sim", "--board-word", "0x100000000"},
                                                           {"lq3sim", "--heartbeat-hz", "5000"},
                                                           {"lq3sim", "--feature-list", "/nonexistent/list.bin"}};
    for (const auto& args : refused) EXPECT_ANY_THROW(parseSimOptions(int(args.size()), args.data())) << args[1];
    std::remove(path.c_str());
}

TEST(SimModelOptions, EveryNumberTakesDecimalOrHexadecimal) {
    struct Case {
        const char* option;
        const char* text;
        uint64_t (*read)(const SimOptions&);
        uint64_t expected;
    };
    const Case cases[] = {
        {"--stream-address", "0x14000000", [](const SimOptions& o) -> uint64_t { return o.streamAddress; }, 0x14000000},
        {"--stream-address", "335544320", [](const SimOptions& o) -> uint64_t { return o.streamAddress; }, 0x14000000},
        {"--stream-bytes", "0x1000", [](const SimOptions& o) -> uint64_t { return o.streamBytes; }, 4096},
        {"--stream-count", "0X10", [](const SimOptions& o) -> uint64_t { return o.streamCount; }, 16},
        {"--serial", "0x4d2", [](const SimOptions& o) -> uint64_t { return o.instrument.serial; }, 1234},
        {"--serial", "010", [](const SimOptions& o) -> uint64_t { return o.instrument.serial; }, 10},
        {"--product", "0xA", [](const SimOptions& o) -> uint64_t { return o.instrument.product; }, 10},
        {"--driver-version", "0x1d0d", [](const SimOptions& o) -> uint64_t { return o.instrument.driverVersion; }, 7437},
        {"--stall-out", "0x3", [](const SimOptions& o) -> uint64_t { return uint64_t(o.instrument.faults.stallOutAfter); }, 3},
        {"--crc-failures", "0x2", [](const SimOptions& o) -> uint64_t { return o.instrument.faults.crcFailures; }, 2},
        {"--heartbeat-hz", "0x14", [](const SimOptions& o) -> uint64_t { return o.model.heartbeatHz; }, 20},
        {"--aux-dio-hz", "0x64", [](const SimOptions& o) -> uint64_t { return o.model.auxDioSampleHz; }, 100},
        {"--options-mask", "041", [](const SimOptions& o) -> uint64_t { return o.model.optionsMask; }, 41},
    };
    for (const Case& c : cases) {
        const char* argv[] = {"lq3sim", c.option, c.text};
        EXPECT_EQ(c.read(parseSimOptions(3, argv)), c.expected) << c.option << " " << c.text;
    }

    const std::vector<std::vector<const char*>> refused = {{"lq3sim", "--stream-address", "0x100000000"},
                                                           {"lq3sim", "--stream-bytes", "0x"},
                                                           {"lq3sim", "--serial", "-1"},
                                                           {"lq3sim", "--serial", "12abc"},
                                                           {"lq3sim", "--stall-out=-1"}};
    for (const auto& args : refused) EXPECT_ANY_THROW(parseSimOptions(int(args.size()), args.data())) << args[1];
    // Defaults still show in the help text.
    const char* help[] = {"lq3sim", "--help"};
    EXPECT_NE(parseSimOptions(2, help).helpText.find("--serial arg (=1000)"), std::string::npos);
}

}  // namespace
}  // namespace tarnix
