#pragma once
#include "core/QVException.h"

#include <cstdint>
#include <string>

namespace tarnix {

// Failures of the instrument transport. All are device exceptions: one that
// nobody catches ends the thread of that one instrument only. The family keeps
// its own message text; the device-exception base keeps its default message.
class QVIOException : public QVDeviceException {
public:
    explicit QVIOException(const std::string& text) : ioMessage_(text) {}
    // "QVIOException with status code: " and the code in decimal.
    explicit QVIOException(int32_t statusCode) : ioMessage_(statusText(statusCode)) {}
    QVIOException(const QVIOException&) = default;
    ~QVIOException() noexcept override = default;

    void append(const std::string& text) override { ioMessage_ += text; }
    const char* what() const noexcept override { return ioMessage_.c_str(); }

protected:
    static std::string statusText(int32_t statusCode) {
        return "QVIOException with status code: " + std::to_string(statusCode);
    }

    std::string ioMessage_;
};

class QVIOInternalException : public QVIOException {
public:
    QVIOInternalException() : QVIOException(std::string("QVIOInternalException")) {}
    explicit QVIOInternalException(const std::string& text) : QVIOException(text) {}
    explicit QVIOInternalException(int32_t statusCode) : QVIOException(statusCode) {}
    QVIOInternalException(const QVIOInternalException&) = default;
    ~QVIOInternalException() noexcept override = default;
};

// The process had no descriptor left for the step: says nothing about the
// instrument.
class QVIOOutOfDescriptorsException : public QVIOInternalException {
public:
    explicit QVIOOutOfDescriptorsException(const std::string& text) : QVIOInternalException(text) {}
    QVIOOutOfDescriptorsException(const QVIOOutOfDescriptorsException&) = default;
    ~QVIOOutOfDescriptorsException() noexcept override = default;
};

class QVIOTimeoutException : public QVIOException {
public:
    explicit QVIOTimeoutException(const std::string& text) : QVIOException(text) {}
    explicit QVIOTimeoutException(int32_t statusCode) : QVIOException(statusCode) {}
    QVIOTimeoutException(const QVIOTimeoutException&) = default;
    ~QVIOTimeoutException() noexcept override = default;
};

class QVIOSizeException : public QVIOException {
public:
    explicit QVIOSizeException(const std::string& text) : QVIOException(text) {}
    QVIOSizeException(const QVIOSizeException&) = default;
    ~QVIOSizeException() noexcept override = default;
};

class QVIODriverVersionException : public QVIOException {
public:
    explicit QVIODriverVersionException(const std::string& text) : QVIOException(text) {}
    QVIODriverVersionException(const QVIODriverVersionException&) = default;
    ~QVIODriverVersionException() noexcept override = default;
};

class QVIOProgramFailedException : public QVIOException {
public:
    QVIOProgramFailedException() : QVIOException(std::string("QVIOProgramFailedException")) {}
    QVIOProgramFailedException(const QVIOProgramFailedException&) = default;
    ~QVIOProgramFailedException() noexcept override = default;
};

class QVBitstreamException : public QVIOException {
public:
    explicit QVBitstreamException(const std::string& text) : QVIOException("Illegal bitstream. " + text) {}
    QVBitstreamException(const QVBitstreamException&) = default;
    ~QVBitstreamException() noexcept override = default;
};

}  // namespace tarnix
