#pragma once
// A configurable component for the component tests: counts its passes and
// runs optional test code in pre() and run().
#include "core/component/QVBase.h"
#include "core/component/QVBaseImpl.h"
#include "support/Wait.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tarnix {
namespace test {

class ProbeImpl : public impl::QVBaseImpl {
public:
    typedef std::function<void(ProbeImpl&)> Body;

    ProbeImpl(const std::string& name, exception::ExceptionCarrier& carrier, Body preBody, Body runBody)
        : QVBaseImpl(name, carrier), preBody_(std::move(preBody)), runBody_(std::move(runBody)) {}
    ~ProbeImpl() override {
        if (onDestroy) onDestroy();
    }

    void pre() override {
        ++preCalls;
        if (preBody_) preBody_(*this);
    }
    void run() override {
        ++runs;
        if (runBody_)
            runBody_(*this);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the pace of idle work, not a wait
    }

    std::atomic<int> preCalls{0};
    std::atomic<int> runs{0};
    std::function<void()> onDestroy;

private:
    Body preBody_;
    Body runBody_;
};

class Probe : public QVBase {
public:
    Probe(const std::string& name, exception::ExceptionCarrier& carrier, ProbeImpl::Body runBody = {},
          ProbeImpl::Body preBody = {})
        : QVBase(std::make_shared<ProbeImpl>(name, carrier, std::move(preBody), std::move(runBody))) {}

    ProbeImpl& impl() const { return implAs<ProbeImpl>(); }
};

}  // namespace test
}  // namespace tarnix
