#include "groups/KCtrls.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/FeatureList.h"
#include "groups/KCtrlsCAmp.h"
#include "groups/KCtrlsTAmp.h"
#include "groups/ModuleFailure.h"

#include <boost/current_function.hpp>
#include <boost/format.hpp>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

constexpr const char* kModule = "LQ3KCtrl";
constexpr int kNoSpaceLine = 63;

// Enters one port's register block into the map as a row of the group, with
// its port index as the item's user data.
QV_STATUS addPort(DeviceAccess& device, DeviceStateNodeGroup& group, const FeatureBlock& block, uint32_t portIndex,
                  const char* name8, Feature** port) {
    DeviceState& state = stateOf(device);
    const uint32_t address = block.startAddress + portIndex * kKCtrlPortSpacing;
    if (QV_STATUS s = FeatureMapInsert(state.features, address, 1, block.modulo, block.attribute, name8, port))
        return s;
    if (QV_STATUS s = DeviceStateNodeGroupAddFeatureRow(*port, device, group)) return s;
    return FeatureMapItemSetUserData(*port, &portIndex);
}

// The amplifier node of definition T on the port, named after the port, and
// its leaves.
template <class T>
QV_STATUS KCtrlBuildAmplifier(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                              Feature* port, int portIndex, KCtrlAmplifierInit init) {
    if (!init) return QV_VALUE_NOT_FOUND;
    const TreeNode::Ptr node = CreateChild<T>(groupNode);
    node->setIndex(portIndex);
    return init(device, group, node, port);
}

}  // namespace

uint32_t KCtrlPortIndex(const Feature& port) { return port.userData.size() >= 4 ? le::get32(port.userData.data()) : 0; }

QV_STATUS LQ3ReadFeaturesKCtrl(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                               uint16_t, const char* name8, const uint8_t* data, uint32_t length) {
    if (!data || length < kFeatureBlockBytes) return QV_BUFFER_TOO_SMALL;
    if (!group || !groupNode) return QV_VALUE_NOT_FOUND;
    const FeatureBlock block = readFeatureBlock(data);
    QVLOG(logging::debug) << boost::format("LQ3ReadFeaturesKCtrl: StartAddress = %08x, Reps = %u, Modulo = %u") %
                                 block.startAddress % block.reps % block.modulo;

    const QV_STATUS room = FeatureMapReserve(stateOf(device).features, int(kKCtrlPorts));
    if (room == QV_ALLOC_FAILED) throwDeviceFailure("need space for kctrl", BOOST_CURRENT_FUNCTION, kModule, kNoSpaceLine);
    if (room != QV_NO_ERROR) return room;

    Feature* ports[kKCtrlPorts] = {nullptr, nullptr};
    for (uint32_t p = 0; p < kKCtrlPorts; ++p)
        if (QV_STATUS s = addPort(device, *group, block, p, name8, &ports[p])) return s;
    for (uint32_t p = 0; p < kKCtrlPorts; ++p) {
        // A record that ends before a port's type word names no amplifier there.
        const uint32_t at = kFeatureBlockBytes + 4 * p;
        const uint32_t type = at + 4 <= length ? le::get32(data + at) : 0;
        if (QV_STATUS s = KCtrlProbe(device, group, groupNode, type, ports[p], int(p))) return s;
    }
    return QV_NO_ERROR;
}

QV_STATUS KCtrlProbe(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                     uint32_t type, Feature* port, int portIndex) {
    QVLOG(logging::debug) << boost::format("KCtrl %d: type=%d (0x%04x).") % portIndex % type % type;
    switch (type) {
        case KCTRL_TYPE_CAMP:
            QVLOG(logging::info) << "Initializing CAmp.";
            return KCtrlBuildAmplifier<LQ3::KCtrls::CAmp>(device, group, groupNode, port, portIndex, CAmpInit);
        case KCTRL_TYPE_TAMP:
            QVLOG(logging::info) << "Initializing TAmp.";
            return KCtrlBuildAmplifier<LQ3::KCtrls::TAmp>(device, group, groupNode, port, portIndex, TAmpInit);
        default:
            return QV_NO_ERROR;
    }
}

}  // namespace tarnix
