// The on/off, four-way selection, time-constant and frequency handlers that
// many groups bind.
#include "ControlFixture.h"

#include "engine/RegisterHandlers.h"
#include "groups/common/PhaseIncrement.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/TimeConstant.h"

namespace tarnix {
namespace {

using test::OutputRecord;

constexpr uint32_t kBlock = 0x02000000;

class SharedHandlersTest : public test::ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        row = addBlock(kBlock, 1, 0x10);
    }
    // A 4-byte register leaf at kBlock with the given write handler.
    EPNodePtr leaf(WriteNumberFunc write, uint32_t size = 4) {
        EPNodePtr ep = addLeaf(row, 0, 0, size, int(size));
        ep->writeNumber = std::move(write);
        ep->writeData = DeviceStateEPWriteRegisters;
        return ep;
    }
    OutputRecord write(const std::vector<uint8_t>& record) {
        const std::vector<OutputRecord> out = request(record);
        EXPECT_EQ(out.size(), 1u);
        return out.empty() ? OutputRecord{} : out[0];
    }
    // The register words the next send pass writes.
    std::vector<uint32_t> written() {
        std::vector<uint32_t> words;
        sendPass();
        for (const auto& e : dev.writes()) words.push_back(e.word());
        return words;
    }
    int row = -1;
};

TEST_F(SharedHandlersTest, BooleanWriteStoresZeroOrOne) {
    const EPNodePtr ep = leaf(BooleanWriteNumber);
    struct Case {
        std::vector<uint8_t> record;
        int64_t stored;
    };
    const Case cases[] = {{test::setInteger(ep->epId, 5), 1},          {test::setInteger(ep->epId, 0), 0},
                          {test::setInteger(ep->epId, -1), 1},         {test::setInteger(ep->epId, 0), 0},
                          {test::setInteger(ep->epId, 4294967295), 1}, {test::setDouble(ep->epId, 0.9), 0}};
    for (const Case& c : cases) {
        const OutputRecord reply = write(c.record);
        EXPECT_EQ(reply.header.kind, DATATYPE_INTEGER);
        EXPECT_EQ(reply.asInteger(), c.stored);
        EXPECT_EQ(reply.header.flags, VALUE_FLAG_CHANGED);
        EXPECT_EQ(storedWord(*ep), uint32_t(c.stored));
        EXPECT_EQ(written(), std::vector<uint32_t>{uint32_t(c.stored)});
    }
    // The same value again: flags 1, and the register is written anyway.
    EXPECT_EQ(write(test::setInteger(ep->epId, 7)).header.flags, VALUE_FLAG_CHANGED);
    sendPass();
    const OutputRecord again = write(test::setInteger(ep->epId, 3));
    EXPECT_EQ(again.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(again.header.sequenceTag, 7);
    EXPECT_EQ(again.header.sessionTag, 3);
    EXPECT_EQ(written(), std::vector<uint32_t>{1});
}

TEST_F(SharedHandlersTest, ClampTo3LimitsTheSelection) {
    const EPNodePtr ep = leaf(ClampTo3WriteNumber);
    struct Case {
        int64_t written;
        int64_t stored;
    };
    for (const Case& c : {Case{2, 2}, Case{-7, 0}, Case{4, 3}, Case{4294967295, 3}, Case{-2147483648, 0}}) {
        SCOPED_TRACE(c.written);
        EXPECT_EQ(write(test::setInteger(ep->epId, c.written)).asInteger(), c.stored);
        EXPECT_EQ(storedWord(*ep), uint32_t(c.stored));
    }
    EXPECT_EQ(write(test::setDouble(ep->epId, 2.9)).asInteger(), 2);
}

TEST_F(SharedHandlersTest, AFullOutputFifoLosesTheReplyButNotTheWrite) {
    const EPNodePtr ep = leaf(BooleanWriteNumber);
    dev.fillOutput();
    EXPECT_EQ(handle(test::setInteger(ep->epId, 1)), QV_OVERFLOW);
    EXPECT_EQ(storedWord(*ep), 1u);
    dev.takeOutput();
    EXPECT_EQ(written(), std::vector<uint32_t>{1});
}

TEST_F(SharedHandlersTest, HandlersRefuseEndpointsWithoutARegisterWord) {
    for (WriteNumberFunc write : {WriteNumberFunc(BooleanWriteNumber), WriteNumberFunc(ClampTo3WriteNumber),
                                  WriteNumberFunc(TimeConstantWriteNumber)}) {
        const EPNodePtr ep = leaf(write, 0);
        EXPECT_EQ(handle(test::setInteger(ep->epId, 1)), QV_BUFFER_TOO_SMALL);
        EXPECT_TRUE(dev.takeOutput().empty());
    }
}

TEST_F(SharedHandlersTest, TimeConstantRepliesWhatItStored) {
    const EPNodePtr ep = leaf(TimeConstantWriteNumber);
    OutputRecord reply = write(test::setDouble(ep->epId, 1.0));
    EXPECT_EQ(reply.header.kind, DATATYPE_DOUBLE);
    EXPECT_EQ(reply.asDouble(), 0.999808337049718);
    EXPECT_EQ(reply.header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(written(), std::vector<uint32_t>{0x247});
    reply = write(test::setDouble(ep->epId, 0.9999));
    EXPECT_EQ(reply.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(written(), std::vector<uint32_t>{0x247});
    EXPECT_EQ(write(test::setDouble(ep->epId, 1000.0)).asDouble(), 582.8884184714285);
}

TEST_F(SharedHandlersTest, FrequencyReadRepliesHertz) {
    const EPNodePtr ep = leaf(nullptr, 8);
    ep->readData = OscFreqReadData;
    le::put64(ep->value.data(), 134035703);
    const std::vector<OutputRecord> out = request(test::getValue(ep->epId));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_NEAR(out[0].asDouble(), 100.0, 7.5e-7);  // the nearest register step
}

}  // namespace
}  // namespace tarnix
