// Feeds arbitrary bytes to the text protocol: as chunks of client input to a
// session's text protocol over a small device tree, or (first byte 0xF0 and
// above) as records and sample blocks to the text encoders. With an odd first
// byte the input is sent as it is; with an even one, bytes from 0x80 up stand
// for whole words of the protocol, so that the fuzzer reaches deep into the
// grammar quickly. Bytes behind a switch to the binary protocol go to a binary
// protocol object, as a session hands them on; its every write must be one
// whole message.
#include "QuietLogging.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeEndpoints.h"
#include "server/server/ServerContext.h"
#include "server/binary/IFaceDataBinary.h"
#include "server/text/AsciiEncoders.h"
#include "server/text/IFaceDataAscii.h"
#include "wire/BinaryWire.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace tarnix;

typedef BufferFifo<1024, 1 << 20> FuzzFifo;

// One server's shared state for every input, as one running server has.
ServerContext& fuzzContext() {
    static ServerContext context;
    return context;
}

class FuzzSession : public SessionActionsInterface {
public:
    FuzzSession() {
        client_.sessionId = 5;
        client_.context = this;
    }
    ~FuzzSession() override { DispatcherRemoveClient(fuzzContext().treeRegistry(), &client_).ignore(); }
    ServerContext& serverContext() override { return fuzzContext(); }
    InterfaceType getInterface() const override { return interface_; }
    void requestInterface(InterfaceType type) override { requested_ = type; }
    void carryInput(const uint8_t* data, uint32_t length) override { carried_.assign(data, data + length); }
    void close() override {}
    void write(const uint8_t* data, uint32_t length, int32_t) override {
        written_ += length;
        if (interface_ == INTERFACE_BINARY && (length < wire::kHeaderSize || wire::decodeHeader(data).totalLength != length))
            __builtin_trap();
    }
    SessionClient* getClient() override { return &client_; }

    // Takes a requested switch to the binary protocol, as a session's next
    // pass does: the bytes carried over are its first input.
    std::unique_ptr<IFaceDataBinary> switched() {
        if (requested_ != INTERFACE_BINARY || interface_ == INTERFACE_BINARY) return nullptr;
        interface_ = INTERFACE_BINARY;
        auto binary = std::make_unique<IFaceDataBinary>(*this);
        BinaryHello(*binary).ignore();
        if (!carried_.empty()) InputBinaryMessage(carried_.data(), uint32_t(carried_.size()), *binary);
        carried_.clear();
        return binary;
    }

private:
    SessionClient client_;
    uint64_t written_ = 0;
    InterfaceType interface_ = INTERFACE_TEXT;
    InterfaceType requested_ = INTERFACE_TEXT;
    std::vector<uint8_t> carried_;
};

TreeNode::Ptr addNode(const TreeNode::Ptr& parent, const char* name, bool hidden = false) {
    auto node = std::make_shared<TreeNode>();
    applyNodeIdentity(*node, name, name ? NodeNameKind::Plain : NodeNameKind::None, 1, 100);
    if (hidden) node->properties()["nolist"] = true;
    return TreeNode::addChild(parent, node);
}

// DEV42 with DEMODS/0..1/{RATE,SAMPLE} and a hidden CONFIG/PORT.
struct FuzzTree {
    FuzzTree() {
        DispatcherTreeCreator creator(fuzzContext().treeRegistry(), TreeId::device(42), std::make_shared<FuzzFifo>(), requests);
        const auto& tree = creator.getTree();
        TreeNode::Ptr demods = addNode(creator.getNode(), "DEMODS");
        for (int i = 0; i < 2; ++i) {
            TreeNode::Ptr instance = addNode(demods, nullptr);
            DispatcherTreeAddEndpoint(tree, addNode(instance, "RATE"), 3, nullptr).ignore();
            DispatcherTreeAddEndpoint(tree, addNode(instance, "SAMPLE"), 0, nullptr).ignore();
        }
        TreeNode::Ptr config = addNode(creator.getNode(), "CONFIG", true);
        DispatcherTreeAddEndpoint(tree, addNode(config, "PORT"), 0, nullptr).ignore();
    }
    void drain() {
        for (;;) {
            FifoReader reader(*requests, 0);
            if (!reader.isValid()) break;
            reader.commitAll();
        }
    }
    std::shared_ptr<QVFifo> requests = std::make_shared<FuzzFifo>();
};

const char* const kWords[] = {
    "ls",  "tr",    "sel",  "cd",    "pwd",     "subs",    "unsubs",  "proto", "bin",  "ascii", "help",
    "update", "exit", "/dev42", "demods", "*",    "rate",    "sample",  "config", "port", "..",    "/",
    "0x1F", "0b101", "1e3",  "1.5",   "k",       "m",       "G",       "(",     ")",    "+",     "-",
    "\"",  "#",    " ",    "\t",   "\n",      "\r",      ";",       "?",     "0",    "-9223372036854775808",
};

std::vector<uint8_t> expandWords(const uint8_t* data, size_t size) {
    std::vector<uint8_t> text;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] < 0x80) {
            text.push_back(data[i]);
            continue;
        }
        const char* word = kWords[data[i] % (sizeof kWords / sizeof kWords[0])];
        while (*word) text.push_back(uint8_t(*word++));
    }
    return text;
}

void fuzzInput(const uint8_t* raw, size_t rawSize) {
    static FuzzTree tree;
    std::vector<uint8_t> expanded;
    const uint8_t* data = raw;
    size_t size = rawSize;
    if (rawSize > 0 && (raw[0] & 1) == 0) {
        expanded = expandWords(raw, rawSize);
        data = expanded.data();
        size = expanded.size();
    }
    {
        FuzzSession session;
        IFaceDataAscii text(session);
        std::unique_ptr<IFaceDataBinary> binary;
        AsciiGreeting(text).ignore();
        // Each chunk's first byte also decides the chunk's length.
        size_t at = 0;
        while (at < size) {
            size_t length = 1 + size_t(data[at]) * 7;
            if (length > size - at) length = size - at;
            if (binary)
                InputBinaryMessage(data + at, uint32_t(length), *binary);
            else
                AsciiInput(data + at, uint32_t(length), text);
            if (!binary) binary = session.switched();
            at += length;
        }
        if (binary)
            InputBinaryMessage(nullptr, 0, *binary);
        else
            AsciiInput(nullptr, 0, text);
    }
    tree.drain();
}

void fuzzEncoders(const uint8_t* data, size_t size) {
    if (size < 4) return;
    uint16_t dataType = data[1] % 18;
    uint16_t precision = data[2] % 24;
    uint32_t capacity = uint32_t(data[3]) * 16;
    std::vector<uint8_t> out(capacity + 1);
    uint32_t length = 0;
    // The output is what is checked; a refused input gives none.
    AsciiValueEncode("/DEV42/NODE", precision, 1, dataType, out.data(), capacity, length, data + 4,
                     uint32_t(size - 4)).ignore();
    if (length > capacity) __builtin_trap();
    AsciiStreamEncode("/DEV42/NODE", precision, dataType, out.data(), capacity, length, data + 4, uint32_t(size - 4)).ignore();
    if (length > capacity) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] >= 0xF0)
        fuzzEncoders(data, size);
    else
        fuzzInput(data, size);
    return 0;
}
