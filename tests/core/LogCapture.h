#pragma once
// Collects the log records made while it exists (message and severity), for
// tests that check what the program logs. Lowers the threshold to 0 so that
// every severity is seen and restores it afterwards.
#include "core/Logging.h"

#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/smart_ptr/make_shared.hpp>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {
namespace test {

struct CapturedRecord {
    int severity;
    std::string message;
};

class CaptureBackend : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
public:
    void consume(const boost::log::record_view& record) {
        CapturedRecord captured{-1, std::string()};
        if (auto severity = record["Severity"].extract<logging::severity_level>()) captured.severity = *severity;
        if (auto message = record["Message"].extract<std::string>()) captured.message = *message;
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(captured);
    }
    std::vector<CapturedRecord> records() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<CapturedRecord> records_;
};

class LogCapture {
public:
    LogCapture()
        : backend_(boost::make_shared<CaptureBackend>()),
          sink_(boost::make_shared<Sink>(backend_)),
          savedLevel_(logging::logLevel()) {
        logging::setLogLevel(0);
        boost::log::core::get()->add_sink(sink_);
    }
    ~LogCapture() {
        boost::log::core::get()->remove_sink(sink_);
        logging::setLogLevel(savedLevel_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<CapturedRecord> records() const { return backend_->records(); }

    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& r : records()) out.push_back(r.message);
        return out;
    }

    bool contains(const std::string& message) const {
        const auto all = messages();
        return std::find(all.begin(), all.end(), message) != all.end();
    }

    // Waits up to the time-out for a record with exactly this message.
    bool waitFor(const std::string& message, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!contains(message)) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    typedef boost::log::sinks::synchronous_sink<CaptureBackend> Sink;
    boost::shared_ptr<CaptureBackend> backend_;
    boost::shared_ptr<Sink> sink_;
    int savedLevel_;
};

}  // namespace test
}  // namespace tarnix
