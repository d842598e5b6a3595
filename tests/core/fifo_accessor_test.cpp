#include "FifoTestSupport.h"
#include "core/fifo/BufferFifo.h"
#include "core/fifo/RingFifo.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace {

using test::pattern;
using test::readAll;

// Runs f and returns the message of the QVException it throws ("" if none).
std::string thrownMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const QVException& e) {
        return e.what();
    }
    return "";
}

// Every accessor behaviour must hold for both kinds of FIFO.
struct FifoKind {
    const char* name;
    std::function<std::shared_ptr<QVFifo>()> make;
};

class FifoAccessor : public ::testing::TestWithParam<FifoKind> {
protected:
    std::shared_ptr<QVFifo> fifo_ = GetParam().make();
};

TEST_P(FifoAccessor, CommitPublishesAndEndsTheAccess) {
    FifoWriter writer(fifo_, 8);
    ASSERT_TRUE(writer.isValid());
    EXPECT_EQ(writer.length(), 8u);
    EXPECT_EQ(writer.end(), writer.data() + 8);
    for (uint32_t i = 0; i < 8; ++i) writer[i] = uint8_t(i + 1);
    writer.commitAll();
    EXPECT_FALSE(writer.isValid());
    EXPECT_EQ(thrownMessage([&] { writer.commitAll(); }), "Data not valid anymore.");

    FifoReader reader(fifo_, 0);
    ASSERT_TRUE(reader.isValid());
    EXPECT_EQ(reader.length(), 8u);
    EXPECT_EQ(reader[7], 8);
    std::vector<uint8_t> copy(3);
    reader.commit(copy.data(), 3);
    EXPECT_EQ(copy, (std::vector<uint8_t>{1, 2, 3}));
    FifoReader rest(*fifo_);
    ASSERT_TRUE(rest.isValid());
    EXPECT_EQ(rest.length(), 5u);
    EXPECT_EQ(rest[0], 4);
    rest.commitAll();
    EXPECT_EQ(fifo_->used(), 0u);
}

TEST_P(FifoAccessor, PartialWriterCommitPublishesOnlyThatMuch) {
    {
        FifoWriter writer(*fifo_, 20);
        ASSERT_TRUE(writer.isValid());
        const std::vector<uint8_t> bytes = pattern(3, 5);
        writer.commit(bytes.data(), 5);
    }
    EXPECT_EQ(readAll(*fifo_), pattern(3, 5));
}

TEST_P(FifoAccessor, AccessorsWithoutCommitLeaveTheFifoAsItWas) {
    {
        FifoWriter writer(fifo_, 10);
        ASSERT_TRUE(writer.isValid());
        writer[0] = 99;
    }
    EXPECT_EQ(fifo_->used(), 0u);
    {
        FifoWriter writer(fifo_, 4);
        const std::vector<uint8_t> bytes = pattern(1, 4);
        writer.commit(bytes.data(), 4);
    }
    {
        FifoReader reader(fifo_, 0);
        ASSERT_TRUE(reader.isValid());
    }
    EXPECT_EQ(readAll(*fifo_), pattern(1, 4));
}

TEST_P(FifoAccessor, MisuseThrowsWithItsMessage) {
    std::shared_ptr<QVFifo> none;
    EXPECT_EQ(thrownMessage([&] { FifoWriter w(none, 4); }), "Invalid FIFO (NULL pointer).");
    EXPECT_EQ(thrownMessage([&] { FifoReader r(none, 0); }), "Invalid FIFO (NULL pointer).");

    FifoWriter writer(fifo_, 4);
    ASSERT_TRUE(writer.isValid());
    EXPECT_EQ(thrownMessage([&] { writer[4] = 0; }), "Index out of range.");
    const uint8_t bytes[5] = {};
    EXPECT_EQ(thrownMessage([&] { writer.commit(bytes, 5); }), "Length parameter is longer than data.");
    EXPECT_TRUE(writer.isValid());
    writer.commit(bytes, 4);

    FifoReader reader(fifo_, 0);
    ASSERT_TRUE(reader.isValid());
    EXPECT_EQ(thrownMessage([&] { reader.commit(5); }), "Length parameter is longer than data.");
    reader.commit(4);
    EXPECT_EQ(thrownMessage([&] { reader.commit(0); }), "Data not valid anymore.");
}

TEST_P(FifoAccessor, WriterOnFullFifoIsInvalid) {
    for (;;) {
        FifoWriter writer(fifo_, 16);
        if (!writer.isValid()) {
            EXPECT_EQ(thrownMessage([&] { (void)writer[0]; }), "Data not valid anymore.");
            break;
        }
        writer.commitAll();
    }
    FifoReader reader(fifo_, 0);
    EXPECT_TRUE(reader.isValid());
    reader.commitAll();
    EXPECT_TRUE(FifoWriter(fifo_, 16).isValid());
}

TEST_P(FifoAccessor, ReaderOnEmptyFifoIsInvalid) {
    FifoReader reader(fifo_, 0);
    EXPECT_FALSE(reader.isValid());
    EXPECT_EQ(thrownMessage([&] { reader.commitAll(); }), "Data not valid anymore.");
}

// A refused second accessor must not touch the open one's reservation or
// read: the first one still publishes its own length and consumes its own data.
TEST_P(FifoAccessor, NestedAccessorIsRefusedAndHarmless) {
    {
        FifoWriter writer(fifo_, 10);
        ASSERT_TRUE(writer.isValid());
        FifoWriter nested(fifo_, 100);
        EXPECT_FALSE(nested.isValid());
        const std::vector<uint8_t> bytes = pattern(1, 10);
        writer.commit(bytes.data(), 10);
    }
    {
        FifoWriter writer(fifo_, 6);
        const std::vector<uint8_t> bytes = pattern(2, 6);
        writer.commit(bytes.data(), 6);
    }
    {
        FifoReader reader(fifo_, 4);
        ASSERT_TRUE(reader.isValid());
        FifoReader nested(fifo_, 0);
        EXPECT_FALSE(nested.isValid());
        reader.commitAll();
    }
    const std::vector<uint8_t> first = pattern(1, 10);
    std::vector<uint8_t> rest(first.begin() + 4, first.end());
    const std::vector<uint8_t> second = pattern(2, 6);
    std::vector<uint8_t> got;
    while (fifo_->used()) {
        const std::vector<uint8_t> piece = readAll(*fifo_);
        got.insert(got.end(), piece.begin(), piece.end());
    }
    rest.insert(rest.end(), second.begin(), second.end());
    EXPECT_EQ(got, rest);
}

TEST_P(FifoAccessor, SharedReferenceKeepsTheFifoAlive) {
    std::weak_ptr<QVFifo> watch = fifo_;
    FifoWriter writer(fifo_, 4);
    fifo_.reset();
    EXPECT_FALSE(watch.expired());
    writer.commitAll();
    FifoWriter moved(std::move(writer));
    EXPECT_FALSE(moved.isValid());
    {
        FifoWriter gone(std::move(moved));
    }
    EXPECT_TRUE(watch.expired());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FifoAccessor,
    ::testing::Values(FifoKind{"BufferFifo", [] { return std::make_shared<BufferFifo<8, 256>>(); }},
                      FifoKind{"RingFifo", [] { return std::make_shared<RingFifo<256>>(); }}),
    [](const ::testing::TestParamInfo<FifoKind>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnix
