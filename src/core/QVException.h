#pragma once
#include "core/QVStatus.h"

#include <boost/exception/all.hpp>
#include <boost/throw_exception.hpp>

#include <exception>
#include <string>

namespace tarnix {

// The program's exception: a message plus, through boost::exception, the throw
// location (function signature, file, line) so that it survives being captured
// on one thread and rethrown on another.
class QVException : public virtual std::exception, public virtual boost::exception {
public:
    QVException() : message_("QVException") {}
    explicit QVException(const std::string& message) : message_(message) {}
    explicit QVException(QV_STATUS status);
    QVException(const QVException&) = default;
    ~QVException() noexcept override = default;

    virtual void append(const std::string& text) { message_ += text; }
    const char* what() const noexcept override { return message_.c_str(); }

protected:
    std::string message_;
};

#define QV_DECLARE_EXCEPTION(Name, Base)                                   \
    class Name : public Base {                                             \
    public:                                                                \
        Name() : Base(#Name) {}                                            \
        explicit Name(const std::string& message) : Base(message) {}       \
        Name(const Name&) = default;                                       \
        ~Name() noexcept override = default;                               \
    }

QV_DECLARE_EXCEPTION(QVDeviceException, QVException);
QV_DECLARE_EXCEPTION(QVOutOfRangeException, QVException);
QV_DECLARE_EXCEPTION(QVNotFoundException, QVException);
QV_DECLARE_EXCEPTION(QVOverflowException, QVException);
QV_DECLARE_EXCEPTION(QVUnderrunException, QVException);

// Throws with the throwing function's signature, file and line attached, in the
// form that boost::current_exception can copy with its full type.
#define QV_THROW(ex) BOOST_THROW_EXCEPTION(ex)

// Description used by the error banner: Boost.Exception's diagnostic information
// for the Boost family, what() for other standard exceptions, "<empty>" for an
// empty captured exception.
std::string describeException(const boost::exception_ptr& captured);
std::string describeCurrentException();

// The error banner: three "error" records (46 asterisks, "Error: " + description,
// the asterisks again).
void logErrorBanner(const std::string& description);
void logErrorBanner(const boost::exception_ptr& captured);
// To be called inside a catch block.
void logCurrentExceptionBanner();

extern const char* const kErrorBannerStars;

}  // namespace tarnix
