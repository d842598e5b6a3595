// Small helpers of the device object: the conversion of failures into device
// exceptions and the class log's run-length dump.
#include "link/DeviceFailure.h"
#include "link/IOExceptions.h"
#include "link/RunLengthDump.h"

#include <boost/exception/get_error_info.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace tarnix {
namespace {

template <class Thrower>
boost::exception_ptr convert(Thrower thrower) {
    try {
        try {
            thrower();
        } catch (...) {
            rethrowAsDeviceException();
        }
    } catch (...) {
        return boost::current_exception();
    }
    return boost::exception_ptr();
}

TEST(DeviceFailure, AnyFailureBecomesADeviceExceptionWithItsMessageAndOrigin) {
    const int line = __LINE__ + 1;
    boost::exception_ptr converted = convert([] { QV_THROW(QVException("QVException with status code: 32784")); });
    try {
        boost::rethrow_exception(converted);
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "QVException with status code: 32784");
        const int* thrownAt = boost::get_error_info<boost::throw_line>(e);
        ASSERT_NE(thrownAt, nullptr);
        EXPECT_EQ(*thrownAt, line);
    }
    converted = convert([] { throw std::runtime_error("vector too long"); });
    EXPECT_THROW(boost::rethrow_exception(converted), QVDeviceException);
    converted = convert([] { throw 42; });
    EXPECT_THROW(boost::rethrow_exception(converted), QVDeviceException);
}

TEST(DeviceFailure, DeviceExceptionsKeepTheirType) {
    boost::exception_ptr converted = convert([] { QV_THROW(QVIOTimeoutException("Read timeout.")); });
    EXPECT_THROW(boost::rethrow_exception(converted), QVIOTimeoutException);
}

TEST(RunLengthDump, RunsOfEqualBytesAsLengthAndValuePairs) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string dump;
    };
    const Case cases[] = {
        {{}, "0000"},
        {{0, 0, 0}, "0300"},
        {{5}, "0000 0105"},
        {{0, 7, 7, 0}, "0100 0207 0100"},
        {std::vector<uint8_t>(300, 0), "ff00 2d00"},
        {std::vector<uint8_t>(256, 9), "0000 ff09 0109"},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
         "0100 0101 0102 0103 0104 0105 0106 0107 0108 0109 \n               010a"},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, "0100 0101 0102 0103 0104 0105 0106 0107 0108 0109"},
    };
    for (const Case& c : cases) EXPECT_EQ(runLengthDump(c.bytes.data(), c.bytes.size()), c.dump);
}

}  // namespace
}  // namespace tarnix
