#include "groups/FeatureInitMapBuild.h"

#include "core/Logging.h"
#include "engine/DeviceStateCmd.h"
#include "engine/FeatureGroupBuild.h"
#include "engine/FeatureInitMap.h"
#include "groups/AuxIns.h"
#include "groups/AuxOuts.h"
#include "groups/CPUs.h"
#include "groups/DIOs.h"
#include "groups/Demods.h"
#include "groups/Features.h"
#include "groups/KCtrls.h"
#include "groups/Mods.h"
#include "groups/Oscs.h"
#include "groups/PIDs.h"
#include "groups/PLLs.h"
#include "groups/Scopes.h"
#include "groups/SigIns.h"
#include "groups/SigOuts.h"
#include "groups/Status.h"
#include "groups/System.h"

#include <boost/format.hpp>

namespace tarnix {

namespace {

namespace LQ3 = NodeDefs::LQ3;

// Feature code 15 locates the command mailbox from its two register blocks.
QV_STATUS LQ3ProcessFeatureMailbox(DeviceAccess& device, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint16_t,
                                   const char* name8, const uint8_t* data, uint32_t length) {
    if (length < 2 * kFeatureBlockBytes) {
        QVLOG(logging::error) << boost::format("The mailbox feature needs two register blocks (%u bytes), got %u.") %
                                     (2 * kFeatureBlockBytes) % length;
        return QV_BUFFER_TOO_SMALL;
    }
    return DeviceStateCmdFeatureInit(device, name8, data, length);
}

template <class G>
FeatureInitMapEntryPtr group(uint32_t code, int32_t blocks, FeatureInitFunc init, FeatureLinkFunc link = nullptr) {
    return std::make_shared<FeatureInitMapEntry<G>>(code, blocks, init, link);
}

FeatureInitMapEntryPtr plain(uint32_t code, int32_t blocks, FeatureProcessFunc process) {
    return std::make_shared<FeatureInitMapEntryBase>(code, blocks, process);
}

FeatureInitMapTable FeatureInitMapBuild() {
    return {{
        plain(1, 1, LQ3ProcessFeatureCode1),
        plain(2, 1, nullptr),
        group<LQ3::Demods>(3, 2, DemodsFeatureInit, DemodsFeatureLink),
        group<LQ3::Oscs>(4, 1, OscsFeatureInit),
        group<LQ3::Mods>(18, 1, ModsFeatureInit),
        group<LQ3::SigIns>(5, 1, SigInsFeatureInit),
        group<LQ3::SigOuts>(6, 2, SigOutsFeatureInit, SigOutsFeatureLink),
        group<LQ3::Scopes>(7, 2, ScopesFeatureInit),
        group<LQ3::AuxOuts>(8, 1, AuxOutsFeatureInit, AuxOutsFeatureLink),
        group<LQ3::AuxIns>(9, 2, AuxInsFeatureInit),
        group<LQ3::DIOs>(10, 2, DIOsFeatureInit),
        group<LQ3::Status>(11, 1, StatusFeatureInit),
        group<LQ3::System>(12, 1, SystemFeatureInit),
        group<LQ3::CPUs>(13, 3, CPUsFeatureInit),
        std::make_shared<FeatureInitMapEntry<LQ3::KCtrls>>(14, 0, nullptr, nullptr, LQ3ReadFeaturesKCtrl),
        plain(15, 1, LQ3ProcessFeatureMailbox),
        group<LQ3::PLLs>(16, 1, PLLsFeatureInit, PLLsFeatureLink),
        group<LQ3::Features>(17, 1, FeaturesFeatureInit),
        group<LQ3::PIDs>(19, 3, PIDsFeatureInit),
    }};
}

}  // namespace

const FeatureInitMapTable& FeatureInitMap() {
    // Built once and shared read-only by every device thread.
    static const FeatureInitMapTable table = FeatureInitMapBuild();
    return table;
}

namespace {

// Built during static initialisation, before any device thread starts.
[[maybe_unused]] const FeatureInitMapTable& builtBeforeMain = FeatureInitMap();

}  // namespace

}  // namespace tarnix
