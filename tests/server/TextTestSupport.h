#pragma once
// Stand-ins for the text protocol's tests: a handler that records the commands
// the grammar recognises, and a session that collects what the protocol writes.
#include "core/tree/Subscriptions.h"
#include "server/server/ServerContext.h"
#include "server/session/IFaceData.h"
#include "server/text/AsciiCommandHandler.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

// Every command as one text, e.g. "setInteger(x|5)".
class RecordingHandler : public AsciiCommandHandler {
public:
    std::vector<std::string> calls;
    bool closeAfterExit = false;

    void get(const std::string& p) override { add("get(" + p + ")"); }
    void setInteger(const std::string& p, int64_t v) override { add("setInteger(" + p + "|" + std::to_string(v) + ")"); }
    void setDouble(const std::string& p, double v) override {
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", v);
        add("setDouble(" + p + "|" + text + ")");
    }
    void setText(const std::string& p, const std::string& t) override { add("setText(" + p + "|" + t + ")"); }
    void select(const std::string& p) override { add("select(" + p + ")"); }
    void printPath() override { add("printPath"); }
    void list(const std::string& p, bool whole) override { add((whole ? "tr(" : "ls(") + p + ")"); }
    void subscribe(const std::string& p, bool on) override { add((on ? "subs(" : "unsubs(") + p + ")"); }
    void proto(const std::string& word) override { add("proto(" + word + ")"); }
    void update() override { add("update"); }
    void help() override { add("help"); }
    void exit() override {
        add("exit");
        closed_ = closeAfterExit;
    }
    void syntaxError() override { add("syntax"); }
    bool inputClosed() const override { return closed_; }

private:
    void add(const std::string& call) { calls.push_back(call); }
    bool closed_ = false;
};

// A session as the text protocol sees it.
class FakeSession : public SessionActionsInterface {
public:
    explicit FakeSession(ServerContext& serverContext, uint16_t sessionId = 77) : context(serverContext) {
        client.sessionId = sessionId;
        client.context = this;
    }
    ~FakeSession() override { DispatcherRemoveClient(context.treeRegistry(), &client).ignore(); }

    InterfaceType getInterface() const override { return current; }
    void requestInterface(InterfaceType type) override { requested.push_back(type); }
    void close() override { ++closeCalls; }
    void write(const uint8_t* data, uint32_t length, int32_t dataClass) override {
        output.append(reinterpret_cast<const char*>(data), length);
        classes.push_back(dataClass);
    }
    SessionClient* getClient() override { return &client; }
    ServerContext& serverContext() override { return context; }

    // What was written since the last call.
    std::string take() {
        std::string text;
        text.swap(output);
        return text;
    }

    ServerContext& context;
    SessionClient client;
    InterfaceType current = INTERFACE_TEXT;
    std::vector<InterfaceType> requested;
    std::vector<int32_t> classes;
    std::string output;
    int closeCalls = 0;
};

}  // namespace test
}  // namespace tarnix
