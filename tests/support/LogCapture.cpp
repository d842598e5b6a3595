#include "core/LogCapture.h"
#include "support/Wait.h"

#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/smart_ptr/make_shared.hpp>

#include <algorithm>
#include <mutex>
#include <thread>

namespace tarnix {
namespace test {

namespace {

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

typedef boost::log::sinks::synchronous_sink<CaptureBackend> Sink;

}  // namespace

struct LogCapture::State {
    boost::shared_ptr<CaptureBackend> backend = boost::make_shared<CaptureBackend>();
    boost::shared_ptr<Sink> sink = boost::make_shared<Sink>(backend);
    int savedLevel = logging::logLevel();
};

LogCapture::LogCapture() : state_(new State) {
    logging::setLogLevel(0);
    boost::log::core::get()->add_sink(state_->sink);
}

LogCapture::~LogCapture() {
    boost::log::core::get()->remove_sink(state_->sink);
    logging::setLogLevel(state_->savedLevel);
}

std::vector<CapturedRecord> LogCapture::records() const { return state_->backend->records(); }

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> out;
    for (const auto& r : records()) out.push_back(r.message);
    return out;
}

bool LogCapture::contains(const std::string& message) const {
    const auto all = messages();
    return std::find(all.begin(), all.end(), message) != all.end();
}

bool LogCapture::waitFor(const std::string& message, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return contains(message); }, timeout);
}

}  // namespace test
}  // namespace tarnix
