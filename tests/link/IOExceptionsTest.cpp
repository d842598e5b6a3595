#include "link/IOExceptions.h"

#include <boost/exception_ptr.hpp>
#include <gtest/gtest.h>

namespace tarnix {
namespace {

TEST(IOExceptions, TextsFollowTheirConstructors) {
    EXPECT_STREQ(QVIOInternalException(5).what(), "QVIOException with status code: 5");
    EXPECT_STREQ(QVIOTimeoutException(-121).what(), "QVIOException with status code: -121");
    EXPECT_STREQ(QVIOInternalException().what(), "QVIOInternalException");
    EXPECT_STREQ(QVIOProgramFailedException().what(), "QVIOProgramFailedException");
    EXPECT_STREQ(QVBitstreamException("FPGA type is invalid.").what(), "Illegal bitstream. FPGA type is invalid.");
    EXPECT_STREQ(QVIOSizeException("short").what(), "short");
}

TEST(IOExceptions, AppendChangesTheOwnTextOnly) {
    try {
        QV_THROW(QVIOException("Transfer"));
    } catch (QVDeviceException& e) {
        e.append(" failed");
        EXPECT_STREQ(e.what(), "Transfer failed");
        EXPECT_STREQ(e.QVException::what(), "QVDeviceException");
    }
}

TEST(IOExceptions, ACapturedCopyKeepsTypeTextAndThrowLocation) {
    boost::exception_ptr captured;
    try {
        QV_THROW(QVIOTimeoutException("Read timeout during waitAsync()."));
    } catch (...) {
        captured = boost::current_exception();
    }
    try {
        boost::rethrow_exception(captured);
    } catch (const QVIOTimeoutException& e) {
        EXPECT_STREQ(e.what(), "Read timeout during waitAsync().");
        EXPECT_NE(boost::diagnostic_information(e).find("IOExceptionsTest.cpp"), std::string::npos);
        EXPECT_TRUE(dynamic_cast<const QVIOException*>(&e));
        EXPECT_TRUE(dynamic_cast<const QVDeviceException*>(&e));
    }
}

}  // namespace
}  // namespace tarnix
