// A group whose record lists more instances than a table of its state keeps
// says so once, at init; the bounds checks alone would stay silent.
#include "SignalFixture.h"

#include "core/LogCapture.h"
#include "groups/AuxOuts.h"
#include "groups/Demods.h"
#include "groups/Mods.h"
#include "groups/Oscs.h"
#include "groups/SigIns.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;

class TableWarningsTest : public test::SignalFixture {
protected:
    void SetUp() override {
        SignalFixture::SetUp();
        state().cmd.dataSize = 0x400;  // the signal inputs ask for their gain data
    }
    Feature* block(uint32_t count, uint32_t stride = 0x40) {
        next += 0x10000;
        return addBlock(next, count, stride);
    }
    uint32_t next = 0x02000000;
};

struct WarningCase {
    const char* group;
    uint32_t fits;    // the most instances that raise no warning
    uint32_t listed;  // a count beyond the table
    QV_STATUS status;
    std::vector<std::string> warnings;
};

TEST_F(TableWarningsTest, EachGroupWarnsOnceBeyondItsTables) {
    const std::map<std::string, std::function<QV_STATUS(uint32_t)>> builds = {
        {"OSCS", [this](uint32_t n) { return build<LQ3::Oscs>(OscsFeatureInit, 1, {block(n, 0x10)}); }},
        {"MODS", [this](uint32_t n) { return build<LQ3::Mods>(ModsFeatureInit, 1, {block(n, 0x20)}); }},
        {"DEMODS",
         [this](uint32_t n) { return build<LQ3::Demods>(DemodsFeatureInit, 2, {block(n), block(2 * n)}); }},
        {"SIGINS", [this](uint32_t n) { return build<LQ3::SigIns>(SigInsFeatureInit, 1, {block(n, 0x20)}); }},
        {"AUXOUTS", [this](uint32_t n) { return build<LQ3::AuxOuts>(AuxOutsFeatureInit, 1, {block(n, 0x20)}); }},
    };
    const WarningCase cases[] = {
        {"OSCS", 8, 9, QV_NO_ERROR,
         {"OSCS: the instrument lists 9 instances; the state kept for the frequency that a demodulator's sinc filter "
          "follows covers the first 8 only."}},
        {"MODS", 8, 10, QV_NO_ERROR,
         {"MODS: the instrument lists 10 instances; the state kept for the modulation mode and the derived sample "
          "stream covers the first 8 only."}},
        {"DEMODS", 8, 33, QV_NO_ERROR,
         {"DEMODS: the instrument lists 33 instances; the state kept for the oscillator selection and sinc filter "
          "covers the first 8 only.",
          "DEMODS: the instrument lists 33 instances; the state kept for the input selection (and with it the "
          "sample stream) covers the first 32 only."}},
        {"SIGINS", 2, 3, QV_NO_ERROR,
         {"SIGINS: the instrument lists 3 instances; the state kept for the gain model (range, coupling table, gain "
          "data, 50 Ohm forcing) covers the first 2 only."}},
        {"AUXOUTS", 32, 33, QV_BUFFER_TOO_SMALL,
         {"AUXOUTS: the instrument lists 33 instances; the state kept for the scales (an output beyond them ends the "
          "build) covers the first 32 only."}},
    };
    auto warnings = [](const test::LogCapture& log) {
        std::vector<std::string> texts;
        for (const auto& r : log.records())
            if (r.severity == logging::warning) texts.push_back(r.message);
        return texts;
    };
    for (const WarningCase& c : cases) {
        SCOPED_TRACE(c.group);
        {
            test::LogCapture log;
            EXPECT_EQ(builds.at(c.group)(c.fits), QV_NO_ERROR);
            EXPECT_TRUE(warnings(log).empty());
        }
        test::LogCapture log;
        EXPECT_EQ(builds.at(c.group)(c.listed), c.status);
        EXPECT_EQ(warnings(log), c.warnings);
    }
}

}  // namespace
}  // namespace tarnix
