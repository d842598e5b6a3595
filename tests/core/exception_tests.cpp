#include "core/QVException.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <thread>

#include <functional>
#include <stdexcept>

namespace tarnix {
namespace {

struct DefaultMessageCase {
    std::function<std::string()> what;
    const char* expected;
};

TEST(QVExceptionTest, DefaultConstructedClassesReportTheirName) {
    const DefaultMessageCase cases[] = {
        {[] { return std::string(QVException().what()); }, "QVException"},
        {[] { return std::string(QVDeviceException().what()); }, "QVDeviceException"},
        {[] { return std::string(QVOutOfRangeException().what()); }, "QVOutOfRangeException"},
        {[] { return std::string(QVNotFoundException().what()); }, "QVNotFoundException"},
        {[] { return std::string(QVOverflowException().what()); }, "QVOverflowException"},
        {[] { return std::string(QVUnderrunException().what()); }, "QVUnderrunException"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.what());
}

TEST(QVExceptionTest, StatusCodeIsWrittenAsUnsignedDecimal) {
    const struct {
        QV_STATUS status;
        const char* expected;
    } cases[] = {
        {QV_OVERFLOW, "QVException with status code: 16386"},
        {QV_SOCKET_INIT_FAILED, "QVException with status code: 32777"},
        {0, "QVException with status code: 0"},
        {0xFFFFFFFFu, "QVException with status code: 4294967295"},
    };
    for (const auto& c : cases) EXPECT_STREQ(c.expected, QVException(c.status).what());
}

TEST(QVExceptionTest, AppendOnCaughtExceptionExtendsWhat) {
    try {
        QV_THROW(QVDeviceException("device gone"));
    } catch (QVException& e) {
        e.append(", serial 1234");
        EXPECT_STREQ("device gone, serial 1234", e.what());
    }
}

// Throws from a named function so that its signature shows in the diagnostics.
[[noreturn]] void throwFromWorker(int& line) {
    line = __LINE__ + 1;
    QV_THROW(QVDeviceException("worker failed"));
}

TEST(QVExceptionTest, CapturedOnOneThreadRethrownOnAnotherKeepsLocationAndType) {
    boost::exception_ptr captured;
    int throwLine = 0;
    std::thread worker([&] {
        try {
            throwFromWorker(throwLine);
        } catch (...) {
            captured = boost::current_exception();
        }
    });
    worker.join();
    ASSERT_TRUE(captured);

    try {
        boost::rethrow_exception(captured);
        FAIL() << "nothing rethrown";
    } catch (const QVDeviceException& e) {
        const std::string info = boost::diagnostic_information(e);
        EXPECT_NE(std::string::npos, info.find("throwFromWorker")) << info;
        EXPECT_NE(std::string::npos, info.find("exception_tests.cpp(" + std::to_string(throwLine) + ")")) << info;
        EXPECT_NE(std::string::npos, info.find("worker failed")) << info;
        EXPECT_EQ(info, describeException(captured));
    }
}

TEST(QVExceptionTest, DescriptionOfNonBoostAndEmptyExceptions) {
    EXPECT_EQ("<empty>", describeException(boost::exception_ptr()));
    try {
        throw std::runtime_error("plain failure");
    } catch (...) {
        EXPECT_EQ("plain failure", describeCurrentException());
    }
}

TEST(QVExceptionTest, ErrorBannerIsThreeErrorRecords) {
    test::LogCapture capture;
    try {
        throw std::logic_error("broken invariant");
    } catch (...) {
        logCurrentExceptionBanner();
    }
    const auto records = capture.records();
    ASSERT_EQ(3u, records.size());
    const std::string stars(46, '*');
    EXPECT_EQ(stars, records[0].message);
    EXPECT_EQ("Error: broken invariant", records[1].message);
    EXPECT_EQ(stars, records[2].message);
    for (const auto& r : records) EXPECT_EQ(logging::error, r.severity);
}

}  // namespace
}  // namespace tarnix
