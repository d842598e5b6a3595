#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "FakeServer.h"
#include "qvAPI.h"

namespace clienttest {

// A handle that is destroyed with the test; declare it after the fake server
// so that the client closes first.
class Client {
public:
    Client() { EXPECT_EQ(qvAPIInit(&handle_), QV_NO_ERROR); }
    ~Client() { qvAPIDestroy(handle_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    QvHandle* get() const { return handle_; }
    operator QvHandle*() const { return handle_; }

    QV_STATUS connect(const FakeServer& server) { return qvAPIConnect(handle_, "127.0.0.1", server.port()); }

private:
    QvHandle* handle_ = nullptr;
};

// Event records are 4 MiB: keep them off the stack.
inline std::unique_ptr<QvEvent> newEvent() { return std::make_unique<QvEvent>(); }

}  // namespace clienttest
