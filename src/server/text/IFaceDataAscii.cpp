#include "server/text/IFaceDataAscii.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/PathResolution.h"
#include "core/tree/RequestPosting.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeNotices.h"
#include "server/server/ServerContext.h"
#include "server/server/ServerStrings.h"
#include "server/text/AsciiEncoders.h"
#include "server/text/AsciiHelpText.h"
#include "server/text/AsciiListing.h"
#include "server/session/DirectAnswers.h"

#include <algorithm>
#include <cctype>
#include <shared_mutex>

namespace tarnix {
namespace {

typedef SharedLock<SharedTimedMutex> StructureLock;

bool equalsIgnoringCase(const std::string& text, const char* word) {
    std::size_t i = 0;
    for (; i < text.size() && word[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(word[i])))
            return false;
    }
    return i == text.size() && word[i] == '\0';
}

// The absolute paths of a blank-separated path list, joined by blanks.
std::string absolutePaths(const std::string& paths) {
    std::string absolute;
    std::size_t start = 0;
    while (start < paths.size()) {
        const std::size_t blank = std::min(paths.find(' ', start), paths.size());
        if (blank > start && paths[start] == '/') {
            if (!absolute.empty()) absolute += ' ';
            absolute.append(paths, start, blank - start);
        }
        start = blank + 1;
    }
    return absolute;
}

}  // namespace

IFaceDataAscii::IFaceDataAscii(SessionActionsInterface& session) : IFaceDataBase(session) {}

IFaceDataAscii::~IFaceDataAscii() = default;

AsciiParser& IFaceDataAscii::parser() {
    if (!parser_) parser_.reset(new AsciiParser(*this));
    return *parser_;
}

QV_STATUS IFaceDataAscii::greet() {
    parser();
    writeText(getServerString(SERVER_STRING_BANNER) + ", " + getServerString(SERVER_STRING_COPYRIGHT) + "\r\n");
    return QV_NO_ERROR;
}

int32_t IFaceDataAscii::input(const uint8_t* data, uint32_t length) {
    if (inputClosed_) return 0;
    if (length == 0) {
        lines_.finish(*this);
        return 0;
    }
    std::size_t taken = lines_.feed(reinterpret_cast<const char*>(data), length, *this);
    if (switching_ && taken < length) {
        // The line end of "proto bin\r\n" is both characters.
        if (taken > 0 && data[taken - 1] == '\r' && data[taken] == '\n') ++taken;
        if (taken < length) carryInput(data + taken, uint32_t(length - taken));
    }
    return 0;
}

bool IFaceDataAscii::line(const char* text, std::size_t length) {
    parser().parse(text, length);
    return !inputClosed_;
}

void IFaceDataAscii::overlong() { syntaxError(); }

void IFaceDataAscii::writeText(const std::string& text) {
    if (!text.empty()) write(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), WRITE_CLASS_TEXT);
}

void IFaceDataAscii::writeError(const char* text) { writeText(std::string("ERROR: ") + text + "\n"); }

void IFaceDataAscii::resolve(const std::string& paths, NodeSet& set) {
    TreeRegistry& trees = serverContext().treeRegistry();
    if (DispatcherResolvePathList(trees, set, currentPath_, paths)) return;
    // A relative path meant the working node that went away; read from the
    // root it could name a node of another instrument. Only absolute paths
    // stand.
    set.clear();
    lostPath_ = currentPath_;
    currentPath_ = "/";
    const std::string absolute = absolutePaths(paths);
    if (!absolute.empty()) DispatcherResolvePathList(trees, set, currentPath_, absolute);
}

void IFaceDataAscii::reportLostWorkingNode() {
    if (lostPath_.empty()) return;
    writeText("The working node " + lostPath_ + " went away; the working path is now /\n");
    lostPath_.clear();
}

void IFaceDataAscii::postRequest(const std::string& paths, const char* noEndpointError, const Poster& post) {
    SessionClient* client = getClient();
    uint32_t endpoints = 0;
    PostTargets targets;
    {
        StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
        NodeSet set;
        resolve(paths, set);
        endpoints = NodeSetCountEndpoints(set);
        if (endpoints > 0 && client) targets = DispatcherPostTargets(set);
    }
    reportLostWorkingNode();
    // Posted after the lock is released: a post may wait for room.
    uint32_t failed = 0;
    if (!targets.empty()) failed = post(*client, targets, postWaitStep());
    if (endpoints == 0)
        writeError(noEndpointError);
    else if (!client)
        writeError("Internal");
    else if (failed != 0)
        // The request could not be queued (its tree ended, or the session
        // stops): no answer comes from the tree.
        writeText(kAsciiFailureText);
}

void IFaceDataAscii::get(const std::string& paths) {
    postRequest(paths, "No Node to read from",
                [this](const SessionClient& client, const PostTargets& targets, const PostWaitStep& waitStep) {
                    return DispatcherPostGetRequest(0, client, targets, waitStep, DirectAnswersTo(*this));
                });
}

void IFaceDataAscii::setInteger(const std::string& paths, int64_t value) {
    postRequest(paths, "No Node to write to",
                [value](const SessionClient& client, const PostTargets& targets, const PostWaitStep& waitStep) {
                    return DispatcherPostSetInteger(0, client, targets, value, waitStep);
                });
}

void IFaceDataAscii::setDouble(const std::string& paths, double value) {
    postRequest(paths, "Invalid Path",
                [value](const SessionClient& client, const PostTargets& targets, const PostWaitStep& waitStep) {
                    return DispatcherPostSetDouble(0, client, targets, value, waitStep);
                });
}

void IFaceDataAscii::setText(const std::string& paths, const std::string& text) {
    postRequest(paths, "Invalid Path",
                [&text](const SessionClient& client, const PostTargets& targets, const PostWaitStep& waitStep) {
                    return DispatcherPostSetBytes(0, client, targets, uint32_t(text.size()),
                                           reinterpret_cast<const uint8_t*>(text.data()), waitStep);
                });
}

void IFaceDataAscii::select(const std::string& paths) {
    bool found = false;
    {
        StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
        NodeSet set;
        resolve(paths, set);
        if (!set.empty()) {
            currentPath_ = "/" + NodePathFrom(*set.begin(), serverContext().treeRegistry().root());
            found = true;
        }
    }
    reportLostWorkingNode();
    if (found)
        writeText(currentPath_ + "\n");
    else
        writeError("Internal");
}

void IFaceDataAscii::printPath() {
    if (!currentPath_.empty()) {
        StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
        NodeSet set;
        resolve(std::string(), set);
    }
    reportLostWorkingNode();
    writeText(currentPath_ + "\n");
}

void IFaceDataAscii::list(const std::string& paths, bool wholeTree) {
    AsciiListing listing;
    {
        StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
        NodeSet set;
        resolve(paths, set);
        listing = AsciiListNodes(set, wholeTree ? 0 : 1, wholeTree);
    }
    reportLostWorkingNode();
    writeText(listing.text);
    if (listing.counted == 0) writeError("Invalid Path");
}

void IFaceDataAscii::subscribe(const std::string& paths, bool subscribe) {
    SessionClient* client = getClient();
    QV_STATUS status = QV_COMMAND_INTERNAL;
    if (client) {
        StructureLock lock(serverContext().treeRegistry().treeStructureMutex());
        NodeSet set;
        resolve(paths, set);
        // A path that names nothing is an error, not an empty success.
        status = set.empty() ? QV_STATUS(QV_VALUE_NOT_FOUND)
                             : DispatcherSubscribeNodeSet(serverContext().treeRegistry(), client, subscribe ? 1 : 0, set);
    }
    reportLostWorkingNode();
    if (status == QV_VALUE_NOT_FOUND)
        writeError("Invalid Path");
    else if (status != QV_NO_ERROR)
        writeText(kAsciiFailureText);
}

void IFaceDataAscii::proto(const std::string& word) {
    InterfaceType requested;
    if (equalsIgnoringCase(word, "bin"))
        requested = INTERFACE_BINARY;
    else if (equalsIgnoringCase(word, "ascii"))
        requested = INTERFACE_TEXT;
    else {
        writeError("Unknown protocol");
        return;
    }
    requestInterface(requested);
    // Bytes after a switch belong to the other protocol: never run them as
    // text commands, hand them on.
    if (requested != getInterface()) inputClosed_ = switching_ = true;
}

void IFaceDataAscii::update() {
    QV_STATUS status = DispatcherUpdateDevices(serverContext().treeRegistry());
    if (status != QV_NO_ERROR) {
        QVLOG_LIMITED(logging::debug) << "Text protocol: device update reported status " << status.code() << ".";
        writeText(kAsciiFailureText);
    }
}

void IFaceDataAscii::help() {
    writeText("\n" + getServerString(SERVER_STRING_BANNER) + ", " + getServerString(SERVER_STRING_COPYRIGHT) +
              "\n\n");
    std::string_view page = asciiHelpText();
    write(reinterpret_cast<const uint8_t*>(page.data()), uint32_t(page.size()), WRITE_CLASS_TEXT);
}

void IFaceDataAscii::exit() {
    inputClosed_ = true;
    close();
}

void IFaceDataAscii::syntaxError() { writeText("Syntax Error\n"); }

QV_STATUS AsciiGreeting(IFaceDataBase& protocol) {
    auto* ascii = dynamic_cast<IFaceDataAscii*>(&protocol);
    return ascii ? ascii->greet() : QV_COMMAND_INTERNAL;
}

int32_t AsciiInput(const uint8_t* data, uint32_t length, IFaceDataBase& protocol) {
    auto* ascii = dynamic_cast<IFaceDataAscii*>(&protocol);
    return ascii ? ascii->input(data, length) : -1;
}

}  // namespace tarnix
