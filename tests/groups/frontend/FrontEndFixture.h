#pragma once
// The front-end groups built on the engine's fake device: the fixture of the
// signal-path groups (building a group, talking to its leaves as a client and
// as the instrument) plus lookups by path and a located command mailbox.
#include "groups/signal/SignalFixture.h"

#include "platform/endian/ByteOrder.h"

#include <sstream>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

class FrontEndFixture : public SignalFixture {
protected:
    void SetUp() override {
        SignalFixture::SetUp();
        // Commands with a payload need the mailbox's data area.
        state().cmd.dataSize = 0x400;
    }

    // The node at a '/'-separated path below `from`; empty when there is none.
    static TreeNode::Ptr nodeAt(const TreeNode::Ptr& from, const std::string& path) {
        TreeNode::Ptr node = from;
        std::istringstream parts(path);
        for (std::string part; node && std::getline(parts, part, '/');) {
            TreeNode::Ptr next;
            for (const auto& c : node->children())
                if (c->getName() == part) next = c;
            node = next;
        }
        return node;
    }
    static int32_t idAt(const TreeNode::Ptr& from, const std::string& path) {
        const TreeNode::Ptr node = nodeAt(from, path);
        return node && node->endpoint() ? node->endpoint()->id : -1;
    }

    // The records of one kind and endpoint among `records`.
    static std::vector<OutputRecord> on(const std::vector<OutputRecord>& records, int32_t id) {
        std::vector<OutputRecord> out;
        for (const OutputRecord& r : records)
            if (r.header.endpointId == uint32_t(id)) out.push_back(r);
        return out;
    }

    // The register writes among `events` at `address`.
    static std::vector<DeviceEvent> writesAt(const std::vector<DeviceEvent>& events, uint32_t address) {
        std::vector<DeviceEvent> out;
        for (const DeviceEvent& e : events)
            if (e.kind == DeviceEvent::Write && e.address == address) out.push_back(e);
        return out;
    }

    void setWord(int32_t id, uint32_t w) { le::put32(ep(id)->value.data(), w); }
};

}  // namespace test
}  // namespace tarnix
