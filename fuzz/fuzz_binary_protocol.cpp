// Feeds arbitrary bytes to the binary protocol of a session over a small
// device tree, or (first byte 0xF0 and above) as records and sample blocks to
// the binary encoders. With an odd first byte the input is the client's byte
// stream as it is; with an even one it is a list of {type, body length, body}
// that get correct headers, so that the fuzzer reaches every request handler
// quickly. Every write of the protocol and every encoder output must be one
// whole, well-formed message.
#include "QuietLogging.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeEndpoints.h"
#include "server/server/ServerContext.h"
#include "server/binary/BinaryEncoders.h"
#include "server/binary/IFaceDataBinary.h"
#include "wire/BinaryWire.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
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
        client_.sessionId = 6;
        client_.context = this;
    }
    ~FuzzSession() override { DispatcherRemoveClient(fuzzContext().treeRegistry(), &client_).ignore(); }
    ServerContext& serverContext() override { return fuzzContext(); }
    InterfaceType getInterface() const override { return INTERFACE_BINARY; }
    void requestInterface(InterfaceType) override {}
    void close() override {}
    void write(const uint8_t* data, uint32_t length, int32_t) override {
        if (length < wire::kHeaderSize || wire::decodeHeader(data).totalLength != length) __builtin_trap();
    }
    SessionClient* getClient() override { return &client_; }

private:
    SessionClient client_;
};

TreeNode::Ptr addNode(const TreeNode::Ptr& parent, const char* name, const char* flag = nullptr) {
    auto node = std::make_shared<TreeNode>();
    applyNodeIdentity(*node, name, name ? NodeNameKind::Plain : NodeNameKind::None, 1, 100);
    if (flag) node->properties()[flag] = true;
    return TreeNode::addChild(parent, node);
}

// DEV43 with DEMODS/0..1/{RATE (a setting),SAMPLE} and a hidden CONFIG/PORT.
struct FuzzTree {
    FuzzTree() {
        DispatcherTreeCreator creator(fuzzContext().treeRegistry(), TreeId::device(43), std::make_shared<FuzzFifo>(), requests);
        const auto& tree = creator.getTree();
        TreeNode::Ptr demods = addNode(creator.getNode(), "DEMODS");
        for (int i = 0; i < 2; ++i) {
            TreeNode::Ptr instance = addNode(demods, nullptr);
            DispatcherTreeAddEndpoint(tree, addNode(instance, "RATE", "setting"), 3, nullptr).ignore();
            DispatcherTreeAddEndpoint(tree, addNode(instance, "SAMPLE"), 0, nullptr).ignore();
        }
        TreeNode::Ptr config = addNode(creator.getNode(), "CONFIG", "nolist");
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

const char* const kPaths[] = {"/", "/dev43", "/dev43/demods/*/rate", "/43/demods/1", "/dev43/config/port",
                              "/dev43/*", "*/*/*", ".."};

// {type, body length, body} pieces with correct headers. A body whose first
// byte is 0xFF starts with one of the known paths instead.
std::vector<uint8_t> frame(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream;
    size_t at = 1;
    uint16_t sequenceId = 1;
    while (at + 2 <= size) {
        const uint16_t type = data[at] % 24;
        size_t bodyLength = data[at + 1];
        at += 2;
        if (bodyLength > size - at) bodyLength = size - at;
        std::vector<uint8_t> body(data + at, data + at + bodyLength);
        at += bodyLength;
        if (!body.empty() && body[0] == 0xFF) {
            const char* path = kPaths[body.size() % (sizeof kPaths / sizeof kPaths[0])];
            std::vector<uint8_t> field(wire::pathFieldSize(uint16_t(std::strlen(path))));
            wire::encodePathField(field.data(), path, uint16_t(std::strlen(path)));
            body.erase(body.begin());
            body.insert(body.begin(), field.begin(), field.end());
        }
        const size_t start = stream.size();
        stream.resize(start + wire::kHeaderSize + body.size());
        wire::encodeHeader(&stream[start], type, uint32_t(wire::kHeaderSize + body.size()), sequenceId++);
        if (!body.empty()) std::memcpy(&stream[start + wire::kHeaderSize], body.data(), body.size());
    }
    return stream;
}

void fuzzInput(const uint8_t* raw, size_t rawSize) {
    static FuzzTree tree;
    std::vector<uint8_t> framed;
    const uint8_t* data = raw;
    size_t size = rawSize;
    if (rawSize > 0 && (raw[0] & 1) == 0) {
        framed = frame(raw, rawSize);
        data = framed.data();
        size = framed.size();
    }
    {
        FuzzSession session;
        IFaceDataBinary binary(session);
        BinaryHello(binary).ignore();
        // The length of each chunk comes from the input too.
        size_t at = 0;
        const size_t step = rawSize > 0 ? 1 + size_t(raw[rawSize - 1]) * 3 : 1;
        while (at < size) {
            const size_t length = step < size - at ? step : size - at;
            InputBinaryMessage(data + at, uint32_t(length), binary);
            at += length;
        }
        InputBinaryMessage(nullptr, 0, binary);
    }
    tree.drain();
}

void checkEvent(const std::vector<uint8_t>& out, uint32_t length, uint32_t capacity, bool stream) {
    if (length > capacity) __builtin_trap();
    if (length == 0) return;
    wire::ValueEventView view;
    if (!wire::decodeValueEvent(out.data(), length, view)) __builtin_trap();
    if (stream && wire::fixedRecordSize(view.dataType) != 0 &&
        uint64_t(view.count) * wire::fixedRecordSize(view.dataType) != view.dataLength)
        __builtin_trap();
}

void fuzzEncoders(const uint8_t* data, size_t size) {
    if (size < 4) return;
    const uint16_t dataType = data[1] % 18;
    const uint32_t capacity = uint32_t(data[2]) * 8 + data[3] % 8;
    std::vector<uint8_t> out(capacity + 1);
    uint32_t length = 0;
    // The output is what is checked; a refused input gives none.
    BinaryValueEncode("/DEV43/NODE", 0, 1, dataType, out.data(), capacity, length, data + 4, uint32_t(size - 4)).ignore();
    checkEvent(out, length, capacity, false);
    BinaryStreamEncode("/DEV43/NODE", 0, dataType, out.data(), capacity, length, data + 4, uint32_t(size - 4)).ignore();
    checkEvent(out, length, capacity, true);
    if (dataType == wire::EVENT_BYTEARRAY && length != 0) {
        wire::ValueEventView view;
        wire::decodeValueEvent(out.data(), length, view);
        if (!wire::eventDataConsistent(view.dataType, view.count, view.data, view.dataLength)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] >= 0xF0)
        fuzzEncoders(data, size);
    else
        fuzzInput(data, size);
    return 0;
}
