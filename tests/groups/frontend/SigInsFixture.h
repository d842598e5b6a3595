#pragma once
// The signal inputs built on the fake device in formula mode (no hardware
// revision) or table mode.
#include "FrontEndFixture.h"

#include "engine/DeviceState.h"
#include "groups/SigIns.h"

#include <string>

namespace tarnix {
namespace test {

constexpr uint32_t kSigInBlock = 0x01014000;
constexpr uint32_t kSigInStride = 0x40;

class SigInsFixture : public FrontEndFixture {
protected:
    void buildSigIns(uint32_t hwRevision, uint32_t count = 2, uint32_t block = kSigInBlock) {
        state().hwInfo.revision = hwRevision;
        Feature* record = addBlock(block, count, kSigInStride);
        ASSERT_EQ(build<NodeDefs::LQ3::SigIns>(SigInsFeatureInit, 1, {record}, &root), QV_NO_ERROR);
        send();
        dev.takeOutput();
    }
    int32_t id(uint32_t input, const std::string& leaf) { return idAt(root, std::to_string(input) + "/" + leaf); }
    static uint32_t address(uint32_t input, uint32_t offset) { return kSigInBlock + input * kSigInStride + offset; }
    double gain(uint32_t input) { return state().groups.auxOutDerived[input]; }
    std::vector<GainRangeEntry>& table(uint32_t input, uint32_t subTable) {
        return state().groups.gainRanges[input * 2 + subTable];
    }
    // The range a RANGE leaf shows.
    double shownRange(uint32_t input) {
        const std::vector<OutputRecord> out = read(id(input, "RANGE"));
        EXPECT_EQ(out.size(), 1u);
        return out.empty() ? -1.0 : out[0].asDouble();
    }

    TreeNode::Ptr root;
};

}  // namespace test
}  // namespace tarnix
