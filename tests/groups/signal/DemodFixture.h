#pragma once
// Oscillators and demodulators built on the fake device, with the counts of
// the groups that supply the demodulators' inputs.
#include "SignalFixture.h"

#include "core/fifo/BufferFifo.h"
#include "groups/Demods.h"
#include "groups/Oscs.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>

namespace tarnix {
namespace test {

constexpr uint32_t kOscBlock = 0x01012000;
constexpr uint32_t kOscStride = 0x10;
constexpr uint32_t kSettingsBlock = 0x01010000;
constexpr uint32_t kSettingsStride = 0x40;
constexpr uint32_t kSampleBlock = 0x01011000;
constexpr uint32_t kSampleStride = 0x40;

class DemodFixture : public SignalFixture {
protected:
    // 2 oscillators; 2 signal inputs, one aux-input and one DIO instance
    // (6 inputs); then `count` demodulators of the given feature-list version.
    void buildDemods(uint16_t version = 2, uint32_t count = 8) {
        familyDataOf(state()).shared.signalInputCount = 2;
        familyDataOf(state()).shared.auxInputCount = 1;
        familyDataOf(state()).shared.dioCount = 1;
        Feature* osc = addBlock(kOscBlock, 2, kOscStride);
        ASSERT_EQ(build<NodeDefs::LQ3::Oscs>(OscsFeatureInit, 1, {osc}, &oscs), QV_NO_ERROR);
        settings = addBlock(kSettingsBlock, count, kSettingsStride, 0x5A);
        Feature* samples = addBlock(kSampleBlock, 2 * count, kSampleStride);
        ASSERT_EQ(build<NodeDefs::LQ3::Demods>(DemodsFeatureInit, version, {settings, samples}, &demods),
                  QV_NO_ERROR);
        send();
        dev.takeOutput();
    }
    int32_t leaf(std::size_t demod, const std::string& name) { return idOf(demods->childAt(demod), name); }
    int32_t freq(std::size_t osc) { return idOf(oscs->childAt(osc), "FREQ"); }
    uint32_t settingsAddress(uint32_t demod, uint32_t offset) {
        return kSettingsBlock + demod * kSettingsStride + offset;
    }

    // The samples the stream buffer of a leaf holds, taken out.
    std::vector<DataDemodSample> streamed(int32_t id) {
        std::vector<DataDemodSample> out;
        for (;;) {
            FifoReader reader(*ep(id)->stream, 0);
            if (!reader) break;
            EXPECT_EQ(reader.length(), 64u);
            out.push_back(decodeDemodSample(reader.data()));
            reader.commitAll();
        }
        return out;
    }

    // The blocks the stream buffer of a leaf holds, taken out as they are.
    std::vector<std::vector<uint8_t>> streamedBytes(int32_t id) {
        std::vector<std::vector<uint8_t>> out;
        for (;;) {
            FifoReader reader(*ep(id)->stream, 0);
            if (!reader) break;
            out.emplace_back(reader.data(), reader.data() + reader.length());
            reader.commitAll();
        }
        return out;
    }
    // Runs the stream buffer of a leaf once round with bytes 0xFF, so that the
    // next block lands on old bytes.
    void dirty(int32_t id) {
        QVFifo& stream = *ep(id)->stream;
        for (uint32_t size : {65536u, 64u, 16u}) {
            for (;;) {
                FifoWriter block(stream, size);
                if (!block) break;
                std::fill(block.data(), block.data() + size, uint8_t(0xFF));
                block.commitAll();
            }
        }
        streamedBytes(id);
    }

    TreeNode::Ptr oscs;
    TreeNode::Ptr demods;
    Feature* settings = nullptr;
};

// A sample packet as the instrument sends it.
struct Packet {
    uint64_t time = 0;
    uint16_t harmonic = 0x80;
    int64_t x = 0;
    int64_t y = 0;
    uint64_t frequency = 0;
    uint16_t phase = 0;
    uint32_t dio = 0;
    int16_t aux0 = 0;
    int16_t aux1 = 0;

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> b(40);
        le::put32(b.data(), uint32_t(time));
        le::put16(b.data() + 4, uint16_t(time >> 32));
        le::put16(b.data() + 6, harmonic);
        le::put64(b.data() + 8, uint64_t(x));
        le::put64(b.data() + 16, uint64_t(y));
        le::put32(b.data() + 24, uint32_t(frequency));
        le::put16(b.data() + 28, uint16_t(frequency >> 32));
        le::put16(b.data() + 30, phase);
        le::put32(b.data() + 32, dio);
        le::put16(b.data() + 36, uint16_t(aux0));
        le::put16(b.data() + 38, uint16_t(aux1));
        return b;
    }
};

}  // namespace test
}  // namespace tarnix
