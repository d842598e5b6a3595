#include "ScriptedInstrument.h"

#include "core/LogCapture.h"
#include "engine/FeatureList.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::ListBuilder;

std::vector<FeatureRecordView> parse(const std::vector<uint8_t>& bytes, QV_STATUS expected) {
    std::vector<FeatureRecordView> views;
    EXPECT_EQ(FeatureListParse(bytes.data(), uint32_t(bytes.size()), views), expected);
    return views;
}

TEST(FeatureListParse, ZeroBytesBetweenRecordsArePadding) {
    ListBuilder l;
    l.padding(3).record(12, {{0x100, 7, 0x40, 1}}, "SYSTEMBK").padding(5).raw(2, {1, 2, 3, 4});
    const auto views = parse(l.bytes, QV_NO_ERROR);
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].header.code, 12);
    EXPECT_EQ(views[0].header.length, 32u);
    EXPECT_EQ(std::string(views[0].header.name, 8), "SYSTEMBK");
    EXPECT_EQ(views[0].dataLength, 16u);
    EXPECT_EQ(views[0].data, l.bytes.data() + 3 + 16) << "views point into the block";
    const FeatureBlock b = readFeatureBlock(views[0].data);
    EXPECT_EQ(b.startAddress, 0x100u);
    EXPECT_EQ(b.attribute, 7u);
    EXPECT_EQ(b.modulo, 0x40u);
    EXPECT_EQ(b.reps, 1u);
    EXPECT_EQ(views[1].header.code, 2);
    EXPECT_EQ(views[1].dataLength, 4u);
}

TEST(FeatureListParse, MalformedListsFailWithTheirLogLine) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* logLine;  // nullptr: nothing logged
    };
    ListBuilder twentyOne;
    for (int i = 0; i < 21; ++i) twentyOne.raw(2, {});
    std::vector<uint8_t> overlong = ListBuilder().raw(3, std::vector<uint8_t>(14), "DEMODSBK", 40).bytes;
    const Case cases[] = {
        {"a record length beyond the block", overlong,
         "Length in feature header exceeds remaining data in the buffer: 40 > 30. Feature name: 'DEMODSBK' "
         "(Code=0003)"},
        {"a record length of 0", ListBuilder().raw(5, {}, "SIGINS\x01\x7f", 0).bytes,
         "Length in feature header is shorter than the header: 0 < 16. Feature name: 'SIGINS?\?' (Code=0005)"},
        {"a record length of 15", ListBuilder().raw(5, {}, "SIGINSBK", 15).bytes,
         "Length in feature header is shorter than the header: 15 < 16. Feature name: 'SIGINSBK' (Code=0005)"},
        {"fewer than 16 bytes for a header", std::vector<uint8_t>{7, 0, 0, 0, 16}, nullptr},
        {"a 21st record", twentyOne.bytes, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::LogCapture log;
        parse(c.bytes, QV_BUFFER_TOO_SMALL);
        int errors = 0;
        for (const auto& r : log.records())
            if (r.severity == logging::error) ++errors;
        if (c.logLine) {
            EXPECT_TRUE(log.contains(c.logLine));
            EXPECT_EQ(errors, 1);
        } else {
            EXPECT_EQ(errors, 0);
        }
    }
}

TEST(FeatureListParse, TwentyRecordsAreAccepted) {
    ListBuilder l;
    for (int i = 0; i < 20; ++i) l.raw(2, {});
    EXPECT_EQ(parse(l.bytes, QV_NO_ERROR).size(), 20u);
}

}  // namespace
}  // namespace tarnix
