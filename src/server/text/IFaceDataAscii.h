#pragma once
#include "core/QVStatus.h"
#include "core/tree/NodeSet.h"
#include "core/tree/RequestPosting.h"
#include "server/session/IFaceData.h"
#include "server/text/AsciiCommandHandler.h"
#include "server/text/AsciiLineAssembler.h"
#include "server/text/AsciiParser.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarnix {

// The text protocol of a session, the protocol every session starts in: it
// greets the client, cuts the input into lines, parses them and carries out
// the commands (get, set, select, list, subscribe, protocol switch, device
// update, help, exit). Runs on the session's thread.
class IFaceDataAscii : public IFaceDataBase,
                       private AsciiCommandHandler,
                       private AsciiLineAssembler::Consumer {
public:
    explicit IFaceDataAscii(SessionActionsInterface& session);
    ~IFaceDataAscii() override;

    // Writes the greeting (banner, ", ", copyright, "\r\n"). Returns 0.
    QV_STATUS greet();
    // One received chunk; length 0 means the client shut down its sending
    // side, which runs a pending partial line. Returns 0.
    int32_t input(const uint8_t* data, uint32_t length);

    // The base of relative paths: an absolute path text, empty at first.
    const std::string& currentPath() const { return currentPath_; }

private:
    // AsciiCommandHandler
    void get(const std::string& paths) override;
    void setInteger(const std::string& paths, int64_t value) override;
    void setDouble(const std::string& paths, double value) override;
    void setText(const std::string& paths, const std::string& text) override;
    void select(const std::string& paths) override;
    void printPath() override;
    void list(const std::string& paths, bool wholeTree) override;
    void subscribe(const std::string& paths, bool subscribe) override;
    void proto(const std::string& word) override;
    void update() override;
    void help() override;
    void exit() override;
    void syntaxError() override;
    bool inputClosed() const override { return inputClosed_; }

    // AsciiLineAssembler::Consumer
    bool line(const char* text, std::size_t length) override;
    void overlong() override;

    // Posts the request; returns how many records could not be posted.
    typedef std::function<uint32_t(const SessionClient& client, const PostTargets& targets,
                                   const PostWaitStep& waitStep)>
        Poster;
    // Resolves the paths under the structure lock and, once it is released,
    // posts to the endpoints found; without any, answers the given error.
    void postRequest(const std::string& paths, const char* noEndpointError, const Poster& post);

    AsciiParser& parser();
    void writeText(const std::string& text);
    void writeError(const char* text);
    // Resolves the paths from the working node, under the caller's structure
    // lock. A working node that went away (its instrument was pulled out)
    // leaves the session at the root, which reportLostWorkingNode then tells
    // the client once, after the lock and before the command's own answer;
    // the relative paths of that command name nothing.
    void resolve(const std::string& paths, NodeSet& set);
    void reportLostWorkingNode();

    std::string currentPath_;
    std::string lostPath_;  // a working node that went away, not reported yet
    std::unique_ptr<AsciiParser> parser_;
    AsciiLineAssembler lines_;
    bool inputClosed_ = false;
    bool switching_ = false;  // a protocol switch closed the input
};

// The session's entry points for the text protocol.
QV_STATUS AsciiGreeting(IFaceDataBase& protocol);
int32_t AsciiInput(const uint8_t* data, uint32_t length, IFaceDataBase& protocol);

}  // namespace tarnix
